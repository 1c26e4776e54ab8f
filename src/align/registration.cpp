#include "align/registration.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/error.h"
#include "core/pixel.h"
#include "core/vector_lanes.h"

namespace planexor {

// ---------------------------------------------------------------- drawings

void drawFeatureMarks(DrawingBuilder& builder, int x, int y, int boxLeft, int boxTop, int size, bool centrePixel) {
    using drawing_colour::White;
    builder.ellipse(White, x - 15, y - 15, x + 15, y + 15);
    if (centrePixel) builder.pixel(White, {x, y});
    builder.segment(White, {x - 15, y}, {x - 5, y});
    builder.segment(White, {x + 15, y}, {x + 5, y});
    builder.segment(White, {x, y - 15}, {x, y - 5});
    builder.segment(White, {x, y + 15}, {x, y + 5});
    DrawnLine& box = builder.line(White);
    const int right = boxLeft + size, bottom = boxTop + size;
    box.points.assign({{boxLeft, boxTop}, {right, boxTop}, {right, bottom}, {boxLeft, bottom}, {boxLeft, boxTop}});
}

void drawBoxOutline(DrawingBuilder& builder, int x, int y, int size) {
    const int half = size / 2;
    DrawnLine& outline = builder.line(drawing_colour::White);
    outline.invert = true;
    outline.points.assign(
        {{x - half, y - half}, {x + half, y - half}, {x + half, y + half}, {x - half, y + half}, {x - half, y - half}});
}

// ------------------------------------------------------------ registration

namespace {

// Grey values through three tables of the same products the plain formula
// forms, added in the same order, so the result is the same float.
struct GreyTables {
    double red[256], green[256], blue[256];
    GreyTables() {
        for (int v = 0; v < 256; ++v) {
            red[v] = GreyWeightRed * v;
            green[v] = GreyWeightGreen * v;
            blue[v] = GreyWeightBlue * v;
        }
    }
    float operator()(const std::uint8_t* bgr) const {
        return static_cast<float>(red[bgr[2]] + green[bgr[1]] + blue[bgr[0]]);
    }
};

const GreyTables& greyOf() {
    static const GreyTables tables;
    return tables;
}

// The readable part of a frame: the working size, never more than the
// bitmap holds (a still frame may be smaller than the sequence).
struct Bounds {
    int width = 0, height = 0;
};

Bounds boundsOf(const Bitmap24& frame, int frameWidth, int frameHeight) {
    return {std::clamp(frameWidth, 0, frame.width()), std::clamp(frameHeight, 0, frame.height())};
}

// The half-open run of box indices i in [0, size) whose pixel origin + i lies in [0, limit).
struct Span {
    int first = 0, end = 0;
};

Span insideSpan(int origin, int size, int limit) {
    const long long first = std::max(0LL, -static_cast<long long>(origin));
    const long long end = std::min(static_cast<long long>(size), static_cast<long long>(limit) - origin);
    return {static_cast<int>(first), static_cast<int>(std::max(first, end))};
}

// plane[c][r] := grey of pixel (left + c, top + r) for the columns and rows
// given, which the caller has checked to lie inside the image. Sixteen rows
// go at a time, so that each visit to a plane column fills a cache line:
// plane columns lie 2 KB apart and a row at a time would evict itself.
// Returns the sum of the values read; partial sums of grey values are exact
// in double precision, so the order of adding does not matter.
double readGreyBlock(const Bitmap24& image, int left, int top, Span columns, Span rows, TSpectrumPlane& plane) {
    if (columns.first >= columns.end) return 0.0;
    constexpr int Band = 16;
    const GreyTables& grey = greyOf();
    const std::size_t stride = image.rowBytes();
    double sums[4] = {};
    for (int r0 = rows.first; r0 < rows.end; r0 += Band) {
        const int count = std::min(Band, rows.end - r0);
        const std::uint8_t* pixel = image.pixel(left + columns.first, top + r0);
        for (int c = columns.first; c < columns.end; ++c, pixel += 3) {
            float* out = plane[c] + r0;
            if (count == Band) {
#pragma GCC unroll 16
                for (int k = 0; k < Band; ++k) {
                    const float value = grey(pixel + k * stride);
                    out[k] = value;
                    sums[k & 3] += value;
                }
            } else {
                for (int k = 0; k < count; ++k) {
                    const float value = grey(pixel + k * stride);
                    out[k] = value;
                    sums[0] += value;
                }
            }
        }
    }
    return (sums[0] + sums[1]) + (sums[2] + sums[3]);
}

// plane[c][r] := grey of pixel (left + c, top + r) inside the bounds, 0
// elsewhere. Returns the sum of the grey values read.
double readBox(const Bitmap24& frame, Bounds bounds, int left, int top, int size, TSpectrumPlane& plane) {
    plane.clear(size);
    return readGreyBlock(frame, left, top, insideSpan(left, size, bounds.width), insideSpan(top, size, bounds.height),
                         plane);
}

void subtractMean(TSpectrumPlane& plane, int size, double mean) {
    for (int a = 0; a < size; ++a) {
        float* column = plane[a];
        for (int b = 0; b < size; ++b) column[b] = static_cast<float>(column[b] - mean);
    }
}

int boxSizeOf(const FftEngine& fft) { return fft.FFTSize; }

void requireReference(const Alignment& alignment, const FftEngine& fft) {
    // A spectrum of another size would be correlated cell by cell with the
    // wrong frequencies.
    if (alignment.referenceSize != fft.FFTSize)
        throw PlanexorError("The alignment reference does not match the box size: click the alignment feature again");
}

// Four lanes with IEEE square roots give the same values as the scalar code.
using lanes::F4;

// C = R conj(F), or its phase only, into SpecRe/SpecIm where F (the frame's
// spectrum) is, whitening F first when asked.
template <bool Normalize, bool Phase>
void crossPowerSpectrum(FftEngine& fft, const Alignment& alignment, int size) {
    const F4 floor = {0.000001f, 0.000001f, 0.000001f, 0.000001f};
    const F4 one = {1.0f, 1.0f, 1.0f, 1.0f};
    for (int a = 0; a < size; ++a) {
        float* re = fft.SpecRe[a];
        float* im = fft.SpecIm[a];
        const float* refRe = alignment.RefRe[a];
        const float* refIm = alignment.RefIm[a];
        for (int b = 0; b < size; b += 4) {
            F4 fr = lanes::load<F4>(re + b), fi = lanes::load<F4>(im + b);
            if constexpr (Normalize) {
                const F4 scale = one / lanes::squareRoot(fr * fr + fi * fi + floor);
                fr *= scale;
                fi *= scale;
            }
            const F4 rr = lanes::load<F4>(refRe + b), ri = lanes::load<F4>(refIm + b);
            F4 cr = rr * fr + ri * fi;
            F4 ci = ri * fr - rr * fi;
            if constexpr (Phase) {
                const F4 pr = rr * fr - ri * fi, pi = rr * fi + ri * fr;
                F4 magnitude = lanes::squareRoot(pr * pr + pi * pi);
                magnitude = magnitude == 0.0f ? floor : magnitude;
                cr /= magnitude;
                ci /= magnitude;
            }
            lanes::store(re + b, cr);
            lanes::store(im + b, ci);
        }
    }
}

void crossPowerSpectrum(FftEngine& fft, const Alignment& alignment, int size, bool normalize, bool phase) {
    if (normalize) {
        if (phase) crossPowerSpectrum<true, true>(fft, alignment, size);
        else crossPowerSpectrum<true, false>(fft, alignment, size);
    } else {
        if (phase) crossPowerSpectrum<false, true>(fft, alignment, size);
        else crossPowerSpectrum<false, false>(fft, alignment, size);
    }
}

// The largest cell, searched from -1e11; of equal maxima the first in
// column-then-row order wins. The maximum is found four lanes wide first.
void findPeak(const FftEngine& fft, int size, CorrelationPeak& peak) {
    const F4 start = {-1e11f, -1e11f, -1e11f, -1e11f};
    F4 largest = start;
    for (int a = 0; a < size; ++a) {
        const float* column = fft.SpecRe[a];
        for (int b = 0; b < size; b += 4) {
            const F4 v = lanes::load<F4>(column + b);
            largest = v > largest ? v : largest;  // a NaN never wins
        }
    }
    const float best = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
    peak.indexA = peak.indexB = 0;
    peak.height = best;
    if (!(best > -1e11f)) return;
    for (int a = 0; a < size; ++a) {
        const float* column = fft.SpecRe[a];
        for (int b = 0; b < size; ++b) {
            if (column[b] == best) {
                peak.indexA = a;
                peak.indexB = b;
                return;
            }
        }
    }
}

// The peak's top between cells, along each axis through the peak cell.
void refinePeak(const FftEngine& fft, int size, CorrelationPeak& peak) {
    const auto at = [&fft, size](int a, int b) {
        return static_cast<double>(fft.SpecRe[(a + size) % size][(b + size) % size]);
    };
    const int a = peak.indexA, b = peak.indexB;
    peak.fractionA = peakOffset(at(a - 1, b), at(a, b), at(a + 1, b));
    peak.fractionB = peakOffset(at(a, b - 1), at(a, b), at(a, b + 1));
}

bool firstFieldOf(const Workspace& workspace, bool interlaced) { return interlaced && workspace.CurrentField == 0; }

int frameIndex(const Workspace& workspace) { return std::clamp(workspace.CurrentFrame, 0, LastFrameNumber); }

void storeShift(Workspace& workspace, bool firstField, int x, int y) {
    TFrameRec& record = workspace.FrameRecs[frameIndex(workspace)];
    (firstField ? record.FieldShiftX : record.ShiftX) = x;
    (firstField ? record.FieldShiftY : record.ShiftY) = y;
}

// The per-frame drift of the track: the last two whole displacements of
// consecutive frames (same field). A quarter box bounds it, so that one
// misregistered frame cannot throw the next box off the feature.
void updatePrediction(Alignment& alignment, int frame, int field, int shiftX, int shiftY, int size) {
    Alignment::Found& last = alignment.lastFound[field];
    alignment.TrackVelX = alignment.TrackVelY = 0;
    if (frame > 0 && last.frame == frame - 1) {
        const int limit = size / 4;
        alignment.TrackVelX = std::clamp(shiftX - last.x, -limit, limit);
        alignment.TrackVelY = std::clamp(shiftY - last.y, -limit, limit);
    }
    last = {frame, shiftX, shiftY};
}

}  // namespace

double peakOffset(double before, double centre, double after) {
    // A parabola through the three; the broad peak of a low-passed
    // correlation is near enough to one over a cell either side.
    const double curvature = before - 2.0 * centre + after;
    if (!(curvature < 0.0)) return 0.0;
    const double offset = 0.5 * (before - after) / curvature;
    return std::isfinite(offset) ? std::clamp(offset, -0.5, 0.5) : 0.0;
}

void Alignment::resetTrack() {
    TrackX = TrackY = TrackVelX = TrackVelY = 0;
    lastFound[0] = lastFound[1] = Found{};
}

float buildReferenceSpectrum(Alignment& alignment, FftEngine& fft, const Bitmap24& frame, int frameWidth,
                             int frameHeight, const RegistrationOptions& options) {
    const int size = boxSizeOf(fft);
    fft.SpecIm.clear(size);
    const double sum = readBox(frame, boundsOf(frame, frameWidth, frameHeight), alignment.BoxLeft, alignment.BoxTop,
                               size, fft.SpecRe);
    double mean = sum / (static_cast<double>(size) * size);
    if (mean == 0.0) mean = 1e-10;
    subtractMean(fft.SpecRe, size, mean);
    const float quality = scoreBlockQuality(fft, options.qualityFilter);
    if (options.fftFilter) alignment.FilterRadius2 = applySpectrumLowPass(fft, options.fftFilterRadius);
    alignment.RefRe.copyFrom(fft.SpecRe, size);
    alignment.RefIm.copyFrom(fft.SpecIm, size);
    alignment.referenceSize = size;
    // Found whatever the options: "Sub-pixel" may be ticked after the click.
    alignment.referenceDisc = findDisc(frame, frameWidth, frameHeight);
    return quality;
}

CorrelationPeak correlateFrame(Alignment& alignment, FftEngine& fft, const Bitmap24& frame, int frameWidth,
                               int frameHeight, const RegistrationOptions& options) {
    requireReference(alignment, fft);
    const int size = boxSizeOf(fft);
    CorrelationPeak peak;
    if (options.track) {
        peak.offsetX = alignment.TrackX + (options.predict ? alignment.TrackVelX : 0);
        peak.offsetY = alignment.TrackY + (options.predict ? alignment.TrackVelY : 0);
    }
    const Bounds bounds = boundsOf(frame, frameWidth, frameHeight);
    const long long left = static_cast<long long>(alignment.BoxLeft) + peak.offsetX;
    const long long top = static_cast<long long>(alignment.BoxTop) + peak.offsetY;
    peak.outside = top < 0 || left < 0 || top + size - 1 >= bounds.height || left + size - 1 >= bounds.width;

    fft.SpecIm.clear(size);
    const int boxLeft = static_cast<int>(std::clamp(left, -1000000LL, 1000000LL));
    const int boxTop = static_cast<int>(std::clamp(top, -1000000LL, 1000000LL));
    double mean = readBox(frame, bounds, boxLeft, boxTop, size, fft.SpecRe) / (static_cast<double>(size) * size);
    if (mean == 0.0) mean = 0.000001;
    subtractMean(fft.SpecRe, size, mean);
    fft.ForwardFFT2D();
    if (options.fftFilter) alignment.FilterRadius2 = applySpectrumLowPass(fft, options.fftFilterRadius);
    crossPowerSpectrum(fft, alignment, size, options.normalize, options.correlationType == 1);
    fft.InverseFFT2D();

    findPeak(fft, size, peak);
    if (options.subpixel) refinePeak(fft, size, peak);
    return peak;
}

bool alignmentLost(const Alignment& alignment, const CorrelationPeak& peak, bool misalignWarning) {
    return (misalignWarning && peak.height < 0.7 * alignment.PrevPeak) || alignment.RealignRequested;
}

RegistrationResult finishRegistration(Workspace& workspace, Alignment& alignment, FftEngine& fft,
                                      const Bitmap24& frame, const Bitmap24& reference, const CorrelationPeak& peak,
                                      std::optional<GraphPoint> userClick, const RegistrationOptions& options) {
    requireReference(alignment, fft);
    const int size = boxSizeOf(fft);
    const int half = size / 2;
    const int hotx = workspace.hotx, hoty = workspace.hoty;
    alignment.PrevPeak = peak.height;

    RegistrationResult result;
    // A frame displaced by (sx, sy) peaks at (-sx, -sy): the fraction turns
    // sign with it. A clicked feature has none.
    double subX = 0.0, subY = 0.0;
    if (options.subpixel && !userClick) {
        subX = -peak.fractionA;
        subY = -peak.fractionB;
    }
    if (userClick) {
        // The clicked point is where the feature is in this frame.
        result.localX = userClick->x - peak.offsetX - hotx;
        result.localY = userClick->y - peak.offsetY - hoty;
    } else {
        // A frame displaced by (sx, sy) peaks at (-sx mod N, -sy mod N).
        result.localX = -(peak.indexA > half ? peak.indexA - size : peak.indexA);
        result.localY = -(peak.indexB > half ? peak.indexB - size : peak.indexB);
    }
    const int foundX = hotx + result.localX, foundY = hoty + result.localY;  // nx, ny
    result.foundX = foundX - alignment.BoxLeft;
    result.foundY = foundY - alignment.BoxTop;
    result.markX = foundX + peak.offsetX;
    result.markY = foundY + peak.offsetY;

    const bool firstField = firstFieldOf(workspace, options.interlaced);
    int shiftX = result.localX, shiftY = result.localY;
    if (options.track) {
        // The whole displacement: the next box is read where the feature was found.
        shiftX += peak.offsetX;
        shiftY += peak.offsetY;
        alignment.TrackX = shiftX;
        alignment.TrackY = shiftY;
        updatePrediction(alignment, workspace.CurrentFrame, firstField ? 0 : 1, shiftX, shiftY, size);
    }

    // Seeing moves the box's own detail by a pixel or two, the disc's light
    // as a whole not: where there is a whole disc and it moved about as the
    // box did, the shift is the disc's, to a fraction of a pixel. The track
    // stays with the box.
    if (options.subpixel && !userClick && !options.interlaced && alignment.referenceDisc) {
        if (const auto disc = discShift(frame, workspace.FrameWidth, workspace.FrameHeight, *alignment.referenceDisc,
                                        shiftX, shiftY)) {
            shiftX = nearest(disc->x);
            shiftY = nearest(disc->y);
            subX = disc->x - shiftX;
            subY = disc->y - shiftY;
        }
    }

    // Registration difference over the box around the feature, frame
    // against reference, each less its own mean.
    fft.SpecRe.clear(size);
    fft.SpecIm.clear(size);
    const Bounds frameBounds = boundsOf(frame, workspace.FrameWidth, workspace.FrameHeight);
    const Bounds referenceBounds = boundsOf(reference, workspace.FrameWidth, workspace.FrameHeight);
    const long long frameLeft = static_cast<long long>(hotx) + shiftX - half;
    const long long frameTop = static_cast<long long>(hoty) + shiftY - half;
    const long long referenceLeft = static_cast<long long>(hotx) - half;
    const long long referenceTop = static_cast<long long>(hoty) - half;
    const auto clampOrigin = [](long long v) { return static_cast<int>(std::clamp(v, -1000000LL, 1000000LL)); };
    const Span frameColumns = insideSpan(clampOrigin(frameLeft), size, frameBounds.width);
    const Span referenceColumns = insideSpan(clampOrigin(referenceLeft), size, referenceBounds.width);
    const Span frameRows = insideSpan(clampOrigin(frameTop), size, frameBounds.height);
    const Span referenceRows = insideSpan(clampOrigin(referenceTop), size, referenceBounds.height);
    Span columns{std::max(frameColumns.first, referenceColumns.first),
                 std::min(frameColumns.end, referenceColumns.end)};
    Span rows{std::max(frameRows.first, referenceRows.first), std::min(frameRows.end, referenceRows.end)};
    if (rows.first >= rows.end || columns.first >= columns.end) rows = columns = Span{};
    // Only where both pixels exist; the spans are empty when either box
    // lies wholly outside, so the origins are then never used.
    const double frameSum = readGreyBlock(frame, clampOrigin(frameLeft), clampOrigin(frameTop), columns, rows, fft.SpecRe);
    const double referenceSum =
        readGreyBlock(reference, clampOrigin(referenceLeft), clampOrigin(referenceTop), columns, rows, fft.SpecIm);
    const double cells = static_cast<double>(size) * size;
    const double frameMean = frameSum / cells, referenceMean = referenceSum / cells;
    result.outside = peak.outside || frameTop < 0 || frameLeft < 0 || frameTop + size >= frameBounds.height ||
                     frameLeft + size >= frameBounds.width;
    float difference = 0.0f;
    for (int a = 0; a < size; ++a) {
        float* re = fft.SpecRe[a];
        float* im = fft.SpecIm[a];
        for (int b = 0; b < size; ++b) {
            // Both sides rounded alike, so a frame equal to the reference differs by exactly 0.
            re[b] = static_cast<float>(re[b] - frameMean);
            const float d = re[b] - static_cast<float>(im[b] - referenceMean);
            im[b] = 0.0f;
            difference += d * d;
        }
    }

    TFrameRec& record = workspace.FrameRecs[frameIndex(workspace)];
    (firstField ? record.FieldDifference : record.Difference) = difference;
    result.difference = difference;
    if (options.resampled) {
        // Shifts count in resampled pixels; the track stays in frame pixels.
        record.Difference = 1.0f;
        // With fractions, the whole enlarged shift is the nearest to the whole
        // shift and its fraction together, so the part left stays within half
        // an enlarged pixel.
        const double factor = options.resampleFactor;
        const double totalX = (shiftX + subX) * factor, totalY = (shiftY + subY) * factor;
        const int wholeX = nearest(options.subpixel ? totalX : shiftX * factor);
        const int wholeY = nearest(options.subpixel ? totalY : shiftY * factor);
        subX = totalX - wholeX;
        subY = totalY - wholeY;
        shiftX = wholeX;
        shiftY = wholeY;
    }
    storeShift(workspace, firstField, shiftX, shiftY);
    result.shiftX = shiftX;
    result.shiftY = shiftY;
    if (options.subpixel) {
        result.subShiftX = static_cast<float>(subX);
        result.subShiftY = static_cast<float>(subY);
        (firstField ? record.FieldSubShiftX : record.SubShiftX) = result.subShiftX;
        (firstField ? record.FieldSubShiftY : record.SubShiftY) = result.subShiftY;
    }

    if (result.outside) {
        fft.ClearRadialProfile();
    } else {
        fft.ForwardFFT2D();
        fft.ComputeRadialProfile();
    }
    result.quality = options.discQuality
                         ? alignment.disc.measure(frame, workspace.FrameWidth, workspace.FrameHeight)
                         : spectrumQuality(fft.RadialProfile, options.qualityFilter);
    storeQuality(workspace, options.interlaced, result.quality);
    return result;
}

RegistrationResult registerFrame(Workspace& workspace, Alignment& alignment, FftEngine& fft, const Bitmap24& frame,
                                 const Bitmap24& reference, const RegistrationOptions& options) {
    const CorrelationPeak peak =
        correlateFrame(alignment, fft, frame, workspace.FrameWidth, workspace.FrameHeight, options);
    return finishRegistration(workspace, alignment, fft, frame, reference, peak, std::nullopt, options);
}

// ----------------------------------------------------------------- ranking

void storeQuality(Workspace& workspace, bool interlaced, float quality) {
    TFrameRec& record = workspace.FrameRecs[frameIndex(workspace)];
    (firstFieldOf(workspace, interlaced) ? record.FieldQuality : record.Quality) = quality;
}

void SortRanking(Workspace& workspace, int last) {
    last = std::clamp(last, 0, LastFrameNumber);
    struct Entry {
        std::int32_t frame;
        float quality;
        bool excluded;
    };
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(last) + 1);
    for (int k = 0; k <= last; ++k) {
        const TRankEntry& rank = workspace.Ranking[k];
        const int frame = std::clamp(rank.Frame, 0, LastFrameNumber);
        entries.push_back({rank.Frame, rank.Quality, workspace.FrameRecs[frame].Excluded != 0});
    }
    // A NaN read from a damaged record sorts last instead of breaking the order.
    const auto key = [](float quality) { return quality == quality ? quality : -INFINITY; };
    std::stable_sort(entries.begin(), entries.end(), [&key](const Entry& a, const Entry& b) {
        if (a.excluded != b.excluded) return b.excluded;
        return key(a.quality) > key(b.quality);
    });
    for (int k = 0; k <= last; ++k) {
        workspace.Ranking[k].Frame = entries[k].frame;
        workspace.Ranking[k].Quality = entries[k].quality;
    }
}

int chainCutRank(const Workspace& workspace, int lastRank, int lowerQualityPercent) {
    lastRank = std::clamp(lastRank, 0, LastFrameNumber);
    if (lastRank == 0) return 0;
    const double limit = lowerQualityPercent / 100.0 * workspace.Ranking[0].Quality;
    // The ranks before the first one below the limit; all when none is.
    for (int k = 1; k <= lastRank; ++k)
        if (workspace.Ranking[k].Quality < limit) return k - 1;
    return lastRank;
}

int rankMarkerX(int rank, int lastRank) { return rankX(rank, lastRank); }

RegistrationGraph buildRegistrationGraph(const Workspace& workspace, int lastRank, int lowerQualityPercent,
                                         int differenceCutPercent) {
    RegistrationGraph graph;
    lastRank = std::clamp(lastRank, 0, LastFrameNumber);
    const auto recordOf = [&workspace](int rank) -> const TFrameRec& {
        return workspace.FrameRecs[std::clamp(workspace.Ranking[rank].Frame, 0, LastFrameNumber)];
    };
    const double best = workspace.Ranking[0].Quality + 0.000001;
    const double lower = lowerQualityPercent / 100.0;
    double largest = 0.0;
    for (int rank = 0; rank <= lastRank; ++rank) largest = std::max(largest, static_cast<double>(recordOf(rank).Difference));
    largest += 0.000001;

    graph.qualityCurve.reserve(static_cast<std::size_t>(lastRank) + 1);
    graph.differenceCurve.reserve(static_cast<std::size_t>(lastRank) + 1);
    for (int rank = 0; rank <= lastRank; ++rank) {
        const double share = workspace.Ranking[rank].Quality / best;
        if (graph.firstDottedRank < 0 && share < lower) graph.firstDottedRank = rank;
        const int x = rankX(rank, lastRank);
        graph.qualityCurve.push_back({x, valueY(workspace.Ranking[rank].Quality, best)});
        graph.differenceCurve.push_back({x, valueY(recordOf(rank).Difference, largest)});
    }
    graph.differenceCutY = GraphBaseline - 2 * std::clamp(differenceCutPercent, 0, 100);
    return graph;
}

void paintRegistrationGraph(GraphPainter& painter, const RegistrationGraph& graph) {
    using namespace drawing_colour;
    painter.text(Red, {10, 150}, " red  line = image quality");
    painter.text(Blue, {10, 180}, " blue line = registration difference");
    painter.curve(Red, {0, 0}, graph.qualityCurve, graph.firstDottedRank);
    painter.line(Blue, {0, graph.differenceCutY}, {GraphWidth, graph.differenceCutY});
    painter.curve(Blue, {0, GraphBaseline}, graph.differenceCurve, graph.firstDottedRank);
    if (graph.rankMarkerX >= 0) painter.line(Green, {graph.rankMarkerX, 0}, {graph.rankMarkerX, GraphBaseline});
}

void drawRegistrationGraph(const RegistrationGraph& graph, Drawing& into) {
    GraphPainter painter(into, PropertyGraphLayout);
    paintRegistrationGraph(painter, graph);
}

}  // namespace planexor
