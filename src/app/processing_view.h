#pragma once
#include <memory>
#include <string>

#include "core/bitmap24.h"
#include "core/drawing.h"
#include "process/display_mapping.h"
#include "process/processing_cache.h"
#include "process/recombination.h"
#include "process/wavelet_layers.h"

namespace planexor {

// The histogram window's graph, 275 x 275. With `dragged` it is the variant
// drawn while a stretch marker moves: the markers' values as text, the grid
// a pixel narrower, and the two marker lines.
inline constexpr int HistographSize = 275;
void drawHistogramGraph(const Histograms& histograms, bool showPeak, bool smooth, const StretchMarkers* dragged,
                        Drawing& into);

// The selection box as the two polylines (x1,y1)-(x2,y1)-(x2,y2) and
// (x1,y1)-(x1,y2)-(x2,y2), lime; `rubberBand` XORs it with the picture.
void drawSelectionBox(DrawingBuilder& builder, const PixelRegion& box, bool rubberBand);

struct PictureSize {
    int width = 0;
    int height = 0;
    bool operator==(const PictureSize&) const = default;
};

// The resized view keeps 128 pixels beside and 24 below its image for the controls.
inline constexpr int ShrinkSideArea = 128;
inline constexpr int ShrinkBottomArea = 24;
// The largest image of `aspect` (width / height) that fits a window of that
// size beside its control areas; at least 1 x 1 however small the window.
PictureSize fitShrinkImage(int windowWidth, int windowHeight, float aspect);
std::string imageSizeCaption(int width, int height);  // "Imagesize: 640x480"
// Where the resized view's "Save" writes: the chosen directory, the chosen
// name without its extension ("default" when empty or starting with a dot)
// and ".bmp" (filter 1) or ".jpg" (filter 2).
std::string shrinkSaveTarget(const std::string& chosen, int filterIndex);

// What the processing page keeps besides its control models.
struct ProcessingPage {
    // Made at the first processing run: its layer store is about 89 MB.
    std::unique_ptr<ProcessingCache> cache;
    ProcessingCache::Stage lastStage = ProcessingCache::Stage::None;
    StretchMarkers markers;
    bool boxDragging = false;
    int heldLayer = 0;  // layer shown while its button is held, 0 none
    Bitmap24 heldBackup;
    LayerViewRange heldRange;
    Drawing histogram;
    mutable Drawing overlay;
    PictureSize shrinkWindow;
    // Taken when the view is sized anew, so refits neither drift nor lose
    // the shape after a window squeezed to nothing.
    float shrinkAspect = 1.0f;
};

}  // namespace planexor
