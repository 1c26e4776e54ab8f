#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "core/bitmap24.h"
#include "core/workspace.h"

namespace planexor {

// sums[i] += bytes[i] for i in 0..n-1, in 16-bit lanes that wrap.
void addByteSums(std::uint16_t* sums, const std::uint8_t* bytes, std::size_t n);

// Plain colour frames, added unweighted and uncalibrated, are whole bytes:
// their sums are collected in 16-bit lanes laid out like the frames' own
// rows, and only then added to the float planes. Integer sums below 2^24 are
// exact in float whatever the order, so the planes end exactly as if each
// frame had been added there, while a frame costs a third of the memory
// traffic. Every frame's counts are one rectangle, kept as such to the end.
class PendingSums {
public:
    PendingSums();

    // Adds source (x + sourceDx, y + sourceDy) to stack (x + stackDx,
    // y + stackDy) for x in [x0, x1], y in [y0, y1]; the caller has clipped
    // the rectangle to the source and the planes.
    void add(Workspace& workspace, const Bitmap24& source, int x0, int x1, int y0, int y1, int sourceDx,
             int sourceDy, int stackDx, int stackDy);

    // Each count of stack columns [left, right] and rows [top, bottom] rises
    // by one, for a frame whose values went straight into the planes.
    void count(int left, int right, int top, int bottom);

    // Moves what is pending for stack columns [x0, x1] and rows [y0, y1]
    // into StackR/G/B, for a reader of that area; the counts stay pending.
    void settleArea(Workspace& workspace, int x0, int x1, int y0, int y1);

    // Moves everything pending into the planes and StackCount.
    void settle(Workspace& workspace);

private:
    struct Release {
        void operator()(void* memory) const;
    };
    static constexpr int Side = PlaneSide;
    // One more frame would overflow a lane: 257 x 255 = 65535.
    static constexpr int MostFrames = 257;

    void settleValues(Workspace& workspace, int x0, int x1, int y0, int y1);
    void settleCounts(Workspace& workspace);

    std::unique_ptr<std::uint16_t, Release> values_;  // [y][x][B, G, R], Side x Side
    int frames_ = 0;                                   // added since the values were last settled
    int left_ = Side, right_ = -1, top_ = Side, bottom_ = -1;  // what the pending values cover
    struct Rectangle {
        int left, right, top, bottom;
    };
    std::vector<Rectangle> counted_;  // one per frame or field since the counts were settled
    std::vector<std::int32_t> profile_;  // a column's counts, shared by the columns with the same rectangles
    std::vector<int> edges_;
};

}  // namespace planexor
