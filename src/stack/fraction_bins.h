#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/bitmap24.h"
#include "core/workspace.h"
#include "stack/resample.h"
#include "stack/subpixel_filter.h"

namespace planexor {

// Plain colour frames placed a fraction of a pixel beside their whole shift,
// interpolated a few at a time. Each frame is added at its whole shift, in
// 16-bit lanes, to the bin of its fraction rounded to a quarter pixel per
// axis; a bin is interpolated once, when settled, at the mean fraction of its
// frames. Interpolation is linear, so a bin gives each stack pixel what its
// frames would have given one by one, but for where frames end: each frame
// goes in padded by the kernel's reach (its edge lines repeated where the
// frame ends, as a frame interpolated alone reads them), and the pixels
// outside its rectangle that the padding or its own pixels would reach are
// put right exactly: what the frame holds along each edge and at each corner
// is kept per bin and edge position, interpolated with the bin's kernel and
// taken off again (the corners, taken off twice by two edges, given back).
// The counts are the caller's.
class FractionBins {
public:
    explicit FractionBins(const ResampleFilter& interpolation);
    ~FractionBins();
    FractionBins(const FractionBins&) = delete;
    FractionBins& operator=(const FractionBins&) = delete;

    // Adds source (x + sourceDx, y + sourceDy) read `fractionX`, `fractionY`
    // (within [-1, 1]) of a pixel further on, with the source's edges
    // repeated beyond limitX x limitY, to stack (x + stackDx, y + stackDy) for
    // x in [x0, x1], y in [y0, y1]; the caller has clipped the rectangle to
    // the source and the planes.
    void add(Workspace& workspace, const Bitmap24& source, int x0, int x1, int y0, int y1, int sourceDx,
             int sourceDy, int stackDx, int stackDy, int limitX, int limitY, float fractionX, float fractionY);

    // Makes stack columns [x0, x1] and rows [y0, y1] of StackR/G/B hold every
    // frame added so far; what the bins gave there is remembered, so that a
    // later settle adds only the difference.
    void settleArea(Workspace& workspace, int x0, int x1, int y0, int y1);

    // Moves everything into the planes and empties the bins.
    void settle(Workspace& workspace);

    struct Rect {
        int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
        bool empty() const { return x0 > x1 || y0 > y1; }
    };

private:
    struct Sums;
    struct Bin;
    struct Edge;
    struct Target;

    static Target planesOf(Workspace& workspace);
    static Target rowsOver(float* rows, const Rect& r);

    // Settles the bin into the planes and empties it.
    void flush(Workspace& workspace, Bin& bin);
    // The kernels across and down at the mean fraction of the bin's frames.
    std::array<Kernel, 2> kernels(const Bin& bin) const;
    // Takes what settleArea gave from the bin off the planes.
    void unsettle(Workspace& workspace, const Bin& bin) const;
    // Adds `sign` times rows of blue, green, red floats over `r` to the planes.
    static void addRowsToPlanes(Workspace& workspace, const float* rows, const Rect& r, float sign);
    // The bin's sums over `area` interpolated and added to `rows`, which lie
    // row by row over `frame`, blue, green, red beside each other.
    void interpolateRows(const Bin& bin, const Rect& area, const Kernel& across, const Kernel& down, float* rows,
                         const Rect& frame);
    // An edge's values over `area` interpolated and taken off or given back.
    void takeOffEdge(const Edge& edge, const Rect& area, const Kernel& across, const Kernel& down,
                     const Target& target);

    const ResampleFilter& interpolation_;
    int reach_;
    std::array<std::unique_ptr<Bin>, 16> bins_;
    Rect area_;  // what settleArea has settled since the last settle
    // Scratch: rows made, rows of sums as floats, a row moved down; an
    // edge's values as floats, a line of them moved, a line made.
    std::vector<float> rows_, fresh_, ring_, downRow_;
    std::vector<float> edgeValues_, moved_, made_;
};

}  // namespace planexor
