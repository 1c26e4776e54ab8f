// Past whole pixels, through the window as a user does: sub-pixel
// registration and stacking, and the disc quality ranking, measured on the
// synthetic planet against what it was rendered from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "app/main_form.h"
#include "core/pixel.h"
#include "demo/synthetic_planet.h"
#include "demo/picture_psnr.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::spearman;
using testing::TempDir;

// One demo sequence opened in the window, the feature clicked on the
// planet's middle in frame 0.
struct Sequence {
    TempDir dir;
    DemoOptions demo;
    std::vector<FrameTruth> truth;
    Picture original;
    Window window;
    ScriptedUiServices ui;
    MemoryUserSettings settings;
    std::unique_ptr<TMainForm> form;

    Sequence(int width, int height, int frames, double seeing = 0) {
        demo.directory = dir.path();
        demo.frames = frames;
        demo.width = width;
        demo.height = height;
        demo.seeingDistortion = seeing;
        RunProgress quiet;
        const DemoResult written = writeDemoSequence(demo, quiet);
        truth = demoTruth(demo);
        original = fromBitmap(renderDemoOriginal(demo));
        window = planetWindow(original, 12);
        form = std::make_unique<TMainForm>(ui, settings);
        ui.queueFiles({written.sequenceFiles.front()}, 1);
        form->control(Control::SelectFileButton).click();
    }
    Workspace& w() { return form->workspace(); }
    void align(int boxItem, bool subpixel, bool disc) {
        form->control(Control::FFTsizeGroup).setItemIndexByUser(boxItem);
        form->control(Control::SubpixelBox).setCheckedByUser(subpixel);
        form->control(Control::QualityMeasure).setItemIndexByUser(disc ? 1 : 0);
        form->control(Control::AutoOptimize).setChecked(false);
        const int cx = nearest((window.x0 + window.x1) / 2.0 + truth[0].shiftX);
        const int cy = nearest((window.y0 + window.y1) / 2.0 + truth[0].shiftY);
        form->mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, cx, cy, true);
        form->control(Control::Allignallbutton).click();
    }
    double stackPsnr(int ranks) {
        form->control(Control::StackSlider).setValueByUser(ranks - 1);
        form->control(Control::Stackbutton).click();
        return psnr(fromStack(w()), original, window);
    }
    // Every frame at the nearest whole pixel of its true shift.
    void trueWholeShifts() {
        for (std::size_t k = 0; k < truth.size(); ++k) {
            TFrameRec& record = w().FrameRecs[k];
            record.ShiftX = nearest(truth[k].shiftX - truth[0].shiftX);
            record.ShiftY = nearest(truth[k].shiftY - truth[0].shiftY);
            record.SubShiftX = record.SubShiftY = 0.0f;
        }
    }
    // Share of frames whose registered shift lies within `limit` of the truth.
    double shareWithin(double limit) {
        int within = 0;
        for (std::size_t k = 0; k < truth.size(); ++k) {
            const TFrameRec& record = w().FrameRecs[k];
            const double ex = record.ShiftX + record.SubShiftX - (truth[k].shiftX - truth[0].shiftX);
            const double ey = record.ShiftY + record.SubShiftY - (truth[k].shiftY - truth[0].shiftY);
            within += std::max(std::abs(ex), std::abs(ey)) <= limit;
        }
        return static_cast<double>(within) / static_cast<double>(truth.size());
    }
};

void expectSubpixelBeatsTrueWholePixels(int width, int height, int frames) {
    Sequence s(width, height, frames);
    s.align(1, true, false);
    ASSERT_TRUE(s.ui.messages.empty());
    const double within = s.shareWithin(0.25);
    const int best = std::max(1, nearest(frames * 0.25));
    const double subpixel = s.stackPsnr(best);
    s.trueWholeShifts();
    s.form->control(Control::SubpixelBox).setCheckedByUser(false);
    const double whole = s.stackPsnr(best);
    std::printf("%dx%d, %d frames: sub-pixel %.3f dB, true whole pixels %.3f dB, within 0.25 px %.3f\n", width,
                height, frames, subpixel, whole, within);
    EXPECT_GE(subpixel, whole + 0.15);
    EXPECT_GE(within, 0.95);
}

TEST(BeyondPixels, SubpixelStackBeatsTheStackAtTrueWholePixelShifts) {
    expectSubpixelBeatsTrueWholePixels(320, 240, 100);
}

// The full demo, a minute's work: run with --gtest_also_run_disabled_tests.
TEST(BeyondPixels, DISABLED_SubpixelStackBeatsTrueWholePixelsOnTheFullDemo) {
    expectSubpixelBeatsTrueWholePixels(640, 480, 500);
}

// Seeing that moves parts of the disc differently: the stack with alignment
// points against the same stack at the global shifts alone.
void expectPointsBeatTheGlobalShift(int width, int height, int frames, double gain) {
    Sequence s(width, height, frames, 1.0);
    s.align(1, false, false);
    const int best = std::max(1, nearest(frames * 0.25));
    const double global = s.stackPsnr(best);
    s.form->control(Control::PointsSpin).setValueByUser(AlignmentPoints::Auto);
    const double points = s.stackPsnr(best);
    const int placed = s.form->stackPage().alignmentPointCount();
    std::printf("%dx%d, %d frames: %d alignment points %.3f dB, global shift %.3f dB\n", width, height, frames,
                placed, points, global);
    EXPECT_GE(placed, 16);
    EXPECT_GE(points, global + gain);
    EXPECT_TRUE(s.ui.messages.empty());
}

TEST(BeyondPixels, AlignmentPointsUndoSeeingThatMovesPartsOfTheDisc) { expectPointsBeatTheGlobalShift(320, 240, 100, 0.8); }

// The full demo: run with --gtest_also_run_disabled_tests.
TEST(BeyondPixels, DISABLED_AlignmentPointsGainADecibelOnTheFullDemo) { expectPointsBeatTheGlobalShift(640, 480, 500, 1.0); }

// The spectral quality of a box on the disc's middle follows the seeing
// less well the smaller the box; the disc measure does not depend on it.
TEST(BeyondPixels, DiscQualityRanksBySeeingWithEveryBox) {
    Sequence s(400, 300, 80);  // room for a 256 box
    std::vector<double> sharpness;
    for (const FrameTruth& frame : s.truth) sharpness.push_back(-frame.blur);
    for (int boxItem = 0; boxItem < 3; ++boxItem) {
        s.align(boxItem, false, true);
        std::vector<double> quality;
        for (std::size_t k = 0; k < s.truth.size(); ++k) quality.push_back(s.w().FrameRecs[k].Quality);
        EXPECT_GE(spearman(quality, sharpness), 0.97) << "box " << (64 << boxItem);
    }
    EXPECT_TRUE(s.ui.messages.empty());
}

}  // namespace
}  // namespace planexor
