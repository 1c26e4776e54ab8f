#include "input/calibration.h"

#include <array>
#include <memory>

#include "core/bitmap24.h"
#include "core/error.h"
#include "input/bmp_codec.h"
#include "input/fits_reader.h"

namespace planexor {
namespace {

constexpr float LevelUnits = 128.0f;  // calibration planes hold 128 x the 8-bit level
constexpr float SmallestDivisor = 0.00001f;

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

// Red, green, blue, filled apart from the workspace so a failed load changes nothing.
struct Scratch {
    std::array<std::unique_ptr<TFloatPlane>, 3> planes;
    int width = 0, height = 0;
    float minimum = 0;
};

CalibrationLoad readCalibration(const std::string& path, int fileType, const CalibrationKind& kind,
                                Scratch& scratch) {
    if (fileType < CalibrationBmp || fileType > CalibrationFits)
        throw PlanexorError(std::string("Unknown ") + kind.name + " file type " + std::to_string(fileType));
    CalibrationLoad load;
    if (fileType == CalibrationBmp) {
        Bitmap24 bitmap;
        readBmpFile(path, bitmap);
        if (bitmap.width() > MaxImageSide || bitmap.height() > MaxImageSide) load.message = kind.cutWarning;
        scratch.width = std::min(bitmap.width(), MaxImageSide);
        scratch.height = std::min(bitmap.height(), MaxImageSide);
        for (auto& plane : scratch.planes) {
            plane = std::make_unique<TFloatPlane>();
            plane->fill(kind.outside);
        }
        for (int y = 0; y < scratch.height; ++y)
            for (int x = 0; x < scratch.width; ++x) {
                const std::uint8_t* pixel = bitmap.pixel(x, y);  // blue, green, red
                for (int channel = 0; channel < 3; ++channel)
                    (*scratch.planes[channel])[x][y] = LevelUnits * pixel[2 - channel];
            }
        load.loaded = true;
        return load;
    }

    FitsFile file(path);
    const FitsHeader header = ReadFitsHeader(file);
    if (header.NAXIS1 > MaxImageSide || header.NAXIS2 > MaxImageSide) {
        load.message = kind.tooLarge;
        return load;
    }
    auto grey = std::make_unique<TFloatPlane>();
    grey->fill(kind.outside);
    const float factor = fileType == CalibrationFits ? kind.plainFitsFactor : 1.0f;
    const FitsPlaneRead read = readFitsPlane(file, header, *grey, factor);
    scratch.width = read.width;
    scratch.height = read.height;
    scratch.minimum = read.minimum;
    for (int channel : {0, 2}) {
        scratch.planes[channel] = std::make_unique<TFloatPlane>();
        std::copy(grey->data(), grey->data() + TFloatPlane::Size, scratch.planes[channel]->data());
    }
    scratch.planes[1] = std::move(grey);
    load.loaded = true;
    load.uncheckColourStack = true;
    return load;
}

// Divides by the mean over the loaded area so the flat keeps the frames'
// brightness; an element of 0 would divide by zero.
void normaliseFlat(Scratch& scratch, const std::string& path) {
    const std::int64_t pixels = std::int64_t{scratch.width} * scratch.height;
    if (pixels == 0) throw PlanexorError("The flatfield " + path + " holds no pixels");
    double sum = 0;
    for (const auto& plane : scratch.planes)
        for (int x = 0; x < scratch.width; ++x)
            for (int y = 0; y < scratch.height; ++y) sum += (*plane)[x][y];
    // Nothing is negative here, so a mean of 0 is a flat black everywhere:
    // every divisor would become the smallest one and every frame white.
    if (sum == 0)
        throw PlanexorError("The flatfield " + path +
                            " is black everywhere and cannot even out the light; it was not loaded");
    const double mean = sum / (3.0 * static_cast<double>(pixels));
    for (const auto& plane : scratch.planes)
        for (int x = 0; x < scratch.width; ++x)
            for (int y = 0; y < scratch.height; ++y) {
                float& element = (*plane)[x][y];
                element = static_cast<float>(element / mean);
                if (element == 0) element = SmallestDivisor;
            }
}

// Only a complete load replaces what is in force.
void commit(Scratch& scratch, std::array<TFloatPlane*, 3> planes, std::int32_t& width, std::int32_t& height,
            std::string& file, std::int32_t& type, const std::string& path, int fileType) {
    for (int channel = 0; channel < 3; ++channel) planes[channel]->swap(*scratch.planes[channel]);
    width = scratch.width;
    height = scratch.height;
    file = path;
    type = fileType;
}

}  // namespace

CalibrationLoad loadDarkFrame(Workspace& workspace, const std::string& path, int fileType) {
    Scratch scratch;
    const CalibrationLoad load = readCalibration(path, fileType, Dark, scratch);
    if (load.loaded)
        commit(scratch, {&workspace.DarkR, &workspace.DarkG, &workspace.DarkB}, workspace.DarkWidth,
               workspace.DarkHeight, workspace.darkfile, workspace.darkfiletype, path, fileType);
    return load;
}

CalibrationLoad loadFlatField(Workspace& workspace, const std::string& path, int fileType) {
    Scratch scratch;
    const CalibrationLoad load = readCalibration(path, fileType, Flat, scratch);
    if (!load.loaded) return load;
    if (scratch.minimum < 0)
        throw PlanexorError("The flatfield " + path +
                            " holds negative values and would turn the frames negative. Plain FITS files are "
                            "scaled around 0: save the flat as special planexor fits (.fitq) and load that.");
    normaliseFlat(scratch, path);
    commit(scratch, {&workspace.FlatR, &workspace.FlatG, &workspace.FlatB}, workspace.FlatWidth,
           workspace.FlatHeight, workspace.flatfile, workspace.flatfiletype, path, fileType);
    return load;
}

}  // namespace planexor
