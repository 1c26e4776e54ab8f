#include <gtest/gtest.h>


#include "support/form_fixture.h"

namespace planexor {
namespace {

class PageFlow : public testing::FormTest {
protected:
    void showPage(int page) { form.control(Control::PageControl1).setItemIndexByUser(page); }
    bool visible(Control name) const { return form.control(name).visible(); }

};

TEST_F(PageFlow, ToolWindowsShowOnlyOnTheirPageAndOnlyWhileTheirBoxIsChecked) {
    form.control(Control::ShowFFTbox).setCheckedByUser(true);
    EXPECT_TRUE(visible(Control::FFTWindow));
    EXPECT_TRUE(visible(Control::AlignOneBUtton));
    showPage(1);
    EXPECT_TRUE(visible(Control::FFTWindow));
    EXPECT_TRUE(visible(Control::Propertywindow));  // "Show graph" is checked by default
    showPage(2);
    EXPECT_FALSE(visible(Control::FFTWindow));
    EXPECT_FALSE(visible(Control::Propertywindow));
    form.control(Control::Stacklist).setCheckedByUser(true);
    showPage(3);
    EXPECT_FALSE(visible(Control::Stackframeswindow));
    showPage(2);
    EXPECT_TRUE(visible(Control::Stackframeswindow));
    form.control(Control::Showgraphbox).setCheckedByUser(false);
    showPage(1);
    EXPECT_FALSE(visible(Control::Propertywindow));
}

TEST_F(PageFlow, ClosingAToolWindowUnchecksItsBoxSoTheNextVisitLeavesItClosed) {
    form.control(Control::ShowFramelist).setCheckedByUser(true);
    EXPECT_TRUE(visible(Control::SelectFrameswindow));
    form.toolWindowClosed(Control::SelectFrameswindow);
    EXPECT_FALSE(form.control(Control::ShowFramelist).checked());
    showPage(1);
    showPage(0);
    EXPECT_FALSE(visible(Control::SelectFrameswindow));
}

TEST_F(PageFlow, WindowMovesAreRecordedUnderTheirUserSettingsNamesOnceTheKeyIsOpen) {
    form.toolWindowMoved(Control::FFTWindow, 3, 4);  // while the window is being built
    EXPECT_TRUE(settings.values.empty());
    form.openUserSettingsKey();
    form.toolWindowMoved(Control::FFTWindow, 30, 40);
    form.toolWindowMoved(Control::SelectFrameswindow, 5, 6);
    form.toolWindowResized(Control::HintWindow, 300, 120);
    form.toolWindowMoved(Control::GammaWindow, 1, 2);  // not one of the recorded windows
    EXPECT_EQ(settings.readInteger("Toolwin", "FFTleft", -1), 30);
    EXPECT_EQ(settings.readInteger("Toolwin", "FFTTop", -1), 40);
    EXPECT_EQ(settings.readInteger("Toolwin", "Frameleft", -1), 5);
    EXPECT_EQ(settings.readInteger("Toolwin", "Hintwidth", -1), 300);
    EXPECT_EQ(settings.readInteger("Toolwin", "Hintheight", -1), 120);
    EXPECT_EQ(settings.values.size(), 6u);
    EXPECT_EQ(form.control(Control::GammaWindow).left(), 1);
}

TEST_F(PageFlow, CancelSetsTheStopFlagHidesProgressAndRestoresTheCursor) {
    form.control(Control::MessageWindow).setVisible(true);
    ui.setCursor(CursorShape::Hourglass);
    form.control(Control::BitBtn2).click();
    EXPECT_TRUE(form.workspace().StopRequested);
    EXPECT_FALSE(visible(Control::MessageWindow));
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);
}

}  // namespace
}  // namespace planexor
