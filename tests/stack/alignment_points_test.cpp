// Alignment points measured against the synthetic planet's own seeing field,
// and what they do with frames they cannot use.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "core/pixel.h"
#include "demo/synthetic_planet.h"
#include "stack/alignment_points.h"
#include "support/test_files.h"

namespace planexor {
namespace {

// The sharpest quarter of a demo with seeing that moves parts of the disc,
// placed at their true whole shifts so that only the local part is left,
// with the field each was rendered with at every point.
struct SeeingRun {
    std::vector<FrameTruth> truth;
    std::vector<int> used;
    std::vector<Bitmap24> frames;
    std::vector<std::vector<PlanetRenderer::FieldSample>> fields;
    AlignmentPoints points;
    int placed = 0;

    SeeingRun(int width, int height, int count, double seeing) {
        DemoOptions demo;
        demo.width = width;
        demo.height = height;
        demo.frames = count;
        demo.seeingDistortion = seeing;
        truth = demoTruth(demo);
        for (int i = 0; i < count; ++i) used.push_back(i);
        std::sort(used.begin(), used.end(), [&](int a, int b) { return truth[a].blur < truth[b].blur; });
        used.resize(static_cast<std::size_t>(count / 4));
        PlanetRenderer renderer(width, height, demo.seed);
        renderer.setSeeingDistortion(seeing);
        frames.resize(used.size());
        points.startReference(width, height);
        for (std::size_t n = 0; n < used.size(); ++n) {
            renderer.render(truth[used[n]], used[n], FrameEffects{}, frames[n]);
            points.addToReference(frames[n], wholeX(n), wholeY(n));
        }
        placed = points.placePoints(AlignmentPoints::Auto);
        for (std::size_t n = 0; n < used.size(); ++n) {
            renderer.render(truth[used[n]], used[n], FrameEffects{}, frames[n]);
            fields.emplace_back();
            for (const AlignmentPoints::Point& point : points.points())
                fields.back().push_back(
                    renderer.fieldAt(nearest(point.x - truth[0].shiftX), nearest(point.y - truth[0].shiftY)));
        }
    }
    double wholeX(std::size_t n) const { return nearest(truth[used[n]].shiftX - truth[0].shiftX); }
    double wholeY(std::size_t n) const { return nearest(truth[used[n]].shiftY - truth[0].shiftY); }
};

// Each frame's point shifts, less the part of its true shift below a pixel,
// against the field; the run's common offset (the reference's own place) is
// taken out as the median. Along the bands the shifts drift unless the
// distortion across a box and the reference's blur are matched (about 63 %
// within half a pixel at seeing 1 without the one, 68 % at 1.5 without the
// other); a field of the wrong sign or a shift left out doubles the error.
TEST(AlignmentPoints, ShiftsFollowTheSeeingField) {
    const struct {
        double seeing, leastWithinHalfPixel, mostErrorOfField;
    } cases[] = {{1.0, 0.9, 0.35}, {1.5, 0.72, 0.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seeing);
        SeeingRun run(640, 480, 160, c.seeing);
        EXPECT_GE(run.placed, 16);
        EXPECT_LE(run.placed, 32);
        std::vector<double> errorsX, errorsY;
        double fieldSquares = 0;
        for (std::size_t n = 0; n < run.used.size(); ++n) {
            run.points.measure(run.frames[n], run.wholeX(n), run.wholeY(n));
            const FrameTruth& truth = run.truth[run.used[n]];
            for (std::size_t k = 0; k < run.points.points().size(); ++k) {
                const AlignmentPoints::Point& point = run.points.points()[k];
                const PlanetRenderer::FieldSample& field = run.fields[n][k];
                errorsX.push_back(point.shiftX - (truth.shiftX - run.truth[0].shiftX - run.wholeX(n)) - field.dx);
                errorsY.push_back(point.shiftY - (truth.shiftY - run.truth[0].shiftY - run.wholeY(n)) - field.dy);
                fieldSquares += field.dx * field.dx + field.dy * field.dy;
            }
        }
        const auto middle = [](std::vector<double> values) {
            std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                             values.end());
            return values[values.size() / 2];
        };
        const double offsetX = middle(errorsX), offsetY = middle(errorsY);
        double squares = 0;
        int within = 0;
        for (std::size_t k = 0; k < errorsX.size(); ++k) {
            const double error = std::hypot(errorsX[k] - offsetX, errorsY[k] - offsetY);
            squares += error * error;
            within += error <= 0.5;
        }
        const double share = within / static_cast<double>(errorsX.size());
        EXPECT_LT(std::sqrt(squares), c.mostErrorOfField * std::sqrt(fieldSquares));
        EXPECT_GE(share, c.leastWithinHalfPixel);
    }
}

// A frame between pixels (sub-pixel or resampled shifts) is measured where
// the reference holds it: a reference at rounded shifts would move the stack.
TEST(AlignmentPoints, AFrameBetweenPixelsHasNoLocalShiftOnItsOwnReference) {
    Bitmap24 frame;
    PlanetRenderer(320, 240, DemoOptions{}.seed).render({0, 0, 1.0}, 0, FrameEffects{}, frame);
    AlignmentPoints points;
    points.startReference(320, 240);
    points.addToReference(frame, 2.5, -1.5);
    ASSERT_GT(points.placePoints(AlignmentPoints::Auto), 4);
    points.measure(frame, 2.5, -1.5);
    // One point can miss along the bands; rounded shifts move them all by half a pixel.
    double meanX = 0, meanY = 0;
    for (const AlignmentPoints::Point& point : points.points()) {
        meanX += point.shiftX / static_cast<double>(points.points().size());
        meanY += point.shiftY / static_cast<double>(points.points().size());
    }
    EXPECT_NEAR(meanX, 0.0, 0.1);
    EXPECT_NEAR(meanY, 0.0, 0.1);
}

// Frames the points cannot use leave the frame at its global shift: nothing
// moves, nothing is read outside a bitmap (the sanitizers watch), no NaN.
TEST(AlignmentPoints, UnusableFramesFallBackToTheGlobalShift) {
    SeeingRun run(320, 240, 40, 1.0);
    ASSERT_GT(run.placed, 4);
    const Bitmap24& frame = run.frames.front();
    const Bitmap24 black = testing::uniform(320, 240, 0), small = testing::uniform(100, 80, 90), empty;
    struct Case {
        const char* name;
        const Bitmap24* bitmap;
        double shiftX, shiftY;
    } cases[] = {
        {"black", &black, 0, 0},
        {"smaller than the reference", &small, 0, 0},
        {"shifted off the frame", &frame, 500, -700},
        {"shift not a number", &frame, std::nan(""), 0},
        {"empty", &empty, 0, 0},
    };
    for (const Case& c : cases) {
        Bitmap24 moved = *c.bitmap;
        run.points.measure(moved, c.shiftX, c.shiftY);
        for (const AlignmentPoints::Point& point : run.points.points())
            EXPECT_EQ(std::tuple(point.found, point.shiftX, point.shiftY), std::tuple(false, 0.0f, 0.0f)) << c.name;
        run.points.warp(moved, c.shiftX, c.shiftY);
        EXPECT_TRUE(moved == *c.bitmap) << c.name;
    }
}

}  // namespace
}  // namespace planexor
