#include <gtest/gtest.h>

#include "input/jpeg_codec.h"
#include "support/form_fixture.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

class OpenStillFrames : public testing::FormTest {
protected:
    std::string frame(const std::string& name, int number, int width = 160, int height = 140) {
        return testing::writeBmp(dir, name, testing::numberedFrame(width, height, number));
    }
    // Opens files given in the order the open dialog reports them.
    void openAsDialogReports(std::vector<std::string> files, int filterIndex = 2) {
        FileDialogAnswer answer;
        answer.accepted = true;
        answer.files = std::move(files);
        answer.filterIndex = filterIndex;
        ui.queueDialog(answer);
        form.control(Control::SelectFileButton).click();
    }
    int shownNumber() const { return form.previewBitmap().pixel(0, 0)[0]; }

};

TEST_F(OpenStillFrames, DialogOrderHasItsFirstAndLastEntriesExchanged) {
    const std::string a = frame("a.bmp", 1), b = frame("b.bmp", 2), c = frame("c.bmp", 3);
    openAsDialogReports({c, a, b});
    EXPECT_EQ(w.FrameFiles[0], b);
    EXPECT_EQ(w.FrameFiles[1], a);
    EXPECT_EQ(w.FrameFiles[2], c);
    EXPECT_EQ(shownNumber(), 2);  // frame 0 is b
    form.control(Control::PreviewSlider).setValueByUser(2);
    EXPECT_EQ(shownNumber(), 3);
    EXPECT_EQ(form.caption(), "Planexor processing BMP: " + c);
    EXPECT_EQ(form.control(Control::Label9).caption(), "3 / 3");
}

TEST_F(OpenStillFrames, OpeningSetsUpTheFirstPageTheListAndTheUserSettings) {
    const std::string a = frame("a.bmp", 1), b = frame("b.bmp", 2);
    ui.queueFiles({a, b}, 2);
    form.control(Control::SelectFileButton).click();
    EXPECT_TRUE(errors().empty());
    EXPECT_TRUE(w.SequenceOpen);
    EXPECT_TRUE(w.StillFrames);
    EXPECT_EQ(w.usedframes, 2);
    EXPECT_EQ(w.ImageWidth, 160);
    EXPECT_EQ(w.OrigHeight, 140);
    EXPECT_EQ(shownNumber(), 1);
    EXPECT_EQ(form.control(Control::Label9).caption(), "1 / 2");
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 2 selected (Total = 2 ) ");
    const auto& items = form.control(Control::SelectFramesChecklist).listItems();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].text, "a.bmp");
    EXPECT_TRUE(items[1].checked);
    EXPECT_EQ(settings.readString("Files", "Lasttype", ""), "BMP");
    EXPECT_EQ(settings.readString("Files", "Dir", ""), dir.path());
}

TEST_F(OpenStillFrames, DialogStartsOnTheLastUsedTypeAndCancelLeavesNothingOpen) {
    settings.writeString("Files", "Lasttype", "JPG");
    ui.queueCancel();
    form.control(Control::SelectFileButton).click();
    EXPECT_EQ(ui.dialogRequests.back().filterIndex, 4);
    EXPECT_FALSE(w.SequenceOpen);
    EXPECT_EQ(form.frameCount(), 0);
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(OpenStillFrames, SpaceTogglesExclusionAndTheCountersFollow) {
    ui.queueFiles({frame("a.bmp", 1), frame("b.bmp", 2), frame("c.bmp", 3)}, 2);
    form.control(Control::SelectFileButton).click();
    form.control(Control::PreviewSlider).setValueByUser(1);
    form.PreviewSliderKeyDown(TMainForm::KeySpace);
    EXPECT_EQ(w.FrameRecs[1].Excluded, 1);
    EXPECT_EQ(w.usedframes, 2);
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 2 selected (Total = 3 ) ");
    form.PreviewSliderKeyDown('A');  // only Space acts
    EXPECT_EQ(w.usedframes, 2);
    form.PreviewSliderKeyDown(TMainForm::KeySpace);
    EXPECT_EQ(w.FrameRecs[1].Excluded, 0);
    EXPECT_EQ(w.usedframes, 3);
}

TEST_F(OpenStillFrames, ReopeningNeverShowsThePreviousSequencesExclusions) {
    const std::string a = frame("a.bmp", 1), b = frame("b.bmp", 2);
    ui.queueFiles({a, b}, 2);
    form.control(Control::SelectFileButton).click();
    form.PreviewSliderKeyDown(TMainForm::KeySpace);
    ui.queueFiles({a, b}, 2);
    form.control(Control::SelectFileButton).click();
    EXPECT_EQ(w.FrameRecs[0].Excluded, 0);
    EXPECT_EQ(form.control(Control::UseFramesign).colour(), ColourGreen);
}

TEST_F(OpenStillFrames, MoreFilesThanFrameSlotsKeepsTheFirst2501AndWarnsOnce) {
    // Only the files that get decoded need to exist.
    std::vector<std::string> files;
    for (int i = 0; i < 2600; ++i) files.push_back(dir.file("f" + std::to_string(i) + ".bmp"));
    frame("f0.bmp", 7);
    frame("f2500.bmp", 8);
    openAsDialogReports(files);
    EXPECT_TRUE(errors().empty());
    int warnings = 0;
    for (const auto& m : ui.messages)
        warnings += m.text == "Warning : only the first 2500 frames will be processed";
    EXPECT_EQ(warnings, 1);
    EXPECT_EQ(form.control(Control::PreviewSlider).maximum(), 2500);
    EXPECT_EQ(w.usedframes, 2501);
    EXPECT_EQ(w.FrameFiles[0], files[2500]);
    EXPECT_EQ(w.FrameFiles[2500], files[0]);
    EXPECT_EQ(shownNumber(), 8);
}

TEST_F(OpenStillFrames, FramesOfDifferentSizesAreEachReadWithinTheirOwnBounds) {
    ui.queueFiles({frame("big.bmp", 1, 300, 200), frame("small.bmp", 2, 40, 30)}, 2);
    form.control(Control::SelectFileButton).click();
    // The sequence takes its size from the file the dialog reports first.
    EXPECT_EQ(w.ImageWidth, 40);
    EXPECT_EQ(form.previewBitmap().width(), 300);
    EXPECT_EQ(shownNumber(), 1);
    form.control(Control::PreviewSlider).setValueByUser(1);
    EXPECT_TRUE(errors().empty());
    EXPECT_EQ(form.previewBitmap().width(), 40);
    EXPECT_EQ(shownNumber(), 2);
}

TEST_F(OpenStillFrames, OversizedFrameIsCutWithOneMessageAndSmallFramesForceTheSmallBox) {
    ui.queueFiles({frame("wide.bmp", 1, 1100, 100), frame("wide2.bmp", 2, 1100, 100)}, 2);
    form.control(Control::SelectFileButton).click();
    int tooLarge = 0;
    for (const auto& m : ui.messages) tooLarge += m.text == "AVI or BMP too large (max 1024x1024) !!!!";
    EXPECT_EQ(tooLarge, 1);
    EXPECT_EQ(w.OrigWidth, 1100);
    EXPECT_EQ(w.ImageWidth, 1024);
    EXPECT_EQ(w.FrameWidth, 1024);
    EXPECT_EQ(form.control(Control::FFTsizeGroup).itemIndex(), 0);
}

TEST_F(OpenStillFrames, BrokenFirstFileIsReportedAndNothingStaysHalfOpen) {
    testing::writeText(dir.file("broken.bmp"), "not a bitmap at all, just text\n");
    ui.queueFiles({dir.file("broken.bmp"), frame("b.bmp", 2)}, 2);
    form.control(Control::SelectFileButton).click();
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_NE(errors()[0].find("broken.bmp"), std::string::npos);
    EXPECT_FALSE(w.SequenceOpen);
    EXPECT_EQ(form.frameCount(), 0);
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);

    ui.queueFiles({frame("c.bmp", 3)}, 2);
    ui.queueFiles({frame("d.bmp", 4), frame("e.bmp", 5)}, 2);
    form.control(Control::SelectFileButton).click();
    form.control(Control::SelectFileButton).click();
    EXPECT_EQ(errors().size(), 1u);
    EXPECT_EQ(form.frameCount(), 2);
}

TEST_F(OpenStillFrames, FilesOfOtherKindsAreLeftOutAndTheRestRenumbered) {
    testing::writeText(dir.file("notes.txt"), "x");
    ui.queueFiles({frame("a.bmp", 1), dir.file("notes.txt"), frame("b.bmp", 2)}, 2);
    form.control(Control::SelectFileButton).click();
    EXPECT_EQ(form.frameCount(), 2);
    ui.queueFiles({dir.file("notes.txt")}, 2);
    form.control(Control::SelectFileButton).click();
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_EQ(errors()[0], "No BMP or JPG files were selected");
}

TEST_F(OpenStillFrames, OneStillFrameBecomesASingleImage) {
    const std::string only = frame("only.bmp", 4);
    ui.queueFiles({only}, 2);
    form.control(Control::SelectFileButton).click();
    EXPECT_TRUE(w.SingleImage);
    EXPECT_EQ(w.FrameFiles[1], only);
    EXPECT_EQ(w.Ranking[0].Frame, 0);
    EXPECT_EQ(w.Ranking[1].Quality, 1.0f);
    EXPECT_EQ(form.control(Control::StackSlider).maximum(), 1);
    EXPECT_FALSE(form.control(Control::QualStack).checked());
    EXPECT_TRUE(form.control(Control::SaveBMP2button).enabled());
}

TEST_F(OpenStillFrames, JpegFramesOpenThroughTheirOwnFilter) {
    const std::string a = dir.file("a.jpg"), b = dir.file("b.jpg");
    writeJpegFile(a, testing::numberedFrame(64, 64, 1));
    writeJpegFile(b, testing::numberedFrame(64, 64, 2));
    ui.queueFiles({a, b}, 4);
    form.control(Control::SelectFileButton).click();
    EXPECT_TRUE(errors().empty());
    EXPECT_TRUE(w.JpegFrames);
    EXPECT_EQ(form.caption(), "Planexor processing JPG: " + a);
    EXPECT_EQ(settings.readString("Files", "Lasttype", ""), "JPG");
}

}  // namespace
}  // namespace planexor
