#pragma once
#include <optional>
#include <string>
#include <vector>

#include "core/bitmap24.h"
#include "process/fits_writer.h"

namespace planexor {

class TMainForm;
class UiServices;
class UserSettings;

inline constexpr const char* SpecialFitsCutText =
    "The stack holds values above 255.99 levels, which special FITS cannot hold: they were saved as 255.99. "
    "Save as FITS (.fit) to keep them.";

// Saving the stack (stack page "Save") and the processed picture (process
// page "Save") as BMP, JPG, FITS or the special FITS.
class ImageSaving {
public:
    explicit ImageSaving(TMainForm& form);
    void bindHandlers();
    void SaveButtonClick();
    void SaveBMP2buttonClick();
    void SaveSubClick();
    // Where saving starts: with "Save to subdir" the input directory's
    // Subdirname, made with its parents; otherwise empty (the dialog's choice).
    std::string saveDirectory();
    // The header texts of FITS saves; an empty Comment says what was saved.
    TFITParams fitsHeader;
    // The files the last save wrote: none after a cancel, a No or a refusal.
    const std::vector<std::string>& savedFiles() const { return savedFiles_; }

private:
    struct SaveChoice {
        std::string directory;
        std::string name;  // with its extension
        int filterIndex = 1;
    };
    std::optional<SaveChoice> askSaveFile();
    bool mayWrite(const std::string& path);
    void savePicture(const SaveChoice& choice, const Bitmap24& picture);
    void saveFits(const SaveChoice& choice, int source, const FitsChannels& channels);
    std::string savedWorkText(bool processed) const;

    TMainForm& form_;
    UiServices& ui_;
    UserSettings& settings_;
    int saveFilterIndex_ = 1;  // SaveDialog1 opens with the filter it closed with
    std::vector<std::string> savedFiles_;
};

}  // namespace planexor
