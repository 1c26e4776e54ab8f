#include "app/rich_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <system_error>

#include "core/error.h"
#include "core/file_io.h"

namespace planexor {

namespace {

constexpr int MaxGroupDepth = 128;
constexpr int MaxWordLength = 32;
constexpr long MaxParameter = 1'000'000'000;
constexpr int DefaultHalfPoints = 24;
constexpr std::size_t MaxHelpFileSize = 32u << 20;
constexpr char32_t Replacement = 0xFFFD;

// Destinations whose contents are never text for the reader.
constexpr std::array<std::string_view, 28> SkippedDestinations = {
    "fonttbl",  "colortbl", "stylesheet", "info",     "pict",     "object",      "header",
    "headerl",  "headerr",  "headerf",    "footer",   "footerl",  "footerr",     "footerf",
    "footnote", "pntext",   "listtext",   "fldinst",  "listtable", "listoverridetable",
    "filetbl",  "revtbl",   "rsidtbl",    "xmlnstbl", "nonshppict", "themedata", "datastore",
    "latentstyles",
};

// Code page 1252's characters 0x80..0x9F; 0 where the code page has none.
constexpr std::array<char16_t, 32> Windows1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

char32_t fromWindows1252(unsigned char byte) {
    if (byte < 0x80 || byte > 0x9F) return byte;
    const char16_t mapped = Windows1252High[byte - 0x80];
    return mapped != 0 ? mapped : Replacement;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = Replacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
int hexValue(char c) {
    if (isDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// What a group saves and its closing brace restores.
struct GroupState {
    bool bold = false;
    bool italic = false;
    int halfPoints = DefaultHalfPoints;
    int unicodeSkip = 1;  // fallback characters that follow a \u
    bool skipping = false;
};

// One pass over the text with an explicit group stack: no recursion, so no
// nesting can exhaust the call stack. Groups nested beyond MaxGroupDepth are
// read as part of their enclosing group.
class RtfReader {
public:
    explicit RtfReader(std::string_view in) : in_(in) {}

    RichDocument read() {
        while (position_ < in_.size()) {
            const char c = in_[position_++];
            switch (c) {
            case '{': openGroup(); break;
            case '}': closeGroup(); break;
            case '\\': controlSequence(); break;
            case '\r':
            case '\n':
            case '\0': break;
            default: character(fromWindows1252(static_cast<unsigned char>(c)));
            }
        }
        if (!paragraph_.runs.empty()) endParagraph();
        return std::move(document_);
    }

private:
    void openGroup() {
        fallbackLeft_ = 0;
        if (stack_.size() >= MaxGroupDepth) {
            ++overflowDepth_;
            return;
        }
        stack_.push_back(state_);
    }

    void closeGroup() {
        fallbackLeft_ = 0;
        if (overflowDepth_ > 0) {
            if (overflowSkipFrom_ == overflowDepth_) {
                state_.skipping = false;
                overflowSkipFrom_ = 0;
            }
            --overflowDepth_;
            return;
        }
        if (stack_.empty()) return;  // a stray closing brace
        state_ = stack_.back();
        stack_.pop_back();
    }

    void startSkipping() {
        if (state_.skipping) return;
        state_.skipping = true;
        if (overflowDepth_ > 0) overflowSkipFrom_ = overflowDepth_;
    }

    // Formatting in an overflowed group could not be undone at its end, so it is ignored there.
    bool canFormat() const { return overflowDepth_ == 0; }

    void controlSequence() {
        if (position_ >= in_.size()) return;
        const char c = in_[position_];
        if (isLetter(c)) {
            controlWord();
            return;
        }
        ++position_;
        switch (c) {
        case '\\':
        case '{':
        case '}': character(static_cast<unsigned char>(c)); break;
        case '\'': hexEscape(); break;
        case '*': startSkipping(); break;
        case '~': character(0x00A0); break;
        case '_': character('-'); break;
        case '\r':
        case '\n': paragraphBreak(); break;
        default: break;  // optional hyphen, index and formula symbols
        }
    }

    void hexEscape() {
        int value = 0;
        for (int digit = 0; digit < 2; ++digit) {
            const int v = position_ < in_.size() ? hexValue(in_[position_]) : -1;
            if (v < 0) return;  // cut off: nothing shown
            value = value * 16 + v;
            ++position_;
        }
        character(fromWindows1252(static_cast<unsigned char>(value)));
    }

    void controlWord() {
        const std::size_t start = position_;
        while (position_ < in_.size() && isLetter(in_[position_])) ++position_;
        const std::string_view word = in_.substr(start, std::min<std::size_t>(position_ - start, MaxWordLength));
        bool negative = false, hasParameter = false;
        long parameter = 0;
        if (position_ < in_.size() && in_[position_] == '-' && position_ + 1 < in_.size() &&
            isDigit(in_[position_ + 1])) {
            negative = true;
            ++position_;
        }
        while (position_ < in_.size() && isDigit(in_[position_])) {
            hasParameter = true;
            parameter = std::min(MaxParameter, parameter * 10 + (in_[position_] - '0'));
            ++position_;
        }
        if (negative) parameter = -parameter;
        if (position_ < in_.size() && in_[position_] == ' ') ++position_;
        apply(word, hasParameter, parameter);
    }

    void apply(std::string_view word, bool hasParameter, long parameter) {
        if (word == "bin") {  // raw bytes follow; braces among them are data
            position_ += static_cast<std::size_t>(std::clamp<long>(parameter, 0, static_cast<long>(in_.size() - position_)));
            return;
        }
        if (word == "pn") listItem_ = true;  // the list description of a bullet or numbered item
        if (std::find(SkippedDestinations.begin(), SkippedDestinations.end(), word) != SkippedDestinations.end())
            startSkipping();
        if (state_.skipping) return;
        if (word != "u") fallbackLeft_ = 0;

        const bool on = !hasParameter || parameter != 0;
        if (word == "par" || word == "sect" || word == "page" || word == "row") paragraphBreak();
        else if (word == "line") text(U'\n');
        else if (word == "tab" || word == "cell") text(U'\t');
        else if (word == "pard") listItem_ = false;
        else if (word == "ls") listItem_ = parameter > 0;
        else if (word == "u" && hasParameter) unicode(parameter);
        else if (word == "bullet") text(0x2022);
        else if (word == "emdash") text(0x2014);
        else if (word == "endash") text(0x2013);
        else if (word == "lquote") text(0x2018);
        else if (word == "rquote") text(0x2019);
        else if (word == "ldblquote") text(0x201C);
        else if (word == "rdblquote") text(0x201D);
        else if (!canFormat()) return;
        else if (word == "plain") state_ = {false, false, DefaultHalfPoints, state_.unicodeSkip, false};
        else if (word == "b") state_.bold = on;
        else if (word == "i") state_.italic = on;
        else if (word == "fs") state_.halfPoints = parameter > 0 ? std::clamp<long>(parameter, 2, 400) : DefaultHalfPoints;
        else if (word == "uc") state_.unicodeSkip = static_cast<int>(std::clamp<long>(parameter, 0, 8));
    }

    void unicode(long parameter) {
        // Values above 32767 are written as negative 16-bit numbers.
        long code = parameter < 0 ? parameter + 65536 : parameter;
        if (code < 0 || code > 0xFFFF) code = Replacement;
        const auto unit = static_cast<char32_t>(code);
        if (unit >= 0xDC00 && unit <= 0xDFFF && highSurrogate_ != 0) {
            const char32_t combined = 0x10000 + ((highSurrogate_ - 0xD800) << 10) + (unit - 0xDC00);
            highSurrogate_ = 0;
            text(combined);
        } else if (unit >= 0xD800 && unit <= 0xDBFF) {
            flushSurrogate();
            highSurrogate_ = unit;
        } else if (unit >= 0x20) {
            text(unit);
        }
        fallbackLeft_ = state_.unicodeSkip;
    }

    void character(char32_t c) {
        if (state_.skipping) return;
        if (fallbackLeft_ > 0) {
            --fallbackLeft_;
            return;
        }
        if (c < 0x20) return;
        text(c);
    }

    void flushSurrogate() {
        if (highSurrogate_ == 0) return;
        highSurrogate_ = 0;
        text(Replacement);
    }

    void text(char32_t c) {
        if (state_.skipping) return;
        if (highSurrogate_ != 0 && !(c >= 0x10000)) flushSurrogate();
        std::vector<TextRun>& runs = paragraph_.runs;
        if (runs.empty() || runs.back().bold != state_.bold || runs.back().italic != state_.italic ||
            runs.back().halfPoints != state_.halfPoints)
            runs.push_back({"", state_.bold, state_.italic, state_.halfPoints});
        appendUtf8(runs.back().text, c);
    }

    void paragraphBreak() {
        if (!state_.skipping) endParagraph();
    }

    void endParagraph() {
        flushSurrogate();
        paragraph_.listItem = listItem_;
        document_.paragraphs.push_back(std::move(paragraph_));
        paragraph_ = {};
    }

    std::string_view in_;
    std::size_t position_ = 0;
    GroupState state_;
    std::vector<GroupState> stack_;
    int overflowDepth_ = 0;
    int overflowSkipFrom_ = 0;
    int fallbackLeft_ = 0;
    char32_t highSurrogate_ = 0;
    bool listItem_ = false;  // a paragraph property: kept from paragraph to paragraph until \pard
    RichParagraph paragraph_;
    RichDocument document_;
};

std::string lowerAscii(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

}  // namespace

std::string RichParagraph::text() const {
    std::string joined;
    for (const TextRun& run : runs) joined += run.text;
    return joined;
}

std::string RichDocument::text() const {
    std::string joined;
    for (std::size_t i = 0; i < paragraphs.size(); ++i) {
        if (i > 0) joined += '\n';
        joined += paragraphs[i].text();
    }
    return joined;
}

RichDocument parseRtf(std::string_view rtf) { return RtfReader(rtf).read(); }

std::string helpPanelFileName(int page) { return "Panel" + std::to_string(page) + ".rtf"; }

std::string helpPanelMissingMessage(int page) { return "helpfile panel" + std::to_string(page) + ".rtf not found"; }

std::filesystem::path installedHelpDirectory(const std::filesystem::path& programFile) {
    return programFile.parent_path().parent_path() / "share" / "planexor" / "help";
}

std::optional<std::filesystem::path> findFileIgnoringCase(const std::vector<std::filesystem::path>& directories,
                                                          std::string_view name) {
    const std::string wanted = lowerAscii(name);
    for (const std::filesystem::path& directory : directories) {
        if (!directory.is_absolute()) continue;
        std::error_code error;
        std::optional<std::filesystem::path> found;
        for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
            const std::string entry = it->path().filename().string();
            if (lowerAscii(entry) != wanted || !it->is_regular_file(error)) continue;
            // Several spellings of one name: the exact one, else the first in byte order.
            if (entry == name) return it->path();
            if (!found || entry < found->filename().string()) found = it->path();
        }
        if (found) return found;
    }
    return std::nullopt;
}

RichDocument loadHelpPanel(const std::vector<std::filesystem::path>& directories, int page) {
    const std::optional<std::filesystem::path> file = findFileIgnoringCase(directories, helpPanelFileName(page));
    if (!file) throw PlanexorError(helpPanelMissingMessage(page));
    const std::vector<std::uint8_t> bytes = readWholeFile(file->string(), MaxHelpFileSize);
    return parseRtf(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace planexor
