#include "align/registration.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <vector>

#include "align/optimize.h"
#include "core/error.h"
#include "demo/synthetic_planet.h"
#include "support/allocation_counter.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::movedScene;
using testing::spearman;
using testing::uniform;

class Registration : public ::testing::Test {
protected:
    // The feature at (x, y) of `frame`, clicked as the reference of frame 0.
    void click(const Bitmap24& frame, int x, int y, int size = 64) {
        fft.SetupFFT(size);
        w.FrameWidth = w.ImageWidth = frame.width();
        w.FrameHeight = w.ImageHeight = frame.height();
        w.hotx = x;
        w.hoty = y;
        alignment.BoxLeft = x - size / 2;
        alignment.BoxTop = y - size / 2;
        alignment.resetTrack();
        alignment.PrevPeak = 0;
        reference = frame;
        referenceQuality = buildReferenceSpectrum(alignment, fft, frame, w.FrameWidth, w.FrameHeight, options);
    }
    RegistrationResult align(int frameNumber, const Bitmap24& frame) {
        w.CurrentFrame = frameNumber;
        return registerFrame(w, alignment, fft, frame, reference, options);
    }

    FftEngine fft;
    std::unique_ptr<Workspace> workspace = std::make_unique<Workspace>();
    Workspace& w = *workspace;
    Alignment alignment;
    RegistrationOptions options;
    Bitmap24 reference;
    float referenceQuality = 0;
};

TEST_F(Registration, ContentMovedRightAndDownGivesPositiveShiftsForBothCorrelations) {
    options.track = false;
    click(movedScene(200, 160, 0, 0), 100, 80);
    for (int type : {0, 1}) {
        SCOPED_TRACE(type);
        options.correlationType = type;
        const RegistrationResult same = align(0, reference);
        EXPECT_EQ(same.shiftX, 0);
        EXPECT_EQ(same.shiftY, 0);
        EXPECT_EQ(same.difference, 0.0f);

        const RegistrationResult moved = align(1, movedScene(200, 160, 3, 2));
        EXPECT_EQ(w.FrameRecs[1].ShiftX, 3);
        EXPECT_EQ(w.FrameRecs[1].ShiftY, 2);
        EXPECT_GT(w.FrameRecs[1].Quality, 0.0f);
        // Registered, the moved frame matches the reference where both exist.
        EXPECT_LT(moved.difference, 1e-3f);
    }
    // Resampled, the difference is marked as one that optimizing always beats.
    options.resampled = true;
    align(1, movedScene(200, 160, 3, 2));
    EXPECT_EQ(w.FrameRecs[1].Difference, 1.0f);
    // A reference of another box size is never correlated.
    fft.SetupFFT(128);
    EXPECT_THROW(align(1, reference), PlanexorError);
}

TEST_F(Registration, TrackingMovesTheBoxWithTheFeatureAndPredictionAddsTheDrift) {
    click(movedScene(320, 160, 0, 0), 80, 80);
    // 7 pixels per frame: after 10 frames the content is 63 pixels away,
    // far beyond what one 64-pixel box could measure.
    std::vector<int> found;
    for (bool predict : {false, true}) {
        options.predict = predict;
        alignment.resetTrack();
        for (int k = 0; k <= 10; ++k) {
            const CorrelationPeak peak = correlateFrame(alignment, fft, movedScene(320, 160, 7 * k, 0), 320, 160, options);
            // The box is read where the feature was last found, plus the
            // drift of the last two frames when predicting.
            EXPECT_EQ(peak.offsetX, k == 0 ? 0 : 7 * (k - 1) + (predict && k >= 2 ? 7 : 0)) << k;
            w.CurrentFrame = k;
            const RegistrationResult result =
                finishRegistration(w, alignment, fft, movedScene(320, 160, 7 * k, 0), reference, peak, {}, options);
            EXPECT_EQ(result.shiftX, 7 * k) << k;
            EXPECT_EQ(result.localX, predict && k >= 2 ? 0 : (k == 0 ? 0 : 7)) << k;
        }
    }
    // A frame that does not follow its predecessor (one left out) predicts nothing.
    w.CurrentFrame = 12;
    alignment.lastFound[1] = {10, 70, 0};
    alignment.TrackX = 70;
    const RegistrationResult after = align(12, movedScene(320, 160, 84, 0));
    EXPECT_EQ(after.shiftX, 84);
    EXPECT_EQ(alignment.TrackVelX, 0);
}

TEST_F(Registration, MisalignmentIsReportedBelowSeventyPercentOfThePreviousPeak) {
    alignment.PrevPeak = 100.0;
    for (const auto& [height, warn, lost] : {std::tuple{69.0, true, true}, {69.0, false, false}, {70.0, true, false}})
        EXPECT_EQ(alignmentLost(alignment, {.height = height}, warn), lost) << height << warn;
}

TEST_F(Registration, DegenerateFramesGiveFiniteResultsAndNeverReadOutsideTheBitmap) {
    for (std::uint8_t level : {std::uint8_t{0}, std::uint8_t{128}}) {
        SCOPED_TRACE(static_cast<int>(level));
        click(uniform(160, 120, level), 80, 60);
        EXPECT_EQ(referenceQuality, 0.0f);
        for (int type : {0, 1}) {
            options.correlationType = type;
            const RegistrationResult result = align(0, uniform(160, 120, level));
            EXPECT_TRUE(std::isfinite(result.difference));
            EXPECT_EQ(result.quality, 0.0f);
        }
    }
    // A still frame smaller than the sequence, and a track that leaves it:
    // only the bitmap's own pixels are read, the box counts as outside.
    click(movedScene(200, 160, 0, 0), 100, 80);
    alignment.TrackX = 500;
    const RegistrationResult small = align(1, movedScene(60, 40, 0, 0));
    EXPECT_TRUE(small.outside);
    EXPECT_EQ(small.quality, 0.0f);
    EXPECT_TRUE(std::isfinite(small.difference));
}

// The project's synthetic planet, whose frame 0 is the reference. A 100-pixel
// drift takes tracking to follow it. After the first frame a registration
// allocates nothing (where the allocator is counted).
TEST_F(Registration, SyntheticPlanetIsTrackedToAPixelAndRankedBySharpness) {
    DemoOptions demo;
    demo.width = 320;
    demo.height = 240;
    demo.frames = 50;
    demo.drift = 100.0;
    const std::vector<FrameTruth> truth = demoTruth(demo);
    PlanetRenderer renderer(demo.width, demo.height, demo.seed);
    Bitmap24 frame;
    int within = 0;
    long allocated = 0;
    std::vector<double> quality, sharpness;
    for (int k = 0; k < 50; ++k) {
        renderer.render(truth[k], k, FrameEffects{}, frame);
        if (k == 0) click(frame, 110, 120, 128);
        const long before = testing::allocationCount();
        const RegistrationResult result = align(k, frame);
        if (k > 0) allocated += testing::allocationCount() - before;
        within += std::abs(result.shiftX - (truth[k].shiftX - truth[0].shiftX)) <= 1.0 &&
                  std::abs(result.shiftY - (truth[k].shiftY - truth[0].shiftY)) <= 1.0;
        quality.push_back(result.quality);
        sharpness.push_back(-truth[k].blur);
    }
    EXPECT_GE(within, 49);
    EXPECT_GE(spearman(quality, sharpness), 0.85);
    EXPECT_EQ(allocated, 0);
}

TEST(Ranking, SortsByFallingQualityStablyWithExcludedFramesLast) {
    auto workspace = std::make_unique<Workspace>();
    Workspace& w = *workspace;
    const float qualities[] = {0.5f, 0.8f, 0.8f, 0.3f, 0.0f, 0.0f};
    for (int k = 0; k < 6; ++k) w.Ranking[k] = {k, qualities[k], 10.0f + k};
    w.FrameRecs[4].Excluded = 1;
    SortRanking(w, 5);
    std::vector<TRankEntry> sorted(w.Ranking.begin(), w.Ranking.begin() + 6);
    // Frame 5 is used but scored 0 (its box left the frame); StackQuality
    // is indexed by count, not by rank.
    const std::vector<TRankEntry> expected = {{1, 0.8f, 10}, {2, 0.8f, 11}, {0, 0.5f, 12},
                                              {3, 0.3f, 13}, {5, 0.0f, 14}, {4, 0.0f, 15}};
    EXPECT_EQ(sorted, expected);
}

TEST(Ranking, ChainedStackCutsAtTheFirstRankBelowTheLowerQuality) {
    auto workspace = std::make_unique<Workspace>();
    Workspace& w = *workspace;
    const auto cut = [&w](std::vector<float> qualities) {
        for (std::size_t k = 0; k < qualities.size(); ++k) w.Ranking[k].Quality = qualities[k];
        return chainCutRank(w, static_cast<int>(qualities.size()) - 1, 80);
    };
    EXPECT_EQ(cut({1.0f, 0.9f, 0.85f, 0.7f, 0.6f}), 2);
    EXPECT_EQ(cut({1.0f, 0.7f, 0.6f}), 0);          // only the best is above 80 %
    EXPECT_EQ(cut({1.0f, 0.9f, 0.9f, 0.3f}), 2);    // the last rank is below: left out
    EXPECT_EQ(cut({1.0f, 0.9f, 0.85f}), 2);         // none below: all
    EXPECT_EQ(cut({1.0f}), 0);
    EXPECT_EQ(cut({1.25f, 1.0f, 0.5f}), 1);         // exactly at the limit: kept
}

// Registration to a fraction on the synthetic planet is measured through the
// window (beyond_pixels_test); here the fit itself.
TEST(PeakOffset, FindsTheTopOfAParabolaAndNothingWithoutCurvature) {
    EXPECT_EQ(peakOffset(5.0, 5.0, 5.0), 0.0);             // flat
    EXPECT_EQ(peakOffset(1.0, 5.0, 9.0), 0.0);             // a slope, no top
    EXPECT_EQ(peakOffset(NAN, 5.0, 1.0), 0.0);
    EXPECT_EQ(peakOffset(4.0, 5.0, 2.0), -0.25);
    EXPECT_EQ(peakOffset(6.0, 5.0, 1.0), -0.5);            // never past half a cell
}

// The optimizer's 32-pixel box in the middle of a 120 x 100 picture.
constexpr int Box = 32;
const OptimizePlacement Centre{60, 50, 120, 100};

TEST(Optimize, AUniformDarkLeavesTheSumsAndEqualSumsFollowTheTieRules) {
    const Bitmap24 reference = movedScene(120, 100, 0, 0);
    const Bitmap24 frame = movedScene(120, 100, 1, 2);
    auto dark = std::make_unique<TFloatPlane>();
    dark->fill(128.0f * 10.0f);
    const OptimizeOptions plain{.boxSize = Box};
    const OptimizeOptions withDark{.boxSize = Box, .dark = dark.get(), .darkWidth = 120, .darkHeight = 100};
    FrameOptimizer a, b;
    TFrameRec first{.Difference = 1.0f}, second{.Difference = 1e30f};  // 1: the resampled mark, always beaten
    a.optimize(first, false, reference, frame, Centre, plain);
    b.optimize(second, false, reference, frame, Centre, withDark);
    EXPECT_EQ(first, second);

    // Flat boxes: every candidate sums to 0. Without fields the last one
    // wins; with fields the first that beats the stored value stays, in the
    // first field's values.
    const Bitmap24 flat = uniform(120, 100, 90);
    TFrameRec whole{.Difference = 5.0f}, field{.FieldDifference = 5.0f};
    a.optimize(whole, false, flat, flat, Centre, plain);
    a.optimize(field, true, flat, flat, Centre, {.boxSize = Box, .interlaced = true});
    EXPECT_EQ(std::tuple(whole.ShiftX, whole.ShiftY, field.FieldShiftX, field.FieldShiftY, field.ShiftX),
              std::tuple(2, 2, -2, -2, 0));
}

TEST(Optimize, ReadsStayWithinTheBitmapsAndBlankFramesNeedNoDivision) {
    // A placement larger than the pictures, far offsets and a dark read at
    // scaled positions: nothing outside is read (the sanitizer build checks).
    const Bitmap24 small = movedScene(40, 30, 0, 0);
    auto dark = std::make_unique<TFloatPlane>();
    const OptimizeOptions options{.boxSize = 64, .searchArea = 10, .biasSubtract = true, .dark = dark.get(),
                                  .darkWidth = 20, .darkHeight = 15, .darkScale = 2.0};
    FrameOptimizer optimizer;
    for (const OptimizePlacement& place : {OptimizePlacement{52, 47, 4000, 4000}, OptimizePlacement{-5, -5, 40, 30}}) {
        TFrameRec record{.ShiftX = -1000000, .Difference = 1e30f};
        optimizer.optimize(record, false, small, small, place, options);
        EXPECT_TRUE(std::isfinite(record.Difference));
    }

    auto owner = std::make_unique<Workspace>();
    Workspace& w = *owner;
    w.Ranking[1].Frame = 1;
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
