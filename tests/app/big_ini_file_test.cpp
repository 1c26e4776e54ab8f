#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "app/big_ini_file.h"
#include "core/error.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::readText;
using testing::TempDir;
using testing::writeText;

TEST(BigIniFile, ValuesReadInTheirFormsWhateverTheLineEnds) {
    TempDir dir;
    const std::string path = dir.file("values.ini");
    writeText(path, "[V]\nhex=0x1F\nHEX2=0X1f\nneg=-7\nabc=abc\ntail=12abc\nbig=99999999999\nblank= 5 \r\n"
                    "two=2\rcomma=1,5\npoint=0.25\nnan=nan\ninf=inf\nhuge=1e999\nnoequals\n");
    const TBigIniFile ini(path);
    const struct { const char* key; int integer; bool flag; double decimal; } cases[] = {
        {"hex", 31, true, -1}, {"hex2", 31, true, -1}, {"neg", -7, true, -7}, {"abc", -1, false, -1},
        {"tail", -1, false, -1}, {"big", -1, false, 99999999999.0}, {"blank", 5, true, 5}, {"two", 2, true, 2},
        {"comma", -1, false, 1.5}, {"point", -1, false, 0.25}, {"nan", -1, false, -1}, {"inf", -1, false, -1},
        {"huge", -1, false, -1}, {"noequals", -1, false, -1}, {"missing", -1, false, -1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(ini.ReadInteger("v", c.key, -1), c.integer);
        EXPECT_EQ(ini.ReadBool("V", c.key, false), c.flag);
        EXPECT_EQ(ini.ReadFloat("V", c.key, -1.0), c.decimal);
    }
}

// Under a decimal comma too: the file's numbers never follow the user's locale.
TEST(BigIniFile, NumbersReadBackExactlyInTheShortestCFormWhateverTheLocale) {
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"));
    std::mt19937 random(7);
    TBigIniFile ini;
    for (int i = 0; i < 20000; ++i) {
        const float single = std::bit_cast<float>(static_cast<std::uint32_t>(random()));
        const double wide = std::bit_cast<double>((std::uint64_t(random()) << 32) | random());
        if (!std::isfinite(single) || !std::isfinite(wide)) continue;
        ini.WriteFloat("N", "f", single);
        ini.WriteFloat("N", "d", wide);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(ini.ReadFloat("N", "f", 0.0f)), std::bit_cast<std::uint32_t>(single));
        ASSERT_EQ(std::bit_cast<std::uint64_t>(ini.ReadFloat("N", "d", 0.0)), std::bit_cast<std::uint64_t>(wide));
    }
    ini.WriteFloat("N", "f", 1.2f);
    ini.WriteFloat("N", "d", 1.2);
    EXPECT_EQ(ini.ReadString("N", "f", ""), "1.2");
    EXPECT_EQ(ini.ReadString("N", "d", ""), "1.2");
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_THROW(ini.WriteFloat("N", "q", std::nanf("")), PlanexorError);
    EXPECT_EQ(ini.ReadString("N", "q", "none"), "none");
}

TEST(BigIniFile, RewritesOnlyOnChangeAndKeepsTheFileAsRead) {
    TempDir dir;
    const std::string path = dir.file("p.pxp");
    const std::string longPath = "/data/" + std::string(300, 'x') + "/jupiter.avi";
    writeText(path, "stray=before any section\n[IShifts]\nXa0=1\n[Input]\nfiledir=" + longPath +
                        "\nno equals sign\n[input]\nlost=1\n[Ishifts]\nYa0=2\n[Empty]\nk=v\nK=w\n");
    TBigIniFile ini(path);
    EXPECT_FALSE(ini.HasChanged());  // the dropped duplicates alone are no change
    ini.WriteSectionPairs("input", {{"filedir", longPath}});
    EXPECT_EQ(ini.ReadSectionPairs("EMPTY"), (std::vector<std::pair<std::string, std::string>>{{"k", "v"}}));
    ini.UpdateFile();
    EXPECT_NE(readText(path).find("stray"), std::string::npos);  // unchanged: not rewritten

    ini.WriteString("Ishifts", "Ya0", "2");
    ini.DeleteKey("empty", "K");
    ini.DeleteKey("Empty", "k");
    ini.DeleteKey("Nowhere", "k");
    ASSERT_TRUE(ini.HasChanged());
    ini.UpdateFile();

    // The destructor never writes; a failed write keeps everything for another try.
    {
        TBigIniFile dropped(path);
        dropped.WriteString("Input", "progstatus", "4");
    }
    EXPECT_EQ(TBigIniFile(path).ReadString("Input", "progstatus", "none"), "none");
    ini.SetFileName(dir.file("gone/p.pxp"));
    ini.WriteString("Input", "progstatus", "4");
    EXPECT_THROW(ini.UpdateFile(), PlanexorError);
    EXPECT_TRUE(ini.HasChanged());
    std::filesystem::create_directory(dir.file("gone"));
    ini.UpdateFile();
    EXPECT_EQ(readText(dir.file("gone/p.pxp")), "[Input]\r\nprogstatus=4\r\n\r\n");

    // Merging a file adds its new sections as a change, never its duplicates.
    ini.MergeFile(path);
    EXPECT_TRUE(ini.HasChanged());
    EXPECT_EQ(ini.ReadString("input", "progstatus", ""), "4");
    EXPECT_EQ(ini.ReadString("ISHIFTS", "xa0", ""), "1");
    EXPECT_EQ(ini.ReadString("Input", "filedir", "none"), "none");
}

TEST(BigIniFile, BadInputIsReadOrRefusedWithoutHarm) {
    TempDir dir;
    const std::string big = dir.file("big.ini");
    writeText(big, "[Big]\nline=" + std::string(50 << 20, 'y') + "\n[Tail]\nk=" + std::string("\0\x01\xff", 3));
    TBigIniFile ini(big);
    EXPECT_EQ(ini.ReadString("Big", "line", "").size(), std::size_t(50) << 20);
    EXPECT_EQ(ini.ReadString("Tail", "k", ""), std::string("\0\x01\xff", 3));

    std::filesystem::resize_file(big, std::uintmax_t(1) << 30);  // sparse: no disk used
    EXPECT_THROW(TBigIniFile{big}, PlanexorError);
    EXPECT_THROW(TBigIniFile{dir.path()}, PlanexorError);
    ASSERT_EQ(::mkfifo(dir.file("pipe.ini").c_str(), 0600), 0);
    EXPECT_THROW(TBigIniFile{dir.file("pipe.ini")}, PlanexorError);  // a read would wait for a writer for ever

    const struct { const char *section, *key, *value; } unstorable[] = {
        {"Tail", "a\nb", "1"}, {"Tail", "a", "1\r\n[Input]"}, {"Tail", "a=b", "1"}, {"Tail", "[a", "b]"},
        {"A\n", "k", "v"}};
    for (const auto& c : unstorable) EXPECT_THROW(ini.WriteString(c.section, c.key, c.value), PlanexorError) << c.key;
    EXPECT_EQ(ini.ReadSectionPairs("Tail").size(), 1u);
}

// The plain first-match INI the indexed one must agree with, byte for byte.
struct LinearIni {
    std::vector<std::pair<std::string, std::vector<std::string>>> sections;

    static bool same(std::string_view a, std::string_view b) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
        return std::ranges::equal(a, b, {}, lower, lower);
    }
    std::vector<std::string>* section(std::string_view name, bool create) {
        for (auto& s : sections)
            if (same(s.first, name)) return &s.second;
        return create ? &sections.emplace_back(std::string(name), std::vector<std::string>{}).second : nullptr;
    }
    static std::optional<std::size_t> line(const std::vector<std::string>& lines, std::string_view key) {
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find('=') != std::string::npos && same(lines[i].substr(0, lines[i].find('=')), key)) return i;
        return std::nullopt;
    }
    void parse(const std::string& text) {
        std::vector<std::string>* current = nullptr;
        for (std::size_t start = 0, end = 0; start <= text.size(); start = end + 1) {
            end = std::min(text.find_first_of("\r\n", start), text.size());
            const std::string line = text.substr(start, end - start);
            if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
                const std::string name = line.substr(1, line.size() - 2);
                current = section(name, false) ? nullptr : section(name, true);
            } else if (current && !line.empty() && line != "\x1a") current->push_back(line);
        }
    }
    std::string text() const {
        std::string out;
        for (const auto& [name, lines] : sections) {
            if (lines.empty()) continue;
            out += "[" + name + "]\r\n";
            for (const std::string& line : lines) out += line + "\r\n";
            out += "\r\n";
        }
        return out;
    }
};

TEST(BigIniFile, AgreesWithAPlainFirstMatchSearchUnderRandomEdits) {
    TempDir dir;
    std::mt19937 random(1234);
    const std::vector<std::string> sectionNames = {"Input", "INPUT", "Shifts", "IShifts", "Ishifts", "Form", ""};
    const std::vector<std::string> oneSection = {"Input", "INPUT"};
    const std::vector<std::string> values = {"", "0", "1", "x=y", "C:\\seq", "\x01\x7f"};
    const auto pick = [&](const auto& list) { return list[random() % list.size()]; };
    const std::vector<std::string> endings = {"\r\n", "\n", "\r"}, oddKeys = {"K1", "Ex1", "eX1", ""};
    const auto key = [&] { return random() % 3 ? "k" + std::to_string(random() % 40) : pick(oddKeys); };

    for (int run = 0; run < 60; ++run) {
        std::string text;
        for (int i = random() % 120; i > 0; --i) {
            const int kind = random() % 8;  // headers, binary lines without a key, end-of-file marks, keys
            text += (kind == 0 ? "[" + pick(sectionNames) + "]" : kind == 1 ? std::string("junk\x1a\0z", 7)
                     : kind == 2 ? "\x1a" : key() + "=" + pick(values)) + pick(endings);
        }
        const std::string path = dir.file("r" + std::to_string(run) + ".ini");
        writeText(path, text);
        TBigIniFile ini(path);
        LinearIni reference;
        reference.parse(text);
        for (int step = 0; step < 300; ++step) {
            // Every other run stays in one section, so deleted lines pile up there.
            const std::string section = pick(run % 2 ? oneSection : sectionNames), k = key(), value = pick(values);
            switch (const int op = random() % 12; op < 4 ? 0 : op == 4 && run % 2 == 0 ? 1 : 2) {
            case 0:
                ini.DeleteKey(section, k);
                if (auto* lines = reference.section(section, true); auto found = LinearIni::line(*lines, k))
                    lines->erase(lines->begin() + static_cast<std::ptrdiff_t>(*found));
                break;
            case 1:
                ini.EraseSection(section);
                std::erase_if(reference.sections, [&](const auto& s) { return LinearIni::same(s.first, section); });
                break;
            default:
                if (k.empty()) break;
                ini.WriteString(section, k, value);
                auto* lines = reference.section(section, true);
                if (auto found = LinearIni::line(*lines, k)) (*lines)[*found] = k + "=" + value;
                else lines->push_back(k + "=" + value);
            }
            const std::string probe = key();
            const auto* lines = reference.section(section, false);
            const auto found = lines ? LinearIni::line(*lines, probe) : std::nullopt;
            ASSERT_EQ(ini.ReadString(section, probe, "<none>"),
                      found ? (*lines)[*found].substr((*lines)[*found].find('=') + 1) : "<none>");
        }
        std::vector<std::string> names, referenceNames;
        ini.ReadSections(names);
        for (const auto& s : reference.sections) referenceNames.push_back(s.first);
        ASSERT_EQ(names, referenceNames);
        ini.WriteString("Input", "done", "1");
        reference.section("Input", true)->push_back("done=1");
        ini.UpdateFile();
        ASSERT_EQ(readText(path), reference.text()) << "run " << run;
    }
}

}  // namespace
}  // namespace planexor
