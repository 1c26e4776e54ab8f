#pragma once
#include <cstdint>
#include <optional>
#include <vector>

#include "align/disc_centre.h"
#include "align/disc_quality.h"
#include "align/fft.h"
#include "align/quality.h"
#include "core/bitmap24.h"
#include "core/drawing.h"
#include "core/workspace.h"

namespace planexor {

// The feature marks: the circle of radius 15 and four ticks around (x, y)
// and the box (left, top)..(left + size, top + size), white.
void drawFeatureMarks(DrawingBuilder& builder, int x, int y, int boxLeft, int boxTop, int size, bool centrePixel);
// The XOR outline of an alignment box of `size` centred on (x, y).
void drawBoxOutline(DrawingBuilder& builder, int x, int y, int size);

// ------------------------------------------------------- alignment state

// The alignment feature, its reference spectrum and the state that carries
// from one registration to the next. One lives for the whole run; the
// planes are allocated once.
struct Alignment {
    int referenceSize = 0;  // N the reference spectrum was built at; 0: none
    std::int32_t BoxLeft = 0, BoxTop = 0;
    std::int32_t TrackX = 0, TrackY = 0;
    std::int32_t TrackVelX = 0, TrackVelY = 0;
    double PrevPeak = 0.0;
    bool RealignRequested = false;
    bool WaitingForClick = false;
    std::int32_t ClickX = 0, ClickY = 0;
    float FilterRadius2 = 0.0f;

    // The whole displacement found for the last frame registered in this
    // run, per field, from which the prediction term is taken.
    struct Found {
        int frame = -1;
        int x = 0, y = 0;
    };
    Found lastFound[2];

    TSpectrumPlane RefRe, RefIm;
    DiscSharpness disc;  // its buffers, reused from frame to frame
    std::optional<DiscWindow> referenceDisc;  // of the reference the spectrum was built from

    // Tracking starts over: at a run's start, a feature click, "Recalc FFT".
    void resetTrack();
};

// The controls registration reads, taken once per run or per call.
struct RegistrationOptions {
    bool fftFilter = true;
    double fftFilterRadius = 10.0;
    bool normalize = true;
    int correlationType = 0;  // 0 cross, 1 phase
    bool track = true;
    bool predict = false;
    bool interlaced = false;
    bool interlaceColumns = false;  // fields are columns ("Horizontal") rather than rows
    bool resampled = false;
    float resampleFactor = 2.0f;
    int qualityFilter = 12;
    bool subpixel = false;      // refine the peak to a fraction of a pixel
    bool discQuality = false;   // score the whole disc rather than the box's spectrum
};

// Builds the reference spectrum from the box (BoxLeft, BoxTop) of `frame`:
// grey values less their mean, transformed, low-passed when asked. Pixels
// outside frameWidth x frameHeight (and outside the bitmap) count as 0.
// Returns the box's quality; the engine is left holding its radial profile.
float buildReferenceSpectrum(Alignment& alignment, FftEngine& fft, const Bitmap24& frame, int frameWidth,
                             int frameHeight, const RegistrationOptions& options);

// The first half of a registration: the box at (BoxLeft, BoxTop) plus the
// tracking offset is correlated with the reference. The engine's SpecRe
// then holds the correlation surface (zero shift at [0][0]).
struct CorrelationPeak {
    int offsetX = 0, offsetY = 0;  // box offset used (tracking and prediction)
    bool outside = false;          // that box left the frame
    int indexA = 0, indexB = 0;    // peak cell, [column][row]
    double height = 0.0;
    // With sub-pixel registration: where the peak really lies, relative to
    // its cell, each within -0.5..0.5.
    double fractionA = 0.0, fractionB = 0.0;
};
CorrelationPeak correlateFrame(Alignment& alignment, FftEngine& fft, const Bitmap24& frame, int frameWidth,
                               int frameHeight, const RegistrationOptions& options);

// True when the misalignment question must be asked for this peak.
bool alignmentLost(const Alignment& alignment, const CorrelationPeak& peak, bool misalignWarning);

// The second half: the displacement from the peak (or from the user's click
// on the feature, in frame pixels), tracking, the registration difference
// against `reference` and the quality, all stored in the frame's record by
// the field rule (first field of an interlaced frame into the Field values).
// The engine's profile is left as the quality's.
struct RegistrationResult {
    int localX = 0, localY = 0;  // shift found within the box
    int foundX = 0, foundY = 0;  // feature position relative to the box's origin (nx, ny of the box)
    int markX = 0, markY = 0;    // where the feature was found in this frame
    int shiftX = 0, shiftY = 0;  // what was stored
    float subShiftX = 0.0f, subShiftY = 0.0f;  // the fraction stored beside it
    float difference = 0.0f;
    float quality = 0.0f;
    bool outside = false;
};
RegistrationResult finishRegistration(Workspace& workspace, Alignment& alignment, FftEngine& fft,
                                      const Bitmap24& frame, const Bitmap24& reference, const CorrelationPeak& peak,
                                      std::optional<GraphPoint> userClick, const RegistrationOptions& options);

// Where between three samples of a peak, centre the highest, its top
// lies: -0.5..0.5 from the centre, 0 when they give no curvature.
double peakOffset(double before, double centre, double after);

// Both halves without a misalignment question.
RegistrationResult registerFrame(Workspace& workspace, Alignment& alignment, FftEngine& fft, const Bitmap24& frame,
                                 const Bitmap24& reference, const RegistrationOptions& options);

// ----------------------------------------------------------- ranking

// Stores the quality of the current frame (or field) by the field rule.
void storeQuality(Workspace& workspace, bool interlaced, float quality);

// Ranking[0..last] := frames 0..last by falling quality; equal qualities keep
// ascending frame numbers, and excluded frames come after every used one.
// StackQuality entries stay where they are.
void SortRanking(Workspace& workspace, int last);

// The rank up to which a chained stack takes frames: the first rank whose
// quality falls below lowerQualityPercent of the best ends it before itself,
// reaching the last rank takes all.
int chainCutRank(const Workspace& workspace, int lastRank, int lowerQualityPercent);

// The quality and difference curves of the ranked frames.
struct RegistrationGraph {
    std::vector<GraphPoint> qualityCurve;     // red, from (0, 0), one point per rank
    std::vector<GraphPoint> differenceCurve;  // blue, from (0, 201), one point per rank
    int firstDottedRank = -1;                 // both curves dotted from this rank on; -1: never
    int differenceCutY = 201;                 // blue horizontal line over the whole width
    int rankMarkerX = -1;                     // green vertical line (0..201) at the browsed rank; -1: none
};
RegistrationGraph buildRegistrationGraph(const Workspace& workspace, int lastRank, int lowerQualityPercent,
                                         int differenceCutPercent);
// x of the green rank marker for rank `rank` of 0..lastRank.
int rankMarkerX(int rank, int lastRank);
// The legend, both curves and the difference cut-off, then the rank marker when set.
void paintRegistrationGraph(GraphPainter& painter, const RegistrationGraph& graph);
void drawRegistrationGraph(const RegistrationGraph& graph, Drawing& into);

}  // namespace planexor
