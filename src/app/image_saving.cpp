// Saving the stack and the processed picture as BMP, JPG or FITS.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/image_saving.h"

#include "app/main_form.h"
#include "core/error.h"
#include "core/file_io.h"
#include "input/bmp_codec.h"
#include "input/jpeg_codec.h"
#include "input/ser_reader.h"

namespace planexor {
namespace {

enum SaveFilter : int { SaveBmp = 1, SaveFit = 2, SaveSpecialFit = 3, SaveJpeg = 4 };

const std::vector<std::string> SaveFilters = {"BMP (*.bmp)", "FIT (*.fit *.fits)", "Special Planexor Fits (*.fitq)",
                                              "JPEG (*.jpg)"};

constexpr const char* OverwriteQuestionText = " Overwrite existing file ?";

// The part of the shown picture the selection box covers, as its own bitmap.
// The box was drawn under the mirroring recorded with it; the picture may be
// mirrored differently now. Rows and columns x1 .. x2-2 are kept, clipped to
// the picture; nothing left is refused.
Bitmap24 sectionOf(const Bitmap24& shown, const SelectionBox& box, bool flipH, bool flipV) {
    const int width = shown.width();
    const int height = shown.height();
    int x1 = box.SectionX1, x2 = box.SectionX2, y1 = box.SectionY1, y2 = box.SectionY2;
    if (box.SectionFlipV != flipV) {
        y1 = height - 1 - y1;
        y2 = height - 1 - y2;
    }
    if (box.SectionFlipH != flipH) {
        x1 = width - 1 - x1;
        x2 = width - 1 - x2;
    }
    const int left = std::max(std::min(x1, x2), 0);
    const int top = std::max(std::min(y1, y2), 0);
    const int right = std::min(std::max(x1, x2) - 2, width - 1);
    const int bottom = std::min(std::max(y1, y2) - 2, height - 1);
    if (right < left || bottom < top) throw PlanexorError("Select an image section first.");
    Bitmap24 section(right - left + 1, bottom - top + 1);
    for (int y = top; y <= bottom; ++y) std::copy_n(shown.pixel(left, y), section.rowBytes(), section.row(y - top));
    return section;
}

}  // namespace

ImageSaving::ImageSaving(TMainForm& form) : form_(form), ui_(form.ui_), settings_(form.settings_) {}

void ImageSaving::bindHandlers() {
    form_.bind(Control::SaveButton, "SaveButtonClick", true, [this] { SaveButtonClick(); });
    form_.bind(Control::SaveBMP2button, "SaveBMP2buttonClick", true, [this] { SaveBMP2buttonClick(); });
    form_.bind(Control::SaveSub, "SaveSubClick", false, [this] { SaveSubClick(); });
}

void ImageSaving::SaveSubClick() { form_.control(Control::Subdirname).setVisible(form_.control(Control::SaveSub).checked()); }

std::string ImageSaving::saveDirectory() {
    if (!form_.control(Control::SaveSub).checked()) return "";
    const std::string directory = joinPath(form_.sequenceDirectory(), form_.control(Control::Subdirname).caption());
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    if (error) throw PlanexorError("Cannot create the folder " + directory + ": " + error.message());
    return directory;
}

std::optional<ImageSaving::SaveChoice> ImageSaving::askSaveFile() {
    savedFiles_.clear();
    FileDialogRequest request;
    request.dialog = "SaveDialog1";
    request.filters = SaveFilters;
    request.filterIndex = saveFilterIndex_;
    request.defaultExtension = "bmp";
    request.directory = saveDirectory();
    // Where the last picture went, as the dialog starts after a restart too.
    if (request.directory.empty()) request.directory = settings_.readString("Files", "SaveDir", "");
    request.fileName = baseNameOf(form_.workspace().SourceFile);
    request.save = true;
    request.asksBeforeReplacing = true;
    const FileDialogAnswer answer = ui_.runFileDialog(request);
    if (!answer.accepted || answer.files.empty()) return std::nullopt;
    saveFilterIndex_ = answer.filterIndex;
    const std::string& chosen = answer.files.front();
    SaveChoice choice{directoryOf(chosen), fileNameOf(chosen), answer.filterIndex};
    settings_.writeString("Files", "SaveDir", choice.directory);
    return choice;
}

bool ImageSaving::mayWrite(const std::string& path) {
    return !std::filesystem::exists(path) || ui_.askYesNo(MessageKind::Warning, OverwriteQuestionText);
}

void ImageSaving::savePicture(const SaveChoice& choice, const Bitmap24& picture) {
    if (picture.empty()) throw PlanexorError("There is no picture to save yet");
    const bool jpeg = choice.filterIndex == SaveJpeg;
    const std::string target =
        joinPath(choice.directory, std::filesystem::path(choice.name).stem().string() + (jpeg ? ".jpg" : ".bmp"));
    // Encoded before the question, so a picture that cannot be encoded asks nothing.
    const std::vector<std::uint8_t> bytes = jpeg ? encodeJpeg(picture, 90) : encodeBmp(picture);
    if (!mayWrite(target)) return;
    writeFileAtomically(target, bytes.data(), bytes.size());
    savedFiles_.push_back(target);
}

void ImageSaving::saveFits(const SaveChoice& choice, int source, const FitsChannels& channels) {
    TFITParams params = fitsHeader;
    params.UseNow = true;
    if (params.Comment.empty()) params.Comment = savedWorkText(source == FitsProcessed);
    // A SER recording names its observer, camera and telescope; those fill what was left empty.
    if (const SerHeader* ser = form_.serHeader()) {
        if (params.Observer.empty()) params.Observer = ser->observer;
        if (params.Instrument.empty()) params.Instrument = ser->instrument;
        if (params.Telescope.empty()) params.Telescope = ser->telescope;
    }
    const Workspace& w = form_.workspace();
    savedFiles_ = WriteFits(joinPath(choice.directory, choice.name), w.ImageWidth, w.ImageHeight, 16, source, params,
                            channels, form_.control(Control::ColourStack).checked() && w.StackColour,
                            [this](const std::string& path) { return mayWrite(path); });
    // 128 x the level in 16 bits: a stack of sums (partial coverage off) goes beyond it.
    if (source == FitsSpecialStack && !savedFiles_.empty() && w.StackMax * 128.0 > 32767.0)
        ui_.showMessage(MessageKind::Warning, SpecialFitsCutText);
}

std::string ImageSaving::savedWorkText(bool processed) const {
    const Workspace& w = form_.workspace();
    std::string text = processed ? "processed " : "";
    if (w.InputType == static_cast<std::uint8_t>(InputKind::Fits)) return text + "frame " + w.SourceFile;
    const int frames = w.SingleImage ? 1 : form_.stackedCount();
    return text + "stack of " + std::to_string(frames) + (frames == 1 ? " frame of " : " frames of ") + w.SourceFile;
}

void ImageSaving::SaveButtonClick() {
    const std::optional<SaveChoice> choice = askSaveFile();
    if (!choice) return;
    switch (choice->filterIndex) {
        case SaveFit: saveFits(*choice, FitsStack, stackChannels(form_.workspace())); break;
        case SaveSpecialFit: saveFits(*choice, FitsSpecialStack, stackChannels(form_.workspace())); break;
        default: savePicture(*choice, form_.stackBitmap()); break;
    }
}

void ImageSaving::SaveBMP2buttonClick() {
    const std::optional<SaveChoice> choice = askSaveFile();
    if (!choice) return;
    SaveChoice target = *choice;
    if (target.name.empty() || target.name.front() == '.') target.name = "default";
    switch (target.filterIndex) {
        case SaveFit:
            if (!form_.process_->processing_.cache) throw PlanexorError("There is no processed picture to save yet");
            saveFits(target, FitsProcessed, recombinedChannels(form_.process_->processing_.cache->layers()));
            break;
        case SaveSpecialFit:
            ui_.showMessage(MessageKind::Information, "Filetype not supported for processed output");
            saveFilterIndex_ = SaveBmp;
            break;
        default: {
            // While a layer button is held the page shows that layer; the picture is the one behind it.
            const Bitmap24& shown = form_.process_->processing_.heldLayer != 0 ? form_.process_->processing_.heldBackup : form_.image(Control::ProcessImage);
            // A restored "Process selection" comes without its box (the box is not kept): then the
            // picture is saved whole, as it is shown.
            if (form_.control(Control::Section).checked() && form_.control(Control::SaveSectionbox).checked() &&
                !selectionTooSmall(form_.process_->SectionBox)) {
                const auto [horizontal, vertical] = form_.process_->shownFlips();
                savePicture(target, sectionOf(shown, form_.process_->SectionBox, horizontal, vertical));
            } else
                savePicture(target, shown);
        }
    }
}

}  // namespace planexor
