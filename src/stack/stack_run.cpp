#include "stack/stack_run.h"

#include <algorithm>
#include <cmath>

#include "align/quality.h"
#include "core/pixel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace planexor {

namespace {

constexpr int QualityBins = 51;  // profile bins 0..50, radii 1..51

int lastUsableRank(int rank) { return std::clamp(rank, -1, LastFrameNumber); }

bool validFrame(int frame) { return frame >= 0 && frame <= LastFrameNumber; }

#if defined(__SSE2__)
// Two floats at any address into the low half of a vector, and back.
__m128 loadPair(const float* p) { return _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))); }
void storePair(float* p, __m128 v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(v)); }
#endif

// out[j] = greyValue(red[j], green[j], blue[j]), two at a time in double
// with the same steps as greyValue; returns total plus the values, added in
// order so the sum is the same to the last bit.
double greyRun(const float* red, const float* green, const float* blue, float* out, int n, double total) {
    int j = 0;
#if defined(__SSE2__)
    const __m128d wr = _mm_set1_pd(GreyWeightRed), wg = _mm_set1_pd(GreyWeightGreen),
                  wb = _mm_set1_pd(GreyWeightBlue);
    const auto pair = [](const float* p) { return _mm_cvtps_pd(loadPair(p)); };
    for (; j + 2 <= n; j += 2) {
        const __m128d sum = _mm_add_pd(_mm_add_pd(_mm_mul_pd(wr, pair(red + j)), _mm_mul_pd(wg, pair(green + j))),
                                       _mm_mul_pd(wb, pair(blue + j)));
        storePair(out + j, _mm_cvtpd_ps(sum));
        total += out[j];
        total += out[j + 1];
    }
#endif
    for (; j < n; ++j) {
        out[j] = greyValue(red[j], green[j], blue[j]);
        total += out[j];
    }
    return total;
}

// values[j] = values[j] / divisor in double, rounded back to float.
void divideRun(float* values, double divisor, int n) {
    int j = 0;
#if defined(__SSE2__)
    const __m128d d = _mm_set1_pd(divisor);
    for (; j + 2 <= n; j += 2) {
        storePair(values + j, _mm_cvtpd_ps(_mm_div_pd(_mm_cvtps_pd(loadPair(values + j)), d)));
    }
#endif
    for (; j < n; ++j) values[j] = static_cast<float>(values[j] / divisor);
}

}  // namespace

StackSelection selectStackRanks(const Workspace& workspace, int highestRank, int lastRank, int cutPercent) {
    StackSelection selection;
    const int last = lastUsableRank(lastRank);
    for (int rank = 0; rank <= last; ++rank) {
        const int frame = workspace.Ranking[rank].Frame;
        // NaN never wins the comparison, so a broken record cannot poison the cut.
        if (validFrame(frame) && workspace.FrameRecs[frame].Difference > selection.maxDifference)
            selection.maxDifference = workspace.FrameRecs[frame].Difference;
    }
    selection.cut = static_cast<float>(cutPercent * static_cast<double>(selection.maxDifference) * 0.01);

    const int highest = std::min(lastUsableRank(highestRank), last);
    for (int rank = 0; rank <= highest; ++rank) {
        const int frame = workspace.Ranking[rank].Frame;
        if (!validFrame(frame)) continue;
        const TFrameRec& record = workspace.FrameRecs[frame];
        if (record.Excluded == 0 && record.Difference <= selection.cut) selection.ranks.push_back(rank);
    }
    return selection;
}

ShiftSpread shiftSpread(const Workspace& workspace, const std::vector<int>& ranks, bool interlaced) {
    ShiftSpread spread;
    auto widen = [&spread](int x, int y) {
        spread.minX = std::min(spread.minX, x);
        spread.maxX = std::max(spread.maxX, x);
        spread.minY = std::min(spread.minY, y);
        spread.maxY = std::max(spread.maxY, y);
    };
    for (int rank : ranks) {
        const TFrameRec& record = workspace.FrameRecs[workspace.Ranking[rank].Frame];
        widen(record.ShiftX, record.ShiftY);
        if (interlaced) widen(record.FieldShiftX, record.FieldShiftY);
    }
    return spread;
}

void clearStackArea(Workspace& workspace, int lastX, int lastY) {
    const int columns = std::clamp(lastX + 1, 0, PlaneSide);
    const int rows = std::clamp(lastY + 1, 0, PlaneSide);
    for (int x = 0; x < columns; ++x) {
        std::fill_n(workspace.StackR[x], rows, 0.0f);
        std::fill_n(workspace.StackG[x], rows, 0.0f);
        std::fill_n(workspace.StackB[x], rows, 0.0f);
        std::fill_n(workspace.StackCount[x], rows, 0);
    }
}

float stackPeak(const Workspace& workspace, int width, int height, bool colour) {
    width = std::clamp(width, 0, PlaneSide);
    height = std::clamp(height, 0, PlaneSide);
    float peak = 0.0f;
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            peak = std::max(peak, workspace.StackG[x][y]);
            if (colour) peak = std::max({peak, workspace.StackR[x][y], workspace.StackB[x][y]});
        }
    }
    return peak;
}

void renderStack(const Workspace& workspace, int width, int height, bool colour, float peak, Bitmap24& into) {
    width = std::clamp(width, 0, MaxImageSide);
    height = std::clamp(height, 0, MaxImageSide);
    into.resize(width, height);
    const double scale = 1.0 / (static_cast<double>(peak) + 0.000001) * 255.0;
    // A band of rows at a time, each plane column read along its contiguous
    // axis: row by row, every pixel would be on another page of each plane.
    constexpr int Band = 8;
    for (int band = 0; band < height; band += Band) {
        const int bandEnd = std::min(height, band + Band);
        for (int x = 0; x < width; ++x) {
            for (int y = band; y < bandEnd; ++y) {
                std::uint8_t* pixel = into.row(y) + static_cast<std::size_t>(x) * 3;
                if (colour) {
                    pixel[0] = byteClamp(workspace.StackB[x][y] * scale);
                    pixel[1] = byteClamp(workspace.StackG[x][y] * scale);
                    pixel[2] = byteClamp(workspace.StackR[x][y] * scale);
                } else {
                    pixel[0] = pixel[1] = pixel[2] = byteClamp(workspace.StackG[x][y] * scale);
                }
            }
        }
    }
}

float stackQualityOf(const Workspace& workspace, FftEngine& fft, int boxSize, int boxLeft, int boxTop,
                     int frameWidth, int frameHeight, bool colour, int qualityFilter) {
    if (fft.FFTSize != boxSize) fft.SetupFFT(boxSize);
    const int n = boxSize;
    const int width = std::min(frameWidth, PlaneSide);
    const int height = std::min(frameHeight, PlaneSide);
    fft.SpecRe.clear(n);
    fft.SpecIm.clear(n);
    // The box's part inside the frame; the rest stays 0.
    const long long left = boxLeft, top = boxTop;
    const int firstColumn = static_cast<int>(std::clamp(-left, 0LL, static_cast<long long>(n)));
    const int endColumn = static_cast<int>(std::clamp(width - left, 0LL, static_cast<long long>(n)));
    const int firstRow = static_cast<int>(std::clamp(-top, 0LL, static_cast<long long>(n)));
    const int endRow = static_cast<int>(std::clamp(height - top, 0LL, static_cast<long long>(n)));
    double total = 0.0;
    for (int i = firstColumn; i < endColumn; ++i) {
        const int x = static_cast<int>(left + i), y = static_cast<int>(top + firstRow);
        float* column = fft.SpecRe[i] + firstRow;
        const int rows = endRow - firstRow;
        if (colour) {
            total = greyRun(workspace.StackR[x] + y, workspace.StackG[x] + y, workspace.StackB[x] + y, column, rows,
                            total);
        } else {
            std::copy_n(workspace.StackG[x] + y, std::max(rows, 0), column);
            for (int j = 0; j < rows; ++j) total += column[j];  // in order, as above
        }
    }
    const double mean = 0.000001 + total / (static_cast<double>(n) * n);
    for (int i = 0; i < n; ++i) divideRun(fft.SpecRe[i], mean, n);
    fft.ForwardFFT2D();
    fft.ComputeRadialProfile();

    // Not the frames' quality: the stack's own measure starts one bin past
    // the filter and guards with 1e-6. It is only ever compared with other
    // stack qualities of the same run (the stack graph's green curve), and
    // keeps the values that curve has always shown.
    const double quality = profileShare(fft.RadialProfile, qualityFilter + 1, 0.000001);
    return std::isfinite(quality) ? static_cast<float>(quality) : 0.0f;
}

}  // namespace planexor
