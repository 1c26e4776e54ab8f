// The two settings stores and the "Form" section they share with projects.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/big_ini_file.h"
#include "app/control_table.h"
#include "app/form_state.h"
#include "app/ini_user_settings.h"
#include "app/settings_file.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

TEST(UserIni, ValuesSurviveARestartAndReachTheFileOnlyWhenFlushedKeepingAnotherWindowsValues) {
    TempDir dir;
    const std::string path = dir.file("config/planexor/user.ini");  // the folders do not exist yet
    const std::string awkward = "/data/night 1/a=b\\c\nsecond line\r[x]";
    IniUserSettings second(path);  // another window, open all along
    {
        IniUserSettings settings(path);
        int pendings = 0;
        settings.onPending([&] { ++pendings; });
        settings.writeString("Files", "Dir", awkward);
        for (int move = 0; move < 200; ++move) settings.writeInteger("Toolwin", "FFTTop", move % 2 ? -40 : 7);
        settings.writeBool("Settings", "usecolour", false);
        EXPECT_FALSE(fs::exists(path));  // a drag writes nothing until it rests
        settings.flush();
        EXPECT_TRUE(fs::exists(path));
        settings.writeString("Files", "Lasttype", "BMP");  // flushed when the store closes
        EXPECT_GT(pendings, 0);
    }
    second.writeString("Toolwin", "HintTop", "100");
    second.flush();
    IniUserSettings reread(path);
    EXPECT_EQ(reread.readString("Files", "Dir", "nonex"), awkward);
    EXPECT_EQ(reread.readInteger("Toolwin", "FFTTop", 0), -40);
    EXPECT_FALSE(reread.readBool("Settings", "usecolour", true));
    EXPECT_EQ(reread.readString("files", "LASTTYPE", "none"), "BMP");  // a registry key ignores case
    EXPECT_EQ(reread.readString("Toolwin", "HintTop", ""), "100");
    const std::string text = testing::readText(path);
    EXPECT_EQ(text.find("[Files]\r\n"), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("config/planexor")), fs::directory_iterator()), 1);
}

TEST(UserIni, DamagedFilesNeverFailAndTheNextWriteMakesAGoodFile) {
    TempDir dir;
    const std::string path = dir.file("user.ini");
    const std::string big(1 << 20, 'y');
    const std::pair<std::string, std::string> cases[] = {
        {std::string("[Files]\nDir=/x\n") + std::string(1, '\0') + "\x01\xff", "none"},
        {"[Files]\nLasttype=" + big + "\n", big},
        {"Dir=/x\n[Files\n=/x\njust some words\n", "none"},
        {"[Files]\nLasttype=JPG\n[files]\nLasttype=BMP\n", "JPG"},
    };
    for (const auto& [text, type] : cases) {
        testing::writeText(path, text);
        IniUserSettings settings(path);
        EXPECT_EQ(settings.readString("Files", "Lasttype", "none"), type) << text.substr(0, 20);
        settings.writeString("Files", "SaveDir", "/s");
    }
    EXPECT_EQ(IniUserSettings(path).readString("Files", "SaveDir", ""), "/s");
    fs::create_directory(dir.file("a-directory.ini"));
    EXPECT_FALSE(IniUserSettings(dir.file("a-directory.ini")).has("Files", "Dir"));
}

TEST(UserIni, AFileThatCannotBeWrittenIsReportedOnceAndTheSessionGoesOn) {
    TempDir dir;
    testing::writeText(dir.file("not-a-folder"), "x");  // not even root can make a folder here
    IniUserSettings settings(dir.file("not-a-folder/user.ini"));
    int reports = 0;
    settings.onWriteFailure([&](const std::string& text) {
        ++reports;
        EXPECT_NE(text.find("user.ini: its folder cannot be made (Not a directory)"), std::string::npos) << text;
    });
    settings.writeString("Files", "Dir", "/a");
    settings.flush();
    settings.writeString("Files", "Dir", "/b");
    settings.flush();
    EXPECT_EQ(settings.readString("Files", "Dir", ""), "/b");
    EXPECT_EQ(reports, 1);
}

TEST(UserIni, BothFilesLiveInTheUsersConfigurationDirectory) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(IniUserSettings::defaultPath(), "/tmp/xdg-test/planexor/user.ini");
    EXPECT_EQ(SettingsFile::defaultPath(), "/tmp/xdg-test/planexor/planexor.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // ignored, as the XDG rules say
    if (const char* home = std::getenv("HOME"); home && *home) {
        EXPECT_EQ(IniUserSettings::defaultPath(), std::string(home) + "/.config/planexor/user.ini");
        // Without HOME, the account's home: not /tmp, which every user shares.
        const std::string kept = home;
        ::unsetenv("HOME");
        const std::string withoutHome = IniUserSettings::defaultPath();
        ::setenv("HOME", kept.c_str(), 1);
        EXPECT_EQ(withoutHome.rfind(fs::temp_directory_path().string(), 0), std::string::npos) << withoutHome;
    }
    if (saved) ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
}

class FormState : public testing::FormTest {
protected:
    // Every stored property of `target` off its default, each by its own rule.
    static void setAllOffDefault(TMainForm& target) {
        for (const PersistedKey& key : persistedKeys()) {
            ControlModel& model = target.control(key.control);
            switch (key.property) {
                case StoredProperty::Checked: model.setChecked(!model.checked()); break;
                case StoredProperty::Expand: model.setExpanded(!model.expanded()); break;
                case StoredProperty::Visible: model.setVisible(!model.visible()); break;
                case StoredProperty::Left: model.setPosition(model.left() + 17, model.top()); break;
                case StoredProperty::Top: model.setPosition(model.left(), model.top() - 300); break;
                case StoredProperty::ItemIndex:
                    model.setItemIndex((model.itemIndex() + 1) % static_cast<int>(model.items().size()));
                    break;
                case StoredProperty::Value: {
                    // A step off the default, with a fraction where the spin shows one.
                    const double step = model.decimals() > 0 ? 0.2 : 1.0;
                    model.setValue(model.value() + (model.value() + step <= model.maximum() ? step : -step));
                    break;
                }
                case StoredProperty::None: break;
            }
        }
    }
    std::string settingsPath() const { return dir.file("planexor.ini"); }
};

// The options beyond the form keys live in a section of their own.
TEST_F(FormState, EveryStoredPropertySurvivesAWriteAndARestoreInTheStoredOrder) {
    form.control(Control::StackSlider).setRange(0, 40);  // a sequence is open
    setAllOffDefault(form);
    form.control(Control::Expandstack).setChecked(false);  // resampling and expanding exclude each other
    form.control(Control::Gamma1spin).setValue(1.2);
    form.control(Control::SubpixelBox).setChecked(true);
    form.control(Control::QualityMeasure).setItemIndex(1);
    form.control(Control::PointsSpin).setValue(-1);
    form.control(Control::LocalQualityBox).setChecked(true);
    SettingsFile file(settingsPath());
    ASSERT_TRUE(file.save(form));

    const TBigIniFile ini(settingsPath());
    std::vector<std::string> sections, keys;
    ini.ReadSections(sections);
    ini.ReadSection(FormSection, keys);
    EXPECT_EQ(sections, (std::vector<std::string>{"Form", "Extensions"}));
    ASSERT_EQ(keys.size(), persistedKeys().size() + 1);
    for (std::size_t i = 0; i < persistedKeys().size(); ++i) EXPECT_EQ(keys[i + 1], persistedKeys()[i].key());
    EXPECT_EQ(ini.ReadSectionPairs(ExtensionSection),
              (FormPairs{{"SubpixelBox_Checked", "True"},
                         {"QualityMeasure_ItemIndex", "1"},
                         {"PointsSpin_Value", "-1"},
                         {"LocalQualityBox_Checked", "True"}}));

    testing::ScriptedWindow other;
    TMainForm& restored = other.form;
    file.restore(restored);
    EXPECT_EQ(captureExtensionSection(restored), captureExtensionSection(form));
    const DeferredFormValues deferred = restoreFormSection(restored, ini);
    // The stack slider waits for a sequence to give it its range.
    EXPECT_EQ(deferred.stackSlider, form.control(Control::StackSlider).value());
    restored.control(Control::StackSlider).setRange(0, 40);
    restored.control(Control::StackSlider).setValue(*deferred.stackSlider);
    EXPECT_EQ(captureFormSection(restored), captureFormSection(form));

    // A file of the plain layout, or a bad value: the defaults, and nothing extra is written.
    testing::writeText(settingsPath(),
                       "[Form]\nFormVersion=0\n[Extensions]\nQualityMeasure_ItemIndex=5\nPointsSpin_Value=-2\n");
    file.restore(restored);
    EXPECT_FALSE(restored.control(Control::SubpixelBox).checked());
    EXPECT_EQ(restored.control(Control::QualityMeasure).itemIndex(), 0);
    EXPECT_EQ(restored.control(Control::PointsSpin).value(), 0);
    ASSERT_TRUE(file.save(restored));
    EXPECT_EQ(testing::readText(settingsPath()).find("Extensions"), std::string::npos);
}

TEST_F(FormState, ARestoreIsSilentAndBringsWhatFollowsFromTheValuesInLine) {
    std::vector<std::string> handlers;
    form.handlerTrace = [&](std::string_view name) { handlers.emplace_back(name); };
    restoreFormSection(form, FormPairs{{"Gamma1spin_Value", "2.5"}, {"AUTOPROCESSBOX_CHECKED", "True"},
                                       {"Resampled_Checked", "True"}, {"ResampleSpin_Value", "3,5"},
                                       {"Interlaced_Checked", "True"}, {"ShowFFTbox_Checked", "True"},
                                       {"Histowin_Checked", "True"}, {"ShowFramelist_Checked", "True"},
                                       {"Misalignwarning_Checked", "True"}, {"BlurBox_Checked", "True"},
                                       {"ContrastSlider_Value", "180"}});
    EXPECT_TRUE(handlers.empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(settings.values.empty());
    for (const ControlDefinition& desc : controlTable()) {
        if (desc.kind == ControlKind::ToolWindow) {
            EXPECT_FALSE(form.control(desc.id).visible()) << desc.name;
        }
    }
    GammaCurve expected;
    expected.build(2.5);
    EXPECT_EQ(form.GammaTable.values, expected.values);
    EXPECT_FALSE(form.control(Control::ProcessButton).visible());
    EXPECT_FLOAT_EQ(w.ResampleFactor, 3.5f);  // a "," decimal of another locale reads too
    EXPECT_EQ(form.control(Control::ContrastLabel).caption(), "C : 180");
    for (const Control id : {Control::SetMiddleButton, Control::DeInterlacepanel, Control::AlignOneBUtton, Control::Bias})
        EXPECT_TRUE(form.control(id).visible()) << controlName(id);
}

TEST_F(FormState, GarbageKeepsTheControlsAsTheyWereAndUnknownKeysVanishOnTheNextWrite) {
    testing::writeText(settingsPath(), "[Form]\nGamma1spin_Value=nan\nRxSlider3_Value=9999\nFFTsizeGroup_ItemIndex=7\n"
                                       "AutoOptimize_Checked=maybe\nOldControl_Checked=True\nFilters_ItemIndex=0x2\n"
                                       "FFTWindow_Left=12345678901\nFFTWindow_Top=-2147483648\nno equals sign\n[Other]\nx=1\n");
    SettingsFile file(settingsPath());
    file.restore(form);
    EXPECT_EQ(form.control(Control::Gamma1spin).value(), 1.0);
    EXPECT_EQ(form.control(Control::RxSlider3).value(), 10);
    EXPECT_EQ(form.control(Control::FFTsizeGroup).itemIndex(), 1);
    EXPECT_TRUE(form.control(Control::AutoOptimize).checked());
    EXPECT_EQ(form.control(Control::Filters).itemIndex(), 2);
    EXPECT_EQ(form.control(Control::FFTWindow).left(), definitionOf(Control::FFTWindow).left);
    EXPECT_EQ(form.control(Control::FFTWindow).top(), definitionOf(Control::FFTWindow).top);
    ASSERT_TRUE(file.save(form));
    const std::string text = testing::readText(settingsPath());
    EXPECT_EQ(text.find("OldControl"), std::string::npos);
    EXPECT_EQ(text.find("[Other]"), std::string::npos);
}

TEST_F(FormState, AFailedWriteKeepsWhatIsThereAndSaysSoOnce) {
    // A folder where the file should be: the rename over it fails.
    fs::create_directories(settingsPath());
    testing::writeText(settingsPath() + "/kept", "x");
    SettingsFile file(settingsPath());
    int reports = 0;
    file.onWriteFailure([&](const std::string&) { ++reports; });
    EXPECT_FALSE(file.save(form));
    EXPECT_FALSE(file.save(form));
    EXPECT_EQ(reports, 1);
    EXPECT_TRUE(fs::exists(settingsPath() + "/kept"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // A file there that cannot be read (too large) is never written over either,
    // by this store or the user's: the settings in it outlive the session.
    const std::string big = dir.file("big.ini");
    testing::writeText(big, "[Form]\nBias_Value=70\n");
    fs::resize_file(big, std::uintmax_t{300} << 20);
    const auto kept = [&](const std::string& text) { reports += text.find("kept as it is") != std::string::npos; };
    SettingsFile unreadable(big);
    unreadable.onWriteFailure(kept);
    unreadable.restore(form);
    EXPECT_FALSE(unreadable.save(form));
    {
        IniUserSettings user(big);
        user.onWriteFailure(kept);
        user.writeString("Form", "Bias_Value", "71");
        user.flush();
    }
    EXPECT_EQ(reports, 3);
    EXPECT_EQ(fs::file_size(big), std::uintmax_t{300} << 20);
}

}  // namespace
}  // namespace planexor
