#pragma once
#include <vector>

#include "align/fft.h"
#include "core/bitmap24.h"
#include "core/workspace.h"

namespace planexor {

// Which ranks go into a stack: those up to the quality cut-off whose frame is
// used and whose registration difference is at most `cut`, where `cut` is a
// percentage of the largest difference among ranks 0..lastRank.
struct StackSelection {
    float maxDifference = 0.0f;
    float cut = 0.0f;
    std::vector<int> ranks;  // in rank order
};

// `highestRank` is the quality cut-off (StackSlider), `lastRank` the last
// ranked entry (its maximum). Ranks are clipped to the frame slots and a rank
// whose frame number lies outside them is never selected, so a ranking read
// from a damaged project cannot index past the records.
StackSelection selectStackRanks(const Workspace& workspace, int highestRank, int lastRank, int cutPercent);

// The spread of the shifts of the selected frames, each bound starting from
// 0. With de-interlacing the first fields' shifts count as well, since those
// fields land by them.
struct ShiftSpread {
    int minX = 0, minY = 0, maxX = 0, maxY = 0;
};
ShiftSpread shiftSpread(const Workspace& workspace, const std::vector<int>& ranks, bool interlaced);

// Zeroes StackR/G/B and StackCount over columns 0..lastX and rows 0..lastY,
// both included, clipped to the planes.
void clearStackArea(Workspace& workspace, int lastX, int lastY);

// The largest value of the used planes (all three in colour, StackG in
// mono) over width x height, starting from 0.
float stackPeak(const Workspace& workspace, int width, int height, bool colour);

// The stack as a width x height picture, each value scaled by 255 / peak and
// byte-clamped; mono writes its grey into all three channels.
void renderStack(const Workspace& workspace, int width, int height, bool colour, float peak, Bitmap24& into);

// How sharp the stack is inside the alignment box: the box's grey values,
// divided by their mean, transformed; the share of the radial profile above
// `qualityFilter` among bins 0..50. Box pixels outside frameWidth x
// frameHeight count as 0. An empty (all-black) box scores 0.
float stackQualityOf(const Workspace& workspace, FftEngine& fft, int boxSize, int boxLeft, int boxTop,
                     int frameWidth, int frameHeight, bool colour, int qualityFilter);

}  // namespace planexor
