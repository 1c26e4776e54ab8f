#include "process/bspline.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "core/error.h"
#include "core/pixel.h"

namespace planexor {

namespace {

[[noreturn]] void listIndexError(const char* accessor, int index) {
    throw PlanexorError("List index out of bounds in TBSpline." + std::string(accessor) + ". (" +
                        std::to_string(index) + ").");
}

// The solve is done for 2 < V < 250 only; with fewer the curve is a straight
// line through its points anyway and with more the vertices are the points.
constexpr int SolveLimit = 250;

double weight(double distance) {
    if (distance >= 2) return 0;
    if (distance >= 1) return (2 - distance) * (2 - distance) * (2 - distance) / 6;
    return distance * distance * distance / 2 - distance * distance + 2.0 / 3.0;
}

// Points set from outside may hold anything; the outline stays in int range.
int graphPixel(float value) {
    constexpr double Limit = 1e6;
    if (!(value > -Limit)) return static_cast<int>(-Limit);
    return nearest(std::min<double>(value, Limit));
}

}  // namespace

bool TBSpline::add(SplinePoint point) {
    if (count() >= MaxPoints) return false;
    points_.push_back(point);
    invalidate();
    return true;
}

bool TBSpline::insert(int index, SplinePoint point) {
    if (index < 1 || index > count()) throw PlanexorError("Index out of range");
    if (count() >= MaxPoints) return false;
    points_.insert(points_.begin() + (index - 1), point);
    invalidate();
    return true;
}

void TBSpline::remove(int index) {
    if (index < 1 || index > count()) throw PlanexorError("Index out of range");
    points_.erase(points_.begin() + (index - 1));
    invalidate();
}

void TBSpline::clear() {
    points_.clear();
    invalidate();
}

SplinePoint TBSpline::point(int index) const {
    if (index < 1 || index > count()) listIndexError("FGetPoint", index);
    return points_[index - 1];
}

void TBSpline::setPoint(int index, SplinePoint point) {
    if (index < 1 || index > count()) listIndexError("FSetPoint", index);
    points_[index - 1] = point;
    invalidate();
}

void TBSpline::setInterpolating(bool on) {
    if (on != interpolating_) invalidate();
    interpolating_ = on;
}

void TBSpline::setFragments(int fragments) { fragments_ = std::clamp(fragments, 1, MaxFragments); }

const std::vector<SplinePoint>& TBSpline::vertices() const {
    if (!valid_) solveVertices();
    return vertices_;
}

void TBSpline::solveVertices() const {
    const int v = count();
    vertices_.assign(static_cast<std::size_t>(v) + 2, SplinePoint{});
    std::copy(points_.begin(), points_.end(), vertices_.begin() + 1);

    if (interpolating_ && v > 2 && v < SolveLimit) {
        // Gaussian elimination without pivoting in float32. The matrix is
        // tridiagonal, so eliminating row i touches only its diagonal and the
        // right-hand side: the same arithmetic as on the full matrix.
        const float sixth = 1.0f / 6.0f, twoThirds = 2.0f / 3.0f;
        std::vector<float> diagonal(static_cast<std::size_t>(v) + 1, twoThirds);
        std::vector<float> upper(static_cast<std::size_t>(v) + 1, sixth);
        diagonal[1] = diagonal[v] = 1.0f;
        upper[1] = upper[v] = 0.0f;
        for (int i = 2; i <= v; ++i) {
            const float lower = i == v ? 0.0f : sixth;
            const float factor = lower / diagonal[i - 1];
            diagonal[i] -= factor * upper[i - 1];
            vertices_[i].x -= factor * vertices_[i - 1].x;
            vertices_[i].y -= factor * vertices_[i - 1].y;
        }
        vertices_[v].x /= diagonal[v];
        vertices_[v].y /= diagonal[v];
        for (int i = v - 1; i >= 1; --i) {
            vertices_[i].x = (vertices_[i].x - upper[i] * vertices_[i + 1].x) / diagonal[i];
            vertices_[i].y = (vertices_[i].y - upper[i] * vertices_[i + 1].y) / diagonal[i];
        }
    }

    if (v >= 2) {
        vertices_[0] = {2 * vertices_[1].x - vertices_[2].x, 2 * vertices_[1].y - vertices_[2].y};
        vertices_[v + 1] = {2 * vertices_[v].x - vertices_[v - 1].x, 2 * vertices_[v].y - vertices_[v - 1].y};
    }
    valid_ = true;
}

SplinePoint TBSpline::valueAt(double t) const {
    if (count() < 2) return {};
    const std::vector<SplinePoint>& w = vertices();
    const int v = count();
    if (!(t >= 0)) t = 0;  // also NaN
    if (t > 1) t = 1;
    const float u = static_cast<float>(t) * static_cast<float>(v - 1) + 1.0f;
    const int first = std::max(0, static_cast<int>(u - 1.0f));
    // At t = 1 the last tap would be vertex V+2, one beyond the array; its
    // weight is 0 there, so bounding the taps to V+1 changes no value.
    const int last = std::min(first + 3, v + 1);
    double x = 0, y = 0;
    for (int j = std::min(first, v + 1); j <= last; ++j) {
        const double factor = weight(std::fabs(static_cast<double>(j) - u));
        x += factor * w[j].x;
        y += factor * w[j].y;
    }
    return {static_cast<float>(x), static_cast<float>(y)};
}

std::vector<GraphPoint> TBSpline::outline() const {
    std::vector<GraphPoint> result;
    result.reserve(static_cast<std::size_t>(fragments_) + 1);
    for (int i = 0; i <= fragments_; ++i) {
        const SplinePoint p = valueAt(static_cast<double>(i) / fragments_);
        result.push_back({graphPixel(p.x), graphPixel(p.y)});
    }
    return result;
}

}  // namespace planexor
