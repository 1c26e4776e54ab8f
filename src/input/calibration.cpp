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
    TFloatPlane* grey = nullptr;  // the FITS scratch plane, swapped in when committed
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

float dividedElement(float value, double mean) {
    const float element = static_cast<float>(value / mean);
    return element == 0 ? SmallestDivisor : element;
}

// A division per element costs more than the rest of a load together. A
// product by the reciprocal lies within two units of the double's last place
// of the quotient, so it rounds to the quotient's float unless a halfway
// point between two floats is that close: then the 29 bits a float drops
// from a double lie within a few units of their middle. Those elements, and
// quotients so small that floats thin out, are divided. D and F are vectors
// of as many doubles and floats, Bits of as many 64-bit integers; returns how
// many were done.
typedef long long Bits2 __attribute__((vector_size(16)));
typedef long long Bits4 __attribute__((vector_size(32)));

// Whether any lane of a comparison's mask is set, in one test.
PLANEXOR_INLINE bool anyOf(Bits2 mask) {
#if defined(__SSE2__)
    return _mm_movemask_pd(__m128d(mask)) != 0;
#else
    return (mask[0] | mask[1]) != 0;
#endif
}
PLANEXOR_INLINE bool anyOf(Bits4 mask) {
    return anyOf(Bits2(__builtin_shufflevector(mask, mask, 0, 1) | __builtin_shufflevector(mask, mask, 2, 3)));
}

template <typename D, typename F, typename Bits>
PLANEXOR_INLINE int normaliseByProducts(const float* from, float* to, int count, double mean, double reciprocal) {
    constexpr int Lanes = sizeof(F) / sizeof(float);
    constexpr long long Dropped = (1LL << 29) - 1, Middle = 1LL << 28, Near = 8;
    // A scalar added to a vector of zeros is spread over its lanes.
    const D times = D{} + reciprocal, tiny = D{} + 0x1p-124;
    const F zero = F{}, smallest = F{} + SmallestDivisor;
    // Results through references: a vector wider than 16 bytes returned from
    // a call left out of line would pass differently in the wide build.
    const auto rounded = [&](const float* at, F& element, Bits& doubt) __attribute__((always_inline)) {
        F values;
        std::memcpy(&values, at, sizeof values);
        const D product = __builtin_convertvector(values, D) * times;
        element = __builtin_convertvector(product, F);
        Bits bits;
        std::memcpy(&bits, &product, sizeof bits);
        doubt = Bits((((bits + (Near - Middle)) & Dropped) <= 2 * Near) | (product < tiny));
    };
    // Two vectors a step, with one test for both: doubt is rare.
    int i = 0;
    for (; i + 2 * Lanes <= count; i += 2 * Lanes) {
        F first, second;
        Bits firstDoubt, secondDoubt;
        rounded(from + i, first, firstDoubt);
        rounded(from + i + Lanes, second, secondDoubt);
        if (anyOf(firstDoubt | secondDoubt)) {
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
    return normaliseByProducts<D4, F4, Bits4>(from, to, count, mean, reciprocal);
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
            i = normaliseByProducts<D2, F2, Bits2>(from, to, count, mean, reciprocal);
    }
    for (; i < count; ++i) to[i] = dividedElement(from[i], mean);
}

namespace {

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
            if (flat) normaliseFlatColumn(column, column, rows, loaded.divisor);
            std::fill(column + rows, column + PlaneStride, kind.outside);
        }
        if (loaded.width < PlaneStride)
            std::fill(plane[loaded.width], plane.data() + TFloatPlane::Size, kind.outside);
        if (loaded.grey) planes[channel]->swap(plane);
    }
    grey = loaded.grey != nullptr;
    width = loaded.width;
    height = rows;
}

}  // namespace

CalibrationLoad loadDarkFrame(Workspace& workspace, const std::string& path, int fileType) {
    Loaded loaded;
    float minimum = 0;
    const CalibrationLoad load = readCalibration(path, fileType, Dark, loaded, minimum);
    if (!load.loaded) return load;
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
    loaded.divisor = flatMean(loaded, path);
    commit(loaded, Flat, {&workspace.FlatR, &workspace.FlatG, &workspace.FlatB}, workspace.FlatGrey,
           workspace.FlatWidth, workspace.FlatHeight);
    workspace.flatfile = path;
    workspace.flatfiletype = fileType;
    return load;
}

}  // namespace planexor
