#pragma once
#include <span>

#include "core/drawing.h"
#include "core/workspace.h"
#include "process/bspline.h"

namespace planexor {

// The gamma curve editor's rules on a 256 x 256 graph: x is the input level,
// y is 255 minus the output level. The window only routes the mouse here and
// draws what the curve holds.
namespace gamma_curve {

inline constexpr int GraphMax = 255;
inline constexpr int PointSpacing = 15;  // pixels a point keeps from its neighbours and the grab radius
inline constexpr int Samples = 10001;

// Clear and put back (0, 255), (128, 128), (255, 0): the identity curve.
// Double click and the window's "Reset".
void reset(TBSpline& curve);

// Right click at (x, y): a point between the two neighbours it falls
// strictly between. False when outside the end points, on a point's x, or
// when the curve is full.
bool insertAt(TBSpline& curve, int x, int y);

// Ctrl+left click at (x, y): removes the last inner point within the grab
// radius in both directions. The end points are never removed.
bool deleteAt(TBSpline& curve, int x, int y);

// Left drag to (x, y), clamped to the graph: the last point within the grab
// radius follows when it stays more than PointSpacing from its neighbours
// in x; the end points move only along their output level (0 first, 255 last).
bool dragTo(TBSpline& curve, int x, int y);

// The curve through `points` in place of the old one, drawn as the editor
// draws (at most TBSpline::MaxPoints are taken).
void assign(TBSpline& curve, std::span<const SplinePoint> points);

// The graph as the window shows it: white, ruled every 51 levels and the
// identity diagonal in silver, the curve in black and each point in a red circle.
void drawGraph(const TBSpline& curve, Drawing& graph);

// A release on the graph: the table from Samples evaluations; entries left
// of the curve's start are 0 and entries right of its end 1.
void buildTable(const TBSpline& curve, GammaCurve& table);

}  // namespace gamma_curve
}  // namespace planexor
