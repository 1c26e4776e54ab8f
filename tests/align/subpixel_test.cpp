#include <gtest/gtest.h>

#include <cmath>

#include "align/registration.h"

namespace planexor {
namespace {

// Registration to a fraction on the synthetic planet is measured through the
// window (beyond_pixels_test); here the fit itself.
TEST(PeakOffset, FindsTheTopOfAParabolaAndNothingWithoutCurvature) {
    const auto parabola = [](double top, double x) { return 10.0 - 2.0 * (x - top) * (x - top); };
    for (const double top : {-0.45, -0.2, 0.0, 0.3, 0.5})
        EXPECT_NEAR(peakOffset(parabola(top, -1), parabola(top, 0), parabola(top, 1)), top, 1e-12);
    EXPECT_EQ(peakOffset(5.0, 5.0, 5.0), 0.0);             // flat
    EXPECT_EQ(peakOffset(1.0, 5.0, 9.0), 0.0);             // a slope, no top
    EXPECT_EQ(peakOffset(NAN, 5.0, 1.0), 0.0);
    EXPECT_EQ(peakOffset(4.9, 5.0, -1e30), -0.5);          // never past half a cell
}

}  // namespace
}  // namespace planexor
