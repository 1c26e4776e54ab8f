#pragma once
#include <string>

namespace planexor {

class TMainForm;
class UiServices;

// Dark frame and flat field: loading them with or without the dialog, and
// making new ones by stacking a sequence of calibration frames. What is
// loaded lives in the workspace (Dark*/Flat* planes, darkfile, darkfiletype,
// flatfile, flatfiletype) and stays in force across sequences.
class CalibrationActions {
public:
    explicit CalibrationActions(TMainForm& form);
    void bindHandlers();

    void LoadDarkframeClick();
    void FlatfieldbuttonClick();
    // Behind both Make buttons: stacks every frame that is not excluded at
    // its own position into an unstretched stack, for the user to save.
    void CreateDarkframeClick();
    // Loading without the dialog, as a project does. A missing or unreadable
    // file is reported, its use box unchecked, and false returned; the
    // previous calibration stays in force.
    bool LoadDarkFile(const std::string& path, int typeIndex);
    bool LoadFlatFile(const std::string& path, int typeIndex);

private:
    enum class Kind { Dark, Flat };
    void askAndLoad(Kind kind);
    void load(Kind kind, const std::string& path, int typeIndex, bool chosen);
    bool loadWithoutDialog(Kind kind, const std::string& path, int typeIndex);

    TMainForm& form_;
    UiServices& ui_;
};

}  // namespace planexor
