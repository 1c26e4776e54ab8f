#include "demo/picture_psnr.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/error.h"

namespace planexor {

namespace {
constexpr int SearchRadius = 25;  // whole-pixel translations tried against the original
}  // namespace

Picture::Picture(int w, int h) : width(w), height(h) {
    for (auto& c : channel) c.assign(static_cast<std::size_t>(w) * h, 0.0f);
}

float Picture::at(int c, int x, int y) const {
    if (x < 0 || y < 0 || x >= width || y >= height) return 0.0f;  // black sky beyond the edge
    return channel[c][static_cast<std::size_t>(y) * width + x];
}

float& Picture::at(int c, int x, int y) { return channel[c][static_cast<std::size_t>(y) * width + x]; }

Picture fromBitmap(const Bitmap24& image) {
    Picture picture(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < 3; ++c) picture.at(c, x, y) = image.pixel(x, y)[2 - c];
    return picture;
}

Picture fromStack(const Workspace& w) {
    Picture picture(w.ImageWidth, w.ImageHeight);
    const TFloatPlane* planes[] = {&w.StackR, &w.StackG, &w.StackB};
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < w.ImageHeight; ++y)
            for (int x = 0; x < w.ImageWidth; ++x) picture.at(c, x, y) = (*planes[c])[x][y];
    return picture;
}

Window planetWindow(const Picture& original, int margin) {
    Window window{original.width, original.height, 0, 0};
    for (int y = 0; y < original.height; ++y)
        for (int x = 0; x < original.width; ++x)
            if (original.at(0, x, y) + original.at(1, x, y) + original.at(2, x, y) > 30.0f) {
                window.x0 = std::min(window.x0, x);
                window.y0 = std::min(window.y0, y);
                window.x1 = std::max(window.x1, x + 1);
                window.y1 = std::max(window.y1, y + 1);
            }
    window.x0 = std::max(window.x0 - margin, 0);
    window.y0 = std::max(window.y0 - margin, 0);
    window.x1 = std::min(window.x1 + margin, original.width);
    window.y1 = std::min(window.y1 + margin, original.height);
    return window;
}

// Squared residual of the original against a * picture + b, the line fitted
// by least squares, with picture read at (x + dx, y + dy). `grey` fits the
// channel sum instead of each channel; `step` thins the window.
static double fittedResidual(const Picture& picture, const Picture& original, const Window& window, int dx, int dy,
                      bool grey, int step, long long& samples) {
    double residual = 0;
    samples = 0;
    for (int c = 0; c < (grey ? 1 : 3); ++c) {
        double n = 0, sp = 0, so = 0, spp = 0, spo = 0, soo = 0;
        for (int y = window.y0; y < window.y1; y += step)
            for (int x = window.x0; x < window.x1; x += step) {
                double p, o;
                if (grey) {
                    p = picture.at(0, x + dx, y + dy) + picture.at(1, x + dx, y + dy) + picture.at(2, x + dx, y + dy);
                    o = original.at(0, x, y) + original.at(1, x, y) + original.at(2, x, y);
                } else {
                    p = picture.at(c, x + dx, y + dy);
                    o = original.at(c, x, y);
                }
                n += 1;
                sp += p;
                so += o;
                spp += p * p;
                spo += p * o;
                soo += o * o;
            }
        const double varP = spp - sp * sp / n;
        const double cov = spo - sp * so / n;
        const double varO = soo - so * so / n;
        residual += varO - (varP > 0 ? cov * cov / varP : 0.0);
        samples += static_cast<long long>(n);
    }
    return std::max(residual, 0.0);
}

// PSNR in dB (peak 255) of a picture against the original over the planet
// window, after the best whole-pixel translation and a gain and offset per
// channel: what is left is detail lost or invented, not placement or scale.
double psnr(const Picture& picture, const Picture& original, const Window& window) {
    long long samples = 0;
    // Coarse search on thinned grey, then every channel near the best.
    int bestX = 0, bestY = 0;
    double best = std::numeric_limits<double>::max();
    for (int dy = -SearchRadius; dy <= SearchRadius; ++dy)
        for (int dx = -SearchRadius; dx <= SearchRadius; ++dx) {
            const double r = fittedResidual(picture, original, window, dx, dy, true, 3, samples);
            if (r < best) best = r, bestX = dx, bestY = dy;
        }
    best = std::numeric_limits<double>::max();
    for (int dy = bestY - 2; dy <= bestY + 2; ++dy)
        for (int dx = bestX - 2; dx <= bestX + 2; ++dx)
            best = std::min(best, fittedResidual(picture, original, window, dx, dy, false, 1, samples));
    return 10.0 * std::log10(255.0 * 255.0 / std::max(best / static_cast<double>(samples), 1e-12));
}

double psnrAgainstOriginal(const Bitmap24& picture, const Bitmap24& original) {
    const Picture reference = fromBitmap(original);
    const Window window = planetWindow(reference, 12);
    if (window.x0 >= window.x1 || window.y0 >= window.y1)
        throw PlanexorError("The original shows no planet to compare with");
    return psnr(fromBitmap(picture), reference, window);
}

}  // namespace planexor
