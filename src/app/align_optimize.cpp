// Optimizing: the handlers that refine the alignment of the ranked frames
// and repeat passes after an align-all run.
#include <algorithm>

#include "app/align_page.h"
#include "app/main_form.h"
#include "app/run_scope.h"
#include "core/error.h"
#include "core/pixel.h"
#include "core/scoped_value.h"
#include "stack/frame_preparation.h"

namespace planexor {
namespace {

constexpr const char* NotAlignedMessage = "Align the frames first: optimizing refines the shifts the align run found";

// The w x h square of `source` whose top-left is (left, top), black outside.
void copySquare(const Bitmap24& source, int left, int top, int width, int height, Bitmap24& into) {
    into.resize(width, height);
    into.fill(0, 0, 0);
    for (int y = 0; y < height; ++y) {
        const long long sy = static_cast<long long>(top) + y;
        if (sy < 0 || sy >= source.height()) continue;
        for (int x = 0; x < width; ++x) {
            const long long sx = static_cast<long long>(left) + x;
            if (sx < 0 || sx >= source.width()) continue;
            std::copy_n(source.pixel(static_cast<int>(sx), static_cast<int>(sy)), 3, into.pixel(x, y));
        }
    }
}

// Pastes `square` with its top-left at (left, top), clipped to `into`.
void pasteSquare(const Bitmap24& square, int left, int top, Bitmap24& into) {
    for (int y = 0; y < square.height(); ++y) {
        const long long ty = static_cast<long long>(top) + y;
        if (ty < 0 || ty >= into.height()) continue;
        for (int x = 0; x < square.width(); ++x) {
            const long long tx = static_cast<long long>(left) + x;
            if (tx < 0 || tx >= into.width()) continue;
            std::copy_n(square.pixel(x, y), 3, into.pixel(static_cast<int>(tx), static_cast<int>(ty)));
        }
    }
}

}  // namespace

void AlignPage::SearchAreaChange() {
    ControlModel& spin = control(Control::SearchArea);
    const double value = std::clamp(spin.value(), double(MinSearchArea), double(MaxSearchArea));
    spin.setValue(value);
    settings_.writeInteger("Settings", "SearchArea", nearest(value));
}

void AlignPage::OptimizeButtonClick() { runOptimizePass(); }

bool AlignPage::runOptimizePass() {
    Workspace& w = *workspace_;
    if (!w.SequenceOpen) throw PlanexorError("No sequence of frames is open: there is nothing to optimize");
    ensureReference();
    if (w.progstatus < 2) throw PlanexorError(NotAlignedMessage);
    const RegistrationOptions registration = registrationOptions();
    const int size = fft_.FFTSize, half = size / 2;
    w.progstatus = 3;

    // The comparison picture: the reference box on the left, each frame's on the right.
    Bitmap24& picture = *alignImage_;
    picture.resize(2 * size + 20, size + 70);
    picture.fill(255, 255, 255);
    alignMarks_.shown = false;
    Bitmap24 box;
    if (registration.resampled) {
        const double factor = w.ResampleFactor;
        resampledReference_.resize(std::max(nearest(Image1_.width() * factor) - 1, 1),
                                   std::max(nearest(Image1_.height() * factor) - 1, 1));
        const ResampleFilter& filter = filterForItem(std::clamp(control(Control::Filters).itemIndex(), 0, 3));
        Stretch(Image1_, resampledReference_, filter.function, filter.support);
        resampledFrame_.resize(std::clamp(nearest(w.OrigWidth * factor) - 1, 1, 4 * MaxImageSide),
                               std::clamp(nearest(w.OrigHeight * factor) - 1, 1, 4 * MaxImageSide));
        resampledFrame_.fill(0, 0, 0);
        copySquare(resampledReference_, nearest(w.hotx * factor) - half, nearest(w.hoty * factor) - half, size, size,
                   box);
    } else {
        copySquare(Image1_, w.hotx - half, w.hoty - half, size, size, box);
    }
    pasteSquare(box, 0, 0, picture);

    w.StopRequested = false;
    control(Control::ShowFFTbox).setCheckedByUser(false);
    RunScope scope(form_, "Optimizing frames", control(Control::Messagewinlabel2).caption());
    const ScopedValue<bool> running(w.AlignRun, true, false);
    const ScopedValue<std::optional<RegistrationOptions>> options(runRegistration_, registration, std::nullopt);

    OptimizeOptions settings;
    settings.boxSize = size;
    settings.searchArea = nearest(control(Control::SearchArea).value());
    settings.interlaced = registration.interlaced;
    settings.biasSubtract = control(Control::BlurBox).checked();
    settings.bias = nearest(control(Control::Bias).value());
    if (control(Control::UseDarkFrame).checked()) {
        settings.dark = &w.DarkG;
        settings.darkWidth = w.DarkWidth;
        settings.darkHeight = w.DarkHeight;
    }
    if (registration.resampled) settings.darkScale = w.ResampleFactor;

    const int lastRank = std::clamp(nearest(control(Control::AlignSlider).maximum()), 0, LastFrameNumber);
    const int lowerQuality = control(Control::OptimizeQualitySpin).intValue();
    FrameSource& source = form_.sequenceSource();
    HandlerProgress progress(form_);
    const FrameConsumer optimize = [&](int frame, Bitmap24& decoded) { optimizeDecodedFrame(frame, decoded, settings); };
    bool stopped = false;
    for (int rank = 0; rank <= lastRank; ++rank) {
        const int frame = std::clamp(w.Ranking[rank].Frame, 0, LastFrameNumber);
        if (w.FrameRecs[frame].Excluded) continue;
        progress.setPercent(lastRank == 0 ? 100 : nearest(100.0 * rank / lastRank));
        control(Control::Label4).setCaption("Processing frame " + std::to_string(frame + 1) + " of " +
                                            std::to_string(w.usedframes));
        if (!aboveQualityLimit(w, rank, lowerQuality)) continue;
        // The frame decoded for the step is the one shown; the slider only marks its rank.
        control(Control::AlignSlider).setValue(rank);
        const LoopOutcome outcome = runFrameLoop(w, source, {frame, frame}, form_.preview_, optimize, progress, "optimize");
        if (outcome.result == LoopResult::Failed) throw PlanexorError(outcome.error);
        DrawRegistrationGraph();
        registrationGraph_.rankMarkerX = rankMarkerX(rank, lastRank);
        drawRegistrationGraph(registrationGraph_, graphDrawing_);
        ui_.repaint(Control::AlignImage);
        ui_.repaint(Control::PreviewImage);
        if (outcome.result == LoopResult::Stopped || w.StopRequested) {
            stopped = true;
            break;
        }
    }
    if (stopped) {
        control(Control::Label4).setCaption("Optimizing cancelled");
        return false;
    }
    OptTotal = optimizedTotal(w, lastRank, lowerQuality);
    return true;
}

void AlignPage::optimizeDecodedFrame(int frame, Bitmap24& decoded, const OptimizeOptions& options) {
    Workspace& w = *workspace_;
    w.ImageWidth = w.FrameWidth;
    w.ImageHeight = w.FrameHeight;
    if (!options.interlaced) {
        w.CurrentField = 1;
        optimizeField(frame, decoded, false, options);
        return;
    }
    const bool columns = registrationOptions().interlaceColumns;
    unsplitFrame_ = decoded;
    for (const int field : {0, 1}) {
        w.CurrentField = field;
        if (field == 1) decoded = unsplitFrame_;
        SplitField(decoded, field, columns, w.FrameWidth, w.FrameHeight);
        optimizeField(frame, decoded, field == 0, options);
    }
}

void AlignPage::optimizeField(int frame, Bitmap24& decoded, bool firstField, const OptimizeOptions& options) {
    Workspace& w = *workspace_;
    const int size = options.boxSize, half = size / 2;
    TFrameRec& record = w.FrameRecs[frame];
    const int shiftX = firstField ? record.FieldShiftX : record.ShiftX;
    const int shiftY = firstField ? record.FieldShiftY : record.ShiftY;
    OptimizePlacement placement{w.hotx, w.hoty, w.FrameWidth, w.FrameHeight};
    const Bitmap24* reference = &Image1_;
    const Bitmap24* image = &decoded;
    const RegistrationOptions registration = registrationOptions();
    if (registration.resampled) {
        // The part of the frame the search reads, enlarged exactly as the
        // reference was enlarged whole, and pasted where that puts it: the
        // reference compared with itself stays where it is.
        const double factor = w.ResampleFactor;
        const int centreX = nearest(w.hotx * factor), centreY = nearest(w.hoty * factor);
        const int reach = std::clamp(options.searchArea, MinSearchArea, MaxSearchArea) + half;
        const auto corner = [reach](int centre, int shift) {
            return static_cast<int>(std::clamp(static_cast<long long>(centre) + shift - reach, -100000LL, 100000LL));
        };
        const int left = corner(centreX, shiftX), top = corner(centreY, shiftY);
        const ResampleFilter& filter = filterForItem(std::clamp(control(Control::Filters).itemIndex(), 0, 3));
        optimizePlan_.stretchWindow(decoded, resampledReference_.width(), resampledReference_.height(), left, top,
                                    2 * reach + 1, 2 * reach + 1, filter.function, filter.support, optimizeSquare_);
        pasteSquare(optimizeSquare_, left, top, resampledFrame_);
        placement = {centreX, centreY, nearest(w.FrameWidth * factor) - 1, nearest(w.FrameHeight * factor) - 1};
        reference = &resampledReference_;
        image = &resampledFrame_;
    }
    // A frame its disc placed to a fraction of a pixel stays: the whole
    // pixels searched here would only follow its box's detail where seeing
    // moved it, and drop the fraction.
    const bool placedByDisc = [&] {
        if (!registration.subpixel || registration.interlaced || registration.resampled || !alignment_.referenceDisc)
            return false;
        const auto disc = discShift(decoded, w.FrameWidth, w.FrameHeight, *alignment_.referenceDisc, shiftX, shiftY);
        return disc && nearest(disc->x) == shiftX && nearest(disc->y) == shiftY;
    }();
    const FrameOptimizer::Outcome outcome =
        placedByDisc ? FrameOptimizer::Outcome{shiftX, shiftY, firstField ? record.FieldDifference : record.Difference, false}
                     : optimizer_.optimize(record, firstField, *reference, *image, placement, options);

    Bitmap24& box = optimizeSquare_;
    copySquare(*image, placement.centreX + outcome.shiftX - half, placement.centreY + outcome.shiftY - half, size,
               size, box);
    pasteSquare(box, size + 10, 0, *alignImage_);
    optimizeMarks_ = {true, size, frame};
}

bool AlignPage::autoOptimize() {
    Workspace& w = *workspace_;
    // Between passes the desktop is served; no other run may start there.
    RunScope between(form_, "", "", false);
    control(Control::messagewinlabel).setCaption("Optimizing frames");
    if (!runOptimizePass()) return false;
    double previous = control(Control::Resampled).checked() ? OptTotal * 10.0 : DifferenceTotal;
    const double keep = 1.0 - control(Control::OptimizeSpin).value() / 100.0;
    while (keep * previous > OptTotal) {
        control(Control::Messagewinlabel2)
            .setCaption("Last improvement :" + std::to_string(nearest((1.0 - OptTotal / previous) * 100.0)) + "%");
        previous = OptTotal;
        ui_.processPendingEvents();
        if (w.StopRequested || !runOptimizePass()) return false;
    }
    return true;
}

}  // namespace planexor
