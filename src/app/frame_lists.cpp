// The frame list and the stack list, and the frame list file.
#include "app/frame_lists.h"

#include <algorithm>

#include "app/main_form.h"
#include "core/ascii_text.h"
#include "core/error.h"
#include "core/file_io.h"
#include "core/pixel.h"
#include "input/frame_list_file.h"
#include "input/still_frames.h"

namespace planexor {
namespace {

const std::vector<std::string> SaveFilters = {"Planexor Frame list|*.pxl"};
const std::vector<std::string> OpenFilters = {"Planexor Framelist|*.pxl"};
constexpr const char* TooManyFrames = "Warning : only the first 2500 frames will be processed";
constexpr int NamesShown = 5;

bool endsInJpg(const std::string& path) {
    return path.size() >= 3 && equalIgnoringAsciiCase(std::string_view(path).substr(path.size() - 3), "jpg");
}

}  // namespace

FrameLists::FrameLists(TMainForm& form)
    : form_(form), ui_(form.ui()), settings_(form.settings()), workspace_(&form.workspace()) {}

ControlModel& FrameLists::control(Control id) { return form_.control(id); }

void FrameLists::recount() {
    Workspace& w = *workspace_;
    form_.showFrameState();
    w.usedframes = w.countUsedFrames(nearest(control(Control::PreviewSlider).maximum()));
    form_.updateFramesLabel();
}

void FrameLists::toggleSelected(Control list, bool focusedAgain) {
    Workspace& w = *workspace_;
    ControlModel& model = control(list);
    ControlModel& frames = control(Control::SelectFramesChecklist);
    const bool ranks = list == Control::StackFramesList;
    const auto toggle = [&](int row) {
        if (row < 0 || row >= static_cast<int>(model.listItems().size())) return;
        const bool marked = !model.listItems()[row].checked;
        model.setListItemChecked(row, marked);
        const int frame = std::clamp(ranks ? w.Ranking[std::min(row, LastFrameNumber)].Frame : row, 0, LastFrameNumber);
        w.FrameRecs[frame].Excluded = marked ? 0 : 1;
        if (ranks) frames.setListItemChecked(frame, marked);
    };
    const std::vector<int> selected = model.listSelection();
    for (const int row : selected) toggle(row);
    if (focusedAgain) toggle(model.selectedListItem());
}

void FrameLists::SelectFramesChecklistClick() {
    const int row = control(Control::SelectFramesChecklist).selectedListItem();
    if (row >= 0 && workspace_->SequenceOpen) control(Control::PreviewSlider).setValueByUser(row);
}

void FrameLists::SelectFramesChecklistClickCheck() {
    toggleSelected(Control::SelectFramesChecklist, true);
    recount();
}

void FrameLists::SelectFramesChecklistDblClick() {
    toggleSelected(Control::SelectFramesChecklist, false);
    recount();
}

void FrameLists::StackFramesListClick() {
    const int row = control(Control::StackFramesList).selectedListItem();
    if (row >= 0) control(Control::StackSlider).setValueByUser(row);
}

void FrameLists::listRanks(int ranks) {
    const Workspace& w = form_.workspace();
    ControlModel& stackList = control(Control::StackFramesList);
    const auto& frameItems = control(Control::SelectFramesChecklist).listItems();
    stackList.clearList();
    for (int rank = 0; rank < std::min(ranks, MaxFrames); ++rank) {
        const int frame = w.Ranking[rank].Frame;
        if (frame >= 0 && frame < static_cast<int>(frameItems.size()))
            stackList.addListItem(frameItems[frame].text, frameItems[frame].checked);
    }
}

// The stack list's toggles leave the counter as it was: the next stacking
// run skips the excluded frames.
void FrameLists::StackFramesListClickCheck() { toggleSelected(Control::StackFramesList, true); }

void FrameLists::StackFramesListDblClick() { toggleSelected(Control::StackFramesList, false); }

void FrameLists::BitBtn4Click() { markEveryFrame(true); }

void FrameLists::BitBtn5Click() { markEveryFrame(false); }

// "Set all" and "Set none".
void FrameLists::markEveryFrame(bool used) {
    Workspace& w = *workspace_;
    ControlModel& list = control(Control::SelectFramesChecklist);
    const int last = std::min(nearest(control(Control::PreviewSlider).maximum()), LastFrameNumber);
    for (int i = 0; i <= last; ++i) {
        w.FrameRecs[i].Excluded = used ? 0 : 1;
        list.setListItemChecked(i, used);
    }
    recount();
}

// ------------------------------------------------------------ the file

void FrameLists::saveFrameList(const std::string& path) {
    const Workspace& w = *workspace_;
    // A video's frames have no files: such a list would hold only empty lines.
    if (!w.StillFrames || !w.SequenceOpen)
        throw PlanexorError("Only a sequence of still frames can be saved as a frame list: " + path);
    const auto& items = control(Control::SelectFramesChecklist).listItems();
    const int last = std::min(nearest(control(Control::PreviewSlider).maximum()), LastFrameNumber);
    std::vector<std::string> paths;
    for (int i = 0; i <= last && i < static_cast<int>(items.size()); ++i)
        if (items[i].checked) paths.push_back(w.FrameFiles[i]);
    writeFileAtomically(path, frameListText(paths));
}

void FrameLists::FramelistsavebuttonClick() {
    FileDialogRequest request;
    request.dialog = "SaveDialog2";
    request.filters = SaveFilters;
    request.defaultExtension = "pxl";
    request.directory = form_.sequenceDirectory();
    request.save = true;
    const FileDialogAnswer answer = ui_.runFileDialog(request);
    if (!answer.accepted || answer.files.empty()) return;
    saveFrameList(answer.files.front());
}

FrameLists::CheckedList FrameLists::checkList(const std::string& listPath, int room, int width, int height) {
    std::vector<std::string> lines = readFrameListFile(listPath);
    if (lines.empty()) throw PlanexorError("Frame list " + listPath + " holds no frame paths");
    const bool tooMany = static_cast<int>(lines.size()) > room;
    if (tooMany) lines.resize(static_cast<std::size_t>(std::max(room, 0)));

    CheckedList list;
    list.width = width;
    list.height = height;
    std::vector<std::string> missing;
    std::string firstFailure;
    bool mixed = false;
    for (const std::string& line : lines) {
        StillFrameSize size;
        try {
            size = stillFrameSize(line);
        } catch (const PlanexorError& error) {
            if (firstFailure.empty()) firstFailure = error.what();
            missing.push_back(line);
            continue;
        }
        if (list.width == 0) {
            list.width = size.width;
            list.height = size.height;
        }
        mixed = mixed || size.width != list.width || size.height != list.height;
        list.paths.push_back(line);
    }
    if (list.paths.empty())
        throw PlanexorError("None of the frames of frame list " + listPath + " can be read (" + firstFailure + ")");

    if (!missing.empty()) {
        std::string names;
        for (int i = 0; i < static_cast<int>(missing.size()) && i < NamesShown; ++i)
            names += (i ? ", " : "") + missing[i];
        if (static_cast<int>(missing.size()) > NamesShown) names += ", ...";
        ui_.showMessage(MessageKind::Warning, "Frame list " + listPath + ": " + std::to_string(missing.size()) +
                                                  " frame file(s) missing or not BMP/JPG pictures, left out: " + names);
    }
    if (mixed)
        ui_.showMessage(MessageKind::Warning, "Frame list " + listPath + " holds frames of different sizes: they are "
                                                  "worked at " + std::to_string(list.width) + "x" +
                                                  std::to_string(list.height) + ", the size of the first frame");
    if (tooMany) ui_.showMessage(MessageKind::Warning, TooManyFrames);
    return list;
}

void FrameLists::openFrameList(const std::string& path) {
    Workspace& w = *workspace_;
    const CheckedList list = checkList(path, MaxFrames, 0, 0);
    const std::string& first = list.paths.front();
    // Decoded before anything changes, so a broken first frame leaves the old sequence.
    Bitmap24 firstFrame;
    loadStillFrame(first, firstFrame);

    const int count = static_cast<int>(list.paths.size());
    const bool jpeg = endsInJpg(first);
    form_.source_.reset();
    w.SingleImage = false;
    w.StillFrames = true;
    w.JpegFrames = jpeg;
    w.InputType = static_cast<std::uint8_t>(jpeg ? InputKind::Jpg : InputKind::Bmp);
    for (int i = 0; i < MaxFrames; ++i) w.FrameFiles[i] = i < count ? list.paths[i] : std::string();
    control(Control::AddFramesButton).setVisible(true);
    control(Control::Framelistsavebutton).setVisible(true);
    control(Control::Framelistloadbutton).setVisible(true);
    form_.setCaption(std::string(jpeg ? "Planexor processing JPG: " : "Planexor processing BMP: ") + first);
    control(Control::Showpanel).setVisible(false);
    control(Control::Frontpanel).setVisible(true);
    control(Control::FFTsizeGroup).setVisible(true);
    control(Control::UseFramesign).setVisible(true);
    form_.offerCalibrationMaking();
    settings_.writeString("Files", "Lasttype", jpeg ? "JPG" : "BMP");
    // Frames are found by the folder of the first; a project saved next names them from there.
    form_.setSequenceDirectory(directoryOf(first));
    w.SourceFile = fileNameOf(first);

    form_.preview_ = firstFrame;
    w.ImageWidth = w.FrameWidth = w.OrigWidth = firstFrame.width();
    w.ImageHeight = w.FrameHeight = w.OrigHeight = firstFrame.height();
    if (w.OrigWidth > MaxImageSide || w.OrigHeight > MaxImageSide) {
        ui_.showMessage(MessageKind::Warning, "BMP or JPEG too large (max 1024x1024) !!!!");
        w.ImageWidth = w.FrameWidth = std::min(w.OrigWidth, MaxImageSide);
        w.ImageHeight = w.FrameHeight = std::min(w.OrigHeight, MaxImageSide);
    }

    // A new sequence: nothing of the old ranking, stack list or pages may
    // stay, or a stack would pick new frames by old ranks.
    for (TFrameRec& record : w.FrameRecs) record = TFrameRec{};
    w.Ranking.fill(TRankEntry{});
    w.progstatus = 0;
    form_.RubberX = form_.RubberY = -1;
    form_.showTabs(false, false, false);
    control(Control::StackFramesList).clearList();
    control(Control::Optimizebutton).setEnabled(false);
    control(Control::differencecutslider).setValue(100);
    control(Control::PreviewSlider).setRange(0, count - 1);
    control(Control::AlignSlider).setRange(0, count - 1);
    control(Control::StackSlider).setRange(0, count - 1);
    form_.source_ = std::make_unique<StillFrameSource>(w.FrameFiles, count, jpeg);
    if (w.ImageWidth < 128 || w.ImageHeight < 128) {
        control(Control::FFTsizeGroup).setItemIndex(0);
        control(Control::FFTWindow).setCaption("FFT spectrum 64x64");
    }
    form_.fft().SetupFFT(form_.alignBoxSize());
    w.SequenceOpen = true;
    form_.sequenceOpenedThisRun_ = true;
    form_.buildFrameList();
    control(Control::PreviewSlider).setValue(0);
    form_.PreviewSliderChange();
}

// "Load" and "Add" ask for a list the same way; empty when the dialog is cancelled.
std::string FrameLists::askForList() {
    FileDialogRequest request;
    request.dialog = "OpenDialog1";
    request.filters = OpenFilters;
    request.defaultExtension = "pxl";
    request.directory = form_.sequenceDirectory();
    const FileDialogAnswer answer = ui_.runFileDialog(request);
    return answer.accepted && !answer.files.empty() ? answer.files.front() : std::string();
}

void FrameLists::FramelistloadbuttonClick() {
    if (const std::string path = askForList(); !path.empty()) openFrameList(path);
}

void FrameLists::addFrameList(const std::string& path) {
    Workspace& w = *workspace_;
    if (!w.SequenceOpen || !w.StillFrames || w.SingleImage)
        throw PlanexorError("Frames can only be added to a sequence of still frames: open a frame list first");
    ControlModel& items = control(Control::SelectFramesChecklist);
    const int start = static_cast<int>(items.listItems().size());
    if (start >= MaxFrames) {
        ui_.showMessage(MessageKind::Warning, TooManyFrames);
        return;
    }
    const CheckedList list = checkList(path, MaxFrames - start, w.OrigWidth, w.OrigHeight);
    const int count = start + static_cast<int>(list.paths.size());
    for (int i = start; i < count; ++i) {
        const std::string& frame = list.paths[static_cast<std::size_t>(i - start)];
        w.FrameFiles[i] = frame;
        // Appended frames take part, whatever their slots held before.
        w.FrameRecs[i] = TFrameRec{};
        settings_.writeString("Files", "Dir", directoryOf(frame));
        items.addListItem(fileNameOf(frame), true);
    }
    control(Control::PreviewSlider).setRange(0, count - 1);
    control(Control::AlignSlider).setRange(0, count - 1);
    control(Control::StackSlider).setRange(0, count - 1);
    form_.source_ = std::make_unique<StillFrameSource>(w.FrameFiles, count, w.JpegFrames);
    // The ranking holds the frames aligned before: the added ones are in no
    // stack until the sequence is aligned again.
    if (w.progstatus >= 2) form_.stackPage().dropAlignment();
    // The counter under the preview counts the added frames too.
    control(Control::Label9).setCaption(std::to_string(control(Control::PreviewSlider).intValue() + 1) + " / " +
                                        std::to_string(count));
    recount();
}

void FrameLists::AddFramesButtonClick() {
    if (const std::string path = askForList(); !path.empty()) addFrameList(path);
}

void FrameLists::bindHandlers() {
    // Changing the exclusions under a running loop would change what it skips.
    form_.bind(Control::SelectFramesChecklist, "SelectFramesChecklistClick", true,
               [this] { SelectFramesChecklistClick(); });
    form_.bind(Control::StackFramesList, "StackFramesListClick", true, [this] { StackFramesListClick(); });
    form_.bind(Control::BitBtn4, "BitBtn4Click", true, [this] { BitBtn4Click(); });
    form_.bind(Control::BitBtn5, "BitBtn5Click", true, [this] { BitBtn5Click(); });
    form_.bind(Control::Framelistsavebutton, "FramelistsavebuttonClick", true, [this] { FramelistsavebuttonClick(); });
    form_.bind(Control::Framelistloadbutton, "FramelistloadbuttonClick", true, [this] { FramelistloadbuttonClick(); });
    form_.bind(Control::AddFramesButton, "AddFramesButtonClick", true, [this] { AddFramesButtonClick(); });
}

}  // namespace planexor
