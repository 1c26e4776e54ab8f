#include "align/disc_quality.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/pixel.h"

namespace planexor {

namespace {

// The grey level below which `share` of the pixels lie.
int levelAt(const std::array<std::uint32_t, 256>& histogram, std::size_t pixels, double share) {
    const double wanted = share * static_cast<double>(pixels);
    double seen = 0;
    for (int level = 0; level < 256; ++level) {
        seen += histogram[level];
        if (seen >= wanted) return level;
    }
    return 255;
}

}  // namespace

float DiscSharpness::measure(const Bitmap24& frame, int frameWidth, int frameHeight) {
    const int width = std::clamp(frameWidth, 0, frame.width());
    const int height = std::clamp(frameHeight, 0, frame.height());
    if (width < 5 || height < 5) return 0.0f;
    const std::size_t pixels = static_cast<std::size_t>(width) * height;
    grey_.resize(pixels);
    smooth_.resize(pixels);

    std::array<std::uint32_t, 256> histogram{};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* pixel = frame.row(y);
        float* out = grey_.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x, pixel += 3) {
            const float value = greyValue(pixel[2], pixel[1], pixel[0]);
            out[x] = value;
            ++histogram[std::min(static_cast<int>(value), 255)];
        }
    }
    // The sky is the median, the disc the brightest part; a frame without
    // enough between the two has no disc to judge.
    const int sky = levelAt(histogram, pixels, 0.5);
    const int bright = levelAt(histogram, pixels, 0.995);
    if (bright - sky < 8) return 0.0f;
    const float threshold = static_cast<float>(sky + 0.3 * (bright - sky));

    // The noise filter: [1 2 1] / 4 along each axis, edges left as they are.
    std::copy(grey_.begin(), grey_.end(), smooth_.begin());
    for (int y = 0; y < height; ++y) {
        const float* in = grey_.data() + static_cast<std::size_t>(y) * width;
        float* out = smooth_.data() + static_cast<std::size_t>(y) * width;
        for (int x = 1; x < width - 1; ++x) out[x] = 0.25f * (in[x - 1] + 2.0f * in[x] + in[x + 1]);
    }
    for (int y = 1; y < height - 1; ++y) {
        const float* above = smooth_.data() + static_cast<std::size_t>(y - 1) * width;
        const float* line = smooth_.data() + static_cast<std::size_t>(y) * width;
        const float* below = smooth_.data() + static_cast<std::size_t>(y + 1) * width;
        float* out = grey_.data() + static_cast<std::size_t>(y) * width;
        for (int x = 0; x < width; ++x) out[x] = 0.25f * (above[x] + 2.0f * line[x] + below[x]);
    }
    // grey_ now holds the filtered picture on rows 1..height-2.

    double energy = 0.0, brightness = 0.0;
    std::size_t count = 0;
    for (int y = 2; y < height - 2; ++y) {
        const float* above = grey_.data() + static_cast<std::size_t>(y - 1) * width;
        const float* line = grey_.data() + static_cast<std::size_t>(y) * width;
        const float* below = grey_.data() + static_cast<std::size_t>(y + 1) * width;
        for (int x = 1; x < width - 1; ++x) {
            if (!(line[x] > threshold)) continue;
            const float gx = line[x + 1] - line[x - 1];
            const float gy = below[x] - above[x];
            energy += static_cast<double>(gx) * gx + static_cast<double>(gy) * gy;
            brightness += line[x] - sky;
            ++count;
        }
    }
    if (count < 16) return 0.0f;
    const double mean = brightness / static_cast<double>(count);
    if (!(mean > 0.0)) return 0.0f;
    return static_cast<float>(energy / static_cast<double>(count) / (mean * mean));
}

}  // namespace planexor
