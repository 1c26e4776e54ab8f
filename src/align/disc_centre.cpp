#include "align/disc_centre.h"

#include <algorithm>
#include <cstdint>

namespace planexor {
namespace {

constexpr int Margin = 16;          // room around the disc for the frames' own motion
constexpr std::int64_t Fewest = 64;  // pixels above the threshold that still make a disc

struct Sums {
    std::int64_t weight = 0, x = 0, y = 0, pixels = 0;
};

// Brightness above the threshold, weighed by position, over a window that
// lies inside the frame. Whole numbers: the sums are exact, so the centre
// does not depend on the order of the pixels.
Sums weigh(const Bitmap24& frame, int left, int top, int right, int bottom, int threshold) {
    Sums sums;
    for (int y = top; y < bottom; ++y) {
        const std::uint8_t* pixel = frame.pixel(left, y);
        std::int64_t rowWeight = 0, rowX = 0, rowPixels = 0;
        for (int x = left; x < right; ++x, pixel += 3) {
            const int above = std::max(0, pixel[0] + pixel[1] + pixel[2] - threshold);
            rowWeight += above;
            rowX += static_cast<std::int64_t>(above) * x;
            rowPixels += above > 0;
        }
        sums.weight += rowWeight;
        sums.x += rowX;
        sums.y += rowWeight * y;
        sums.pixels += rowPixels;
    }
    return sums;
}

}  // namespace

std::optional<DiscWindow> findDisc(const Bitmap24& reference, int frameWidth, int frameHeight) {
    const int width = std::clamp(frameWidth, 0, reference.width());
    const int height = std::clamp(frameHeight, 0, reference.height());
    int brightest = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* pixel = reference.row(y);
        for (int x = 0; x < width; ++x, pixel += 3) brightest = std::max(brightest, pixel[0] + pixel[1] + pixel[2]);
    }
    DiscWindow disc;
    disc.threshold = brightest / 10;
    if (disc.threshold < 3) return std::nullopt;  // black, or only noise
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* pixel = reference.row(y);
        for (int x = 0; x < width; ++x, pixel += 3) {
            if (pixel[0] + pixel[1] + pixel[2] <= disc.threshold) continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    // A disc the frame cuts has no true centre; a frame lit to its edges has no disc.
    if (right < 0 || left == 0 || top == 0 || right == width - 1 || bottom == height - 1) return std::nullopt;
    disc.left = std::max(0, left - Margin);
    disc.top = std::max(0, top - Margin);
    disc.right = std::min(width, right + 1 + Margin);
    disc.bottom = std::min(height, bottom + 1 + Margin);
    const Sums sums = weigh(reference, disc.left, disc.top, disc.right, disc.bottom, disc.threshold);
    if (sums.pixels < Fewest) return std::nullopt;
    disc.x = static_cast<double>(sums.x) / static_cast<double>(sums.weight);
    disc.y = static_cast<double>(sums.y) / static_cast<double>(sums.weight);
    return disc;
}

std::optional<DiscCentre> discCentre(const Bitmap24& frame, int frameWidth, int frameHeight,
                                     const DiscWindow& disc, int shiftX, int shiftY) {
    const int width = std::clamp(frameWidth, 0, frame.width());
    const int height = std::clamp(frameHeight, 0, frame.height());
    const long long left = static_cast<long long>(disc.left) + shiftX, top = static_cast<long long>(disc.top) + shiftY;
    const long long right = static_cast<long long>(disc.right) + shiftX;
    const long long bottom = static_cast<long long>(disc.bottom) + shiftY;
    if (left < 0 || top < 0 || right > width || bottom > height) return std::nullopt;
    const Sums sums = weigh(frame, static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                            static_cast<int>(bottom), disc.threshold);
    if (sums.pixels < Fewest) return std::nullopt;
    return DiscCentre{static_cast<double>(sums.x) / static_cast<double>(sums.weight),
                      static_cast<double>(sums.y) / static_cast<double>(sums.weight)};
}

}  // namespace planexor
