// The frame lists, their file, and optimizing the alignment through the form.
#include <gtest/gtest.h>

#include "demo/synthetic_planet.h"
#include "core/file_io.h"
#include "input/frame_list_file.h"
#include "support/form_fixture.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using Action = TMainForm::ListAction;
constexpr const char* TooMany = "Warning : only the first 2500 frames will be processed";

class FrameLists : public testing::FormTest {
protected:
    std::vector<std::string> frames(int count, const std::string& prefix = "f") {
        std::vector<std::string> paths;
        for (int k = 0; k < count; ++k)
            paths.push_back(testing::writeBmp(dir, prefix + std::to_string(k) + ".bmp",
                                              testing::uniform(80, 60, static_cast<std::uint8_t>(10 * k + 5))));
        return paths;
    }
    std::string list(const std::string& name, const std::vector<std::string>& paths) {
        testing::writeText(dir.file(name), frameListText(paths));
        return dir.file(name);
    }
    void press(Control button, const std::string& file) {
        ui.queueFiles({file}, 1);
        form.control(button).click();
    }
    std::vector<std::string> openedFrames() const {
        return {w.FrameFiles.begin(), w.FrameFiles.begin() + form.frameCount()};
    }
    std::vector<int> excluded() const {
        std::vector<int> frames;
        for (int k = 0; k < form.frameCount(); ++k)
            if (w.FrameRecs[k].Excluded) frames.push_back(k);
        return frames;
    }
    // As the desktop reports it: the clicked row's mark is already inverted.
    void clickCheck(Control listControl, std::vector<int> selected, int clicked) {
        ControlModel& list = form.control(listControl);
        list.setListSelection(selected, clicked);
        list.setListItemChecked(clicked, !list.listItems()[clicked].checked);
        form.listEvent(listControl, Action::ClickCheck);
    }
    void doubleClick(Control listControl, std::vector<int> selected) {
        form.control(listControl).setListSelection(selected, selected.front());
        form.listEvent(listControl, Action::DblClick);
    }
};

TEST_F(FrameLists, TogglesSaveReopenAndAddGiveTheFramesInOrder) {
    const auto paths = frames(6);
    // A list typed into the project dialog opens as the list it is, whatever filter showed.
    press(Control::LoadProject, list("typed.pxl", paths));
    EXPECT_EQ(openedFrames(), paths);
    EXPECT_TRUE(form.control(Control::AddFramesButton).visible());
    EXPECT_EQ(form.control(Control::DirectoryListBox1).caption(), directoryOf(paths[0]));

    doubleClick(Control::SelectFramesChecklist, {1, 3});             // both toggle
    clickCheck(Control::SelectFramesChecklist, {2, 4}, 4);           // both toggle
    clickCheck(Control::SelectFramesChecklist, {0}, 0);              // the one toggles
    clickCheck(Control::SelectFramesChecklist, {3}, 3);              // back in
    EXPECT_EQ(excluded(), (std::vector<int>{0, 1, 2, 4}));
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 2 selected (Total = 6 ) ");

    // The list written holds the frames whose marks are on.
    press(Control::Framelistsavebutton, dir.file("kept.pxl"));
    EXPECT_EQ(testing::readText(dir.file("kept.pxl")), paths[3] + "\r\n" + paths[5] + "\r\n");
    form.control(Control::BitBtn5).click();
    press(Control::Framelistsavebutton, dir.file("none.pxl"));
    EXPECT_EQ(testing::readText(dir.file("none.pxl")), "");
    form.control(Control::BitBtn4).click();
    EXPECT_EQ(w.usedframes, 6);

    // Added frames take part even where an earlier exclusion was left in their
    // slots, once aligned: the ranking of an alignment before has none of them.
    w.FrameRecs[6].Excluded = 1;
    w.progstatus = 2;
    press(Control::AddFramesButton, list("more.pxl", frames(2, "g")));
    EXPECT_EQ(w.progstatus, 1);
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 8 selected (Total = 8 ) ");
    EXPECT_EQ(form.control(Control::StackSlider).maximum(), 7);
    EXPECT_EQ(form.control(Control::Label9).caption().substr(1), " / 8");

    press(Control::Framelistloadbutton, dir.file("kept.pxl"));
    EXPECT_EQ(openedFrames(), (std::vector<std::string>{paths[3], paths[5]}));
    EXPECT_TRUE(excluded().empty());
    // A .ser chosen under the AVI filter opens as the SER video it is; frames are added to still frames only.
    open(demo("video", 2, DemoOptions::Ser, 64, 48).sequenceFiles, 1);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_FALSE(form.control(Control::AddFramesButton).visible());
}

TEST_F(FrameLists, StackListTogglesExcludeRankedFramesAndBadListsAreRefusedOrTrimmedKeepingTheOldSequence) {
    const auto paths = frames(3);
    press(Control::Framelistloadbutton, list("good.pxl", paths));
    w.progstatus = 2;
    form.control(Control::TabSheet3).setVisible(true);
    // The stack list's toggles exclude ranked frames and mirror them, without recounting.
    ControlModel& stackList = form.control(Control::StackFramesList);
    for (const int frame : {2, 0, 1}) {
        w.Ranking[stackList.listItems().size()] = {frame, 1.0f, 0.0f};  // ranked in the list's order
        stackList.addListItem("f" + std::to_string(frame) + ".bmp", true);
    }
    doubleClick(Control::StackFramesList, {0});
    clickCheck(Control::StackFramesList, {1}, 1);
    EXPECT_EQ(excluded(), (std::vector<int>{0, 2}));
    for (int frame : {0, 2}) EXPECT_FALSE(form.control(Control::SelectFramesChecklist).listItems()[frame].checked);
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 3 selected (Total = 3 ) ");

    for (const std::string& bad : {list("empty.pxl", {}), list("gone.pxl", {dir.file("x.bmp"), dir.file("y.bmp")}),
                                   dir.file("missing.pxl")}) {
        ui.messages.clear();
        press(Control::Framelistloadbutton, bad);
        ASSERT_EQ(errors().size(), 1u) << bad;
        EXPECT_NE(errors()[0].find(bad), std::string::npos) << errors()[0];
        EXPECT_EQ(openedFrames(), paths);
        EXPECT_EQ(w.progstatus, 2);
    }

    // Missing frames are left out by name; the ranking and pages of the old sequence go.
    ui.messages.clear();
    press(Control::Framelistloadbutton, list("some.pxl", {paths[0], dir.file("x.bmp"), paths[2]}));
    EXPECT_EQ(openedFrames(), (std::vector<std::string>{paths[0], paths[2]}));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(dir.file("x.bmp")), std::string::npos);
    EXPECT_EQ(w.progstatus, 0);
    EXPECT_EQ(w.Ranking[0], TRankEntry{});
    EXPECT_FALSE(form.control(Control::TabSheet3).visible());
    EXPECT_TRUE(form.control(Control::StackFramesList).listItems().empty());

    // Too many lines, opened or added: the first 2501 frames, one warning each.
    ui.messages.clear();
    press(Control::Framelistloadbutton, list("long.pxl", std::vector<std::string>(MaxFrames + 1, paths[1])));
    EXPECT_EQ(form.frameCount(), MaxFrames);
    press(Control::AddFramesButton, list("one.pxl", {paths[0]}));
    EXPECT_EQ(form.frameCount(), MaxFrames);
    EXPECT_EQ(timesShown(TooMany), 2);
}

using Optimizing = testing::FormTest;

// Shifts moved off by whole pixels come back, and no other moves away; the
// reference stays itself. Resampled, shifts count in enlarged pixels and the
// frames are compared with the enlarged reference.
TEST_F(Optimizing, OnePassBringsDisplacedShiftsBackWithinAPixelOfTheTruth) {
    const int frames = 40;
    open(demo("demo", frames).sequenceFiles, 1);
    form.control(Control::AutoOptimize).setChecked(false);
    form.control(Control::OptimizeQualitySpin).setValue(0);
    form.control(Control::SearchArea).setValue(4);  // the displacements below, enlarged
    const auto truth = demoTruth(options);
    for (const int factor : {1, 2}) {
        SCOPED_TRACE(factor);
        form.control(Control::ResampleSpin).setValue(factor);
        form.control(Control::Resampled).setCheckedByUser(factor > 1);
        ui.messages.clear();  // that the first alignment no longer holds
        click(160, 120);
        alignAll();
        const auto offTruth = [&](int k) {
            return std::max(std::abs(w.FrameRecs[k].ShiftX / double(factor) - (truth[k].shiftX - truth[0].shiftX)),
                            std::abs(w.FrameRecs[k].ShiftY / double(factor) - (truth[k].shiftY - truth[0].shiftY)));
        };
        std::vector<bool> wasClose(frames);
        for (int k = 0; k < frames; ++k) wasClose[k] = offTruth(k) <= 1.0;
        const int offsets[][2] = {{1, 2}, {-2, 1}, {2, -2}, {-1, -1}, {2, 0}};
        for (int k = 4; k < frames; k += 4) {
            w.FrameRecs[k].ShiftX += factor * offsets[k % 5][0];
            w.FrameRecs[k].ShiftY += factor * offsets[k % 5][1];
            w.FrameRecs[k].Difference = 1e30f;  // as if far worse than any candidate
        }
        form.control(Control::Optimizebutton).click();
        ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
        EXPECT_EQ(w.progstatus, 3);
        EXPECT_EQ(w.FrameRecs[0].ShiftX * 1000 + w.FrameRecs[0].ShiftY, 0);
        int displacedBack = 0, othersLost = 0;
        for (int k = 1; k < frames; ++k) {
            if (k % 4 == 0) displacedBack += wasClose[k] && offTruth(k) <= 1.0;
            else othersLost += wasClose[k] && offTruth(k) > 1.0;
        }
        EXPECT_GE(displacedBack, 9 * 95 / 100);
        EXPECT_EQ(othersLost, 0);
        EXPECT_GT(form.alignPage().OptTotal, 0.0);
    }
}

TEST_F(Optimizing, ExcludedFramesAreNeverDecodedAndCancelEndsTheChain) {
    const auto files = demo("demo", 12, DemoOptions::Bmp).sequenceFiles;
    testing::writeText(dir.file("demo.pxl"), frameListText(files));
    form.openFrameList(dir.file("demo.pxl"));
    form.control(Control::SelectFramesChecklist).setListSelection({3, 7}, 3);
    form.listEvent(Control::SelectFramesChecklist, Action::DblClick);
    std::remove(files[3].c_str());
    std::remove(files[7].c_str());
    form.control(Control::OptimizeQualitySpin).setValue(0);
    click(160, 120);
    form.control(Control::AlignStackButton).click();  // aligns, optimizes, stacks and processes
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 3);

    // A Cancel in the first optimizing pass: no stack, no processing follows.
    form.control(Control::PageControl1).setItemIndexByUser(1);
    ui.onProcessEvents = [&](int) {
        if (form.control(Control::messagewinlabel).caption() == "Optimizing frames") form.control(Control::BitBtn2).click();
    };
    w.progstatus = 1;
    form.control(Control::AlignStackButton).click();
    ui.onProcessEvents = nullptr;
    EXPECT_EQ(w.progstatus, 3);
    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 1);
    EXPECT_EQ(form.stackedCount(), 1);  // the new ranking's, with no stack made of it
    EXPECT_FALSE(form.ChainRun);
    EXPECT_FALSE(form.runInProgress());
}

}  // namespace
}  // namespace planexor
