#include "stack/stack_run.h"

#include <algorithm>
#include <cmath>

#include "align/quality.h"
#include "core/pixel.h"

namespace planexor {

namespace {

constexpr int QualityBins = 51;  // profile bins 0..50, radii 1..51

int lastUsableRank(int rank) { return std::clamp(rank, -1, LastFrameNumber); }

bool validFrame(int frame) { return frame >= 0 && frame <= LastFrameNumber; }

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
    const int columns = std::clamp(lastX + 1, 0, PlaneStride);
    const int rows = std::clamp(lastY + 1, 0, PlaneStride);
    for (int x = 0; x < columns; ++x) {
        std::fill_n(workspace.StackR[x], rows, 0.0f);
        std::fill_n(workspace.StackG[x], rows, 0.0f);
        std::fill_n(workspace.StackB[x], rows, 0.0f);
        std::fill_n(workspace.StackCount[x], rows, 0);
    }
}

float stackPeak(const Workspace& workspace, int width, int height, bool colour) {
    width = std::clamp(width, 0, PlaneStride);
    height = std::clamp(height, 0, PlaneStride);
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
    for (int y = 0; y < height; ++y) {
        std::uint8_t* pixel = into.row(y);
        for (int x = 0; x < width; ++x, pixel += 3) {
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

float stackQualityOf(const Workspace& workspace, FftEngine& fft, int boxSize, int boxLeft, int boxTop,
                     int frameWidth, int frameHeight, bool colour, int qualityFilter) {
    if (fft.FFTSize != boxSize) fft.SetupFFT(boxSize);
    const int n = boxSize;
    const int width = std::min(frameWidth, PlaneStride);
    const int height = std::min(frameHeight, PlaneStride);
    fft.SpecRe.clear(n);
    fft.SpecIm.clear(n);
    double total = 0.0;
    for (int i = 0; i < n; ++i) {
        const long long x = static_cast<long long>(boxLeft) + i;
        if (x < 0 || x >= width) continue;
        float* column = fft.SpecRe[i];
        for (int j = 0; j < n; ++j) {
            const long long y = static_cast<long long>(boxTop) + j;
            if (y < 0 || y >= height) continue;
            const float value = colour ? greyValue(workspace.StackR[x][y], workspace.StackG[x][y], workspace.StackB[x][y])
                                       : workspace.StackG[x][y];
            column[j] = value;
            total += value;
        }
    }
    const double mean = 0.000001 + total / (static_cast<double>(n) * n);
    for (int i = 0; i < n; ++i) {
        float* column = fft.SpecRe[i];
        for (int j = 0; j < n; ++j) column[j] = static_cast<float>(column[j] / mean);
    }
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
