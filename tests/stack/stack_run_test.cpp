#include "stack/stack_run.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

namespace planexor {
namespace {

std::unique_ptr<Workspace> rankedWorkspace(const std::vector<int>& frames, const std::vector<float>& differences) {
    auto workspace = std::make_unique<Workspace>();
    for (std::size_t rank = 0; rank < frames.size(); ++rank) workspace->Ranking[rank].Frame = frames[rank];
    for (std::size_t frame = 0; frame < differences.size(); ++frame)
        workspace->FrameRecs[frame].Difference = differences[frame];
    return workspace;
}

TEST(SelectStackRanks, BrokenRankingEntriesAndRecordsNeverSelectOrSetTheCut) {
    auto workspace = rankedWorkspace({0, -1, 1, 3000, 2, 3},
                                     {0.0f, std::numeric_limits<float>::quiet_NaN(), 40.0f, 80.0f});
    const StackSelection selection = selectStackRanks(*workspace, 99, 5, 50);
    EXPECT_FLOAT_EQ(selection.cut, 40.0f);
    // Rank 2 (frame 1, NaN) fails the cut; frame 2 sits on it; frame 3 is above.
    EXPECT_EQ(selection.ranks, (std::vector<int>{0, 4}));

    workspace->FrameRecs[2].Excluded = 1;
    EXPECT_EQ(selectStackRanks(*workspace, 99, 5, 50).ranks, (std::vector<int>{0}));
    EXPECT_EQ(selectStackRanks(*workspace, -3, 5, 100).ranks, (std::vector<int>{}));
    // A last rank beyond the slots reads none of them past the end.
    EXPECT_EQ(selectStackRanks(*workspace, 5000, 5000, 100).ranks.size(), MaxFrames - 4u);
}

TEST(ShiftSpread, BoundsStartAtZeroAndDeinterlacingCountsTheFieldShifts) {
    auto workspace = rankedWorkspace({0, 1}, {});
    workspace->FrameRecs[0].ShiftY = workspace->FrameRecs[1].ShiftY = 3;
    workspace->FrameRecs[1].FieldShiftX = -6;
    const ShiftSpread plain = shiftSpread(*workspace, {0, 1}, false);
    EXPECT_EQ(plain.minY, 0);
    EXPECT_EQ(plain.maxY, 3);
    EXPECT_EQ(shiftSpread(*workspace, {0, 1}, true).minX, -6);
}

TEST(RenderStack, ScalesThePeakTo255AndMonoIsGreyInEveryChannel) {
    auto workspace = std::make_unique<Workspace>();
    workspace->StackG[0][0] = 40.0f;
    workspace->StackG[1][0] = -5.0f;  // a dark subtracted below zero
    workspace->StackR[2][1] = 80.0f;  // not read in mono
    EXPECT_FLOAT_EQ(stackPeak(*workspace, 3, 2, true), 80.0f);
    EXPECT_FLOAT_EQ(stackPeak(*workspace, 3, 2, false), 40.0f);
    Bitmap24 shown;
    renderStack(*workspace, 3, 2, false, 40.0f, shown);
    ASSERT_EQ(shown.width(), 3);
    EXPECT_EQ(shown.pixel(0, 0)[2], 255);
    EXPECT_EQ(shown.pixel(1, 0)[1], 0);
    EXPECT_EQ(shown.pixel(2, 1)[2], 0);
}

// Stripes every two pixels in a box at (8, 8) or, blurred, their mean.
TEST(StackQuality, FineDetailScoresHigher_ABlackStackOrABoxOutsideTheFrameScoresZero) {
    const auto workspace = std::make_unique<Workspace>();
    FftEngine fft;
    const auto quality = [&](float level, bool blurred, bool colour = false, int left = 8, int top = 8) {
        for (int x = 0; x < 80; ++x)
            for (int y = 0; y < 80; ++y) {
                const float value = blurred ? 0.6f * level : ((x >> 1) + (y >> 2)) % 2 ? level : 0.2f * level;
                workspace->StackG[x][y] = value;
                workspace->StackR[x][y] = 3.0f * value;
                workspace->StackB[x][y] = 0.5f * value;
            }
        return stackQualityOf(*workspace, fft, 64, left, top, 80, 80, colour, 12);
    };
    const float sharp = quality(100.0f, false);
    EXPECT_GT(sharp, 0.05f);
    EXPECT_NEAR(quality(100.0f, false, true), sharp, 1e-4);  // the channels are proportional
    EXPECT_LT(quality(100.0f, true), sharp / 10);
    EXPECT_EQ(quality(0.0f, false, true), 0.0f);
    EXPECT_EQ(quality(100.0f, false, false, 200, 8), 0.0f);
    EXPECT_EQ(quality(100.0f, false, false, -5000, -5000), 0.0f);
    EXPECT_GT(quality(100.0f, false, false, -32, -32), 0.0f);  // a quarter of the box reaches in
}

}  // namespace
}  // namespace planexor
