#pragma once
#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/form_state.h"
#include "core/workspace.h"

namespace planexor {

class TBigIniFile;
class TMainForm;

// One piece of work as a project file holds it: the sequence, how far the
// work came, every frame's results, the ranking and the "Form" values.
struct ProjectData {
    std::string filetype = "AVI";  // "AVI", "BMP", "FIT" or "JPG"
    std::string filedir;           // the sequence directory
    std::string filename;          // the AVI file, without directory
    // Written while their boxes are checked: file and filter index.
    std::optional<std::pair<std::string, int>> dark, flat;
    int sequencelength = 0;
    int progstatus = 0;
    int activepage = 0;  // 1..4; 0 when the About page showed, -1 for a value that is none of these
    int usedframes = 0;  // recounted from the exclusions on reading
    int refframe = 0;
    std::optional<int> stackslider, stackdifslider;
    // For information only, after stacking: layer1..layer6, initial, step,
    // scaletype, contrast, brightness. Never read back.
    std::optional<std::array<int, 11>> processing;
    int hotx = 0, hoty = 0, stackx = 0, stacky = 0;
    // Still frames (and the FITS frame): a bare name in the sequence
    // directory, a full path elsewhere.
    std::vector<std::string> frameFiles;
    bool interlaced = false;  // the field results are stored
    std::vector<TFrameRec> frames;
    std::vector<int> ranking;
    FormPairs form;
    FormPairs extensions;  // empty while those options are at their defaults

    bool operator==(const ProjectData&) const = default;
};

// Where a save or a load stands: a group's title and the gauge.
struct ProjectProgress {
    std::function<void(const std::string& detail)> group;
    std::function<void(int percent)> gauge;
};

void writeProject(TBigIniFile& ini, const ProjectData& project, const ProjectProgress& progress = {});
// Checks every number before anything uses it; a bad one throws
// PlanexorError naming the key and its value. Missing keys take their defaults.
ProjectData readProject(const TBigIniFile& ini);

// "Save Project" and "Load Project", with the start-up's auto-load.
// The folder a project's sequence is read from: the one stored (a relative
// one taken from the project's folder), else the project's own folder when
// the sequence lies there (moved together).
std::string projectSequenceDirectory(const ProjectData& project, const std::string& projectFile);

class ProjectFile {
public:
    explicit ProjectFile(TMainForm& form);
    void bindHandlers();

    void SaveProjectClick();
    void LoadProjectClick();

    // Set by the start-up: OpenDialog2's file and filter index are used as
    // they stand and no dialog shows.
    bool autoLoad = false;
    std::string openDialogFile;
    int openDialogFilterIndex = 1;

    // The open work as a project.
    ProjectData capture() const;
    void save(const std::string& path);
    void load(const std::string& path);

private:
    // What load does once the controls are restored: the checks of the
    // frames, then the work opened (workGivenUp set as the open work goes).
    void checkAndOpen(const ProjectData& project, const std::string& path, const DeferredFormValues& deferred,
                      bool& workGivenUp);
    bool hasWork() const;
    void restoreWork(const ProjectData& project, const std::string& directory);
    void rerunSteps(const ProjectData& project, const DeferredFormValues& deferred);
    void showActivePage(const ProjectData& project);

    TMainForm& form_;
};

}  // namespace planexor
