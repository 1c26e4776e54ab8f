#include "input/calibration.h"

#include <array>
#include <algorithm>
#include <cstdint>

#include "core/bitmap24.h"
#include "core/error.h"
#include "core/file_io.h"
#include "core/vector_lanes.h"
#include "input/bmp_codec.h"
#include "input/flat_division.h"
#include "input/fits_reader.h"

namespace planexor {
namespace {

using lanes::D2;
using lanes::D4;

constexpr float LevelUnits = 128.0f;  // calibration planes hold 128 x the 8-bit level

struct CalibrationKind {
    const char* name;
    float outside;          // what leaves a frame pixel outside the loaded area unchanged
    float plainFitsFactor;  // a dark is kept in 1/128 levels, a flat as it is
    const char* cutWarning;
    const char* tooLarge;
};

const CalibrationKind Dark{"darkframe", 0.0f, LevelUnits,
                           " Warning : darkframe too large (max = 1024x1024), truncated !",
                           " darkframe too large (max = 1024x1024)!!"};
const CalibrationKind Flat{"flatfield", 1.0f, 1.0f,
                           " Warning: flatfield too large (max = 1024x1024), truncated !",
                           " flatfield too large (max = 1024x1024)!!"};

// What a file holds, read and checked apart from the workspace so that a
// failed load changes nothing: a BMP's bitmap or a FITS file's grey plane.
struct Loaded {
    Bitmap24 bitmap;
    TFloatPlane* grey = nullptr;  // the FITS scratch plane, swapped in when committed
    int width = 0, height = 0;
    double divisor = 1.0;     // the flat's mean
    bool normalised = false;  // divided by it already
};

// FITS calibrations are read into one plane kept for the program's life:
// a fresh 4 MB plane per load would cost more than the file's bytes.
TFloatPlane& fitsScratch() {
    static TFloatPlane plane;
    return plane;
}

CalibrationLoad readCalibration(const std::string& path, int fileType, const CalibrationKind& kind, Loaded& loaded,
                                float& minimum) {
    if (fileType < CalibrationBmp || fileType > CalibrationFits)
        throw PlanexorError(std::string("Unknown ") + kind.name + " file type " + std::to_string(fileType));
    CalibrationLoad load;
    if (fileType == CalibrationBmp) {
        readBmpFile(path, loaded.bitmap);
        if (loaded.bitmap.width() > MaxImageSide || loaded.bitmap.height() > MaxImageSide) load.message = kind.cutWarning;
        loaded.width = std::min(loaded.bitmap.width(), MaxImageSide);
        loaded.height = std::min(loaded.bitmap.height(), MaxImageSide);
        minimum = 0;
        load.loaded = true;
        return load;
    }

    FitsFile file(path);
    const FitsHeader header = ReadFitsHeader(file);
    if (header.NAXIS1 > MaxImageSide || header.NAXIS2 > MaxImageSide) {
        load.message = kind.tooLarge;
        return load;
    }
    const float factor = fileType == CalibrationFits ? kind.plainFitsFactor : 1.0f;
    const FitsPlaneRead read = readFitsPlane(file, header, fitsScratch(), factor, VectorCode::Best, &kind == &Flat);
    loaded.grey = &fitsScratch();
    if (read.planes > 1) load.message = firstPlaneOnlyText(path, read.planes);
    if (read.divided) loaded.divisor = read.mean;
    loaded.normalised = read.divided;
    loaded.width = read.width;
    loaded.height = read.height;
    minimum = read.minimum;
    load.loaded = true;
    load.uncheckColourStack = true;
    return load;
}

// Eight sums side by side, so that one add need not wait for the last; D is
// a vector of two or four doubles, load reads as many floats into one.
template <typename D, D (*load)(const float*)>
PLANEXOR_INLINE double sumPlane(const TFloatPlane& plane, int width, int height) {
    constexpr int Lanes = sizeof(D) / sizeof(double);
    D a = {}, b = {}, c = {}, d = {};
    double rest = 0;
    for (int x = 0; x < width; ++x) {
        const float* column = plane[x];
        int y = 0;
        for (; y + 4 * Lanes <= height; y += 4 * Lanes) {
            a += load(column + y);
            b += load(column + y + Lanes);
            c += load(column + y + 2 * Lanes);
            d += load(column + y + 3 * Lanes);
        }
        for (; y < height; ++y) rest += column[y];
    }
    const D all = (a + b) + (c + d);
    for (int i = 0; i < Lanes; ++i) rest += all[i];
    return rest;
}

#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE double sumPlaneWide(const TFloatPlane& plane, int width, int height) {
    return sumPlane<D4, lanes::load4>(plane, width, height);
}
#endif

// The mean over the loaded area: the flat then keeps the frames' brightness.
double flatMean(const Loaded& loaded, const std::string& path) {
    const std::int64_t pixels = std::int64_t{loaded.width} * loaded.height;
    if (pixels == 0) throw PlanexorError("The flatfield " + path + " holds no pixels");
    double sum = 0;
    if (loaded.grey) {
#ifdef PLANEXOR_HAS_WIDE
        if (useWideVectors(VectorCode::Best))
            sum = sumPlaneWide(*loaded.grey, loaded.width, loaded.height);
        else
#endif
            sum = sumPlane<D2, lanes::load2>(*loaded.grey, loaded.width, loaded.height);
    } else {
        for (int y = 0; y < loaded.height; ++y) {
            const std::uint8_t* row = loaded.bitmap.row(y);
            for (int i = 0; i < 3 * loaded.width; ++i) sum += LevelUnits * row[i];
        }
    }
    // Nothing is negative here, so a mean of 0 is a flat black everywhere:
    // every divisor would become the smallest one and every frame white.
    if (sum == 0)
        throw PlanexorError("The flatfield " + path +
                            " is black everywhere and cannot even out the light; it was not loaded");
    return loaded.grey ? sum / static_cast<double>(pixels) : sum / (3.0 * static_cast<double>(pixels));
}

// Only a complete load replaces what is in force: every plane it keeps is
// written whole, the file's area from the file and the rest with the neutral
// value. A grey file's plane is finished where it was read and swapped into
// green, which then stands for all three.
void commit(Loaded& loaded, const CalibrationKind& kind, std::array<TFloatPlane*, 3> planes, bool& grey,
            std::int32_t& width, std::int32_t& height) {
    const bool flat = &kind == &Flat;
    const int rows = loaded.height;
    for (int channel : {1, 0, 2}) {
        if (loaded.grey && channel != 1) continue;
        TFloatPlane& plane = loaded.grey ? *loaded.grey : *planes[channel];
        for (int x = 0; x < loaded.width; ++x) {
            float* column = plane[x];
            if (!loaded.grey) {
                const std::uint8_t* pixel = loaded.bitmap.pixel(x, 0) + (2 - channel);  // blue, green, red
                for (int y = 0; y < rows; ++y, pixel += loaded.bitmap.rowBytes()) column[y] = LevelUnits * *pixel;
            }
            if (flat && !loaded.normalised) normaliseFlatColumn(column, column, rows, loaded.divisor);
            std::fill(column + rows, column + TFloatPlane::Stride, kind.outside);
        }
        if (loaded.width < PlaneSide)
            std::fill(plane[loaded.width], plane.data() + TFloatPlane::Size, kind.outside);
        if (loaded.grey) planes[channel]->swap(plane);
    }
    grey = loaded.grey != nullptr;
    width = loaded.width;
    height = rows;
}

}  // namespace

std::optional<CalibrationFileType> calibrationTypeOfName(const std::string& path) {
    const std::string extension = lowerExtensionOf(path);
    if (extension == ".bmp") return CalibrationBmp;
    if (extension == ".fitq") return CalibrationSpecialFits;
    if (extension == ".fit" || extension == ".fits" || extension == ".fts") return CalibrationFits;
    return std::nullopt;
}

CalibrationLoad loadDarkFrame(Workspace& workspace, const std::string& path, int fileType) {
    Loaded loaded;
    float minimum = 0;
    const CalibrationLoad load = readCalibration(path, fileType, Dark, loaded, minimum);
    if (!load.loaded) return load;
    // No light reads below 0: a negative dark would brighten every frame.
    if (minimum < 0)
        throw PlanexorError("The darkframe " + path +
                            " holds negative values and would brighten the frames. Plain FITS files are "
                            "scaled around 0: save the dark as special planexor fits (.fitq) and load that.");
    commit(loaded, Dark, {&workspace.DarkR, &workspace.DarkG, &workspace.DarkB}, workspace.DarkGrey,
           workspace.DarkWidth, workspace.DarkHeight);
    workspace.darkfile = path;
    workspace.darkfiletype = fileType;
    return load;
}

CalibrationLoad loadFlatField(Workspace& workspace, const std::string& path, int fileType) {
    Loaded loaded;
    float minimum = 0;
    const CalibrationLoad load = readCalibration(path, fileType, Flat, loaded, minimum);
    if (!load.loaded) return load;
    if (minimum < 0)
        throw PlanexorError("The flatfield " + path +
                            " holds negative values and would turn the frames negative. Plain FITS files are "
                            "scaled around 0: save the flat as special planexor fits (.fitq) and load that.");
    if (!loaded.normalised) loaded.divisor = flatMean(loaded, path);
    commit(loaded, Flat, {&workspace.FlatR, &workspace.FlatG, &workspace.FlatB}, workspace.FlatGrey,
           workspace.FlatWidth, workspace.FlatHeight);
    workspace.flatfile = path;
    workspace.flatfiletype = fileType;
    return load;
}

}  // namespace planexor
