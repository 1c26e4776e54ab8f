#include "app/start_up.h"

#include <filesystem>
#include <system_error>

#include "app/main_form.h"
#include "app/settings_file.h"
#include "core/file_io.h"

namespace planexor {

std::optional<StartupFile> startupFileOf(const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) return std::nullopt;
    const std::string extension = lowerExtensionOf(arguments.front());
    if (extension == ".pxp") return StartupFile{arguments.front(), 1};
    if (extension == ".pxl") return StartupFile{arguments.front(), 2};
    return std::nullopt;
}

StartUp::StartUp(TMainForm& form, SettingsFile& settingsFile, std::string currentDirectory)
    : form_(form), settingsFile_(settingsFile), currentDirectory_(std::move(currentDirectory)) {}

void StartUp::FormCreate() {
    // The settings file is restored, then written anew at once: a dark frame
    // or flat field in use at the last close is off now, and keys no longer
    // in the list are gone.
    settingsFile_.restore(form_);
    form_.control(Control::UseDarkFrame).setChecked(false);
    form_.control(Control::UseFlatfield).setChecked(false);
    for (const Control window : {Control::Stackframeswindow, Control::SelectFrameswindow, Control::FilterWindow,
                                 Control::GammaWindow, Control::HistoWindow, Control::Shrinkview, Control::FFTWindow,
                                 Control::Propertywindow})
        form_.control(window).setVisible(false);
    settingsFile_.save(form_);
    form_.storeSettings = [this] { settingsFile_.save(form_); };

    form_.openUserSettingsKey();
    form_.help().showPanel(1);
    form_.RubberX = form_.RubberY = -1;

    UserSettings& settings = form_.settings();
    const std::string dir = settings.readString("Files", "Dir", "nonex");
    std::error_code error;
    // Started from a folder that is gone, there is no folder to remember.
    if (dir == "nonex" || dir.empty()) {
        if (!currentDirectory_.empty()) settings.writeString("Files", "Dir", currentDirectory_);
    } else if (std::filesystem::is_directory(dir, error)) {
        form_.control(Control::DirectoryListBox1).setCaption(dir);
    } else {
        form_.ui().showMessage(MessageKind::Warning, "Previously used directory " + dir + " not found");
    }
    if (settings.readString("Files", "Lasttype", "none") == "none") settings.writeString("Files", "Lasttype", "AVI");
    if (const std::string saveDir = settings.readString("Files", "SaveDir", "nonex");
        (saveDir == "nonex" || saveDir.empty()) && !currentDirectory_.empty())
        settings.writeString("Files", "SaveDir", currentDirectory_);
    form_.control(Control::PageControl1).setItemIndex(0);
}

void StartUp::FormShow() {
    settingsFile_.restore(form_);
    // Where the file could not be written at start it still holds the boxes
    // of the last close; nothing is loaded for them to use.
    const Workspace& w = form_.workspace();
    if (w.DarkWidth == 0) form_.control(Control::UseDarkFrame).setChecked(false);
    if (w.FlatWidth == 0) form_.control(Control::UseFlatfield).setChecked(false);
}

void StartUp::loadStartupFile(const StartupFile& file) {
    ProjectFile& project = form_.project();
    project.openDialogFile = file.path;
    project.openDialogFilterIndex = file.filterIndex;
    project.autoLoad = true;
    form_.control(Control::LoadProject).click();
    project.autoLoad = false;
}

void StartUp::openArguments(const std::vector<std::string>& arguments) {
    if (const auto file = startupFileOf(arguments)) return loadStartupFile(*file);
    if (arguments.empty()) return;
    form_.ui().showMessage(MessageKind::Information,
                           "Planexor opens one project (.pxp) or frame list (.pxl) named when it starts; open " +
                               arguments.front() + " with Select input.");
}

void StartUp::FormClose() {
    settingsFile_.save(form_);
    form_.settings().flush();
}

}  // namespace planexor
