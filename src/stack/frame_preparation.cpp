#include "stack/frame_preparation.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "core/error.h"
#include "core/pixel.h"
#include "core/scoped_value.h"
#include "core/vector_lanes.h"
#include "stack/subpixel_filter.h"
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace planexor {

namespace {

constexpr float DarkUnit = 0.0078125f;  // dark planes hold 128 x the 8-bit level

// Shifts also come from project files; one this far out has no overlap
// anyway, and limiting it keeps the index arithmetic inside int.
constexpr long long ShiftLimit = 1 << 24;

long long limitShift(long long shift) {
    return std::clamp(shift, -ShiftLimit, ShiftLimit);
}

// Which pixels of a source land where: loop (x, y) over [x0, x1] x [y0, y1]
// in steps reads source (x + sourceDx, y + sourceDy) into stack
// (x + stackDx, y + stackDy). Built so that all of it lies inside the source
// and the planes.
struct Placement {
    int x0 = 0, x1 = -1, y0 = 0, y1 = -1;
    int stepX = 1, stepY = 1;
    int sourceDx = 0, sourceDy = 0;
    int stackDx = 0, stackDy = 0;
};

// Shrinks [low, high] to the loop values whose source index (loop + sourceD)
// lies in 0..sourceLimit-1 and whose stack index (loop + stackD) lies in
// 0..stackLimit-1, never beyond the planes. False when nothing is left.
bool clipRange(long long low, long long high, long long sourceD, long long sourceLimit, long long stackD,
               int& first, int& last, long long stackLimit = PlaneSide) {
    stackLimit = std::clamp(stackLimit, 0LL, static_cast<long long>(PlaneSide));
    low = std::max({low, -sourceD, -stackD});
    high = std::min({high, sourceLimit - 1 - sourceD, stackLimit - 1 - stackD});
    if (low > high) return false;
    first = static_cast<int>(low);
    last = static_cast<int>(high);
    return true;
}

// De-interlacing decides which lines of a field go in. "none" keeps only
// the field's own lines, not the rebuilt ones; a line is a row, or a column
// when the fields are columns. False when the field adds nothing.
bool applyLineRule(const StackOptions& options, int currentField, long long lineDx, long long lineDy,
                   Placement& placement) {
    if (!options.interlaced) return true;
    const int field = currentField != 0 ? 1 : 0;
    switch (options.interlaceInterpolation) {
    case 0: {
        int& first = options.interlaceColumns ? placement.x0 : placement.y0;
        const long long lineD = options.interlaceColumns ? lineDx : lineDy;
        if (((first + lineD) & 1) != field) ++first;
        (options.interlaceColumns ? placement.stepX : placement.stepY) = 2;
        return true;
    }
    case 2: return field == 1;
    case 3: return field == 0;
    default: return true;
    }
}

struct Calibration {
    int darkColumns = 0, darkRows = 0;
    int flatColumns = 0, flatRows = 0;
    std::array<const TFloatPlane*, 3> dark{}, flat{};  // red, green, blue

    float darkAt(int channel, int x, int y) const { return (*dark[channel])[x][y]; }
    float flatAt(int channel, int x, int y) const { return (*flat[channel])[x][y]; }
};

// Calibration covers only the overlap of the dark or flat with the frame;
// plane elements beyond the loaded size are zero or left from an older one.
Calibration calibrationArea(const Workspace& workspace, const StackOptions& options, int frameWidth,
                            int frameHeight) {
    Calibration area;
    for (int channel = 0; channel < 3; ++channel) {
        area.dark[channel] = &workspace.darkPlane(channel);
        area.flat[channel] = &workspace.flatPlane(channel);
    }
    if (options.useDark) {
        area.darkColumns = std::clamp(workspace.DarkWidth, 0, std::min(frameWidth, PlaneSide));
        area.darkRows = std::clamp(workspace.DarkHeight, 0, std::min(frameHeight, PlaneSide));
    }
    if (options.useFlat) {
        area.flatColumns = std::clamp(workspace.FlatWidth, 0, std::min(frameWidth, PlaneSide));
        area.flatRows = std::clamp(workspace.FlatHeight, 0, std::min(frameHeight, PlaneSide));
    }
    return area;
}

// One loop over the placement, column by column so the planes are walked
// along their contiguous axis. Without calibration there is no test per
// pixel at all. The counts rise here only when `Count`; otherwise the caller
// counts the placement as a rectangle.
template <bool Colour, bool Calibrate, bool Count>
void addPixels(Workspace& workspace, const Bitmap24& source, const Placement& placement, const Calibration& area) {
    const std::size_t rowBytes = source.rowBytes();
    const std::size_t pixelStep = rowBytes * static_cast<std::size_t>(placement.stepY);
    const float weight = workspace.FrameWeight;
    for (int x = placement.x0; x <= placement.x1; x += placement.stepX) {
        const int column = x + placement.sourceDx;
        const int stackColumn = x + placement.stackDx;
        float* __restrict red = workspace.StackR[stackColumn] + placement.stackDy;
        float* __restrict green = workspace.StackG[stackColumn] + placement.stackDy;
        float* __restrict blue = workspace.StackB[stackColumn] + placement.stackDy;
        std::int32_t* __restrict count = workspace.StackCount[stackColumn] + placement.stackDy;
        const int darkRows = Calibrate && column < area.darkColumns ? area.darkRows : 0;
        const int flatRows = Calibrate && column < area.flatColumns ? area.flatRows : 0;
        const std::uint8_t* __restrict pixel = source.data() + static_cast<std::size_t>(column) * 3 +
                                               static_cast<std::size_t>(placement.y0 + placement.sourceDy) * rowBytes;
        int y = placement.y0;
#if defined(__SSE2__)
        // The common case, plain colour, four rows at a time: a column's sums
        // and counts are contiguous, only the bytes come from four rows.
        if constexpr (Colour && !Calibrate) {
            if (placement.stepY == 1) {
                const __m128i one = _mm_set1_epi32(1);
                for (; y + 3 <= placement.y1; y += 4, pixel += 4 * rowBytes) {
                    const std::uint8_t* p1 = pixel + rowBytes;
                    const std::uint8_t* p2 = p1 + rowBytes;
                    const std::uint8_t* p3 = p2 + rowBytes;
                    const __m128 r = _mm_cvtepi32_ps(_mm_setr_epi32(pixel[2], p1[2], p2[2], p3[2]));
                    const __m128 g = _mm_cvtepi32_ps(_mm_setr_epi32(pixel[1], p1[1], p2[1], p3[1]));
                    const __m128 b = _mm_cvtepi32_ps(_mm_setr_epi32(pixel[0], p1[0], p2[0], p3[0]));
                    _mm_storeu_ps(red + y, _mm_add_ps(_mm_loadu_ps(red + y), r));
                    _mm_storeu_ps(green + y, _mm_add_ps(_mm_loadu_ps(green + y), g));
                    _mm_storeu_ps(blue + y, _mm_add_ps(_mm_loadu_ps(blue + y), b));
                    if constexpr (Count) {
                        __m128i* counts = reinterpret_cast<__m128i*>(count + y);
                        _mm_storeu_si128(counts, _mm_add_epi32(_mm_loadu_si128(counts), one));
                    }
                }
            }
        }
        // Plain grey likewise, the weighted sum in double as greyValue takes it.
        if constexpr (!Colour && !Calibrate) {
            if (placement.stepY == 1) {
                const __m128i one = _mm_set1_epi32(1);
                const __m128d redWeight = _mm_set1_pd(GreyWeightRed), greenWeight = _mm_set1_pd(GreyWeightGreen),
                              blueWeight = _mm_set1_pd(GreyWeightBlue);
                const __m128 frameWeight = _mm_set1_ps(weight);
                const auto grey = [&](const std::uint8_t* a, const std::uint8_t* b) {
                    const __m128d sum = _mm_add_pd(_mm_add_pd(_mm_mul_pd(redWeight, _mm_setr_pd(a[2], b[2])),
                                                              _mm_mul_pd(greenWeight, _mm_setr_pd(a[1], b[1]))),
                                                   _mm_mul_pd(blueWeight, _mm_setr_pd(a[0], b[0])));
                    return _mm_cvtpd_ps(sum);
                };
                for (; y + 3 <= placement.y1; y += 4, pixel += 4 * rowBytes) {
                    const std::uint8_t* p1 = pixel + rowBytes;
                    const std::uint8_t* p2 = p1 + rowBytes;
                    const std::uint8_t* p3 = p2 + rowBytes;
                    const __m128 value = _mm_movelh_ps(grey(pixel, p1), grey(p2, p3));
                    _mm_storeu_ps(green + y, _mm_add_ps(_mm_loadu_ps(green + y), _mm_mul_ps(value, frameWeight)));
                    if constexpr (Count) {
                        __m128i* counts = reinterpret_cast<__m128i*>(count + y);
                        _mm_storeu_si128(counts, _mm_add_epi32(_mm_loadu_si128(counts), one));
                    }
                }
            }
        }
#endif
        for (; y <= placement.y1; y += placement.stepY, pixel += pixelStep) {
            const int row = y + placement.sourceDy;
            if constexpr (Colour) {
                float r = pixel[2], g = pixel[1], b = pixel[0];
                if constexpr (Calibrate) {
                    if (row < darkRows) {
                        r -= area.darkAt(0, column, row) * DarkUnit;
                        g -= area.darkAt(1, column, row) * DarkUnit;
                        b -= area.darkAt(2, column, row) * DarkUnit;
                    }
                    if (row < flatRows) {
                        r /= area.flatAt(0, column, row);
                        g /= area.flatAt(1, column, row);
                        b /= area.flatAt(2, column, row);
                    }
                }
                red[y] += r;
                green[y] += g;
                blue[y] += b;
            } else {
                float grey = greyValue(pixel[2], pixel[1], pixel[0]);
                if constexpr (Calibrate) {
                    if (row < darkRows) grey -= area.darkAt(1, column, row) * DarkUnit;
                    if (row < flatRows) grey /= area.flatAt(1, column, row);
                }
                green[y] += grey * weight;
            }
            if constexpr (Count) count[y] += 1;
        }
    }
}

#ifdef PLANEXOR_HAS_WIDE
// Grey with wide vectors, `columns` x `rows` of the placement (whole
// eights): eight pixels of a row made grey along their bytes, eight rows
// turned into columns, calibrated where `area` says, weighed, and added to
// the stack's columns. The values are the portable loop's: the weighted sum
// in double, rounded to float; the dark's product subtracted, then the flat
// divided, in float; times the frame's weight, added once. Outside the
// calibrated area a lane subtracts 0 and divides by 1, which leaves it.
PLANEXOR_WIDE void addGreyBlocksWide(Workspace& workspace, const Bitmap24& source, const Placement& placement,
                                     int columns, int rows, const Calibration* area) {
    const std::size_t rowBytes = source.rowBytes();
    const __m256d redWeight = _mm256_set1_pd(GreyWeightRed), greenWeight = _mm256_set1_pd(GreyWeightGreen),
                  blueWeight = _mm256_set1_pd(GreyWeightBlue);
    const __m256 frameWeight = _mm256_set1_ps(workspace.FrameWeight), darkUnit = _mm256_set1_ps(DarkUnit);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    // A channel's eight bytes from the first sixteen and the last eight of
    // 24, in the low eight lanes.
    const auto shuffle = [](int channel, int third) {
        __m128i mask;
        std::memcpy(&mask, lanes::RgbShuffles.masks[channel][third], sizeof mask);
        return mask;
    };
    const __m128i blueLow = shuffle(0, 0), blueHigh = shuffle(0, 1);
    const __m128i greenLow = shuffle(1, 0), greenHigh = shuffle(1, 1);
    const __m128i redLow = shuffle(2, 0), redHigh = shuffle(2, 1);
    for (int y = 0; y < rows; y += 8) {
        const int row = placement.y0 + y + placement.sourceDy;
        const std::uint8_t* first = source.data() + static_cast<std::size_t>(row) * rowBytes;
        // Which of the eight rows lie within the dark's and the flat's rows.
        const __m256i rowLanes = _mm256_add_epi32(_mm256_set1_epi32(row), lanes);
        const __m256 darkRows =
            area ? _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(area->darkRows), rowLanes)) : zero;
        const __m256 flatRows =
            area ? _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(area->flatRows), rowLanes)) : zero;
        for (int x = 0; x < columns; x += 8) {
            __m256 v[8];
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                const std::uint8_t* pixel =
                    first + j * rowBytes + static_cast<std::size_t>(placement.x0 + x + placement.sourceDx) * 3;
                __m128i low;
                std::memcpy(&low, pixel, sizeof low);
                const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel + 16));
                const __m256i red = _mm256_cvtepu8_epi32(
                    _mm_or_si128(_mm_shuffle_epi8(low, redLow), _mm_shuffle_epi8(high, redHigh)));
                const __m256i green = _mm256_cvtepu8_epi32(
                    _mm_or_si128(_mm_shuffle_epi8(low, greenLow), _mm_shuffle_epi8(high, greenHigh)));
                const __m256i blue = _mm256_cvtepu8_epi32(
                    _mm_or_si128(_mm_shuffle_epi8(low, blueLow), _mm_shuffle_epi8(high, blueHigh)));
                const __m128i halves[3][2] = {
                    {_mm256_castsi256_si128(red), _mm256_extracti128_si256(red, 1)},
                    {_mm256_castsi256_si128(green), _mm256_extracti128_si256(green, 1)},
                    {_mm256_castsi256_si128(blue), _mm256_extracti128_si256(blue, 1)}};
                __m128 grey[2];
                for (int half = 0; half < 2; ++half) {
                    const __m256d sum = _mm256_add_pd(
                        _mm256_add_pd(_mm256_mul_pd(redWeight, _mm256_cvtepi32_pd(halves[0][half])),
                                      _mm256_mul_pd(greenWeight, _mm256_cvtepi32_pd(halves[1][half]))),
                        _mm256_mul_pd(blueWeight, _mm256_cvtepi32_pd(halves[2][half])));
                    grey[half] = _mm256_cvtpd_ps(sum);
                }
                v[j] = _mm256_set_m128(grey[1], grey[0]);
            }
            lanes::transpose8(v);
            for (int m = 0; m < 8; ++m) {
                const int column = placement.x0 + x + m + placement.sourceDx;
                __m256 value = v[m];
                if (area) {
                    __m256 dark = zero, flat = one;
                    if (column < area->darkColumns)
                        dark = _mm256_and_ps(darkRows, _mm256_loadu_ps((*area->dark[1])[column] + row));
                    if (column < area->flatColumns)
                        flat = _mm256_blendv_ps(one, _mm256_loadu_ps((*area->flat[1])[column] + row), flatRows);
                    value = _mm256_div_ps(_mm256_sub_ps(value, _mm256_mul_ps(dark, darkUnit)), flat);
                }
                float* sums = workspace.StackG[placement.x0 + x + m + placement.stackDx] + placement.y0 + y +
                              placement.stackDy;
                _mm256_storeu_ps(sums, _mm256_add_ps(_mm256_loadu_ps(sums), _mm256_mul_ps(value, frameWeight)));
            }
        }
    }
}

// Eight rows of one pixel column, calibrated, in red, green and blue: the
// pixel's four bytes gathered from each row (its blue, green, red and the
// next pixel's blue, so the column may not be the frame's last), then the
// portable loop's steps in float, the dark's product subtracted and the flat
// divided; lanes outside the calibrated area subtract 0 and divide by 1.
PLANEXOR_WIDE PLANEXOR_INLINE void calibratedColourRows(const std::uint8_t* pixel, __m256i rowOffsets, int column,
                                                        int row, const Calibration& area, __m256 (&value)[3]) {
    const __m256i rowLanes = _mm256_add_epi32(_mm256_set1_epi32(row), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    const __m256 darkRows = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(area.darkRows), rowLanes));
    const __m256 flatRows = _mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(area.flatRows), rowLanes));
    const __m256i bytes = _mm256_i32gather_epi32(reinterpret_cast<const int*>(pixel), rowOffsets, 1);
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256 zero = _mm256_setzero_ps(), one = _mm256_set1_ps(1.0f);
    for (int c = 0; c < 3; ++c) {
        __m256 dark = zero, flat = one;
        if (column < area.darkColumns)
            dark = _mm256_and_ps(darkRows, _mm256_loadu_ps((*area.dark[c])[column] + row));
        if (column < area.flatColumns)
            flat = _mm256_blendv_ps(one, _mm256_loadu_ps((*area.flat[c])[column] + row), flatRows);
        const __m256 level = _mm256_cvtepi32_ps(_mm256_and_si256(_mm256_srli_epi32(bytes, 16 - 8 * c), byte));
        value[c] = _mm256_div_ps(_mm256_sub_ps(level, _mm256_mul_ps(dark, _mm256_set1_ps(DarkUnit))), flat);
    }
}

PLANEXOR_WIDE PLANEXOR_INLINE __m256i rowOffsets(std::size_t rowBytes) {
    return _mm256_mullo_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), _mm256_set1_epi32(static_cast<int>(rowBytes)));
}

// Calibrated colour with wide vectors, column by column (`columns` of the
// placement, each a whole number of eights of `rows` long), eight rows at a
// time. Column by column keeps the nine planes' columns walked in order;
// eight columns at once would put 72 of them, 4 KiB apart, in the same
// cache sets. The caller leaves the frame's last column to the portable loop.
PLANEXOR_WIDE void addCalibratedColumnsWide(Workspace& workspace, const Bitmap24& source, const Placement& placement,
                                            int columns, int rows, const Calibration& area) {
    const std::size_t rowBytes = source.rowBytes();
    const __m256i offsets = rowOffsets(rowBytes);
    for (int x = placement.x0; x < placement.x0 + columns; ++x) {
        const int column = x + placement.sourceDx;
        const std::uint8_t* pixel = source.data() + static_cast<std::size_t>(column) * 3 +
                                    static_cast<std::size_t>(placement.y0 + placement.sourceDy) * rowBytes;
        float* const stack[3] = {workspace.StackR[x + placement.stackDx] + placement.y0 + placement.stackDy,
                                 workspace.StackG[x + placement.stackDx] + placement.y0 + placement.stackDy,
                                 workspace.StackB[x + placement.stackDx] + placement.y0 + placement.stackDy};
        for (int y = 0; y < rows; y += 8, pixel += 8 * rowBytes) {
            __m256 value[3];
            calibratedColourRows(pixel, offsets, column, placement.y0 + y + placement.sourceDy, area, value);
            for (int c = 0; c < 3; ++c)
                _mm256_storeu_ps(stack[c] + y, _mm256_add_ps(_mm256_loadu_ps(stack[c] + y), value[c]));
        }
    }
}
#endif

// Frame pixels straight into the float planes, the counts left to the
// caller: the wide build takes calibrated colour column by column and grey
// in blocks of eight by eight, the portable loop what is left at the right
// and the bottom.
template <bool Colour, bool Calibrate>
void addBlocks(Workspace& workspace, const Bitmap24& source, const Placement& placement, const Calibration& area) {
    static_assert(Calibrate || !Colour, "plain colour waits in the pending sums");
#ifdef PLANEXOR_HAS_WIDE
    int columns = (placement.x1 - placement.x0 + 1) & ~7;
    int rows = (placement.y1 - placement.y0 + 1) & ~7;
    // A block reads eight rows of a calibration column: only within the plane.
    if (Calibrate) rows = std::min(rows, (PlaneSide - (placement.y0 + placement.sourceDy)) & ~7);
    if (useWideVectors(VectorCode::Best) && columns > 0 && rows > 0) {
        if constexpr (Colour) {
            // The gathers' fourth byte: the frame's last column is left to the portable loop.
            const int lastColumn = source.width() - 1 - placement.sourceDx;
            columns = std::max(0, std::min(placement.x1 + 1, lastColumn) - placement.x0);
            if (columns > 0) addCalibratedColumnsWide(workspace, source, placement, columns, rows, area);
        } else {
            addGreyBlocksWide(workspace, source, placement, columns, rows, Calibrate ? &area : nullptr);
        }
        Placement right = placement, below = placement;
        right.x0 = placement.x0 + columns;
        below.x1 = right.x0 - 1;
        below.y0 = placement.y0 + rows;
        addPixels<Colour, Calibrate, false>(workspace, source, right, area);
        addPixels<Colour, Calibrate, false>(workspace, source, below, area);
        return;
    }
#endif
    addPixels<Colour, Calibrate, false>(workspace, source, placement, area);
}

void addPlaced(Workspace& workspace, const Bitmap24& source, const Placement& placement, bool colour,
               const Calibration* area, PendingSums& pending) {
    // A placement of every pixel is one rectangle of counts; plain colour
    // waits whole in the lanes.
    if (placement.stepX == 1 && placement.stepY == 1) {
        if (colour && !area) {
            pending.add(workspace, source, placement.x0, placement.x1, placement.y0, placement.y1, placement.sourceDx,
                        placement.sourceDy, placement.stackDx, placement.stackDy);
            return;
        }
        pending.count(placement.x0 + placement.stackDx, placement.x1 + placement.stackDx,
                      placement.y0 + placement.stackDy, placement.y1 + placement.stackDy);
        if (area) {
            if (colour) addBlocks<true, true>(workspace, source, placement, *area);
            else addBlocks<false, true>(workspace, source, placement, *area);
        } else {
            addBlocks<false, false>(workspace, source, placement, Calibration{});
        }
        return;
    }
    if (area) {
        if (colour) addPixels<true, true, true>(workspace, source, placement, *area);
        else addPixels<false, true, true>(workspace, source, placement, *area);
    } else {
        const Calibration none;
        if (colour) addPixels<true, false, true>(workspace, source, placement, none);
        else addPixels<false, false, true>(workspace, source, placement, none);
    }
}

// Each pixel's value and weight summed in place, and the weights beside;
// local quality is a choice per pixel, so nothing here is in a hurry.
void addLocallyWeighted(Workspace& workspace, const Bitmap24& frame, const Placement& placement, long long shiftX,
                        long long shiftY, bool colour, const LocalQuality& local, WeightSums& weights) {
    const std::size_t planeSize = static_cast<std::size_t>(PlaneSide) * PlaneSide;
    if (weights.sums.size() != planeSize) weights.sums.assign(planeSize, 0.0f);
    for (int x = placement.x0; x <= placement.x1; x += placement.stepX) {
        const int column = x + placement.sourceDx, stackColumn = x + placement.stackDx;
        // The reference's pixel q holds what the frame has at q + shift.
        const int referenceX = static_cast<int>(column - shiftX);
        float* red = workspace.StackR[stackColumn] + placement.stackDy;
        float* green = workspace.StackG[stackColumn] + placement.stackDy;
        float* blue = workspace.StackB[stackColumn] + placement.stackDy;
        float* sums = weights.sums.data() + static_cast<std::size_t>(stackColumn) * PlaneSide + placement.stackDy;
        for (int y = placement.y0; y <= placement.y1; y += placement.stepY) {
            const int row = y + placement.sourceDy;
            const float weight = local.weight(referenceX, static_cast<int>(row - shiftY));
            if (!(weight > 0.0f)) continue;
            const std::uint8_t* pixel = frame.pixel(column, row);
            if (colour) {
                red[y] += weight * pixel[2];
                green[y] += weight * pixel[1];
                blue[y] += weight * pixel[0];
            } else {
                // Grey keeps the frame's quality weight, as without local quality.
                green[y] += weight * workspace.FrameWeight * greyValue(pixel[2], pixel[1], pixel[0]);
            }
            sums[y] += weight;
        }
    }
    if (weights.x0 > weights.x1) {
        weights.x0 = weights.y0 = PlaneSide;
        weights.x1 = weights.y1 = -1;
    }
    weights.x0 = std::min(weights.x0, placement.x0 + placement.stackDx);
    weights.x1 = std::max(weights.x1, placement.x1 + placement.stackDx);
    weights.y0 = std::min(weights.y0, placement.y0 + placement.stackDy);
    weights.y1 = std::max(weights.y1, placement.y1 + placement.stackDy);
}

}  // namespace

Kernel kernelFor(float (*function)(float), float support, float fraction) {
    Kernel kernel;
    kernel.first = static_cast<int>(std::floor(fraction - support)) + 1;
    double sum = 0.0;
    for (int k = 0; k < 8; ++k) {
        const float position = static_cast<float>(kernel.first + k) - fraction;
        if (position >= support) break;
        kernel.weights[k] = function(position);
        sum += kernel.weights[k];
        kernel.count = k + 1;
    }
    if (std::fabs(sum) > 1e-6)
        for (int k = 0; k < kernel.count; ++k) kernel.weights[k] = static_cast<float>(kernel.weights[k] / sum);
    return kernel;
}

namespace {

// The lanes a loop runs on: four with SSE, eight with AVX2 (no fused
// steps, so both builds give the same sums).
template <int Width>
struct Lanes;
template <>
struct Lanes<4> {
    using F = lanes::F4;
    using I = lanes::I4;
};
template <>
struct Lanes<8> {
    using F = lanes::F8;
    typedef int I __attribute__((vector_size(32)));
};

template <class V>
PLANEXOR_INLINE V broadcast(float value) {
    V v;
    for (std::size_t l = 0; l < sizeof(V) / sizeof(float); ++l) v[l] = value;
    return v;
}

// out[j] = weights[0] * in[j] + weights[1] * in[j + stride] + ..., summed
// in that order, a vector at a time: one pass over the output however long
// the kernel.
template <int Width, int Taps>
PLANEXOR_INLINE void filteredLanes(float* out, const float* in, std::size_t stride, const float* weights, int count,
                                   int n) {
    using F = typename Lanes<Width>::F;
    if constexpr (Taps > 0) count = Taps;
    F w[8];
    for (int k = 0; k < count; ++k) w[k] = broadcast<F>(weights[k]);
    int j = 0;
    for (; j + Width <= n; j += Width) {
        F sum = lanes::load<F>(in + j) * w[0];
#pragma GCC unroll 8
        for (int k = 1; k < count; ++k) sum = sum + lanes::load<F>(in + k * stride + j) * w[k];
        lanes::store(out + j, sum);
    }
    for (; j < n; ++j) {
        float sum = weights[0] * in[j];
        for (int k = 1; k < count; ++k) sum += weights[k] * in[k * stride + j];
        out[j] = sum;
    }
}

// Down one column into the stack: planes[c][j] += weights[0] * in[c][j] +
// weights[1] * in[c][j + 1] + ..., summed in that order, and count[j] += 1,
// in one pass.
template <int Width, int Channels, int Taps>
PLANEXOR_INLINE void addColumnLanes(float* const* planes, std::int32_t* count, const float* const* in,
                                    const float* weights, int taps, int n) {
    using F = typename Lanes<Width>::F;
    using I = typename Lanes<Width>::I;
    if constexpr (Taps > 0) taps = Taps;
    F w[8];
    for (int k = 0; k < taps; ++k) w[k] = broadcast<F>(weights[k]);
    I one;
    for (int l = 0; l < Width; ++l) one[l] = 1;
    int j = 0;
    for (; j + Width <= n; j += Width) {
        // The channels' sums side by side, each in the kernel's order.
        F sum0 = lanes::load<F>(in[0] + j) * w[0], sum1 = sum0, sum2 = sum0;
        if constexpr (Channels == 3) {
            sum1 = lanes::load<F>(in[1] + j) * w[0];
            sum2 = lanes::load<F>(in[2] + j) * w[0];
        }
#pragma GCC unroll 8
        for (int k = 1; k < taps; ++k) {
            sum0 = sum0 + lanes::load<F>(in[0] + j + k) * w[k];
            if constexpr (Channels == 3) {
                sum1 = sum1 + lanes::load<F>(in[1] + j + k) * w[k];
                sum2 = sum2 + lanes::load<F>(in[2] + j + k) * w[k];
            }
        }
        lanes::store(planes[0] + j, lanes::load<F>(planes[0] + j) + sum0);
        if constexpr (Channels == 3) {
            lanes::store(planes[1] + j, lanes::load<F>(planes[1] + j) + sum1);
            lanes::store(planes[2] + j, lanes::load<F>(planes[2] + j) + sum2);
        }
        I counted;
        std::memcpy(&counted, count + j, sizeof counted);
        counted += one;
        std::memcpy(count + j, &counted, sizeof counted);
    }
    for (; j < n; ++j) {
        for (int c = 0; c < Channels; ++c) {
            float sum = weights[0] * in[c][j];
            for (int k = 1; k < taps; ++k) sum += weights[k] * in[c][j + k];
            planes[c][j] += sum;
        }
        count[j] += 1;
    }
}

template <int Taps>
void filteredPortable(float* out, const float* in, std::size_t stride, const float* weights, int count, int n) {
    filteredLanes<4, Taps>(out, in, stride, weights, count, n);
}
template <int Channels, int Taps>
void addColumnPortable(float* const* planes, std::int32_t* count, const float* const* in, const float* weights,
                       int taps, int n) {
    addColumnLanes<4, Channels, Taps>(planes, count, in, weights, taps, n);
}
#if defined(PLANEXOR_HAS_WIDE)
template <int Taps>
PLANEXOR_WIDE void filteredWide(float* out, const float* in, std::size_t stride, const float* weights, int count,
                                int n) {
    filteredLanes<8, Taps>(out, in, stride, weights, count, n);
}
template <int Channels, int Taps>
PLANEXOR_WIDE void addColumnWide(float* const* planes, std::int32_t* count, const float* const* in,
                                 const float* weights, int taps, int n) {
    addColumnLanes<8, Channels, Taps>(planes, count, in, weights, taps, n);
}
#endif

#if defined(PLANEXOR_HAS_WIDE)
// Eight columns of eight rows of colour bytes (from `pixel` on, every row
// `rowBytes` further) into floats, each channel's column of eight stored
// at out[c] + column * stride: the bytes of a row gathered by channel, then
// the eight rows turned into columns. Exact, as the portable loop is.
PLANEXOR_WIDE void convertColourBlockWide(const std::uint8_t* pixel, std::size_t rowBytes, float* const* out,
                                          std::size_t stride) {
    __m256 v[3][8];
#pragma GCC unroll 8
    for (int j = 0; j < 8; ++j, pixel += rowBytes) {
        __m128i low;
        std::memcpy(&low, pixel, sizeof low);
        const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel + 16));
        for (int c = 0; c < 3; ++c) {
            const int byte = 2 - c;  // red, green, blue from blue, green, red bytes
            __m128i lowMask, highMask;
            std::memcpy(&lowMask, lanes::RgbShuffles.masks[byte][0], sizeof lowMask);
            std::memcpy(&highMask, lanes::RgbShuffles.masks[byte][1], sizeof highMask);
            v[c][j] = _mm256_cvtepi32_ps(
                _mm256_cvtepu8_epi32(_mm_or_si128(_mm_shuffle_epi8(low, lowMask), _mm_shuffle_epi8(high, highMask))));
        }
    }
    for (int c = 0; c < 3; ++c) {
        lanes::transpose8(v[c]);
        for (int m = 0; m < 8; ++m) _mm256_storeu_ps(out[c] + static_cast<std::size_t>(m) * stride, v[c][m]);
    }
}

// Calibrated colour for the filter: `count` rows (whole eights) of `columns`
// pixel columns from (firstColumn, firstRow) on, column i's values of a
// channel at out[c] + i * stride. The columns may not hold the frame's last.
PLANEXOR_WIDE void convertCalibratedColumnsWide(const Bitmap24& source, int firstColumn, int columns, int firstRow,
                                                int count, const Calibration& area, float* const* out,
                                                std::size_t stride) {
    const std::size_t rowBytes = source.rowBytes();
    const __m256i offsets = rowOffsets(rowBytes);
    for (int i = 0; i < columns; ++i) {
        const int column = firstColumn + i;
        const std::uint8_t* pixel =
            source.data() + static_cast<std::size_t>(column) * 3 + static_cast<std::size_t>(firstRow) * rowBytes;
        for (int j = 0; j < count; j += 8, pixel += 8 * rowBytes) {
            __m256 value[3];
            calibratedColourRows(pixel, offsets, column, firstRow + j, area, value);
            for (int c = 0; c < 3; ++c) _mm256_storeu_ps(out[c] + static_cast<std::size_t>(i) * stride + j, value[c]);
        }
    }
}
#endif

}  // namespace

// The kernels met in practice (Lanczos3 with and without a fraction) get
// their own unrolled loops.
void filtered(float* out, const float* in, std::size_t stride, const float* weights, int count, int n) {
#if defined(PLANEXOR_HAS_WIDE)
    if (wideVectorsAvailable()) {
        if (count == 6) return filteredWide<6>(out, in, stride, weights, count, n);
        if (count == 5) return filteredWide<5>(out, in, stride, weights, count, n);
        return filteredWide<0>(out, in, stride, weights, count, n);
    }
#endif
    if (count == 6) return filteredPortable<6>(out, in, stride, weights, count, n);
    if (count == 5) return filteredPortable<5>(out, in, stride, weights, count, n);
    filteredPortable<0>(out, in, stride, weights, count, n);
}

namespace {

template <int Channels>
void addColumn(float* const* planes, std::int32_t* count, const float* const* in, const float* weights, int taps,
               int n) {
#if defined(PLANEXOR_HAS_WIDE)
    if (wideVectorsAvailable()) {
        if (taps == 6) return addColumnWide<Channels, 6>(planes, count, in, weights, taps, n);
        if (taps == 5) return addColumnWide<Channels, 5>(planes, count, in, weights, taps, n);
        return addColumnWide<Channels, 0>(planes, count, in, weights, taps, n);
    }
#endif
    if (taps == 6) return addColumnPortable<Channels, 6>(planes, count, in, weights, taps, n);
    if (taps == 5) return addColumnPortable<Channels, 5>(planes, count, in, weights, taps, n);
    addColumnPortable<Channels, 0>(planes, count, in, weights, taps, n);
}

// A kernel that only takes the pixel itself (a fraction of 0): the offset
// of that pixel, else -1.
int identityTap(const Kernel& kernel) {
    int tap = -1;
    for (int k = 0; k < kernel.count; ++k) {
        if (kernel.weights[k] == 1.0f && tap < 0) tap = k;
        else if (kernel.weights[k] != 0.0f) return -1;
    }
    return tap;
}

// The placement's pixels read a fraction of a pixel further on: the source
// part they need is taken into floats (calibrated, the edge repeated beyond
// limitX x limitY), moved along the rows, then down the columns, and added.
template <bool Colour, bool Calibrate>
void addInterpolated(Workspace& workspace, const Bitmap24& source, const Placement& steps, int limitX, int limitY,
                     const Kernel& across, const Kernel& down, const Calibration& calibration,
                     SubpixelScratch& scratch) {
    constexpr int Channels = Colour ? 3 : 1;
    // Source columns and rows read, before the edge is applied.
    const int firstColumn = steps.x0 + steps.sourceDx + across.first;
    const int lastColumn = steps.x1 + steps.sourceDx + across.first + across.count - 1;
    const int firstRow = steps.y0 + steps.sourceDy + down.first;
    const int lastRow = steps.y1 + steps.sourceDy + down.first + down.count - 1;
    const int columns = lastColumn - firstColumn + 1, rows = lastRow - firstRow + 1;
    // The stack's columns are made a band at a time, from the values of the
    // band's own source columns, which stay in the cache between the passes.
    // Even, for a placement that takes every other column.
    constexpr int OutBand = 32;
    for (int c = 0; c < Channels; ++c) {
        scratch.values[c].resize(static_cast<std::size_t>(std::min(columns, OutBand + across.count)) * rows);
        scratch.moved[c].resize(static_cast<std::size_t>(rows));
    }
    scratch.column.resize(static_cast<std::size_t>(rows));
    const std::size_t rowBytes = source.rowBytes();
    // A band of columns at a time, row by row: the bytes are read along
    // their rows and each column's values still written in order.
    constexpr int Band = 16;
    const auto convert = [&](int from, int to) {
        for (int band = from; band < to; band += Band) {
            const int bandEnd = std::min(to, band + Band);
            // One row of the band, the edge repeated and calibrated.
            const auto convertRow = [&](int j) {
                const int row = std::clamp(firstRow + j, 0, limitY - 1);
                const std::uint8_t* line = source.data() + static_cast<std::size_t>(row) * rowBytes;
                for (int i = band; i < bandEnd; ++i) {
                    const int column = std::clamp(firstColumn + i, 0, limitX - 1);
                    const std::uint8_t* pixel = line + static_cast<std::size_t>(column) * 3;
                    float value[3];
                    if constexpr (Colour) {
                        value[0] = pixel[2], value[1] = pixel[1], value[2] = pixel[0];
                    } else {
                        value[0] = greyValue(pixel[2], pixel[1], pixel[0]);
                    }
                    if constexpr (Calibrate) {
                        if (column < calibration.darkColumns && row < calibration.darkRows) {
                            if constexpr (Colour) {
                                value[0] -= calibration.darkAt(0, column, row) * DarkUnit;
                                value[1] -= calibration.darkAt(1, column, row) * DarkUnit;
                                value[2] -= calibration.darkAt(2, column, row) * DarkUnit;
                            } else {
                                value[0] -= calibration.darkAt(1, column, row) * DarkUnit;
                            }
                        }
                        if (column < calibration.flatColumns && row < calibration.flatRows) {
                            if constexpr (Colour) {
                                value[0] /= calibration.flatAt(0, column, row);
                                value[1] /= calibration.flatAt(1, column, row);
                                value[2] /= calibration.flatAt(2, column, row);
                            } else {
                                value[0] /= calibration.flatAt(1, column, row);
                            }
                        }
                    }
                    const std::size_t at = static_cast<std::size_t>(i - from) * rows + j;
                    for (int c = 0; c < Channels; ++c) scratch.values[c][at] = value[c];
                }
            };
            int j = 0;
#if defined(PLANEXOR_HAS_WIDE)
            // Plain colour, eight columns by eight rows a step, where the
            // band's columns and the rows need no edge; rows above the frame
            // (which repeat its first) one by one before.
            if constexpr (Colour && !Calibrate) {
                if (wideVectorsAvailable() && bandEnd - band == Band && firstColumn + band >= 0 &&
                    firstColumn + bandEnd <= limitX) {
                    for (; j < rows && firstRow + j < 0; ++j) convertRow(j);
                    for (; j + 8 <= rows && firstRow + j + 8 <= limitY; j += 8) {
                        const std::uint8_t* line = source.data() + static_cast<std::size_t>(firstRow + j) * rowBytes;
                        for (int i = band; i < bandEnd; i += 8) {
                            const std::size_t at = static_cast<std::size_t>(i - from) * rows + j;
                            float* const out[3] = {scratch.values[0].data() + at, scratch.values[1].data() + at,
                                                   scratch.values[2].data() + at};
                            convertColourBlockWide(line + static_cast<std::size_t>(firstColumn + i) * 3, rowBytes,
                                                   out, static_cast<std::size_t>(rows));
                        }
                    }
                }
            }
            // Calibrated colour, column by column, eight rows a gather, where
            // the band's columns need no edge (and none is the frame's last).
            if constexpr (Colour && Calibrate) {
                if (wideVectorsAvailable() && firstColumn + band >= 0 && firstColumn + bandEnd <= limitX - 1) {
                    for (; j < rows && firstRow + j < 0; ++j) convertRow(j);
                    const int count = std::min(rows - j, std::min(limitY, PlaneSide) - (firstRow + j)) & ~7;
                    if (count > 0) {
                        const std::size_t at = static_cast<std::size_t>(band - from) * rows + j;
                        float* const out[3] = {scratch.values[0].data() + at, scratch.values[1].data() + at,
                                               scratch.values[2].data() + at};
                        convertCalibratedColumnsWide(source, firstColumn + band, bandEnd - band, firstRow + j, count,
                                                     calibration, out, static_cast<std::size_t>(rows));
                        j += count;
                    }
                }
            }
#endif
#if defined(__SSE2__)
            // Plain colour, four rows at a time: one store per column and channel.
            if constexpr (Colour && !Calibrate) {
                for (; j + 4 <= rows; j += 4) {
                    const std::uint8_t* line[4];
                    for (int r = 0; r < 4; ++r)
                        line[r] = source.data() +
                                  static_cast<std::size_t>(std::clamp(firstRow + j + r, 0, limitY - 1)) * rowBytes;
                    for (int i = band; i < bandEnd; ++i) {
                        const std::size_t offset =
                            static_cast<std::size_t>(std::clamp(firstColumn + i, 0, limitX - 1)) * 3;
                        const std::uint8_t *p0 = line[0] + offset, *p1 = line[1] + offset, *p2 = line[2] + offset,
                                           *p3 = line[3] + offset;
                        const std::size_t at = static_cast<std::size_t>(i - from) * rows + j;
                        _mm_storeu_ps(scratch.values[0].data() + at,
                                      _mm_cvtepi32_ps(_mm_setr_epi32(p0[2], p1[2], p2[2], p3[2])));
                        _mm_storeu_ps(scratch.values[1].data() + at,
                                      _mm_cvtepi32_ps(_mm_setr_epi32(p0[1], p1[1], p2[1], p3[1])));
                        _mm_storeu_ps(scratch.values[2].data() + at,
                                      _mm_cvtepi32_ps(_mm_setr_epi32(p0[0], p1[0], p2[0], p3[0])));
                    }
                }
            }
#endif
            for (; j < rows; ++j) convertRow(j);
        }
    };
    // Stack column by stack column: along the rows into one column that
    // stays in the cache (output column i reads value columns i .. i + count
    // - 1; with no fraction across, the values as they are), then down it
    // into the stack (stack row y reads rows y - y0 .. y - y0 + count - 1).
    const int acrossTap = identityTap(across);
    const float frameWeight = Colour ? 1.0f : workspace.FrameWeight;
    const int outRows = steps.y1 - steps.y0 + 1;
    std::array<float, 8> downWeights{};
    for (int k = 0; k < down.count; ++k) downWeights[k] = down.weights[k] * frameWeight;
    const int outColumns = steps.x1 - steps.x0 + 1;
    for (int bandStart = 0; bandStart < outColumns; bandStart += OutBand) {
        const int bandEnd = std::min(outColumns, bandStart + OutBand);
        convert(bandStart, bandEnd + across.count - 1);
        for (int x = steps.x0 + bandStart; x < steps.x0 + bandEnd; x += steps.stepX) {
            const int stackColumn = x + steps.stackDx;
            const std::size_t at = static_cast<std::size_t>(x - steps.x0 - bandStart) * rows;
            const float* moved[Channels];
            float* planes[Channels];
            float* const all[3] = {workspace.StackR[stackColumn], workspace.StackG[stackColumn],
                                   workspace.StackB[stackColumn]};
            for (int c = 0; c < Channels; ++c) {
                const float* values = scratch.values[c].data() + at;
                if (acrossTap >= 0) {
                    moved[c] = values + static_cast<std::size_t>(acrossTap) * rows;
                } else {
                    filtered(scratch.moved[c].data(), values, static_cast<std::size_t>(rows), across.weights.data(),
                             across.count, rows);
                    moved[c] = scratch.moved[c].data();
                }
                planes[c] = all[Colour ? c : 1] + steps.stackDy + steps.y0;
            }
            std::int32_t* count = workspace.StackCount[stackColumn] + steps.stackDy + steps.y0;
            if (steps.stepY == 1) {
                addColumn<Channels>(planes, count, moved, downWeights.data(), down.count, outRows);
                continue;
            }
            float* sum = scratch.column.data();
            for (int c = 0; c < Channels; ++c) {
                filtered(sum, moved[c], 1, downWeights.data(), down.count, outRows);
                for (int y = 0; y < outRows; y += steps.stepY) planes[c][y] += sum[y];
            }
            for (int y = 0; y < outRows; y += steps.stepY) count[y] += 1;
        }
    }
}

// Lanczos3 moves detail by a fraction of a pixel and keeps it sharp;
// bilinear weights soften a stack more than whole-pixel rounding does.
const ResampleFilter& subpixelInterpolation() { return resampleFilterTable()[5]; }

// A fraction read from a damaged or foreign record stays within a pixel.
float limitFraction(float fraction) { return fraction == fraction ? std::clamp(fraction, -1.0f, 1.0f) : 0.0f; }

void addPlacedInterpolated(Workspace& workspace, const Bitmap24& source, const Placement& placement, int limitX,
                           int limitY, const Kernel& across, const Kernel& down, bool colour, const Calibration* area,
                           SubpixelScratch& scratch) {
    if (limitX < 1 || limitY < 1 || placement.x0 > placement.x1 || placement.y0 > placement.y1) return;
    const Calibration none;
    const Calibration& calibration = area ? *area : none;
    if (area) {
        if (colour) addInterpolated<true, true>(workspace, source, placement, limitX, limitY, across, down, calibration, scratch);
        else addInterpolated<false, true>(workspace, source, placement, limitX, limitY, across, down, calibration, scratch);
    } else {
        if (colour) addInterpolated<true, false>(workspace, source, placement, limitX, limitY, across, down, calibration, scratch);
        else addInterpolated<false, false>(workspace, source, placement, limitX, limitY, across, down, calibration, scratch);
    }
}

// Before enlarging, the frame's own bytes are calibrated, rounded and clamped.
void calibrateBytes(const Workspace& workspace, const StackOptions& options, Bitmap24& frame) {
    const Calibration area = calibrationArea(workspace, options, frame.width(), frame.height());
    const std::size_t rowBytes = frame.rowBytes();
    for (int x = 0; x < area.darkColumns; ++x) {
        std::uint8_t* column = frame.data() + static_cast<std::size_t>(x) * 3;
        for (int y = 0; y < area.darkRows; ++y) {
            std::uint8_t* pixel = column + static_cast<std::size_t>(y) * rowBytes;
            pixel[2] = byteClamp(pixel[2] - area.darkAt(0, x, y) * (1.0 / 128));
            pixel[1] = byteClamp(pixel[1] - area.darkAt(1, x, y) * (1.0 / 128));
            pixel[0] = byteClamp(pixel[0] - area.darkAt(2, x, y) * (1.0 / 128));
        }
    }
    for (int x = 0; x < area.flatColumns; ++x) {
        std::uint8_t* column = frame.data() + static_cast<std::size_t>(x) * 3;
        for (int y = 0; y < area.flatRows; ++y) {
            std::uint8_t* pixel = column + static_cast<std::size_t>(y) * rowBytes;
            pixel[2] = byteClamp(pixel[2] / static_cast<double>(area.flatAt(0, x, y)));
            pixel[1] = byteClamp(pixel[1] / static_cast<double>(area.flatAt(1, x, y)));
            pixel[0] = byteClamp(pixel[0] / static_cast<double>(area.flatAt(2, x, y)));
        }
    }
}

// Copies the w x h window at (left, top) out of the frame. Window pixels
// beyond the frame repeat its edge: they only feed the filter near the edge,
// and the stack never takes a pixel that maps outside the frame.
void cutWindow(const Bitmap24& frame, int left, int top, Bitmap24& window) {
    const int lastColumn = frame.width() - 1;
    const int lastRow = frame.height() - 1;
    for (int v = 0; v < window.height(); ++v) {
        const std::uint8_t* in = frame.row(std::clamp(top + v, 0, lastRow));
        std::uint8_t* out = window.row(v);
        for (int u = 0; u < window.width(); ++u) {
            const std::uint8_t* pixel = in + static_cast<std::size_t>(std::clamp(left + u, 0, lastColumn)) * 3;
            out[3 * u] = pixel[0];
            out[3 * u + 1] = pixel[1];
            out[3 * u + 2] = pixel[2];
        }
    }
}

// The enlarged pixels 0..size-1 whose centre falls on a frame pixel
// (0..frameSize-1) when the window of `windowSize` starts at `start`.
bool insideFrame(int size, int windowSize, long long start, int frameSize, int& first, int& last) {
    const float scale = resampleScale(windowSize, size);
    first = size;
    last = -1;
    for (int i = 0; i < size; ++i) {
        const double position = static_cast<double>(start) + static_cast<float>(i) / scale;
        if (position < -0.5 || position >= frameSize - 0.5) continue;
        first = std::min(first, i);
        last = i;
    }
    return first <= last;
}

}  // namespace

void SplitField(Bitmap24& frame, int field, bool columns, int frameWidth, int frameHeight) {
    const int width = std::clamp(frameWidth, 0, frame.width());
    const int height = std::clamp(frameHeight, 0, frame.height());
    const int firstRebuilt = field == 0 ? 1 : 2;
    if (!columns) {
        const std::size_t bytes = static_cast<std::size_t>(width) * 3;
        for (int y = firstRebuilt; y <= height - 2; y += 2) {
            const std::uint8_t* above = frame.row(y - 1);
            const std::uint8_t* below = frame.row(y + 1);
            std::uint8_t* line = frame.row(y);
            for (std::size_t i = 0; i < bytes; ++i) line[i] = static_cast<std::uint8_t>((above[i] + below[i]) >> 1);
        }
    } else {
        for (int y = 0; y < height; ++y) {
            std::uint8_t* line = frame.row(y);
            for (int x = firstRebuilt; x <= width - 2; x += 2)
                for (int c = 0; c < 3; ++c)
                    line[3 * x + c] = static_cast<std::uint8_t>((line[3 * (x - 1) + c] + line[3 * (x + 1) + c]) >> 1);
        }
    }
}

void chooseShiftAndWeight(Workspace& workspace, int frameNumber, bool firstField, bool qualityWeight) {
    if (frameNumber < 0 || frameNumber > LastFrameNumber) throw PlanexorError("Frame number out of range");
    const TFrameRec& record = workspace.FrameRecs[frameNumber];
    workspace.ApplyShiftX = firstField ? record.FieldShiftX : record.ShiftX;
    workspace.ApplyShiftY = firstField ? record.FieldShiftY : record.ShiftY;
    workspace.ApplySubShiftX = firstField ? record.FieldSubShiftX : record.SubShiftX;
    workspace.ApplySubShiftY = firstField ? record.FieldSubShiftY : record.SubShiftY;
    const float quality = firstField ? record.FieldQuality : record.Quality;
    workspace.FrameWeight = qualityWeight ? quality : 1.0f;
}

FramePreparation::FramePreparation(const StackOptions& options)
    : options_(options), filter_(options.resample ? &filterForItem(options.filterItem) : nullptr),
      interpolation_(&subpixelInterpolation()), bins_(subpixelInterpolation()) {
    if (options.interlaceInterpolation < 0 || options.interlaceInterpolation > 3)
        throw PlanexorError("Unknown interlace interpolation");
    const int side = MaxImageSide;
    if (options.resample) {
        cutOut_.reserve(side, side);
        resampled_.reserve(side, side);
    }
    if (options.interlaced) unsplit_.reserve(side, side);
}

void FramePreparation::AddFrameToStack(Workspace& workspace, Bitmap24& frame) {
    bool calibrate = (options_.useDark || options_.useFlat) && !fieldsCalibrated_;
    if (points_ || local_) {
        if (calibrate) calibrateBytes(workspace, options_, frame);
        calibrate = false;
    }
    if (points_) {
        const FrameShift shift = frameShift(workspace);
        points_->measure(frame, shift.x, shift.y);
        points_->warp(frame, shift.x, shift.y);
    }
    if (options_.resample) addResampled(workspace, frame, calibrate);
    else addDirect(workspace, frame, calibrate);
}

FramePreparation::FrameShift FramePreparation::frameShift(const Workspace& workspace) const {
    // Resampled registration counts its shifts in enlarged pixels.
    const double scale = options_.resample ? workspace.ResampleFactor : 1.0;
    const auto frame = [&](int whole, float fraction) {
        return (whole + (options_.subpixel ? limitFraction(fraction) : 0.0f)) / scale;
    };
    return {frame(workspace.ApplyShiftX, workspace.ApplySubShiftX), frame(workspace.ApplyShiftY, workspace.ApplySubShiftY)};
}

void FramePreparation::addDirect(Workspace& workspace, const Bitmap24& frame, bool calibrate) {
    const long long width = workspace.ImageWidth;
    const long long height = workspace.ImageHeight;
    const long long shiftX = limitShift(workspace.ApplyShiftX);
    const long long shiftY = limitShift(workspace.ApplyShiftY);
    const long long frameWidth = frame.width();
    const long long frameHeight = frame.height();

    long long lowX, highX, lowY, highY, sourceDx, sourceDy, stackDx = 0, stackDy = 0;
    long long stackColumns = PlaneSide, stackRows = PlaneSide;
    workspace.StackOffsetX = 0;
    workspace.StackOffsetY = 0;
    if (options_.expand) {
        // The whole frame but its outermost lines, at MaxShift - shift.
        lowX = 1 - shiftX;
        highX = width - shiftX - 2;
        lowY = 1 - shiftY;
        highY = height - shiftY - 2;
        sourceDx = shiftX;
        sourceDy = shiftY;
        workspace.StackOffsetX = workspace.MaxShiftX;
        workspace.StackOffsetY = workspace.MaxShiftY;
        stackDx = limitShift(workspace.MaxShiftX);
        stackDy = limitShift(workspace.MaxShiftY);
        // The expanded stack is cut at its size limit; a shift beyond the
        // recorded spread must not land outside the area the run clears.
        stackColumns = workspace.StackWidth;
        stackRows = workspace.StackHeight;
    } else {
        lowX = std::max(0LL, -shiftX);
        highX = std::min(frameWidth - 1, width) - std::max(0LL, shiftX);
        lowY = std::max(0LL, -shiftY);
        highY = std::min(frameHeight - 1, height) - std::max(0LL, shiftY);
        sourceDx = shiftX + options_.xShift;
        sourceDy = shiftY + options_.yShift;
    }

    // A source pixel must lie in the working image and in this frame's own
    // bitmap, which for still frames may be smaller than the sequence's.
    Placement placement;
    if (!clipRange(lowX, highX, sourceDx, std::min(width, frameWidth), stackDx, placement.x0, placement.x1,
                   stackColumns) ||
        !clipRange(lowY, highY, sourceDy, std::min(height, frameHeight), stackDy, placement.y0, placement.y1,
                   stackRows))
        return;
    placement.sourceDx = static_cast<int>(sourceDx);
    placement.sourceDy = static_cast<int>(sourceDy);
    placement.stackDx = static_cast<int>(stackDx);
    placement.stackDy = static_cast<int>(stackDy);
    if (!applyLineRule(options_, workspace.CurrentField, sourceDx, sourceDy, placement)) return;

    if (local_ && local_->active()) {
        addLocallyWeighted(workspace, frame, placement, shiftX, shiftY, options_.colour, *local_, weightSums_);
        return;
    }
    const Calibration area =
        calibrate ? calibrationArea(workspace, options_, frame.width(), frame.height()) : Calibration{};
    if (options_.subpixel) {
        const float fractionX = limitFraction(workspace.ApplySubShiftX);
        const float fractionY = limitFraction(workspace.ApplySubShiftY);
        // Plain colour waits in the bin of its fraction, its counts one rectangle.
        if (options_.colour && !calibrate && placement.stepX == 1 && placement.stepY == 1) {
            bins_.add(workspace, frame, placement.x0, placement.x1, placement.y0, placement.y1, placement.sourceDx,
                      placement.sourceDy, placement.stackDx, placement.stackDy,
                      static_cast<int>(std::min(width, frameWidth)), static_cast<int>(std::min(height, frameHeight)),
                      fractionX, fractionY);
            pending_.count(placement.x0 + placement.stackDx, placement.x1 + placement.stackDx,
                           placement.y0 + placement.stackDy, placement.y1 + placement.stackDy);
            return;
        }
        const Kernel across = kernelFor(interpolation_->function, interpolation_->support, fractionX);
        const Kernel down = kernelFor(interpolation_->function, interpolation_->support, fractionY);
        addPlacedInterpolated(workspace, frame, placement, static_cast<int>(std::min(width, frameWidth)),
                              static_cast<int>(std::min(height, frameHeight)), across, down, options_.colour,
                              calibrate ? &area : nullptr, scratch_);
        return;
    }
    addPlaced(workspace, frame, placement, options_.colour, calibrate ? &area : nullptr, pending_);
}

void FramePreparation::settleWeights(Workspace& workspace) {
    for (int x = weightSums_.x0; x <= weightSums_.x1; ++x) {
        float* sums = weightSums_.sums.data() + static_cast<std::size_t>(x) * PlaneSide;
        float* planes[3] = {workspace.StackR[x], workspace.StackG[x], workspace.StackB[x]};
        std::int32_t* count = workspace.StackCount[x];
        for (int y = weightSums_.y0; y <= weightSums_.y1; ++y) {
            if (!(sums[y] > 0.0f)) continue;
            // As many frames as the weights come to, each weighing one.
            const std::int32_t frames = std::max(1, static_cast<int>(std::lround(sums[y])));
            const float scale = static_cast<float>(frames) / sums[y];
            for (float* plane : planes) plane[y] *= scale;
            count[y] += frames;
            sums[y] = 0.0f;
        }
    }
    weightSums_.x0 = 0;
    weightSums_.x1 = -1;
}

void FramePreparation::addResampled(Workspace& workspace, Bitmap24& frame, bool calibrate) {
    const double factor = workspace.ResampleFactor;
    if (!(factor >= 1.0 && factor <= 4.0)) throw PlanexorError("Resample factor out of range");
    workspace.StackOffsetX = 0;
    workspace.StackOffsetY = 0;
    if (calibrate) calibrateBytes(workspace, options_, frame);

    // The enlarged frame, one pixel short of the factor so its first and last
    // pixels sit on the frame's.
    const int fullWidth = nearest(workspace.FrameWidth * factor) - 1;
    const int fullHeight = nearest(workspace.FrameHeight * factor) - 1;
    // Beyond 1024 only a window of the enlarged frame fits, centred as far as
    // possible on the chosen middle point.
    int cropX = 0, cropY = 0;
    int width = fullWidth, height = fullHeight;
    if (fullWidth > MaxImageSide) {
        cropX = std::clamp(nearest(workspace.stackx * factor) - MaxImageSide / 2, 0, fullWidth - MaxImageSide);
        width = MaxImageSide;
    }
    if (fullHeight > MaxImageSide) {
        cropY = std::clamp(nearest(workspace.stacky * factor) - MaxImageSide / 2, 0, fullHeight - MaxImageSide);
        height = MaxImageSide;
    }
    workspace.ImageWidth = width;
    workspace.ImageHeight = height;
    if (width < 1 || height < 1 || frame.empty()) return;

    // The enlarged frame placed at its shift and read back at the same
    // offset comes down to: stack (x, y) takes enlarged window pixel (x, y),
    // where the window starts at the shift in whole frame pixels.
    const long long shiftX = limitShift(static_cast<long long>(options_.xShift) + cropX + workspace.ApplyShiftX);
    const long long shiftY = limitShift(static_cast<long long>(options_.yShift) + cropY + workspace.ApplyShiftY);
    const int windowWidth = std::max(1, nearest(width / factor));
    const int windowHeight = std::max(1, nearest(height / factor));
    const int left = nearest(static_cast<double>(shiftX) / factor);
    const int top = nearest(static_cast<double>(shiftY) / factor);

    Placement placement;
    int coveredX0, coveredX1, coveredY0, coveredY1;
    if (!clipRange(0, width - 1, shiftX, fullWidth, 0, placement.x0, placement.x1) ||
        !clipRange(0, height - 1, shiftY, fullHeight, 0, placement.y0, placement.y1) ||
        !insideFrame(width, windowWidth, left, frame.width(), coveredX0, coveredX1) ||
        !insideFrame(height, windowHeight, top, frame.height(), coveredY0, coveredY1))
        return;
    placement.x0 = std::max(placement.x0, coveredX0);
    placement.x1 = std::min(placement.x1, coveredX1);
    placement.y0 = std::max(placement.y0, coveredY0);
    placement.y1 = std::min(placement.y1, coveredY1);
    if (placement.x0 > placement.x1 || placement.y0 > placement.y1) return;
    if (!applyLineRule(options_, workspace.CurrentField, shiftX, shiftY, placement)) return;

    // Sub-pixel: the window is read from where the shift really points, the
    // part below a whole frame pixel going into the filter's positions.
    float offsetX = 0.0f, offsetY = 0.0f;
    if (options_.subpixel) {
        offsetX = static_cast<float>((shiftX + limitFraction(workspace.ApplySubShiftX)) / factor - left);
        offsetY = static_cast<float>((shiftY + limitFraction(workspace.ApplySubShiftY)) / factor - top);
    }
    cutOut_.resize(windowWidth, windowHeight);
    cutWindow(frame, left, top, cutOut_);
    plan_.prepare(windowWidth, windowHeight, width, height, filter_->function, filter_->support, offsetX, offsetY);
    plan_.apply(cutOut_, resampled_);
    addPlaced(workspace, resampled_, placement, options_.colour, nullptr, pending_);
}

void FramePreparation::addDecodedFrame(Workspace& workspace, Bitmap24& frame, int frameNumber) {
    if (!options_.interlaced) {
        workspace.CurrentField = 1;
        chooseShiftAndWeight(workspace, frameNumber, false, options_.qualityWeight);
        AddFrameToStack(workspace, frame);
        return;
    }
    // The dark and flat are the camera's own lines: a rebuilt line is made of
    // its neighbours, so the frame is calibrated whole before the split.
    const bool calibrate = options_.useDark || options_.useFlat;
    if (calibrate) calibrateBytes(workspace, options_, frame);
    const ScopedValue<bool> calibrated(fieldsCalibrated_, calibrate, false);
    unsplit_ = frame;
    for (int field = 0; field < 2; ++field) {
        if (field == 1) frame = unsplit_;
        workspace.CurrentField = field;
        chooseShiftAndWeight(workspace, frameNumber, field == 0, options_.qualityWeight);
        SplitField(frame, field, options_.interlaceColumns, workspace.FrameWidth, workspace.FrameHeight);
        AddFrameToStack(workspace, frame);
    }
}

void normaliseStack(Workspace& workspace, int width, int height, bool colour, bool partialCoverage) {
    if (!partialCoverage) return;
    width = std::clamp(width, 0, PlaneSide);
    height = std::clamp(height, 0, PlaneSide);
    for (int x = 0; x < width; ++x) {
        float* red = workspace.StackR[x];
        float* green = workspace.StackG[x];
        float* blue = workspace.StackB[x];
        const std::int32_t* count = workspace.StackCount[x];
        for (int y = 0; y < height; ++y) {
            if (count[y] > 0) {
                if (colour) {
                    const float share = 1.0f / static_cast<float>(count[y]);
                    red[y] *= share;
                    green[y] *= share;
                    blue[y] *= share;
                } else {
                    green[y] /= static_cast<float>(count[y]);
                }
            } else {
                red[y] = green[y] = blue[y] = 0.0f;
            }
        }
    }
}

}  // namespace planexor
