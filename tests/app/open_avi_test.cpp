#include <gtest/gtest.h>

#include "support/ffmpeg_tool.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

class OpenAvi : public testing::FormTest {
protected:
    void SetUp() override { REQUIRE_FFMPEG(); }
    // A plain grey video made by ffmpeg itself: cheap for long or large files.
    std::string greyVideo(const std::string& name, int width, int height, int frames) {
        const std::string path = dir.file(name);
        testing::runFfmpeg("-f lavfi -i color=c=gray:s=" + std::to_string(width) + "x" + std::to_string(height) +
                           ":r=25 -frames:v " + std::to_string(frames) + " -c:v rawvideo -pix_fmt bgr24 " + path);
        return path;
    }
};

TEST_F(OpenAvi, FramesAreShownByNumberAndTheWindowNamesTheFile) {
    const std::string path = dir.file("count.avi");
    const auto frames = testing::writeCountingVideo(path, 160, 128, 12, "-c:v rawvideo -pix_fmt bgr24");
    open({path});
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(form.caption(), "Planexor processing AVI: " + path);
    EXPECT_EQ(w.SourceFile, "count.avi");
    EXPECT_EQ(form.control(Control::SelectFramesChecklist).listItems().at(11).text, "Frame 12");
    EXPECT_EQ(settings.readString("Files", "Lasttype", ""), "AVI");
    EXPECT_EQ(form.previewBitmap(), frames[0]);
    for (int n : {7, 2, 11, 0}) {
        form.control(Control::PreviewSlider).setValueByUser(n);
        EXPECT_EQ(form.previewBitmap(), frames[n]) << "frame " << n;
        EXPECT_EQ(form.control(Control::Label9).caption(), std::to_string(n + 1) + " / 12");
    }
}

TEST_F(OpenAvi, LongLargeAndSmallVideosAreCutWithOneMessageAndChooseTheirBox) {
    open({greyVideo("large.avi", 1280, 960, 2)});
    EXPECT_EQ(timesShown("AVI or BMP too large (max 1024x1024) !!!!"), 1);
    EXPECT_EQ((std::vector<int>{w.OrigWidth, w.ImageWidth, w.FrameWidth}), (std::vector<int>{1280, 1024, 1024}));
    EXPECT_EQ(form.control(Control::FFTsizeGroup).itemIndex(), 1);
    open({greyVideo("small.avi", 100, 100, 2)});
    EXPECT_EQ(form.control(Control::FFTsizeGroup).itemIndex(), 0);
    open({greyVideo("long.avi", 16, 16, 3000)});
    EXPECT_EQ(timesShown("Warning : only the first 2500 frames will be processed"), 1);
    EXPECT_EQ(form.control(Control::PreviewSlider).maximum(), 2500);
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 2501 selected (Total = 2501 ) ");
}

TEST_F(OpenAvi, ATextFileNamedAviIsRefusedAndNothingStaysOpen) {
    testing::writeText(dir.file("fake.avi"), "RIFF? no, just words\n");
    open({dir.file("fake.avi")});
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_EQ(errors()[0].rfind("Failed to open AVI file", 0), 0u) << errors()[0];
    EXPECT_FALSE(w.SequenceOpen);
    EXPECT_EQ(form.frameCount(), 0);
    form.control(Control::PreviewSlider).setValueByUser(3);  // nothing to show, nothing to fail
    EXPECT_EQ(ui.messages.size(), 1u);
}

TEST_F(OpenAvi, CancelDuringTheFrameLoopStopsAfterTheCurrentFrame) {
    open({greyVideo("run.avi", 160, 160, 40)});
    click(80, 80);
    std::vector<int> gauge;
    form.control(Control::Progressgraph).addObserver([&](const ControlModel& m) { gauge.push_back(m.intValue()); });
    const int callsBefore = ui.pendingEventCalls;
    const std::size_t dialogsBefore = ui.dialogRequests.size();
    ui.onProcessEvents = [&](int call) {
        EXPECT_TRUE(form.runInProgress() && form.control(Control::MessageWindow).visible());
        form.control(Control::SelectFileButton).click();  // refused: a run is going on
        if (call - callsBefore == 10) form.control(Control::BitBtn2).click();
    };
    alignAll();
    EXPECT_EQ(w.CurrentFrame, 8);  // frames 0..8 were handled, Cancel came before frame 9
    EXPECT_TRUE(w.StopRequested);
    EXPECT_EQ(ui.dialogRequests.size(), dialogsBefore);
    EXPECT_TRUE(std::is_sorted(gauge.begin(), gauge.end()));
    EXPECT_FALSE(form.control(Control::MessageWindow).visible() || form.runInProgress());
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);
}

}  // namespace
}  // namespace planexor
