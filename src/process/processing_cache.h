#pragma once
#include <memory>

#include "core/bitmap24.h"
#include "core/run_progress.h"
#include "core/workspace.h"
#include "process/display_mapping.h"
#include "process/recombination.h"
#include "process/wavelet_layers.h"

namespace planexor {

// Everything the processed picture depends on besides the stack itself.
struct ProcessingSettings {
    ImageGeometry geometry;
    DecompositionOptions decomposition;
    PixelRegion region{0, 0, MaxImageSide - 1, MaxImageSide - 1};  // selection region, or the whole image
    RecombinationOptions recombination;
    DisplayOptions display;
};

// The live processing as a staged cache: wavelet layers -> recombined plane
// -> mapped bitmap and histograms. An update reruns only the stages the
// changed settings make stale: a display or gamma change only the mapping,
// a gain, layer switch or flip the recombination and the mapping. The
// layers are recomputed only after invalidateLayers() (a new stack, Reset,
// the filter window's "Set") or a change of scale, kernel or image size.
class ProcessingCache {
public:
    enum class Stage { None, Mapping, Recombination, Decomposition };

    // With a store of its own, or one the caller keeps (and outlives the cache).
    explicit ProcessingCache(Workspace& workspace);
    ProcessingCache(Workspace& workspace, LayerStore& layers);

    void invalidateLayers() { layersStale_ = true; }
    bool layersStale() const { return layersStale_; }

    // Brings the picture up to date; returns the first stage that ran.
    // Stages before `deepest` do not run however stale they are: a display
    // control re-maps and a gain slider recombines, never more.
    Stage update(const ProcessingSettings& settings, const GammaCurve& gammaTable, RunProgress& progress,
                 Stage deepest = Stage::Decomposition);
    Stage update(const ProcessingSettings& settings, const GammaCurve& gammaTable) {
        RunProgress quiet;
        return update(settings, gammaTable, quiet);
    }

    const Bitmap24& image() const { return image_; }
    // How image() is mirrored: the flip boxes can change without a re-map.
    bool mapped() const { return mapped_; }
    bool mappedHorizontalFlip() const { return mappedWith_.recombination.HorizFlipCheckbox; }
    bool mappedVerticalFlip() const { return mappedWith_.recombination.VertiFlipCheckbox; }
    const Histograms& histograms() const { return histograms_; }
    LayerStore& layers() { return *layers_; }
    const LayerStore& layers() const { return *layers_; }

private:
    Workspace& workspace_;
    std::unique_ptr<LayerStore> ownLayers_;
    LayerStore* layers_;
    Bitmap24 image_;
    Histograms histograms_;

    bool layersStale_ = true;
    bool recombined_ = false;
    bool mapped_ = false;
    ImageGeometry decomposedGeometry_;
    DecompositionOptions decomposedWith_;
    RecombinationOptions recombinedWith_;
    ProcessingSettings mappedWith_;
    GammaCurve mappedGamma_;
};

}  // namespace planexor
