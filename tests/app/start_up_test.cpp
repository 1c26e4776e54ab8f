// Start-up, pages and their tool windows, help panels and the About page.
#include <gtest/gtest.h>

#include <map>

#include "app/big_ini_file.h"
#include "app/help_about.h"
#include "app/settings_file.h"
#include "app/start_up.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

class StartUpTest : public testing::FormTest {
protected:
    std::string iniPath() const { return dir.file("config/planexor.ini"); }
    SettingsFile file{iniPath()};
    StartUp start{form, file, dir.path()};
};

TEST_F(StartUpTest, AFirstStartStoresItsValuesAMissingStartupProjectSaysSoAndTheNextStartBringsThemBack) {
    start.FormCreate();
    EXPECT_EQ(settings.readString("Files", "Dir", ""), dir.path());
    EXPECT_EQ(settings.readString("Files", "Lasttype", ""), "AVI");
    EXPECT_EQ(settings.readString("Files", "SaveDir", ""), dir.path());
    form.toolWindowMoved(Control::HintWindow, 30, 40);  // the user settings key is open
    EXPECT_EQ(settings.readInteger("Toolwin", "Hintleft", 0), 30);
    EXPECT_EQ(timesShown("helpfile panel1.rtf not found"), 1);  // no panels where this form looks
    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 0);

    // A video named at start is not opened in silence: the user hears where to open it.
    const auto shown = ui.messages.size();
    start.openArguments({"movie.avi"});
    ASSERT_EQ(ui.messages.size(), shown + 1);
    EXPECT_NE(ui.messages.back().text.find("open movie.avi with Select input"), std::string::npos);
    start.loadStartupFile({dir.file("missing.pxp"), 1});
    EXPECT_EQ(errors(), std::vector<std::string>{"The project file " + dir.file("missing.pxp") + " does not exist"});
    EXPECT_FALSE(form.project().autoLoad);

    // The values come back at the next start, but a dark frame in use is off.
    form.control(Control::UseDarkFrame).setChecked(true);
    form.control(Control::Gamma1spin).setValue(2.3);
    form.control(Control::HistoWindow).setPosition(900, 40);
    start.FormClose();

    ScriptedUiServices nextUi;
    MemoryUserSettings nextSettings;
    nextSettings.writeString("Files", "Dir", dir.file("gone"));
    TMainForm next(nextUi, nextSettings);
    StartUp nextStart(next, file, dir.path());
    nextStart.FormCreate();
    EXPECT_EQ(TBigIniFile(iniPath()).ReadString("Form", "UseDarkFrame_Checked", ""), "False");
    // As if the file could not be written at start: it still holds the box ticked.
    testing::writeText(iniPath(), "[Form]\nUseDarkFrame_Checked=True\nGamma1spin_Value=2.3\n");
    nextStart.FormShow();
    EXPECT_FALSE(next.control(Control::UseDarkFrame).checked());
    EXPECT_EQ(next.control(Control::Gamma1spin).value(), 2.3);
    EXPECT_FALSE(next.control(Control::HistoWindow).visible());
    ASSERT_FALSE(nextUi.messages.empty());
    EXPECT_EQ(nextUi.messages.back().text, "Previously used directory " + dir.file("gone") + " not found");
    EXPECT_EQ(nextUi.messages.back().kind, MessageKind::Warning);

    // Started from a folder since deleted: no folder is stored, and no warning names an empty one.
    ScriptedUiServices lastUi;
    MemoryUserSettings lastSettings;
    TMainForm last(lastUi, lastSettings);
    StartUp(last, file, "").FormCreate();
    StartUp(last, file, "").FormCreate();
    for (const auto& message : lastUi.messages) EXPECT_EQ(message.text.find("Previously used"), std::string::npos);
    EXPECT_FALSE(lastSettings.has("Files", "Dir"));
}

// The help links are the way a user reports a fault: the mail carries the window's title and the system.
TEST_F(StartUpTest, TheMailLabelOpensAReportMailAndTheHomePageLabelTheHomePage) {
    form.control(Control::MailLabel).click();
    ASSERT_EQ(ui.openedUrls.size(), 1u);
    const std::string& url = ui.openedUrls[0];
    EXPECT_EQ(url.rfind(std::string("mailto:") + ReportAddress + "?subject=Planexor%20Planexor&body=", 0), 0u) << url;
    EXPECT_NE(url.find("%0A%20OS%3A%20"), std::string::npos);
    form.control(Control::HomepageLabel).click();
    EXPECT_EQ(ui.openedUrls.back(), HomepageUrl);
}

TEST(StartupArgument, OneProjectOrFrameListInAnyCaseLoadsAndAnythingElseDoesNot) {
    const struct {
        std::vector<std::string> arguments;
        std::optional<int> filterIndex;
    } cases[] = {
        {{"jupiter.PXP"}, 1}, {{"/x/list.pxl"}, 2}, {{"a.pxp", "b.pxp"}, std::nullopt},
        {{"movie.avi"}, std::nullopt}, {{}, std::nullopt}, {{"pxp"}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto file = startupFileOf(c.arguments);
        EXPECT_EQ(file ? std::optional<int>(file->filterIndex) : std::nullopt, c.filterIndex);
    }
}

TEST(OsInfo, NamesTheDistributionAndTheKernel) {
    EXPECT_EQ(osInfoText("PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\r\nNAME=\"Debian GNU/Linux\"\r\nID=debian\n",
                         "6.1.0-18-amd64"),
              "Debian GNU/Linux 6.1 (Build 6.1.0-18-amd64)");
}

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

TEST_F(PageFlow, WindowMovesAreRecordedUnderTheirUserSettingsNamesOnceTheKeyIsOpen) {
    form.toolWindowMoved(Control::FFTWindow, 3, 4);  // while the window is being built
    EXPECT_TRUE(settings.values.empty());
    form.openUserSettingsKey();
    form.toolWindowMoved(Control::FFTWindow, 30, 40);
    form.toolWindowMoved(Control::SelectFrameswindow, 5, 6);
    form.toolWindowResized(Control::HintWindow, 300, 120);
    form.toolWindowMoved(Control::GammaWindow, 1, 2);  // not one of the recorded windows
    const std::map<std::pair<std::string, std::string>, std::string> stored = {
        {{"Toolwin", "FFTleft"}, "30"}, {{"Toolwin", "FFTTop"}, "40"},       {{"Toolwin", "Frameleft"}, "5"},
        {{"Toolwin", "FrameTop"}, "6"}, {{"Toolwin", "Hintwidth"}, "300"}, {{"Toolwin", "Hintheight"}, "120"}};
    EXPECT_EQ(settings.values, stored);
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
