#pragma once
#include <functional>
#include <string>

namespace planexor {

class TMainForm;

// The settings file "planexor.ini": one section "Form" with the stored
// control values (and "Extensions" when an option beyond them is set), restored silently and written anew as a whole (by
// rename, so a failed write keeps the old file).
class SettingsFile {
public:
    explicit SettingsFile(std::string path);
    static std::string defaultPath();  // in the user's configuration directory

    const std::string& path() const { return path_; }
    // A missing, unreadable or damaged file restores what it can, never fails.
    // A file that is there but cannot be read is never written over: the
    // user's settings in it outlive a session that could not see them.
    void restore(TMainForm& form);
    // False when the file could not be written; the failure callback hears
    // of it once per session and the program runs on.
    bool save(const TMainForm& form);
    const std::string& lastError() const { return lastError_; }
    bool unreadable() const { return unreadable_; }
    void onWriteFailure(std::function<void(const std::string&)> callback) { onWriteFailure_ = std::move(callback); }

private:
    std::string path_;
    std::string lastError_;
    bool failureReported_ = false;
    bool unreadable_ = false;
    std::function<void(const std::string&)> onWriteFailure_;
};

}  // namespace planexor
