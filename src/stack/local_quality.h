#pragma once
#include <vector>

#include "core/bitmap24.h"
#include "stack/alignment_points.h"

namespace planexor {

// Seeing blurs parts of the disc differently from frame to frame: with local
// quality each alignment point's patch is stacked from its own sharpest
// frames. Every frame the cut-offs let through (the pool) is scored at every
// point first; each point then keeps as many frames as the whole-frame
// ranking would have stacked, and a frame goes into the stack weighted at
// each pixel by the share of the points around it that keep it. The shares
// blend smoothly from point to point and sum to one, so every pixel of the
// stack is the mean of as many frames as without local quality.
class LocalQuality {
public:
    // For the points placed on a reference of width x height, and a pool of
    // `poolSize` frames.
    void start(const AlignmentPoints& points, int width, int height, int poolSize);
    bool active() const { return !centres_.empty(); }

    // Scores pool frame `slot`, placed at (shiftX, shiftY): how sharp each
    // point's patch is there, against its own brightness. A patch off the
    // frame scores nothing.
    void score(int slot, const Bitmap24& frame, double shiftX, double shiftY);

    // Each point keeps its `kept` sharpest frames of the pool (the earlier on
    // a tie). Returns the slots some point keeps, in slot order.
    std::vector<int> choose(int kept);

    // The frame about to be stacked; its weight at reference pixel (x, y).
    void select(int slot);
    float weight(int x, int y) const;

private:
    struct Centre {
        int x, y;
    };
    float sharpness(const Bitmap24& frame, int left, int top);

    int width_ = 0, height_ = 0, patch_ = 0;
    int gridColumns_ = 0, gridRows_ = 0;
    std::vector<Centre> centres_;
    std::vector<float> scores_;        // pool slot by point
    std::vector<unsigned char> keeps_; // pool slot by point
    std::vector<float> shares_;        // grid node by its nearest points: each one's share of the node
    std::vector<int> sharers_;         // which point each share belongs to
    std::vector<float> weights_;       // the selected frame's weight at each grid node
    std::vector<float> grey_;          // a patch, grey, scratch
    int poolSize_ = 0;
};

}  // namespace planexor
