#pragma once
#include <optional>
#include <string>

#include "core/vector_lanes.h"
#include "core/workspace.h"

namespace planexor {

// The type index of the calibration file dialog, also stored in projects.
enum CalibrationFileType : int { CalibrationBmp = 1, CalibrationSpecialFits = 2, CalibrationFits = 3 };

// The type a file's extension names (.bmp, .fitq, .fit or .fits), or none:
// a special FITS read as a plain one would be 128 times too strong.
std::optional<CalibrationFileType> calibrationTypeOfName(const std::string& path);

struct CalibrationLoad {
    // False when a FITS file is larger than 1024 x 1024: nothing was loaded,
    // the previous calibration stays, and the use box is to be hidden.
    bool loaded = false;
    // A FITS calibration is grey, so stacking must switch to mono.
    bool uncheckColourStack = false;
    // Shown to the user when not empty: the cut warning of a large BMP, or why
    // a FITS file was not loaded.
    std::string message;
};

// Load a dark frame or flat field into the Dark* or Flat* planes (a FITS file
// into green alone, DarkGrey/FlatGrey set), their size, and
// darkfile/darkfiletype (flatfile/flatfiletype). Outside the loaded area
// the planes hold 0 (dark) and 1.0 (flat), so only the overlap with a frame is
// calibrated. The flat is normalised to mean 1.0 with no element 0. Any
// failure throws PlanexorError and leaves the previous calibration in force.
CalibrationLoad loadDarkFrame(Workspace& workspace, const std::string& path, int fileType);
CalibrationLoad loadFlatField(Workspace& workspace, const std::string& path, int fileType);

}  // namespace planexor
