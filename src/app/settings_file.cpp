#include "app/settings_file.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "app/big_ini_file.h"
#include "app/form_state.h"
#include "app/ini_user_settings.h"
#include "core/file_io.h"

namespace planexor {

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

std::string SettingsFile::defaultPath() {
    return (std::filesystem::path(configurationDirectory()) / "planexor.ini").string();
}

void SettingsFile::restore(TMainForm& form) {
    try {
        const TBigIniFile ini(path_);
        restoreFormSection(form, ini);
        restoreExtensionSection(form, ini.ReadSectionPairs(ExtensionSection));
        unreadable_ = false;
    } catch (const std::exception& error) {
        // Unreadable (a folder, no permission): the controls keep their values.
        std::error_code missing;
        unreadable_ = std::filesystem::exists(path_, missing);
        if (unreadable_) lastError_ = error.what();
    }
}

bool SettingsFile::save(const TMainForm& form) {
    if (unreadable_) {
        if (!failureReported_ && onWriteFailure_) {
            failureReported_ = true;
            onWriteFailure_(path_ + " cannot be read (" + lastError_ + ") and is kept as it is");
        }
        return false;
    }
    try {
        makeFolderFor(path_);
        // Built from nothing: the file holds the list's keys and no others.
        TBigIniFile ini;
        writeFormSection(ini, form);
        if (const FormPairs extensions = captureExtensionSection(form); !extensions.empty())
            ini.WriteSectionPairs(ExtensionSection, extensions);
        ini.SaveAs(path_);
        lastError_.clear();
        return true;
    } catch (const std::exception& error) {
        lastError_ = error.what();
        if (!failureReported_ && onWriteFailure_) {
            failureReported_ = true;
            onWriteFailure_(lastError_);
        }
        return false;
    }
}

}  // namespace planexor
