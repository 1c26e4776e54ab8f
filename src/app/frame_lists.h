#pragma once
#include <string>
#include <vector>

#include "app/control_id.h"

namespace planexor {

class ControlModel;
class TMainForm;
class UiServices;
class UserSettings;
struct Workspace;

// The two check lists through which frames take part or not (the frame list
// of the whole sequence and the ranked frames of the stack list) and the
// frame list file, which is saved from the one and opened, or added, as a
// sequence of still frames.
class FrameLists {
public:
    explicit FrameLists(TMainForm& form);
    void bindHandlers();

    void SelectFramesChecklistClick();
    void SelectFramesChecklistClickCheck();
    void SelectFramesChecklistDblClick();
    void BitBtn4Click();
    void BitBtn5Click();
    void FramelistsavebuttonClick();
    void FramelistloadbuttonClick();
    void AddFramesButtonClick();
    void StackFramesListClick();
    void StackFramesListClickCheck();
    void StackFramesListDblClick();

    // Opens a frame list file as a new sequence of still frames, without a
    // dialog. A list that cannot be used is refused with the workspace as it was.
    void openFrameList(const std::string& path);
    // Writes the marked frames' paths; refused for a video, whose frames have none.
    void saveFrameList(const std::string& path);
    // Appends the frames of a list to the open still-frame sequence.
    void addFrameList(const std::string& path);

    // UseFramesign, usedframes and the Frames text from the exclusions.
    void recount();
    void markEveryFrame(bool used);
    // The stack list anew: the frame of each of the first `ranks` ranks, marked as in the frame list.
    void listRanks(int ranks);
    std::string askForList();

private:
    ControlModel& control(Control id);
    // The paths of a list that exist as pictures, with the warnings that
    // belong to them; `room` frames fit. Throws when none is left.
    struct CheckedList {
        std::vector<std::string> paths;
        int width = 0, height = 0;
    };
    CheckedList checkList(const std::string& listPath, int room, int width, int height);
    // Toggles the selected rows of a list, then (check-mark clicks) the focused one again.
    void toggleSelected(Control list, bool focusedAgain);

    TMainForm& form_;
    UiServices& ui_;
    UserSettings& settings_;
    Workspace* workspace_;
};

}  // namespace planexor
