#include "process/wavelet_layers.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/number_text.h"
#include "core/pixel.h"
#include "core/vector_lanes.h"

namespace planexor {

PixelRegion PixelRegion::clippedTo(int width, int height) const {
    return {std::max(x1, 0), std::max(y1, 0), std::min(x2, width - 1), std::min(y2, height - 1)};
}

ImageGeometry ImageGeometry::clamped() const {
    return {std::clamp(width, 0, MaxImageSide), std::clamp(height, 0, MaxImageSide), colour};
}

WaveletKernel normalisedKernel(const std::array<float, 9>& weights, float zeroBelow) {
    float sum = 0.0f;
    for (float weight : weights) sum += weight;
    if (!(std::fabs(sum) >= zeroBelow)) sum = 1.0f;
    WaveletKernel kernel;
    for (std::size_t i = 0; i < weights.size(); ++i) kernel.taps[i] = weights[i] / sum;
    return kernel;
}

int layerDistance(const DecompositionOptions& options, int layer) {
    const double distance = options.Scaletype == 0
                                ? std::pow(2.0, layer - 1)
                                : options.LevelStep + static_cast<double>(options.Multiplicant) * (layer - 1);
    return std::clamp(nearest(distance), 0, MaxImageSide);
}

std::string layerCaption(int layer, int distance) {
    return std::to_string(layer) + " : " + std::to_string(distance);
}

int resampledSide(int frameSide, float resampleFactor) {
    return std::min(nearest(static_cast<double>(frameSide) * resampleFactor), MaxImageSide);
}

std::array<TFloatPlane*, ColourChannels> processingPlanes(Workspace& workspace) {
    return {&workspace.ProcR, &workspace.ProcG, &workspace.ProcB};
}

void copyStackToProcessing(Workspace& workspace, bool colour) {
    auto copy = [](const TFloatPlane& from, TFloatPlane& to) {
        std::memcpy(to.data(), from.data(), sizeof(float) * TFloatPlane::Size);
    };
    copy(workspace.StackG, workspace.ProcG);
    if (colour) {
        copy(workspace.StackR, workspace.ProcR);
        copy(workspace.StackB, workspace.ProcB);
    }
}

namespace {

using lanes::D4;

struct Taps {
    double k[9];
};

// One output row: the sum runs over the taps in their fixed order, in double,
// so the vector and the edge paths agree to the last bit.
PLANEXOR_INLINE double smoothOne(const Taps& t, const float* a, const float* c, const float* b, int above, int y,
                                 int below) {
    double s = t.k[0] * a[above];
    s += t.k[1] * c[above];
    s += t.k[2] * b[above];
    s += t.k[3] * a[y];
    s += t.k[4] * c[y];
    s += t.k[5] * b[y];
    s += t.k[6] * a[below];
    s += t.k[7] * c[below];
    s += t.k[8] * b[below];
    return s;
}

PLANEXOR_INLINE void smoothEdgeRows(const Taps& t, const float* a, const float* c, const float* b, int r,
                                    int height, int from, int to, float* layer, float* smooth) {
    for (int y = from; y < to; ++y) {
        const double s = smoothOne(t, a, c, b, std::max(y - r, 0), y, std::min(y + r, height - 1));
        layer[y] = static_cast<float>(c[y] - s);
        smooth[y] = static_cast<float>(s);
    }
}

// Rows whose taps all lie inside the column: four at a time.
PLANEXOR_INLINE void smoothInnerRows(const Taps& t, const float* a, const float* c, const float* b, int r, int from,
                                     int to, float* layer, float* smooth) {
    int y = from;
    for (; y + 4 <= to; y += 4) {
        D4 s = t.k[0] * lanes::load4(a + y - r);
        s += t.k[1] * lanes::load4(c + y - r);
        s += t.k[2] * lanes::load4(b + y - r);
        s += t.k[3] * lanes::load4(a + y);
        const D4 centre = lanes::load4(c + y);
        s += t.k[4] * centre;
        s += t.k[5] * lanes::load4(b + y);
        s += t.k[6] * lanes::load4(a + y + r);
        s += t.k[7] * lanes::load4(c + y + r);
        s += t.k[8] * lanes::load4(b + y + r);
        lanes::store4(layer + y, centre - s);
        lanes::store4(smooth + y, s);
    }
    for (; y < to; ++y) {
        const double s = smoothOne(t, a, c, b, y - r, y, y + r);
        layer[y] = static_cast<float>(c[y] - s);
        smooth[y] = static_cast<float>(s);
    }
}

struct LayerJob {
    Taps taps;
    int r = 0;
    int width = 0;
    int height = 0;
};

// Column by column. Smoothed column x may replace the original only once no
// later output reads it, which is after output x + r: until then it waits in
// a ring of r + 1 columns that stays in cache.
PLANEXOR_INLINE void smoothPlane(const LayerJob& job, TFloatPlane& plane, TFloatPlane& layer, TFloatPlane& ring) {
    const int r = job.r;
    const int ringColumns = r + 1;
    const int innerFrom = std::min(r, job.height);
    const int innerTo = std::max(innerFrom, job.height - r);
    auto flush = [&](int x) { std::memcpy(plane[x], ring[x % ringColumns], sizeof(float) * job.height); };
    for (int x = 0; x < job.width; ++x) {
        const float* a = plane[std::max(x - r, 0)];
        const float* c = plane[x];
        const float* b = plane[std::min(x + r, job.width - 1)];
        float* smooth = ring[x % ringColumns];
        float* out = layer[x];
        if (innerFrom < innerTo) {
            smoothEdgeRows(job.taps, a, c, b, r, job.height, 0, innerFrom, out, smooth);
            smoothInnerRows(job.taps, a, c, b, r, innerFrom, innerTo, out, smooth);
            smoothEdgeRows(job.taps, a, c, b, r, job.height, innerTo, job.height, out, smooth);
        } else {
            smoothEdgeRows(job.taps, a, c, b, r, job.height, 0, job.height, out, smooth);
        }
        if (x - r >= 0) flush(x - r);
    }
    for (int x = std::max(0, job.width - r); x < job.width; ++x) flush(x);
}

void smoothPlanePortable(const LayerJob& job, TFloatPlane& plane, TFloatPlane& layer, TFloatPlane& ring) {
    smoothPlane(job, plane, layer, ring);
}

#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE void smoothPlaneWide(const LayerJob& job, TFloatPlane& plane, TFloatPlane& layer,
                                         TFloatPlane& ring) {
    smoothPlane(job, plane, layer, ring);
}
#endif

void smoothPlaneWith(VectorCode code, const LayerJob& job, TFloatPlane& plane, TFloatPlane& layer,
                     TFloatPlane& ring) {
#ifdef PLANEXOR_HAS_WIDE
    if (useWideVectors(code)) return smoothPlaneWide(job, plane, layer, ring);
#endif
    smoothPlanePortable(job, plane, layer, ring);
}

}  // namespace

void computeLayer(Workspace& workspace, LayerStore& store, int layer, const DecompositionOptions& options,
                  const ImageGeometry& geometry, VectorCode code) {
    const ImageGeometry image = geometry.clamped();
    if (layer < 1 || layer > WaveletLayerCount) return;
    LayerJob job;
    job.r = layerDistance(options, layer);
    job.width = image.width;
    job.height = image.height;
    if (image.width < 1 || image.height < 1) return;
    for (int i = 0; i < 9; ++i) job.taps.k[i] = options.kernel.taps[i];

    const auto planes = processingPlanes(workspace);
    for (int channel = 0; channel < ColourChannels; ++channel) {
        if (!image.colour && channel != GreenChannel) continue;
        smoothPlaneWith(code, job, *planes[channel], store.plane(layer, channel), store.smoothScratch());
    }
}

int layerProgressPercent(int layer) { return nearest(layer * 100.0 / WaveletLayerCount); }

std::string layerProgressMessage(int layer) { return "Calculating Layer " + std::to_string(layer); }

void decomposeStack(Workspace& workspace, LayerStore& store, const DecompositionOptions& options,
                    const ImageGeometry& geometry, RunProgress& progress, VectorCode code) {
    copyStackToProcessing(workspace, geometry.colour);
    for (int layer = 1; layer <= WaveletLayerCount; ++layer) {
        progress.setPercent(layerProgressPercent(layer));
        computeLayer(workspace, store, layer, options, geometry, code);
    }
}

LayerViewRange renderLayerView(const LayerStore& store, int layer, int width, int height, bool horizontalFlip,
                               bool verticalFlip, Bitmap24& target) {
    const ImageGeometry image = ImageGeometry{width, height, false}.clamped();
    target.resize(image.width, image.height);
    LayerViewRange range;
    if (layer < 1 || layer > WaveletLayerCount) return range;
    const TFloatPlane& values = store.plane(layer, GreenChannel);
    for (int x = 10; x <= image.width - 10; ++x)
        for (int y = 10; y <= image.height - 10; ++y) {
            range.minimum = std::min<double>(range.minimum, values[x][y]);
            range.maximum = std::max<double>(range.maximum, values[x][y]);
        }
    // Without statistics (an image under 20 pixels) the range stays negative
    // and the view comes out an almost even grey, which is what we want.
    double span = range.maximum - range.minimum;
    if (span == 0) span = 1.0;
    for (int x = 0; x < image.width; ++x) {
        const int column = horizontalFlip ? image.width - 1 - x : x;
        for (int y = 0; y < image.height; ++y) {
            const std::uint8_t grey = byteClamp(std::clamp((values[x][y] - range.minimum) / span * 255, -1.0, 256.0));
            std::uint8_t* pixel = target.pixel(column, verticalFlip ? image.height - 1 - y : y);
            pixel[0] = pixel[1] = pixel[2] = grey;
        }
    }
    return range;
}

std::string layerViewCaption(const char* prefix, double value) {
    return prefix + fifteenDigitText(std::trunc(value * 100) * 0.01);
}

}  // namespace planexor
