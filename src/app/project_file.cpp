#include "app/project_file.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/big_ini_file.h"
#include "app/control_table.h"
#include "app/main_form.h"
#include "core/ascii_text.h"
#include "core/error.h"
#include "core/file_io.h"
#include "core/pixel.h"
#include "input/avi_reader.h"
#include "input/ser_reader.h"
#include "input/still_frames.h"

namespace planexor {
namespace {

constexpr int MaxShift = 4096;
const char* const Input = "Input";
const char* const Shifts = "Shifts";
const char* const Info = "Info";
const char* const FieldShifts = "IShifts";
const char* const FieldInfo = "IInfo";
const char* const RankingSection = "Ranking";
// The sub-pixel fractions, only when a frame has one: readers that know
// nothing of them see the whole shifts they always saw.
const char* const SubShifts = "SubShifts";
// No value of a project holds a line break: this marks a missing key.
const char* const Missing = "\n";

const char* const ProcessingKeys[11] = {"layer1",  "layer2", "layer3",    "layer4",   "layer5",    "layer6",
                                        "initial", "step",   "scaletype", "contrast", "brightness"};
// By InputType.
const std::vector<std::string> FileTypes = {"AVI", "BMP", "FIT", "JPG", "SER"};

bool isVideo(const std::string& filetype) { return filetype == "AVI" || filetype == "SER"; }

bool fileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

std::string key(const char* prefix, int number) { return prefix + std::to_string(number); }

[[noreturn]] void refuse(const std::string& section, const std::string& keyName, const std::string& value,
                         const std::string& expected) {
    throw PlanexorError("The project cannot be loaded: [" + section + "] " + keyName + "=" + value + " (" + expected +
                        ")");
}

// Reads the project's keys with their defaults and checks every number.
class ProjectReader {
public:
    explicit ProjectReader(const TBigIniFile& ini) : ini_(ini) {}

    std::optional<std::string> text(const char* section, const std::string& keyName) const {
        std::string value = ini_.ReadString(section, keyName, Missing);
        if (value == Missing) return std::nullopt;
        return value;
    }
    // Text that is no integer takes the default, as a missing key does; the
    // range is checked either way.
    int integer(const char* section, const std::string& keyName, int fallback, int low, int high) const {
        const int number = ini_.ReadInteger(section, keyName, fallback);
        if (number < low || number > high)
            refuse(section, keyName, text(section, keyName).value_or(std::to_string(number)),
                   "expected " + std::to_string(low) + " to " + std::to_string(high));
        return number;
    }
    float decimal(const char* section, const std::string& keyName) const {
        // No number reads as NaN: then it is either missing (0) or refused.
        const float number = ini_.ReadFloat(section, keyName, std::numeric_limits<float>::quiet_NaN());
        if (!std::isnan(number)) return number;
        const auto value = text(section, keyName);
        if (value) refuse(section, keyName, *value, "not a number");
        return 0.0f;
    }

    // A sub-pixel fraction: within one pixel either way.
    float fraction(const char* section, const std::string& keyName) const {
        const float number = decimal(section, keyName);
        if (number < -1.0f || number > 1.0f) refuse(section, keyName, *text(section, keyName), "expected -1 to 1");
        return number;
    }

private:
    const TBigIniFile& ini_;
};

bool formChecked(const FormPairs& form, const std::string& name) {
    for (const auto& [keyName, value] : form) {
        if (!equalIgnoringAsciiCase(keyName, name)) continue;
        return lowerAsciiText(value) == "true" || parseInteger(value).value_or(0) != 0;
    }
    return false;
}

int percentOf(int i, int count, int span, int base) {
    // One frame: the gauge stays at the group's base.
    return count <= 1 ? base : nearest(static_cast<double>(i) / (count - 1) * span + base);
}

}  // namespace

void writeProject(TBigIniFile& ini, const ProjectData& p, const ProjectProgress& progress) {
    const auto group = [&](const char* detail) {
        if (progress.group) progress.group(detail);
    };
    const auto gauge = [&](int percent) {
        if (progress.gauge) progress.gauge(percent);
    };
    ini.WriteString(Input, "filetype", p.filetype);
    ini.WriteString(Input, "filedir", p.filedir);
    if (isVideo(p.filetype)) ini.WriteString(Input, "filename", p.filename);
    if (p.dark) {
        ini.WriteString(Input, "darkfile", p.dark->first);
        ini.WriteInteger(Input, "darkfiletype", p.dark->second);
    }
    if (p.flat) {
        ini.WriteString(Input, "flatfile", p.flat->first);
        ini.WriteInteger(Input, "flatfiletype", p.flat->second);
    }
    ini.WriteInteger(Input, "sequencelength", p.sequencelength);
    ini.WriteInteger(Input, "progstatus", p.progstatus);
    if (p.activepage >= 1 && p.activepage <= 4) ini.WriteInteger(Input, "activepage", p.activepage);
    ini.WriteInteger(Input, "usedframes", p.usedframes);
    ini.WriteInteger(Input, "refframe", p.refframe);
    if (p.stackslider) ini.WriteInteger(Input, "stackslider", *p.stackslider);
    if (p.stackdifslider) ini.WriteInteger(Input, "stackdifslider", *p.stackdifslider);
    if (p.processing) {
        for (int i = 0; i < 11; ++i) ini.WriteInteger(Input, ProcessingKeys[i], (*p.processing)[i]);
    }
    ini.WriteInteger(Input, "hotx", p.hotx);
    ini.WriteInteger(Input, "hoty", p.hoty);
    ini.WriteInteger(Input, "stackx", p.stackx);
    ini.WriteInteger(Input, "stacky", p.stacky);
    for (std::size_t i = 0; i < p.frameFiles.size(); ++i) ini.WriteString(Input, key("im", int(i)), p.frameFiles[i]);

    const int n = static_cast<int>(p.frames.size());
    for (int i = 0; i < n; ++i) {
        ini.WriteBool(Input, key("Ex", i), p.frames[i].Excluded != 0);
        gauge(percentOf(i, n, 33, 0));
    }
    group("-X,Y shifts ");
    for (int i = 0; i < n; ++i) {
        ini.WriteInteger(Shifts, key("X", i), p.frames[i].ShiftX);
        ini.WriteInteger(Shifts, key("Y", i), p.frames[i].ShiftY);
        gauge(percentOf(i, n, 33, 33));
    }
    group("-Difference, Quality ");
    for (int i = 0; i < n; ++i) {
        ini.WriteFloat(Info, key("D", i), p.frames[i].Difference);
        ini.WriteFloat(Info, key("Q", i), p.frames[i].Quality);
        gauge(percentOf(i, n, 33, 66));
    }
    if (p.interlaced) {
        group("-Interlace info ");
        for (int i = 0; i < n; ++i) {
            ini.WriteInteger(FieldShifts, key("Xa", i), p.frames[i].FieldShiftX);
            ini.WriteInteger(FieldShifts, key("Ya", i), p.frames[i].FieldShiftY);
            gauge(percentOf(i, n, 50, 0));
        }
        for (int i = 0; i < n; ++i) {
            ini.WriteFloat(FieldInfo, key("Da", i), p.frames[i].FieldDifference);
            ini.WriteFloat(FieldInfo, key("Qa", i), p.frames[i].FieldQuality);
            gauge(percentOf(i, n, 50, 50));
        }
    }
    const bool fractions = std::any_of(p.frames.begin(), p.frames.end(), [&](const TFrameRec& f) {
        return f.SubShiftX != 0 || f.SubShiftY != 0 || (p.interlaced && (f.FieldSubShiftX != 0 || f.FieldSubShiftY != 0));
    });
    if (fractions) {
        for (int i = 0; i < n; ++i) {
            ini.WriteFloat(SubShifts, key("X", i), p.frames[i].SubShiftX);
            ini.WriteFloat(SubShifts, key("Y", i), p.frames[i].SubShiftY);
            if (p.interlaced) {
                ini.WriteFloat(SubShifts, key("Xa", i), p.frames[i].FieldSubShiftX);
                ini.WriteFloat(SubShifts, key("Ya", i), p.frames[i].FieldSubShiftY);
            }
        }
    }
    group(" Ranking ");
    for (std::size_t r = 0; r < p.ranking.size(); ++r) ini.WriteInteger(RankingSection, key("Rank", int(r)), p.ranking[r]);
    ini.EraseSection(FormSection);
    ini.WriteSectionPairs(FormSection, p.form);
    if (!p.extensions.empty()) ini.WriteSectionPairs(ExtensionSection, p.extensions);
}

ProjectData readProject(const TBigIniFile& ini) {
    std::vector<std::string> sections;
    ini.ReadSections(sections);
    if (std::none_of(sections.begin(), sections.end(), [](const std::string& s) {
            return equalIgnoringAsciiCase(s, "input");
        }))
        throw PlanexorError("This is not a Planexor project: " + ini.FileName() + " has no [Input] section");

    const ProjectReader in(ini);
    ProjectData p;
    p.form = ini.ReadSectionPairs(FormSection);
    p.extensions = ini.ReadSectionPairs(ExtensionSection);
    p.filetype = in.text(Input, "filetype").value_or("xxx");
    // A file without a type was taken for still frames.
    if (p.filetype == "xxx") p.filetype = "BMP";
    if (std::find(FileTypes.begin(), FileTypes.end(), p.filetype) == FileTypes.end())
        refuse(Input, "filetype", p.filetype, "expected AVI, BMP, FIT, JPG or SER");
    p.filedir = in.text(Input, "filedir").value_or("");
    if (isVideo(p.filetype)) p.filename = in.text(Input, "filename").value_or("xxxx");
    if (formChecked(p.form, "UseDarkFrame_Checked"))
        p.dark = {in.text(Input, "darkfile").value_or("xxx"), in.integer(Input, "darkfiletype", 0, 1, 3)};
    if (formChecked(p.form, "UseFlatfield_Checked"))
        p.flat = {in.text(Input, "flatfile").value_or("xxx"), in.integer(Input, "flatfiletype", 0, 1, 3)};
    const int n = p.sequencelength = in.integer(Input, "sequencelength", 0, 1, p.filetype == "FIT" ? 1 : MaxFrames);
    p.progstatus = in.integer(Input, "progstatus", 0, 0, 4);
    if (const auto page = in.text(Input, "activepage")) {
        p.activepage = parseInteger(*page).value_or(-1);
        if (p.activepage < 1 || p.activepage > 4) p.activepage = -1;
    }
    p.refframe = in.integer(Input, "refframe", 0, 0, n - 1);
    if (in.text(Input, "stackslider")) p.stackslider = in.integer(Input, "stackslider", 0, 0, n - 1);
    if (in.text(Input, "stackdifslider")) p.stackdifslider = in.integer(Input, "stackdifslider", 0, 0, 100);
    if (in.text(Input, "layer1")) {
        std::array<int, 11> info{};
        for (int i = 0; i < 11; ++i) info[i] = ini.ReadInteger(Input, ProcessingKeys[i], 0);
        p.processing = info;
    }
    // hotx .. stacky are checked against the frame once its size is known.
    p.hotx = in.integer(Input, "hotx", 0, 0, MaxImageSide);
    p.hoty = in.integer(Input, "hoty", 0, 0, MaxImageSide);
    p.stackx = in.integer(Input, "stackx", 0, 0, MaxImageSide);
    p.stacky = in.integer(Input, "stacky", 0, 0, MaxImageSide);
    if (!isVideo(p.filetype))
        for (int i = 0; i < n; ++i) p.frameFiles.push_back(in.text(Input, key("im", i)).value_or(" "));

    p.interlaced = formChecked(p.form, "Interlaced_Checked");
    p.frames.resize(static_cast<std::size_t>(n));
    // The writer gives an aligned project every shift and rank; one without
    // them was cut short, and their defaults would stack one frame many times.
    const auto present = [&](const char* section, const std::string& keyName) {
        if (p.progstatus >= 2 && !in.text(section, keyName))
            throw PlanexorError("The project cannot be loaded: [" + std::string(section) + "] " + keyName +
                                " is missing (the file is incomplete)");
    };
    for (int i = 0; i < n; ++i) {
        TFrameRec& frame = p.frames[i];
        present(Shifts, key("X", i));
        present(Shifts, key("Y", i));
        frame.Excluded = ini.ReadBool(Input, key("Ex", i), false) ? 1 : 0;
        frame.ShiftX = in.integer(Shifts, key("X", i), 0, -MaxShift, MaxShift);
        frame.ShiftY = in.integer(Shifts, key("Y", i), 0, -MaxShift, MaxShift);
        frame.Difference = in.decimal(Info, key("D", i));
        frame.Quality = in.decimal(Info, key("Q", i));
        if (p.interlaced) {
            frame.FieldShiftX = in.integer(FieldShifts, key("Xa", i), 0, -MaxShift, MaxShift);
            frame.FieldShiftY = in.integer(FieldShifts, key("Ya", i), 0, -MaxShift, MaxShift);
            frame.FieldDifference = in.decimal(FieldInfo, key("Da", i));
            frame.FieldQuality = in.decimal(FieldInfo, key("Qa", i));
            frame.FieldSubShiftX = in.fraction(SubShifts, key("Xa", i));
            frame.FieldSubShiftY = in.fraction(SubShifts, key("Ya", i));
        }
        frame.SubShiftX = in.fraction(SubShifts, key("X", i));
        frame.SubShiftY = in.fraction(SubShifts, key("Y", i));
        if (!frame.Excluded) ++p.usedframes;
    }
    const int missingRank = std::min(1, n - 1);
    for (int r = 0; r < n; ++r) {
        present(RankingSection, key("Rank", r));
        p.ranking.push_back(in.integer(RankingSection, key("Rank", r), missingRank, 0, n - 1));
    }
    return p;
}

// ---------------------------------------------------------------- the handlers

ProjectFile::ProjectFile(TMainForm& form) : form_(form) {}

void ProjectFile::bindHandlers() {
    form_.bind(Control::SaveProject, "SaveProjectClick", true, [this] { SaveProjectClick(); });
    form_.bind(Control::LoadProject, "LoadProjectClick", true, [this] { LoadProjectClick(); });
}

bool ProjectFile::hasWork() const {
    const Workspace& w = form_.workspace();
    return w.SequenceOpen || (w.InputType == static_cast<std::uint8_t>(InputKind::Fits) && w.SourceFile != "none");
}

void ProjectFile::SaveProjectClick() {
    if (!hasWork()) throw PlanexorError("There is no work to save yet: open a sequence first");
    FileDialogRequest request;
    request.dialog = "SaveDialog3";
    request.filters = {"Planexor Projectfile (*.pxp)"};
    request.defaultExtension = "pxp";
    request.directory = form_.sequenceDirectory();
    request.fileName = baseNameOf(form_.workspace().SourceFile);
    request.save = true;
    request.asksBeforeReplacing = true;
    const FileDialogAnswer answer = form_.ui().runFileDialog(request);
    if (!answer.accepted || answer.files.empty()) return;
    std::string path = answer.files.front();
    if (lowerExtensionOf(path).empty()) path += ".pxp";
    if (fileExists(path) && !form_.ui().askYesNo(MessageKind::Warning, " Overwrite existing projectfile ?")) return;
    save(path);
}

ProjectData ProjectFile::capture() const {
    const Workspace& w = form_.workspace();
    ProjectData p;
    p.filetype = FileTypes[std::min<std::size_t>(w.InputType, FileTypes.size() - 1)];
    // Whoever reopens it may start elsewhere.
    std::error_code error;
    // A sequence opened by a bare name lies in the current directory.
    const std::string directory = form_.sequenceDirectory().empty() ? "." : form_.sequenceDirectory();
    p.filedir = std::filesystem::absolute(directory, error).lexically_normal().string();
    if (p.filedir.size() > 1 && p.filedir.back() == '/') p.filedir.pop_back();
    if (isVideo(p.filetype)) p.filename = w.SourceFile;
    if (form_.control(Control::UseDarkFrame).checked()) p.dark = {w.darkfile, w.darkfiletype};
    if (form_.control(Control::UseFlatfield).checked()) p.flat = {w.flatfile, w.flatfiletype};
    const bool fits = p.filetype == "FIT";
    const int n = fits ? 1 : form_.frameCount();
    p.sequencelength = n;
    p.progstatus = w.progstatus;
    const int page = form_.control(Control::PageControl1).itemIndex();
    p.activepage = page < 4 ? page + 1 : 0;
    p.usedframes = fits ? 1 : w.countUsedFrames(n - 1);
    p.refframe = std::clamp(w.refframe, 0, n - 1);
    if (w.progstatus > 3) {
        p.stackslider = form_.control(Control::StackSlider).intValue();
        p.stackdifslider = form_.control(Control::differencecutslider).intValue();
    }
    if (w.progstatus == 4) {
        std::array<int, 11> info{};
        for (int layer = 0; layer < 6; ++layer) info[layer] = form_.control(GainSliders[layer]).intValue();
        info[6] = nearest(form_.control(Control::LevelStep).value());
        info[7] = nearest(form_.control(Control::Multiplicant).value());
        info[8] = form_.control(Control::Scaletype).itemIndex();
        info[9] = form_.control(Control::ContrastSlider).intValue();
        info[10] = form_.control(Control::BrightnessSlider).intValue();
        p.processing = info;
    }
    p.hotx = w.hotx;
    p.hoty = w.hoty;
    p.stackx = w.stackx;
    p.stacky = w.stacky;
    if (w.StillFrames || fits) {
        for (int i = 0; i < n; ++i) {
            // The FITS frame is the sequence's one file.
            const std::string& file = fits ? joinPath(form_.sequenceDirectory(), w.SourceFile) : w.FrameFiles[i];
            const std::string full = std::filesystem::absolute(file, error).lexically_normal().string();
            p.frameFiles.push_back(directoryOf(full) == p.filedir ? fileNameOf(full) : full);
        }
    }
    p.interlaced = form_.control(Control::Interlaced).checked();
    for (int i = 0; i < n; ++i) {
        TFrameRec frame = w.FrameRecs[i];
        if (!p.interlaced)
            frame.FieldShiftX = frame.FieldShiftY = 0, frame.FieldDifference = frame.FieldQuality = 0,
            frame.FieldSubShiftX = frame.FieldSubShiftY = 0;
        p.frames.push_back(frame);
        p.ranking.push_back(std::clamp(w.Ranking[i].Frame, 0, n - 1));
    }
    p.form = captureFormSection(form_);
    p.extensions = captureExtensionSection(form_);
    return p;
}

void ProjectFile::save(const std::string& path) {
    const ProjectData project = capture();
    ControlModel& window = form_.control(Control::MessageWindow);
    ControlModel& detail = form_.control(Control::Messagewinlabel2);
    ControlModel& gauge = form_.control(Control::Progressgraph);
    window.setVisible(true);
    form_.control(Control::messagewinlabel).setCaption("Writing projectfile");
    form_.ui().repaint(Control::MessageWindow);
    ProjectProgress progress;
    progress.group = [&](const std::string& text) {
        detail.setCaption(text);
        form_.ui().repaint(Control::MessageWindow);
    };
    progress.gauge = [&](int percent) { gauge.setValue(percent); };
    TBigIniFile ini;
    try {
        writeProject(ini, project, progress);
    } catch (...) {
        window.setVisible(false);
        throw;
    }
    detail.setCaption(" ");
    window.setVisible(false);
    // Saving a project also keeps its control values as the user's settings.
    if (form_.storeSettings) form_.storeSettings();
    ini.SaveAs(path);
}

void ProjectFile::LoadProjectClick() {
    std::string path = openDialogFile;
    int filterIndex = openDialogFilterIndex;
    if (!autoLoad) {
        FileDialogRequest request;
        request.dialog = "OpenDialog2";
        request.filters = {"Planexor Project File (*.pxp)", "Planexor Frame List (*.pxl)"};
        request.filterIndex = openDialogFilterIndex;
        request.defaultExtension = "PXP";
        request.directory = form_.sequenceDirectory();
        const FileDialogAnswer answer = form_.ui().runFileDialog(request);
        if (!answer.accepted || answer.files.empty()) return;
        path = answer.files.front();
        filterIndex = answer.filterIndex;
        openDialogFile = path;
        openDialogFilterIndex = filterIndex;
    }
    const struct AutoLoadEnds {
        bool& flag;
        ~AutoLoadEnds() { flag = false; }
    } autoLoadEnds{autoLoad};
    // A name typed in is opened for what its extension says, whatever filter showed.
    const std::string extension = lowerExtensionOf(path);
    if (extension == ".pxl" || (filterIndex == 2 && extension != ".pxp")) {
        form_.openFrameList(path);
    } else {
        load(path);
    }
}

std::string projectSequenceDirectory(const ProjectData& p, const std::string& projectFile) {
    // The first file the sequence needs: what tells whether a folder holds it.
    const std::string first = isVideo(p.filetype) ? p.filename : p.frameFiles.empty() ? std::string() : p.frameFiles[0];
    // A name, or a path under the sequence folder (written by hand).
    const bool bare = std::filesystem::path(first).is_relative();
    const std::string beside = directoryOf(std::filesystem::absolute(projectFile).string());
    // A folder written relative to something is relative to the project's own.
    const std::string stored =
        std::filesystem::path(p.filedir).is_relative() && !p.filedir.empty() ? joinPath(beside, p.filedir) : p.filedir;
    if (!bare || fileExists(joinPath(stored, first))) return stored;
    // A folder moved with its project: the sequence lies beside the project file.
    if (!first.empty() && fileExists(joinPath(beside, first))) return beside;
    return stored;
}

void ProjectFile::load(const std::string& path) {
    if (!fileExists(path)) throw PlanexorError("The project file " + path + " does not exist");
    std::unique_ptr<TBigIniFile> ini = std::make_unique<TBigIniFile>(path);
    const ProjectData project = readProject(*ini);
    ini.reset();

    form_.settings().writeString("Files", "Dir", directoryOf(std::filesystem::absolute(path).string()));
    // A project refused below leaves the controls, and the settings, as they were.
    const FormPairs formBefore = captureFormSection(form_), extensionsBefore = captureExtensionSection(form_);
    const auto restoreControls = [&](const FormPairs& formPairs, const FormPairs& extensions) {
        const DeferredFormValues deferred = restoreFormSection(form_, formPairs);
        restoreExtensionSection(form_, extensions);
        // The project's control values become the user's settings.
        if (form_.storeSettings) form_.storeSettings();
        return deferred;
    };
    const DeferredFormValues deferred = restoreControls(project.form, project.extensions);
    bool workGivenUp = false;
    try {
        checkAndOpen(project, path, deferred, workGivenUp);
    } catch (...) {
        if (!workGivenUp) restoreControls(formBefore, extensionsBefore);
        throw;
    }
}

void ProjectFile::checkAndOpen(const ProjectData& project, const std::string& path, const DeferredFormValues& deferred,
                               bool& workGivenUp) {
    Workspace& w = form_.workspace();

    const std::string directory = projectSequenceDirectory(project, path);
    const auto missing = [&](const std::string& kind, const std::string& name) {
        form_.control(Control::PageControl1).setItemIndex(0);
        form_.PageControl1Change();
        throw PlanexorError("Error : " + kind + " " + name + " missing, project not loaded");
    };
    std::vector<std::string> files;
    const bool video = isVideo(project.filetype);
    if (video) {
        if (!fileExists(joinPath(directory, project.filename)))
            missing(project.filetype == "AVI" ? "Avifile" : "SER file", project.filename);
        files.push_back(joinPath(directory, project.filename));
    } else {
        for (const std::string& file : project.frameFiles) {
            files.push_back(std::filesystem::path(file).is_relative() ? joinPath(directory, file) : file);
            if (!fileExists(files.back())) missing("Bitmapfile", fileNameOf(file));
        }
    }

    // A calibration file that cannot be loaded is reported and switched off;
    // the rest of the project still loads. One kept under the sequence's
    // folder is looked for where the sequence was found, if that moved.
    const auto relocated = [&](const std::string& file) {
        if (directory == project.filedir || fileExists(file)) return file;
        const std::filesystem::path inside = std::filesystem::path(file).lexically_relative(project.filedir);
        if (inside.empty() || *inside.begin() == "..") return file;
        const std::string moved = joinPath(directory, inside.string());
        return fileExists(moved) ? moved : file;
    };
    const auto loadCalibration = [&] {
        if (project.dark) form_.LoadDarkFile(relocated(project.dark->first), project.dark->second);
        if (project.flat) form_.LoadFlatFile(relocated(project.flat->first), project.flat->second);
    };

    // A single FITS frame or a single picture opens as the window opens
    // one, and is processed with the restored controls.
    if (project.filetype == "FIT" || (project.sequencelength == 1 && !video)) {
        workGivenUp = true;
        form_.processPage().SectionBox = {};
        loadCalibration();
        w.resetForOpening();
        form_.sequenceOpenedThisRun_ = true;
        form_.control(Control::Showpanel).setVisible(false);
        if (project.filetype == "FIT") form_.openFitsInput(files[0]);
        else form_.openStillFrames(files, project.filetype == "JPG");
        if (project.filetype == "FIT") w.FrameFiles[0] = files[0];
        showActivePage(project);
        return;
    }

    // The frames must be there and fit the stored positions before anything
    // of the open work is given up.
    Bitmap24 reference;
    if (video) {
        std::unique_ptr<FrameSource> reader;
        if (project.filetype == "SER") reader = std::make_unique<SerReader>(files[0]);
        else reader = std::make_unique<AviReader>(files[0]);
        if (reader->frameCount() < project.sequencelength)
            throw PlanexorError("The project cannot be loaded: the " + project.filetype + " file " + project.filename +
                                " holds " + std::to_string(reader->frameCount()) + " frames, the project " +
                                std::to_string(project.sequencelength));
        reader->decode(project.refframe, reference);
    } else {
        loadStillFrame(files[project.refframe], reference);
    }
    const int width = std::min(reference.width(), MaxImageSide);
    const int height = std::min(reference.height(), MaxImageSide);
    const auto outside = [&](const char* name, int value, int limit) {
        if (value >= limit) refuse(Input, name, std::to_string(value), "outside the frame of " + std::to_string(width) +
                                                                          " x " + std::to_string(height));
    };
    outside("hotx", project.hotx, width);
    outside("hoty", project.hoty, height);
    outside("stackx", project.stackx, std::max(width, 1));
    outside("stacky", project.stacky, std::max(height, 1));
    if (project.progstatus > 0) {
        const int half = form_.alignBoxSize() / 2;
        if (!(project.hotx > half && project.hotx < width - 1 - half && project.hoty > half &&
              project.hoty < height - 1 - half))
            refuse(Input, "hotx", std::to_string(project.hotx) + ", hoty=" + std::to_string(project.hoty),
                   "the alignment box does not fit in the frame");
    }

    workGivenUp = true;
    loadCalibration();
    form_.processPage().SectionBox = {};  // drawn on the last work's picture
    restoreWork(project, directory);
    rerunSteps(project, deferred);
    showActivePage(project);
}

void ProjectFile::restoreWork(const ProjectData& p, const std::string& directory) {
    Workspace& w = form_.workspace();
    const int n = p.sequencelength;
    w.resetForOpening();
    w.SequenceOpen = true;
    w.SingleImage = false;
    form_.sequenceOpenedThisRun_ = true;
    form_.showTabs(false, false, false);
    form_.control(Control::Showpanel).setVisible(false);
    form_.control(Control::Frontpanel).setVisible(true);
    form_.control(Control::FFTsizeGroup).setVisible(true);
    form_.control(Control::UseFramesign).setVisible(true);
    form_.offerCalibrationMaking();
    form_.control(Control::Optimizebutton).setEnabled(false);
    form_.control(Control::SaveButton).setEnabled(false);  // no stack of this work yet
    form_.control(Control::AutoProcessBox).setChecked(false);
    form_.control(Control::ProcessButton).setVisible(true);

    const bool video = isVideo(p.filetype);
    const auto type = std::find(FileTypes.begin(), FileTypes.end(), p.filetype) - FileTypes.begin();
    w.InputType = static_cast<std::uint8_t>(type);
    w.StillFrames = !video;
    w.JpegFrames = p.filetype == "JPG";
    form_.control(Control::Framelistsavebutton).setVisible(!video);
    form_.control(Control::Framelistloadbutton).setVisible(!video);
    if (video) form_.control(Control::AddFramesButton).setVisible(false);
    form_.control(Control::DirectoryListBox1).setCaption(directory);
    // The frames are read afresh from the files found.
    form_.source_.reset();
    form_.sourcePath_.clear();
    if (video) {
        w.SourceFile = p.filename;
        form_.setCaption("Planexor processing " + p.filetype + ": " + joinPath(directory, p.filename));
    } else {
        for (int i = 0; i < n; ++i) {
            const std::string& file = p.frameFiles[i];
            w.FrameFiles[i] = std::filesystem::path(file).is_relative() ? joinPath(directory, file) : file;
        }
        w.SourceFile = fileNameOf(w.FrameFiles[0]);
        form_.source_ = std::make_unique<StillFrameSource>(w.FrameFiles, n, w.JpegFrames);
    }
    w.progstatus = static_cast<std::uint8_t>(p.progstatus);
    w.refframe = p.refframe;
    w.hotx = p.hotx;
    w.hoty = p.hoty;
    w.stackx = p.stackx;
    w.stacky = p.stacky;

    ControlModel& preview = form_.control(Control::PreviewSlider);
    preview.setRange(0, n - 1);
    form_.control(Control::AlignSlider).setRange(0, n - 1);
    form_.control(Control::StackSlider).setRange(0, n - 1);
    form_.buildFrameList();

    const bool showProgress = n > 10;
    ControlModel& detail = form_.control(Control::Messagewinlabel2);
    if (showProgress) form_.control(Control::MessageWindow).setVisible(true);
    form_.control(Control::messagewinlabel).setCaption("Loading project");
    const auto group = [&](const char* text, int percent) {
        detail.setCaption(text);
        form_.control(Control::Progressgraph).setValue(percent);
        form_.ui().repaint(Control::MessageWindow);
    };
    group(" - excluded frames", 0);
    ControlModel& list = form_.control(Control::SelectFramesChecklist);
    for (int i = 0; i < n; ++i) {
        w.FrameRecs[i] = p.frames[i];
        list.setListItemChecked(i, p.frames[i].Excluded == 0);
    }
    group(" - X,Y shifts", 25);
    group(" - Quality,Difference", 50);
    if (p.interlaced) group(" - interlaced info", 75);
    group("- frame ranking ", 100);
    for (int r = 0; r < n; ++r) {
        w.Ranking[r].Frame = p.ranking[r];
        w.Ranking[r].Quality = w.FrameRecs[p.ranking[r]].Quality;
    }
    detail.setCaption(" ");
    w.usedframes = p.usedframes;
    form_.updateFramesLabel();

    preview.setValue(p.refframe);
    form_.PreviewSliderChange();
    preview.setRange(0, n - 1);  // an AVI may hold more frames than the work used
    w.ImageWidth = w.FrameWidth = w.OrigWidth = form_.previewBitmap().width();
    w.ImageHeight = w.FrameHeight = w.OrigHeight = form_.previewBitmap().height();
    form_.limitFrameSize();
    form_.alignPage().syncWithControls();
    form_.stackPage().noteAlignmentBasis();
    form_.control(Control::PageControl1).setItemIndex(0);
}

void ProjectFile::rerunSteps(const ProjectData& p, const DeferredFormValues& deferred) {
    Workspace& w = form_.workspace();
    form_.RubberX = form_.RubberY = -1;
    if (p.progstatus > 0) {
        form_.alignPage().restoreFeature();
        if (form_.control(Control::HintWindow).visible()) form_.help().showPanel(2);
        if (form_.control(Control::ShowFFTbox).checked()) form_.control(Control::FFTWindow).setVisible(true);
        if (form_.control(Control::Showgraphbox).checked()) form_.control(Control::Propertywindow).setVisible(true);
        form_.control(Control::SelectFrameswindow).setVisible(false);
    }
    // An aligned project reopens with its graph and its stack page: the
    // cut-offs and the stacked frames belong to the alignment, not to a stack.
    if (p.progstatus >= 2) {
        form_.DrawRegistrationGraph();
        form_.control(Control::TabSheet3).setVisible(true);
        if (const auto rank = p.stackslider ? std::optional<double>(*p.stackslider) : deferred.stackSlider)
            form_.control(Control::StackSlider).setValue(*rank);
        if (p.stackdifslider) form_.control(Control::differencecutslider).setValue(*p.stackdifslider);
        ControlModel& stacked = form_.control(Control::StackFramesList);
        stacked.clearList();
        for (int r = 0; r < w.usedframes; ++r) {
            const int frame = w.Ranking[r].Frame;
            stacked.addListItem(w.StillFrames ? fileNameOf(w.FrameFiles[frame]) : "Frame " + std::to_string(frame + 1),
                                w.FrameRecs[frame].Excluded == 0);
        }
    }
    if (p.progstatus == 4) {
        form_.control(Control::PageControl1).setItemIndex(2);
        form_.StackButtonClick();
        // Frames that no longer give a stack (all excluded by hand, say) leave
        // the work aligned, on the stack page, with the stack's warning shown.
        if (!w.StackReady) {
            w.progstatus = 2;
            return;
        }
        form_.control(Control::Stackframeswindow).setVisible(false);
        form_.control(Control::Propertywindow).setVisible(false);
        form_.control(Control::TabSheet4).setVisible(true);
        form_.control(Control::PageControl1).setItemIndex(3);
        form_.ChainRun = true;
        form_.ProcessButtonClick();
    }
}

void ProjectFile::showActivePage(const ProjectData& p) {
    // Saved on the About page: no key, the first page.
    int page = p.activepage == 0 ? 1 : p.activepage;
    // A page the reopened work has not reached (no stack came of it) stays
    // hidden: the last one it reached shows.
    if (page == 4 && !form_.control(Control::TabSheet4).visible()) page = 3;
    if (page == 3 && !form_.control(Control::TabSheet3).visible()) page = 2;
    if (page >= 1 && page <= 4) form_.control(Control::PageControl1).setItemIndex(page - 1);
    form_.PageControl1Change();
    form_.control(Control::Messagewinlabel2).setCaption(" ");
    form_.control(Control::MessageWindow).setVisible(false);
}

}  // namespace planexor
