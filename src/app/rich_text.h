#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace planexor {

// The help panels are rich text. The reader knows paragraphs, bold, italic,
// font sizes, bullet items and the text escapes; everything else a word
// processor writes (font and colour tables, pictures, starred destinations,
// unknown control words) is skipped, so its text still shows.

struct TextRun {
    std::string text;     // UTF-8; "\n" is a line break and "\t" a tab inside the paragraph
    bool bold = false;
    bool italic = false;
    int halfPoints = 24;  // font size in half points
    bool operator==(const TextRun&) const = default;
};

struct RichParagraph {
    std::vector<TextRun> runs;
    bool listItem = false;
    std::string text() const;
    bool operator==(const RichParagraph&) const = default;
};

struct RichDocument {
    std::vector<RichParagraph> paragraphs;
    std::string text() const;  // paragraphs joined by "\n"
    bool operator==(const RichDocument&) const = default;
};

// Never fails: damaged input (unbalanced braces, deep nesting, huge numbers,
// cut-off escapes) gives the text that can be recovered.
RichDocument parseRtf(std::string_view rtf);

// Help panel of page 1..5: "Panel1.rtf" .. "Panel5.rtf", and the message
// shown when it is missing.
inline constexpr int HelpPanelCount = 5;
std::string helpPanelFileName(int page);
std::string helpPanelMissingMessage(int page);

// Where an installed program keeps its help panels: <prefix>/share/planexor/help
// for the program file <prefix>/bin/planexor.
std::filesystem::path installedHelpDirectory(const std::filesystem::path& programFile);

// The first file called `name`, without regard to case, in the directories
// in the order given. Relative directories are passed over, so a panel is
// never picked up from wherever the program happened to be started.
std::optional<std::filesystem::path> findFileIgnoringCase(const std::vector<std::filesystem::path>& directories,
                                                          std::string_view name);

// The panel of page 1..5 from the first directory holding it. PlanexorError
// with helpPanelMissingMessage(page) when none does, or naming the file when
// it cannot be read.
RichDocument loadHelpPanel(const std::vector<std::filesystem::path>& directories, int page);

}  // namespace planexor
