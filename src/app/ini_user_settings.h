#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/user_settings.h"

namespace planexor {

// The user settings key of the window program, kept as an INI file with the
// sections "Files", "Settings" and "Toolwin". Every write goes to disk at
// once (the key is written as things happen, nothing is saved at exit).
// Section and key names match without regard to case, as a registry key does.
class IniUserSettings : public UserSettings {
public:
    // $XDG_CONFIG_HOME/planexor/planexor-user.ini, else ~/.config/planexor/...
    static std::string defaultPath();

    explicit IniUserSettings(std::string path);

    bool has(const std::string& section, const std::string& key) const override;
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& fallback) const override;
    // Never throws: a settings file that cannot be written must not break
    // the action that stores a setting. The value is kept for this session
    // and the failure goes to the failure callback, once per session.
    void writeString(const std::string& section, const std::string& key, const std::string& value) override;

    const std::string& path() const { return path_; }
    const std::string& lastError() const { return lastError_; }
    void onWriteFailure(std::function<void(const std::string&)> callback) { onWriteFailure_ = std::move(callback); }

    // The file's text for these values, and the values of a file's text; a
    // text that is not an INI file of ours gives no values.
    struct Entry {
        std::string section;
        std::string key;
        std::string value;
    };
    static std::string format(const std::vector<Entry>& entries);
    static std::vector<Entry> parse(const std::string& text);

private:
    const Entry* find(const std::string& section, const std::string& key) const;
    void save();

    std::string path_;
    std::vector<Entry> entries_;  // in the order first written, grouped by section on save
    std::string lastError_;
    bool failureReported_ = false;
    std::function<void(const std::string&)> onWriteFailure_;
};

}  // namespace planexor
