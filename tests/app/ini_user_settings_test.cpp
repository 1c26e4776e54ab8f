#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/ini_user_settings.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

TEST(IniUserSettings, ValuesSurviveARestartWhateverBytesTheyHold) {
    TempDir dir;
    const std::string path = dir.file("config/planexor/planexor-user.ini");  // the folders do not exist yet
    const std::string awkward = "/data/night 1/a=b\\c\nsecond line\r[x]";
    {
        IniUserSettings settings(path);
        settings.writeString("Files", "Dir", awkward);
        settings.writeInteger("Toolwin", "FFTTop", -40);
        settings.writeBool("Settings", "usecolour", false);
        settings.writeString("Files", "Lasttype", "BMP");
        EXPECT_TRUE(settings.lastError().empty());
    }
    IniUserSettings reread(path);
    EXPECT_EQ(reread.readString("Files", "Dir", "nonex"), awkward);
    EXPECT_EQ(reread.readInteger("Toolwin", "FFTTop", 0), -40);
    EXPECT_FALSE(reread.readBool("Settings", "usecolour", true));
    EXPECT_EQ(reread.readString("files", "LASTTYPE", "none"), "BMP");  // a registry key ignores case
    EXPECT_EQ(reread.readString("Files", "SaveDir", "nonex"), "nonex");
    EXPECT_FALSE(reread.has("Toolwin", "FFTleft"));

    // Sections stay together however the writes were interleaved, and no
    // temporary file is left beside the settings.
    const std::string text = testing::readText(path);
    EXPECT_EQ(text.find("[Files]"), 0u);
    EXPECT_LT(text.find("Lasttype="), text.find("[Toolwin]"));
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("config/planexor"))) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 1);
}

TEST(IniUserSettings, GarbledOrForeignFilesReadAsEmptyAndAreReplacedOnTheNextWrite) {
    TempDir dir;
    const std::string path = dir.file("planexor-user.ini");
    const std::string garbage[] = {
        std::string("[Files]\nDir=/x\n") + std::string(1, '\0') + "\x01",  // binary bytes
        "Dir=/x\n[Files]\n",                           // a key before any section
        "[Files\nDir=/x\n",                            // an unclosed header
        "[Files]\njust some words\n",                  // a line that is no key
        "[Files]\n=/x\n",                              // a value without a key
    };
    for (const std::string& text : garbage) {
        testing::writeText(path, text);
        IniUserSettings settings(path);
        EXPECT_FALSE(settings.has("Files", "Dir")) << text;
        settings.writeString("Files", "Lasttype", "AVI");
        EXPECT_EQ(IniUserSettings(path).readString("Files", "Lasttype", ""), "AVI");
    }
    std::filesystem::create_directory(dir.file("a-directory.ini"));
    EXPECT_FALSE(IniUserSettings(dir.file("a-directory.ini")).has("Files", "Dir"));
}

TEST(IniUserSettings, HandWrittenFilesAreRead) {
    const auto entries = IniUserSettings::parse("; comment\r\n[ Files ]\r\n  Dir = /home/me/ \r\n\r\n[Toolwin]\nHintTop=5\nhinttop=9\n");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].section, "Files");
    EXPECT_EQ(entries[0].key, "Dir");
    EXPECT_EQ(entries[0].value, " /home/me/ ");  // a value keeps its spaces: a path may end in one
    EXPECT_EQ(entries[1].value, "5");            // the first of two equal keys holds
}

TEST(IniUserSettings, AFileThatCannotBeWrittenKeepsTheSessionGoingAndIsReportedOnce) {
    TempDir dir;
    testing::writeText(dir.file("not-a-folder"), "x");  // not even root can make a folder here
    IniUserSettings settings(dir.file("not-a-folder/planexor-user.ini"));
    int reports = 0;
    settings.onWriteFailure([&](const std::string& text) {
        ++reports;
        EXPECT_NE(text.find("planexor-user.ini"), std::string::npos);
    });
    settings.writeString("Files", "Dir", "/a");
    settings.writeString("Files", "Dir", "/b");
    EXPECT_EQ(settings.readString("Files", "Dir", ""), "/b");
    EXPECT_FALSE(settings.lastError().empty());
    EXPECT_EQ(reports, 1);
}

TEST(IniUserSettings, DefaultPathFollowsXdgConfigHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string restore = saved ? saved : "";
    ::setenv("XDG_CONFIG_HOME", "/tmp/xdg-test", 1);
    EXPECT_EQ(IniUserSettings::defaultPath(), "/tmp/xdg-test/planexor/planexor-user.ini");
    ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // ignored, as the XDG rules say
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (!home.empty()) {
        EXPECT_EQ(IniUserSettings::defaultPath(), home + "/.config/planexor/planexor-user.ini");
    }
    if (saved) ::setenv("XDG_CONFIG_HOME", restore.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace planexor
