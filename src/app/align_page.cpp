// Handlers of the align page: the alignment feature, registration of one
// frame and of all frames, the ranking and the graphs of the properties window.
#include <algorithm>
#include <chrono>
#include <cmath>

#include "app/align_page.h"

#include "app/main_form.h"
#include "app/run_scope.h"
#include "core/scoped_value.h"
#include "core/error.h"
#include "core/number_text.h"
#include "core/pixel.h"
#include "input/still_frames.h"
#include "stack/frame_preparation.h"

namespace planexor {
namespace {

constexpr const char* BorderMessage = " Alignment feature too close to image border ";
constexpr const char* NoFeatureMessage = "No alignment feature chosen: click the feature on the preview first";
constexpr const char* NoFramesMessage = "No frames selected: include at least one frame in the frame list to align";
constexpr const char* NothingOpenMessage = "No sequence of frames is open: there is nothing to align";
constexpr const char* RealignQuestion = " Is the alignment lost ? \n\r Click OK to realign on feature ";


int frameSlot(int frame) { return std::clamp(frame, 0, LastFrameNumber); }

}  // namespace

AlignPage::AlignPage(TMainForm& form)
    : form_(form), ui_(form.ui()), settings_(form.settings()), workspace_(&form.workspace()) {}

ControlModel& AlignPage::control(Control id) { return form_.control(id); }
const ControlModel& AlignPage::control(Control id) const { return form_.control(id); }

// 64, 128 or 256 by the item chosen.
int AlignPage::alignBoxSize() const { return 1 << (std::clamp(control(Control::FFTsizeGroup).itemIndex(), 0, 2) + 6); }

// Settings restored silently may have changed the box without a click. A
// run keeps the box it started with.
void AlignPage::prepareFft() {
    if (runRegistration_) return;
    const int size = alignBoxSize();
    if (fft_.FFTSize != size) fft_.SetupFFT(size);
}

RegistrationOptions AlignPage::registrationOptions() const {
    if (runRegistration_) return *runRegistration_;
    RegistrationOptions options;
    options.fftFilter = control(Control::FFTFilter).checked();
    options.fftFilterRadius = control(Control::FFTFilterspin).value();
    options.normalize = control(Control::Normalize).checked();
    options.correlationType = std::clamp(control(Control::Correlationtype).itemIndex(), 0, 1);
    options.track = control(Control::Followme).checked();
    options.predict = control(Control::PredictTrack).checked();
    options.interlaced = control(Control::Interlaced).checked();
    options.interlaceColumns = control(Control::InterlaceHoriz).checked();
    options.resampled = control(Control::Resampled).checked();
    options.resampleFactor = workspace_->ResampleFactor;
    options.qualityFilter = control(Control::QualityFilter).intValue();
    options.subpixel = control(Control::SubpixelBox).checked();
    options.discQuality = control(Control::QualityMeasure).itemIndex() == 1;
    return options;
}

// ------------------------------------------------------ the alignment feature

void AlignPage::FFTsizeGroupClick() {
    form_.PreviewSliderChange();
    const int size = alignBoxSize();
    fft_.SetupFFT(size);
    // The box is pulled back into the 352 x 288 frame it was first made for.
    if (alignment_.BoxLeft + size >= 352) alignment_.BoxLeft = 176 - size / 2;
    if (alignment_.BoxTop + size >= 288) alignment_.BoxTop = 144 - size / 2;
    showBoxSizeCaption();
    // A reference of the old size would be correlated with spectra of the
    // new one: it is rebuilt at the same feature, or a new click is needed.
    if (workspace_->progstatus >= 1 && alignment_.referenceSize != 0 && alignment_.referenceSize != size &&
        !rebuildReference())
        ui_.showMessage(MessageKind::Warning, BorderMessage);
}

void AlignPage::referenceFieldsChanged() {
    if (workspace_->progstatus >= 1 && alignment_.referenceSize != 0 && !rebuildReference())
        ui_.showMessage(MessageKind::Warning, BorderMessage);
}

void AlignPage::syncWithControls() {
    BlurBoxClick();
    control(Control::AlignOneBUtton).setVisible(control(Control::ShowFFTbox).checked());
    showBoxSizeCaption();
}

void AlignPage::restoreFeature() {
    Workspace& w = *workspace_;
    w.StopRequested = false;
    control(Control::TabSheet2).setVisible(true);
    showFeatureChosen();
    alignment_.referenceSize = 0;
    prepareFft();
    alignment_.BoxLeft = w.hotx - fft_.FFTSize / 2;
    alignment_.BoxTop = w.hoty - fft_.FFTSize / 2;
    w.CurrentField = 1;
    CalculateReferenceFFT();
}

// A feature is chosen: the align page waits for a run, with an empty spectrum and a fresh track.
void AlignPage::showFeatureChosen() {
    const Workspace& w = *workspace_;
    control(Control::AlignSlider).setVisible(false);
    control(Control::Label4).setVisible(false);
    alignImage_->resize(std::max(w.ImageWidth, 0), std::max(w.ImageHeight, 0));
    control(Control::AlignOneBUtton).setEnabled(true);
    Bitmap24& spectrum = form_.image(Control::imgFFT);
    spectrum.resize(250, 250);
    spectrum.fill(255, 255, 255);
    fftNotDefined_ = true;
    alignment_.resetTrack();
}

void AlignPage::showBoxSizeCaption() {
    const std::string size = std::to_string(alignBoxSize());
    control(Control::FFTWindow).setCaption("FFT spectrum " + size + "x" + size);
}

void AlignPage::PreviewImageMouseMove(int x, int y) {
    Workspace& w = *workspace_;
    if (alignment_.WaitingForClick) return;  // the outline belongs to AlignImage meanwhile
    const bool excluded = w.FrameRecs[frameSlot(control(Control::PreviewSlider).intValue())].Excluded != 0;
    if (!w.SequenceOpen || excluded) {
        if (excluded) ui_.setControlCursor(Control::PreviewImage, CursorShape::NotAllowed);
        return;
    }
    const int half = alignBoxSize() / 2;
    const bool cross = x >= half && y >= half && w.ImageHeight - 1 - y >= half && w.ImageWidth - 1 - x >= half;
    ui_.setControlCursor(Control::PreviewImage, cross ? CursorShape::Cross : CursorShape::Arrow);
    form_.RubberX = cross ? x : -1;
    form_.RubberY = cross ? y : -1;
    ui_.repaint(Control::PreviewImage);
    w.usedframes = w.countUsedFrames(nearest(control(Control::PreviewSlider).maximum()));
    form_.updateFramesLabel();
}

void AlignPage::PreviewImageMouseDown(int x, int y) {
    Workspace& w = *workspace_;
    if (!w.SequenceOpen) return;
    if (w.FrameRecs[frameSlot(control(Control::PreviewSlider).intValue())].Excluded != 0) return;
    w.StopRequested = false;
    control(Control::TabSheet2).setVisible(true);
    prepareFft();
    const int size = fft_.FFTSize, half = size / 2;
    if (!(x > half && x < w.ImageWidth - 1 - half && y > half && y < w.ImageHeight - 1 - half)) {
        // A box kept from a larger sequence may fit nowhere in this one: no click could help.
        const bool fitsNowhere = w.ImageWidth - 1 - half <= half + 1 || w.ImageHeight - 1 - half <= half + 1;
        ui_.showMessage(MessageKind::Warning,
                        std::string(BorderMessage) +
                            (fitsNowhere ? "\nThe " + std::to_string(size) + " pixel box does not fit a " +
                                               std::to_string(w.ImageWidth) + "x" + std::to_string(w.ImageHeight) +
                                               " frame: choose a smaller box size."
                                         : ""));
        return;
    }
    w.progstatus = 1;
    form_.PreviewSliderChange();
    showFeatureChosen();
    w.hotx = x;
    w.hoty = y;
    alignment_.BoxLeft = x - half;
    alignment_.BoxTop = y - half;
    w.refframe = nearest(control(Control::PreviewSlider).value());
    w.CurrentField = 1;  // the preview holds the whole frame, or its second field
    control(Control::ShowFFTbox).setCheckedByUser(true);
    control(Control::Showgraphbox).setCheckedByUser(true);
    CalculateReferenceFFT();
    control(Control::PageControl1).setItemIndexByUser(1);
    if (control(Control::ShowFFTbox).checked()) control(Control::FFTWindow).setVisible(true);
    Alignonebuttonclick();
    if (control(Control::Showgraphbox).checked()) control(Control::Propertywindow).setVisible(true);
    control(Control::SelectFrameswindow).setVisible(false);
    form_.RubberX = form_.RubberY = -1;
}

void AlignPage::makeReferenceImage() {
    const Workspace& w = *workspace_;
    Image1_ = referenceFrame_;
    const RegistrationOptions options = registrationOptions();
    if (options.interlaced) SplitField(Image1_, 0, options.interlaceColumns, w.FrameWidth, w.FrameHeight);
}

void AlignPage::CalculateReferenceFFT() {
    Workspace& w = *workspace_;
    prepareFft();
    referenceFrame_ = form_.preview_;
    optimizeMarks_.shown = false;
    // De-interlacing: the reference and the picture shown are the rebuilt field.
    makeReferenceImage();
    *alignImage_ = Image1_;
    buildReferenceSpectrum(alignment_, fft_, Image1_, w.FrameWidth, w.FrameHeight, registrationOptions());
    noteProfileOwner();
    // De-interlacing, the reference is field 0: its score is that field's,
    // never the whole frame's (a reopened project would lose the one it keeps).
    profileFirstField_ = registrationOptions().interlaced;
    EstimateQuality();
    alignMarks_ = {true, false, w.hotx, w.hoty, alignment_.BoxLeft, alignment_.BoxTop, fft_.FFTSize};
    ui_.repaint(Control::AlignImage);
}

bool AlignPage::rebuildReference() {
    Workspace& w = *workspace_;
    const int size = fft_.FFTSize, half = size / 2;
    const bool fits = w.hotx > half && w.hotx < w.ImageWidth - 1 - half && w.hoty > half &&
                      w.hoty < w.ImageHeight - 1 - half && !referenceFrame_.empty();
    if (!fits) {
        alignment_.referenceSize = 0;
        alignMarks_.shown = false;
        return false;
    }
    alignment_.BoxLeft = w.hotx - half;
    alignment_.BoxTop = w.hoty - half;
    makeReferenceImage();
    buildReferenceSpectrum(alignment_, fft_, Image1_, w.FrameWidth, w.FrameHeight, registrationOptions());
    *alignImage_ = Image1_;
    alignMarks_ = {true, false, w.hotx, w.hoty, alignment_.BoxLeft, alignment_.BoxTop, size};
    ui_.repaint(Control::AlignImage);
    return true;
}

void AlignPage::ensureReference() {
    prepareFft();
    if (workspace_->progstatus < 1 || alignment_.referenceSize == 0) throw PlanexorError(NoFeatureMessage);
    if (alignment_.referenceSize != fft_.FFTSize && !rebuildReference()) throw PlanexorError(NoFeatureMessage);
}

void AlignPage::Alignonebuttonclick() {
    Workspace& w = *workspace_;
    ensureReference();
    alignment_.PrevPeak = 0.0;
    alignment_.resetTrack();
    RegisterFrame();
    const double size = fft_.FFTSize;
    const double perPixel = w.FrameRecs[frameSlot(w.CurrentFrame)].Difference / size / size;
    control(Control::Label4).setCaption("Image Difference " + fifteenDigitText(std::trunc(perPixel * 1000.0) * 0.001));
}

// ------------------------------------------------------------ registration

void AlignPage::RegisterFrame() {
    Workspace& w = *workspace_;
    ensureReference();
    const RegistrationOptions options = registrationOptions();
    const bool showTrace = control(Control::Showtracebox).checked();
    if (showTrace) {
        // The frame replaces the picture, and with it the last frame's marks.
        *alignImage_ = form_.preview_;
        alignMarks_.shown = false;
    }
    control(Control::Label4).setCaption("Processing frame " + std::to_string(w.CurrentFrame + 1) + " of " +
                                 std::to_string(w.usedframes));

    const CorrelationPeak peak = correlateFrame(alignment_, fft_, form_.preview_, w.FrameWidth, w.FrameHeight, options);
    if (control(Control::ShowFFTbox).checked()) {
        form_.image(Control::imgFFT) = fft_.MakeSpectrumImage(fft_.SpecRe, &fft_.SpecIm, 1.0f);
        fftNotDefined_ = false;
        ui_.repaint(Control::imgFFT);
    }
    std::optional<GraphPoint> click;
    if (alignmentLost(alignment_, peak, control(Control::Misalignwarning).checked())) click = askForRealign();

    const RegistrationResult result =
        finishRegistration(w, alignment_, fft_, form_.preview_, Image1_, peak, click, options);
    noteProfileOwner();
    control(Control::Label3).setCaption(std::to_string(result.localX) + " " + std::to_string(result.localY));
    control(Control::Label1).setCaption(std::to_string(result.foundX) + " " + std::to_string(result.foundY));
    if (showTrace) {
        const int half = fft_.FFTSize / 2;
        alignMarks_ = {true, true, result.markX, result.markY, result.markX - half, result.markY - half,
                       fft_.FFTSize};
    }
    showQualityGraph();
    ui_.repaint(Control::AlignImage);
}

std::optional<GraphPoint> AlignPage::askForRealign() {
    Workspace& w = *workspace_;
    const bool progressShown = control(Control::MessageWindow).visible();
    control(Control::FFTWindow).setVisible(false);
    control(Control::Propertywindow).setVisible(false);
    control(Control::MessageWindow).setVisible(false);
    std::optional<GraphPoint> click;
    if (ui_.askYesNo(MessageKind::Warning, RealignQuestion)) {
        alignment_.WaitingForClick = true;
        alignment_.RealignRequested = false;
        form_.RubberX = form_.RubberY = -1;
        {
            // Counts as a run, so that closing the window cancels the wait
            // instead of pulling the form away underneath it.
            RunScope waiting(form_, "", "", false);
            // The hourglass of the run gives way to the cross over the picture to click.
            ui_.setCursor(CursorShape::Arrow);
            ui_.setControlCursor(Control::AlignImage, CursorShape::Cross);
            ui_.repaint(Control::AlignImage);  // the frame to click on, not the one before it
            while (alignment_.WaitingForClick && !w.StopRequested) ui_.waitForEvents();
        }
        if (!alignment_.WaitingForClick) click = GraphPoint{alignment_.ClickX, alignment_.ClickY};
        alignment_.WaitingForClick = false;  // a cancelled wait keeps the peak that was found
        form_.RubberX = form_.RubberY = -1;
        ui_.setControlCursor(Control::AlignImage, CursorShape::Arrow);
        ui_.setCursor(form_.runInProgress() ? CursorShape::Hourglass : CursorShape::Arrow);
        ui_.repaint(Control::AlignImage);
    }
    if (control(Control::ShowFFTbox).checked()) control(Control::FFTWindow).setVisible(true);
    if (control(Control::Showgraphbox).checked()) control(Control::Propertywindow).setVisible(true);
    // Cancel hides the progress window for good; otherwise it comes back as it was.
    if (progressShown && !w.StopRequested) control(Control::MessageWindow).setVisible(true);
    return click;
}

void AlignPage::AlignImageMouseDown(int x, int y) {
    if (!alignment_.WaitingForClick) return;
    alignment_.ClickX = x;
    alignment_.ClickY = y;
    alignment_.WaitingForClick = false;
}

void AlignPage::AlignImageMouseMove(int x, int y) {
    if (!alignment_.WaitingForClick) return;
    form_.RubberX = x;
    form_.RubberY = y;
    ui_.repaint(Control::AlignImage);
}

void AlignPage::HaltbuttonClick() { alignment_.RealignRequested = true; }

void AlignPage::BlurBoxClick() { control(Control::Bias).setVisible(control(Control::BlurBox).checked()); }

void AlignPage::MisalignwarningClick() {
    settings_.writeBool("Settings", "Misalignwarning", control(Control::Misalignwarning).checked());
}

// ----------------------------------------------------------------- quality

void AlignPage::noteProfileOwner() {
    profileFrame_ = frameSlot(workspace_->CurrentFrame);
    profileFirstField_ = registrationOptions().interlaced && workspace_->CurrentField == 0;
}

void AlignPage::EstimateQuality() {
    Workspace& w = *workspace_;
    const float quality = spectrumQuality(fft_.RadialProfile, control(Control::QualityFilter).intValue());
    // The profile in memory is of the box scored last; a frame shown since
    // (browsing the ranking) must not receive its score.
    // The disc measure does not come from the profile: the frame keeps its score.
    if (profileFrame_ >= 0 && !registrationOptions().discQuality) {
        TFrameRec& record = w.FrameRecs[profileFrame_];
        (profileFirstField_ ? record.FieldQuality : record.Quality) = quality;
    }
    showQualityGraph();
}

void AlignPage::showQualityGraph() {
    qualityGraph_ = buildQualityGraph(fft_.RadialProfile, fft_.RadialProfileMax, form_.GammaTable.values,
                                      control(Control::QualityFilter).intValue(), control(Control::FFTFilter).checked(),
                                      control(Control::FFTFilterspin).value());
    drawQualityGraph(qualityGraph_, graphDrawing_);
    ui_.repaint(Control::imgGraph);
}

void AlignPage::QualityFilterChange() {
    settings_.writeInteger("Settings", "QualityFilter", control(Control::QualityFilter).intValue());
    EstimateQuality();
}

void AlignPage::FFTFilterspinChange() {
    settings_.writeInteger("Settings", "FFTFilter", nearest(control(Control::FFTFilterspin).value()));
    EstimateQuality();
}

void AlignPage::FFTFilterClick() {
    const ControlModel& slider = control(Control::AlignSlider);
    const int x = rankMarkerX(slider.intValue(), nearest(slider.maximum()));
    graphDrawing_.lines.push_back({drawing_colour::Green, 1, false, false, {{x, 0}, {x, 201}}});
    ui_.repaint(Control::imgGraph);
}

// ------------------------------------------------------------ align-all run

void AlignPage::alignDecodedFrame(Bitmap24& frame) {
    Workspace& w = *workspace_;
    // The align-all run checks the reference before it starts; a loop that
    // merely reads frames with nothing to register against only shows them.
    if (w.progstatus < 1 || alignment_.referenceSize == 0) return;
    const RegistrationOptions options = registrationOptions();
    if (options.interlaced) {
        const bool columns = options.interlaceColumns;
        unsplitFrame_ = frame;
        w.CurrentField = 0;
        SplitField(frame, 0, columns, w.FrameWidth, w.FrameHeight);
        RegisterFrame();
        w.CurrentField = 1;
        frame = unsplitFrame_;
        SplitField(frame, 1, columns, w.FrameWidth, w.FrameHeight);
        RegisterFrame();
    } else {
        w.CurrentField = 1;
        RegisterFrame();
    }
    ui_.repaint(Control::AlignImage);
}

void AlignPage::AlignallButtonClick() {
    Workspace& w = *workspace_;
    // One press of "Align & stack" chains once; a failure must not leave the next plain "Align" chaining.
    const ScopedValue<bool> chainEnds(form_.ChainRun, form_.ChainRun, false);
    if (!w.SequenceOpen) throw PlanexorError(NothingOpenMessage);
    ensureReference();
    const int last = std::clamp(nearest(control(Control::PreviewSlider).maximum()), 0, LastFrameNumber);
    w.usedframes = w.countUsedFrames(last);
    if (w.usedframes == 0) {
        ui_.showMessage(MessageKind::Warning, NoFramesMessage);
        return;
    }
    const auto started = std::chrono::steady_clock::now();
    w.progstatus = 2;
    form_.stackPage().noteAlignmentBasis();
    control(Control::ShowFFTbox).setCheckedByUser(false);
    for (TFrameRec& record : w.FrameRecs) {
        const std::uint8_t excluded = record.Excluded;
        record = TFrameRec{};
        record.Excluded = excluded;
    }
    w.Ranking.fill(TRankEntry{});
    form_.stackPage().forgetStack();
    control(Control::SaveButton).setEnabled(false);  // until these shifts are stacked

    alignImage_->resize(std::max(w.ImageWidth, 0), std::max(w.ImageHeight, 0));
    optimizeMarks_.shown = false;
    const auto sizeCaption = [&w] { return imageSizeText(w.ImageWidth, w.ImageHeight); };
    control(Control::Stackimagesize).setCaption(sizeCaption());
    control(Control::Label4).setVisible(true);
    if (control(Control::UseDarkFrame).checked() && (w.FrameWidth != w.DarkWidth || w.FrameHeight != w.DarkHeight))
        ui_.showMessage(MessageKind::Warning, " darkframe size does not match imagesize !!");
    if (control(Control::UseFlatfield).checked() && (w.FrameWidth != w.FlatWidth || w.FrameHeight != w.FlatHeight))
        ui_.showMessage(MessageKind::Warning, " flatfield size does not match imagesize !!");
    const bool misalignWarning = control(Control::Misalignwarning).checked();
    if (misalignWarning) control(Control::Haltbutton).setVisible(true);

    alignment_.PrevPeak = 0.0;
    control(Control::Optimizebutton).setEnabled(true);
    control(Control::AlignSlider).setVisible(false);
    w.StopRequested = false;
    control(Control::TabSheet3).setVisible(true);
    {
        RunScope scope(form_, "Alignment processing", w.StillFrames ? "" : w.SourceFile);
        const ScopedValue<bool> running(w.AlignRun, true, false);
        const ScopedValue<std::optional<RegistrationOptions>> options(runRegistration_, registrationOptions(),
                                                                        std::nullopt);
        alignment_.resetTrack();
        const int half = fft_.FFTSize / 2;
        alignment_.BoxLeft = w.hotx - half;
        alignment_.BoxTop = w.hoty - half;
        control(Control::AlignSlider).setRange(0, last);
        const char* prefix = w.JpegFrames ? "Planexor processing JPG: " : "Planexor processing BMP: ";
        const auto handOn = [&](int frame, Bitmap24& decoded) {
            if (w.StillFrames) {
                // A smaller still frame shrinks the working image from here on.
                if (decoded.width() < w.ImageWidth) w.ImageWidth = w.FrameWidth = decoded.width();
                if (decoded.height() < w.ImageHeight) w.ImageHeight = w.FrameHeight = decoded.height();
                form_.setCaption(prefix + w.FrameFiles[frame]);
            }
            if (misalignWarning) control(Control::Haltbutton).setVisible(true);
            alignDecodedFrame(decoded);
        };
        HandlerProgress progress(form_);
        const LoopOutcome outcome =
            runFrameLoop(w, form_.sequenceSource(), {0, last}, form_.preview_, handOn, progress, "align");
        if (outcome.result == LoopResult::Failed) {
            // As after a Cancel: the ranking cleared for this run was never rebuilt.
            control(Control::Haltbutton).setVisible(false);
            form_.stackPage().dropAlignment();
            throw PlanexorError(outcome.error);
        }
    }
    control(Control::Haltbutton).setVisible(false);
    control(Control::Stackimagesize).setCaption(sizeCaption());

    const auto elapsedNote = [&] {
        const double elapsed =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
        const long long milliseconds = std::llround(elapsed);
        const double perImage = nearest(elapsed / std::max(w.usedframes, 1) * 1000.0) * 0.001;
        std::string memo = control(Control::Memo2).caption();
        if (!memo.empty()) memo += "\n";
        memo += "Time per image :" + fifteenDigitText(perImage) + " ms\nTotal Time     :" +
                std::to_string(milliseconds) + " ms";
        control(Control::Memo2).setCaption(memo);
    };
    if (w.StopRequested) {
        // What was registered stays; no ranking or chaining follows, and the
        // graphs show the records as the run left them. Without a ranking
        // there is nothing to stack (it would add the first frame again and
        // again) and no alignment to save in a project.
        form_.stackPage().dropAlignment();
        control(Control::Label4).setCaption("Alignment cancelled at frame " + std::to_string(w.CurrentFrame + 1) +
                                            " of " + std::to_string(last + 1));
        DrawRegistrationGraph();
        form_.stack_->refreshStackGraph(0.0f);
        elapsedNote();
        return;
    }

    double total = 0.0;
    for (int k = 0; k <= last; ++k) {
        total += w.FrameRecs[k].Difference;
        w.Ranking[k].Frame = k;
        w.Ranking[k].Quality = w.FrameRecs[k].Quality;
    }
    if (control(Control::Resampled).checked()) total = 1.0;
    SortRanking(w, last);

    control(Control::PreviewSlider).setValue(0);
    form_.PreviewSliderChange();
    const int lastRank = std::max(w.usedframes - 1, 0);
    control(Control::AlignSlider).setRange(0, lastRank);
    control(Control::StackSlider).setRange(0, lastRank);
    form_.frameLists().listRanks(w.usedframes);
    const int cutRank = form_.ChainRun ? chainCutRank(w, lastRank, control(Control::OptimizeQualitySpin).intValue()) : 0;
    if (total == 0.0) total = 1e-10;
    DifferenceTotal = total * 0.001;
    DrawRegistrationGraph();
    ui_.setCursor(CursorShape::Arrow);
    // A Cancel while optimizing ends the chain as it does while aligning.
    const bool optimized = !control(Control::AutoOptimize).checked() || autoOptimize();

    control(Control::Messagewinlabel2).setCaption(" ");
    control(Control::MessageWindow).setVisible(false);
    form_.StackSliderChange();
    if (form_.ChainRun && optimized) {
        control(Control::StackSlider).setValue(cutRank);
        control(Control::FFTWindow).setVisible(false);
        control(Control::Propertywindow).setVisible(false);
        control(Control::PageControl1).setItemIndexByUser(2);
        ui_.repaint(Control::TabSheet3);
        form_.StackButtonClick();
        control(Control::PageControl1).setItemIndexByUser(3);
        // Entering the page may have processed the new stack already.
        if (w.StackReady) form_.ProcessButtonClick();
    }
    elapsedNote();
}

void AlignPage::AlignStackButtonClick() {
    form_.ChainRun = true;
    control(Control::ShowFFTbox).setCheckedByUser(false);
    AlignallButtonClick();
}

void AlignPage::DrawRegistrationGraph() {
    registrationGraph_ = buildRegistrationGraph(*workspace_, nearest(control(Control::AlignSlider).maximum()),
                                                control(Control::OptimizeQualitySpin).intValue(),
                                                control(Control::differencecutslider).intValue());
    drawRegistrationGraph(registrationGraph_, graphDrawing_);
    ui_.repaint(Control::imgGraph);
}

void AlignPage::AlignSliderChange() {
    Workspace& w = *workspace_;
    const ControlModel& slider = control(Control::AlignSlider);
    const int rank = std::clamp(slider.intValue(), 0, LastFrameNumber);
    if (w.SequenceOpen) {
        form_.loadFrame(frameSlot(w.Ranking[rank].Frame));
        ui_.repaint(Control::PreviewImage);
    }
    DrawRegistrationGraph();
    registrationGraph_.rankMarkerX = rankMarkerX(rank, nearest(slider.maximum()));
    drawRegistrationGraph(registrationGraph_, graphDrawing_);
}

// ---------------------------------------------------------------- overlays

const Drawing& AlignPage::overlay(Control imageControl) const {
    if (imageControl == Control::PreviewImage) {
        DrawingBuilder builder(previewOverlay_);
        if (form_.RubberX >= 0 && form_.RubberY >= 0 && !alignment_.WaitingForClick)
            drawBoxOutline(builder, form_.RubberX, form_.RubberY, alignBoxSize());
        return previewOverlay_;
    }
    if (imageControl == Control::AlignImage) {
        DrawingBuilder builder(alignOverlay_);
        const AlignMarks& m = alignMarks_;
        if (m.shown) drawFeatureMarks(builder, m.x, m.y, m.boxLeft, m.boxTop, m.size, m.centrePixel);
        if (const OptimizeMarks& o = optimizeMarks_; o.shown) {
            builder.text(drawing_colour::Black, {0, o.boxSize + 15}, " Original ");
            builder.text(drawing_colour::Black, {o.boxSize + 10, o.boxSize + 15}, " Current ");
            builder.text(drawing_colour::Black, {0, o.boxSize + 30},
                         " Processing frame " + std::to_string(o.frame + 1) + "            ");
        }
        if (alignment_.WaitingForClick && form_.RubberX >= 0 && form_.RubberY >= 0)
            drawBoxOutline(builder, form_.RubberX, form_.RubberY, fft_.FFTSize);
        return alignOverlay_;
    }
    if (imageControl == Control::imgFFT) {
        DrawingBuilder builder(fftOverlay_);
        const Bitmap24* spectrum = form_.findImage(Control::imgFFT);
        if (fftNotDefined_ && spectrum)
            builder.text(drawing_colour::Black, {spectrum->width() / 2 - 40, spectrum->height() / 2 - 16},
                         " Not defined ");
        return fftOverlay_;
    }
    if (imageControl == Control::imgGraph) return graphDrawing_;
    static const Drawing nothing;
    return nothing;
}

void TMainForm::bindAlignHandlers() {
    align_->alignImage_ = &image(Control::AlignImage);
    // Handlers that decode a frame or change what a running loop registers
    // against wait for the loop; those a loop itself needs (Re-Align, the
    // realign click) never do.
    bind(Control::FFTsizeGroup, "FFTsizeGroupClick", true, [this] { FFTsizeGroupClick(); });
    bind(Control::AlignOneBUtton, "Alignonebuttonclick", true, [this] { Alignonebuttonclick(); });
    bind(Control::Allignallbutton, "AlignallButtonClick", true, [this] { AlignallButtonClick(); });
    bind(Control::AlignStackButton, "AlignStackButtonClick", true, [this] { AlignStackButtonClick(); });
    bind(Control::AlignSlider, "AlignSliderChange", true, [this] { AlignSliderChange(); });
    bind(Control::FFTFilterspin, "FFTFilterspinChange", false, [this] { FFTFilterspinChange(); });
    bind(Control::FFTFilter, "FFTFilterClick", false, [this] { FFTFilterClick(); });
    bind(Control::QualityFilter, "QualityFilterChange", false, [this] { QualityFilterChange(); });
    bind(Control::Misalignwarning, "MisalignwarningClick", false, [this] { MisalignwarningClick(); });
    bind(Control::Haltbutton, "HaltbuttonClick", false, [this] { HaltbuttonClick(); });
    bind(Control::BlurBox, "BlurBoxClick", false, [this] { align_->BlurBoxClick(); });
    bind(Control::Optimizebutton, "OptimizeButtonClick", true, [this] { OptimizeButtonClick(); });
    bind(Control::SearchArea, "SearchAreaChange", false, [this] { SearchAreaChange(); });
}

}  // namespace planexor
