#pragma once
#include <vector>

#include "core/drawing.h"

namespace planexor {

struct SplinePoint {
    float x = 0;
    float y = 0;
    bool operator==(const SplinePoint&) const = default;
};

// A uniform cubic B-spline through 1-based control points. When
// interpolating, the vertices are solved so that the curve passes through
// every point; the solve is cached until a point changes. Index errors are
// PlanexorError with the texts the user sees.
class TBSpline {
public:
    // The solver works below 250 points; one below that keeps every row in range.
    static constexpr int MaxPoints = 249;
    static constexpr int MaxFragments = 600;

    int count() const { return static_cast<int>(points_.size()); }

    // Both return false, adding nothing, once the curve holds MaxPoints.
    bool add(SplinePoint point);
    // The new point becomes point `index` (1..count()); other indexes raise "Index out of range".
    bool insert(int index, SplinePoint point);
    // Removes point `index` (1..count()); other indexes raise "Index out of range".
    void remove(int index);
    void clear();

    // 1..count(); other indexes raise "List index out of bounds in TBSpline.FGetPoint. (i)."
    // (".FSetPoint." for setPoint).
    SplinePoint point(int index) const;
    void setPoint(int index, SplinePoint point);

    bool interpolating() const { return interpolating_; }
    void setInterpolating(bool on);
    bool showPoints = true;
    int fragments() const { return fragments_; }
    void setFragments(int fragments);  // limited to 1..MaxFragments

    // The curve at t in 0..1 (t outside is taken as the nearer end); (0, 0)
    // with fewer than two points.
    SplinePoint valueAt(double t) const;
    // The curve at t = i / fragments for i = 0..fragments, rounded to graph pixels.
    std::vector<GraphPoint> outline() const;

    // The solved vertices 0..V+1, as of now.
    const std::vector<SplinePoint>& vertices() const;

private:
    void invalidate() { valid_ = false; }
    void solveVertices() const;

    std::vector<SplinePoint> points_;
    bool interpolating_ = false;
    int fragments_ = 50;

    mutable std::vector<SplinePoint> vertices_;
    mutable bool valid_ = false;
};

}  // namespace planexor
