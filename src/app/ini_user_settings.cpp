#include "app/ini_user_settings.h"

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <system_error>

#include <pwd.h>
#include <unistd.h>

#include "app/big_ini_file.h"
#include "core/file_io.h"

namespace planexor {
namespace {

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

std::string configurationDirectory() {
    namespace fs = std::filesystem;
    fs::path base;
    // The XDG rules ignore a relative XDG_CONFIG_HOME.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && fs::path(xdg).is_absolute()) base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = fs::path(home) / ".config";
    // Without HOME the account's own home, not a folder every user shares.
    else if (const passwd* account = ::getpwuid(::getuid()); account && account->pw_dir && *account->pw_dir)
        base = fs::path(account->pw_dir) / ".config";
    else base = fs::temp_directory_path();
    return (base / "planexor").string();
}

std::string IniUserSettings::defaultPath() { return (std::filesystem::path(configurationDirectory()) / "user.ini").string(); }

IniUserSettings::IniUserSettings(std::string path) : path_(std::move(path)) {
    try {
        ini_ = std::make_unique<TBigIniFile>(path_);
    } catch (const std::exception& error) {
        ini_ = std::make_unique<TBigIniFile>();
        // Never written over: the values in it outlive a session that could not read them.
        std::error_code missing;
        if (std::filesystem::exists(path_, missing)) unreadable_ = path_ + " cannot be read (" + error.what() + ") and is kept as it is";
    }
}

IniUserSettings::~IniUserSettings() { flush(); }

bool IniUserSettings::has(const std::string& section, const std::string& key) const {
    // No value of ours holds a line break, so this text is never a stored one.
    return ini_->ReadString(section, key, "\n") != "\n";
}

std::string IniUserSettings::readString(const std::string& section, const std::string& key,
                                        const std::string& fallback) const {
    return has(section, key) ? unescaped(ini_->ReadString(section, key, "")) : fallback;
}

void IniUserSettings::writeString(const std::string& section, const std::string& key, const std::string& value) {
    const std::string stored = escaped(value);
    // Window moves write the same place again and again; spare the disk.
    if (has(section, key) && ini_->ReadString(section, key, "") == stored) return;
    try {
        ini_->WriteString(section, key, stored);
    } catch (const std::exception& error) {
        lastError_ = error.what();  // a name that cannot be stored: not one of ours
        return;
    }
    unsaved_.emplace_back(section, key, stored);
    pending_ = true;
    if (onPending_) onPending_();
}

void IniUserSettings::flush() {
    if (!pending_) return;
    if (!unreadable_.empty()) {
        pending_ = false;
        if (!failureReported_ && onWriteFailure_) {
            failureReported_ = true;
            onWriteFailure_(unreadable_);
        }
        return;
    }
    try {
        makeFolderFor(path_);
        // Another window may have written since this one read the file.
        auto current = std::make_unique<TBigIniFile>(path_);
        for (const auto& [section, key, value] : unsaved_) current->WriteString(section, key, value);
        current->SaveAs(path_);
        ini_ = std::move(current);
        unsaved_.clear();
        pending_ = false;
        lastError_.clear();
    } catch (const std::exception& error) {
        lastError_ = error.what();
        if (!failureReported_ && onWriteFailure_) {
            failureReported_ = true;
            onWriteFailure_(lastError_);
        }
    }
}

}  // namespace planexor
