#include "input/calibration.h"

#include <array>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/bitmap24.h"
#include "core/error.h"
#include "core/vector_lanes.h"
#include "input/bmp_codec.h"
#include "input/fits_reader.h"

namespace planexor {
namespace {

using lanes::D2;
using lanes::D4;
using lanes::F2;
using lanes::F4;

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

// What a file holds, read and checked apart from the workspace so that a
// failed load changes nothing: a BMP's bitmap or a FITS file's grey plane.
struct Loaded {
    Bitmap24 bitmap;
    const TFloatPlane* grey = nullptr;
    int width = 0, height = 0;
    double divisor = 1.0;  // the flat's mean
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
    const FitsPlaneRead read = readFitsPlane(file, header, fitsScratch(), factor);
    loaded.grey = &fitsScratch();
    loaded.width = read.width;
    loaded.height = read.height;
    minimum = read.minimum;
    load.loaded = true;
    load.uncheckColourStack = true;
    return load;
}

// The mean over the loaded area: the flat then keeps the frames' brightness.
double flatMean(const Loaded& loaded, const std::string& path) {
    const std::int64_t pixels = std::int64_t{loaded.width} * loaded.height;
    if (pixels == 0) throw PlanexorError("The flatfield " + path + " holds no pixels");
    double sum = 0;
    if (loaded.grey) {
        // Eight sums side by side, so that one add need not wait for the last.
        D2 a = {}, b = {}, c = {}, d = {};
        double rest = 0;
        for (int x = 0; x < loaded.width; ++x) {
            const float* column = (*loaded.grey)[x];
            int y = 0;
            for (; y + 7 < loaded.height; y += 8) {
                a += lanes::load2(column + y);
                b += lanes::load2(column + y + 2);
                c += lanes::load2(column + y + 4);
                d += lanes::load2(column + y + 6);
            }
            for (; y < loaded.height; ++y) rest += column[y];
        }
        const D2 all = (a + b) + (c + d);
        sum = all[0] + all[1] + rest;
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

float dividedElement(float value, double mean) {
    const float element = static_cast<float>(value / mean);
    return element == 0 ? SmallestDivisor : element;
}

// A division per element costs more than the rest of a load together. A
// product by the reciprocal lies within four units of the double's last
// place of the quotient, so rounding the product a little up and a little
// down to floats gives the quotient's float when both agree. Where they do
// not (a halfway point between two floats is that close), and for quotients
// so small that floats thin out, the elements are divided. D and F are
// vectors of as many doubles and floats; returns how many were done.
template <typename D, typename F>
PLANEXOR_INLINE int normaliseByProducts(const float* from, float* to, int count, double mean, double reciprocal) {
    constexpr int Lanes = sizeof(F) / sizeof(float);
    using Mask = decltype(F{} != F{});
    // A scalar added to a vector of zeros is spread over its lanes.
    const D times = D{} + reciprocal, slack = D{} + 0x1p-49;
    const F tiny = F{} + 0x1p-124f, zero = F{}, smallest = F{} + SmallestDivisor;
    const auto rounded = [&](const float* at, F& low) {
        F values;
        std::memcpy(&values, at, sizeof values);
        const D product = __builtin_convertvector(values, D) * times;
        const D spread = product * slack;
        low = __builtin_convertvector(product - spread, F);
        const F high = __builtin_convertvector(product + spread, F);
        return Mask((low != high) | (low < tiny));
    };
    // Two vectors a step, with one test for both: doubt is rare.
    int i = 0;
    for (; i + 2 * Lanes <= count; i += 2 * Lanes) {
        F first, second;
        const Mask doubtful = rounded(from + i, first) | rounded(from + i + Lanes, second);
        std::uint64_t words[sizeof doubtful / 8];
        std::memcpy(words, &doubtful, sizeof words);
        std::uint64_t anyDoubtful = 0;
        for (std::uint64_t word : words) anyDoubtful |= word;
        if (anyDoubtful) {
            for (int k = i; k < i + 2 * Lanes; ++k) to[k] = dividedElement(from[k], mean);
        } else {
            first = first == zero ? smallest : first;
            second = second == zero ? smallest : second;
            std::memcpy(to + i, &first, sizeof first);
            std::memcpy(to + i + Lanes, &second, sizeof second);
        }
    }
    return i;
}

#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE int normaliseByProductsWide(const float* from, float* to, int count, double mean, double reciprocal) {
    return normaliseByProducts<D4, F4>(from, to, count, mean, reciprocal);
}
#endif

}  // namespace

void normaliseFlatColumn(const float* from, float* to, int count, double mean, VectorCode code) {
    const double reciprocal = 1.0 / mean;
    int i = 0;
    if (std::isfinite(reciprocal)) {
#ifdef PLANEXOR_HAS_WIDE
        if (useWideVectors(code))
            i = normaliseByProductsWide(from, to, count, mean, reciprocal);
        else
#endif
            i = normaliseByProducts<D2, F2>(from, to, count, mean, reciprocal);
    }
    for (; i < count; ++i) to[i] = dividedElement(from[i], mean);
}

namespace {

// Only a complete load replaces what is in force: every plane is written
// whole, the file's area from the file and the rest with the neutral value.
// A grey file's column is made once, in green, and copied to red and blue.
void commit(const Loaded& loaded, const CalibrationKind& kind, std::array<TFloatPlane*, 3> planes,
            std::int32_t& width, std::int32_t& height) {
    const bool flat = &kind == &Flat;
    const int rows = loaded.height;
    for (int x = 0; x < PlaneStride; ++x) {
        for (int channel : {1, 0, 2}) {
            float* column = (*planes[channel])[x];
            if (x >= loaded.width) {
                std::fill(column, column + PlaneStride, kind.outside);
            } else if (loaded.grey && channel != 1) {
                std::copy_n((*planes[1])[x], PlaneStride, column);
            } else {
                if (loaded.grey && flat) {
                    normaliseFlatColumn((*loaded.grey)[x], column, rows, loaded.divisor);
                } else {
                    if (loaded.grey) {
                        std::copy_n((*loaded.grey)[x], rows, column);
                    } else {
                        const std::uint8_t* pixel = loaded.bitmap.pixel(x, 0) + (2 - channel);  // blue, green, red
                        for (int y = 0; y < rows; ++y, pixel += loaded.bitmap.rowBytes())
                            column[y] = LevelUnits * *pixel;
                    }
                    if (flat) normaliseFlatColumn(column, column, rows, loaded.divisor);
                }
                std::fill(column + rows, column + PlaneStride, kind.outside);
            }
        }
    }
    width = loaded.width;
    height = rows;
}

}  // namespace

CalibrationLoad loadDarkFrame(Workspace& workspace, const std::string& path, int fileType) {
    Loaded loaded;
    float minimum = 0;
    const CalibrationLoad load = readCalibration(path, fileType, Dark, loaded, minimum);
    if (!load.loaded) return load;
    commit(loaded, Dark, {&workspace.DarkR, &workspace.DarkG, &workspace.DarkB}, workspace.DarkWidth,
           workspace.DarkHeight);
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
    loaded.divisor = flatMean(loaded, path);
    commit(loaded, Flat, {&workspace.FlatR, &workspace.FlatG, &workspace.FlatB}, workspace.FlatWidth,
           workspace.FlatHeight);
    workspace.flatfile = path;
    workspace.flatfiletype = fileType;
    return load;
}

}  // namespace planexor
