#include <gtest/gtest.h>

#include "app/main_form.h"

namespace planexor {
namespace {

class PageFlow : public ::testing::Test {
protected:
    void showPage(int page) { form.control("PageControl1").setItemIndexByUser(page); }
    bool visible(const char* name) const { return form.control(name).visible(); }

    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form{ui, settings};
};

TEST_F(PageFlow, ToolWindowsShowOnlyOnTheirPageAndOnlyWhileTheirBoxIsChecked) {
    form.control("ShowFFTbox").setCheckedByUser(true);
    EXPECT_TRUE(visible("FFTWindow"));
    EXPECT_TRUE(visible("AlignOneBUtton"));
    showPage(1);
    EXPECT_TRUE(visible("FFTWindow"));
    EXPECT_TRUE(visible("Propertywindow"));  // "Show graph" is checked by default
    showPage(2);
    EXPECT_FALSE(visible("FFTWindow"));
    EXPECT_FALSE(visible("Propertywindow"));
    form.control("Stacklist").setCheckedByUser(true);
    showPage(3);
    EXPECT_FALSE(visible("Stackframeswindow"));
    showPage(2);
    EXPECT_TRUE(visible("Stackframeswindow"));
    form.control("Showgraphbox").setCheckedByUser(false);
    showPage(1);
    EXPECT_FALSE(visible("Propertywindow"));
}

TEST_F(PageFlow, ClosingAToolWindowUnchecksItsBoxSoTheNextVisitLeavesItClosed) {
    form.control("ShowFramelist").setCheckedByUser(true);
    EXPECT_TRUE(visible("SelectFrameswindow"));
    form.toolWindowClosed("SelectFrameswindow");
    EXPECT_FALSE(form.control("ShowFramelist").checked());
    showPage(1);
    showPage(0);
    EXPECT_FALSE(visible("SelectFrameswindow"));
}

TEST_F(PageFlow, WindowMovesAreRecordedUnderTheirUserSettingsNames) {
    form.toolWindowMoved("FFTWindow", 30, 40);
    form.toolWindowMoved("SelectFrameswindow", 5, 6);
    form.toolWindowResized("HintWindow", 300, 120);
    form.toolWindowMoved("GammaWindow", 1, 2);  // not one of the recorded windows
    EXPECT_EQ(settings.readInteger("Toolwin", "FFTleft", -1), 30);
    EXPECT_EQ(settings.readInteger("Toolwin", "FFTTop", -1), 40);
    EXPECT_EQ(settings.readInteger("Toolwin", "Frameleft", -1), 5);
    EXPECT_EQ(settings.readInteger("Toolwin", "Hintwidth", -1), 300);
    EXPECT_EQ(settings.readInteger("Toolwin", "Hintheight", -1), 120);
    EXPECT_EQ(settings.values.size(), 6u);
    EXPECT_EQ(form.control("GammaWindow").left(), 1);
}

TEST_F(PageFlow, CancelSetsTheStopFlagHidesProgressAndRestoresTheCursor) {
    form.control("MessageWindow").setVisible(true);
    ui.setCursor(CursorShape::Hourglass);
    form.control("BitBtn2").click();
    EXPECT_TRUE(form.workspace().StopRequested);
    EXPECT_FALSE(visible("MessageWindow"));
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);
}

TEST_F(PageFlow, StartPagesShowOnlyTheFirstAndLastTabs) {
    EXPECT_TRUE(visible("TabSheet1"));
    EXPECT_FALSE(visible("TabSheet2"));
    EXPECT_FALSE(visible("TabSheet3"));
    EXPECT_FALSE(visible("TabSheet4"));
    EXPECT_TRUE(visible("TabSheet5"));
    EXPECT_EQ(form.control("PageControl1").itemIndex(), 0);
}

}  // namespace
}  // namespace planexor
