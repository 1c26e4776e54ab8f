#pragma once
#include <functional>
#include <string>
#include <utility>

#include "align/fft.h"
#include "app/control_id.h"
#include "app/stack_graph.h"
#include "core/bitmap24.h"
#include "core/drawing.h"
#include "core/run_progress.h"
#include "stack/frame_preparation.h"

namespace planexor {

class ControlModel;
class FrameSource;
class TMainForm;
class UiServices;
class UserSettings;
struct Workspace;

// Set-middle mode marks drawn over StackImage (XOR rectangle, cross).
struct StackImageMarks {
    bool rectangleShown = false;
    int left = 0, top = 0, width = 0, height = 0;
    bool crossShown = false;
    int crossX = 0, crossY = 0;
};

// The stack page: the stacking run with its cut-offs and options, and what
// the page shows: the frame at the cut-off or the stack, the stack graph and
// the set-middle marks.
// The stack page's size caption: "Image : WxH".
std::string imageSizeText(int width, int height);

class StackPage {
public:
    explicit StackPage(TMainForm& form);

    void StackButtonClick();
    void StackSliderChange();
    void differencecutsliderChange();
    // Restored settings: what follows from the option boxes, without a handler.
    void syncWithControls();
    void InterlacedClick();
    void ResampledClick();
    void ResampleSpinChange();
    void ColourStackClick();
    void Colourprocess2Click();
    void ExpandstackClick();
    void SetMiddleButtonClick();
    void StackImageMouseMove(int x, int y);
    void StackImageMouseDown(int x, int y);

    // The picture shown in StackImage: the frame at the cut-off, or the stack.
    Bitmap24& stackBitmap() { return stackBitmap_; }
    const Bitmap24& stackBitmap() const { return stackBitmap_; }
    const StackGraphData& stackGraph() const { return stackGraph_; }
    const StackImageMarks& stackImageMarks() const { return stackMarks_; }
    // Entry i: the stack quality after i frames of the last run.
    const StackQualityTable& stackQualities() const { return stackQuality_; }
    int stackedCount() const { return StackedCount; }
    // A new ranking has no stack yet: the last run's quality line goes.
    void forgetStack() {
        stackQuality_.fill(0.0f);
        StackedCount = 1;
    }
    // Placed by the last stacking run; 0 without alignment points.
    int alignmentPointCount() const { return pointsPlaced_; }
    // With local quality, the frames each point kept of those scored; none otherwise.
    std::pair<int, int> localQualityChoice() const { return localChoice_; }
    // StackGraph the stack graph; StackImage the set-middle marks.
    const Drawing& overlay(Control imageControl) const;
    // The graph anew from the records, as after a run that was cancelled.
    void refreshStackGraph(float maxDifference);
    // Resampled alignment measures shifts in enlarged pixels, de-interlaced
    // alignment the shifts of each field: the scale and field mode the
    // records were made with, noted when they were, and what a change of
    // either after that does (the alignment must be made again).
    void noteAlignmentBasis() {
        alignedScale_ = alignmentScale();
        alignedFields_ = alignmentFields();
    }
    void checkAlignmentBasis();
    // Shifts and ranking no longer fit the frames (a cancelled or outdated
    // alignment): back to the clicked feature, nothing to stack until the
    // frames are aligned again.
    void dropAlignment();

private:
    ControlModel& control(Control id);
    const ControlModel& control(Control id) const;
    StackOptions stackOptionsFromControls() const;
    double alignmentScale() const;
    int alignmentFields() const;  // 0 whole frames, 1 fields of rows, 2 of columns
    void showCutOffFrame(int frame);
    // A frame read before the stacking pass, with its place in the list read.
    using RankedConsumer = std::function<void(int index, int frame, Bitmap24& bitmap)>;
    bool readBeforeStacking(const std::vector<int>& ranks, const std::function<std::string(int, int)>& caption,
                            double from, double to, const RankedConsumer& use, RunProgress& progress);
    bool preparePoints(AlignmentPoints& points, FramePreparation& preparation, const std::vector<int>& ranks,
                       RunProgress& progress, double gaugeEnd);
    bool chooseLocally(const AlignmentPoints& points, LocalQuality& local, const std::vector<int>& pool, int kept,
                       RunProgress& progress, std::vector<int>& ranks, std::vector<int>& slots);

    TMainForm& form_;
    UiServices& ui_;
    UserSettings& settings_;
    Workspace* workspace_;
    Bitmap24 stackBitmap_;
    StackGraphData stackGraph_;
    StackImageMarks stackMarks_;
    StackQualityTable stackQuality_{};
    int StackedCount = 1;
    double alignedScale_ = 1.0;
    int alignedFields_ = 0;
    int StackLimit = 0;
    int pointsPlaced_ = 0;
    std::pair<int, int> localChoice_{0, 0};
    bool qualityCurve_ = true;  // the last run drew the stacked quality curve
    FftEngine stackQualityFft_;
    mutable Drawing graphOverlay_, marksOverlay_;
};

}  // namespace planexor
