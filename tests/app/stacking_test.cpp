#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <tuple>

#include "core/pixel.h"
#include "support/fits_files.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

using testing::movedScene;
using testing::uniform;

struct AlignedFrame {
    Bitmap24 image;
    int shiftX = 0, shiftY = 0;
    float quality = 1.0f;
    float difference = 0.0f;
    bool excluded = false;
};

class Stacking : public testing::FormTest {
protected:
    // Opens the frames as still BMPs and records them as the align-all run
    // would: shifts, qualities, differences and the ranking by quality.
    void openAligned(const std::vector<AlignedFrame>& frames) {
        std::vector<std::string> files;
        for (std::size_t k = 0; k < frames.size(); ++k) {
            // Equal frames share one file: files are written safely, and slowly.
            if (k > 0 && frames[k].image == frames[k - 1].image) files.push_back(files.back());
            else files.push_back(testing::writeBmp(dir, "f" + std::to_string(k) + ".bmp", frames[k].image));
        }
        open(files, 2);
        ASSERT_TRUE(ui.messages.empty());
        std::vector<int> order(frames.size());
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(),
                         [&](int a, int b) { return frames[a].quality > frames[b].quality; });
        w.usedframes = 0;
        for (std::size_t k = 0; k < frames.size(); ++k) {
            const AlignedFrame& f = frames[k];
            TFrameRec& record = w.FrameRecs[k];
            std::tie(record.ShiftX, record.ShiftY, record.Quality, record.Difference) =
                std::tuple(f.shiftX, f.shiftY, f.quality, f.difference);
            record.Excluded = f.excluded ? 1 : 0;
            w.usedframes += f.excluded ? 0 : 1;
            w.Ranking[k] = {order[k], frames[order[k]].quality, 0.0f};
        }
        const int last = static_cast<int>(frames.size()) - 1;
        form.control(Control::StackSlider).setRange(0, last);
        form.control(Control::StackSlider).setValue(last);
        w.progstatus = 2;
    }
    void openUniform(int count, std::uint8_t value, float difference = 0) {
        std::vector<AlignedFrame> frames;
        for (int k = 0; k < count; ++k) frames.push_back({uniform(16, 12, value), 0, 0, 0.9f - 0.1f * k, difference + k});
        openAligned(frames);
    }
    void stack() { form.control(Control::Stackbutton).click(); }
    std::string info() { return form.control(Control::StackInfoLabel).caption(); }
    long long countSum(int width, int height) const {
        long long sum = 0;
        for (int x = 0; x < width; ++x)
            for (int y = 0; y < height; ++y) sum += w.StackCount[x][y];
        return sum;
    }
};

TEST_F(Stacking, CutOffsSelectTheRanksUpToTheSliderWhoseDifferencePassesInRankOrder) {
    // Frame k is the uniform value 2^k, so a plain sum names the frames added.
    const float qualities[] = {0.9f, 0.5f, 0.1f, 1.0f, 0.3f, 0.7f};
    const float differences[] = {10, 100, 200, 0, 0, 150};
    std::vector<AlignedFrame> frames;
    for (int k = 0; k < 6; ++k)
        frames.push_back(
            {uniform(16, 12, static_cast<std::uint8_t>(1 << k)), 0, 0, qualities[k], differences[k], k == 0});
    openAligned(frames);  // ranks: frames 3, 0, 5, 1, 4, 2
    form.control(Control::ColourStack).setChecked(false);
    form.control(Control::QualStack).setChecked(false);
    form.control(Control::Averagepixel).setChecked(false);
    form.control(Control::StackSlider).setValueByUser(3);
    // The cut is half the largest difference of all ranks (frame 2's 200),
    // not only of those up to the slider; frame 1 sits exactly on it.
    form.control(Control::differencecutslider).setValueByUser(50);
    EXPECT_EQ(info(), "Stacking : quality >= 50% , difference <= 50% , n = 2");
    stack();
    EXPECT_TRUE(ui.questions.empty());
    EXPECT_EQ(nearest(w.StackG[5][5]) * 10 + w.StackCount[5][5], 102);
    EXPECT_EQ(form.stackedCount(), 2);
}

TEST_F(Stacking, CancelKeepsTheFramesAddedSoFarNormalisedAndShown) {
    std::vector<AlignedFrame> frames;
    for (int k = 0; k < 5; ++k)
        frames.push_back({uniform(16, 12, static_cast<std::uint8_t>(10 * (k + 1))), 0, 0, 0.9f - 0.1f * k});
    openAligned(frames);
    int stackClicks = 0;
    form.handlerTrace = [&](std::string_view name) { stackClicks += name == "StackButtonClick"; };
    const int before = ui.pendingEventCalls;
    ui.onProcessEvents = [&](int call) {
        // Before the third frame: a second run is refused, Cancel gets through.
        if (call == before + 3) {
            stack();
            form.control(Control::BitBtn2).click();
        }
    };
    stack();
    EXPECT_EQ(stackClicks, 1);
    EXPECT_EQ(w.StackCount[3][3], 2);
    EXPECT_FLOAT_EQ(w.StackR[3][3], 15.0f);
    EXPECT_FLOAT_EQ(w.StackMax, 15.0f);
    EXPECT_TRUE(w.StackReady && !w.StackRun);
    EXPECT_EQ(form.stackedCount(), 2);
    EXPECT_EQ(form.stackGraph().stackQualityCurve.size(), 3u);
    EXPECT_EQ(form.stackBitmap().pixel(7, 7)[1], 255);
    EXPECT_FALSE(form.control(Control::MessageWindow).visible());
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);
}

TEST_F(Stacking, OneSelectedFrameAsksFirstAndNoneSelectedSaysSo_RefusingKeepsTheOldStack) {
    openUniform(3, 90, 5);
    stack();
    EXPECT_TRUE(ui.questions.empty());
    const int stacked = countSum(16, 12);
    form.control(Control::StackSlider).setValueByUser(0);  // shows the frame at the cut-off
    const Bitmap24 shown = form.stackBitmap();
    ui.yesNoAnswers = {false};
    stack();
    ASSERT_EQ(ui.questions, (std::vector<std::string>{"Only one frame to stack, continue ???"}));
    EXPECT_EQ(countSum(16, 12), stacked);
    EXPECT_TRUE(w.StackReady);
    EXPECT_EQ(form.stackBitmap(), shown);
    ui.yesNoAnswers = {true};
    stack();
    EXPECT_EQ(w.StackCount[4][4], 1);
    EXPECT_FLOAT_EQ(w.StackG[4][4], 90.0f);
    EXPECT_TRUE(w.StackReady);

    form.control(Control::StackSlider).setValueByUser(2);
    stack();
    w.progstatus = 3;
    form.control(Control::differencecutslider).setValueByUser(0);  // every frame has a difference
    EXPECT_EQ(info(), "Stacking : quality >= 77% , difference <= 0% , n = 0");
    stack();
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(timesShown("Nothing to stack: no frame passes the quality and difference cut-offs"), 1);
    EXPECT_EQ(ui.questions.size(), 2u);
    EXPECT_EQ(w.progstatus, 3);
    EXPECT_EQ(w.StackCount[2][2], 3);
    // The stack planes keep the last stack until the next one: a sequence opened since has none to save.
    ui.messages.clear();
    openUniform(2, 40);
    EXPECT_FALSE(form.control(Control::SaveButton).enabled());
}

TEST_F(Stacking, ASingleStillFrameBecomesAOneFrameStackOnTheProcessingPage) {
    // The previous sequence's exclusions must not skip the single image.
    openAligned({{uniform(16, 12, 1)}, {uniform(16, 12, 2)}});
    form.PreviewSliderKeyDown(TMainForm::KeySpace);
    form.control(Control::PreviewSlider).setValueByUser(1);
    form.PreviewSliderKeyDown(TMainForm::KeySpace);
    ASSERT_EQ(w.FrameRecs[1].Excluded, 1);

    Bitmap24 image = movedScene(40, 30, 0, 0);
    std::fill_n(image.pixel(3, 4), 3, std::uint8_t{255});
    const std::string single = testing::writeBmp(dir, "single.bmp", image);
    open({single});
    EXPECT_TRUE(ui.messages.empty() && ui.questions.empty());
    EXPECT_TRUE(w.SingleImage);
    // Two ranks of the one frame, the second a copy: the stack slider keeps a span.
    EXPECT_EQ(std::tuple(w.FrameFiles[1], w.Ranking[0].Frame, w.Ranking[1].Quality, form.control(Control::StackSlider).maximum()),
              std::tuple(single, 0, 1.0f, 1.0));
    EXPECT_EQ(form.lastProcessingStage(), ProcessingCache::Stage::Decomposition);
    EXPECT_EQ(form.stackBitmap(), image);
    EXPECT_EQ(w.StackCount[39][29], 1);
    EXPECT_FALSE(form.control(Control::TabSheet2).visible() || form.control(Control::QualStack).checked());
    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 3);
    // One image has no shifts to measure again when it is to be enlarged.
    form.control(Control::Resampled).setCheckedByUser(true);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(form.control(Control::TabSheet3).visible());
}

TEST_F(Stacking, AFullLengthRunKeepsTheStackQualityOfEveryCount) {
    std::vector<AlignedFrame> frames(MaxFrames);
    for (int k = 0; k < MaxFrames; ++k) frames[k] = {movedScene(8, 8, 0, 0), 0, 0, 1.0f - k * 1e-4f};
    openAligned(frames);
    stack();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(w.StackCount[7][7], MaxFrames);
    const StackQualityTable& quality = form.stackQualities();
    EXPECT_GT(quality[1], 0.0f);
    EXPECT_NEAR(quality[MaxFrames], quality[1], 1e-4);  // the same picture, summed
    EXPECT_EQ(form.stackGraph().stackQualityCurve.size(), MaxFrames + 1u);
}

TEST_F(Stacking, ExpandedStackHoldsEverySelectedFrameWithinItsBoundsAndTheSizeLimit) {
    // Frame 2's difference equals the cut, so it is stacked and widens the bounds.
    openAligned({{uniform(20, 16, 100), 0, 0, 1.0f, 0.0f},
                 {uniform(20, 16, 100), 3, -2, 0.9f, 50.0f},
                 {uniform(20, 16, 100), -1, 4, 0.8f, 100.0f},
                 {uniform(20, 16, 100), 9, 9, 0.7f, 200.0f}});
    form.control(Control::differencecutslider).setValue(50);
    form.control(Control::Expandstack).setChecked(true);
    stack();
    EXPECT_EQ((std::vector<int>{w.MinShiftX, w.MaxShiftX, w.MinShiftY, w.MaxShiftY, w.StackWidth, w.StackHeight,
                                form.stackBitmap().width(), form.stackBitmap().height()}),
              (std::vector<int>{-1, 3, -2, 4, 23, 21, 23, 21}));
    // Three frames of 18 x 14 inner pixels each, all inside the stack.
    EXPECT_EQ(countSum(23, 21), 3 * 18 * 14);
    EXPECT_EQ(w.StackCount[4 + 1][1], 1);  // frame 2's first inner pixel

    openAligned({{uniform(1020, 4, 100), 10, 0, 1.0f}, {uniform(1020, 4, 100), -10, 0, 0.9f}});
    stack();
    EXPECT_EQ(w.StackWidth, 1024);
    EXPECT_EQ(form.stackBitmap().width(), 1024);
    long long beyond = 0;
    for (int x = 1024; x < PlaneSide; ++x)
        for (int y = 0; y < PlaneSide; ++y) beyond += w.StackCount[x][y];
    EXPECT_EQ(beyond, 0);
    EXPECT_EQ(w.StackCount[1023][1], 1);
}

TEST_F(Stacking, AResampledStackTakesTheEnlargedSizeAndItsMiddleFromOneClick) {
    openAligned({{movedScene(60, 50, 0, 0), 0, 0, 1.0f}, {movedScene(60, 50, 0, 0), 0, 0, 0.5f}});
    // Shifts measured without resampling do not fit it: the alignment is to be made again.
    // Expanding, which excludes resampling, goes while it is on.
    form.control(Control::Expandstack).setChecked(true);
    form.control(Control::Resampled).setCheckedByUser(true);
    EXPECT_FALSE(form.control(Control::Expandstack).checked() || form.control(Control::Expandstack).visible());
    EXPECT_EQ(w.progstatus, 1);
    EXPECT_FALSE(form.control(Control::TabSheet3).visible());
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("align the frames again"), std::string::npos);
    stack();
    EXPECT_EQ(w.ImageWidth * 1000 + w.ImageHeight, 120100);
    EXPECT_EQ(form.stackBitmap().width(), 120);
    EXPECT_EQ(w.StackCount[118][98], 2);

    form.control(Control::SetMiddleButton).click();
    form.mouseEvent(Control::StackImage, Mouse::Down, 41, 17, true);
    EXPECT_EQ(w.stackx * 100 + w.stacky, 4117);
    EXPECT_FALSE(w.SetMiddleMode);
    form.mouseEvent(Control::StackImage, Mouse::Down, 5, 5, true);
    EXPECT_EQ(w.stackx, 41);  // not in set-middle mode: ignored
    form.control(Control::Resampled).setCheckedByUser(false);
    EXPECT_TRUE(form.control(Control::Expandstack).visible());
}

// A video frame shown after stacking (the preview or the cut-off slider) is
// no new picture size: the FITS save and processing keep the stack's.
TEST_F(Stacking, AVideoFrameShownAfterAnExpandedStackLeavesTheStacksSize) {
    open(demo("video", 4, DemoOptions::Avi, 96, 72).sequenceFiles);
    click(48, 36);
    alignAll();
    form.control(Control::Expandstack).setCheckedByUser(true);
    form.control(Control::StackSlider).setValueByUser(3);
    stack();
    const std::vector<long> size{w.StackWidth, w.StackHeight};
    ASSERT_GT(size[0] + size[1], 96 + 72);
    form.control(Control::PreviewSlider).setValueByUser(2);
    form.control(Control::StackSlider).setValueByUser(2);
    const auto saved = save(Control::SaveButton, dir.file("s.fit"), 2);
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(testing::readWithCfitsio(saved[0]).axes, size);
    form.control(Control::PageControl1).setItemIndexByUser(3);
    form.control(Control::ProcessButton).click();
    EXPECT_EQ(form.image(Control::ProcessImage).width(), size[0]);
    // An extra shift of the whole stack goes with the expansion that showed it.
    form.control(Control::Xshift).setValue(30);
    form.control(Control::Expandstack).setCheckedByUser(false);
    EXPECT_EQ(form.control(Control::Xshift).value(), 0);
}

}  // namespace
}  // namespace planexor
