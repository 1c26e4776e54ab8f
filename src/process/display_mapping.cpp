#include "process/display_mapping.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "core/pixel.h"
#include "process/column_kernels.h"

namespace planexor {

static_assert(std::tuple_size_v<decltype(GammaCurve::values)> == TransferSteps);

double mappingScale(float stackMin, float stackMax, int contrast, MappingVariant variant) {
    double range = static_cast<double>(stackMax) - static_cast<double>(stackMin);
    // A search that found no pixel leaves the bounds crossed (65000, -65000);
    // that is no range at all, not a reason to show the picture inverted.
    if (!(range > 0)) range = 0;
    double divisor = variant == MappingVariant::Remap ? range : 0.000001 + range;
    if (divisor == 0) divisor = 0.000001;
    return 1.0 / divisor * 1000.0 * (contrast * 0.01);
}

std::array<std::uint8_t, TransferSteps> channelBytes(const GammaCurve& gammaTable, const DisplayOptions& options,
                                                     int colourSlider) {
    double stretchSpan = static_cast<double>(options.StretchHigh) - static_cast<double>(options.StretchLow);
    if (stretchSpan == 0) stretchSpan = 0.000001;  // equal bounds: a hard threshold, not a division by zero
    const int balance = std::clamp(colourSlider, -1000, 1000);
    std::array<std::uint8_t, TransferSteps> bytes{};
    for (int i = 0; i < TransferSteps; ++i) {
        float level = static_cast<float>(gammaTable.values[i] * 255 + options.BrightnessSlider);
        level = static_cast<float>((level - static_cast<double>(options.StretchLow)) / stretchSpan * 255);
        // Limited first so that nearest() stays in int range; the byte clamp follows anyway.
        const double limited = std::isnan(level) ? 0.0 : std::clamp<double>(level, -1e6, 1e6);
        const int value = nearest(limited) + balance;
        bytes[i] = value > 254 ? 255 : value < 1 ? 0 : static_cast<std::uint8_t>(value);
    }
    return bytes;
}

namespace {

struct MapTables {
    std::array<std::uint8_t, TransferSteps> red, green, blue;
};

struct MapPlan {
    ImageGeometry image;
    PixelRegion region;
    bool horizontalFlip = false;
    bool verticalFlip = false;
    double minimum = 0;
    double scale = 0;
    const MapTables* tables = nullptr;
    Histograms* histograms = nullptr;
    Bitmap24* bitmap = nullptr;
};

MapPlan planMapping(const MappingTarget& target, float stackMin, double scale, const MapTables& tables,
                    Bitmap24& bitmap, Histograms& histograms) {
    MapPlan plan;
    plan.image = target.geometry.clamped();
    plan.region = target.region.clippedTo(plan.image.width, plan.image.height);
    plan.horizontalFlip = target.horizontalFlip;
    plan.verticalFlip = target.verticalFlip;
    plan.minimum = stackMin;
    plan.scale = scale;
    plan.tables = &tables;
    plan.histograms = &histograms;
    plan.bitmap = &bitmap;
    if (bitmap.width() != plan.image.width || bitmap.height() != plan.image.height)
        bitmap.resize(plan.image.width, plan.image.height);
    histograms = Histograms{};
    return plan;
}

// Maps image column x, rows y1..y2 of the region, from three value columns
// (mono: green only).
template <bool Wide>
PLANEXOR_INLINE void mapImageColumn(const MapPlan& plan, int x, const float* red, const float* green,
                                    const float* blue) {
    const int column = plan.horizontalFlip ? plan.image.width - 1 - x : x;
    const int firstRow = plan.verticalFlip ? plan.image.height - 1 - plan.region.y1 : plan.region.y1;
    const std::ptrdiff_t rowStep = static_cast<std::ptrdiff_t>(plan.bitmap->rowBytes());
    columns::MapColumn job;
    job.minimum = plan.minimum;
    job.scale = plan.scale;
    job.firstPixel = plan.bitmap->pixel(column, firstRow);
    job.pixelStep = plan.verticalFlip ? -rowStep : rowStep;
    Histograms& histograms = *plan.histograms;
    if (plan.image.colour) {
        const columns::ChannelTable tables[3] = {{plan.tables->red.data(), histograms.HistoR.data()},
                                                 {plan.tables->green.data(), histograms.HistoG.data()},
                                                 {plan.tables->blue.data(), histograms.HistoB.data()}};
        columns::mapColour<Wide>(job, red, green, blue, tables, plan.region.y1, plan.region.y2);
    } else {
        columns::mapMono<Wide>(job, green, {plan.tables->green.data(), histograms.HistoG.data()}, plan.region.y1,
                         plan.region.y2);
    }
}

void finishMapping(const MapPlan& plan) {
    if (!plan.image.colour) plan.histograms->HistoR = plan.histograms->HistoB = plan.histograms->HistoG;
}

MapTables buildTables(const GammaCurve& gammaTable, const DisplayOptions& options) {
    return {channelBytes(gammaTable, options, options.RedSlider), channelBytes(gammaTable, options, options.GreenSlider),
            channelBytes(gammaTable, options, options.blueslider)};
}

template <bool Wide>
PLANEXOR_INLINE void mapRegion(const MapPlan& plan, const LayerStore& store) {
    for (int x = plan.region.x1; x <= plan.region.x2; ++x)
        mapImageColumn<Wide>(plan, x, store.recombined(0)[x], store.recombined(GreenChannel)[x],
                             store.recombined(2)[x]);
}

void mapRegionPortable(const MapPlan& plan, const LayerStore& store) { mapRegion<false>(plan, store); }
#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE void mapRegionWide(const MapPlan& plan, const LayerStore& store) { mapRegion<true>(plan, store); }
#endif


}  // namespace

void mapToBitmap(const LayerStore& store, float stackMin, float stackMax, const MappingTarget& target,
                 const DisplayOptions& options, const GammaCurve& gammaTable, MappingVariant variant,
                 Bitmap24& bitmap, Histograms& histograms, VectorCode code) {
    const MapTables tables = buildTables(gammaTable, options);
    const MapPlan plan = planMapping(target, stackMin, mappingScale(stackMin, stackMax, options.ContrastSlider, variant),
                                     tables, bitmap, histograms);
    if (!plan.region.empty()) {
#ifdef PLANEXOR_HAS_WIDE
        if (useWideVectors(code))
            mapRegionWide(plan, store);
        else
#endif
            mapRegionPortable(plan, store);
    }
    finishMapping(plan);
}

int histogramScale(const Histograms& histograms, bool showPeak) {
    std::int64_t total = 0;
    std::int64_t peak = 0;
    for (const auto* counts : {&histograms.HistoR, &histograms.HistoG, &histograms.HistoB})
        for (int i = 1; i < 256; ++i) {
            total += (*counts)[i];
            peak = std::max<std::int64_t>(peak, (*counts)[i]);
        }
    const std::int64_t scale = showPeak ? peak : nearest(total / 32.0);
    return scale > 0 ? static_cast<int>(scale) : 1;
}

std::vector<GraphPoint> histogramCurve(const std::array<std::int32_t, 256>& counts, int scale, bool smooth) {
    const double perCount = 250.0 / std::max(scale, 1);
    std::vector<GraphPoint> points;
    if (smooth) {
        for (int i = 1; i <= 254; ++i) {
            const double mean = (static_cast<double>(counts[i - 1]) + counts[i] + counts[i + 1]) / 3;
            points.push_back({9 + i, nearest(250 - mean * perCount)});
        }
    } else {
        for (int i = 0; i <= 255; ++i) points.push_back({9 + i, nearest(250 - counts[i] * perCount)});
    }
    return points;
}

bool dragStretchMarker(StretchMarkers& markers, int x, int y) {
    if (x < 9 || x > 264) return false;
    if (std::abs(markers.high - x) < 30 && y > 200) {
        // Never below 16: the low marker 16 under it stays on the graph.
        if (markers.high - markers.low > 16) markers.high = std::max(x - 9, 16);
    } else if (std::abs(markers.low - x) < 30 && y > 200 && markers.high - markers.low > 15) {
        markers.low = x - 9;
    }
    if (markers.high - markers.low < 15) markers.low = markers.high - 16;
    return true;
}

void applyStretch(StretchMarkers& markers, DisplayOptions& options) {
    constexpr double perLevel = 0.00392156862745098;  // 1/255
    const double low = options.StretchLow;
    const double span = static_cast<double>(options.StretchHigh) - options.StretchLow;
    options.StretchHigh = static_cast<float>(low + markers.high * perLevel * span);
    options.StretchLow = static_cast<float>(low + markers.low * perLevel * span);
    markers = StretchMarkers{};
}

void resetStretch(StretchMarkers& markers, DisplayOptions& options) {
    options.StretchLow = 0.0f;
    options.StretchHigh = 255.0f;
    markers = StretchMarkers{};
}

}  // namespace planexor
