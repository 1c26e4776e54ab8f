#pragma once
#include <array>
#include <string>

#include "core/workspace.h"
#include "process/wavelet_layers.h"

namespace planexor {

inline constexpr int DefaultGainSlider = 10;  // gain 1.0

// The recombination controls of the processing page.
struct RecombinationOptions {
    // RxSlider3..RxSlider8, layers 1..6: -50..500, gain = value x 0.1.
    std::array<int, WaveletLayerCount> gainSlider{10, 10, 10, 10, 10, 10};
    // CheckBox5..CheckBox10: layer 1..6 on.
    std::array<bool, WaveletLayerCount> layerOn{true, true, true, true, true, true};
    bool HorizFlipCheckbox = false;  // image column x shown at W-1-x
    bool VertiFlipCheckbox = false;  // image row y shown at H-1-y
    bool operator==(const RecombinationOptions&) const = default;
};

// Slider value x 0.1, held as float (10 gives exactly 1).
float layerGain(int sliderValue);
// The layer button caption: the gain to one decimal in its shortest form ("1", "2.5", "-0.3").
std::string gainCaption(int sliderValue);

// Slot 0 of every channel in use := residual (the processing planes) plus
// the gain times each layer that is on, over the whole W x H image. No clipping.
void recombineLayers(const Workspace& workspace, LayerStore& store, const RecombinationOptions& options,
                     const ImageGeometry& geometry, VectorCode code = VectorCode::Best);

// The selection box in displayed-image pixels, and the mirroring in force
// when it was drawn.
struct SelectionBox {
    int SectionX1 = 0, SectionY1 = 0;  // where the drag started
    int SectionX2 = 0, SectionY2 = 0;  // where it ended
    bool SectionFlipH = false;
    bool SectionFlipV = false;
    bool operator==(const SelectionBox&) const = default;
};

// The box restricts processing only when `Section` is checked and it is
// more than 10 pixels wide and high.
bool selectionCounts(const SelectionBox& box, bool section);
// Checking "Process selection" refuses a box under 10 pixels either way.
bool selectionTooSmall(const SelectionBox& box);
// The image pixels the processing covers: the box turned into image
// coordinates under the mirroring it was drawn with, ordered and clipped; the
// whole image when the box does not count.
PixelRegion selectionRegion(const SelectionBox& box, bool section, int width, int height);
// Where the outline goes on the shown image under the current mirroring:
// the region's corners, ordered, widened by one pixel on every side.
PixelRegion selectionOutline(const PixelRegion& region, bool horizontalFlip, bool verticalFlip, int width,
                             int height);

}  // namespace planexor
