#include <gtest/gtest.h>

#include <filesystem>

#include "core/pixel.h"
#include "input/bmp_codec.h"
#include "input/jpeg_codec.h"
#include "support/ffmpeg_tool.h"
#include "support/fits_files.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

namespace fs = std::filesystem;

constexpr int Width = 400, Height = 300;

// A finished colour stack, every channel its own smooth ramp so JPEG keeps it close.
float ramp(int channel, int x, int y) { return static_cast<float>((x / 2 + y / 3 + channel * 40) % 256); }

class ImageSaving : public testing::FormTest {
protected:
    void SetUp() override {
        setStack(Width, Height, ramp);
        w.SourceFile = "jupiter.avi";
        form.control(Control::PageControl1).setItemIndexByUser(3);
        form.stackPage().stackBitmap() = shown();
    }
    const Bitmap24& shown() { return form.image(Control::ProcessImage); }
    std::vector<std::string> save(Control button, const std::string& name, int filter) {
        return ScriptedWindow::save(button, dir.file(name), filter);
    }
    void select(int x1, int y1, int x2, int y2) {
        drag(x1, y1, x2, y2);
        form.control(Control::SaveSectionbox).setCheckedByUser(true);
    }
};

Bitmap24 readBmp(const std::string& path) {
    Bitmap24 read;
    readBmpFile(path, read);
    return read;
}

TEST_F(ImageSaving, EachFilterWritesItsFilesUnderTheChosenName) {
    struct Case {
        Control button;
        int filter;
        const char* chosen;
        std::vector<std::string> written;
    };
    const std::vector<Case> cases = {
        {Control::SaveButton, 1, "moon.png", {"moon.bmp"}},
        {Control::SaveButton, 4, "moon.png", {"moon.jpg"}},
        {Control::SaveButton, 2, "moon.png", {"moon_R.fit", "moon_G.fit", "moon_B.fit"}},
        {Control::SaveButton, 3, "moon.fit", {"moon_R.fitq", "moon_G.fitq", "moon_B.fitq"}},
        {Control::SaveBMP2button, 1, ".bmp", {"default.bmp"}},
        {Control::SaveBMP2button, 4, "sharp.bmp", {"sharp.jpg"}},
        {Control::SaveBMP2button, 2, ".fit", {"default_R.fit", "default_G.fit", "default_B.fit"}},
        {Control::SaveBMP2button, 2, "sharp.fits", {"sharp_R.fits", "sharp_G.fits", "sharp_B.fits"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> expected;
        for (const std::string& name : c.written) expected.push_back(dir.file(name));
        EXPECT_EQ(save(c.button, c.chosen, c.filter), expected) << c.chosen;
    }
    EXPECT_EQ(settings.readString("Files", "SaveDir", ""), dir.path());
    EXPECT_TRUE(errors().empty());

    // The pictures are the bitmaps as shown; JPEG within its error, and of their size.
    EXPECT_EQ(readBmp(dir.file("moon.bmp")), form.stackBitmap());
    Bitmap24 jpeg;
    decodeJpegFile(dir.file("sharp.jpg"), jpeg);
    EXPECT_LT(testing::meanDifference(jpeg, shown()), 2.0);  // small for JPEG's loss, large for a wrong channel order

    // The FITS files hold this stack (their scaling and row order are the writer's own tests);
    // the processed image with unit gains is the stack again.
    const auto stack = testing::readWithCfitsio(dir.file("moon_G.fit"));
    ASSERT_EQ(stack.axes, (std::vector<long>{Width, Height}));
    EXPECT_EQ(testing::readWithCfitsio(dir.file("moon_B.fitq")).values[Width + 13], ramp(2, 13, Height - 2) * 128);
    const auto processed = testing::readWithCfitsio(dir.file("sharp_G.fits"));
    for (std::size_t i = 0; i < stack.values.size(); i += 997) EXPECT_NEAR(processed.values[i], stack.values[i], 2);
    EXPECT_EQ(testing::cfitsioCard(dir.file("sharp_R.fits"), 15).find("COMMENT processed stack of 1 frame of jupiter.avi"), 0u);
    EXPECT_EQ(testing::fitsverifyComplaints(dir.file("sharp_B.fits")), "");

    // Special FITS holds up to 255.99 levels: a stack of sums beyond is cut there, and the user is told.
    w.StackMax = 256.0f;
    save(Control::SaveButton, "sums.fit", 3);
    EXPECT_EQ(timesShown(SpecialFitsCutText), 1);
}

// "Colour processing" ticked after a mono stack: its red and blue planes are
// empty, and the picture must not turn green.
TEST_F(ImageSaving, AMonoStackStaysGreyWhenColourIsTickedAfterIt) {
    setStack(Width, Height, [](int c, int x, int y) { return c == 1 ? ramp(1, x, y) : 0.0f; });
    w.StackColour = false;
    form.control(Control::ColourStack).setCheckedByUser(true);
    form.control(Control::ProcessButton).click();
    const std::uint8_t* pixel = shown().pixel(7, 5);
    EXPECT_EQ(std::vector<int>(pixel, pixel + 3), std::vector<int>(3, nearest(ramp(1, 7, 5))));
    EXPECT_EQ(save(Control::SaveBMP2button, "grey.fit", 2), std::vector<std::string>{dir.file("grey.fit")});
}

TEST_F(ImageSaving, TheProcessedPictureIsSavedAsShown_MirroredAndAsTheSelection) {
    form.control(Control::HorizFlipCheckbox).setCheckedByUser(true);
    form.control(Control::ProcessButton).click();
    EXPECT_EQ(readBmp(save(Control::SaveBMP2button, "flip.bmp", 1).at(0)), shown());
    EXPECT_EQ(shown().pixel(0, 9)[1], nearest(ramp(1, Width - 1, 9)));  // what is shown is mirrored

    struct Box {
        int x1, y1, x2, y2;
        int left, top, width, height;
        bool flipSince = false;  // ticked after the picture was mapped, which then stays as it was
    };
    const Box boxes[] = {
        {100, 80, 300, 200, 100, 80, 199, 119},
        {350, 250, Width + 40, Height + 9, 350, 250, 50, 50},  // past the edge: clipped
        {100, 80, 300, 200, 100, 80, 199, 119, true},
    };
    for (const Box& box : boxes) {
        select(box.x1, box.y1, box.x2, box.y2);
        if (box.flipSince) {
            form.control(Control::Section).setCheckedByUser(false);
            form.control(Control::VertiFlipCheckbox).setCheckedByUser(true);
            form.control(Control::Section).setCheckedByUser(true);
        }
        const Bitmap24 section = readBmp(save(Control::SaveBMP2button, "section.bmp", 1).at(0));
        ASSERT_EQ(section.width() * 1000 + section.height(), box.width * 1000 + box.height);
        for (int y : {0, box.height - 1})
            for (int x : {0, box.width - 1})
                EXPECT_EQ(section.pixel(x, y)[0], shown().pixel(box.left + x, box.top + y)[0]) << x << "," << y;
    }
    // Reopened from a project, "Process selection" comes without its box: the picture is saved whole.
    form.processPage().SectionBox = {};
    EXPECT_EQ(readBmp(save(Control::SaveBMP2button, "whole.bmp", 1).at(0)), shown());
    select(Width + 5, 20, Width + 60, 90);  // wholly outside the picture
    EXPECT_TRUE(save(Control::SaveBMP2button, "empty.bmp", 1).empty());
    EXPECT_EQ(errors(), std::vector<std::string>{"Select an image section first."});
    EXPECT_FALSE(fs::exists(dir.file("empty.bmp")));
}

TEST_F(ImageSaving, NoSpecialFitsOfTheProcessedPictureAndNothingWrittenOnNoOrFailure) {
    EXPECT_TRUE(save(Control::SaveBMP2button, "sharp.fitq", 3).empty());
    EXPECT_EQ(timesShown("Filetype not supported for processed output"), 1);

    testing::writeText(dir.file("keep.bmp"), "old");
    ui.yesNoAnswers = {false};
    EXPECT_TRUE(save(Control::SaveButton, "keep.bmp", 1).empty());
    EXPECT_EQ(ui.questions, std::vector<std::string>{" Overwrite existing file ?"});
    EXPECT_EQ(testing::readText(dir.file("keep.bmp")), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);  // nothing else

    // A FITS file that cannot be created says which and why; what stood there stays.
    fs::create_directories(dir.file("blocked.fit/inside"));
    form.control(Control::ColourStack).setChecked(false);
    EXPECT_TRUE(save(Control::SaveButton, "blocked.fit", 2).empty());
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_NE(errors()[0].find(dir.file("blocked.fit") + ": "), std::string::npos) << errors()[0];
    EXPECT_TRUE(fs::is_directory(dir.file("blocked.fit/inside")));
}

// Its folder is made with its parents, as the command line's --subdir shows.
TEST_F(ImageSaving, SaveToSubdirStartsTheDialogInItsFolderOrSaysWhyItCannotBeMade) {
    form.control(Control::DirectoryListBox1).setCaption(dir.path());
    form.control(Control::SaveSub).setCheckedByUser(true);
    form.control(Control::Subdirname).setCaption("night/processed");
    ui.queueCancel();
    form.control(Control::SaveBMP2button).click();
    EXPECT_EQ(ui.dialogRequests.back().directory, dir.file("night/processed"));

    testing::writeText(dir.file("day"), "a file where the folder should be");
    form.control(Control::Subdirname).setCaption("day/processed");
    form.control(Control::SaveBMP2button).click();
    ASSERT_EQ(errors().size(), 1u);
    EXPECT_EQ(errors()[0].rfind("Cannot create the folder " + dir.file("day/processed"), 0), 0u) << errors()[0];
}

TEST_F(ImageSaving, AFitsFrameOpensOnTheProcessPageAndItsStackPageShowsItAndItsProjectReopens) {
    testing::CfitsioImage frame{16, {120, 90}, {}};
    for (int i = 0; i < 120 * 90; ++i) frame.values.push_back(i % 120 == 7 ? 30000 : -1000 + i % 50);
    const std::string path = dir.file("m42.fits");
    testing::writeWithCfitsio(path, frame);
    form.control(Control::StackFramesList).addListItem("f2.bmp", true);  // of the stack before
    open({path}, 3);
    ASSERT_TRUE(errors().empty()) << errors().front();

    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 3);
    EXPECT_FALSE(form.control(Control::ColourStack).checked());
    EXPECT_TRUE(w.SingleImage && !w.SequenceOpen);
    EXPECT_EQ(settings.readString("Files", "Lasttype", ""), "FIT");
    ASSERT_EQ(shown().width() * 1000 + shown().height(), 120090);
    EXPECT_GT(shown().pixel(7, 40)[1], shown().pixel(8, 40)[1]);  // column 7 is the brightest
    // The stack page shows the frame and keeps nothing of the stack from before.
    EXPECT_TRUE(form.control(Control::StackFramesList).listItems().empty());
    ASSERT_EQ(form.stackBitmap().width(), 120);
    EXPECT_EQ(form.stackBitmap().pixel(7, 40)[1] * 1000 + form.stackBitmap().pixel(8, 40)[1], 255000);

    const auto saved = save(Control::SaveButton, "again.fit", 2);
    ASSERT_EQ(saved, std::vector<std::string>{dir.file("again.fit")});
    EXPECT_EQ(testing::readWithCfitsio(saved[0]).values[7], nearest((31000 / (31000 * 1.1) - 0.5) * 65536));

    form.control(Control::Gamma1spin).setValueByUser(2.0);
    save(Control::SaveProject, "m42.pxp", 1);
    testing::ScriptedWindow reopened;
    reopened.ui.queueFiles({dir.file("m42.pxp")}, 1);
    reopened.form.control(Control::LoadProject).click();
    ASSERT_TRUE(reopened.ui.messages.empty()) << reopened.ui.messages.front().text;
    EXPECT_EQ(reopened.form.control(Control::Gamma1spin).value(), 2.0);
    EXPECT_EQ(reopened.form.workspace().FrameFiles[0], path);
    EXPECT_EQ(reopened.form.image(Control::ProcessImage), shown());
    const auto stacked = testing::runCli("stack " + dir.file("m42.pxp") + " --out " + dir.file("x.bmp"));
    EXPECT_NE(stacked.err.find("'process' sharpens it"), std::string::npos) << stacked.err;

    testing::writeText(dir.file("text.fit"), "SIMPLE = T, I am not a FITS file\n");
    open({dir.file("text.fit")}, 3);
    EXPECT_EQ(errors().size(), 1u);
    // Refused before the frame in hand was given up.
    EXPECT_TRUE(w.SingleImage);
    EXPECT_TRUE(form.control(Control::TabSheet4).visible());
}

}  // namespace
}  // namespace planexor
