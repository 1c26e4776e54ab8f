#include "process/recombination.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/number_text.h"
#include "core/pixel.h"
#include "process/column_kernels.h"

namespace planexor {

float layerGain(int sliderValue) { return static_cast<float>(sliderValue * 0.1); }

std::string gainCaption(int sliderValue) {
    return fifteenDigitText(nearest(layerGain(sliderValue) * 10.0) * 0.1);
}

namespace {

struct RecombineJob {
    std::array<const TFloatPlane*, ColourChannels> residual{};
    std::array<TFloatPlane*, ColourChannels> out{};
    std::array<columns::ActiveLayers, ColourChannels> layers{};
    ImageGeometry image;
};

RecombineJob recombineJob(const Workspace& workspace, LayerStore& store, const RecombinationOptions& options,
                          const ImageGeometry& geometry) {
    RecombineJob job;
    job.image = geometry.clamped();
    job.residual = {&workspace.ProcR, &workspace.ProcG, &workspace.ProcB};
    for (int channel = 0; channel < ColourChannels; ++channel) {
        job.out[channel] = &store.recombined(channel);
        job.layers[channel] = columns::activeLayers(store, options, channel);
    }
    return job;
}

template <bool Wide>
PLANEXOR_INLINE void recombineAll(const RecombineJob& job) {
    for (int channel = 0; channel < ColourChannels; ++channel) {
        if (!job.image.colour && channel != GreenChannel) continue;
        for (int x = 0; x < job.image.width; ++x) {
            const columns::Span span = columns::columnSpan(x, job.image.height, TFloatPlane::Stride);
            columns::recombine<Wide>(job.residual[channel]->data(), job.layers[channel], job.out[channel]->data(),
                                     span.begin, span.end);
        }
    }
}

void recombinePortable(const RecombineJob& job) { recombineAll<false>(job); }
#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE void recombineWide(const RecombineJob& job) { recombineAll<true>(job); }
#endif

}  // namespace

void recombineLayers(const Workspace& workspace, LayerStore& store, const RecombinationOptions& options,
                     const ImageGeometry& geometry, VectorCode code) {
    const RecombineJob job = recombineJob(workspace, store, options, geometry);
#ifdef PLANEXOR_HAS_WIDE
    if (useWideVectors(code)) return recombineWide(job);
#endif
    recombinePortable(job);
}

bool selectionCounts(const SelectionBox& box, bool section) {
    return section && std::abs(box.SectionX1 - box.SectionX2) > 10 && std::abs(box.SectionY1 - box.SectionY2) > 10;
}

bool selectionTooSmall(const SelectionBox& box) {
    return std::abs(box.SectionX1 - box.SectionX2) < 10 || std::abs(box.SectionY1 - box.SectionY2) < 10;
}

PixelRegion selectionRegion(const SelectionBox& box, bool section, int width, int height) {
    if (!selectionCounts(box, section)) return PixelRegion::whole(width, height);
    int x1 = box.SectionX1, x2 = box.SectionX2, y1 = box.SectionY1, y2 = box.SectionY2;
    if (box.SectionFlipV) {
        y1 = height - 1 - y1;
        y2 = height - 1 - y2;
    }
    if (box.SectionFlipH) {
        x1 = width - 1 - x1;
        x2 = width - 1 - x2;
    }
    const PixelRegion ordered{std::min(x1, x2), std::min(y1, y2), std::max(x1, x2), std::max(y1, y2)};
    return ordered.clippedTo(width, height);
}

PixelRegion selectionOutline(const PixelRegion& region, bool horizontalFlip, bool verticalFlip, int width,
                             int height) {
    int x1 = region.x1, x2 = region.x2, y1 = region.y1, y2 = region.y2;
    if (horizontalFlip) {
        x1 = width - 1 - x1;
        x2 = width - 1 - x2;
    }
    if (verticalFlip) {
        y1 = height - 1 - y1;
        y2 = height - 1 - y2;
    }
    return {std::min(x1, x2) - 1, std::min(y1, y2) - 1, std::max(x1, x2) + 1, std::max(y1, y2) + 1};
}

}  // namespace planexor
