#include "process/gamma_curve.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/pixel.h"

namespace planexor::gamma_curve {

namespace {

void drawAsEdited(TBSpline& curve) {
    curve.setInterpolating(true);
    curve.showPoints = true;
    curve.setFragments(50);
}

bool withinGrab(SplinePoint point, int x, int y) {
    return std::abs(x - nearest(point.x)) < PointSpacing && std::abs(y - nearest(point.y)) < PointSpacing;
}

}  // namespace

void reset(TBSpline& curve) {
    curve.clear();
    curve.add({0, GraphMax});
    curve.add({128, 128});
    curve.add({GraphMax, 0});
    drawAsEdited(curve);
}

void assign(TBSpline& curve, std::span<const SplinePoint> points) {
    curve.clear();
    for (const SplinePoint point : points) curve.add(point);
    drawAsEdited(curve);
}

void drawGraph(const TBSpline& curve, Drawing& graph) {
    constexpr int Side = GraphMax + 1;
    constexpr int Ruling = 51;
    constexpr GraphLayout Layout{Side, Side, false, 6, {0, Ruling, 0, GraphMax}, {0, Ruling, 0, GraphMax}};
    GraphPainter painter(graph, Layout);
    painter.line(drawing_colour::Silver, {0, GraphMax}, {GraphMax, 0});
    if (curve.count() < 2) return;
    const std::vector<GraphPoint> outline = curve.outline();
    painter.curve(drawing_colour::Black, outline.front(), std::span(outline).subspan(1));
    if (!curve.showPoints) return;
    for (int i = 1; i <= curve.count(); ++i) {
        const SplinePoint p = curve.point(i);
        const int x = nearest(std::clamp(p.x, -1e6f, 1e6f)), y = nearest(std::clamp(p.y, -1e6f, 1e6f));
        painter.ellipse(drawing_colour::Red, x - 2, y - 2, x + 2, y + 2);
    }
}

bool insertAt(TBSpline& curve, int x, int y) {
    for (int i = 1; i < curve.count(); ++i)
        if (curve.point(i).x < x && x < curve.point(i + 1).x) {
            const bool inserted = curve.insert(i + 1, {static_cast<float>(x), static_cast<float>(y)});
            drawAsEdited(curve);
            return inserted;
        }
    return false;
}

bool deleteAt(TBSpline& curve, int x, int y) {
    for (int i = curve.count() - 1; i >= 2; --i)
        if (withinGrab(curve.point(i), x, y)) {
            curve.remove(i);
            drawAsEdited(curve);
            return true;
        }
    return false;
}

bool dragTo(TBSpline& curve, int x, int y) {
    const int n = curve.count();
    if (n < 2) return false;
    x = std::clamp(x, 0, GraphMax);
    y = std::clamp(y, 0, GraphMax);
    int grabbed = 0;
    for (int i = n; i >= 1 && grabbed == 0; --i)
        if (withinGrab(curve.point(i), x, y)) grabbed = i;
    if (grabbed == 0) return false;

    const float fx = static_cast<float>(x);
    bool moved = false;
    if (grabbed == n) {
        moved = fx > curve.point(n - 1).x + PointSpacing;
        if (moved) curve.setPoint(n, {fx, 0});
    } else if (grabbed == 1) {
        moved = fx < curve.point(2).x - PointSpacing;
        if (moved) curve.setPoint(1, {fx, GraphMax});
    } else {
        moved = curve.point(grabbed - 1).x + PointSpacing < fx && fx < curve.point(grabbed + 1).x - PointSpacing;
        if (moved) curve.setPoint(grabbed, {fx, static_cast<float>(y)});
    }
    drawAsEdited(curve);
    return moved;
}

void buildTable(const TBSpline& curve, GammaCurve& table) {
    constexpr int Last = static_cast<int>(std::tuple_size_v<decltype(GammaCurve::values)>) - 1;
    std::fill(table.values.begin(), table.values.end(), -1.0);
    for (int s = 0; s < Samples; ++s) {
        const SplinePoint p = curve.valueAt(s * 0.0001);
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
        const double position = std::clamp(p.x * 1000.0 * (1.0 / 255.0), 0.0, static_cast<double>(Last));
        table.values[nearest(position)] = std::clamp((255.0 - p.y) * (1.0 / 255.0), 0.0, 1.0);
    }
    // Levels below the curve's start are black; once the curve has risen
    // above 0, any level it does not reach is white.
    double marker = 0;
    for (double& entry : table.values) {
        if (entry == -1.0) entry = marker;
        else if (entry > 0) marker = 1;
    }
}

}  // namespace planexor::gamma_curve
