#include "stack/resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>
#include <vector>

#include "core/error.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::picture;

Bitmap24 stretched(const Bitmap24& source, int width, int height, const ResampleFilter& filter) {
    Bitmap24 dest(width, height);
    Stretch(source, dest, filter.function, filter.support);
    return dest;
}

// Away from the mirrored edges a ramp stays a ramp: output pixel i sits on
// source position i / scale.
TEST(Stretch, EveryFilterFollowsALinearRampWithinOneLevel) {
    // One axis per channel, so only one pass rounds it.
    const Bitmap24 source =
        picture(64, 48, [](int x, int y, int c) { return c == 0 ? 120 + y : (c == 1 ? x : 150 - x); });
    const int sizes[][2] = {{127, 95}, {64, 48}, {33, 25}, {200, 30}};
    for (const ResampleFilter& filter : resampleFilterTable())
        for (const auto& size : sizes) {
            const Bitmap24 dest = stretched(source, size[0], size[1], filter);
            const double scaleX = (size[0] - 1) / 63.0, scaleY = (size[1] - 1) / 47.0;
            const double marginX = std::ceil(filter.support / std::min(scaleX, 1.0)) + 1;
            const double marginY = std::ceil(filter.support / std::min(scaleY, 1.0)) + 1;
            for (int y = 0; y < size[1]; ++y)
                for (int x = 0; x < size[0]; ++x) {
                    const double u = x / scaleX, v = y / scaleY;
                    if (u < marginX || u > 63 - marginX || v < marginY || v > 47 - marginY) continue;
                    const double expected[3] = {120 + v, u, 150 - u};
                    for (int c = 0; c < 3; ++c)
                        ASSERT_NEAR(dest.pixel(x, y)[c], expected[c], 1.0)
                            << filter.name << " to " << size[0] << "x" << size[1] << " at " << x << "," << y;
                }
        }
}

// 21 -> 41 pixels is exactly 2x (the end pixels map onto each other), so
// output i samples the kernel at i / 2 - 10 around an impulse at 10.
TEST(Stretch, DoublingAnImpulseDrawsTheKernel) {
    const Bitmap24 impulse = picture(21, 1, [](int x, int, int) { return x == 10 ? 255 : 0; });
    for (const ResampleFilter& filter : resampleFilterTable()) {
        const Bitmap24 dest = stretched(impulse, 41, 1, filter);
        for (int i = 0; i < 41; ++i) {
            const double kernel = 255.0 * filter.function(i / 2.0f - 10.0f);
            ASSERT_NEAR(dest.pixel(i, 0)[1], std::clamp(kernel, 0.0, 255.0), 1.0) << filter.name << " at " << i;
        }
    }
}

// Reducing, each filter widens by the reduction: one-pixel stripes average out to grey instead of aliasing.
TEST(Stretch, AReductionWidensTheFilterSoStripesTurnGrey) {
    const Bitmap24 stripes = picture(64, 48, [](int x, int, int) { return x % 2 * 200; });
    for (const ResampleFilter& filter : resampleFilterTable())
        EXPECT_NEAR(stretched(stripes, 8, 6, filter).pixel(3, 2)[1], 100, 15) << filter.name;
}

TEST(Stretch, OnePixelAndEmptyDestinationsAndSources) {
    const Bitmap24 ramp = picture(30, 20, [](int x, int y, int) { return 5 * x + y; });
    // One column wide: no division by a zero scale; it sits on column 0.
    Bitmap24 column = stretched(ramp, 1, 20, resampleFilterTable()[1]);
    for (int y = 0; y < 20; ++y) EXPECT_EQ(column.pixel(0, y)[0], y);
    // A single source pixel fills the whole destination.
    const auto colour = [](int, int, int c) { return 40 + c; };
    EXPECT_EQ(stretched(picture(1, 1, colour), 6, 4, filterForItem(3)), picture(6, 4, colour));
    // An empty source fails and leaves the destination alone.
    const Bitmap24 before = column;
    EXPECT_THROW(Stretch(Bitmap24(0, 5), column, BellFilter, 1.5f), PlanexorError);
    EXPECT_EQ(column, before);
}

TEST(ResamplePlan, OnePlanServesManyFramesAsStretchWould) {
    ResamplePlan plan;
    Bitmap24 dest;
    // The same lists twice, then new ones for another size and for another filter.
    const std::tuple<int, int, int> plans[] = {{3, 99, 79}, {3, 99, 79}, {3, 30, 61}, {1, 30, 61}};
    for (int frame = 0; const auto& [item, width, height] : plans) {
        const ResampleFilter& filter = filterForItem(item);
        const Bitmap24 source =
            picture(50, 40, [&](int x, int y, int c) { return (x * 7 + y * 13 + c * 50 + frame * 91) % 256; });
        plan.prepare(50, 40, width, height, filter.function, filter.support);
        plan.apply(source, dest);
        EXPECT_EQ(dest, stretched(source, width, height, filter)) << "frame " << frame;
        ++frame;
    }
    EXPECT_THROW(plan.apply(Bitmap24(49, 40), dest), PlanexorError);
}

// A window of a stretch, anywhere (beyond the edges too), is that part of
// the whole stretch byte for byte, enlarging and reducing alike.
TEST(ResamplePlan, AWindowIsThatPartOfTheWholeStretch) {
    const Bitmap24 source = picture(37, 29, [](int x, int y, int c) { return (x * x * 5 + y * 11 + c * 70) % 256; });
    ResamplePlan plan;
    Bitmap24 window;
    for (const auto& [filter, width, height] : {std::tuple{1, 73, 57}, std::tuple{2, 55, 43}, std::tuple{3, 20, 31}})
        for (const auto& [left, top, side] : {std::tuple{0, 0, 9}, std::tuple{30, 20, 21}, std::tuple{-6, 50, 12}}) {
            const ResampleFilter& chosen = filterForItem(filter);
            const Bitmap24 whole = stretched(source, width, height, chosen);
            plan.stretchWindow(source, width, height, left, top, side, side, chosen.function, chosen.support, window);
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) {
                    const int wx = left + x, wy = top + y;
                    if (wx < 0 || wy < 0 || wx >= width || wy >= height) continue;
                    ASSERT_EQ(std::vector<int>(window.pixel(x, y), window.pixel(x, y) + 3),
                              std::vector<int>(whole.pixel(wx, wy), whole.pixel(wx, wy) + 3))
                        << filter << ": " << wx << "," << wy;
                }
        }
}

}  // namespace
}  // namespace planexor
