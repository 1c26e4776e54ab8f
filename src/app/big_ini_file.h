#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace planexor {

// Number forms of our INI files. Numbers are always written in the "C"
// format, in the shortest text that reads back to the same value ("1.2",
// never "1.19999999999999996"); decimals read with "." or "," so that files
// written under a "," locale still open. "nan" and "inf" are no numbers.
std::string shortestDecimalText(double value);
std::string shortestDecimalText(float value);
std::optional<double> parseDouble(std::string_view text);
std::optional<float> parseFloat(std::string_view text);
// Decimal with an optional minus sign, or hexadecimal after "0x"/"0X"; a text
// that is not a 32-bit integer gives nothing.
std::optional<int> parseInteger(std::string_view text);

// An INI file held in memory as sections of lines, read whole when opened and
// written whole by UpdateFile, only when something changed. Section and key
// names match without regard to ASCII case; a key is found by the first line
// of its section whose text before the first "=" equals it. Each section
// keeps an index of its keys, so reading or writing thousands of keys in one
// section takes linear time overall.
//
// Writing is always an explicit call (UpdateFile) whose failure throws
// PlanexorError with the content kept in memory; the destructor never writes.
class TBigIniFile {
public:
    // Reads fileName. A missing file gives empty content; an empty name reads
    // and writes nothing; an existing file that cannot be read (a folder, no
    // permission, absurdly large) throws PlanexorError.
    explicit TBigIniFile(std::string fileName = {});
    TBigIniFile(const TBigIniFile&) = delete;
    TBigIniFile& operator=(const TBigIniFile&) = delete;

    const std::string& FileName() const { return fileName_; }
    // Writes pending changes to the old file first (which may throw, leaving
    // everything as it was), then reads the new one.
    void SetFileName(const std::string& fileName);
    // True while the content in memory differs from the file.
    bool HasChanged() const { return hasChanged_; }

    std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
    // Throws PlanexorError for what could not be read back as written: a line
    // break in any part, "=" in the key, or a line that would read as a
    // section header. An empty key erases the section, or runs UpdateFile
    // when section and value are empty too.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
    void WriteInteger(std::string_view section, std::string_view key, int value);
    // "0" or "1" written; any integer but 0 reads true.
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
    void WriteBool(std::string_view section, std::string_view key, bool value);
    // A float reads back as the same float, a double as the same double; a
    // value that is not finite cannot be stored and throws PlanexorError.
    float ReadFloat(std::string_view section, std::string_view key, float fallback) const;
    double ReadFloat(std::string_view section, std::string_view key, double fallback) const;
    void WriteFloat(std::string_view section, std::string_view key, float value);
    void WriteFloat(std::string_view section, std::string_view key, double value);

    // Appends the key of every line of the section that has one.
    void ReadSection(std::string_view section, std::vector<std::string>& list) const;
    // Replaces the list by the section names, empty sections included.
    void ReadSections(std::vector<std::string>& list) const;
    // Appends every line of the section as it stands.
    void ReadSectionValues(std::string_view section, std::vector<std::string>& list) const;
    void EraseSection(std::string_view section);
    // A missing section is created empty, as a write would; an empty section
    // is never written to the file.
    void DeleteKey(std::string_view section, std::string_view key);
    // Appends the whole content in file form: each section that has lines as
    // its header, its lines and one empty line.
    void ReadAll(std::vector<std::string>& list) const;
    void UpdateFile();
    // Writes the whole content to `fileName`, changed or not, replacing any
    // file there only once the new one is complete, and makes it the file.
    void SaveAs(const std::string& fileName);
    // Appends the sections of another file; a section whose name is already
    // held is dropped with its lines. A missing file adds nothing.
    void MergeFile(const std::string& fileName);

    // A section as (key, value) pairs in file order, one pair per key (the
    // first line of a repeated key, the one ReadString finds).
    std::vector<std::pair<std::string, std::string>> ReadSectionPairs(std::string_view section) const;
    // Writes each pair with WriteString: keys not in the list stay, and
    // values that did not change leave HasChanged alone. A pair with an empty
    // key (read from a line starting with "=") is left as it is.
    void WriteSectionPairs(std::string_view section, const std::vector<std::pair<std::string, std::string>>& pairs);

private:
    struct NoCaseHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const;
    };
    struct NoCaseEqual {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    template <class Value>
    using NoCaseMap = std::unordered_map<std::string, Value, NoCaseHash, NoCaseEqual>;

    static constexpr std::size_t None = static_cast<std::size_t>(-1);
    struct Line {
        std::string text;              // kept after removal: an index slot may still name its key
        std::size_t keyLength = None;  // position of the first "=", None for a line without one
        std::uint32_t nextSameKey = NoLine;
        bool removed = false;
        bool firstOfKey = false;  // the line its key finds
    };
    static constexpr std::uint32_t NoLine = ~std::uint32_t(0);
    // One key's lines, first to last, linked through nextSameKey; an open
    // addressing table of these keeps a lookup to about one cache miss.
    struct KeySlot {
        std::uint32_t hash = 0;
        std::uint32_t keyLine = NoLine;  // a line holding the key's text; NoLine marks a free slot
        std::uint32_t first = NoLine;    // NoLine when every line of the key was removed
        std::uint32_t last = NoLine;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;  // removed lines stay until the next compaction so positions hold
        std::size_t removedCount = 0;
        std::vector<KeySlot> slots;  // power-of-two size, at most half used
        std::size_t usedSlots = 0;
        std::size_t indexedLines = 0;  // lines read from a file are indexed together, at the size they need
        mutable std::size_t nextGuess = 0;  // keys are mostly asked in file order: try the line after the last found

        KeySlot* slotOf(std::string_view key, std::uint32_t hash);
        const KeySlot* slotOf(std::string_view key, std::uint32_t hash) const;
        std::size_t find(std::string_view key) const;
        void append(std::string text);
        void addLine(std::string text);
        void indexPending();
        void indexLine(std::uint32_t position);
        void remove(std::size_t position);
        void compact();
        void growSlots(std::size_t keyCount);
        bool hasLines() const { return lines.size() > removedCount; }
    };

    template <class Number>
    void writeNumber(std::string_view section, std::string_view key, Number value);
    std::optional<std::string_view> valueOf(std::string_view section, std::string_view key) const;
    std::size_t sectionPosition(std::string_view name) const;
    const Section* findSection(std::string_view name) const;
    Section& sectionForWrite(std::string_view name);
    void rebuildSectionIndex();
    void appendText(const std::string& text);
    std::string fileText() const;

    std::string fileName_;
    bool hasChanged_ = false;
    std::vector<Section> sections_;
    NoCaseMap<std::size_t> sectionIndex_;
    mutable std::size_t lastSection_ = 0;  // lookup shortcuts make reads unsafe from several threads
};

}  // namespace planexor
