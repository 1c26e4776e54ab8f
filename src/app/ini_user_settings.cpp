#include "app/ini_user_settings.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <system_error>

#include "core/file_io.h"

namespace planexor {
namespace {

// A settings file this large was not written by us.
constexpr std::size_t MaxFileSize = 1 << 20;

bool sameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// Values are paths and may hold any byte; one value must stay one line.
std::string escaped(const std::string& value) {
    std::string out;
    for (const char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::string unescaped(const std::string& value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

}  // namespace

std::string IniUserSettings::defaultPath() {
    namespace fs = std::filesystem;
    fs::path base;
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && fs::path(xdg).is_absolute()) base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = fs::path(home) / ".config";
    else base = fs::temp_directory_path();
    return (base / "planexor" / "planexor-user.ini").string();
}

IniUserSettings::IniUserSettings(std::string path) : path_(std::move(path)) {
    std::error_code error;
    const auto size = std::filesystem::file_size(path_, error);
    if (error || size > MaxFileSize) return;
    try {
        const std::vector<std::uint8_t> bytes = readWholeFile(path_, MaxFileSize);
        entries_ = parse(std::string(bytes.begin(), bytes.end()));
    } catch (const std::exception&) {
        entries_.clear();  // unreadable: start empty, the next write makes a good file
    }
}

const IniUserSettings::Entry* IniUserSettings::find(const std::string& section, const std::string& key) const {
    for (const Entry& entry : entries_)
        if (sameName(entry.section, section) && sameName(entry.key, key)) return &entry;
    return nullptr;
}

bool IniUserSettings::has(const std::string& section, const std::string& key) const {
    return find(section, key) != nullptr;
}

std::string IniUserSettings::readString(const std::string& section, const std::string& key,
                                        const std::string& fallback) const {
    const Entry* entry = find(section, key);
    return entry ? entry->value : fallback;
}

void IniUserSettings::writeString(const std::string& section, const std::string& key, const std::string& value) {
    const auto found = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) {
        return sameName(entry.section, section) && sameName(entry.key, key);
    });
    if (found == entries_.end()) {
        entries_.push_back({section, key, value});
    } else {
        // Window moves write the same place again and again; spare the disk.
        if (found->value == value) return;
        found->value = value;
    }
    save();
}

void IniUserSettings::save() {
    try {
        std::error_code error;
        const auto directory = std::filesystem::path(path_).parent_path();
        if (!directory.empty()) std::filesystem::create_directories(directory, error);
        writeFileAtomically(path_, format(entries_));
        lastError_.clear();
    } catch (const std::exception& error) {
        lastError_ = error.what();
        if (!failureReported_ && onWriteFailure_) {
            failureReported_ = true;
            onWriteFailure_(lastError_);
        }
    }
}

std::string IniUserSettings::format(const std::vector<Entry>& entries) {
    std::vector<std::string> sections;
    for (const Entry& entry : entries)
        if (std::none_of(sections.begin(), sections.end(), [&](const auto& s) { return sameName(s, entry.section); }))
            sections.push_back(entry.section);
    std::string text;
    for (const std::string& section : sections) {
        if (!text.empty()) text += '\n';
        text += '[' + section + "]\n";
        for (const Entry& entry : entries)
            if (sameName(entry.section, section)) text += entry.key + '=' + escaped(entry.value) + '\n';
    }
    return text;
}

std::vector<IniUserSettings::Entry> IniUserSettings::parse(const std::string& text) {
    if (text.size() > MaxFileSize || text.find('\0') != std::string::npos) return {};
    std::vector<Entry> entries;
    std::string section;
    bool inSection = false;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string bare = trimmed(line);
        if (bare.empty() || bare[0] == ';' || bare[0] == '#') continue;
        if (bare.front() == '[') {
            if (bare.back() != ']' || bare.size() < 3) return {};
            section = trimmed(bare.substr(1, bare.size() - 2));
            if (section.empty()) return {};
            inSection = true;
            continue;
        }
        const auto equals = line.find('=');
        if (!inSection || equals == std::string::npos) return {};
        const std::string key = trimmed(line.substr(0, equals));
        if (key.empty()) return {};
        const std::string value = unescaped(line.substr(equals + 1));
        const bool known = std::any_of(entries.begin(), entries.end(), [&](const Entry& e) {
            return sameName(e.section, section) && sameName(e.key, key);
        });
        if (!known) entries.push_back({section, key, value});  // the first of two equal keys holds
    }
    return entries;
}

}  // namespace planexor
