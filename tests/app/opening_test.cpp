// Opening still frames and AVI videos through the open dialog.
#include <gtest/gtest.h>

#include <algorithm>

#include "core/file_io.h"
#include "input/jpeg_codec.h"
#include "support/ffmpeg_tool.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

constexpr const char* TooMany = "Warning : only the first 2500 frames will be processed";

class OpenStillFrames : public testing::FormTest {
protected:
    std::string frame(const std::string& name, int number, int width = 160, int height = 140) {
        return testing::writeBmp(dir, name, testing::numberedFrame(width, height, number));
    }
    // Opens files given in the order the open dialog reports them.
    void openAsDialogReports(std::vector<std::string> files) {
        ui.queueDialog({true, std::move(files), 2});
        form.control(Control::SelectFileButton).click();
    }
    int shownNumber() const { return form.previewBitmap().pixel(0, 0)[0]; }
};

TEST_F(OpenStillFrames, DialogOrderHasItsFirstAndLastEntriesExchangedAndSpaceTogglesTheShownFrame) {
    const std::string a = frame("a.bmp", 1), b = frame("b.bmp", 2), c = frame("c.bmp", 3);
    openAsDialogReports({c, a, b});
    EXPECT_EQ((std::vector<std::string>{w.FrameFiles[0], w.FrameFiles[1], w.FrameFiles[2]}), (std::vector{b, a, c}));
    EXPECT_EQ(w.ImageWidth * 1000 + w.OrigHeight, 160140);
    EXPECT_EQ(shownNumber(), 2);  // frame 0 is b
    const auto& items = form.control(Control::SelectFramesChecklist).listItems();
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[1].text, "a.bmp");
    EXPECT_TRUE(items[2].checked);
    EXPECT_EQ(settings.readString("Files", "Lasttype", "") + settings.readString("Files", "Dir", ""), "BMP" + dir.path());
    form.control(Control::PreviewSlider).setValueByUser(2);
    EXPECT_EQ(shownNumber(), 3);
    EXPECT_EQ(form.caption(), "Planexor processing BMP: " + c);
    EXPECT_EQ(form.control(Control::Label9).caption(), "3 / 3");

    // Space toggles the shown frame's exclusion; opening again never shows the previous ones.
    form.control(Control::PreviewSlider).setValueByUser(1);
    form.PreviewSliderKeyDown(TMainForm::KeySpace);
    EXPECT_EQ(w.FrameRecs[1].Excluded * 10 + w.usedframes, 12);
    EXPECT_EQ(form.control(Control::UseFramesign).colour(), ColourRed);
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 2 selected (Total = 3 ) ");
    form.PreviewSliderKeyDown('A');  // only Space acts
    EXPECT_EQ(w.usedframes, 2);
    form.PreviewSliderKeyDown(TMainForm::KeySpace);
    EXPECT_EQ(w.FrameRecs[1].Excluded * 10 + w.usedframes, 3);
    form.PreviewSliderKeyDown(TMainForm::KeySpace);
    open({a, b, c});
    EXPECT_EQ(w.FrameRecs[1].Excluded, 0);
    form.control(Control::PreviewSlider).setValueByUser(1);
    EXPECT_EQ(form.control(Control::UseFramesign).colour(), ColourGreen);

    writeJpegFile(dir.file("a.jpg"), testing::numberedFrame(64, 64, 1));
    writeJpegFile(dir.file("b.jpg"), testing::numberedFrame(64, 64, 2));
    open({dir.file("a.jpg"), dir.file("b.jpg")});

    // The dialog starts on the last used type; cancelling it keeps the work open.
    form.control(Control::SelectFileButton).click();  // nothing queued: cancelled
    EXPECT_EQ(ui.dialogRequests.back().filterIndex, 4);
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);
    EXPECT_TRUE(w.SequenceOpen && w.JpegFrames);
    EXPECT_EQ(form.caption(), "Planexor processing JPG: " + dir.file("a.jpg"));
    // So does a file that cannot be opened, or none of the chosen type.
    testing::writeText(dir.file("text.bmp"), "not a picture");
    for (const char* chosen : {"text.bmp", "planet.avi"}) {
        ui.queueFiles({dir.file(chosen)}, 2);
        form.control(Control::SelectFileButton).click();
        EXPECT_EQ(errors().size(), 1u);
        EXPECT_TRUE(w.SequenceOpen && w.JpegFrames);
        EXPECT_EQ(form.caption(), "Planexor processing JPG: " + dir.file("a.jpg"));
        ui.messages.clear();
    }
}

TEST_F(OpenStillFrames, TooManyTooLargeOrUnequalFramesAreCutWithOneMessageAndReadWithinTheirBounds) {
    // Only the files that get decoded need to exist.
    std::vector<std::string> files;
    for (int i = 0; i < 2600; ++i) files.push_back(dir.file("f" + std::to_string(i) + ".bmp"));
    frame("f0.bmp", 7);
    frame("f2500.bmp", 8);
    frame("f2599.bmp", 9);  // the dialog reports it first
    openAsDialogReports(toDialogOrder(files));
    EXPECT_EQ(timesShown(TooMany), 1);
    EXPECT_EQ(form.control(Control::PreviewSlider).maximum(), 2500);
    EXPECT_EQ(w.usedframes, 2501);
    // The selection keeps its order: its first 2501 files are the frames.
    EXPECT_EQ(w.FrameFiles[2500], files[2500]);
    EXPECT_EQ(shownNumber(), 7);

    open({frame("wide.bmp", 1, 1100, 100), frame("wide2.bmp", 2, 1100, 100)});
    EXPECT_EQ(timesShown("AVI or BMP too large (max 1024x1024) !!!!"), 1);
    EXPECT_EQ((std::vector<int>{w.OrigWidth, w.ImageWidth, w.FrameWidth}), (std::vector<int>{1100, 1024, 1024}));

    // The sequence takes its size from the file the dialog reports first.
    open({frame("big.bmp", 1, 300, 200), frame("small.bmp", 2, 40, 30)});
    EXPECT_EQ(w.ImageWidth, 40);
    EXPECT_EQ(form.previewBitmap().width() * 10 + shownNumber(), 3001);
    form.control(Control::PreviewSlider).setValueByUser(1);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(form.previewBitmap().width() * 10 + shownNumber(), 402);
}

TEST_F(OpenStillFrames, BrokenOrForeignFilesAreReportedAndNothingStaysHalfOpen) {
    testing::writeText(dir.file("fake.avi"), "RIFF? no, just words\n");
    testing::writeText(dir.file("broken.bmp"), "not a bitmap at all, just text\n");
    const std::pair<std::vector<std::string>, std::string> damaged[] = {
        {{dir.file("fake.avi")}, "Failed to open AVI file"}, {{dir.file("broken.bmp"), frame("b.bmp", 2)}, "broken.bmp"},
        {{frame("a.bmp", 1), dir.file("broken.bmp")}, "broken.bmp"}};  // found after the hourglass
    for (const auto& [files, message] : damaged) {
        ui.messages.clear();
        open(files);
        ASSERT_EQ(errors().size(), 1u) << message;
        EXPECT_NE(errors()[0].find(message), std::string::npos) << errors()[0];
        EXPECT_FALSE(w.SequenceOpen);
        EXPECT_EQ(form.frameCount(), 0);
        EXPECT_EQ(ui.cursor, CursorShape::Arrow);
        form.control(Control::PreviewSlider).setValueByUser(3);  // nothing to show, nothing to fail
        EXPECT_EQ(ui.messages.size(), 1u);
    }

    // Files of other kinds are left out and the rest renumbered.
    // They move none of the others, last in name order or not, nor decide the
    // kind of the frames when the dialog showed another.
    for (const char* other : {"notes.txt", "0notes.txt"}) {
        testing::writeText(dir.file(other), "x");
        std::vector<std::string> chosen = {dir.file(other), frame("a.bmp", 1), frame("b.bmp", 2), frame("c.bmp", 3)};
        std::sort(chosen.begin(), chosen.end());  // as the window's dialog hands them on
        open(chosen, 4);
        EXPECT_EQ(form.frameCount(), 3) << other;
        EXPECT_FALSE(w.JpegFrames) << other;
        EXPECT_EQ(fileNameOf(w.FrameFiles[0]) + fileNameOf(w.FrameFiles[1]) + fileNameOf(w.FrameFiles[2]),
                  "a.bmpb.bmpc.bmp") << other;
    }
    open({dir.file("notes.txt")}, 2);
    EXPECT_EQ(errors(), (std::vector<std::string>{errors()[0], "No BMP or JPG files were selected"}));
}

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

TEST_F(OpenAvi, LongAndLargeVideosAreCutWithOneMessage) {
    const std::string large = greyVideo("large.avi", 1280, 960, 2);
    open({large});
    EXPECT_EQ(form.caption(), "Planexor processing AVI: " + large);
    EXPECT_EQ(timesShown("AVI or BMP too large (max 1024x1024) !!!!"), 1);
    EXPECT_EQ((std::vector<int>{w.OrigWidth, w.ImageWidth, w.FrameWidth}), (std::vector<int>{1280, 1024, 1024}));
    EXPECT_EQ(form.control(Control::FFTsizeGroup).itemIndex(), 1);  // a large frame keeps the larger box
    open({greyVideo("long.avi", 16, 16, 3000)});
    EXPECT_EQ(timesShown(TooMany), 1);
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 2501 selected (Total = 2501 ) ");
    const std::string cut = greyVideo("cut.avi", 16, 16, 10);
    std::filesystem::resize_file(cut, std::filesystem::file_size(cut) * 6 / 10);
    open({cut});
    EXPECT_LT(form.frameCount(), 10);
    EXPECT_EQ(timesShown("The AVI file cut.avi is cut short: only its " + std::to_string(form.frameCount()) +
                         " complete frames can be read"), 1);
}

}  // namespace
}  // namespace planexor
