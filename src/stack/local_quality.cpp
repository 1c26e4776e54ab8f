#include "stack/local_quality.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "core/pixel.h"

namespace planexor {
namespace {

constexpr int GridStep = 8;      // weights are interpolated between nodes this far apart
constexpr int SharesKept = 8;    // the nearest points that share a node
// How far a point's share reaches, in point spacings: far enough that a
// pixel between points takes from several, so no seam shows where the
// frames kept change.
constexpr double ShareSpread = 1.0;

}  // namespace

void LocalQuality::start(const AlignmentPoints& points, int width, int height, int poolSize) {
    centres_.clear();
    for (const AlignmentPoints::Point& point : points.points()) centres_.push_back({point.x, point.y});
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    poolSize_ = std::max(poolSize, 0);
    patch_ = AlignmentPoints::BoxSize;
    const std::size_t count = centres_.size();
    scores_.assign(static_cast<std::size_t>(poolSize_) * count, 0.0f);
    keeps_.assign(scores_.size(), 0);
    gridColumns_ = width_ / GridStep + 2;
    gridRows_ = height_ / GridStep + 2;
    const std::size_t nodes = static_cast<std::size_t>(gridColumns_) * gridRows_;
    weights_.assign(nodes, 0.0f);
    shares_.clear();
    sharers_.clear();
    if (count == 0) return;

    // Each node shares among its nearest points by a Gaussian of the
    // distance, taken relative to the nearest so that it never vanishes.
    const double sigma = ShareSpread * std::max(points.spacing(), 1);
    const double spread = -0.5 / (sigma * sigma);
    const std::size_t kept = std::min<std::size_t>(SharesKept, count);
    shares_.assign(nodes * kept, 0.0f);
    sharers_.assign(nodes * kept, 0);
    std::vector<std::pair<double, int>> distances(count);
    for (int j = 0; j < gridRows_; ++j)
        for (int i = 0; i < gridColumns_; ++i) {
            for (std::size_t k = 0; k < count; ++k) {
                const double dx = centres_[k].x - i * GridStep, dy = centres_[k].y - j * GridStep;
                distances[k] = {dx * dx + dy * dy, static_cast<int>(k)};
            }
            std::partial_sort(distances.begin(), distances.begin() + static_cast<std::ptrdiff_t>(kept), distances.end());
            const std::size_t node = static_cast<std::size_t>(j) * gridColumns_ + i;
            double total = 0.0;
            for (std::size_t m = 0; m < kept; ++m) {
                const double share = std::exp(spread * (distances[m].first - distances[0].first));
                shares_[node * kept + m] = static_cast<float>(share);
                sharers_[node * kept + m] = distances[m].second;
                total += share;
            }
            for (std::size_t m = 0; m < kept; ++m) shares_[node * kept + m] /= static_cast<float>(total);
        }
}

float LocalQuality::sharpness(const Bitmap24& frame, int left, int top) {
    // Grey in two by two blocks (noise halves, detail stays), then the
    // gradient energy against the patch's brightness squared: a patch only
    // brighter or darker scores the same.
    const int side = patch_ / 2;
    grey_.resize(static_cast<std::size_t>(side) * side);
    double sum = 0.0;
    for (int v = 0; v < side; ++v) {
        const std::uint8_t* upper = frame.pixel(left, top + 2 * v);
        const std::uint8_t* lower = frame.pixel(left, top + 2 * v + 1);
        for (int u = 0; u < side; ++u, upper += 6, lower += 6) {
            const float value = greyValue(upper[2], upper[1], upper[0]) + greyValue(upper[5], upper[4], upper[3]) +
                                greyValue(lower[2], lower[1], lower[0]) + greyValue(lower[5], lower[4], lower[3]);
            grey_[static_cast<std::size_t>(v) * side + u] = 0.25f * value;
            sum += 0.25 * value;
        }
    }
    const double mean = sum / (static_cast<double>(side) * side);
    if (!(mean >= 1.0)) return 0.0f;
    double energy = 0.0;
    for (int v = 1; v < side - 1; ++v)
        for (int u = 1; u < side - 1; ++u) {
            const float* at = grey_.data() + static_cast<std::size_t>(v) * side + u;
            const double gx = at[1] - at[-1], gy = at[side] - at[-side];
            energy += gx * gx + gy * gy;
        }
    return static_cast<float>(energy / (mean * mean));
}

void LocalQuality::score(int slot, const Bitmap24& frame, double shiftX, double shiftY) {
    if (slot < 0 || slot >= poolSize_ || !std::isfinite(shiftX) || !std::isfinite(shiftY)) return;
    const long long wholeX = std::llround(std::clamp(shiftX, -1e6, 1e6));
    const long long wholeY = std::llround(std::clamp(shiftY, -1e6, 1e6));
    for (std::size_t k = 0; k < centres_.size(); ++k) {
        const long long left = centres_[k].x + wholeX - patch_ / 2, top = centres_[k].y + wholeY - patch_ / 2;
        const bool inside = left >= 0 && top >= 0 && left + patch_ <= frame.width() && top + patch_ <= frame.height();
        scores_[static_cast<std::size_t>(slot) * centres_.size() + k] =
            inside ? sharpness(frame, static_cast<int>(left), static_cast<int>(top)) : 0.0f;
    }
}

std::vector<int> LocalQuality::choose(int kept) {
    const std::size_t count = centres_.size();
    std::fill(keeps_.begin(), keeps_.end(), 0);
    std::vector<int> slots(static_cast<std::size_t>(poolSize_));
    for (std::size_t k = 0; k < count; ++k) {
        std::iota(slots.begin(), slots.end(), 0);
        std::stable_sort(slots.begin(), slots.end(), [&](int a, int b) {
            return scores_[static_cast<std::size_t>(a) * count + k] > scores_[static_cast<std::size_t>(b) * count + k];
        });
        const std::size_t keep = std::min(slots.size(), static_cast<std::size_t>(std::max(kept, 0)));
        for (std::size_t n = 0; n < keep; ++n) keeps_[static_cast<std::size_t>(slots[n]) * count + k] = 1;
    }
    std::vector<int> chosen;
    for (int slot = 0; slot < poolSize_; ++slot) {
        const unsigned char* keeps = keeps_.data() + static_cast<std::size_t>(slot) * count;
        if (std::find(keeps, keeps + count, 1) != keeps + count) chosen.push_back(slot);
    }
    return chosen;
}

void LocalQuality::select(int slot) {
    std::fill(weights_.begin(), weights_.end(), 0.0f);
    if (slot < 0 || slot >= poolSize_ || centres_.empty()) return;
    const std::size_t kept = shares_.size() / weights_.size();
    const unsigned char* keeps = keeps_.data() + static_cast<std::size_t>(slot) * centres_.size();
    for (std::size_t node = 0; node < weights_.size(); ++node) {
        float weight = 0.0f;
        for (std::size_t m = 0; m < kept; ++m)
            if (keeps[sharers_[node * kept + m]]) weight += shares_[node * kept + m];
        weights_[node] = weight;
    }
}

float LocalQuality::weight(int x, int y) const {
    if (weights_.empty()) return 0.0f;
    const int column = std::clamp(x, 0, (gridColumns_ - 1) * GridStep - 1), row = std::clamp(y, 0, (gridRows_ - 1) * GridStep - 1);
    const int i = column / GridStep, j = row / GridStep;
    const float fx = static_cast<float>(column - i * GridStep) / GridStep, fy = static_cast<float>(row - j * GridStep) / GridStep;
    const float* at = weights_.data() + static_cast<std::size_t>(j) * gridColumns_ + i;
    const float upper = at[0] + fx * (at[1] - at[0]);
    const float lower = at[gridColumns_] + fx * (at[gridColumns_ + 1] - at[gridColumns_]);
    return upper + fy * (lower - upper);
}

}  // namespace planexor
