#pragma once
#include <array>
#include <string>

#include "align/fft.h"
#include "core/drawing.h"

namespace planexor {

// Profile bins that take part in the quality: bin i holds radius i + 1, so
// radii 1..51 are weighed and the zero frequency never is.
inline constexpr int QualityBins = 51;
inline constexpr int GammaTableSize = 1001;
// The display transfer curve's values (GammaCurve::values in the workspace).
using GammaValues = std::array<double, GammaTableSize>;

// Share of the radial profile from bin `firstDetailBin` on among bins 0..50,
// with `guard` added to the whole so that a zero profile scores 0.
double profileShare(const std::array<float, FftEngine::ProfileBins>& profile, int firstDetailBin, double guard);

// Share of the radial profile at or above bin `qualityFilter`, over bins
// 0..50: 0..1, higher is sharper, independent of the box brightness. A zero
// profile (constant box, or a box that left the frame) scores 0.
float spectrumQuality(const std::array<float, FftEngine::ProfileBins>& profile, int qualityFilter);

// Scores the real block the caller has put into SpecRe (SpecIm zero): forward
// transform, radial profile, quality. The planes are left holding the
// spectrum and the engine's profile is the block's.
float scoreBlockQuality(FftEngine& engine, int qualityFilter);

// The spectrum low-pass: zeroes every coefficient of SpecRe and SpecIm whose
// wrapped distance squared, min(a, N-a)^2 + min(b, N-b)^2, exceeds the square
// of `cutRadius` (held as a float). The zero frequency always stays. Returns
// that square.
float applySpectrumLowPass(FftEngine& engine, double cutRadius);

// What the power-spectrum graph (250 x 200, y downward) shows; the window
// draws it, this only places it.
struct GraphMarker {
    bool shown = false;
    int lineX = 0;  // vertical line from (lineX, 200) to (lineX, 0)
    GraphPoint label;
    bool operator==(const GraphMarker&) const = default;
};

struct QualityGraph {
    GraphPoint start;                            // the curve's move-to point
    std::array<GraphPoint, QualityBins> curve;   // line-to points, bin by bin
    GraphMarker qualityFilter;                   // "<- Quality filter", green
    GraphMarker fftFilter;                       // "<- FFT Filter", blue; shown only when the filter is on
    float quality = 0.0f;
    std::string qualityText;                     // "quality :" and the quality cut to 4 decimals
};

// The curve is the profile relative to RadialProfileMax passed through the
// display gamma table, 200 pixels for 1.0, 5 pixels per bin.
QualityGraph buildQualityGraph(const std::array<float, FftEngine::ProfileBins>& profile, float profileMax,
                               const GammaValues& gammaTable, int qualityFilter, bool fftFilterOn,
                               double fftFilterValue);

// "quality :" followed by trunc(q * 10000) * 0.0001 in its shortest form.
std::string qualityCaption(float quality);

// The power-spectrum graph of one box: the curve, the filter markers and the quality.
void drawQualityGraph(const QualityGraph& graph, Drawing& into);

}  // namespace planexor
