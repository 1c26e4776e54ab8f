#include "app/big_ini_file.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <climits>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "core/ascii_text.h"
#include "core/error.h"
#include "core/file_io.h"

namespace planexor {
namespace {

// A project of 2501 frames is well under 1 MB; anything near this is not ours.
constexpr std::size_t MaxFileSize = std::size_t(256) << 20;
// A line of this single character is an old editor's end-of-file mark.
constexpr char EndOfFileMark = 26;

std::size_t hashIgnoringCase(std::string_view text) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : text) hash = (hash ^ static_cast<unsigned char>(lowerAscii(c))) * 1099511628211ull;
    // FNV's low bits mix poorly for keys that differ only at the end ("X1",
    // "X2", ...), and the key index uses the low bits: finish with a mixer.
    hash ^= hash >> 33;
    hash *= 0xff51afd7ed558ccdull;
    hash ^= hash >> 33;
    return static_cast<std::size_t>(hash);
}

std::uint32_t keyHash(std::string_view key) {
    return static_cast<std::uint32_t>(hashIgnoringCase(key));
}

std::string_view trimmedBlanks(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool hasLineBreak(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; });
}

template <class Number>
std::string shortestText(Number value) {
    char digits[40];
    const auto result = std::to_chars(digits, digits + sizeof digits, value);
    return std::string(digits, result.ptr);
}

template <class Number>
std::optional<Number> parseDecimal(std::string_view text) {
    text = trimmedBlanks(text);
    char digits[64];
    if (text.empty() || text.size() > sizeof digits) return std::nullopt;
    std::replace_copy(text.begin(), text.end(), digits, ',', '.');
    Number value{};
    const auto result = std::from_chars(digits, digits + text.size(), value);
    if (result.ec != std::errc() || result.ptr != digits + text.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

// nullopt for a missing file (empty content), the text otherwise.
std::optional<std::string> readIniText(const std::string& fileName) {
    std::error_code error;
    const auto status = std::filesystem::status(fileName, error);
    if (status.type() == std::filesystem::file_type::not_found) return std::nullopt;
    // A pipe or a device would block the read, or never end it.
    if (error || !std::filesystem::is_regular_file(status)) throw PlanexorError("Cannot read " + fileName);
    const std::vector<std::uint8_t> bytes = readWholeFile(fileName, MaxFileSize);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

std::string shortestDecimalText(double value) {
    return shortestText(value);
}

std::string shortestDecimalText(float value) {
    return shortestText(value);
}

std::optional<double> parseDouble(std::string_view text) {
    return parseDecimal<double>(text);
}

std::optional<float> parseFloat(std::string_view text) {
    return parseDecimal<float>(text);
}

std::optional<int> parseInteger(std::string_view text) {
    text = trimmedBlanks(text);
    const bool hex = text.size() > 2 && text[0] == '0' && lowerAscii(text[1]) == 'x';
    if (hex) text.remove_prefix(2);
    const char* end = text.data() + text.size();
    if (hex) {
        unsigned value = 0;
        const auto result = std::from_chars(text.data(), end, value, 16);
        if (result.ec != std::errc() || result.ptr != end || value > unsigned(INT_MAX)) return std::nullopt;
        return static_cast<int>(value);
    }
    int value = 0;
    const auto result = std::from_chars(text.data(), end, value);
    if (text.empty() || result.ec != std::errc() || result.ptr != end) return std::nullopt;
    return value;
}

std::size_t TBigIniFile::NoCaseHash::operator()(std::string_view text) const {
    return hashIgnoringCase(text);
}

bool TBigIniFile::NoCaseEqual::operator()(std::string_view a, std::string_view b) const {
    return equalIgnoringAsciiCase(a, b);
}

const TBigIniFile::KeySlot* TBigIniFile::Section::slotOf(std::string_view key, std::uint32_t hash) const {
    if (slots.empty()) return nullptr;
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const KeySlot& slot = slots[i];
        if (slot.keyLine == NoLine) return nullptr;
        if (slot.hash == hash) {
            const Line& line = lines[slot.keyLine];
            if (NoCaseEqual()(std::string_view(line.text.data(), line.keyLength), key)) return &slot;
        }
    }
}

TBigIniFile::KeySlot* TBigIniFile::Section::slotOf(std::string_view key, std::uint32_t hash) {
    return const_cast<KeySlot*>(static_cast<const Section*>(this)->slotOf(key, hash));
}

std::size_t TBigIniFile::Section::find(std::string_view key) const {
    if (nextGuess < lines.size()) {
        const Line& line = lines[nextGuess];
        if (line.firstOfKey && !line.removed && line.keyLength == key.size() &&
            NoCaseEqual()(std::string_view(line.text.data(), line.keyLength), key))
            return nextGuess++;
    }
    const KeySlot* slot = slotOf(key, keyHash(key));
    if (!slot || slot->first == NoLine) return None;
    nextGuess = slot->first + 1;
    return slot->first;
}

void TBigIniFile::Section::growSlots(std::size_t keyCount) {
    std::vector<KeySlot> old(std::max<std::size_t>(16, std::bit_ceil(keyCount * 2)));
    old.swap(slots);
    usedSlots = 0;
    const std::size_t mask = slots.size() - 1;
    for (const KeySlot& slot : old) {
        if (slot.keyLine == NoLine || slot.first == NoLine) continue;  // keys without lines go
        std::size_t i = slot.hash & mask;
        while (slots[i].keyLine != NoLine) i = (i + 1) & mask;
        slots[i] = slot;
        ++usedSlots;
    }
}

void TBigIniFile::Section::append(std::string text) {
    addLine(std::move(text));
    indexPending();
}

void TBigIniFile::Section::addLine(std::string text) {
    if (lines.size() >= NoLine) throw PlanexorError("Too many lines in section [" + name + "]");
    Line& line = lines.emplace_back();
    line.text = std::move(text);
    line.keyLength = line.text.find('=');
    if (line.keyLength == std::string::npos) line.keyLength = None;
}

void TBigIniFile::Section::indexPending() {
    const std::size_t keyCount = usedSlots + (lines.size() - indexedLines);
    if (keyCount * 2 > slots.size()) growSlots(keyCount);
    for (; indexedLines < lines.size(); ++indexedLines) indexLine(static_cast<std::uint32_t>(indexedLines));
}

void TBigIniFile::Section::indexLine(std::uint32_t position) {
    Line& line = lines[position];
    if (line.keyLength == None) return;
    const std::string_view key(line.text.data(), line.keyLength);
    const std::uint32_t hash = keyHash(key);
    if (KeySlot* slot = slotOf(key, hash)) {
        if (slot->first == NoLine) {
            slot->first = position;
            line.firstOfKey = true;
        } else {
            lines[slot->last].nextSameKey = position;
        }
        slot->last = position;
        return;
    }
    line.firstOfKey = true;
    const std::size_t mask = slots.size() - 1;
    std::size_t i = hash & mask;
    while (slots[i].keyLine != NoLine) i = (i + 1) & mask;
    slots[i] = KeySlot{hash, position, position, position};
    ++usedSlots;
}

// Only the first line of a key is ever removed: that is the one a key finds.
void TBigIniFile::Section::remove(std::size_t position) {
    Line& line = lines[position];
    if (line.keyLength != None) {
        const std::string_view key(line.text.data(), line.keyLength);
        KeySlot* slot = slotOf(key, keyHash(key));
        slot->first = line.nextSameKey;
        if (slot->first == NoLine) slot->last = NoLine;
        else lines[slot->first].firstOfKey = true;
    }
    line.removed = true;
    ++removedCount;
    if (removedCount > 32 && removedCount * 2 > lines.size()) compact();
}

void TBigIniFile::Section::compact() {
    std::vector<Line> kept;
    kept.swap(lines);
    slots.clear();
    usedSlots = 0;
    indexedLines = 0;
    removedCount = 0;
    for (Line& line : kept)
        if (!line.removed) addLine(std::move(line.text));
    indexPending();
}

TBigIniFile::TBigIniFile(std::string fileName) {
    SetFileName(fileName);
}

void TBigIniFile::SetFileName(const std::string& fileName) {
    UpdateFile();
    std::optional<std::string> text;
    if (!fileName.empty()) text = readIniText(fileName);
    sections_.clear();
    sectionIndex_.clear();
    fileName_ = fileName;
    if (text) appendText(*text);
    // A duplicate section dropped while reading is no reason to rewrite.
    hasChanged_ = false;
}

// Keys come in runs per section, so the section used last is tried first.
std::size_t TBigIniFile::sectionPosition(std::string_view name) const {
    if (lastSection_ < sections_.size() && NoCaseEqual()(sections_[lastSection_].name, name)) return lastSection_;
    const auto found = sectionIndex_.find(name);
    if (found == sectionIndex_.end()) return None;
    lastSection_ = found->second;
    return lastSection_;
}

const TBigIniFile::Section* TBigIniFile::findSection(std::string_view name) const {
    const std::size_t position = sectionPosition(name);
    return position == None ? nullptr : &sections_[position];
}

TBigIniFile::Section& TBigIniFile::sectionForWrite(std::string_view name) {
    if (const std::size_t position = sectionPosition(name); position != None) return sections_[position];
    sectionIndex_.emplace(std::string(name), sections_.size());
    Section& section = sections_.emplace_back();
    section.name = std::string(name);
    return section;
}

void TBigIniFile::rebuildSectionIndex() {
    sectionIndex_.clear();
    for (std::size_t i = 0; i < sections_.size(); ++i) sectionIndex_.emplace(sections_[i].name, i);
}

std::optional<std::string_view> TBigIniFile::valueOf(std::string_view section, std::string_view key) const {
    const Section* found = findSection(section);
    if (!found) return std::nullopt;
    const std::size_t position = found->find(key);
    if (position == None) return std::nullopt;
    const Line& line = found->lines[position];
    return std::string_view(line.text).substr(line.keyLength + 1);
}

std::string TBigIniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const {
    return std::string(valueOf(section, key).value_or(fallback));
}

void TBigIniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (key.empty()) {
        if (section.empty() && value.empty()) UpdateFile();
        else EraseSection(section);
        return;
    }
    const std::string where = "[" + std::string(section) + "] " + std::string(key);
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value))
        throw PlanexorError("Cannot store a line break in " + where);
    if (key.find('=') != std::string_view::npos) throw PlanexorError("A key cannot contain \"=\": " + where);
    if (key.front() == '[' && !value.empty() && value.back() == ']')
        throw PlanexorError("A line that reads as a section header cannot be stored: " + where);

    Section& target = sectionForWrite(section);
    std::string line;
    line.reserve(key.size() + 1 + value.size());
    line.append(key).append(1, '=').append(value);
    const std::size_t position = target.find(key);
    if (position == None) {
        target.append(std::move(line));
        hasChanged_ = true;
    } else if (target.lines[position].text != line) {
        // Same key but for case, so the index stays as it is.
        target.lines[position].text = std::move(line);
        hasChanged_ = true;
    }
}

int TBigIniFile::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
    const auto text = valueOf(section, key);
    return text ? parseInteger(*text).value_or(fallback) : fallback;
}

void TBigIniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
    WriteString(section, key, std::to_string(value));
}

bool TBigIniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TBigIniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

float TBigIniFile::ReadFloat(std::string_view section, std::string_view key, float fallback) const {
    const auto text = valueOf(section, key);
    return text ? parseFloat(*text).value_or(fallback) : fallback;
}

double TBigIniFile::ReadFloat(std::string_view section, std::string_view key, double fallback) const {
    const auto text = valueOf(section, key);
    return text ? parseDouble(*text).value_or(fallback) : fallback;
}

template <class Number>
void TBigIniFile::writeNumber(std::string_view section, std::string_view key, Number value) {
    // Stored, it would make the whole file unreadable for the loader.
    if (!std::isfinite(value))
        throw PlanexorError("Cannot store " + std::string(key) + " in [" + std::string(section) + "]: " +
                            shortestDecimalText(value) + " is not a number");
    WriteString(section, key, shortestDecimalText(value));
}

void TBigIniFile::WriteFloat(std::string_view section, std::string_view key, float value) {
    writeNumber(section, key, value);
}

void TBigIniFile::WriteFloat(std::string_view section, std::string_view key, double value) {
    writeNumber(section, key, value);
}

void TBigIniFile::ReadSection(std::string_view section, std::vector<std::string>& list) const {
    if (const Section* found = findSection(section))
        for (const Line& line : found->lines)
            if (!line.removed && line.keyLength != None) list.emplace_back(line.text, 0, line.keyLength);
}

void TBigIniFile::ReadSections(std::vector<std::string>& list) const {
    list.clear();
    for (const Section& section : sections_) list.push_back(section.name);
}

void TBigIniFile::ReadSectionValues(std::string_view section, std::vector<std::string>& list) const {
    if (const Section* found = findSection(section))
        for (const Line& line : found->lines)
            if (!line.removed) list.push_back(line.text);
}

void TBigIniFile::EraseSection(std::string_view section) {
    const auto found = sectionIndex_.find(section);
    if (found == sectionIndex_.end()) return;
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(found->second));
    rebuildSectionIndex();
    hasChanged_ = true;
}

void TBigIniFile::DeleteKey(std::string_view section, std::string_view key) {
    Section& target = sectionForWrite(section);
    const std::size_t position = target.find(key);
    if (position == None) return;
    target.remove(position);
    hasChanged_ = true;
}

void TBigIniFile::ReadAll(std::vector<std::string>& list) const {
    for (const Section& section : sections_) {
        if (!section.hasLines()) continue;
        list.push_back("[" + section.name + "]");
        for (const Line& line : section.lines)
            if (!line.removed) list.push_back(line.text);
        list.emplace_back();
    }
}

std::string TBigIniFile::fileText() const {
    std::size_t size = 0;
    for (const Section& section : sections_)
        for (const Line& line : section.lines) size += line.text.size() + 2;
    std::string text;
    text.reserve(size + sections_.size() * 64);
    for (const Section& section : sections_) {
        if (!section.hasLines()) continue;
        text.append(1, '[').append(section.name).append("]\r\n");
        for (const Line& line : section.lines)
            if (!line.removed) text.append(line.text).append("\r\n");
        text.append("\r\n");
    }
    return text;
}

void TBigIniFile::UpdateFile() {
    if (!hasChanged_ || fileName_.empty()) return;
    writeFileAtomically(fileName_, fileText());
    hasChanged_ = false;
}

void TBigIniFile::SaveAs(const std::string& fileName) {
    writeFileAtomically(fileName, fileText());
    fileName_ = fileName;
    hasChanged_ = false;
}

void TBigIniFile::MergeFile(const std::string& fileName) {
    if (const auto text = readIniText(fileName)) appendText(*text);
}

// Lines end with CR LF, LF or CR. Lines before the first header, and the
// lines of a section whose name is already held, are dropped.
void TBigIniFile::appendText(const std::string& text) {
    Section* current = nullptr;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
        const std::string_view line(text.data() + start, end - start);
        start = end + 1;
        if (end < text.size() && text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;

        if (line.empty() || (line.size() == 1 && line[0] == EndOfFileMark)) continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            const std::string_view name = line.substr(1, line.size() - 2);
            if (findSection(name)) {
                current = nullptr;
                hasChanged_ = true;  // the file loses the duplicate on the next write
            } else {
                current = &sectionForWrite(name);
            }
            continue;
        }
        if (!current) continue;
        current->addLine(std::string(line));
        hasChanged_ = true;
    }
    for (Section& section : sections_) section.indexPending();
}

std::vector<std::pair<std::string, std::string>> TBigIniFile::ReadSectionPairs(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> pairs;
    const Section* found = findSection(section);
    if (!found) return pairs;
    for (std::size_t i = 0; i < found->lines.size(); ++i) {
        const Line& line = found->lines[i];
        if (line.removed || line.keyLength == None) continue;
        const std::string_view key(line.text.data(), line.keyLength);
        if (found->find(key) != i) continue;  // a later line of a repeated key
        pairs.emplace_back(std::string(key), line.text.substr(line.keyLength + 1));
    }
    return pairs;
}

void TBigIniFile::WriteSectionPairs(std::string_view section,
                                    const std::vector<std::pair<std::string, std::string>>& pairs) {
    // An empty key would erase the whole section; only a damaged line gives one.
    for (const auto& [key, value] : pairs)
        if (!key.empty()) WriteString(section, key, value);
}

}  // namespace planexor
