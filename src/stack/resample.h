#pragma once
#include <array>
#include <string_view>
#include <vector>

#include "core/bitmap24.h"

namespace planexor {

// A reconstruction filter: f(x) is 0 for |x| at or beyond `support`.
using ResampleFilterFunction = float (*)(float);

struct ResampleFilter {
    std::string_view name;
    ResampleFilterFunction function;
    float support;
};

float BoxFilter(float x);
float TriangleFilter(float x);
float HermiteFilter(float x);
float BellFilter(float x);
float BSplineFilter(float x);
float Lanczos3Filter(float x);
float MitchellFilter(float x);  // Mitchell-Netravali, B = C = 1/3

inline constexpr int ResampleFilterCount = 7;

// Box, Triangle, Hermite, Bell, B-Spline, Lanczos3, Mitchell, in this order.
const std::array<ResampleFilter, ResampleFilterCount>& resampleFilterTable();

// The filter radio groups offer the last four entries (Bell, B-Spline,
// Lanczos, Mitchell): item i is table entry i + 3. Throws for any other item.
const ResampleFilter& filterForItem(int item);

// Output pixel i of a pass sits on source position i / scale: the first and
// last pixels of a row map onto each other.
float resampleScale(int sourceSize, int destSize);

// For each output pixel of one pass, the source pixels it reads and their
// weights, packed one list after the other.
class ContributionLists {
public:
    // `offset` moves every output pixel's source position by that many source
    // pixels. A window of a larger scaling gives its scale (0: from the sizes)
    // and the larger output's index of its first pixel.
    void build(int sourceSize, int destSize, ResampleFilterFunction filter, float support, float offset = 0.0f,
               float scale = 0.0f, int firstOutput = 0);

    int size() const { return static_cast<int>(starts_.size()) - 1; }
    int begin(int output) const { return starts_[output]; }
    int end(int output) const { return starts_[output + 1]; }
    int sourceIndex(int entry) const { return indices_[entry]; }
    float weight(int entry) const { return weights_[entry]; }

private:
    std::vector<int> starts_{0};
    std::vector<int> indices_;
    std::vector<float> weights_;
};

// The separable two-pass scaler with its contribution lists worked out once
// for one source size, destination size and filter, so a run that scales
// every frame alike pays for them once. After the first use with a given
// size no call allocates.
class ResamplePlan {
public:
    // Works out the lists unless they already fit these sizes, filter and
    // offsets (source pixels added to every output pixel's position, for
    // placing a picture between pixels). Throws "Source bitmap too small"
    // for a source below 1 x 1.
    void prepare(int sourceWidth, int sourceHeight, int destWidth, int destHeight,
                 ResampleFilterFunction filter, float support, float offsetX = 0.0f, float offsetY = 0.0f);

    // Scales `source`, which must have the prepared source size, into `dest`,
    // which takes the prepared destination size.
    void apply(const Bitmap24& source, Bitmap24& dest);

    // dest := the width x height pixels from (left, top) of what Stretch gives
    // for source at wholeWidth x wholeHeight, byte for byte, at the cost of
    // the window alone. Pixels beyond the whole picture read as its mirror
    // continues it.
    void stretchWindow(const Bitmap24& source, int wholeWidth, int wholeHeight, int left, int top, int width,
                       int height, ResampleFilterFunction filter, float support, Bitmap24& dest);

    int sourceWidth() const { return sourceWidth_; }
    int sourceHeight() const { return sourceHeight_; }
    int destWidth() const { return destWidth_; }
    int destHeight() const { return destHeight_; }
    const ContributionLists& columns() const { return columns_; }
    const ContributionLists& rows() const { return rows_; }

private:
    // One pass's sizes and where its output sits on its source (ContributionLists::build).
    struct Pass {
        int sourceSize, destSize;
        float offset = 0.0f, scale = 0.0f;
        int first = 0;
    };
    void setUp(const Pass& across, const Pass& down, ResampleFilterFunction filter, float support);

    int sourceWidth_ = -1, sourceHeight_ = -1, destWidth_ = -1, destHeight_ = -1;
    ResampleFilterFunction filter_ = nullptr;
    float support_ = 0.0f;
    float offsetX_ = 0.0f, offsetY_ = 0.0f;
    ContributionLists columns_, rows_;
    Bitmap24 intermediate_;       // destination width x source height
    Bitmap24 window_;             // the source pixels a window's lists read
    std::vector<float> sums_;     // one destination row of channel sums
};

// Scales Source to the current size of Dest. Dest keeps its size; a Source
// below 1 x 1 fails with "Source bitmap too small" and leaves Dest untouched.
void Stretch(const Bitmap24& Source, Bitmap24& Dest, ResampleFilterFunction Filter, float Support);

}  // namespace planexor
