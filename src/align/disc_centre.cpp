#include "align/disc_centre.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace planexor {
namespace {

constexpr int Margin = 16;          // room around the disc for the frames' own motion
constexpr std::int64_t Fewest = 64;  // pixels above the threshold that still make a disc

struct Sums {
    std::int64_t weight = 0, x = 0, y = 0, pixels = 0;
};

#ifdef PLANEXOR_HAS_WIDE
constexpr int WidestWideRow = 2048;  // the row's sums stay within 32 bits

// Sixteen pixels a step from `left` while sixteen remain before `right`:
// each channel gathered from its bytes, the three added in 16 bits, the
// threshold taken off with saturation, and the sums formed in pairs.
// Returns where it stopped.
PLANEXOR_WIDE int weighRowWide(const std::uint8_t* pixel, int left, int right, int threshold,
                               std::int64_t& weight, std::int64_t& moment, std::int64_t& pixels) {
    __m128i masks[3][3];
    for (int channel = 0; channel < 3; ++channel)
        for (int chunk = 0; chunk < 3; ++chunk)
            std::memcpy(&masks[channel][chunk], lanes::RgbShuffles.masks[channel][chunk], 16);
    const __m256i floor = _mm256_set1_epi16(static_cast<std::int16_t>(threshold));
    const __m256i ones = _mm256_set1_epi16(1), sixteen = _mm256_set1_epi16(16);
    __m256i offsets = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    __m256i weights = _mm256_setzero_si256(), moments = _mm256_setzero_si256(), counts = _mm256_setzero_si256();
    int x = left;
    for (; x + 16 <= right; x += 16, pixel += 48) {
        __m128i chunks[3];
        std::memcpy(chunks, pixel, sizeof chunks);
        __m256i sum = _mm256_setzero_si256();
        for (int channel = 0; channel < 3; ++channel) {
            const __m128i bytes = _mm_or_si128(
                _mm_or_si128(_mm_shuffle_epi8(chunks[0], masks[channel][0]), _mm_shuffle_epi8(chunks[1], masks[channel][1])),
                _mm_shuffle_epi8(chunks[2], masks[channel][2]));
            sum = _mm256_add_epi16(sum, _mm256_cvtepu8_epi16(bytes));
        }
        const __m256i above = _mm256_subs_epu16(sum, floor);
        weights = _mm256_add_epi32(weights, _mm256_madd_epi16(above, ones));
        moments = _mm256_add_epi32(moments, _mm256_madd_epi16(above, offsets));
        counts = _mm256_sub_epi16(counts, _mm256_cmpgt_epi16(above, _mm256_setzero_si256()));
        offsets = _mm256_add_epi16(offsets, sixteen);
    }
    alignas(32) std::int32_t weightLanes[8], momentLanes[8];
    alignas(32) std::int16_t countLanes[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(weightLanes), weights);
    _mm256_store_si256(reinterpret_cast<__m256i*>(momentLanes), moments);
    _mm256_store_si256(reinterpret_cast<__m256i*>(countLanes), counts);
    std::int64_t rowWeight = 0;
    for (int lane = 0; lane < 8; ++lane) {
        rowWeight += weightLanes[lane];
        moment += momentLanes[lane];
    }
    for (int lane = 0; lane < 16; ++lane) pixels += countLanes[lane];
    weight += rowWeight;
    moment += rowWeight * left;  // the offsets counted from left
    return x;
}
#endif

// Brightness above the threshold, weighed by position, over a window that
// lies inside the frame. Whole numbers: the sums are exact, so the centre
// does not depend on the order of the pixels, nor on the vector code.
Sums weigh(const Bitmap24& frame, int left, int top, int right, int bottom, int threshold, VectorCode code) {
    Sums sums;
    for (int y = top; y < bottom; ++y) {
        const std::uint8_t* pixel = frame.pixel(left, y);
        std::int64_t rowWeight = 0, rowX = 0, rowPixels = 0;
        int x = left;
#ifdef PLANEXOR_HAS_WIDE
        if (useWideVectors(code) && right - left <= WidestWideRow) {
            x = weighRowWide(pixel, left, right, threshold, rowWeight, rowX, rowPixels);
            pixel += 3 * static_cast<std::size_t>(x - left);
        }
#endif
        for (; x < right; ++x, pixel += 3) {
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
    const Sums sums = weigh(reference, disc.left, disc.top, disc.right, disc.bottom, disc.threshold, VectorCode::Best);
    if (sums.pixels < Fewest) return std::nullopt;
    disc.x = static_cast<double>(sums.x) / static_cast<double>(sums.weight);
    disc.y = static_cast<double>(sums.y) / static_cast<double>(sums.weight);
    return disc;
}

std::optional<DiscCentre> discCentre(const Bitmap24& frame, int frameWidth, int frameHeight,
                                     const DiscWindow& disc, int shiftX, int shiftY, VectorCode code) {
    const int width = std::clamp(frameWidth, 0, frame.width());
    const int height = std::clamp(frameHeight, 0, frame.height());
    const long long left = static_cast<long long>(disc.left) + shiftX, top = static_cast<long long>(disc.top) + shiftY;
    const long long right = static_cast<long long>(disc.right) + shiftX;
    const long long bottom = static_cast<long long>(disc.bottom) + shiftY;
    if (left < 0 || top < 0 || right > width || bottom > height) return std::nullopt;
    const Sums sums = weigh(frame, static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                            static_cast<int>(bottom), disc.threshold, code);
    if (sums.pixels < Fewest) return std::nullopt;
    return DiscCentre{static_cast<double>(sums.x) / static_cast<double>(sums.weight),
                      static_cast<double>(sums.y) / static_cast<double>(sums.weight)};
}

std::optional<DiscShift> discShift(const Bitmap24& frame, int frameWidth, int frameHeight, const DiscWindow& disc,
                                   int shiftX, int shiftY) {
    const auto centre = discCentre(frame, frameWidth, frameHeight, disc, shiftX, shiftY);
    if (!centre) return std::nullopt;
    const DiscShift shift{centre->x - disc.x, centre->y - disc.y};
    if (std::abs(shift.x - shiftX) > DiscAgreement || std::abs(shift.y - shiftY) > DiscAgreement) return std::nullopt;
    return shift;
}

}  // namespace planexor
