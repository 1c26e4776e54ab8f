#include "app/rich_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_files.h"

namespace planexor {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeText;

const fs::path HelpSource = fs::path(PLANEXOR_SOURCE_DIR) / "data" / "help";

TEST(HelpPanels, EveryPageHasReadableHelpWithLists) {
    for (int page = 1; page <= HelpPanelCount; ++page) {
        const RichDocument panel = loadHelpPanel({HelpSource}, page);
        EXPECT_GT(panel.paragraphs.size(), 5u) << page;
        int items = 0;
        for (const RichParagraph& paragraph : panel.paragraphs) items += paragraph.listItem;
        EXPECT_GT(items, 3) << page;
        const std::string text = panel.text();
        EXPECT_EQ(text.find_first_of("\\{}"), std::string::npos) << page << ": markup shows in\n" << text;
    }
}

TEST(HelpPanels, FoundWithoutRegardToCaseAndMissingOnesNamed) {
    TempDir first, second;
    writeText(second.file("PANEL3.RTF"), "{\\rtf1 three}");
    writeText(first.file("panel3.rtf.bak"), "{\\rtf1 backup}");
    const std::vector<fs::path> directories = {first.path(), second.path()};
    EXPECT_EQ(findFileIgnoringCase(directories, "Panel3.rtf"), fs::path(second.file("PANEL3.RTF")));

    writeText(first.file("panel3.rtf"), "{\\rtf1 first}");
    EXPECT_EQ(loadHelpPanel(directories, 3).text(), "first");  // directories are searched in order
    EXPECT_EQ(findFileIgnoringCase({fs::relative(first.path())}, "panel3.rtf"), std::nullopt);
    EXPECT_EQ(testing::errorOf([&] { loadHelpPanel(directories, 4); }), "helpfile panel4.rtf not found");
    EXPECT_EQ(installedHelpDirectory("/opt/planexor/bin/planexor"), fs::path("/opt/planexor/share/planexor/help"));
}

TEST(RichText, ShowsTheTextOfWellFormedAndDamagedInput) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"{\\rtf1 Hello \\b bold\\b0  world\\par second}", "Hello bold world\nsecond"},
        {"{\\rtf1 a\\\\b\\{c\\}d\\'e9\\'80\\u8364?x\\uc0\\u233 e\\uc1\\u233e}", "a\\b{c}d\xC3\xA9\xE2\x82\xAC\xE2\x82\xAC"
                                                                            "x\xC3\xA9" "e\xC3\xA9"},
        {"{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red0\\green0\\blue0;}{\\*\\generator W 10;}"
         "{\\info{\\title T}}{\\pict\\pngblip 8950}{\\*\\unknown{\\nested x}}Text\\par}",
         "Text"},
        {"{\\rtf1{\\field{\\*\\fldinst HYPERLINK \"x\"}{\\fldrslt shown}}\\tab\\line end}", "shown\t\nend"},
        {"{\\rtf1\\u-10179?\\u-8704?|\\u-10179?lone}", "\xF0\x9F\x98\x80|\xEF\xBF\xBDlone"},
        {"{\\rtf1 {\\b open", "open"},
        {"}}}text{", "text"},
        {"{\\rtf1 keep\\bin4 {{{{tail}", "keeptail"},
        {"{\\rtf1\\fs99999999999999999999 big\\u99999999999 x\\b-99999999999999 y}", "big\xEF\xBF\xBDy"},  // x: the escape's fallback
        {"abc\\'4", "abc"},
        {"abc\\'", "abc"},
        {"abc\\", "abc"},
        {"{\\rtf1 x\\u", "x"},
        {std::string(100000, '{') + "deep" + std::string(3, '}'), "deep"},
        {"{\\rtf1" + std::string(300, '{') + "{\\*\\hidden gone}shown" + std::string(400, '}') + " after", "shown after"},
    };
    for (const auto& [rtf, text] : cases) EXPECT_EQ(parseRtf(rtf).text(), text) << rtf.substr(0, 80);
}

TEST(RichText, KeepsRunFormatsAndListItems) {
    const RichDocument document = parseRtf(
        "{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\*\\listoverridetable{\\listoverride\\ls1}}"
        "\\fs32 Big {\\b\\i both} plain\\par"
        "\\pard{\\pntext\\'95\\tab}{\\*\\pn\\pnlvlblt{\\pntxtb\\'95}}item one\\par item two\\par"
        "\\pard\\plain after {\\b\\fs0 b}\\par"
        "\\pard\\ls2\\ilvl0 {\\listtext\\'b7\\tab}word item\\par\\pard "
        // Formatting in groups nested too deep to undo is ignored, and their ends leave the real groups be.
        "{\\b " + std::string(300, '{') + "\\b0 a" + std::string(300, '}') + "b}c}");
    const std::vector<RichParagraph> expected = {
        {{{"Big ", false, false, 32}, {"both", true, true, 32}, {" plain", false, false, 32}}, false},
        {{{"item one", false, false, 32}}, true},
        {{{"item two", false, false, 32}}, true},
        {{{"after ", false, false, 24}, {"b", true, false, 24}}, false},
        {{{"word item", false, false, 24}}, true},
        {{{"ab", true, false, 24}, {"c", false, false, 24}}, false},
    };
    EXPECT_EQ(document.paragraphs, expected);
}

}  // namespace
}  // namespace planexor
