// The process page: what its controls rerun and show, and its editor windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <numeric>

#include "core/error.h"
#include "input/bmp_codec.h"
#include "input/jpeg_codec.h"
#include "process/gamma_curve.h"
#include "support/ffmpeg_tool.h"
#include "support/form_fixture.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using Stage = ProcessingCache::Stage;

// Every channel different, neighbours unlike: wavelet layers that are not zero.
float pattern(int channel, int x, int y) { return static_cast<float>((x * 5 + y * 11 + channel * 67) % 256); }

class ProcessPage : public testing::FormTest {
protected:
    void enterPage() { form.control(Control::PageControl1).setItemIndexByUser(3); }
    void showStack(int width = 64, int height = 48) {
        setStack(width, height, pattern);
        enterPage();
    }
    const Bitmap24& shown() const { return *form.findImage(Control::ProcessImage); }
    // Byte of channel c (0 red .. 2 blue) at displayed pixel (x, y).
    int byteAt(int c, int x, int y) const { return shown().pixel(x, y)[2 - c]; }
    void expectShowsStack(const std::function<float(int, int, int)>& value = pattern) const {
        for (int y = 0; y < shown().height(); ++y)
            for (int x = 0; x < shown().width(); ++x)
                for (int c = 0; c < 3; ++c) ASSERT_EQ(byteAt(c, x, y), value(c, x, y)) << x << "," << y << "," << c;
    }
    bool visible(Control id) { return form.control(id).visible(); }
};

TEST_F(ProcessPage, ANewStackIsProcessedOnceOnEnteringThePage_AndUnitGainsShowTheStack) {
    showStack();
    const auto paints = ui.repaints.size();
    form.control(Control::PageControl1).setItemIndexByUser(0);
    enterPage();
    EXPECT_EQ(std::count(ui.repaints.begin() + paints, ui.repaints.end(), Control::ProcessImage), 0);  // nothing new

    // Holding a layer button shows that layer in grey; letting go restores the picture.
    const Bitmap24 before = shown();
    form.mouseEvent(Control::layer1button, Mouse::Down, 2, 2, true);
    EXPECT_NE(shown(), before);
    EXPECT_EQ(shown().pixel(30, 20)[0], shown().pixel(30, 20)[2]);
    form.mouseEvent(Control::layer1button, Mouse::Up, 2, 2, true);
    EXPECT_EQ(shown(), before);

    const auto restacked = [](int c, int x, int y) { return pattern(c, y, x); };
    setStack(64, 48, restacked);
    form.control(Control::PageControl1).setItemIndexByUser(2);
    enterPage();
    expectShowsStack(restacked);
}

TEST_F(ProcessPage, EachControlRerunsOnlyTheStagesItMakesStale) {
    showStack();
    const Bitmap24 before = shown();

    // Without auto-processing a moving slider only shows its gain; its
    // release recombines.
    form.control(Control::RxSlider3).setValueByUser(25);
    EXPECT_EQ(form.control(Control::layer1button).caption(), "2.5");
    EXPECT_EQ(shown(), before);
    form.sliderCommitted(Control::RxSlider3);
    EXPECT_EQ(form.lastProcessingStage(), Stage::Recombination);
    EXPECT_NE(shown(), before);

    form.control(Control::AutoProcessBox).setCheckedByUser(true);
    form.control(Control::SaveSectionbox).setCheckedByUser(true);
    EXPECT_FALSE(visible(Control::ProcessButton));
    EXPECT_EQ(settings.readString("Settings", "Autoprocess", "") + settings.readString("Settings", "Savesection", ""),
              "11");
    form.control(Control::RxSlider3).setValueByUser(10);
    EXPECT_EQ(form.lastProcessingStage(), Stage::Recombination);
    expectShowsStack();

    form.control(Control::ContrastSlider).setValueByUser(200);
    EXPECT_EQ(form.lastProcessingStage(), Stage::Mapping);
    EXPECT_EQ(byteAt(1, 0, 1), 156);  // 78, doubled
    EXPECT_EQ(byteAt(1, 20, 1), 255);  // 178, in the upper half, saturates

    form.control(Control::HorizFlipCheckbox).setCheckedByUser(true);
    EXPECT_EQ(form.lastProcessingStage(), Stage::Recombination);
    EXPECT_EQ(byteAt(0, 63, 0), 0);  // stack pixel (0, 0)
    form.control(Control::HorizFlipCheckbox).setCheckedByUser(false);
    form.control(Control::ContrastSlider).setValueByUser(100);

    // A scale change marks the layers stale, but a display control never decomposes.
    form.control(Control::AutoProcessBox).setCheckedByUser(false);
    EXPECT_TRUE(visible(Control::ProcessButton));
    form.control(Control::LevelStep).setValueByUser(3);
    form.control(Control::BrightnessSlider).setValueByUser(5);
    form.sliderCommitted(Control::BrightnessSlider);
    EXPECT_EQ(form.lastProcessingStage(), Stage::Mapping);
    form.control(Control::CheckBox5).setCheckedByUser(false);  // processes
    EXPECT_EQ(form.lastProcessingStage(), Stage::Decomposition);
    EXPECT_FALSE(form.control(Control::RxSlider3).enabled());
}

TEST_F(ProcessPage, ResetRestoresTheSharpeningAndDisplayDefaultsAndProcessesAgain) {
    showStack();
    form.control(Control::Scaletype).setItemIndexByUser(0);
    form.control(Control::LevelStep).setValue(4);
    form.control(Control::Multiplicant).setValue(2);
    form.control(Control::RxSlider5).setValueByUser(300);
    form.control(Control::ContrastSlider).setValueByUser(250);
    form.control(Control::Gamma1spin).setValueByUser(3.0);
    form.processPage().StretchHigh = 200;
    drag(5, 5, 40, 40);
    ASSERT_TRUE(form.control(Control::Section).checked());

    form.control(Control::ResetButton).click();
    EXPECT_FALSE(form.control(Control::Section).checked());
    EXPECT_TRUE(form.control(Control::HorizFlipCheckbox).enabled());
    EXPECT_EQ(form.processPage().SectionBox, SelectionBox{});
    EXPECT_EQ((std::vector<double>{form.control(Control::LevelStep).value(), form.control(Control::RxSlider5).value(),
                                   form.control(Control::ContrastSlider).value(), form.control(Control::Gamma1spin).value(),
                                   double(form.control(Control::Scaletype).itemIndex()), form.processPage().StretchHigh}),
              (std::vector<double>{1, 10, 100, 1.0, 0, 200}));  // neither the scale type nor the stretch reset
    EXPECT_EQ(form.lastProcessingStage(), Stage::Decomposition);
    form.HistoResetClick();
    expectShowsStack();
}

TEST_F(ProcessPage, ASelectionBoxRestrictsTheDisplayToTheSamePixelsWhateverTheDragDirection) {
    showStack();
    const Bitmap24 before = shown();
    form.control(Control::Showsectionbox).setCheckedByUser(true);
    form.mouseEvent(Control::ProcessImage, Mouse::Down, 40, 30, true);
    form.mouseEvent(Control::ProcessImage, Mouse::Move, -3, 5, true);
    form.mouseEvent(Control::ProcessImage, Mouse::Up, -3, 5, true);

    EXPECT_TRUE(form.control(Control::Section).checked());
    EXPECT_TRUE(form.control(Control::SaveSectionbox).visible());
    EXPECT_FALSE(form.control(Control::VertiFlipCheckbox).enabled());

    form.control(Control::ContrastSlider).setValueByUser(300);
    form.sliderCommitted(Control::ContrastSlider);
    EXPECT_EQ(std::accumulate(form.histograms().HistoG.begin(), form.histograms().HistoG.end(), 0), 41 * 26);
    EXPECT_NE(shown().pixel(20, 20)[1], before.pixel(20, 20)[1]);
    EXPECT_EQ(shown().pixel(50, 20)[1], before.pixel(50, 20)[1]);  // outside keeps what it showed
    EXPECT_EQ(shown().pixel(20, 40)[1], before.pixel(20, 40)[1]);

    // A stack of another size (enlarged, of another sequence) has nothing
    // outside the box to keep: it is shown whole.
    form.control(Control::ContrastSlider).setValueByUser(100);
    setStack(80, 60, pattern);
    form.control(Control::PageControl1).setItemIndexByUser(2);
    enterPage();
    ASSERT_TRUE(form.control(Control::Section).checked());
    expectShowsStack();

    form.control(Control::Section).setCheckedByUser(false);
    drag(10, 10, 15, 30);  // 5 pixels wide
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Select an image section first.");
    EXPECT_EQ(settings.readString("Settings", "Showsectionbox", ""), "1");
}

TEST_F(ProcessPage, HistogramMarkersComposeIntoTheStretchOnlyWhenAsked) {
    setStack(64, 48, [](int, int x, int) { return x < 16 ? 100.0f : 200.0f; });
    enterPage();
    form.control(Control::Histowin).setCheckedByUser(true);
    EXPECT_TRUE(form.control(Control::HistoWindow).visible());

    const Bitmap24 before = shown();
    form.mouseEvent(Control::Histograph, Mouse::Move, 240, 240, true);  // the high marker follows from 231
    form.mouseEvent(Control::Histograph, Mouse::Move, 213, 240, true);
    EXPECT_EQ(shown(), before);  // the picture waits for "Stretch"
    // The graph shows both markers on each channel's curve (a teal low marker, the high marker
    // at x = 213 where the mouse left it: six lines in all) and their levels.
    const Drawing& graph = form.overlay(Control::Histograph);
    EXPECT_EQ(std::count_if(graph.lines.begin(), graph.lines.end(), [](const DrawnLine& line) {
                  return line.colour == drawing_colour::Teal || line.points[0] == GraphPoint{213, 0}; }), 6);
    ASSERT_EQ(graph.texts.size(), 2u);
    EXPECT_EQ(graph.texts[0].text + graph.texts[1].text, "  hi: 204  lo: 0");
    form.control(Control::Gamma1spin).setValueByUser(1.0001);  // nor does another re-map take the markers
    EXPECT_EQ(byteAt(1, 2, 0), before.pixel(2, 0)[1]);
    form.control(Control::BitBtn3).click();
    // Level 204 becomes the white, once.
    EXPECT_NEAR(byteAt(1, 2, 0), before.pixel(2, 0)[1] * 255.0 / 204, 1.0);
}

TEST_F(ProcessPage, WideImagesPanWithScrollBars) {
    showStack(700, 300);
    form.control(Control::HorizScrollbar).setValueByUser(-61);  // the bar ends where the picture does
    EXPECT_EQ(form.control(Control::ProcessImage).left(), -60);
    setStack(600, 300, pattern);
    form.control(Control::ProcessButton).click();
    EXPECT_FALSE(visible(Control::HorizScrollbar));
    EXPECT_EQ(form.control(Control::ProcessImage).left(), 0);

    // A window whose view is smaller than 640 x 480 pans within what it shows.
    form.setProcessViewSize(520, 250);
    EXPECT_TRUE(visible(Control::HorizScrollbar) && visible(Control::VertiScrollbar));
    EXPECT_EQ(std::pair(form.control(Control::HorizScrollbar).minimum(), form.control(Control::VertiScrollbar).minimum()),
              std::pair(-80.0, -50.0));
}

// A reopened project's chain that runs out of memory: the progress window
// goes, and the next plain Align only aligns.
TEST_F(ProcessPage, AChainThatRunsOutOfMemoryEndsThere) {
    setStack(64, 48, pattern);
    form.ChainRun = true;
    ui.onRepaint = [](Control shown) {
        if (shown == Control::MessageWindow) throw std::bad_alloc();  // the first layer's progress
    };
    enterPage();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, NotEnoughMemoryText);
    EXPECT_FALSE(form.ChainRun || visible(Control::MessageWindow));
}

TEST_F(ProcessPage, TheResizedViewKeepsItsShapeAndSavesBmpAndJpg) {
    showStack();
    form.control(Control::ResizeFilters).setItemIndex(2);  // Lanczos: nothing but the pixel itself at whole steps
    form.control(Control::Shrink).click();
    EXPECT_TRUE(form.control(Control::Shrinkview).visible());
    EXPECT_EQ(form.image(Control::ShrinkImage), shown());

    form.toolWindowResized(Control::Shrinkview, 128 + 32, 24 + 200);
    EXPECT_EQ(form.control(Control::Imagesize).caption(), "Imagesize: 32x24");
    form.toolWindowResized(Control::Shrinkview, 20, 10);  // below the control areas
    EXPECT_FALSE(form.image(Control::ShrinkImage).empty());
    form.toolWindowResized(Control::Shrinkview, 128 + 400, 24 + 96);  // the width fits: the height decides
    EXPECT_TRUE(ui.messages.empty());

    save(Control::SaveShrink, dir.file("picture.png"), 1);
    Bitmap24 read;
    readBmpFile(dir.file("picture.bmp"), read);
    EXPECT_EQ(read, form.image(Control::ShrinkImage));
    EXPECT_EQ(settings.readString("Files", "SaveDir", ""), dir.path());

    save(Control::SaveShrink, dir.file(".hidden"), 2);
    decodeJpegFile(dir.file("default.jpg"), read);
    ASSERT_EQ(read.width() * 1000 + read.height(), 128096);
    EXPECT_LT(testing::meanDifference(read, form.image(Control::ShrinkImage)), 8.0);

    const auto written = std::filesystem::last_write_time(dir.file("default.jpg"));
    ui.yesNoAnswers.push_back(false);
    form.toolWindowResized(Control::Shrinkview, 128 + 20, 24 + 15);
    save(Control::SaveShrink, dir.file("default.jpg"), 2);
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], " Overwrite existing file ?");
    EXPECT_EQ(std::filesystem::last_write_time(dir.file("default.jpg")), written);
}

// The gamma curve and wavelet filter windows of the process page, over a
// grey stack.
class EditorWindows : public ProcessPage {
protected:
    void stack(int width, int height, const std::function<float(int, int)>& value) {
        setStack(width, height, [&](int, int x, int y) { return value(x, y); });
        enterPage();
    }
    void graph(Mouse action, int x, int y, MouseButtons buttons) {
        form.mouseEvent(Control::GammaSplineGraph, action, x, y, buttons);
    }
    GammaCurve tableOfCurve() const {
        GammaCurve table;
        gamma_curve::buildTable(form.editors().gammaCurve(), table);
        return table;
    }
    const WaveletKernel& kernel() const { return form.processPage().waveletKernel; }
};

const MouseButtons Left{true, false, false}, Right{false, true, false}, CtrlLeft{true, false, true};

TEST_F(EditorWindows, TheCurveFollowsTheMouseAndReachesThePictureAtEachRelease) {
    stack(64, 48, [](int x, int y) { return static_cast<float>((x * 3 + y * 5) % 256); });
    form.control(Control::Gammawin).setCheckedByUser(true);
    EXPECT_TRUE(form.control(Control::GammaWindow).visible());
    const Bitmap24 straight = shown();
    const GammaCurve power = form.GammaTable;

    graph(Mouse::Down, 64, 215, Right);  // inserts a point below the diagonal: darker shadows
    graph(Mouse::Move, 70, 225, Left);  // a drag redraws only
    EXPECT_EQ(form.editors().gammaCurve().point(2), (SplinePoint{70, 225}));
    EXPECT_EQ(form.GammaTable.values, power.values);
    graph(Mouse::Up, 70, 225, Left);
    EXPECT_EQ(form.GammaTable.values, tableOfCurve().values);
    EXPECT_NE(shown(), straight);
    EXPECT_LT(shown().pixel(10, 4)[1], straight.pixel(10, 4)[1]);

    graph(Mouse::Down, 72, 228, CtrlLeft);  // deletes the inner point it is near
    EXPECT_EQ(form.editors().gammaCurve().count(), 3);
    graph(Mouse::Down, 64, 215, Right);
    graph(Mouse::DoubleClick, 30, 30, Left);  // back to the three default points
    graph(Mouse::Up, 30, 30, Left);
    EXPECT_EQ(form.editors().gammaCurve().count(), 3);
    EXPECT_EQ(form.GammaTable.values, tableOfCurve().values);
    const Bitmap24 reset = shown();
    graph(Mouse::Down, 64, 215, Right);
    graph(Mouse::Up, 64, 215, Right);
    ASSERT_NE(shown(), reset);
    form.control(Control::Button2).click();  // the window's Reset: as a double click, the picture following
    EXPECT_EQ(form.editors().gammaCurve().count(), 3);
    EXPECT_EQ(shown(), reset);

    // The spin, changed later, is in force again; the curve stays drawn.
    form.control(Control::Gamma1spin).setValueByUser(1.5);
    GammaCurve spin;
    spin.build(1.5);
    EXPECT_EQ(form.GammaTable.values, spin.values);
}

TEST_F(EditorWindows, SetNormalisesTheSpinsAndResetRestoresTheBuiltInKernel) {
    stack(32, 32, [](int x, int y) { return static_cast<float>(x * 7 + y); });
    form.control(Control::Filtercheckbox).setCheckedByUser(true);
    EXPECT_TRUE(form.control(Control::FilterWindow).visible());
    EXPECT_EQ(kernel(), WaveletKernel{});  // the spins do not count until Set

    form.control(Control::Button1).click();
    EXPECT_FLOAT_EQ(kernel().taps[4], 50.0f / 98.0f);
    EXPECT_EQ(form.lastProcessingStage(), ProcessingCache::Stage::Decomposition);

    // Weights that cancel up to the spins' rounding are used as typed.
    const double cancelling[9] = {0.1, 0.2, -0.3};
    for (std::size_t tap = 0; tap < 9; ++tap) form.control(FilterSpins[tap]).setValueByUser(cancelling[tap]);
    form.control(Control::Button1).click();
    EXPECT_FLOAT_EQ(kernel().taps[1], 0.2f);  // divided by the residue it would be ~1e7

    form.control(Control::Button3).click();
    EXPECT_EQ(kernel(), WaveletKernel{});
    EXPECT_EQ(form.control(Control::Filter00spin).value(), 6);
    EXPECT_EQ(form.control(Control::Filter11spin).value(), 50);
    EXPECT_EQ(form.lastProcessingStage(), ProcessingCache::Stage::Decomposition);
}

}  // namespace
}  // namespace planexor
