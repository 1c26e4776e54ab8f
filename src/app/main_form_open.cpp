// Opening a sequence and showing its frames.
#include <algorithm>

#include "app/main_form.h"
#include "app/run_scope.h"
#include "core/error.h"
#include "core/pixel.h"
#include "core/file_io.h"
#include "input/avi_reader.h"
#include "input/fits_reader.h"
#include "input/ser_reader.h"
#include "input/still_frames.h"

namespace planexor {
namespace {

// SER comes after the four older filters, whose indices stored settings rely on.
const std::vector<std::string> OpenFilters = {"Video (*.avi)", "Still frames (*.bmp)", "Single Fit frame (*.fit)",
                                              "Still frames (*.jpg)", "SER video (*.ser)"};
constexpr int SerFilter = 5;
constexpr const char* NoStillFrames = "No BMP or JPG files were selected";

int filterIndexOfType(const std::string& type) {
    if (type == "BMP") return 2;
    if (type == "FIT") return 3;
    if (type == "JPG") return 4;
    if (type == "SER") return SerFilter;
    return 1;
}


}  // namespace

std::optional<int> openFilterOfName(const std::string& path) {
    const std::string extension = lowerExtensionOf(path);
    if (extension == ".avi") return 1;
    if (extension == ".bmp") return 2;
    if (extension == ".fit" || extension == ".fits" || extension == ".fts") return 3;
    if (extension == ".jpg" || extension == ".jpeg") return 4;
    if (extension == ".ser") return SerFilter;
    return std::nullopt;
}

bool isStillFrameFile(const std::string& path) {
    const std::string extension = lowerExtensionOf(path);
    return extension == ".bmp" || extension == ".jpg" || extension == ".jpeg";
}

std::string TMainForm::sequenceDirectory() const { return control(Control::DirectoryListBox1).caption(); }

void TMainForm::setSequenceDirectory(const std::string& directory) {
    control(Control::DirectoryListBox1).setCaption(directory);
    settings_.writeString("Files", "Dir", directory);
}

void TMainForm::SelectFileButtonClick() {
    Workspace& w = *workspace_;
    // The work in hand is given up only once new input is chosen: a
    // cancelled dialog leaves it as it was.
    FileDialogRequest request;
    request.dialog = "AddBitmapDialog";
    request.filters = OpenFilters;
    request.filterIndex = filterIndexOfType(settings_.readString("Files", "Lasttype", "AVI"));
    request.directory = sequenceDirectory().empty() ? settings_.readString("Files", "Dir", "") : sequenceDirectory();
    request.multiple = true;
    const FileDialogAnswer answer = ui_.runFileDialog(request);
    if (!answer.accepted || answer.files.empty()) return;
    // A name typed in is opened for what it is, whatever filter showed.
    std::optional<int> named;
    for (const std::string& file : answer.files)
        if ((named = openFilterOfName(file))) break;
    const int filter = named.value_or(answer.filterIndex);
    probeInput(filter, answer.files);

    w.resetForOpening();
    w.SequenceOpen = false;
    resetProcessingControls();
    showTabs(false, false, false);
    ui_.setCursor(CursorShape::Hourglass);
    w.progstatus = 0;
    RubberX = RubberY = -1;
    source_.reset();
    w.SequenceOpen = true;
    sequenceOpenedThisRun_ = true;
    control(Control::Showpanel).setVisible(false);
    control(Control::Frontpanel).setVisible(true);
    control(Control::FFTsizeGroup).setVisible(true);
    control(Control::UseFramesign).setVisible(true);
    control(Control::Optimizebutton).setEnabled(false);
    control(Control::SaveButton).setEnabled(false);  // the stack planes hold the last work's stack

    try {
        switch (filter) {
            case 1: openVideo(answer.files.front(), InputKind::Avi); break;
            case SerFilter: openVideo(answer.files.front(), InputKind::Ser); break;
            case 2: openStillFrames(answer.files, false); break;
            case 4: openStillFrames(answer.files, true); break;
            default: openFitsInput(answer.files.front()); break;
        }
    } catch (...) {
        // Nothing half-open stays behind: the state is that of a cancelled dialog.
        w.SequenceOpen = false;
        w.SingleImage = false;
        source_.reset();
        control(Control::PreviewSlider).setRange(0, 0);
        control(Control::Label9).setCaption("0 / 0");
        control(Control::SelectFramesChecklist).clearList();
        ui_.setCursor(CursorShape::Arrow);
        throw;
    }
    ui_.setCursor(CursorShape::Arrow);
}

// What opening reads first, read before the work in hand is given up: a file
// that cannot be opened at all leaves that work as it was.
void TMainForm::probeInput(int filterIndex, const std::vector<std::string>& files) {
    Bitmap24 frame;
    switch (filterIndex) {
        case 1: AviReader{files.front()}.decode(0, frame); break;
        case SerFilter: SerReader{files.front()}.decode(0, frame); break;
        case 2:
        case 4: {
            const auto first = std::find_if(files.begin(), files.end(), isStillFrameFile);
            // Checked here, before the work in hand is given up, as a file that does not open is.
            if (first == files.end()) throw PlanexorError(NoStillFrames);
            loadStillFrame(*first, frame);
            break;
        }
        default: {
            FitsFile file(files.front());
            ReadFitsHeader(file);
        }
    }
}

bool TMainForm::openVideo(const std::string& path, InputKind kind) {
    Workspace& w = *workspace_;
    const bool ser = kind == InputKind::Ser;
    w.StillFrames = false;
    w.JpegFrames = false;
    w.InputType = static_cast<std::uint8_t>(kind);
    control(Control::Framelistsavebutton).setVisible(false);
    control(Control::Framelistloadbutton).setVisible(false);
    control(Control::AddFramesButton).setVisible(false);  // frames are added to still frames only
    settings_.writeString("Files", "Lasttype", ser ? "SER" : "AVI");

    source_.reset();
    FrameSource& video = videoSource(path);
    setSequenceDirectory(directoryOf(path));
    w.SourceFile = fileNameOf(path);
    const int total = video.frameCount();
    if (total <= 0) throw PlanexorError(std::string(ser ? "The SER file" : "The AVI file") + " holds no frames: " + path);
    if (auto* reader = dynamic_cast<SerReader*>(&video); reader && reader->truncated())
        ui_.showMessage(MessageKind::Warning, reader->warning());
    if (auto* reader = dynamic_cast<AviReader*>(&video); reader && reader->truncated())
        ui_.showMessage(MessageKind::Warning, "The AVI file " + fileNameOf(path) + " is cut short: only its " +
                                                  std::to_string(total) + " complete frames can be read");
    FetchAviFrames(w.SourceFile, 0);
    setCaption(std::string(ser ? "Planexor processing SER: " : "Planexor processing AVI: ") + path);
    finishOpening(total);
    return true;
}

bool TMainForm::openStillFrames(const std::vector<std::string>& selected, bool jpeg) {
    Workspace& w = *workspace_;
    w.StillFrames = true;
    w.JpegFrames = jpeg;
    w.InputType = static_cast<std::uint8_t>(jpeg ? InputKind::Jpg : InputKind::Bmp);
    control(Control::Framelistsavebutton).setVisible(true);
    control(Control::Framelistloadbutton).setVisible(true);
    settings_.writeString("Files", "Lasttype", jpeg ? "JPG" : "BMP");

    // The dialog reports the file clicked last at the head of its list: the
    // frame order comes back over the whole selection, before files of other
    // kinds are left out (the rest renumbered) and only MaxFrames slots are
    // kept (the warning about the rest comes with the frame list).
    std::vector<std::string> ordered = selected;
    if (ordered.size() > 1) std::swap(ordered.front(), ordered.back());
    std::vector<std::string> files;
    std::copy_if(ordered.begin(), ordered.end(), std::back_inserter(files), isStillFrameFile);
    if (files.empty()) throw PlanexorError(NoStillFrames);
    const int total = static_cast<int>(files.size());
    if (files.size() > static_cast<std::size_t>(MaxFrames)) files.resize(MaxFrames);

    // The file the dialog reported first is the one shown first, as it was.
    const std::string& first = files.back();
    loadStillFrame(first, preview_);
    setSequenceDirectory(directoryOf(first));
    setCaption(std::string(jpeg ? "Planexor processing JPG: " : "Planexor processing BMP: ") + first);
    w.ImageWidth = w.FrameWidth = w.OrigWidth = preview_.width();
    w.ImageHeight = w.FrameHeight = w.OrigHeight = preview_.height();
    w.SourceFile = fileNameOf(first);

    const int count = static_cast<int>(files.size());
    for (int n = 0; n < count; ++n) w.FrameFiles[n] = files[n];
    control(Control::PreviewSlider).setRange(0, count - 1);
    source_ = std::make_unique<StillFrameSource>(w.FrameFiles, count, jpeg);
    sourcePath_.clear();

    if (count == 1) {
        w.SingleImage = true;
        w.FrameFiles[1] = w.FrameFiles[0];
        control(Control::PreviewSlider).setRange(0, 1);
        control(Control::PreviewSlider).setValue(0);
        source_ = std::make_unique<StillFrameSource>(w.FrameFiles, 2, jpeg);
        for (int rank : {0, 1}) {
            w.Ranking[rank].Frame = 0;
            w.Ranking[rank].Quality = 1.0f;
        }
        control(Control::StackSlider).setRange(0, 1);
        control(Control::StackSlider).setValue(0);
        control(Control::QualStack).setChecked(false);
        control(Control::SaveBMP2button).setEnabled(true);
    }
    finishOpening(total);
    if (count == 1) {
        // A single image is its own stack. It is made once the size is
        // limited and the frame list built, and no exclusion left from an
        // earlier sequence may skip it.
        w.FrameRecs[0].Excluded = w.FrameRecs[1].Excluded = 0;
        StackSliderChange();
        StackButtonClick();
        showTabs(false, true, true);
        control(Control::PageControl1).setItemIndexByUser(3);
    }
    return true;
}

// One FITS frame is the stack itself: it goes straight to processing, and
// the stack page shows it, so its "Save" writes this frame and never a stack
// left from earlier work.
void TMainForm::openFitsInput(const std::string& path) {
    Workspace& w = *workspace_;
    settings_.writeString("Files", "Lasttype", "FIT");
    const FitsPlaneRead read = openFitsFrame(w, path);
    if (read.planes > 1) ui_.showMessage(MessageKind::Information, firstPlaneOnlyText(path, read.planes));
    w.StackColour = false;
    w.SequenceOpen = false;
    w.SourceFile = fileNameOf(path);
    setSequenceDirectory(directoryOf(path));
    setCaption("Planexor processing FIT: " + path);
    limitFrameSize();
    control(Control::ColourStack).setCheckedByUser(false);
    // The frame is not resampled; processing must not size it as if it were.
    control(Control::Resampled).setCheckedByUser(false);
    control(Control::SaveButton).setEnabled(true);
    control(Control::SaveBMP2button).setEnabled(true);

    const double span = static_cast<double>(w.StackMax) - w.StackMin;
    const double scale = span > 0 ? 255.0 / span : 0.0;
    Bitmap24& shown = stack_->stackBitmap();
    shown.resize(w.ImageWidth, w.ImageHeight);
    for (int y = 0; y < w.ImageHeight; ++y)
        for (int x = 0; x < w.ImageWidth; ++x) {
            std::uint8_t* pixel = shown.pixel(x, y);
            pixel[0] = pixel[1] = pixel[2] = byteClamp((w.StackG[x][y] - w.StackMin) * scale);
        }

    // The stack page shows this frame: nothing of the last sequence's stack.
    control(Control::Stackimagesize).setCaption(imageSizeText(w.ImageWidth, w.ImageHeight));
    control(Control::StackFramesList).clearList();
    stack_->forgetStack();
    stack_->refreshStackGraph(0.0f);
    w.StackReady = true;
    showTabs(false, true, true);
    control(Control::PageControl1).setItemIndexByUser(3);
    if (w.StackReady) ProcessButtonClick();  // the process page was showing already
}

void TMainForm::limitFrameSize() {
    Workspace& w = *workspace_;
    // The true size decides: for AVI the frame fetch has already cut the image size.
    if (w.OrigWidth <= MaxImageSide && w.OrigHeight <= MaxImageSide) return;
    ui_.showMessage(MessageKind::Warning, "AVI or BMP too large (max 1024x1024) !!!!");
    w.ImageWidth = std::min(w.ImageWidth, MaxImageSide);
    w.ImageHeight = std::min(w.ImageHeight, MaxImageSide);
    w.FrameWidth = std::min(w.FrameWidth, MaxImageSide);
    w.FrameHeight = std::min(w.FrameHeight, MaxImageSide);
}

void TMainForm::offerCalibrationMaking() {
    control(Control::CreateDarkframe).setVisible(true);
    control(Control::CreateFlatfield).setVisible(true);
}

void TMainForm::finishOpening(int totalFrames) {
    Workspace& w = *workspace_;
    limitFrameSize();
    control(Control::differencecutslider).setValue(100);
    offerCalibrationMaking();
    if (w.ImageWidth < 128 || w.ImageHeight < 128) {
        control(Control::FFTsizeGroup).setItemIndex(0);
        align_->showBoxSizeCaption();
    }
    // The true length decides the warning: the slider is already capped.
    if (totalFrames > MaxFrames) {
        ui_.showMessage(MessageKind::Warning, "Warning : only the first 2500 frames will be processed");
        control(Control::PreviewSlider).setRange(0, LastFrameNumber);
    }
    const int last = nearest(control(Control::PreviewSlider).maximum());
    control(Control::AlignSlider).setRange(0, last);
    control(Control::StackSlider).setRange(0, last);
    // The list is built before the first frame is shown so that its
    // used/excluded sign never shows a previous sequence's exclusions.
    buildFrameList();
    control(Control::PreviewSlider).setValue(0);
    PreviewSliderChange();
}

void TMainForm::buildFrameList() {
    Workspace& w = *workspace_;
    ControlModel& list = control(Control::SelectFramesChecklist);
    list.clearList();
    const int last = nearest(control(Control::PreviewSlider).maximum());
    for (int n = 0; n <= last; ++n) {
        w.FrameRecs[n].Excluded = 0;
        list.addListItem(w.StillFrames ? fileNameOf(w.FrameFiles[n]) : "Frame " + std::to_string(n + 1), true);
    }
    w.usedframes = last + 1;
    control(Control::Label9).setCaption("1 / " + std::to_string(last + 1));
    updateFramesLabel();
}

void TMainForm::updateFramesLabel() {
    const int total = nearest(control(Control::PreviewSlider).maximum()) + 1;
    control(Control::Frames).setCaption("Frames : " + std::to_string(workspace_->usedframes) +
                                 " selected (Total = " + std::to_string(total) + " ) ");
}

void TMainForm::showFrameState() {
    const int frame = control(Control::PreviewSlider).intValue();
    control(Control::UseFramesign).setColour(workspace_->FrameRecs[frame].Excluded ? ColourRed : ColourGreen);
}

void TMainForm::loadFrame(int frame) {
    Workspace& w = *workspace_;
    if (w.StillFrames) {
        loadStillFrame(w.FrameFiles[frame], preview_);
        setCaption(std::string(w.JpegFrames ? "Planexor processing JPG: " : "Planexor processing BMP: ") +
                   w.FrameFiles[frame]);
        w.CurrentFrame = frame;
    } else {
        // A frame shown is no new picture size: a stack made since keeps its
        // own (enlarged, expanded), as it does with still frames.
        const int width = w.ImageWidth, height = w.ImageHeight;
        FetchAviFrames(w.SourceFile, frame);
        w.ImageWidth = width;
        w.ImageHeight = height;
    }
}

void TMainForm::PreviewSliderChange() {
    Workspace& w = *workspace_;
    w.StopRequested = false;
    RubberX = RubberY = -1;
    if (!w.SequenceOpen) return;
    const int frame = control(Control::PreviewSlider).intValue();
    // A multi-selection in the list stays while its focused frame is shown.
    ControlModel& list = control(Control::SelectFramesChecklist);
    if (control(Control::SelectFrameswindow).visible() && list.selectedListItem() != frame) list.selectListItem(frame);
    loadFrame(frame);
    control(Control::Label9).setCaption(std::to_string(frame + 1) + " / " +
                                 std::to_string(nearest(control(Control::PreviewSlider).maximum()) + 1));
    showFrameState();
    ui_.repaint(Control::PreviewImage);
}

void TMainForm::PreviewSliderKeyDown(int key) {
    Workspace& w = *workspace_;
    if (key != KeySpace || !w.SequenceOpen) return;
    const int frame = control(Control::PreviewSlider).intValue();
    w.FrameRecs[frame].Excluded = w.FrameRecs[frame].Excluded ? 0 : 1;
    control(Control::SelectFramesChecklist).setListItemChecked(frame, w.FrameRecs[frame].Excluded == 0);
    showFrameState();
    w.usedframes = w.countUsedFrames(nearest(control(Control::PreviewSlider).maximum()));
    updateFramesLabel();
}

FrameSource& TMainForm::videoSource(const std::string& path) {
    if (!source_ || sourcePath_ != path) {
        source_.reset();
        if (workspace_->InputType == static_cast<std::uint8_t>(InputKind::Ser))
            source_ = std::make_unique<SerReader>(path);
        else
            source_ = std::make_unique<AviReader>(path);
        sourcePath_ = path;
    }
    return *source_;
}

FrameSource& TMainForm::sequenceSource() {
    Workspace& w = *workspace_;
    if (w.StillFrames) {
        if (!dynamic_cast<StillFrameSource*>(source_.get())) {
            source_ = std::make_unique<StillFrameSource>(w.FrameFiles, nearest(control(Control::PreviewSlider).maximum()) + 1,
                                                         w.JpegFrames);
            sourcePath_.clear();
        }
        return *source_;
    }
    return videoSource(joinPath(sequenceDirectory(), w.SourceFile));
}

// The frame fetch of every video, AVI or SER.
void TMainForm::FetchAviFrames(const std::string& fileName, int frame) {
    Workspace& w = *workspace_;
    FrameSource& video = videoSource(joinPath(sequenceDirectory(), fileName));
    control(Control::PreviewSlider).setRange(0, std::min(video.frameCount() - 1, LastFrameNumber));
    if (frame < 0) return;
    if (frame >= video.frameCount()) throw PlanexorError("Failed to decompress AVI frame");
    video.decode(frame, preview_);
    w.ImageWidth = w.OrigWidth = preview_.width();
    w.ImageHeight = w.OrigHeight = preview_.height();
    w.ImageWidth = std::min(w.ImageWidth, MaxImageSide);
    w.ImageHeight = std::min(w.ImageHeight, MaxImageSide);
    w.FrameWidth = w.ImageWidth;
    w.FrameHeight = w.ImageHeight;
    w.CurrentFrame = frame;
    ui_.repaint(Control::PreviewImage);
}

const SerHeader* TMainForm::serHeader() const {
    const auto* reader = dynamic_cast<const SerReader*>(source_.get());
    return reader ? &reader->header() : nullptr;
}

}  // namespace planexor
