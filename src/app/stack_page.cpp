// Handlers of the stack page: the stacking run, its cut-offs and options.
#include <algorithm>
#include <cmath>

#include "app/stack_page.h"

#include "app/main_form.h"
#include "app/run_scope.h"
#include "core/scoped_value.h"
#include "core/error.h"
#include "core/pixel.h"
#include "input/avi_reader.h"
#include "core/file_io.h"
#include "input/still_frames.h"
#include "stack/stack_run.h"

namespace planexor {
namespace {

constexpr const char* MiddleHint = "Point at feature you want in the middle of the stacked image";
constexpr const char* NothingToStack =
    "Nothing to stack: no frame passes the quality and difference cut-offs";

int limitSide(long long side) { return static_cast<int>(std::clamp(side, 0LL, static_cast<long long>(MaxImageSide))); }

float limitFactor(double factor) {
    if (!(factor >= 1.0)) return 1.0f;
    return factor >= 4.0 ? 4.0f : static_cast<float>(factor);
}

// Int() of a percentage for a label; a broken record shows as 0.
std::string truncatedText(double value) {
    if (!std::isfinite(value)) return "0";
    return std::to_string(static_cast<long long>(std::trunc(std::clamp(value, -1e15, 1e15))));
}

}  // namespace

std::string imageSizeText(int width, int height) {
    return "Image : " + std::to_string(width) + "x" + std::to_string(height);
}

StackPage::StackPage(TMainForm& form)
    : form_(form), ui_(form.ui()), settings_(form.settings()), workspace_(&form.workspace()) {}

ControlModel& StackPage::control(Control id) { return form_.control(id); }
const ControlModel& StackPage::control(Control id) const { return form_.control(id); }

const Drawing& StackPage::overlay(Control imageControl) const {
    if (imageControl == Control::StackGraph) {
        drawStackGraph(stackGraph_, graphOverlay_);
        return graphOverlay_;
    }
    if (imageControl == Control::StackImage) {
        DrawingBuilder builder(marksOverlay_);
        const StackImageMarks& m = stackMarks_;
        if (m.rectangleShown) {
            DrawnLine& outline = builder.line(drawing_colour::White);
            outline.invert = true;
            outline.points.assign({{m.left, m.top},
                                   {m.left + m.width, m.top},
                                   {m.left + m.width, m.top + m.height},
                                   {m.left, m.top + m.height},
                                   {m.left, m.top}});
        }
        if (m.crossShown) {
            // Lines 30 pixels long through the chosen middle, inverting the picture.
            const GraphPoint ends[2][2] = {{{m.crossX - 15, m.crossY}, {m.crossX + 15, m.crossY}},
                                           {{m.crossX, m.crossY - 15}, {m.crossX, m.crossY + 15}}};
            for (const auto& end : ends) {
                DrawnLine& stroke = builder.line(drawing_colour::Green);
                stroke.invert = true;
                stroke.points.assign({end[0], end[1]});
            }
        }
        return marksOverlay_;
    }
    static const Drawing nothing;
    return nothing;
}

void TMainForm::bindStackHandlers() {
    // Handlers that change what a running loop reads (the preview frame, the
    // image sizes, the resampling factor) are refused during a run, like the
    // buttons that start one.
    bind(Control::Stackbutton, "StackButtonClick", true, [this] { StackButtonClick(); });
    bind(Control::StackSlider, "StackSliderChange", true, [this] { StackSliderChange(); });
    bind(Control::differencecutslider, "differencecutsliderChange", true, [this] { differencecutsliderChange(); });
    bind(Control::SetMiddleButton, "SetMiddleButtonClick", true, [this] { SetMiddleButtonClick(); });
    bind(Control::Resampled, "ResampledClick", true, [this] {
        ResampledClick();
        stack_->checkAlignmentBasis();
    });
    bind(Control::ResampleSpin, "ResampleSpinChange", true, [this] {
        ResampleSpinChange();
        stack_->checkAlignmentBasis();
    });
    // Fields are registered apart: a reference and shifts made with the
    // other field mode no longer fit.
    const auto fieldsChanged = [this] {
        InterlacedClick();
        align_->referenceFieldsChanged();
        stack_->checkAlignmentBasis();
    };
    bind(Control::Interlaced, "InterlacedClick", true, fieldsChanged);
    bind(Control::InterlaceHoriz, "InterlacedClick", true, fieldsChanged);
    bind(Control::ColourStack, "ColourStackClick", false, [this] { ColourStackClick(); });
    bind(Control::Colourprocess2, "Colourprocess2Click", false, [this] { Colourprocess2Click(); });
    bind(Control::Expandstack, "ExpandstackClick", false, [this] { ExpandstackClick(); });
}

StackOptions StackPage::stackOptionsFromControls() const {
    StackOptions options;
    options.colour = control(Control::ColourStack).checked();
    options.qualityWeight = control(Control::QualStack).checked();
    options.partialCoverage = control(Control::Averagepixel).checked();
    options.resample = control(Control::Resampled).checked();
    options.expand = control(Control::Expandstack).checked() && !options.resample;
    options.filterItem = std::clamp(control(Control::Filters).itemIndex(), 0, 3);
    options.interlaced = control(Control::Interlaced).checked();
    options.interlaceColumns = control(Control::InterlaceHoriz).checked();
    options.interlaceInterpolation = std::clamp(control(Control::interlaceinterpolation).itemIndex(), 0, 3);
    options.useDark = control(Control::UseDarkFrame).checked();
    options.useFlat = control(Control::UseFlatfield).checked();
    options.xShift = nearest(control(Control::Xshift).value());
    options.yShift = nearest(control(Control::Yshift).value());
    options.subpixel = control(Control::SubpixelBox).checked();
    return options;
}


void StackPage::StackButtonClick() {
    Workspace& w = *workspace_;
    if (!w.SequenceOpen) throw PlanexorError("No sequence of frames is open: there is nothing to stack");
    const StackOptions options = stackOptionsFromControls();
    const int cutRank = control(Control::StackSlider).intValue();
    const StackSelection selection = selectStackRanks(w, cutRank, nearest(control(Control::StackSlider).maximum()),
                                                      control(Control::differencecutslider).intValue());
    // An empty run would only trade the last stack for a black picture.
    // Making a dark asks instead, as for a single frame, and leaves the stack empty.
    if (selection.ranks.empty() && !w.DarkCreation) {
        ui_.showMessage(MessageKind::Warning, NothingToStack);
        return;
    }
    const auto oneFrameDeclined = [&] {
        return selection.ranks.size() <= 1 && !w.SingleImage &&
               !ui_.askYesNo(MessageKind::Warning, "Only one frame to stack, continue ???");
    };
    // Declined before anything is cleared, the stack there is stays. A dark
    // or flat being made is asked below, and starts from nothing either way.
    if (!w.DarkCreation && oneFrameDeclined()) return;

    RunScope scope(form_, "Stacking frames", "");
    w.progstatus = 4;
    w.SetMiddleMode = false;
    stackMarks_ = {};
    w.StackOffsetX = w.StackOffsetY = 0;
    if (!w.DarkCreation) control(Control::TabSheet4).setVisible(true);
    control(Control::SaveButton).setEnabled(true);
    w.StopRequested = false;

    // The working size. A run without resampling starts from the frame size,
    // not from whatever an earlier resampled or expanded run left behind.
    if (options.resample) {
        w.ResampleFactor = limitFactor(control(Control::ResampleSpin).value());
        w.ImageWidth = limitSide(nearest(w.FrameWidth * static_cast<double>(w.ResampleFactor)) - 1LL);
        w.ImageHeight = limitSide(nearest(w.FrameHeight * static_cast<double>(w.ResampleFactor)) - 1LL);
    } else {
        w.ImageWidth = limitSide(w.FrameWidth);
        w.ImageHeight = limitSide(w.FrameHeight);
    }
    control(Control::Stackimagesize).setCaption(imageSizeText(w.ImageWidth, w.ImageHeight));
    const int workingWidth = w.ImageWidth;
    const int workingHeight = w.ImageHeight;

    // The expanded stack spans the shifts of the frames it takes.
    const auto expandOver = [&](const std::vector<int>& ranks) {
        const ShiftSpread spread = shiftSpread(w, ranks, options.interlaced);
        w.MinShiftX = spread.minX;
        w.MinShiftY = spread.minY;
        w.MaxShiftX = spread.maxX;
        w.MaxShiftY = spread.maxY;
        w.StackWidth = limitSide(w.ImageWidth + (static_cast<long long>(spread.maxX) - spread.minX) - 1);
        w.StackHeight = limitSide(w.ImageHeight + (static_cast<long long>(spread.maxY) - spread.minY) - 1);
        control(Control::Stackimagesize).setCaption(imageSizeText(w.StackWidth, w.StackHeight));
        clearStackArea(w, w.StackWidth, w.StackHeight);
    };
    if (options.expand) expandOver(selection.ranks);
    clearStackArea(w, w.ImageWidth, w.ImageHeight);
    // The cleared planes are no stack until this run ends; a refused run
    // must not leave processing a stack that is gone.
    w.StackReady = false;
    const ScopedValue<bool> running(w.StackRun, true, false);

    StackedCount = static_cast<int>(selection.ranks.size());
    StackLimit = cutRank + 1;
    if (w.DarkCreation && oneFrameDeclined()) return;

    stackQuality_.fill(0.0f);
    FramePreparation preparation(options);
    FrameSource& source = form_.sequenceSource();
    HandlerProgress progress(form_);
    // A dark or flat being made, or fields with two shifts, keep the global shift.
    AlignmentPoints points;
    pointsPlaced_ = 0;
    const bool withPoints = control(Control::PointsSpin).intValue() != 0 && !w.DarkCreation && !options.interlaced;
    // Local quality chooses per point among every frame the cut-offs pass
    // (one image has nothing to choose from), and places frames at whole pixels.
    const bool localTicked = control(Control::LocalQualityBox).checked() && !w.DarkCreation && !w.SingleImage;
    if (localTicked && !withPoints)
        ui_.showMessage(MessageKind::Warning, "Local quality chooses frames for each alignment point: without "
                                              "alignment points this stack takes whole frames");
    const bool localAsked = withPoints && localTicked;
    const bool withLocal = localAsked && !options.resample && !options.subpixel;
    if (localAsked && !withLocal)
        ui_.showMessage(MessageKind::Warning,
                        "Local quality places frames at whole pixels: this stack, sub-pixel or resampled, goes on "
                        "without it");
    // The points' reference takes the gauge's first half, or its first
    // third when local quality scores the pool in the second.
    const double gaugeStart = withLocal ? 60.0 : withPoints ? 50.0 : 0.0;
    bool pointsStopped =
        withPoints && !preparePoints(points, preparation, selection.ranks, progress, withLocal ? 30.0 : 50.0);
    std::vector<int> ranks = selection.ranks, slots;
    LocalQuality local;
    localChoice_ = {0, 0};
    if (withLocal && !pointsStopped && pointsPlaced_ > 0) {
        const int lastRank = nearest(control(Control::StackSlider).maximum());
        const StackSelection pool =
            selectStackRanks(w, lastRank, lastRank, control(Control::differencecutslider).intValue());
        local.start(points, w.FrameWidth, w.FrameHeight, static_cast<int>(pool.ranks.size()));
        pointsStopped = !chooseLocally(points, local, pool.ranks, static_cast<int>(selection.ranks.size()), progress,
                                       ranks, slots);
        preparation.useLocalQuality(&local);
        localChoice_ = {static_cast<int>(selection.ranks.size()), static_cast<int>(pool.ranks.size())};
        // Frames some point keeps may lie beyond the cut-off's spread.
        if (options.expand && !pointsStopped) expandOver(ranks);
    } else if (withLocal && !pointsStopped) {
        ui_.showMessage(MessageKind::Warning,
                        "Local quality chooses frames for each alignment point, and none found a place on this "
                        "picture: this stack takes whole frames");
    }
    // Local quality's frames have no curve: each stands in only part of the box.
    qualityCurve_ = !local.active();
    std::string pointsText = withPoints ? ", " + std::to_string(pointsPlaced_) + " alignment points" : "";
    if (local.active()) pointsText += ", local quality";
    const int count = static_cast<int>(ranks.size());
    StackedCount = count;
    const int boxSize = form_.alignBoxSize();
    const int qualityFilter = control(Control::QualityFilter).intValue();
    const FrameConsumer addFrame = [&](int frame, Bitmap24& bitmap) { preparation.addDecodedFrame(w, bitmap, frame); };
    int added = 0;
    int lastAddedRank = -1;
    for (std::size_t position = 0; position < ranks.size(); ++position) {
        if (pointsStopped) break;
        const int rank = ranks[position];
        if (local.active()) local.select(slots[position]);
        const int index = added + 1;
        if (cutRank > 0 || local.active())
            progress.setPercent(nearest(gaugeStart + (100.0 - gaugeStart) * index / count));
        control(Control::StackInfoLabel)
            .setCaption("Stacking " + std::to_string(index) + " of " + std::to_string(count) + pointsText);
        ui_.repaint(Control::StackInfoLabel);
        const int frame = w.Ranking[rank].Frame;
        const LoopOutcome outcome = runFrameLoop(w, source, {frame, frame}, form_.preview_, addFrame, progress, "stack");
        if (outcome.result == LoopResult::Failed) throw PlanexorError(outcome.error);
        if (outcome.result == LoopResult::Stopped) break;
        if (outcome.framesHandled == 0) continue;  // a ranked frame the source does not hold
        added = index;
        lastAddedRank = rank;
        // No graph: making a dark or flat would pay a transform per frame,
        // and with local quality the box holds other frames than the curve's.
        if (w.DarkCreation || local.active()) continue;
        const int boxLeft = form_.alignment().BoxLeft, boxTop = form_.alignment().BoxTop;
        preparation.settleArea(w, boxLeft, boxLeft + boxSize - 1, boxTop, boxTop + boxSize - 1);
        stackQuality_[added] = stackQualityOf(w, stackQualityFft_, boxSize, boxLeft, boxTop, w.FrameWidth,
                                              w.FrameHeight, options.colour, qualityFilter);
    }
    preparation.settle(w);
    // After a stop the green line covers the frames that went in.
    StackedCount = std::max(added, 1);
    if (added < count && lastAddedRank >= 0) StackLimit = lastAddedRank + 1;

    StackSliderChange();
    if (w.StopRequested)
        control(Control::StackInfoLabel)
            .setCaption("Stacking cancelled after " + std::to_string(added) + " of " + std::to_string(count) + " frames");
    stackGraph_.stackQualityLegend = qualityCurve_ && added > 0;

    if (options.resample) {
        w.ImageWidth = limitSide(nearest(w.FrameWidth * static_cast<double>(w.ResampleFactor)));
        w.ImageHeight = limitSide(nearest(w.FrameHeight * static_cast<double>(w.ResampleFactor)));
    } else if (options.expand) {
        w.ImageWidth = w.StackWidth;
        w.ImageHeight = w.StackHeight;
    } else {
        // Showing the cut-off frame of an AVI takes the frame's size anew;
        // the stack keeps the size it was made at.
        w.ImageWidth = workingWidth;
        w.ImageHeight = workingHeight;
    }
    normaliseStack(w, w.ImageWidth, w.ImageHeight, options.colour, options.partialCoverage);
    w.StackColour = options.colour;

    float peak = stackPeak(w, w.ImageWidth, w.ImageHeight, options.colour);
    if (w.DarkCreation) peak = 255.0f;
    w.StackMax = peak;
    w.StackMin = 0.0f;
    renderStack(w, w.ImageWidth, w.ImageHeight, options.colour, peak, stackBitmap_);
    stackMarks_ = {};
    ui_.repaint(Control::StackImage);
    ui_.repaint(Control::StackGraph);
    // A stop before any frame went in leaves no stack to process or save:
    // the last one was cleared when the run began.
    if (w.StopRequested && added == 0) {
        control(Control::SaveButton).setEnabled(false);
        control(Control::TabSheet4).setVisible(false);
        return;
    }
    w.StackReady = true;
}

// Frames read once each before the stacking pass, the gauge running from
// `from` to `to` percent. False when the user stopped it.
bool StackPage::readBeforeStacking(const std::vector<int>& ranks, const std::function<std::string(int, int)>& caption,
                                   double from, double to, const RankedConsumer& use, RunProgress& progress) {
    Workspace& w = *workspace_;
    const int count = static_cast<int>(ranks.size());
    for (int index = 0; index < count; ++index) {
        progress.setPercent(nearest(from + (to - from) * (index + 1) / count));
        control(Control::StackInfoLabel).setCaption(caption(index + 1, count));
        ui_.repaint(Control::StackInfoLabel);
        const int frame = w.Ranking[ranks[static_cast<std::size_t>(index)]].Frame;
        const FrameConsumer each = [&](int number, Bitmap24& bitmap) { use(index, number, bitmap); };
        const LoopOutcome outcome =
            runFrameLoop(w, form_.sequenceSource(), {frame, frame}, form_.preview_, each, progress, "stack");
        if (outcome.result == LoopResult::Failed) throw PlanexorError(outcome.error);
        if (outcome.result == LoopResult::Stopped) return false;
    }
    return true;
}

// The points are found on a reference stacked from the run's own frames, read
// once before the run adds them. False when the user stopped it.
bool StackPage::preparePoints(AlignmentPoints& points, FramePreparation& preparation, const std::vector<int>& ranks,
                              RunProgress& progress, double gaugeEnd) {
    Workspace& w = *workspace_;
    points.startReference(w.FrameWidth, w.FrameHeight);
    const RankedConsumer add = [&](int, int frame, Bitmap24& bitmap) {
        chooseShiftAndWeight(w, frame, false, false);
        const FramePreparation::FrameShift shift = preparation.frameShift(w);
        points.addToReference(bitmap, shift.x, shift.y);
    };
    const auto caption = [](int index, int count) {
        return "Alignment points: reference " + std::to_string(index) + " of " + std::to_string(count);
    };
    if (!readBeforeStacking(ranks, caption, 0.0, gaugeEnd, add, progress)) return false;
    pointsPlaced_ = points.placePoints(control(Control::PointsSpin).intValue());
    if (pointsPlaced_ > 0) preparation.usePoints(&points);
    return true;
}

// Every frame of the pool is read once and scored at every point; the run
// then stacks, in rank order, the frames some point keeps. False when the
// user stopped it.
bool StackPage::chooseLocally(const AlignmentPoints& points, LocalQuality& local, const std::vector<int>& pool,
                              int kept, RunProgress& progress, std::vector<int>& ranks, std::vector<int>& slots) {
    Workspace& w = *workspace_;
    const RankedConsumer score = [&](int slot, int frame, Bitmap24& bitmap) {
        chooseShiftAndWeight(w, frame, false, false);
        local.score(slot, bitmap, w.ApplyShiftX, w.ApplyShiftY);
    };
    const std::string pointsText = ", " + std::to_string(points.points().size()) + " alignment points";
    const auto caption = [&](int index, int count) {
        return "Local quality: frame " + std::to_string(index) + " of " + std::to_string(count) + pointsText;
    };
    if (!readBeforeStacking(pool, caption, 30.0, 60.0, score, progress)) return false;
    slots = local.choose(kept);
    ranks.clear();
    for (const int chosen : slots) ranks.push_back(pool[static_cast<std::size_t>(chosen)]);
    return true;
}

void StackPage::showCutOffFrame(int frame) {
    const Workspace& w = *workspace_;
    form_.loadFrame(frame);
    // The stack slider's caption has always had two blanks before BMP.
    if (w.StillFrames && !w.JpegFrames) form_.setCaption("Planexor processing  BMP: " + w.FrameFiles[frame]);
    const int width = std::clamp(std::min(w.ImageWidth, form_.preview_.width()), 0, MaxImageSide);
    const int height = std::clamp(std::min(w.ImageHeight, form_.preview_.height()), 0, MaxImageSide);
    stackBitmap_.resize(width, height);
    for (int y = 0; y < height; ++y) std::copy_n(form_.preview_.row(y), stackBitmap_.rowBytes(), stackBitmap_.row(y));
    stackMarks_ = {};
    ui_.repaint(Control::StackImage);
}

void StackPage::refreshStackGraph(float maxDifference) {
    const ControlModel& slider = control(Control::StackSlider);
    StackGraphInput input;
    input.lastRank = nearest(slider.maximum());
    input.cutRank = slider.intValue();
    input.differenceCutPercent = control(Control::differencecutslider).intValue();
    input.lowerQualityPercent = control(Control::OptimizeQualitySpin).intValue();
    input.boxSize = form_.alignBoxSize();
    input.stackedCount = qualityCurve_ ? StackedCount : 0;
    input.stackLimit = StackLimit;
    input.maxDifference = maxDifference;
    stackGraph_ = buildStackGraph(*workspace_, stackQuality_, input);
    control(Control::RxLabel4).setCaption(stackGraph_.differenceCaption);
    ui_.repaint(Control::StackGraph);
}

void StackPage::StackSliderChange() {
    const Workspace& w = *workspace_;
    const ControlModel& slider = control(Control::StackSlider);
    const int cutRank = slider.intValue();
    const int cutPercent = control(Control::differencecutslider).intValue();
    const StackSelection selection = selectStackRanks(w, cutRank, nearest(slider.maximum()), cutPercent);

    const int frame = std::clamp(w.Ranking[std::clamp(cutRank, 0, LastFrameNumber)].Frame, 0, LastFrameNumber);
    double best = w.FrameRecs[std::clamp(w.Ranking[0].Frame, 0, LastFrameNumber)].Quality;
    if (best == 0.0) best = 1.0;
    // The count is the run's own: frames excluded since ranking are left out.
    control(Control::StackInfoLabel)
        .setCaption("Stacking : quality >= " + truncatedText(w.FrameRecs[frame].Quality / best * 100.0) +
                    "% , difference <= " + std::to_string(cutPercent) +
                    "% , n = " + std::to_string(selection.ranks.size()));
    if (w.SequenceOpen) showCutOffFrame(frame);
    if (!w.DarkCreation) {
        form_.DrawRegistrationGraph();
        refreshStackGraph(selection.maxDifference);
    }
}

void StackPage::differencecutsliderChange() { StackSliderChange(); }

void StackPage::InterlacedClick() {
    const bool interlaced = control(Control::Interlaced).checked();
    control(Control::DeInterlacepanel).setVisible(interlaced);
    control(Control::InterlaceHoriz).setVisible(interlaced);
}

void StackPage::ResampledClick() {
    const bool resampled = control(Control::Resampled).checked();
    for (const Control name : {Control::Filters, Control::ResamplePanel, Control::SetMiddleButton, Control::ResampleSpin})
        control(name).setVisible(resampled);
    // The two enlargements exclude each other.
    if (resampled) control(Control::Expandstack).setChecked(false);
    control(Control::Expandstack).setVisible(!resampled);
    workspace_->ResampleFactor = limitFactor(control(Control::ResampleSpin).value());
}

void StackPage::syncWithControls() {
    InterlacedClick();
    ResampledClick();
    const bool colour = control(Control::ColourStack).checked();
    control(Control::RedSlider).setEnabled(colour);
    control(Control::blueslider).setEnabled(colour);
}

double StackPage::alignmentScale() const {
    return control(Control::Resampled).checked() ? limitFactor(control(Control::ResampleSpin).value()) : 1.0;
}

void StackPage::dropAlignment() {
    workspace_->progstatus = 1;
    control(Control::TabSheet3).setVisible(false);
}

int StackPage::alignmentFields() const {
    if (!control(Control::Interlaced).checked()) return 0;
    return control(Control::InterlaceHoriz).checked() ? 2 : 1;
}

void StackPage::checkAlignmentBasis() {
    Workspace& w = *workspace_;
    // A single image has no shifts: it stacks at any enlargement.
    if (w.progstatus < 2 || w.SingleImage ||
        (alignmentScale() == alignedScale_ && alignmentFields() == alignedFields_))
        return;
    dropAlignment();
    ui_.showMessage(MessageKind::Information,
                    std::string("The shifts were measured ") +
                        (alignmentScale() != alignedScale_ ? "at another resampling" : "with another de-interlacing") +
                        ": align the frames again before stacking.");
}

void StackPage::ResampleSpinChange() { workspace_->ResampleFactor = limitFactor(control(Control::ResampleSpin).value()); }

void StackPage::ColourStackClick() {
    const bool colour = control(Control::ColourStack).checked();
    settings_.writeBool("Settings", "usecolour", colour);
    control(Control::Colourprocess2).setChecked(colour);
    control(Control::RedSlider).setEnabled(colour);
    control(Control::blueslider).setEnabled(colour);
}

void StackPage::Colourprocess2Click() {
    control(Control::ColourStack).setChecked(control(Control::Colourprocess2).checked());
    ColourStackClick();
}

void StackPage::ExpandstackClick() {
    if (control(Control::Expandstack).checked()) return;
    control(Control::Xshift).setValue(0);
    control(Control::Yshift).setValue(0);
}

void StackPage::SetMiddleButtonClick() {
    workspace_->SetMiddleMode = true;
    StackSliderChange();
    control(Control::StackImage).setHint(MiddleHint);
    ui_.setControlCursor(Control::StackImage, CursorShape::Cross);
}

void StackPage::StackImageMouseMove(int x, int y) {
    const Workspace& w = *workspace_;
    if (!w.SetMiddleMode || !control(Control::Resampled).checked()) return;
    // The part of the frame that a 1024-pixel window of the enlarged stack keeps.
    const double factor = limitFactor(w.ResampleFactor);
    stackMarks_.rectangleShown = true;
    stackMarks_.width = nearest(w.OrigWidth / factor);
    stackMarks_.height = nearest(w.OrigHeight / factor);
    stackMarks_.left = x - stackMarks_.width / 2;
    stackMarks_.top = y - stackMarks_.height / 2;
    ui_.repaint(Control::StackImage);
}

void StackPage::StackImageMouseDown(int x, int y) {
    Workspace& w = *workspace_;
    if (!w.SetMiddleMode || !control(Control::Resampled).checked()) return;
    StackSliderChange();
    w.stackx = std::clamp(x, 0, std::max(w.FrameWidth - 1, 0));
    w.stacky = std::clamp(y, 0, std::max(w.FrameHeight - 1, 0));
    stackMarks_.crossShown = true;
    stackMarks_.crossX = w.stackx;
    stackMarks_.crossY = w.stacky;
    w.SetMiddleMode = false;
    control(Control::StackImage).setHint("");
    ui_.setControlCursor(Control::StackImage, CursorShape::Arrow);
    ui_.repaint(Control::StackImage);
}

}  // namespace planexor
