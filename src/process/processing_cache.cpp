#include "process/processing_cache.h"

namespace planexor {

ProcessingCache::ProcessingCache(Workspace& workspace)
    : workspace_(workspace), ownLayers_(std::make_unique<LayerStore>()), layers_(ownLayers_.get()) {
    image_.reserve(MaxImageSide, MaxImageSide);
}

ProcessingCache::ProcessingCache(Workspace& workspace, LayerStore& layers) : workspace_(workspace), layers_(&layers) {
    image_.reserve(MaxImageSide, MaxImageSide);
}

ProcessingCache::Stage ProcessingCache::update(const ProcessingSettings& settings, const GammaCurve& gammaTable,
                                               RunProgress& progress, Stage deepest) {
    const ImageGeometry geometry = settings.geometry.clamped();
    // Outside the selection the picture shown is kept; the first picture, or
    // one of another size (a new stack, resampled or of another sequence),
    // has nothing there to keep and is made whole.
    const bool newPicture = !mapped_ || geometry != mappedWith_.geometry;
    const PixelRegion region = newPicture ? PixelRegion::whole(geometry.width, geometry.height)
                                          : settings.region.clippedTo(geometry.width, geometry.height);
    Stage first = Stage::None;

    // The layers are always made whole (a selection limits what is mapped):
    // the processed FITS and any later pass over the whole picture read them.
    if (deepest == Stage::Decomposition &&
        (layersStale_ || geometry != decomposedGeometry_ || settings.decomposition != decomposedWith_)) {
        decomposeStack(workspace_, *layers_, settings.decomposition, geometry, progress);
        layersStale_ = false;
        decomposedGeometry_ = geometry;
        decomposedWith_ = settings.decomposition;
        recombined_ = false;
        first = Stage::Decomposition;
    }

    // Whole passes, one after the other: a fused sweep that recombines a
    // column and maps it at once measured slower (too many memory streams).
    const MappingTarget target{geometry, region, settings.recombination.HorizFlipCheckbox,
                               settings.recombination.VertiFlipCheckbox};
    if (deepest != Stage::Mapping && (!recombined_ || settings.recombination != recombinedWith_)) {
        recombineLayers(workspace_, *layers_, settings.recombination, geometry);
        mapToBitmap(*layers_, workspace_.StackMin, workspace_.StackMax, target, settings.display, gammaTable,
                    MappingVariant::AfterRecombination, image_, histograms_);
        recombined_ = true;
        recombinedWith_ = settings.recombination;
        if (first == Stage::None) first = Stage::Recombination;
    } else if (!mapped_ || settings.display != mappedWith_.display || region != mappedWith_.region ||
               gammaTable.values != mappedGamma_.values) {
        mapToBitmap(*layers_, workspace_.StackMin, workspace_.StackMax, target, settings.display, gammaTable,
                    MappingVariant::Remap, image_, histograms_);
        first = Stage::Mapping;
    }
    if (first != Stage::None) {
        mapped_ = true;
        mappedWith_ = settings;
        mappedWith_.geometry = geometry;
        mappedWith_.region = region;
        mappedGamma_ = gammaTable;
    }
    return first;
}

}  // namespace planexor
