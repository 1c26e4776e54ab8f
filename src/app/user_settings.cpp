#include "app/user_settings.h"

#include <charconv>

namespace planexor {

int UserSettings::readInteger(const std::string& section, const std::string& key, int fallback) const {
    const std::string text = readString(section, key, "");
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return (error == std::errc() && end == text.data() + text.size() && !text.empty()) ? value : fallback;
}

void UserSettings::writeInteger(const std::string& section, const std::string& key, int value) {
    writeString(section, key, std::to_string(value));
}

bool UserSettings::readBool(const std::string& section, const std::string& key, bool fallback) const {
    if (!has(section, key)) return fallback;
    return readInteger(section, key, fallback ? 1 : 0) != 0;
}

void UserSettings::writeBool(const std::string& section, const std::string& key, bool value) {
    writeString(section, key, value ? "1" : "0");
}

bool MemoryUserSettings::has(const std::string& section, const std::string& key) const {
    return values.count({section, key}) != 0;
}

std::string MemoryUserSettings::readString(const std::string& section, const std::string& key,
                                           const std::string& fallback) const {
    const auto found = values.find({section, key});
    return found == values.end() ? fallback : found->second;
}

void MemoryUserSettings::writeString(const std::string& section, const std::string& key,
                                     const std::string& value) {
    values[{section, key}] = value;
}

}  // namespace planexor
