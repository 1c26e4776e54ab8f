#include "stack/resample.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/error.h"
#include "core/pixel.h"

namespace planexor {

float BoxFilter(float x) {
    return (x > -0.5f && x <= 0.5f) ? 1.0f : 0.0f;
}

float TriangleFilter(float x) {
    const float a = std::fabs(x);
    return a < 1.0f ? 1.0f - a : 0.0f;
}

float HermiteFilter(float x) {
    const float a = std::fabs(x);
    return a < 1.0f ? (2.0f * a - 3.0f) * a * a + 1.0f : 0.0f;
}

float BellFilter(float x) {
    const float a = std::fabs(x);
    if (a < 0.5f) return 0.75f - a * a;
    if (a < 1.5f) {
        const float t = a - 1.5f;
        return 0.5f * t * t;
    }
    return 0.0f;
}

float BSplineFilter(float x) {
    const float a = std::fabs(x);
    if (a < 1.0f) return 0.5f * a * a * a - a * a + 2.0f / 3.0f;
    if (a < 2.0f) {
        const float t = 2.0f - a;
        return t * t * t / 6.0f;
    }
    return 0.0f;
}

namespace {

double sinc(double t) {
    if (t == 0.0) return 1.0;
    const double angle = std::numbers::pi * t;
    return std::sin(angle) / angle;
}

}  // namespace

float Lanczos3Filter(float x) {
    const double a = std::fabs(x);
    return a < 3.0 ? static_cast<float>(sinc(a) * sinc(a / 3.0)) : 0.0f;
}

float MitchellFilter(float x) {
    const float a = std::fabs(x);
    if (a < 1.0f) return (7.0f * a * a * a - 12.0f * a * a + 16.0f / 3.0f) / 6.0f;
    if (a < 2.0f) return (-7.0f / 3.0f * a * a * a + 12.0f * a * a - 20.0f * a + 32.0f / 3.0f) / 6.0f;
    return 0.0f;
}

const std::array<ResampleFilter, ResampleFilterCount>& resampleFilterTable() {
    static const std::array<ResampleFilter, ResampleFilterCount> table{{
        {"Box", BoxFilter, 0.5f},
        {"Triangle", TriangleFilter, 1.0f},
        {"Hermite", HermiteFilter, 1.0f},
        {"Bell", BellFilter, 1.5f},
        {"B-Spline", BSplineFilter, 2.0f},
        {"Lanczos3", Lanczos3Filter, 3.0f},
        {"Mitchell", MitchellFilter, 2.0f},
    }};
    return table;
}

const ResampleFilter& filterForItem(int item) {
    if (item < 0 || item > 3) throw PlanexorError("Unknown resampling filter");
    return resampleFilterTable()[item + 3];
}

float resampleScale(int sourceSize, int destSize) {
    // A one-pixel side has no span to map (a division by 0, or a scale of 0
    // for the centres to divide by): it takes the scale destSize, as a
    // single-pixel source does, so output pixel 0 sits on source pixel 0.
    if (sourceSize == 1 || destSize == 1) return static_cast<float>(destSize);
    return static_cast<float>(destSize - 1) / static_cast<float>(sourceSize - 1);
}

namespace {

// Where a list reads source position j: mirrored at the edges; a filter
// reaching further than the source is wide lands on the edge pixel.
int mirroredIndex(int j, int sourceSize) {
    return std::clamp(j < 0 ? -j : (j >= sourceSize ? 2 * sourceSize - j - 1 : j), 0, sourceSize - 1);
}

}  // namespace

void ContributionLists::build(int sourceSize, int destSize, ResampleFilterFunction filter, float support,
                              float offset, float scale, int firstOutput) {
    if (sourceSize < 1) throw PlanexorError("Source bitmap too small");
    starts_.assign(1, 0);
    indices_.clear();
    weights_.clear();
    if (destSize < 1) return;

    if (!(scale > 0.0f)) scale = resampleScale(sourceSize, destSize);
    const bool reducing = scale < 1.0f;
    const float width = reducing ? support / scale : support;

    starts_.reserve(static_cast<std::size_t>(destSize) + 1);
    const std::size_t perList = static_cast<std::size_t>(2.0f * width + 3.0f);
    indices_.reserve(perList * static_cast<std::size_t>(destSize));
    weights_.reserve(perList * static_cast<std::size_t>(destSize));

    for (int i = 0; i < destSize; ++i) {
        float center = static_cast<float>(i + firstOutput) / scale;
        if (offset != 0.0f) center += offset;
        const int left = static_cast<int>(std::floor(center - width));
        const int right = static_cast<int>(std::ceil(center + width));
        const std::size_t first = weights_.size();
        double sum = 0.0;
        for (int j = left; j <= right; ++j) {
            const float weight = reducing ? filter((center - static_cast<float>(j)) * scale) * scale
                                          : filter(center - static_cast<float>(j));
            if (weight == 0.0f) continue;
            indices_.push_back(mirroredIndex(j, sourceSize));
            weights_.push_back(weight);
            sum += weight;
        }
        // Lanczos3 (and any filter sampled at a reduction's spacing) does not
        // sum to 1, which stripes flat areas by a level; every list is scaled
        // so a constant stays constant.
        if (std::fabs(sum) > 1e-6) {
            for (std::size_t k = first; k < weights_.size(); ++k)
                weights_[k] = static_cast<float>(weights_[k] / sum);
        } else {
            weights_.resize(first);
            indices_.resize(first);
            indices_.push_back(std::clamp(nearest(center), 0, sourceSize - 1));
            weights_.push_back(1.0f);
        }
        starts_.push_back(static_cast<int>(weights_.size()));
    }
}

namespace {

inline std::uint8_t storeChannel(float value) {
    if (value > 255.0f) return 255;
    if (!(value >= 0.0f)) return 0;
    return static_cast<std::uint8_t>(nearest(value));
}

// sums[t] += in[t] * weight. The vertical pass is most of the work and the
// compiler does not vectorise it on its own, so on x86 it runs sixteen
// channel values at a time.
void addWeightedRow(float* sums, const std::uint8_t* in, std::size_t count, float weight) {
    std::size_t t = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128 factor = _mm_set1_ps(weight);
    for (; t + 16 <= count; t += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + t));
        const __m128i low = _mm_unpacklo_epi8(bytes, zero);
        const __m128i high = _mm_unpackhi_epi8(bytes, zero);
        const __m128i quarters[4] = {_mm_unpacklo_epi16(low, zero), _mm_unpackhi_epi16(low, zero),
                                     _mm_unpacklo_epi16(high, zero), _mm_unpackhi_epi16(high, zero)};
        for (int q = 0; q < 4; ++q) {
            float* sum = sums + t + 4 * q;
            const __m128 values = _mm_mul_ps(_mm_cvtepi32_ps(quarters[q]), factor);
            _mm_storeu_ps(sum, _mm_add_ps(_mm_loadu_ps(sum), values));
        }
    }
#endif
    for (; t < count; ++t) sums[t] += in[t] * weight;
}

// out[t] := storeChannel(sums[t]). The vector conversion rounds to nearest,
// halves to even, exactly as nearest() does.
void storeRow(const float* sums, std::uint8_t* out, std::size_t count) {
    std::size_t t = 0;
#if defined(__SSE2__)
    const __m128 lowest = _mm_setzero_ps();
    const __m128 highest = _mm_set1_ps(255.0f);
    for (; t + 16 <= count; t += 16) {
        __m128i words[4];
        for (int q = 0; q < 4; ++q) {
            const __m128 clamped = _mm_min_ps(_mm_max_ps(_mm_loadu_ps(sums + t + 4 * q), lowest), highest);
            words[q] = _mm_cvtps_epi32(clamped);
        }
        const __m128i packed =
            _mm_packus_epi16(_mm_packs_epi32(words[0], words[1]), _mm_packs_epi32(words[2], words[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + t), packed);
    }
#endif
    for (; t < count; ++t) out[t] = storeChannel(sums[t]);
}

}  // namespace

void ResamplePlan::prepare(int sourceWidth, int sourceHeight, int destWidth, int destHeight,
                           ResampleFilterFunction filter, float support, float offsetX, float offsetY) {
    if (sourceWidth < 1 || sourceHeight < 1) throw PlanexorError("Source bitmap too small");
    if (destWidth < 0 || destHeight < 0) throw PlanexorError("Invalid image size");
    if (!std::isfinite(offsetX) || !std::isfinite(offsetY)) throw PlanexorError("Invalid resampling offset");
    if (sourceWidth == sourceWidth_ && sourceHeight == sourceHeight_ && destWidth == destWidth_ &&
        destHeight == destHeight_ && filter == filter_ && support == support_ && offsetX == offsetX_ &&
        offsetY == offsetY_)
        return;
    setUp({sourceWidth, destWidth, offsetX}, {sourceHeight, destHeight, offsetY}, filter, support);
    filter_ = filter;
    support_ = support;
    offsetX_ = offsetX;
    offsetY_ = offsetY;
}

void ResamplePlan::setUp(const Pass& across, const Pass& down, ResampleFilterFunction filter, float support) {
    columns_.build(across.sourceSize, across.destSize, filter, support, across.offset, across.scale, across.first);
    rows_.build(down.sourceSize, down.destSize, filter, support, down.offset, down.scale, down.first);
    intermediate_.resize(across.destSize, down.sourceSize);
    sums_.assign(static_cast<std::size_t>(across.destSize) * 3, 0.0f);
    sourceWidth_ = across.sourceSize;
    sourceHeight_ = down.sourceSize;
    destWidth_ = across.destSize;
    destHeight_ = down.destSize;
}

void ResamplePlan::apply(const Bitmap24& source, Bitmap24& dest) {
    if (source.width() != sourceWidth_ || source.height() != sourceHeight_)
        throw PlanexorError("Resampling source does not match its plan");
    dest.resize(destWidth_, destHeight_);
    if (destWidth_ == 0 || destHeight_ == 0) return;

    // Horizontal pass: each source row into the intermediate's row.
    for (int y = 0; y < sourceHeight_; ++y) {
        const std::uint8_t* in = source.row(y);
        std::uint8_t* out = intermediate_.row(y);
        for (int i = 0; i < destWidth_; ++i) {
            float blue = 0.0f, green = 0.0f, red = 0.0f;
            for (int k = columns_.begin(i), end = columns_.end(i); k < end; ++k) {
                const std::uint8_t* pixel = in + static_cast<std::size_t>(columns_.sourceIndex(k)) * 3;
                const float weight = columns_.weight(k);
                blue += pixel[0] * weight;
                green += pixel[1] * weight;
                red += pixel[2] * weight;
            }
            out[3 * i] = storeChannel(blue);
            out[3 * i + 1] = storeChannel(green);
            out[3 * i + 2] = storeChannel(red);
        }
    }

    // Vertical pass, a whole row at a time: every output pixel still sums its
    // list in order from 0, but the inner loop runs along contiguous bytes.
    const std::size_t rowValues = static_cast<std::size_t>(destWidth_) * 3;
    float* __restrict sums = sums_.data();
    for (int i = 0; i < destHeight_; ++i) {
        std::fill(sums, sums + rowValues, 0.0f);
        for (int k = rows_.begin(i), end = rows_.end(i); k < end; ++k) {
            const std::uint8_t* __restrict in = intermediate_.row(rows_.sourceIndex(k));
            const float weight = rows_.weight(k);
            addWeightedRow(sums, in, rowValues, weight);
        }
        storeRow(sums, dest.row(i), rowValues);
    }
}

void ResamplePlan::stretchWindow(const Bitmap24& source, int wholeWidth, int wholeHeight, int left, int top,
                                 int width, int height, ResampleFilterFunction filter, float support,
                                 Bitmap24& dest) {
    if (source.width() < 1 || source.height() < 1) throw PlanexorError("Source bitmap too small");
    if (width < 0 || height < 0) throw PlanexorError("Invalid image size");
    const float scaleX = resampleScale(source.width(), wholeWidth);
    const float scaleY = resampleScale(source.height(), wholeHeight);
    // The source positions the window's lists reach, a pixel more each side:
    // copied as the whole picture's lists read them, mirror included, so that
    // every list of the window finds its pixels inside the copy.
    const auto reached = [&](int first, int count, float scale) {
        const float reach = scale < 1.0f ? support / scale : support;
        const int from = static_cast<int>(std::floor(static_cast<float>(first) / scale - reach)) - 1;
        const int to = static_cast<int>(std::ceil(static_cast<float>(first + count - 1) / scale + reach)) + 1;
        return std::pair{from, std::max(to - from + 1, 1)};
    };
    const auto [fromX, columns] = reached(left, width, scaleX);
    const auto [fromY, rows] = reached(top, height, scaleY);
    window_.resize(columns, rows);
    for (int y = 0; y < rows; ++y) {
        const std::uint8_t* in = source.row(mirroredIndex(fromY + y, source.height()));
        std::uint8_t* out = window_.row(y);
        for (int x = 0; x < columns; ++x)
            std::copy_n(in + 3 * static_cast<std::size_t>(mirroredIndex(fromX + x, source.width())), 3, out + 3 * x);
    }
    // Output i sits on whole position (first + i) / scale, which is the
    // copy's position less its start: the same weights as the whole picture's.
    setUp({columns, width, static_cast<float>(-fromX), scaleX, left},
          {rows, height, static_cast<float>(-fromY), scaleY, top}, filter, support);
    filter_ = nullptr;  // lists of a window: the next prepare builds its own
    apply(window_, dest);
}

void Stretch(const Bitmap24& Source, Bitmap24& Dest, ResampleFilterFunction Filter, float Support) {
    ResamplePlan plan;
    plan.prepare(Source.width(), Source.height(), Dest.width(), Dest.height(), Filter, Support);
    plan.apply(Source, Dest);
}

}  // namespace planexor
