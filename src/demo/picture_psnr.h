#pragma once
// PSNR of a picture against the synthetic planet's original, after the best
// whole-pixel placement and a gain and offset per channel: how the demo's
// stacks and the tests measure what a method recovers.
#include <array>
#include <vector>

#include "core/bitmap24.h"
#include "core/workspace.h"

namespace planexor {

struct Picture {
    int width = 0, height = 0;
    std::array<std::vector<float>, 3> channel;

    Picture() = default;
    Picture(int w, int h);
    float at(int c, int x, int y) const;
    float& at(int c, int x, int y);
};

Picture fromBitmap(const Bitmap24& image);
Picture fromStack(const Workspace& w);

// Half-open rectangle of the original where the planet is, plus a margin.
struct Window {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
Window planetWindow(const Picture& original, int margin);

// dB, peak 255, over the window; translations up to 25 pixels are tried.
double psnr(const Picture& picture, const Picture& original, const Window& window);

// The same over the planet of `original` with a margin of 12 pixels; throws
// PlanexorError when the original shows no planet.
double psnrAgainstOriginal(const Bitmap24& picture, const Bitmap24& original);

}  // namespace planexor
