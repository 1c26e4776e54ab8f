#include <gtest/gtest.h>

#include "app/control_table.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

class RunSafety : public testing::FormTest {
protected:
    void openDemo(int frames, DemoOptions::Format format = DemoOptions::Avi) {
        open(demo(format == DemoOptions::Avi ? "demo" : "stills", frames, format, 160, 160).sequenceFiles);
        ASSERT_TRUE(w.SequenceOpen);
        click(80, 80);
    }
    // Every visible, usable control a user can press or tick does something.
    void expectEveryLiveControlHandled(const char* stage) {
        for (const ControlDefinition& desc : controlTable()) {
            const ControlKind kind = desc.kind;
            if (kind != ControlKind::Button && kind != ControlKind::CheckBox && kind != ControlKind::CheckList &&
                kind != ControlKind::RadioGroup)
                continue;
            const ControlModel& model = form.control(desc.id);
            if (model.visible() && model.usable() && !desc.noHandler) {
                EXPECT_TRUE(model.hasHandler()) << stage << ": " << desc.name << " looks usable but does nothing";
            }
        }
    }
};

// Through every stage no usable-looking control is dead; processed work opened
// again resets processing, with what follows from it.
TEST_F(RunSafety, NoControlThatLooksUsableDoesNothingAtAnyStage_AndOpeningAgainResetsProcessing) {
    expectEveryLiveControlHandled("nothing open");
    openDemo(6);
    expectEveryLiveControlHandled("opened");
    alignAll();
    expectEveryLiveControlHandled("aligned");
    form.control(Control::Stackbutton).click();
    expectEveryLiveControlHandled("stacked");
    form.control(Control::PageControl1).setItemIndexByUser(3);
    form.control(Control::ProcessButton).click();
    expectEveryLiveControlHandled("processed");

    form.control(Control::Gamma1spin).setValueByUser(2.0);
    form.control(Control::CheckBox6).setCheckedByUser(false);
    form.control(Control::Histowin).setCheckedByUser(true);
    form.mouseEvent(Control::Histograph, Mouse::Move, 240, 240, true);
    form.mouseEvent(Control::Histograph, Mouse::Move, 213, 240, true);
    form.control(Control::BitBtn3).click();
    drag(10, 10, 90, 90);
    ASSERT_TRUE(form.control(Control::Section).checked());
    ASSERT_NE(form.processPage().StretchHigh, 255.0f);
    ASSERT_FALSE(form.control(Control::RxSlider4).enabled());

    openDemo(6);
    GammaCurve identity;
    identity.build(1.0);
    EXPECT_EQ(form.control(Control::Gamma1spin).value(), 1.0);
    EXPECT_EQ(form.GammaTable.values, identity.values);
    EXPECT_TRUE(form.control(Control::CheckBox6).checked());
    EXPECT_TRUE(form.control(Control::RxSlider4).enabled());
    EXPECT_EQ(std::pair(form.processPage().StretchLow, form.processPage().StretchHigh), std::pair(0.0f, 255.0f));
    EXPECT_FALSE(form.control(Control::Section).checked());
    EXPECT_EQ(form.processPage().SectionBox, SelectionBox{});

    // A curve drawn in the gamma editor, which still shows it, stays in force (as with Reset).
    form.mouseEvent(Control::GammaSplineGraph, Mouse::Down, 64, 215, MouseButtons{false, true});
    form.mouseEvent(Control::GammaSplineGraph, Mouse::Up, 64, 215, MouseButtons{false, true});
    const GammaCurve drawn = form.GammaTable;
    ASSERT_NE(drawn.values, identity.values);
    openDemo(6);
    EXPECT_EQ(form.GammaTable.values, drawn.values);
}

TEST_F(RunSafety, ACancelSaysWhereTheRunStoppedAndARunKeepsTheOptionsItStartedWithUntilItEnds) {
    openDemo(8);
    ui.onProcessEvents = [&](int call) {
        if (call == 4 && form.runInProgress()) form.control(Control::BitBtn2).click();
    };
    ui.pendingEventCalls = 0;
    alignAll();
    EXPECT_EQ(form.control(Control::Label4).caption(), "Alignment cancelled at frame 3 of 8");
    EXPECT_FALSE(form.control(Control::Allignallbutton).locked());

    ui.onProcessEvents = nullptr;
    alignAll();
    const auto undisturbedShifts = records(8);
    form.control(Control::StackSlider).setValueByUser(5);
    form.control(Control::Stackbutton).click();
    const Bitmap24 undisturbedStack = form.stackBitmap();

    bool lockedMidRun = false;
    ui.onProcessEvents = [&](int call) {
        if (call != 3 || !form.runInProgress()) return;
        lockedMidRun = form.control(Control::FFTsizeGroup).locked() && !form.control(Control::BitBtn2).locked();
        // A user who tries to change what the run reads.
        form.control(Control::FFTsizeGroup).setItemIndexByUser(2);
        form.control(Control::Interlaced).setCheckedByUser(true);
        form.control(Control::differencecutslider).setValueByUser(50);
        form.control(Control::StackSlider).setValueByUser(0);
    };
    ui.pendingEventCalls = 0;
    alignAll();
    EXPECT_TRUE(lockedMidRun);
    EXPECT_EQ(records(8), undisturbedShifts);
    form.control(Control::StackSlider).setValueByUser(5);
    ui.pendingEventCalls = 0;
    lockedMidRun = false;
    form.control(Control::Stackbutton).click();
    EXPECT_TRUE(lockedMidRun);
    EXPECT_EQ(form.stackBitmap(), undisturbedStack);
    for (const Control id : {Control::FFTsizeGroup, Control::Interlaced, Control::differencecutslider})
        EXPECT_EQ(form.control(id).value() + form.control(id).checked(), definitionOf(id).defaultValue)
            << controlName(id) << " changed under a run";
    EXPECT_EQ(form.control(Control::StackSlider).intValue(), 5);
    EXPECT_FALSE(form.control(Control::FFTsizeGroup).locked());

    // The stack page shows its cut-off frame through the preview bitmap; the preview page, its slider's.
    form.control(Control::StackSlider).setValueByUser(4);
    ASSERT_NE(w.CurrentFrame, 0);
    form.control(Control::PageControl1).setItemIndexByUser(0);
    EXPECT_EQ(w.CurrentFrame, form.control(Control::PreviewSlider).intValue());
}

TEST_F(RunSafety, ACancelAtAnyFrameStopsTheRunBeforeItsNextDecodeAndTheGaugeNeverGoesBack) {
    for (const DemoOptions::Format format : {DemoOptions::Avi, DemoOptions::Bmp}) {
        openDemo(8, format);
        form.control(Control::OptimizeQualitySpin).setValueByUser(0);  // optimizing visits every frame
        alignAll();
        // Stacking with alignment points reads every frame once for their
        // reference first, and with local quality once more to score them.
        const struct {
            Control run;
            int points;
            bool local;
        } runs[] = {{Control::Allignallbutton, 0, false}, {Control::Optimizebutton, 0, false},
                    {Control::Stackbutton, 0, false},     {Control::CreateDarkframe, 0, false},
                    {Control::Stackbutton, AlignmentPoints::Auto, false}, {Control::Stackbutton, AlignmentPoints::Auto, true}};
        for (const auto& [run, points, local] : runs) {
            form.control(Control::PointsSpin).setValueByUser(points);
            form.control(Control::LocalQualityBox).setCheckedByUser(local);
            for (const int cancelAt : {1, local ? 12 : 4}) {
                SCOPED_TRACE(std::string(controlName(run)) + (format == DemoOptions::Avi ? " AVI" : " BMP") +
                             (points ? " with points" : "") + (local ? " and local quality" : "") +
                             ", cancel at yield " + std::to_string(cancelAt));
                form.control(Control::StackSlider).setValueByUser(7);
                int cancelledOn = -1, calls = 0;
                bool backwards = false;
                double gauge = 0;
                ui.onProcessEvents = [&](int) {
                    if (!form.runInProgress()) return;
                    const double now = form.control(Control::Progressgraph).value();
                    backwards |= now < gauge;
                    gauge = now;
                    if (++calls == cancelAt) {
                        cancelledOn = w.CurrentFrame;
                        form.control(Control::BitBtn2).click();
                    }
                };
                ui.pendingEventCalls = 0;
                form.control(run).click();
                ui.onProcessEvents = nullptr;
                EXPECT_FALSE(backwards);
                EXPECT_NE(cancelledOn, -1);
                // Stacking shows its cut-off frame once it has ended, so it counts what went in instead;
                // with nothing in, there is no stack to process or save.
                if (run == Control::Allignallbutton || run == Control::Optimizebutton) {
                    EXPECT_EQ(w.CurrentFrame, cancelledOn);
                } else {
                    const int added = points ? 0 : cancelAt - 1;
                    EXPECT_EQ(form.control(Control::StackInfoLabel).caption().rfind(
                                  "Stacking cancelled after " + std::to_string(added) + " of ", 0), 0u);
                    EXPECT_EQ(w.StackReady, added > 0);
                    EXPECT_EQ(form.control(Control::SaveButton).enabled(), added > 0);
                }
                EXPECT_FALSE(form.runInProgress());
                alignAll();  // a whole run again, for the next stack
            }
        }
    }
}

}  // namespace
}  // namespace planexor
