#pragma once
#include <map>
#include <string>
#include <utility>

namespace planexor {

// The user settings key: sections "Files", "Settings", "Toolwin" of named
// values. Kept in memory in tests and the CLI; the window program keeps it in
// an INI file under the user's configuration directory.
class UserSettings {
public:
    virtual ~UserSettings() = default;
    virtual bool has(const std::string& section, const std::string& key) const = 0;
    virtual std::string readString(const std::string& section, const std::string& key,
                                   const std::string& fallback) const = 0;
    virtual void writeString(const std::string& section, const std::string& key, const std::string& value) = 0;
    // Writes what is held in memory to where the store keeps it.
    virtual void flush() {}

    int readInteger(const std::string& section, const std::string& key, int fallback) const;
    void writeInteger(const std::string& section, const std::string& key, int value);
    bool readBool(const std::string& section, const std::string& key, bool fallback) const;
    void writeBool(const std::string& section, const std::string& key, bool value);
};

class MemoryUserSettings : public UserSettings {
public:
    bool has(const std::string& section, const std::string& key) const override;
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& fallback) const override;
    void writeString(const std::string& section, const std::string& key, const std::string& value) override;

    std::map<std::pair<std::string, std::string>, std::string> values;
};

}  // namespace planexor
