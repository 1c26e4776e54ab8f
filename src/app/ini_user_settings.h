#pragma once
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "app/user_settings.h"

namespace planexor {

class TBigIniFile;

// The user's configuration directory: $XDG_CONFIG_HOME/planexor, else
// ~/.config/planexor (never beside the program, which may be shared and
// read-only).
std::string configurationDirectory();

// The user settings key of the window program, kept as "user.ini" with the
// sections "Files", "Settings" and "Toolwin", read and written through the
// INI engine. Writes land in memory at once and reach the file on flush(),
// so the hundreds of moves of one drag make one write; every write replaces
// the whole file by rename, so two running windows never leave a torn file.
// Section and key names match without regard to case, as a registry key does.
class IniUserSettings : public UserSettings {
public:
    static std::string defaultPath();  // configurationDirectory() + "/user.ini"

    // An unreadable file starts empty; the next flush makes a good one.
    explicit IniUserSettings(std::string path);
    ~IniUserSettings() override;

    bool has(const std::string& section, const std::string& key) const override;
    std::string readString(const std::string& section, const std::string& key,
                           const std::string& fallback) const override;
    void writeString(const std::string& section, const std::string& key, const std::string& value) override;
    // Never throws: a settings file that cannot be written must not break
    // what the user does. The values stay for this session and the failure
    // goes to the failure callback, once per session.
    void flush() override;
    bool pending() const { return pending_; }

    const std::string& path() const { return path_; }
    const std::string& lastError() const { return lastError_; }
    void onWriteFailure(std::function<void(const std::string&)> callback) { onWriteFailure_ = std::move(callback); }
    // Told after each change that awaits a flush: the window coalesces them.
    void onPending(std::function<void()> callback) { onPending_ = std::move(callback); }

private:
    std::string path_;
    std::unique_ptr<TBigIniFile> ini_;
    bool pending_ = false;
    // This session's writes since the last flush (section, key, stored text):
    // laid over the file as it is then, so another window's values survive.
    std::vector<std::tuple<std::string, std::string, std::string>> unsaved_;
    std::string lastError_;
    bool failureReported_ = false;
    std::string unreadable_;  // why the file there is kept as it is, or empty
    std::function<void(const std::string&)> onWriteFailure_;
    std::function<void()> onPending_;
};

}  // namespace planexor
