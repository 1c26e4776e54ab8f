#include "process/bspline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "process/gamma_curve.h"
#include "support/test_files.h"

namespace planexor {
namespace {

TBSpline defaultCurve() {
    TBSpline curve;
    gamma_curve::reset(curve);
    return curve;
}

// A drag is a run of mouse moves; each must stay within grab reach of the point.
void drag(TBSpline& curve, int fromX, int toX, int y) {
    const int step = toX > fromX ? 1 : -1;
    for (int x = fromX + step; step > 0 ? x <= toX : x >= toX; x += step) gamma_curve::dragTo(curve, x, y);
}

GammaCurve tableOf(const TBSpline& curve) {
    GammaCurve table;
    gamma_curve::buildTable(curve, table);
    return table;
}

TEST(BSpline, PassesThroughEveryControlPointAndFollowsChanges) {
    std::vector<SplinePoint> many;
    for (int i = 0; i < TBSpline::MaxPoints; ++i)
        many.push_back({static_cast<float>(i), static_cast<float>(128 + 100 * std::sin(i * 0.3))});
    const std::vector<std::vector<SplinePoint>> cases = {
        {{0, 255}, {255, 0}},
        {{0, 255}, {128, 128}, {255, 0}},
        many,
    };
    for (const auto& points : cases) {
        TBSpline curve;
        for (SplinePoint p : points) ASSERT_TRUE(curve.add(p));
        curve.setInterpolating(true);
        const int n = curve.count();
        if (n > 2) curve.setPoint(2, {points[1].x, points[1].y + 20});
        for (int i = 1; i <= n; ++i) {
            const SplinePoint at = curve.valueAt(static_cast<double>(i - 1) / (n - 1));
            EXPECT_NEAR(at.x, curve.point(i).x, 0.01) << n << " points, point " << i;
            EXPECT_NEAR(at.y, curve.point(i).y, 0.01) << n << " points, point " << i;
        }
        EXPECT_EQ(curve.valueAt(-1), curve.valueAt(0));
        EXPECT_EQ(curve.valueAt(std::numeric_limits<double>::quiet_NaN()), curve.valueAt(0));
        EXPECT_EQ(curve.valueAt(7), curve.valueAt(1));
    }
}

TEST(BSpline, OutlineOfAnAbsurdPointStaysInIntRange) {
    TBSpline curve = defaultCurve();
    curve.setPoint(2, {128, std::numeric_limits<float>::infinity()});
    for (GraphPoint p : curve.outline()) ASSERT_LE(std::abs(p.y), 1000000);
}

TEST(BSpline, IndexErrorsCarryTheirTexts) {
    const std::vector<std::pair<std::function<void(TBSpline&)>, std::string>> cases = {
        {[](TBSpline& c) { c.point(0); }, "List index out of bounds in TBSpline.FGetPoint. (0)."},
        {[](TBSpline& c) { c.point(4); }, "List index out of bounds in TBSpline.FGetPoint. (4)."},
        {[](TBSpline& c) { c.setPoint(-2, {}); }, "List index out of bounds in TBSpline.FSetPoint. (-2)."},
        {[](TBSpline& c) { c.insert(0, {}); }, "Index out of range"},
        {[](TBSpline& c) { c.insert(4, {}); }, "Index out of range"},
        {[](TBSpline& c) { c.remove(4); }, "Index out of range"},
    };
    for (const auto& [operation, text] : cases) {
        TBSpline curve = defaultCurve();
        EXPECT_EQ(testing::errorOf([&, &run = operation] { run(curve); }), text);
        EXPECT_EQ(curve.count(), 3);
    }
}

TEST(BSpline, PointCountStopsAtTheSolverBound) {
    TBSpline curve = defaultCurve();
    int inserted = 0;
    for (int i = 0; i < 300; ++i) inserted += gamma_curve::insertAt(curve, 1 + i % 254, 128);
    EXPECT_EQ(inserted, TBSpline::MaxPoints - 3);
    EXPECT_FALSE(curve.add({255, 0}));
    EXPECT_EQ(curve.count(), TBSpline::MaxPoints);
}

TEST(GammaCurveEditing, ClicksInsertAndDeleteOnlyWhereAllowed) {
    struct Case { bool control; int x, y; bool changed; int count; };  // ctrl-click deletes, right click inserts
    const Case cases[] = {
        {true, 0, 255, false, 3},    {true, 255, 0, false, 3},     {true, 140, 140, true, 2},
        {true, 143, 128, false, 3},  {false, 128, 40, false, 3},   {false, 0, 200, false, 3},
        {false, 255, 10, false, 3},  {false, 64, 220, true, 4},
    };
    for (const Case& c : cases) {
        TBSpline curve = defaultCurve();
        const bool changed =
            c.control ? gamma_curve::deleteAt(curve, c.x, c.y) : gamma_curve::insertAt(curve, c.x, c.y);
        EXPECT_EQ(changed, c.changed) << c.x << "," << c.y;
        EXPECT_EQ(curve.count(), c.count) << c.x << "," << c.y;
    }
}

TEST(GammaCurveEditing, DragsKeepEndsOnTheirLevelsAndPointsApart) {
    struct Case { int fromX, toX, y, point; SplinePoint expected; };
    const Case cases[] = {
        {0, 60, 245, 1, {60, 255}},     // first point: horizontal only
        {255, 180, 10, 3, {180, 0}},    // last point likewise
        {0, 125, 255, 1, {112, 255}},   // stops more than 15 short of the middle point
        {128, 10, 128, 2, {16, 128}},   // middle point stops short of the first
        {128, 250, 128, 2, {239, 128}}, // and of the last
        {0, -5, 250, 1, {0, 255}},      // moves beyond the graph are clamped
    };
    for (const Case& c : cases) {
        TBSpline curve = defaultCurve();
        drag(curve, c.fromX, c.toX, c.y);
        EXPECT_EQ(curve.point(c.point), c.expected) << c.fromX << " -> " << c.toX;
    }
    TBSpline curve = defaultCurve();
    EXPECT_FALSE(gamma_curve::dragTo(curve, 60, 60));  // nothing within reach
    EXPECT_EQ(curve.point(2), (SplinePoint{128, 128}));
}

TEST(GammaCurveTable, FollowsTheCurveAndFillsBeyondItsEnds) {
    const GammaCurve identity = tableOf(defaultCurve());
    for (int i = 0; i <= 1000; ++i) ASSERT_NEAR(identity.values[i], i / 1000.0, 0.01) << i;

    TBSpline raised = defaultCurve();
    drag(raised, 0, 100, 255);
    const GammaCurve black = tableOf(raised);
    for (int i = 0; i < 392; ++i) ASSERT_EQ(black.values[i], 0.0) << i;
    EXPECT_GT(black.values[392], 0.0);  // the curve's own first entry, not the fill
    EXPECT_LT(black.values[392], 0.02);

    TBSpline lowered = defaultCurve();
    drag(lowered, 255, 200, 0);
    const GammaCurve white = tableOf(lowered);
    EXPECT_GT(white.values[784], 0.99);
    for (int i = 785; i <= 1000; ++i) ASSERT_EQ(white.values[i], 1.0) << i;

    for (const GammaCurve& table : {identity, black, white})
        for (int i = 1; i <= 1000; ++i) ASSERT_GE(table.values[i], table.values[i - 1]) << i;
}

}  // namespace
}  // namespace planexor
