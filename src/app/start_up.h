#pragma once
#include <optional>
#include <string>
#include <vector>

namespace planexor {

class SettingsFile;
class TMainForm;

// A project or frame list named on the command line.
struct StartupFile {
    std::string path;
    int filterIndex = 1;  // OpenDialog2's: 1 project, 2 frame list
};

// Exactly one argument ending in ".pxp" or ".pxl", in any case; any other
// argument, or more than one, gives nothing. The toolkit's own options must
// be taken off first.
std::optional<StartupFile> startupFileOf(const std::vector<std::string>& arguments);

// The window program's start and end: the settings file restored and
// written anew, the user settings' first-start values, the first help
// panel, and the file given on the command line.
class StartUp {
public:
    // `currentDirectory`: the directory the program was started in, the one
    // the directory list shows until the user chooses another.
    StartUp(TMainForm& form, SettingsFile& settingsFile, std::string currentDirectory);

    void FormCreate();
    // When the window is first shown: the stored values once more, as the
    // settings file now holds them.
    void FormShow();
    void loadStartupFile(const StartupFile& file);
    // The command line's arguments: a project or frame list is loaded, and
    // anything else is answered, not passed over in silence.
    void openArguments(const std::vector<std::string>& arguments);
    // When the window closes: the control values to the settings file, the
    // user settings to theirs.
    void FormClose();

private:
    TMainForm& form_;
    SettingsFile& settingsFile_;
    std::string currentDirectory_;
};

}  // namespace planexor
