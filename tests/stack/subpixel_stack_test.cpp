// Frames placed at a fraction of a pixel.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "stack/frame_preparation.h"
#include "support/settled_stack.h"

namespace planexor {
namespace {

// A smooth picture whose value a fraction further on is known: a gentle
// slope in x (red), in y (green), a constant (blue).
Bitmap24 slopes(int width, int height) {
    Bitmap24 frame(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = frame.pixel(x, y);
            p[2] = static_cast<std::uint8_t>(40 + 2 * x);
            p[1] = static_cast<std::uint8_t>(30 + 3 * y);
            p[0] = 77;
        }
    return frame;
}

struct Case {
    bool colour, resample;
};

class SubpixelStack : public ::testing::TestWithParam<Case> {
protected:
    std::unique_ptr<Workspace> stack(float fractionX, float fractionY, bool subpixel) {
        auto w = std::make_unique<Workspace>();
        w->OrigWidth = w->FrameWidth = w->ImageWidth = 60;
        w->OrigHeight = w->FrameHeight = w->ImageHeight = 50;
        w->ResampleFactor = 2.0f;
        TFrameRec& record = w->FrameRecs[0];
        record.ShiftX = GetParam().resample ? 6 : 3;
        record.ShiftY = GetParam().resample ? -4 : -2;
        record.SubShiftX = fractionX;
        record.SubShiftY = fractionY;
        record.Quality = 1.0f;
        StackOptions options;
        options.colour = GetParam().colour;
        options.resample = GetParam().resample;
        options.filterItem = 1;  // B-Spline: smooth enough to keep a slope a slope
        options.subpixel = subpixel;
        FramePreparation preparation(options);
        Bitmap24 frame = slopes(60, 50);
        decodedSettled(preparation, *w, frame, 0);
        return w;
    }
};

// Without a fraction the interpolated placement is the whole-pixel one, and
// a fraction moves the picture by that much: a slope gains fraction x slope
// (on average: resampling rounds each pixel to a byte on the way).
TEST_P(SubpixelStack, PlacesTheFrameAtItsFraction) {
    const bool resample = GetParam().resample, colour = GetParam().colour;
    const auto whole = stack(0.0f, 0.0f, false);
    const auto zero = stack(0.0f, 0.0f, true);
    // Shifts count in resampled pixels while resampling: the same move in frame pixels.
    const auto moved = stack(resample ? 1.0f : 0.5f, resample ? -0.5f : -0.25f, true);
    const double dx = 0.5, dy = -0.25;
    const double expected[3] = {2 * dx, 3 * dy, 0.0};  // red, green, blue
    const double grey = 0.299 * expected[0] + 0.587 * expected[1];
    double moves[3] = {}, samples = 0;
    for (int x = 12; x < 40; x += 3)
        for (int y = 12; y < 30; y += 3) {
            ASSERT_EQ(zero->StackCount[x][y], 1);
            ASSERT_EQ(moved->StackCount[x][y], 1);
            const float before[3] = {whole->StackR[x][y], whole->StackG[x][y], whole->StackB[x][y]};
            const float same[3] = {zero->StackR[x][y], zero->StackG[x][y], zero->StackB[x][y]};
            const float after[3] = {moved->StackR[x][y], moved->StackG[x][y], moved->StackB[x][y]};
            for (int c = 0; c < 3; ++c) {
                EXPECT_NEAR(same[c], before[c], resample ? 0.0 : 1e-3);
                moves[c] += after[c] - before[c];
            }
            ++samples;
        }
    // Lanczos3 bends a slope slightly; a wrong sign or axis misses by 0.5 and more.
    if (colour) {
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(moves[c] / samples, expected[c], 0.12) << "channel " << c;
    } else {
        EXPECT_NEAR(moves[1] / samples, grey, 0.12);
    }
}

INSTANTIATE_TEST_SUITE_P(ColourAndMono, SubpixelStack,
                         ::testing::Values(Case{true, false}, Case{false, false}, Case{true, true}, Case{false, true}));

// A fraction that is not a number, or far beyond a pixel, from a damaged
// record: the frame still lands inside the stack, finite.
TEST(SubpixelStackInput, AnAbsurdFractionStaysFinite) {
    auto w = std::make_unique<Workspace>();
    w->FrameWidth = w->ImageWidth = 40;
    w->FrameHeight = w->ImageHeight = 30;
    w->FrameRecs[0].SubShiftX = NAN;
    w->FrameRecs[0].SubShiftY = 1e30f;
    StackOptions options;
    options.subpixel = true;
    FramePreparation preparation(options);
    Bitmap24 frame = slopes(40, 30);
    decodedSettled(preparation, *w, frame, 0);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 30; ++y) ASSERT_TRUE(std::isfinite(w->StackR[x][y]));
    EXPECT_EQ(w->StackCount[5][5], 1);
}

}  // namespace
}  // namespace planexor
