// Dark frame and flat field through the window's handlers: loading, making,
// and what they do to a stack.
#include <gtest/gtest.h>

#include <cmath>

#include "demo/synthetic_planet.h"
#include "demo/picture_psnr.h"
#include "input/calibration.h"
#include "support/fits_files.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

class Calibration : public testing::FormTest {
protected:
    Calibration() { form.control(Control::AutoOptimize).setChecked(false); }
    std::string greyFits(const std::string& name, int width, int height, double value) {
        testing::writeWithCfitsio(dir.file(name), {16, {width, height}, std::vector<double>(width * height, value)});
        return dir.file(name);
    }
    std::vector<std::string> stills(const std::string& prefix, const std::vector<Bitmap24>& frames) {
        std::vector<std::string> files;
        for (std::size_t i = 0; i < frames.size(); ++i)
            files.push_back(testing::writeBmp(dir, prefix + std::to_string(i) + ".bmp", frames[i]));
        return files;
    }
    void load(Control button, const std::string& path, int type) {
        ui.queueFiles({path}, type);
        form.control(button).click();
    }
};

TEST_F(Calibration, LoadersKeepFileAndTypeShowTheUseBoxAndLeaveWhatIsInForceWhenALoadFails) {
    const std::string bmp = testing::writeBmp(dir, "dark.bmp", testing::uniform(8, 6, 3));
    const std::string special = greyFits("dark.fitq", 8, 6, 640);
    load(Control::LoadDarkframe, bmp, CalibrationBmp);
    EXPECT_TRUE(form.control(Control::UseDarkFrame).visible());
    load(Control::LoadDarkframe, special, CalibrationFits);  // typed under the plain filter: the name decides
    EXPECT_EQ(w.darkfiletype, CalibrationSpecialFits);
    // A FITS dark is grey: both colour boxes, and the setting, follow; either box sets the other.
    EXPECT_FALSE(form.control(Control::ColourStack).checked() || form.control(Control::Colourprocess2).checked());
    EXPECT_EQ(settings.readString("Settings", "usecolour", ""), "0");
    form.control(Control::Colourprocess2).setCheckedByUser(true);
    EXPECT_TRUE(form.control(Control::ColourStack).checked());

    // Failures: each shows its message (the loaders' own tests pin the dark kept in force).
    form.control(Control::UseDarkFrame).setChecked(true);
    const std::string missing = dir.file("gone.fitq");
    EXPECT_FALSE(form.LoadDarkFile(missing, CalibrationSpecialFits));
    EXPECT_EQ(timesShown("Warning : darkframe " + missing + " missing "), 1);
    EXPECT_FALSE(form.control(Control::UseDarkFrame).checked());
    load(Control::LoadDarkframe, greyFits("huge.fit", 1100, 4, 1), CalibrationFits);
    EXPECT_EQ(timesShown(" darkframe too large (max = 1024x1024)!!"), 1);
    EXPECT_TRUE(form.control(Control::UseDarkFrame).visible());  // the dark in force is still usable
    testing::writeText(dir.file("junk.fit"), "not a FITS file at all");
    EXPECT_FALSE(form.LoadDarkFile(dir.file("junk.fit"), CalibrationFits));
    EXPECT_EQ(errors().size(), 1u);

    // With no flat in force, a flat too large to load leaves nothing to use.
    EXPECT_FALSE(form.LoadFlatFile(dir.file("gone.fit"), CalibrationFits));
    EXPECT_TRUE(form.control(Control::UseFlatfield).visible());
    load(Control::Flatfieldbutton, dir.file("huge.fit"), CalibrationFits);
    EXPECT_EQ(timesShown(" flatfield too large (max = 1024x1024)!!"), 1);
    EXPECT_FALSE(form.control(Control::UseFlatfield).visible());
    EXPECT_TRUE(form.LoadFlatFile(testing::writeBmp(dir, "flat.bmp", testing::uniform(4, 4, 100)), CalibrationBmp));
}

TEST_F(Calibration, MakingStacksEveryUsedFrameWhereItLiesAndGivesTheStackOptionsBack) {
    std::vector<Bitmap24> frames;
    for (int value : {10, 20, 90, 40}) {
        frames.push_back(testing::uniform(40, 30, static_cast<std::uint8_t>(value)));
        std::fill_n(frames.back().pixel(5, 7), 3, std::uint8_t{200});  // a hot pixel
    }
    open(stills("cal", frames), 2);
    EXPECT_TRUE(form.control(Control::CreateFlatfield).visible());
    form.control(Control::PreviewSlider).setValueByUser(2);
    form.keyDown(Control::PreviewSlider, TMainForm::KeySpace, false);  // the 90 is left out
    // What an earlier alignment and the user's options left behind.
    w.FrameRecs[1].ShiftX = 5;
    form.control(Control::StackSlider).setRange(0, 1);
    form.control(Control::Resampled).setCheckedByUser(true);
    form.control(Control::Interlaced).setCheckedByUser(true);
    form.control(Control::Averagepixel).setCheckedByUser(false);
    form.control(Control::Xshift).setValueByUser(3);

    form.control(Control::CreateDarkframe).click();
    ASSERT_TRUE(errors().empty()) << errors().front();
    EXPECT_EQ(form.stackedCount(), 3);
    // The stack list follows the ranks in frame order, so its toggles reach the right frames.
    const auto& listed = form.control(Control::StackFramesList).listItems();
    ASSERT_EQ(listed.size(), 4u);
    for (int n = 0; n < 4; ++n) {
        const auto& frame = form.control(Control::SelectFramesChecklist).listItems()[n];
        EXPECT_EQ(std::pair(listed[n].text, listed[n].checked), std::pair(frame.text, frame.checked));
    }
    for (const TFloatPlane* plane : {&w.StackR, &w.StackG, &w.StackB}) {
        EXPECT_FLOAT_EQ((*plane)[0][0], 70.0f / 3);
        EXPECT_FLOAT_EQ((*plane)[39][29], 70.0f / 3);
        EXPECT_FLOAT_EQ((*plane)[5][7], 200.0f);
    }
    EXPECT_EQ(form.stackBitmap().pixel(0, 0)[1], 23);  // unstretched
    EXPECT_FALSE(form.control(Control::TabSheet4).visible());
    EXPECT_TRUE(form.control(Control::Resampled).checked());
    EXPECT_FALSE(form.control(Control::Averagepixel).checked());
    EXPECT_EQ(form.control(Control::Xshift).value(), 3);

    // Below 100 every difference of 1.0 is cut: the question, and an empty stack.
    form.control(Control::differencecutslider).setValueByUser(99);
    ui.yesNoAnswers.push_back(false);
    form.control(Control::CreateFlatfield).click();
    EXPECT_EQ(ui.questions.back(), "Only one frame to stack, continue ???");
    EXPECT_EQ(w.StackG[0][0], 0.0f);
    EXPECT_FALSE(w.StackReady);
}

TEST_F(Calibration, ADarkStaysInForceForTheNextSequenceAndWarnsWhenAligningAFrameOfAnotherSize) {
    load(Control::LoadDarkframe, testing::writeBmp(dir, "small.bmp", testing::uniform(96, 10, 10)), CalibrationBmp);
    form.control(Control::UseDarkFrame).setCheckedByUser(true);
    open(stills("first", {testing::movedScene(96, 80, 0, 0), testing::movedScene(96, 80, 1, 1)}), 2);
    const Bitmap24 scene = testing::movedScene(96, 80, 0, 0);
    open(stills("second", {scene, scene, scene}), 2);
    form.control(Control::CreateDarkframe).click();
    EXPECT_FLOAT_EQ(w.StackR[19][9], scene.pixel(19, 9)[2] - 10.0f);  // where the smaller dark reaches

    click(48, 40);
    alignAll();
    EXPECT_EQ(timesShown(" darkframe size does not match imagesize !!"), 1);
    EXPECT_EQ(timesShown(" flatfield size does not match imagesize !!"), 0);
    EXPECT_EQ(w.progstatus, 2);
}

// How far the brightest sky pixel stands above the mean of its eight neighbours.
double hotPixelExcess(const std::vector<float>& stack, int width, int height) {
    double excess = 0;
    for (int y = 1; y < height - 1; ++y)
        for (int x = 1; x < width - 1; ++x) {
            if (std::hypot(x - width / 2.0, y - height / 2.0) < 55) continue;  // the planet's reach
            double around = -stack[y * width + x];
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i) around += stack[(y + j) * width + x + i];
            excess = std::max(excess, stack[y * width + x] - around / 8);
        }
    return excess;
}

TEST_F(Calibration, MadeDarkAndFlatRemoveHotPixelsAndVignettingFromTheDemo) {
    options.hotPixels = 120;
    options.vignetting = 0.5;
    const DemoResult written = demo("demo", 40, DemoOptions::Avi, 160, 120);
    const auto makeAndLoad = [&](const std::string& sequence, const std::string& out, Control loader) {
        open({sequence}, 1);
        form.control(Control::ColourStack).setCheckedByUser(false);
        form.control(Control::CreateDarkframe).click();
        save(Control::SaveButton, dir.file(out), 3);  // special FITS
        load(loader, dir.file(out), CalibrationSpecialFits);
    };
    makeAndLoad(written.darkFiles.front(), "dark.fitq", Control::LoadDarkframe);
    form.control(Control::UseDarkFrame).setCheckedByUser(true);
    makeAndLoad(written.flatFiles.front(), "flat.fitq", Control::Flatfieldbutton);
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;

    // An even light of another camera of the same optics, divided by the flat.
    PlanetRenderer other(options.width, options.height, 7);
    other.setSensor(0, options.vignetting);
    std::vector<Bitmap24> light(6);
    for (int i = 0; i < 6; ++i) other.renderFlat(i, light[i]);
    form.control(Control::UseDarkFrame).setCheckedByUser(false);
    open(stills("light", light), 2);
    const auto cornerOverCentre = [&](bool useFlat) {
        form.control(Control::UseFlatfield).setCheckedByUser(useFlat);
        form.control(Control::CreateDarkframe).click();
        double corner = 0, centre = 0;
        for (int i = 0; i < 6; ++i)
            for (int j = 0; j < 6; ++j) {
                corner += w.StackG[1 + i][1 + j];
                centre += w.StackG[77 + i][57 + j];
            }
        return corner / centre;
    };
    EXPECT_LT(cornerOverCentre(false), 0.6);
    EXPECT_NEAR(cornerOverCentre(true), 1.0, 0.02);

    open(written.sequenceFiles, 1);
    form.control(Control::QualStack).setCheckedByUser(false);  // the stack in levels
    click(80, 60);
    alignAll();
    form.control(Control::StackSlider).setValueByUser(19);
    const auto stack = [&](bool calibrated) {
        form.control(Control::UseDarkFrame).setCheckedByUser(calibrated);
        form.control(Control::UseFlatfield).setCheckedByUser(calibrated);
        form.control(Control::Stackbutton).click();
        std::vector<float> grey;
        for (int y = 0; y < options.height; ++y)
            for (int x = 0; x < options.width; ++x) grey.push_back(w.StackG[x][y]);
        return grey;
    };
    const std::vector<float> raw = stack(false), calibrated = stack(true);
    EXPECT_GT(hotPixelExcess(raw, options.width, options.height), 5.0);
    EXPECT_LE(hotPixelExcess(calibrated, options.width, options.height), 2.0);
    // Against the original over the planet, after the best placement, gain and level.
    const auto quality = [&, sharp = fromBitmap(renderDemoOriginal(options))](const std::vector<float>& grey) {
        Picture picture(options.width, options.height);
        picture.channel = {grey, grey, grey};
        return psnr(picture, sharp, planetWindow(sharp, 12));
    };
    EXPECT_GT(quality(calibrated), quality(raw) + 0.05);
    EXPECT_TRUE(errors().empty());
}

}  // namespace
}  // namespace planexor
