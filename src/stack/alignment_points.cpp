#include "stack/alignment_points.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

#include "align/registration.h"
#include "core/pixel.h"
#include "core/vector_lanes.h"

namespace planexor {
namespace {

constexpr int Box = AlignmentPoints::BoxSize;
constexpr int HalfBox = Box / 2;
constexpr int Radius = AlignmentPoints::SearchRadius;
constexpr int Region = Box + 2 * Radius;   // a point's search area, frame pixels
constexpr int HalfRegion = Region / 2;     // the same at half resolution
constexpr int HalfRadius = Radius / 2;
constexpr int Offsets = 2 * Radius + 1;
constexpr int GridStep = 8;                // the field is interpolated between nodes this far apart
// A cell whose corners all move less than this is copied as it is.
constexpr float NegligibleShift = 0.02f;
// The field's Gaussian, and how far it reaches, in point spacings.
constexpr double FieldSpread = 0.5, FieldReach = 3.0 * FieldSpread;
// The weight of a shift taken from the neighbours, or of one along bands,
// against a firmly measured one.
constexpr float GuessWeight = 0.05f;
// A match worse than this is no match: the box holds noise or other detail.
constexpr double LeastCorrelation = 0.25;
// The refinement stops once its shift moves less than this, or after this
// many steps; one that wanders further than RefineReach from the
// correlation's peak has lost the detail, and the peak stands.
constexpr double RefineDone = 0.01;
constexpr int RefineSteps = 3;
constexpr double RefineReach = 1.5;
// Until a point's scatter is known, the reference is taken to be as blurred
// as frames placed at whole pixels make it (a uniform spread of one pixel),
// worth this many frames; scatter beyond BlurLimit is not matched.
constexpr double PriorScatter = 1.0 / 12.0, PriorFrames = 4.0;
constexpr int BlurReach = 6;
constexpr double BlurLimit = BlurReach / 3.0, LeastBlur = 0.2;
static_assert(Radius % 2 == 0, "the coarse search works in whole half-resolution pixels");
static_assert(HalfBox % 8 == 0, "correlations take eight columns at a time");
static_assert(Region % 4 == 0, "the search area is blurred four columns at a time");

float grey(const std::uint8_t* bgr) { return greyValue(bgr[2], bgr[1], bgr[0]); }

// The whole pixels nearest a frame's shift; a shift that is no number has
// been refused before, one beyond a million pixels reaches no bitmap anyway.
long long wholePixels(double shift) { return std::llround(std::clamp(shift, -1e6, 1e6)); }

// A raised cosine over n pixels, so that detail at a box's edge, which
// enters and leaves as the box moves, weighs little.
std::vector<float> hannWindow(int n) {
    std::vector<float> window(static_cast<std::size_t>(n) * n);
    std::vector<double> line(static_cast<std::size_t>(n));
    constexpr double Turn = 2.0 * 3.14159265358979;
    for (int i = 0; i < n; ++i) line[static_cast<std::size_t>(i)] = 0.5 - 0.5 * std::cos(Turn * (i + 0.5) / n);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x)
            window[static_cast<std::size_t>(y) * n + x] =
                static_cast<float>(line[static_cast<std::size_t>(x)] * line[static_cast<std::size_t>(y)]);
    return window;
}

// Two by two means of a square of side 2n into one of side n.
void halve(const float* in, int n, float* out) {
    for (int y = 0; y < n; ++y) {
        const float* top = in + static_cast<std::size_t>(2 * y) * 2 * n;
        const float* bottom = top + 2 * n;
        for (int x = 0; x < n; ++x)
            out[y * n + x] = 0.25f * (top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1]);
    }
}

// Normalised correlation of a zero-mean weighted template (side n, already
// multiplied by its window) with the part of `area` (side `stride`) at
// (left, top). The frame's own mean and gain drop out.
double correlation(const float* weighted, const float* window, double windowTotal, double energy, int n,
                   const float* area, int stride, int left, int top) {
    // Eight columns at a time: every box side is a multiple of eight.
    using lanes::F8;
    using lanes::load;
    F8 cross = {}, sum = {}, squares = {};
    for (int y = 0; y < n; ++y) {
        const float* in = area + static_cast<std::size_t>(top + y) * stride + left;
        const float* t = weighted + static_cast<std::size_t>(y) * n;
        const float* w = window + static_cast<std::size_t>(y) * n;
        for (int x = 0; x < n; x += 8) {
            const F8 value = load<F8>(in + x), weight = load<F8>(w + x);
            cross += load<F8>(t + x) * value;
            sum += weight * value;
            squares += weight * value * value;
        }
    }
    double crossTotal = 0.0, sumTotal = 0.0, squaresTotal = 0.0;
    for (int k = 0; k < 8; ++k) {
        crossTotal += cross[k];
        sumTotal += sum[k];
        squaresTotal += squares[k];
    }
    const double variance = squaresTotal - sumTotal * sumTotal / windowTotal;
    if (!(variance > 1e-6) || !(energy > 1e-6)) return 0.0;
    return crossTotal / std::sqrt(variance * energy);
}

// Catmull-Rom weights of the four samples around a point `t` past the second.
PLANEXOR_INLINE void cubicWeights(float t, float* weight) {
    weight[0] = 0.5f * ((-t + 2.0f) * t - 1.0f) * t;
    weight[1] = 0.5f * ((3.0f * t - 5.0f) * t * t + 2.0f);
    weight[2] = 0.5f * ((-3.0f * t + 4.0f) * t + 1.0f) * t;
    weight[3] = 0.5f * (t - 1.0f) * t * t;
}

float median(std::vector<float>& values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return *middle;
}

}  // namespace

void AlignmentPoints::startReference(int width, int height) {
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    const std::size_t size = static_cast<std::size_t>(width_) * height_;
    sum_.assign(size, 0.0f);
    count_.assign(size, 0);
    reference_.clear();
    points_.clear();
    templates_.clear();
    neighbours_.clear();
}

void AlignmentPoints::addToReference(const Bitmap24& frame, double shiftX, double shiftY) {
    if (!std::isfinite(shiftX) || !std::isfinite(shiftY)) return;
    // Placed where the stack places the frame, fraction included (sub-pixel
    // or resampled shifts): the points measure each frame beyond that shift,
    // so a reference at rounded shifts would move the whole stack by the
    // fractions' mean. The fraction is read bilinearly between neighbours.
    shiftX = std::clamp(shiftX, -1e6, 1e6);
    shiftY = std::clamp(shiftY, -1e6, 1e6);
    const long long wholeX = static_cast<long long>(std::floor(shiftX));
    const long long wholeY = static_cast<long long>(std::floor(shiftY));
    const float fx = static_cast<float>(shiftX - static_cast<double>(wholeX));
    const float fy = static_cast<float>(shiftY - static_cast<double>(wholeY));
    const int nextX = fx > 0.0f ? 1 : 0, nextY = fy > 0.0f ? 1 : 0;
    const long long x0 = std::max(0LL, -wholeX), x1 = std::min<long long>(width_, frame.width() - wholeX - nextX);
    const long long y0 = std::max(0LL, -wholeY), y1 = std::min<long long>(height_, frame.height() - wholeY - nextY);
    for (long long y = y0; y < y1; ++y) {
        const std::uint8_t* in = frame.pixel(static_cast<int>(x0 + wholeX), static_cast<int>(y + wholeY));
        const std::uint8_t* below = in + (nextY ? frame.rowBytes() : 0);
        float* sum = sum_.data() + static_cast<std::size_t>(y) * width_;
        int* count = count_.data() + static_cast<std::size_t>(y) * width_;
        for (long long x = x0; x < x1; ++x, in += 3, below += 3) {
            if (nextX == 0 && nextY == 0) {
                sum[x] += grey(in);
            } else {
                const float top = (1.0f - fx) * grey(in) + fx * grey(in + 3 * nextX);
                const float bottom = (1.0f - fx) * grey(below) + fx * grey(below + 3 * nextX);
                sum[x] += (1.0f - fy) * top + fy * bottom;
            }
            ++count[x];
        }
    }
}

int AlignmentPoints::placePoints(int requested) {
    points_.clear();
    templates_.clear();
    neighbours_.clear();
    reference_.assign(sum_.size(), 0.0f);
    for (std::size_t i = 0; i < sum_.size(); ++i)
        if (count_[i] > 0) reference_[i] = sum_[i] / static_cast<float>(count_[i]);
    const int margin = HalfBox + Radius + 1;
    if (requested == 0 || width_ <= 2 * margin || height_ <= 2 * margin) return 0;

    // The disc: what stands clearly above the sky.
    std::vector<float> sample;
    for (std::size_t i = 0; i < reference_.size(); i += 7) sample.push_back(reference_[i]);
    std::sort(sample.begin(), sample.end());
    const float sky = sample[sample.size() / 20];
    const float bright = sample[sample.size() - 1 - sample.size() / 200];
    if (!(bright - sky >= 4.0f)) return 0;
    const float threshold = sky + 0.25f * (bright - sky);
    long long area = 0;
    double centreX = 0, centreY = 0;
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            if (reference_[static_cast<std::size_t>(y) * width_ + x] >= threshold) {
                ++area;
                centreX += x;
                centreY += y;
            }
    if (area == 0) return 0;
    centreX /= static_cast<double>(area);
    centreY /= static_cast<double>(area);
    // Auto: about AutoPoints over a small disc, one every AutoSpacing pixels over a large one.
    const int wanted = requested > 0 ? requested : AutoPoints;
    spacing_ = std::max(8, static_cast<int>(std::lround(std::sqrt(static_cast<double>(area) / wanted))));
    if (requested == Auto) spacing_ = std::clamp(spacing_, AutoSpacing / 2, AutoSpacing);

    window_ = hannWindow(Box);
    halfWindow_ = hannWindow(HalfBox);
    windowTotal_ = std::accumulate(window_.begin(), window_.end(), 0.0);
    halfWindowTotal_ = std::accumulate(halfWindow_.begin(), halfWindow_.end(), 0.0);
    // Grid nodes through the disc's centre whose box lies on the disc.
    struct Candidate {
        Point point;
        double weakest;  // the smaller eigenvalue of the box's gradient tensor
    };
    std::vector<Candidate> candidates;
    const int firstX = static_cast<int>(std::lround(centreX)) % spacing_;
    const int firstY = static_cast<int>(std::lround(centreY)) % spacing_;
    for (int y = firstY; y < height_; y += spacing_) {
        if (y < margin || y >= height_ - margin) continue;
        for (int x = firstX; x < width_; x += spacing_) {
            if (x < margin || x >= width_ - margin) continue;
            int onDisc = 0;
            double xx = 0, yy = 0, xy = 0;
            for (int v = y - HalfBox; v < y + HalfBox; ++v) {
                const float* row = reference_.data() + static_cast<std::size_t>(v) * width_;
                for (int u = x - HalfBox; u < x + HalfBox; ++u) {
                    onDisc += row[u] >= threshold;
                    const double gx = row[u + 1] - row[u - 1], gy = row[u + width_] - row[u - width_];
                    xx += gx * gx;
                    yy += gy * gy;
                    xy += gx * gy;
                }
            }
            if (onDisc * 2 < Box * Box) continue;
            const double mean = 0.5 * (xx + yy), spread = std::sqrt(0.25 * (xx - yy) * (xx - yy) + xy * xy);
            candidates.push_back({{x, y}, mean - spread});
        }
    }
    if (candidates.empty()) return 0;
    // Bands seen through a small box fix only one direction: such a box
    // would slide along them.
    std::vector<float> weakest;
    for (const Candidate& candidate : candidates) weakest.push_back(static_cast<float>(candidate.weakest));
    const double typical = median(weakest);
    for (const Candidate& candidate : candidates)
        if (candidate.weakest > 0.0 && candidate.weakest >= 0.1 * typical) points_.push_back(candidate.point);

    templates_.resize(points_.size());
    for (std::size_t i = 0; i < points_.size(); ++i) makeTemplate(points_[i], templates_[i]);
    const double reach = 1.6 * spacing_;
    neighbours_.assign(points_.size(), {});
    for (std::size_t i = 0; i < points_.size(); ++i)
        for (std::size_t j = 0; j < points_.size(); ++j) {
            const double dx = points_[i].x - points_[j].x, dy = points_[i].y - points_[j].y;
            if (i != j && dx * dx + dy * dy <= reach * reach) neighbours_[i].push_back(static_cast<int>(j));
        }
    scratch_.medianX.resize(points_.size());
    scratch_.medianY.resize(points_.size());
    scratch_.known.resize(points_.size());
    scratch_.values.reserve(2 * points_.size());
    region_.resize(static_cast<std::size_t>(Region) * Region);
    scatter_.assign(points_.size(), Scatter{});
    sampled_.resize(static_cast<std::size_t>(Box) * Box);
    blurRows_.reserve(region_.size());
    blurTaps_.reserve(2 * BlurReach + 1);
    blurLine_.reserve(static_cast<std::size_t>(Region + 2 * BlurReach));
    halfRegion_.resize(static_cast<std::size_t>(HalfRegion) * HalfRegion);
    return static_cast<int>(points_.size());
}

void AlignmentPoints::makeTemplate(const Point& point, Template& into) const {
    std::vector<float> box(static_cast<std::size_t>(Box) * Box);
    for (int v = 0; v < Box; ++v)
        std::memcpy(box.data() + static_cast<std::size_t>(v) * Box,
                    reference_.data() + static_cast<std::size_t>(point.y - HalfBox + v) * width_ + (point.x - HalfBox),
                    sizeof(float) * Box);
    std::vector<float> half(static_cast<std::size_t>(HalfBox) * HalfBox);
    halve(box.data(), HalfBox, half.data());
    // Each box less its windowed mean, weighted by the window; the mean is returned.
    const auto weigh = [](std::vector<float>& values, const std::vector<float>& window, double& energy) {
        double sum = 0, weights = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            sum += window[i] * values[i];
            weights += window[i];
        }
        const double mean = sum / weights;
        energy = 0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            const double centred = values[i] - mean;
            energy += window[i] * centred * centred;
            values[i] = static_cast<float>(window[i] * centred);
        }
        return mean;
    };
    const std::vector<float> values = box;
    const double mean = weigh(box, window_, into.fullEnergy);
    weigh(half, halfWindow_, into.halfEnergy);
    into.full = std::move(box);
    into.half = std::move(half);

    // The refinement's normal equations: each motion's effect on every
    // pixel of the box, windowed, against every other's.
    const std::size_t size = values.size();
    into.centred.resize(size);
    into.gradX.resize(size);
    into.gradY.resize(size);
    double normal[Motions][Motions] = {};
    for (int v = 0; v < Box; ++v)
        for (int u = 0; u < Box; ++u) {
            const std::size_t i = static_cast<std::size_t>(v) * Box + u;
            const float* at = reference_.data() + static_cast<std::size_t>(point.y - HalfBox + v) * width_ +
                              (point.x - HalfBox + u);
            const double gradX = 0.5 * (at[1] - at[-1]), gradY = 0.5 * (at[width_] - at[-width_]);
            const double across = u - HalfBox, down = v - HalfBox;
            const double effect[Motions] = {gradX, gradY, gradX * across, gradX * down, gradY * across, gradY * down};
            for (int r = 0; r < Motions; ++r)
                for (int c = 0; c < Motions; ++c) normal[r][c] += window_[i] * effect[r] * effect[c];
            into.centred[i] = static_cast<float>(values[i] - mean);
            into.gradX[i] = static_cast<float>(window_[i] * gradX);
            into.gradY[i] = static_cast<float>(window_[i] * gradY);
        }
    // Gauss-Jordan with partial pivoting; a box without detail along some
    // motion has no inverse and is not refined.
    double work[Motions][2 * Motions] = {};
    for (int r = 0; r < Motions; ++r) {
        for (int c = 0; c < Motions; ++c) work[r][c] = normal[r][c];
        work[r][Motions + r] = 1.0;
    }
    const double scale = normal[0][0] + normal[1][1];
    into.refinable = scale > 0.0;
    for (int k = 0; k < Motions && into.refinable; ++k) {
        int pivot = k;
        for (int r = k + 1; r < Motions; ++r)
            if (std::abs(work[r][k]) > std::abs(work[pivot][k])) pivot = r;
        if (!(std::abs(work[pivot][k]) > 1e-9 * scale)) into.refinable = false;
        std::swap(work[k], work[pivot]);
        for (int r = 0; r < Motions && into.refinable; ++r) {
            if (r == k) continue;
            const double factor = work[r][k] / work[k][k];
            for (int c = 0; c < 2 * Motions; ++c) work[r][c] -= factor * work[k][c];
        }
    }
    for (int r = 0; r < Motions && into.refinable; ++r)
        for (int c = 0; c < Motions; ++c)
            into.inverse[static_cast<std::size_t>(r * Motions + c)] = work[r][Motions + c] / work[r][r];
}

// The frame's search area blurred as the reference is at this point, along
// each axis: the reference averages the frames where each had its own shift,
// and a sharper frame against a blurred reference pulls the shift along weak
// detail (bands) towards wherever the difference in sharpness happens to lean.
void AlignmentPoints::blurLikeReference(const Scatter& scatter) {
    const auto spread = [&](double sum, double squares) {
        const double mean = sum / std::max(scatter.frames, 1.0);
        const double scattered = std::max(0.0, squares - scatter.frames * mean * mean);
        return std::sqrt((PriorScatter * PriorFrames + scattered) / (PriorFrames + scatter.frames));
    };
    const auto pass = [&](double sigma, bool alongRows) {
        if (!(sigma >= LeastBlur)) return;
        sigma = std::min(sigma, BlurLimit);
        const int reach = std::min(BlurReach, static_cast<int>(std::ceil(3.0 * sigma)));
        blurTaps_.resize(static_cast<std::size_t>(2 * reach + 1));
        double total = 0.0;
        for (int t = -reach; t <= reach; ++t)
            total += blurTaps_[static_cast<std::size_t>(t + reach)] =
                static_cast<float>(std::exp(-0.5 * t * t / (sigma * sigma)));
        for (float& tap : blurTaps_) tap = static_cast<float>(tap / total);
        // Edge pixels repeated beyond the area; the window weighs them little.
        blurLine_.resize(static_cast<std::size_t>(Region + 2 * reach));
        using lanes::F4;
        using lanes::load;
        using lanes::store;
        if (alongRows) {
            for (int y = 0; y < Region; ++y) {
                float* row = region_.data() + static_cast<std::size_t>(y) * Region;
                for (int x = -reach; x < Region + reach; ++x)
                    blurLine_[static_cast<std::size_t>(x + reach)] = row[std::clamp(x, 0, Region - 1)];
                for (int x = 0; x < Region; x += 4) {
                    F4 sum = {};
                    for (int t = 0; t <= 2 * reach; ++t)
                        sum += blurTaps_[static_cast<std::size_t>(t)] * load<F4>(blurLine_.data() + x + t);
                    store(row + x, sum);
                }
            }
        } else {
            blurRows_.assign(region_.begin(), region_.end());
            for (int y = 0; y < Region; ++y) {
                float* row = region_.data() + static_cast<std::size_t>(y) * Region;
                for (int x = 0; x < Region; x += 4) {
                    F4 sum = {};
                    for (int t = -reach; t <= reach; ++t) {
                        const std::size_t line = static_cast<std::size_t>(std::clamp(y + t, 0, Region - 1));
                        const float tap = blurTaps_[static_cast<std::size_t>(t + reach)];
                        sum += tap * load<F4>(blurRows_.data() + line * Region + x);
                    }
                    store(row + x, sum);
                }
            }
        }
    };
    pass(spread(scatter.sumX, scatter.squaresX), true);
    pass(spread(scatter.sumY, scatter.squaresY), false);
}

// Gauss-Newton from the correlation's peak: the frame's box is read at the
// shift and linear distortion found so far (Catmull-Rom between pixels) and
// matched to the reference's box with its own gain and offset. Where the
// seeing stretches or shears the detail across the box, a shift alone would
// follow whichever part of the box holds the most detail; with the distortion
// modelled the shift is the one at the point. Along bands the correlation's
// peak is broad and its sub-pixel fit leans towards whole pixels; this does not.
bool AlignmentPoints::refine(const Template& model, double& shiftX, double& shiftY) {
    using lanes::F8;
    using lanes::load;
    if (!model.refinable || !(model.fullEnergy > 0.0)) return false;
    double motion[Motions] = {shiftX, shiftY, 0.0, 0.0, 0.0, 0.0};
    // Each lane's distance from the point across the box, eight columns at a time.
    F8 across[Box / 8];
    for (int k = 0; k < Box / 8; ++k)
        for (int lane = 0; lane < 8; ++lane) across[k][lane] = static_cast<float>(8 * k + lane - HalfBox);
    for (int step = 0; step < RefineSteps; ++step) {
        // The frame's box where the motion so far puts it, bilinearly: the
        // search area is already blurred like the reference, so the
        // interpolation's own slight blur matters as little as its cost.
        const float stepX = static_cast<float>(1.0 + motion[2]), stepY = static_cast<float>(motion[4]);
        for (int v = 0; v < Box; ++v) {
            const double down = v - HalfBox;
            const float startX = static_cast<float>(Radius + motion[0] - HalfBox * motion[2] + motion[3] * down);
            const float startY = static_cast<float>(v + Radius + motion[1] - HalfBox * motion[4] + motion[5] * down);
            // Positions are linear along the row, so its ends bound them all.
            const float endX = startX + (Box - 1) * stepX, endY = startY + (Box - 1) * stepY;
            if (!(std::min(startX, endX) >= 0.0f && std::max(startX, endX) < Region - 1.0f &&
                  std::min(startY, endY) >= 0.0f && std::max(startY, endY) < Region - 1.0f))
                return false;
            float* out = sampled_.data() + static_cast<std::size_t>(v) * Box;
            for (int u = 0; u < Box; ++u) {
                const float x = startX + u * stepX, y = startY + u * stepY;
                const int left = static_cast<int>(x), top = static_cast<int>(y);
                const float fx = x - static_cast<float>(left), fy = y - static_cast<float>(top);
                const float* at = region_.data() + static_cast<std::size_t>(top) * Region + left;
                const float upper = at[0] + fx * (at[1] - at[0]);
                const float lower = at[Region] + fx * (at[Region + 1] - at[Region]);
                out[u] = upper + fy * (lower - upper);
            }
        }
        // Gain and offset: the frame's windowed mean, and its match with the
        // reference's zero-mean windowed box.
        F8 sum = {}, cross = {};
        for (std::size_t i = 0; i < sampled_.size(); i += 8) {
            const F8 value = load<F8>(sampled_.data() + i);
            sum += load<F8>(window_.data() + i) * value;
            cross += load<F8>(model.full.data() + i) * value;
        }
        double sumTotal = 0.0, crossTotal = 0.0;
        for (int lane = 0; lane < 8; ++lane) {
            sumTotal += sum[lane];
            crossTotal += cross[lane];
        }
        const double gain = crossTotal / model.fullEnergy;
        if (!(gain > 0.0)) return false;
        const F8 mean = F8{} + static_cast<float>(sumTotal / windowTotal_), scale = F8{} + static_cast<float>(gain);
        // The residual against each motion's effect.
        F8 slopeX = {}, slopeY = {}, slopeXAcross = {}, slopeYAcross = {}, slopeXDown = {}, slopeYDown = {};
        for (int v = 0; v < Box; ++v) {
            F8 rowX = {}, rowY = {};
            for (int k = 0; k < Box / 8; ++k) {
                const std::size_t i = static_cast<std::size_t>(v) * Box + 8 * k;
                const F8 residual = load<F8>(sampled_.data() + i) - mean - scale * load<F8>(model.centred.data() + i);
                const F8 x = load<F8>(model.gradX.data() + i) * residual;
                const F8 y = load<F8>(model.gradY.data() + i) * residual;
                rowX += x;
                rowY += y;
                slopeXAcross += x * across[k];
                slopeYAcross += y * across[k];
            }
            const float down = static_cast<float>(v - HalfBox);
            slopeX += rowX;
            slopeY += rowY;
            slopeXDown += down * rowX;
            slopeYDown += down * rowY;
        }
        double slope[Motions] = {};
        for (int lane = 0; lane < 8; ++lane) {
            slope[0] += slopeX[lane];
            slope[1] += slopeY[lane];
            slope[2] += slopeXAcross[lane];
            slope[3] += slopeXDown[lane];
            slope[4] += slopeYAcross[lane];
            slope[5] += slopeYDown[lane];
        }
        double change[Motions] = {};
        for (int r = 0; r < Motions; ++r) {
            for (int c = 0; c < Motions; ++c)
                change[r] -= model.inverse[static_cast<std::size_t>(r * Motions + c)] * slope[c];
            change[r] /= gain;
            motion[r] += change[r];
        }
        if (!std::isfinite(motion[0]) || !std::isfinite(motion[1])) return false;
        if (std::abs(change[0]) < RefineDone && std::abs(change[1]) < RefineDone) break;
    }
    if (std::abs(motion[0] - shiftX) > RefineReach || std::abs(motion[1] - shiftY) > RefineReach) return false;
    shiftX = motion[0];
    shiftY = motion[1];
    return true;
}

bool AlignmentPoints::registerPoint(const Bitmap24& frame, std::size_t index, int wholeX, int wholeY, float& shiftX,
                                    float& shiftY) {
    const Point& point = points_[index];
    const Template& model = templates_[index];
    const long long left = static_cast<long long>(point.x) + wholeX - HalfBox - Radius;
    const long long top = static_cast<long long>(point.y) + wholeY - HalfBox - Radius;
    if (left < 0 || top < 0 || left + Region > frame.width() || top + Region > frame.height()) return false;
    for (int v = 0; v < Region; ++v) {
        const std::uint8_t* in = frame.pixel(static_cast<int>(left), static_cast<int>(top + v));
        float* out = region_.data() + static_cast<std::size_t>(v) * Region;
        for (int u = 0; u < Region; ++u, in += 3) out[u] = grey(in);
    }
    blurLikeReference(scatter_[index]);
    halve(region_.data(), HalfRegion, halfRegion_.data());

    // Coarse: every even shift at half resolution.
    double best = -2.0;
    int bestX = 0, bestY = 0;
    for (int oy = 0; oy <= 2 * HalfRadius; ++oy)
        for (int ox = 0; ox <= 2 * HalfRadius; ++ox) {
            const double score = correlation(model.half.data(), halfWindow_.data(), halfWindowTotal_,
                                             model.halfEnergy, HalfBox, halfRegion_.data(), HalfRegion, ox, oy);
            if (score > best) {
                best = score;
                bestX = 2 * (ox - HalfRadius);
                bestY = 2 * (oy - HalfRadius);
            }
        }

    // Fine: climb from there through whole shifts.
    std::array<double, Offsets * Offsets> scores;
    scores.fill(std::numeric_limits<double>::quiet_NaN());
    const auto score = [&](int dx, int dy) {
        double& value = scores[static_cast<std::size_t>((dy + Radius) * Offsets + dx + Radius)];
        if (value != value)
            value = correlation(model.full.data(), window_.data(), windowTotal_, model.fullEnergy, Box,
                                region_.data(), Region, dx + Radius, dy + Radius);
        return value;
    };
    for (int step = 0; step < 2 * Radius; ++step) {
        int nextX = bestX, nextY = bestY;
        double top = score(bestX, bestY);
        for (int dy = std::max(bestY - 1, -Radius); dy <= std::min(bestY + 1, Radius); ++dy)
            for (int dx = std::max(bestX - 1, -Radius); dx <= std::min(bestX + 1, Radius); ++dx)
                if (score(dx, dy) > top) {
                    top = score(dx, dy);
                    nextX = dx;
                    nextY = dy;
                }
        if (nextX == bestX && nextY == bestY) break;
        bestX = nextX;
        bestY = nextY;
    }
    // A peak at the search's edge may lie beyond it.
    if (std::abs(bestX) >= Radius || std::abs(bestY) >= Radius || !(score(bestX, bestY) >= LeastCorrelation))
        return false;
    const double centre = score(bestX, bestY);
    const double before = score(bestX - 1, bestY), after = score(bestX + 1, bestY);
    const double above = score(bestX, bestY - 1), below = score(bestX, bestY + 1);
    double refinedX = bestX + peakOffset(before, centre, after), refinedY = bestY + peakOffset(above, centre, below);
    refine(model, refinedX, refinedY);
    shiftX = static_cast<float>(refinedX);
    shiftY = static_cast<float>(refinedY);
    Point& measured = points_[index];
    measured.firmX = static_cast<float>(std::max(0.0, 2.0 * centre - before - after));
    measured.firmY = static_cast<float>(std::max(0.0, 2.0 * centre - above - below));
    return true;
}

void AlignmentPoints::measure(const Bitmap24& frame, double shiftX, double shiftY) {
    if (!std::isfinite(shiftX) || !std::isfinite(shiftY)) {
        for (Point& point : points_) point = {point.x, point.y};
        return;
    }
    const int wholeX = static_cast<int>(wholePixels(shiftX)), wholeY = static_cast<int>(wholePixels(shiftY));
    for (std::size_t i = 0; i < points_.size(); ++i) {
        Point& point = points_[i];
        point.firmX = point.firmY = 0.0f;
        float localX = 0.0f, localY = 0.0f;
        point.found = registerPoint(frame, i, wholeX, wholeY, localX, localY);
        point.shiftX = point.found ? static_cast<float>(wholeX + localX - shiftX) : 0.0f;
        point.shiftY = point.found ? static_cast<float>(wholeY + localY - shiftY) : 0.0f;
    }
    replaceOutliers();
    weighFirmness();
    for (std::size_t i = 0; i < points_.size(); ++i)
        if (points_[i].found) {
            Scatter& scatter = scatter_[i];
            scatter.frames += 1.0;
            scatter.sumX += points_[i].shiftX;
            scatter.squaresX += static_cast<double>(points_[i].shiftX) * points_[i].shiftX;
            scatter.sumY += points_[i].shiftY;
            scatter.squaresY += static_cast<double>(points_[i].shiftY) * points_[i].shiftY;
        }
}

// How sharp the correlation peak is along each axis, against the frame's
// typical peak: a box across bands fixes the shift across them firmly and
// the shift along them hardly at all, and the field should lean on its
// neighbours there. A replaced shift is a guess and weighs little.
void AlignmentPoints::weighFirmness() {
    std::vector<float>& sharpness = scratch_.values;
    sharpness.clear();
    for (const Point& point : points_)
        if (point.found) {
            sharpness.push_back(point.firmX);
            sharpness.push_back(point.firmY);
        }
    const float typical = sharpness.empty() ? 0.0f : median(sharpness);
    for (Point& point : points_) {
        if (!point.found || !(typical > 0.0f)) {
            point.firmX = point.firmY = GuessWeight;
            continue;
        }
        point.firmX = std::clamp(point.firmX / typical, GuessWeight, 1.0f);
        point.firmY = std::clamp(point.firmY / typical, GuessWeight, 1.0f);
    }
}

void AlignmentPoints::replaceOutliers() {
    std::vector<float>& medianX = scratch_.medianX;
    std::vector<float>& medianY = scratch_.medianY;
    std::vector<float>& values = scratch_.values;
    std::vector<int>& known = scratch_.known;
    // Each axis's median of the found neighbours.
    const auto neighbourMedian = [&](std::size_t i, float Point::*axis) {
        values.clear();
        for (const int j : neighbours_[i])
            if (points_[static_cast<std::size_t>(j)].found) values.push_back(points_[static_cast<std::size_t>(j)].*axis);
        known[i] = static_cast<int>(values.size());
        return values.empty() ? 0.0f : median(values);
    };
    for (std::size_t i = 0; i < points_.size(); ++i) {
        medianX[i] = neighbourMedian(i, &Point::shiftX);
        medianY[i] = neighbourMedian(i, &Point::shiftY);
    }
    for (std::size_t i = 0; i < points_.size(); ++i) {
        Point& point = points_[i];
        // One neighbour cannot outvote a point; two that agree can.
        const bool outvoted = point.found && known[i] >= 2 &&
                              (std::abs(point.shiftX - medianX[i]) > MaxDisagreement ||
                               std::abs(point.shiftY - medianY[i]) > MaxDisagreement);
        if (point.found && !outvoted) continue;
        point.found = false;
        point.shiftX = known[i] > 0 ? medianX[i] : 0.0f;
        point.shiftY = known[i] > 0 ? medianY[i] : 0.0f;
    }
}

// The local shift at a reference position: a Gaussian-weighted mean of the
// points' shifts, each axis weighed by its firmness, with a floor in the
// weights so that it fades to none where no point is near (the sky, the
// disc's edge).
void AlignmentPoints::blendedShift(double x, double y, float& shiftX, float& shiftY) const {
    const double sigma = FieldSpread * spacing_;
    const double reach = FieldReach * spacing_, spread = -0.5 / (sigma * sigma);
    constexpr double Floor = 0.05;
    double weightsX = Floor, weightsY = Floor, sumX = 0, sumY = 0;
    for (const Point& point : points_) {
        const double dx = point.x - x, dy = point.y - y;
        if (std::abs(dx) > reach || std::abs(dy) > reach) continue;
        const double weight = std::exp(spread * (dx * dx + dy * dy));
        weightsX += weight * point.firmX;
        weightsY += weight * point.firmY;
        sumX += weight * point.firmX * point.shiftX;
        sumY += weight * point.firmY * point.shiftY;
    }
    shiftX = static_cast<float>(sumX / weightsX);
    shiftY = static_cast<float>(sumY / weightsY);
}

void AlignmentPoints::buildField(int gridColumns, int gridRows) {
    fieldX_.assign(static_cast<std::size_t>(gridColumns) * gridRows, 0.0f);
    fieldY_.assign(fieldX_.size(), 0.0f);
    // Beyond the points' reach the field is none.
    int left = width_, right = 0, top = height_, bottom = 0;
    for (const Point& point : points_) {
        left = std::min(left, point.x);
        right = std::max(right, point.x);
        top = std::min(top, point.y);
        bottom = std::max(bottom, point.y);
    }
    const double reach = FieldReach * spacing_;
    const int firstColumn = std::max(0, static_cast<int>(std::floor((left - reach) / GridStep)));
    const int lastColumn = std::min(gridColumns - 1, static_cast<int>(std::ceil((right + reach) / GridStep)));
    const int firstRow = std::max(0, static_cast<int>(std::floor((top - reach) / GridStep)));
    const int lastRow = std::min(gridRows - 1, static_cast<int>(std::ceil((bottom + reach) / GridStep)));
    for (int j = firstRow; j <= lastRow; ++j)
        for (int i = firstColumn; i <= lastColumn; ++i) {
            const std::size_t node = static_cast<std::size_t>(j) * gridColumns + i;
            blendedShift(i * GridStep, j * GridStep, fieldX_[node], fieldY_[node]);
        }
}

void AlignmentPoints::warp(Bitmap24& frame, double shiftX, double shiftY) {
    if (points_.empty() || frame.empty()) return;
    if (!std::isfinite(shiftX) || !std::isfinite(shiftY)) return;
    const int gridColumns = width_ / GridStep + 2, gridRows = height_ / GridStep + 2;
    buildField(gridColumns, gridRows);
    const long long wholeX = wholePixels(shiftX), wholeY = wholePixels(shiftY);
    const int width = frame.width(), height = frame.height();
    // Room for a whole frame from the first, so that no later frame allocates.
    source_.reserve(static_cast<std::size_t>(width) * height);
    warped_.reserve(width, height);

    // The frame pixels whose grid cell moves anything, and how far.
    std::vector<std::uint8_t>& moving = movingCells_;
    moving.assign(static_cast<std::size_t>(gridColumns) * gridRows, 0);
    long long x0 = width, x1 = 0, y0 = height, y1 = 0;
    float farthest = 0.0f;
    for (int j = 0; j + 1 < gridRows; ++j)
        for (int i = 0; i + 1 < gridColumns; ++i) {
            const std::size_t node = static_cast<std::size_t>(j) * gridColumns + i;
            float largest = 0.0f;
            for (const std::size_t corner : {node, node + 1, node + gridColumns, node + gridColumns + 1})
                largest = std::max({largest, std::abs(fieldX_[corner]), std::abs(fieldY_[corner])});
            if (largest < NegligibleShift) continue;
            moving[node] = 1;
            farthest = std::max(farthest, largest);
            x0 = std::min(x0, wholeX + i * GridStep);
            x1 = std::max(x1, wholeX + (i + 1) * GridStep);
            y0 = std::min(y0, wholeY + j * GridStep);
            y1 = std::max(y1, wholeY + (j + 1) * GridStep);
        }
    x0 = std::max(x0, 0LL);
    y0 = std::max(y0, 0LL);
    x1 = std::min<long long>(x1, width);
    y1 = std::min<long long>(y1, height);
    if (x0 >= x1 || y0 >= y1) return;

    // That area and the margin its samples reach, as floats four to a pixel.
    const int margin = static_cast<int>(std::ceil(farthest)) + 3;
    const int left = static_cast<int>(std::max(x0 - margin, 0LL)), top = static_cast<int>(std::max(y0 - margin, 0LL));
    const int right = static_cast<int>(std::min<long long>(x1 + margin, width));
    const int bottom = static_cast<int>(std::min<long long>(y1 + margin, height));
    const int sourceWidth = right - left;
    source_.resize(static_cast<std::size_t>(sourceWidth) * (bottom - top));
    for (int y = top; y < bottom; ++y) {
        const std::uint8_t* in = frame.pixel(left, y);
        lanes::F4* out = source_.data() + static_cast<std::size_t>(y - top) * sourceWidth;
        for (int x = 0; x < sourceWidth; ++x, in += 3)
            out[x] = lanes::F4{float(in[0]), float(in[1]), float(in[2]), 0.0f};
    }

    warped_ = frame;
    const float* fieldX = fieldX_.data();
    const float* fieldY = fieldY_.data();
    for (int y = static_cast<int>(y0); y < y1; ++y) {
        std::uint8_t* out = warped_.row(y);
        const long long j = (y - wholeY) / GridStep;
        const float down = static_cast<float>(y - wholeY - j * GridStep) / GridStep;
        for (int x = static_cast<int>(x0); x < x1; ++x) {
            const long long i = (x - wholeX) / GridStep;
            const std::size_t node = static_cast<std::size_t>(j * gridColumns + i);
            if (!moving[node]) continue;
            const float across = static_cast<float>(x - wholeX - i * GridStep) / GridStep;
            const auto blend = [&](const float* field) {
                const float upper = field[node] + across * (field[node + 1] - field[node]);
                const float lower =
                    field[node + gridColumns] + across * (field[node + gridColumns + 1] - field[node + gridColumns]);
                return upper + down * (lower - upper);
            };
            const float sourceX = x + blend(fieldX), sourceY = y + blend(fieldY);
            const float floorX = std::floor(sourceX), floorY = std::floor(sourceY);
            float weightX[4], weightY[4];
            cubicWeights(sourceX - floorX, weightX);
            cubicWeights(sourceY - floorY, weightY);
            const int firstColumn = static_cast<int>(floorX) - 1, firstRow = static_cast<int>(floorY) - 1;
            lanes::F4 sum = {0.0f, 0.0f, 0.0f, 0.0f};
            if (firstColumn >= left && firstColumn + 4 <= right && firstRow >= top && firstRow + 4 <= bottom) {
                const lanes::F4* corner =
                    source_.data() + static_cast<std::size_t>(firstRow - top) * sourceWidth + (firstColumn - left);
                for (int k = 0; k < 4; ++k, corner += sourceWidth)
                    sum += weightY[k] * (weightX[0] * corner[0] + weightX[1] * corner[1] + weightX[2] * corner[2] +
                                         weightX[3] * corner[3]);
            } else {
                // Near the frame's edge the edge pixels repeat.
                int columns[4];
                for (int k = 0; k < 4; ++k) columns[k] = std::clamp(firstColumn + k, left, right - 1) - left;
                for (int k = 0; k < 4; ++k) {
                    const int row = std::clamp(firstRow + k, top, bottom - 1) - top;
                    const lanes::F4* line = source_.data() + static_cast<std::size_t>(row) * sourceWidth;
                    sum += weightY[k] * (weightX[0] * line[columns[0]] + weightX[1] * line[columns[1]] +
                                         weightX[2] * line[columns[2]] + weightX[3] * line[columns[3]]);
                }
            }
            for (int c = 0; c < 3; ++c) out[3 * x + c] = byteClamp(sum[c]);
        }
    }
    std::swap(frame, warped_);
}

}  // namespace planexor
