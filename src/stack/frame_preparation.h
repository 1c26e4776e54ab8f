#pragma once
#include <array>
#include <vector>

#include "core/bitmap24.h"
#include "core/workspace.h"
#include "stack/alignment_points.h"
#include "stack/fraction_bins.h"
#include "stack/local_quality.h"
#include "stack/pending_sums.h"
#include "stack/resample.h"

namespace planexor {

// The stacking controls as the engine needs them, read once per run.
struct StackOptions {
    bool colour = true;               // ColourStack: three planes; otherwise grey into StackG
    bool qualityWeight = true;        // QualStack: a mono frame weighs its quality
    bool partialCoverage = true;      // Averagepixel: divide each pixel by its contributions
    bool expand = false;              // Expandstack, into StackWidth x StackHeight; ignored while resampling
    bool resample = false;            // Resampled, by the workspace's ResampleFactor
    int filterItem = 3;               // Filters: 0 Bell, 1 B-Spline, 2 Lanczos, 3 Mitchell
    bool interlaced = false;          // Interlaced
    bool interlaceColumns = false;    // InterlaceHoriz: the fields are alternate columns
    int interlaceInterpolation = 1;   // interlaceinterpolation: 0 none, 1 odd && even, 2 odd, 3 even
    bool useDark = false;             // UseDarkFrame
    bool useFlat = false;             // UseFlatfield
    int xShift = 0;                   // Xshift: extra shift of the whole stack, pixels
    int yShift = 0;                   // Yshift
    bool subpixel = false;            // place each frame at its fractional shift too
};

// Rebuilds field 0 (even lines kept) or field 1 (odd lines kept) of an
// interlaced frame in place: every other line becomes the truncated mean of
// its two neighbours. Lines are rows, or columns when `columns` is set. Only
// the part of the bitmap inside frameWidth x frameHeight is touched.
void SplitField(Bitmap24& frame, int field, bool columns, int frameWidth, int frameHeight);

// Sets ApplyShiftX/Y, their fractions and FrameWeight for the field of `frameNumber` about to
// be added: the first field of an interlaced frame takes the field shift and
// quality, every other frame or field the frame's own.
void chooseShiftAndWeight(Workspace& workspace, int frameNumber, bool firstField, bool qualityWeight);

// With local quality, the weights each stack pixel has had so far.
struct WeightSums {
    std::vector<float> sums;               // stack column by row
    int x0 = 0, x1 = -1, y0 = 0, y1 = -1;  // where weights went
};

// The floats a sub-pixel placement works in, kept from frame to frame.
struct SubpixelScratch {
    std::array<std::vector<float>, 3> values, moved;
    std::vector<float> column;
};

// Everything a decoded frame goes through on its way into the stack. Made
// once per run: it owns the scratch bitmaps and the resampling plan, so
// adding a frame allocates nothing once the first frame has set the sizes.
class FramePreparation {
public:
    explicit FramePreparation(const StackOptions& options);

    const StackOptions& options() const { return options_; }

    // Adds `frame` (the preview bitmap, which calibration before resampling
    // changes in place) to StackR/G/B and StackCount, shifted so that stack
    // column x reads frame column x + ApplyShiftX, with FrameWeight in mono.
    // Only the part of the shifted frame that lies inside the frame bitmap,
    // the working image and the planes contributes. Plain colour sums may
    // wait: the planes hold every frame added only after `settle`, and an
    // area of StackR/G/B after `settleArea`.
    void AddFrameToStack(Workspace& workspace, Bitmap24& frame);

    // The whole road of one decoded frame: an interlaced frame is added as
    // its two rebuilt fields (and is left holding field 1), any other frame
    // as it is; shift and weight are chosen for each.
    void addDecodedFrame(Workspace& workspace, Bitmap24& frame, int frameNumber);

    // With points, every frame is warped onto their reference before it is
    // added (calibrated first, so that the dark's pixels stay on the frame's).
    void usePoints(AlignmentPoints* points) { points_ = points; }
    // With local quality (whole-pixel placement only) every frame weighs at
    // each pixel what the points around it give it; `settle` turns the
    // weighted sums into sums and counts of as many frames as the weights add up to.
    void useLocalQuality(const LocalQuality* quality) { local_ = quality; }
    // Where the frame about to be added is placed, in frame pixels.
    struct FrameShift {
        double x = 0.0, y = 0.0;
    };
    FrameShift frameShift(const Workspace& workspace) const;

    void settle(Workspace& workspace) {
        bins_.settle(workspace);
        pending_.settle(workspace);
        settleWeights(workspace);
    }
    void settleArea(Workspace& workspace, int x0, int x1, int y0, int y1) {
        bins_.settleArea(workspace, x0, x1, y0, y1);
        pending_.settleArea(workspace, x0, x1, y0, y1);
    }

private:
    void addDirect(Workspace& workspace, const Bitmap24& frame, bool calibrate);
    void addResampled(Workspace& workspace, Bitmap24& frame, bool calibrate);
    void settleWeights(Workspace& workspace);

    StackOptions options_;
    const ResampleFilter* filter_;
    const ResampleFilter* interpolation_;  // places a frame between pixels when not resampling
    SubpixelScratch scratch_;
    ResamplePlan plan_;
    Bitmap24 cutOut_;      // the part of the frame a resampled window needs
    Bitmap24 resampled_;   // that part enlarged to the working image
    Bitmap24 unsplit_;     // the decoded frame, kept for the second field
    PendingSums pending_;
    FractionBins bins_;  // plain colour frames placed between pixels
    AlignmentPoints* points_ = nullptr;
    const LocalQuality* local_ = nullptr;
    WeightSums weightSums_;
    bool fieldsCalibrated_ = false;  // the fields of a frame calibrated before its split
};

// After a run: with partial coverage each pixel of 0..width-1 x 0..height-1
// is divided by its count (a pixel nobody reached becomes 0 in all three
// planes); without it the planes keep their sums.
void normaliseStack(Workspace& workspace, int width, int height, bool colour, bool partialCoverage);

}  // namespace planexor
