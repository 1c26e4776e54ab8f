#pragma once
#include <array>
#include <string>

#include "core/bitmap24.h"
#include "core/run_progress.h"
#include "core/vector_lanes.h"
#include "core/workspace.h"

namespace planexor {

inline constexpr int WaveletLayerCount = 6;
inline constexpr int ColourChannels = 3;
inline constexpr int GreenChannel = 1;  // the only channel in use in mono mode

// A rectangle of image pixels, both corners included. x1 > x2 or y1 > y2 is empty.
struct PixelRegion {
    int x1 = 0, y1 = 0, x2 = -1, y2 = -1;

    static PixelRegion whole(int width, int height) { return {0, 0, width - 1, height - 1}; }
    bool empty() const { return x1 > x2 || y1 > y2; }
    PixelRegion clippedTo(int width, int height) const;
    std::int64_t pixelCount() const {
        return empty() ? 0 : std::int64_t{x2 - x1 + 1} * (y2 - y1 + 1);
    }
    bool operator==(const PixelRegion&) const = default;
};

// What the processing works on: W x H of the processing planes, and whether
// all three channels or only green are in use.
struct ImageGeometry {
    int width = 0;
    int height = 0;
    bool colour = true;
    bool operator==(const ImageGeometry&) const = default;
    ImageGeometry clamped() const;  // sides limited to 0..MaxImageSide
};

// The 3 x 3 smoothing kernel, taps row by row from the top left:
// offsets (-r,-r) (0,-r) (+r,-r) / (-r,0) (0,0) (+r,0) / (-r,+r) (0,+r) (+r,+r).
struct WaveletKernel {
    std::array<float, 9> taps{0.0625f, 0.0625f, 0.0625f, 0.0625f, 0.5f,
                              0.0625f, 0.0625f, 0.0625f, 0.0625f};
    bool operator==(const WaveletKernel&) const = default;
};

// The filter window's "Set": the typed weights (kernel order) divided by
// their float sum. A sum nearer 0 than `zeroBelow` counts as 0, and the
// weights are then used as typed: dividing by a rounding residue would blow
// the taps up to huge values.
WaveletKernel normalisedKernel(const std::array<float, 9>& weights, float zeroBelow);

// The scale rule of the layers, as the controls hold it.
struct DecompositionOptions {
    int Scaletype = 1;     // 0 dyadic (2^n), 1 linear
    int LevelStep = 1;     // linear: distance of layer 1
    int Multiplicant = 0;  // linear: increase per layer
    WaveletKernel kernel;
    bool operator==(const DecompositionOptions&) const = default;
};

// Sample distance r of layer 1..6: dyadic 1, 2, 4, ..., 32; linear
// LevelStep + Multiplicant (k - 1). Never below 0.
int layerDistance(const DecompositionOptions& options, int layer);
// The layer check box caption, "3 : 4" for layer 3 at distance 4.
std::string layerCaption(int layer, int distance);
// Processing side with resampling on: nearest(side x factor), at most 1024.
int resampledSide(int frameSide, float resampleFactor);

// Six detail layers and the recombined image per channel, one fixed plane
// each (89 MB), allocated once; plus the scratch the decomposition needs.
class LayerStore {
public:
    LayerStore() = default;
    LayerStore(const LayerStore&) = delete;
    LayerStore& operator=(const LayerStore&) = delete;

    // Slot 0: recombined image; slots 1..6: layers fine to coarse. Channel 0 red, 1 green, 2 blue.
    TFloatPlane& plane(int slot, int channel) { return planes_[channel * (WaveletLayerCount + 1) + slot]; }
    const TFloatPlane& plane(int slot, int channel) const { return planes_[channel * (WaveletLayerCount + 1) + slot]; }
    TFloatPlane& recombined(int channel) { return plane(0, channel); }
    const TFloatPlane& recombined(int channel) const { return plane(0, channel); }

    // Scratch for smoothed columns that must not yet replace the originals.
    TFloatPlane& smoothScratch() { return smooth_; }

private:
    std::array<TFloatPlane, (WaveletLayerCount + 1) * ColourChannels> planes_;
    TFloatPlane smooth_;
};

// The processing planes ProcR, ProcG, ProcB by channel.
std::array<TFloatPlane*, ColourChannels> processingPlanes(Workspace& workspace);

// Copies the stack into the processing planes (all three in colour, StackG only in mono).
void copyStackToProcessing(Workspace& workspace, bool colour);

// Layer k (1..6) of every channel in use, from the processing planes, which
// are left holding the smoothed image. Taps beyond the image read its edge.
void computeLayer(Workspace& workspace, LayerStore& store, int layer, const DecompositionOptions& options,
                  const ImageGeometry& geometry, VectorCode code = VectorCode::Best);

// A whole decomposition of the picture: stack copy, then layers 1..6 with
// progress round(k x 100 / 6) before each. Afterwards the processing planes
// hold the residual; residual plus the six layers equals the stack up to
// float rounding. Always whole: layers of a selection alone would leave the
// stack as the residual outside it under an earlier run's layers.
void decomposeStack(Workspace& workspace, LayerStore& store, const DecompositionOptions& options,
                    const ImageGeometry& geometry, RunProgress& progress, VectorCode code = VectorCode::Best);

// Progress bar value and message shown before layer k is computed.
int layerProgressPercent(int layer);
std::string layerProgressMessage(int layer);

// One layer (green channel, also in colour) stretched over 0..255 grey,
// for as long as its button is held. Minimum and maximum come from the
// image without a 10-pixel margin.
struct LayerViewRange {
    double minimum = 1e10;
    double maximum = -1e10;
};
LayerViewRange renderLayerView(const LayerStore& store, int layer, int width, int height, bool horizontalFlip,
                               bool verticalFlip, Bitmap24& target);
// "HI :" / "LO :" and the value cut to two decimals.
std::string layerViewCaption(const char* prefix, double value);

}  // namespace planexor
