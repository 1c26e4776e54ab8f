#include "align/optimize.h"

#include <algorithm>
#include <cstring>

#include "core/pixel.h"
#include "core/vector_lanes.h"

namespace planexor {
namespace {

constexpr int LargestBox = 256;
constexpr int LargestSide = 2 * MaxSearchArea + LargestBox + 1;

// The difference registration leaves when resampling: no sum can beat it honestly.
constexpr float ResampledDifference = 1.0f;
constexpr float Unreachable = 1.5e38f;

float greyAt(const Bitmap24& image, long long x, long long y) {
    const std::uint8_t* p = image.pixel(static_cast<int>(x), static_cast<int>(y));
    return greyValue(p[2], p[1], p[0]);
}

bool inside(long long x, long long y, int width, int height, const Bitmap24& image) {
    return x >= 0 && y >= 0 && x < width && y < height && x < image.width() && y < image.height();
}

// The sum of ((r - f) - c)^2 over n columns of n cells, four at a time in
// double; built once portable and once for wide vector units.
PLANEXOR_INLINE double boxSum(const float* r, const float* f, std::size_t stride, int n, double c) {
    using lanes::D4;
    const D4 offset = {c, c, c, c};
    double total = 0.0;
    for (int i = 0; i < n; ++i, r += stride, f += stride) {
        D4 sum = {0, 0, 0, 0};
        int j = 0;
        for (; j + 4 <= n; j += 4) {
            const D4 d = (lanes::load4(r + j) - lanes::load4(f + j)) - offset;
            sum += d * d;
        }
        double column = (sum[0] + sum[1]) + (sum[2] + sum[3]);
        for (; j < n; ++j) {
            const double d = (static_cast<double>(r[j]) - f[j]) - c;
            column += d * d;
        }
        total += column;
    }
    return total;
}

double boxSumPortable(const float* r, const float* f, std::size_t stride, int n, double c) {
    return boxSum(r, f, stride, n, c);
}

#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE double boxSumWide(const float* r, const float* f, std::size_t stride, int n, double c) {
    return boxSum(r, f, stride, n, c);
}
#endif

}  // namespace

FrameOptimizer::FrameOptimizer()
    : reference_(static_cast<std::size_t>(LargestSide) * LargestSide),
      frame_(static_cast<std::size_t>(LargestSide) * LargestSide) {}

void FrameOptimizer::extract(const Bitmap24& reference, const Bitmap24& frame, int shiftX, int shiftY,
                             const OptimizePlacement& placement, const OptimizeOptions& options) {
    const int reach = search_ + box_ / 2;
    std::fill(reference_.begin(), reference_.end(), 0.0f);
    std::fill(frame_.begin(), frame_.end(), 0.0f);
    const long long baseX = placement.centreX, baseY = placement.centreY;
    const TFloatPlane* dark = options.dark;
    const auto darkAt = [&](long long x, long long y) -> float {
        const long long dx = nearest(x / options.darkScale), dy = nearest(y / options.darkScale);
        if (dx < 0 || dy < 0 || dx >= std::min(options.darkWidth, MaxImageSide) ||
            dy >= std::min(options.darkHeight, MaxImageSide))
            return 0.0f;
        return (*dark)[static_cast<int>(dx)][static_cast<int>(dy)] / 128.0f;
    };
    double referenceSum = 0.0, frameSum = 0.0;
    long long count = 0;
    for (int b = -reach; b <= reach; ++b) {
        float* r = &reference_[static_cast<std::size_t>(reach + b) * side_];
        float* f = &frame_[static_cast<std::size_t>(reach + b) * side_];
        const long long rx = baseX + b, fx = baseX + shiftX + b;
        for (int a = -reach; a <= reach; ++a) {
            const long long ry = baseY + a, fy = baseY + shiftY + a;
            // Exactly the positions read are tested, the reference's as the frame's.
            if (!inside(rx, ry, placement.width, placement.height, reference) ||
                !inside(fx, fy, placement.width, placement.height, frame))
                continue;
            float rv = greyAt(reference, rx, ry), fv = greyAt(frame, fx, fy);
            if (dark) {
                rv -= darkAt(rx, ry);
                fv -= darkAt(fx, fy);
            }
            r[reach + a] = rv;
            f[reach + a] = fv;
            referenceSum += rv;
            frameSum += fv;
            ++count;
        }
    }
    if (options.biasSubtract) {
        referenceSum = frameSum = 0.0;
        const float bias = static_cast<float>(nearest(options.bias));
        for (int i = 2; i <= box_ - 3; ++i)
            for (int j = 2; j <= box_ - 3; ++j) {
                float& r = reference_[static_cast<std::size_t>(i) * side_ + j];
                float& f = frame_[static_cast<std::size_t>(i) * side_ + j];
                r = std::max(r - bias, 0.0f);
                f = std::max(f - bias, 0.0f);
                referenceSum += r;
                frameSum += f;
            }
    }
    count = std::max(count, 1LL);
    referenceMean_ = referenceSum / static_cast<double>(count);
    frameMean_ = frameSum / static_cast<double>(count);
}

double FrameOptimizer::sumOfSquares(int dx, int dy) const {
    const int s = search_;
    const double c = referenceMean_ - frameMean_;
    const float* r = &reference_[static_cast<std::size_t>(s) * side_ + s];
    const float* f = &frame_[static_cast<std::size_t>(s + dx) * side_ + s + dy];
    const std::size_t stride = static_cast<std::size_t>(side_);
#ifdef PLANEXOR_HAS_WIDE
    // The same additions in the same order: both builds give the same sums.
    if (useWideVectors(VectorCode::Best)) return boxSumWide(r, f, stride, box_, c);
#endif
    return boxSumPortable(r, f, stride, box_, c);
}

FrameOptimizer::Outcome FrameOptimizer::optimize(TFrameRec& record, bool firstField, const Bitmap24& reference,
                                                 const Bitmap24& frame, const OptimizePlacement& placement,
                                                 const OptimizeOptions& options) {
    box_ = std::clamp(options.boxSize, 2, LargestBox);
    search_ = std::clamp(options.searchArea, MinSearchArea, MaxSearchArea);
    side_ = 2 * search_ + box_ + 1;

    float& difference = firstField ? record.FieldDifference : record.Difference;
    std::int32_t& shiftX = firstField ? record.FieldShiftX : record.ShiftX;
    std::int32_t& shiftY = firstField ? record.FieldShiftY : record.ShiftY;
    double best = difference;
    if (difference == ResampledDifference) best = difference = Unreachable;
    // Candidates stay relative to where the frame started this step.
    const int startX = shiftX, startY = shiftY;
    extract(reference, frame, startX, startY, placement, options);

    Outcome outcome{startX, startY, best, false};
    for (int dx = -search_; dx <= search_; ++dx)
        for (int dy = -search_; dy <= search_; ++dy) {
            const double sum = sumOfSquares(dx, dy);
            // Without fields a later equal sum wins; with fields the earlier stays.
            if (options.interlaced ? !(sum < best) : !(sum <= best)) continue;
            best = sum;
            difference = static_cast<float>(sum);
            shiftX = startX + dx;
            shiftY = startY + dy;
        }
    outcome.shiftX = shiftX;
    outcome.shiftY = shiftY;
    outcome.best = best;
    outcome.moved = shiftX != startX || shiftY != startY;
    // A sub-pixel fraction belonged to the whole shift it was found beside.
    if (outcome.moved) (firstField ? record.FieldSubShiftX : record.SubShiftX) = 0.0f;
    if (outcome.moved) (firstField ? record.FieldSubShiftY : record.SubShiftY) = 0.0f;
    return outcome;
}

bool aboveQualityLimit(const Workspace& workspace, int rank, int lowerQualityPercent) {
    const float bestQuality = workspace.Ranking[0].Quality;
    const double best = bestQuality == 0.0f ? 1.0 : bestQuality;
    return 100.0 * workspace.Ranking[std::clamp(rank, 0, LastFrameNumber)].Quality / best >= lowerQualityPercent;
}

double optimizedTotal(const Workspace& workspace, int lastRank, int lowerQualityPercent) {
    double total = 0.0;
    for (int rank = 0; rank <= std::clamp(lastRank, 0, LastFrameNumber); ++rank) {
        if (!aboveQualityLimit(workspace, rank, lowerQualityPercent)) continue;
        total += workspace.FrameRecs[std::clamp(workspace.Ranking[rank].Frame, 0, LastFrameNumber)].Difference;
    }
    return 0.001 * total;
}

}  // namespace planexor
