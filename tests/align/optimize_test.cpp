#include "align/optimize.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_files.h"

namespace planexor {
namespace {

using testing::movedScene;
using testing::uniform;

constexpr int Box = 32;
const OptimizePlacement Centre{60, 50, 120, 100, 0};

TEST(Optimize, ShiftsWithinTheSearchAreaComeBackToTheTruthAndFartherOnesMoveBySAtMost) {
    const Bitmap24 reference = movedScene(120, 100, 0, 0);
    const Bitmap24 frame = movedScene(120, 100, 5, -3);
    struct Case {
        int offsetX, offsetY, search, expectX, expectY;
        float storedDifference;
    };
    const Case cases[] = {
        {2, -1, 2, 5, -3, 1e30f},  // corrected by (-2, +1)
        {-1, 1, 1, 5, -3, 1e30f},
        {0, 0, 2, 5, -3, 1e30f},
        {4, 0, 2, 7, -3, 1e30f},   // one pass moves by S
        {1, 1, 2, 5, -3, 1.0f},    // the resampled mark: always beaten
        {2, 0, 2, 7, -3, 0.0f},    // no sum beats a stored 0: the shift stays
    };
    FrameOptimizer optimizer;
    for (const Case& c : cases) {
        TFrameRec record;
        record.ShiftX = 5 + c.offsetX;
        record.ShiftY = -3 + c.offsetY;
        record.Difference = c.storedDifference;
        OptimizeOptions options;
        options.boxSize = Box;
        options.searchArea = c.search;
        optimizer.optimize(record, false, reference, frame, Centre, options);
        EXPECT_EQ(record.ShiftX, c.expectX) << c.offsetX << "," << c.offsetY;
        EXPECT_EQ(record.ShiftY, c.expectY) << c.offsetX << "," << c.offsetY;
        if (c.storedDifference != 1.0f) {
            EXPECT_LE(record.Difference, c.storedDifference);
        }
    }
}

TEST(Optimize, AUniformDarkLeavesTheSumsAndEqualSumsFollowTheTieRules) {
    const Bitmap24 reference = movedScene(120, 100, 0, 0);
    const Bitmap24 frame = movedScene(120, 100, 1, 2);
    auto dark = std::make_unique<TFloatPlane>();
    dark->fill(128.0f * 10.0f);
    OptimizeOptions plain;
    plain.boxSize = Box;
    OptimizeOptions withDark = plain;
    withDark.dark = dark.get();
    withDark.darkWidth = 120;
    withDark.darkHeight = 100;
    FrameOptimizer a, b;
    TFrameRec first, second;
    first.Difference = second.Difference = 1e30f;
    a.optimize(first, false, reference, frame, Centre, plain);
    b.optimize(second, false, reference, frame, Centre, withDark);
    EXPECT_EQ(first, second);
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy) EXPECT_NEAR(a.sumOfSquares(dx, dy), b.sumOfSquares(dx, dy), 1e-6 * (1 + a.sumOfSquares(dx, dy)));

    // Flat boxes: every candidate sums to 0. Without fields the last one
    // wins; with fields the first that beats the stored value stays, and
    // the first field's values are the ones written.
    const Bitmap24 flat = uniform(120, 100, 90);
    FrameOptimizer optimizer;
    TFrameRec whole;
    whole.Difference = 5.0f;
    optimizer.optimize(whole, false, flat, flat, Centre, plain);
    EXPECT_EQ(whole.ShiftX, 2);
    EXPECT_EQ(whole.ShiftY, 2);
    OptimizeOptions fields = plain;
    fields.interlaced = true;
    TFrameRec field;
    field.FieldDifference = 5.0f;
    optimizer.optimize(field, true, flat, flat, Centre, fields);
    EXPECT_EQ(field.FieldShiftX, -2);
    EXPECT_EQ(field.FieldShiftY, -2);
    EXPECT_EQ(field.ShiftX, 0);
    TFrameRec reached;  // stored 0: an equal sum does not replace it with fields
    optimizer.optimize(reached, false, flat, flat, Centre, fields);
    EXPECT_EQ(reached.ShiftX, 0);
    EXPECT_EQ(reached.ShiftY, 0);
}

TEST(Optimize, ReadsStayWithinTheBitmapsAndBlankFramesNeedNoDivision) {
    // A placement larger than the pictures, far offsets and a dark read at
    // scaled positions: nothing outside is read (the sanitizer build checks).
    const Bitmap24 small = movedScene(40, 30, 0, 0);
    auto dark = std::make_unique<TFloatPlane>();
    OptimizeOptions options;
    options.boxSize = 64;
    options.searchArea = 10;
    options.dark = dark.get();
    options.darkWidth = 20;
    options.darkHeight = 15;
    options.darkScale = 2.0;
    options.biasSubtract = true;
    FrameOptimizer optimizer;
    for (const OptimizePlacement& place : {OptimizePlacement{20, 15, 4000, 4000, 32}, OptimizePlacement{0, 0, 40, 30, -5}}) {
        TFrameRec record;
        record.ShiftX = -1000000;
        record.Difference = 1e30f;
        optimizer.optimize(record, false, small, small, place, options);
        EXPECT_TRUE(std::isfinite(record.Difference));
    }

    Workspace& w = *std::make_unique<Workspace>().release();
    std::unique_ptr<Workspace> owner(&w);
    w.Ranking[0] = {0, 0.0f, 0.0f};
    w.Ranking[1] = {1, 0.0f, 0.0f};
    w.FrameRecs[0].Difference = 1000.0f;
    w.FrameRecs[1].Difference = 3000.0f;
    EXPECT_TRUE(aboveQualityLimit(w, 1, 0));
    EXPECT_FALSE(aboveQualityLimit(w, 1, 80));
    EXPECT_DOUBLE_EQ(optimizedTotal(w, 1, 0), 4.0);
    w.Ranking[0].Quality = 2.0f;
    w.Ranking[1].Quality = 1.0f;
    EXPECT_DOUBLE_EQ(optimizedTotal(w, 1, 50), 4.0);
    EXPECT_DOUBLE_EQ(optimizedTotal(w, 1, 55), 1.0);
}

}  // namespace
}  // namespace planexor
