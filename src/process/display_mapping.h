#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/bitmap24.h"
#include "core/drawing.h"
#include "core/workspace.h"
#include "process/recombination.h"
#include "process/wavelet_layers.h"

namespace planexor {

inline constexpr int TransferSteps = 1001;  // entries of the gamma table

// The display controls of the processing page and the histogram window.
struct DisplayOptions {
    int ContrastSlider = 100;   // percent, 10..500
    int BrightnessSlider = 0;   // output levels, -127..127
    float StretchLow = 0.0f;    // output level that becomes 0
    float StretchHigh = 255.0f; // output level that becomes 255
    int RedSlider = 0;          // colour balance, -100..100
    int GreenSlider = 0;
    int blueslider = 0;
    bool operator==(const DisplayOptions&) const = default;
};

// Output bytes per value in the last display pass, per channel. They add up
// to the pixels of the region mapped.
struct Histograms {
    std::array<std::int32_t, 256> HistoR{};
    std::array<std::int32_t, 256> HistoG{};
    std::array<std::int32_t, 256> HistoB{};
    bool operator==(const Histograms&) const = default;
};

// A re-map guards a zero stack range by replacing it with 1e-6; the pass
// that follows a recombination adds 1e-6 to the range instead. The two
// scales differ slightly, so each handler keeps its own.
enum class MappingVariant { Remap, AfterRecombination };

// Table index per stack unit: 1000 / range x contrast / 100.
double mappingScale(float stackMin, float stackMax, int contrast, MappingVariant variant);

// The output byte of one channel for each of the 1001 table indexes:
// transfer curve, brightness, stretch, colour-balance offset, byte clamp.
std::array<std::uint8_t, TransferSteps> channelBytes(const GammaCurve& gammaTable, const DisplayOptions& options,
                                                      int colourSlider);

// Where the mapped pixels go.
struct MappingTarget {
    ImageGeometry geometry;
    PixelRegion region;  // image pixels to map; the rest of the bitmap keeps what it showed
    bool horizontalFlip = false;
    bool verticalFlip = false;
};

// The display pass: slot 0 of the layer store over the region into the
// W x H bitmap (rows top to bottom, B G R) and the histograms. In mono the
// grey result goes to all three bytes and the three histograms are equal.
void mapToBitmap(const LayerStore& store, float stackMin, float stackMax, const MappingTarget& target,
                 const DisplayOptions& options, const GammaCurve& gammaTable, MappingVariant variant,
                 Bitmap24& bitmap, Histograms& histograms, VectorCode code = VectorCode::Best);

// The histogram graph (275 x 275, bins drawn from x = 9, 250 pixels high).
// Counts per full graph height: the sum of bins 1..255 of the three
// histograms over 32, or with `showPeak` the tallest of those bins; at least 1.
int histogramScale(const Histograms& histograms, bool showPeak);
// The line-to points of one curve (it starts at (9, 255)); smoothed: bins
// 1..254, each the mean of three.
std::vector<GraphPoint> histogramCurve(const std::array<std::int32_t, 256>& counts, int scale, bool smooth);

// The two stretch markers under the graph, in levels 0..255.
struct StretchMarkers {
    int low = 0;
    int high = 255;
    bool operator==(const StretchMarkers&) const = default;
};
// A drag with the left button at graph point (x, y): moves the nearer
// marker and keeps them apart; the bounds wait for applyStretch. False when
// the point is off the marker band.
bool dragStretchMarker(StretchMarkers& markers, int x, int y);
// "Stretch": composes the marked part of the current bounds into new
// bounds and puts the markers back at 0 and 255.
void applyStretch(StretchMarkers& markers, DisplayOptions& options);
// "Reset": bounds 0..255, markers 0 and 255.
void resetStretch(StretchMarkers& markers, DisplayOptions& options);

}  // namespace planexor
