#include "process/display_mapping.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <numeric>
#include <tuple>

#include "core/pixel.h"
#include "core/vector_lanes.h"
#include "process/processing_cache.h"
#include "process_test_support.h"

namespace planexor {
namespace {

using testing::ProcessingPlanes;
using testing::texturedValue;

GammaCurve gammaCurve(double gamma) {
    GammaCurve curve;
    curve.build(gamma);
    return curve;
}

// Maps the recombined planes of `planes` over the whole w x h at unit gamma, mirrored both ways if asked.
void mapWhole(testing::ProcessingPlanes& planes, float low, float high, int w, int h, bool colour, Bitmap24& bitmap,
              Histograms& histograms, MappingVariant variant = MappingVariant::Remap, bool mirrored = false) {
    mapToBitmap(*planes.store, low, high, {{w, h, colour}, PixelRegion::whole(w, h), mirrored, mirrored},
                DisplayOptions{}, gammaCurve(1.0), variant, bitmap, histograms);
}

std::int64_t total(const std::array<std::int32_t, 256>& counts) {
    return std::accumulate(counts.begin(), counts.end(), std::int64_t{0});
}

// Slot 0 holds one row per channel value: v = x over 0..1000 on a stack
// range of 0..1000, so the table index equals v at contrast 100.
struct Ramp : ProcessingPlanes {
    static constexpr int Width = 1001, Height = 2;
    Bitmap24 bitmap;
    Histograms histograms;

    Ramp() {
        for (int channel = 0; channel < ColourChannels; ++channel)
            for (int x = 0; x < Width; ++x)
                for (int y = 0; y < Height; ++y) store->recombined(channel)[x][y] = static_cast<float>(x);
    }
    void map(const DisplayOptions& options, const GammaCurve& gamma = gammaCurve(1.0), bool colour = true) {
        const MappingTarget target{{Width, Height, colour}, PixelRegion::whole(Width, Height)};
        mapToBitmap(*store, 0.0f, 1000.0f, target, options, gamma, MappingVariant::Remap, bitmap, histograms);
    }
    int green(int x) const { return bitmap.pixel(x, 0)[1]; }
};

// Ramp value x lands on these levels; overshoot beyond the stack range saturates.
TEST(DisplayMapping, ContrastGammaBrightnessAndStretchShapeTheCurveAndColourSlidersShiftOneChannel) {
    // levels: ramp x, green level.
    struct Case { DisplayOptions options; double gamma; std::vector<std::pair<int, int>> levels; };
    const Case cases[] = {
        {{}, 1.0, {{0, 0}, {500, 128}, {1000, 255}, {10, 255}, {11, 0}}},
        {{.ContrastSlider = 200}, 1.0, {{250, 128}, {499, 254}, {500, 255}, {900, 255}}},  // the upper half saturates
        {{}, 2.0, {{250, 128}, {100, 81}, {1000, 255}}},  // sqrt(0.250001) x 255 = 127.50025
        {{.BrightnessSlider = 127}, 1.0, {{0, 127}, {400, 229}, {1000, 255}}},
        {{.StretchLow = 51.0f, .StretchHigh = 204.0f}, 1.0, {{200, 0}, {500, 128}, {800, 255}}},
    };
    Ramp ramp;
    ramp.store->recombined(GreenChannel)[10][0] = 1500.0f;
    ramp.store->recombined(GreenChannel)[11][0] = -300.0f;
    for (const Case& c : cases) {
        ramp.map(c.options, gammaCurve(c.gamma));
        for (const auto& [x, level] : c.levels) EXPECT_EQ(ramp.green(x), level) << c.gamma << " at " << x;
    }

    // A colour slider shifts its own channel only.
    ramp.map({.RedSlider = 30, .GreenSlider = -100});
    // Unshifted, x = 300 and 600 land on 77 and 153.
    for (const auto& [x, blue, green, red] : {std::array{0, 0, 0, 30}, {300, 77, 0, 107}, {600, 153, 53, 183},
                                              {1000, 255, 155, 255}}) {
        const std::uint8_t* pixel = ramp.bitmap.pixel(x, 0);
        EXPECT_EQ(std::tuple(pixel[0], pixel[1], pixel[2]), std::tuple(blue, green, red)) << x;
    }
}

// A flat picture, or none at all, must not divide by zero anywhere; values
// that are no numbers and equal stretch bounds stay in range. A flipped view mirrors the picture.
TEST(DisplayMapping, FlatEmptyOrNonFiniteStacksAndEqualStretchBoundsStayInRange) {
    ProcessingPlanes planes;
    for (int x = 0; x < 30; ++x)
        for (int y = 0; y < 20; ++y) planes.store->recombined(GreenChannel)[x][y] = 5.0f;
    planes.store->recombined(GreenChannel)[1][1] = 5.5f;
    Bitmap24 bitmap;
    Histograms histograms;
    for (MappingVariant variant : {MappingVariant::Remap, MappingVariant::AfterRecombination}) {
        const bool mirrored = variant == MappingVariant::Remap;
        mapWhole(planes, 5, 5, 30, 20, false, bitmap, histograms, variant, mirrored);
        EXPECT_EQ(bitmap.pixel(mirrored ? 28 : 1, mirrored ? 18 : 1)[1], 255);
        EXPECT_EQ(histograms.HistoG[0], 30 * 20 - 1);
        EXPECT_EQ(histograms.HistoG[255], 1);
        // Mono: the grey result's counts in all three histograms.
        EXPECT_EQ(std::tie(histograms.HistoR, histograms.HistoB), std::tie(histograms.HistoG, histograms.HistoG));
    }
    // A stack search that found nothing leaves the range upside down.
    mapWhole(planes, 65000, -65000, 30, 20, true, bitmap, histograms);
    EXPECT_EQ(histograms.HistoG[0], 30 * 20);
    // No image at all.
    mapWhole(planes, 0, 0, 0, 0, true, bitmap, histograms);
    EXPECT_TRUE(bitmap.empty());
    EXPECT_EQ(histograms, Histograms{});

    planes.store->recombined(GreenChannel)[0][0] = std::nanf("");
    planes.store->recombined(GreenChannel)[1][0] = INFINITY;
    planes.store->recombined(GreenChannel)[2][0] = -INFINITY;
    mapWhole(planes, 0, 100, 8, 1, false, bitmap, histograms);
    EXPECT_EQ(std::tuple(bitmap.pixel(0, 0)[1], bitmap.pixel(1, 0)[1], bitmap.pixel(2, 0)[1]), std::tuple(0, 255, 0));
    // A hard threshold at level 100.
    const auto bytes = channelBytes(gammaCurve(1.0), {.StretchLow = 100.0f, .StretchHigh = 100.0f}, 0);
    EXPECT_EQ(bytes[392], 0);    // 99.96
    EXPECT_EQ(bytes[393], 255);  // 100.22
}

// Where the processor has AVX2 the loops run a second build; both must give
// the same bits.
TEST(DisplayMapping, PortableAndWideLoopsAgree) {
    const int width = 131, height = 77;  // odd sizes: every tail path runs
    ProcessingPlanes wide, portable;
    wide.fillStack(width, height, texturedValue);
    portable.fillStack(width, height, texturedValue);
    const RecombinationOptions recombination{.gainSlider = {35, 20, -5, 10, 12, 10}};
    const DisplayOptions display{.ContrastSlider = 140};
    const GammaCurve gamma = gammaCurve(0.8);
    struct Output {
        Bitmap24 image, remap;
        Histograms counts, remapCounts;
    } wideOut, portableOut;
    auto run = [&](VectorCode code, ProcessingPlanes& planes, Output& out) {
        RunProgress quiet;
        decomposeStack(*planes.workspace, *planes.store, DecompositionOptions{}, {width, height, true}, quiet, code);
        planes.workspace->StackMin = 10;
        planes.workspace->StackMax = 140;
        recombineLayers(*planes.workspace, *planes.store, recombination, {width, height, true}, code);
        mapToBitmap(*planes.store, 10, 140, {{width, height, true}, PixelRegion::whole(width, height), true, false},
                    display, gamma, MappingVariant::AfterRecombination, out.image, out.counts, code);
        mapToBitmap(*planes.store, 10, 140, {{width, height, false}, {3, 5, 100, 70}, false, true}, display, gamma,
                    MappingVariant::Remap, out.remap, out.remapCounts, code);
    };
    run(VectorCode::Best, wide, wideOut);
    run(VectorCode::Portable, portable, portableOut);
    for (int slot = 0; slot <= WaveletLayerCount; ++slot)
        for (int channel = 0; channel < ColourChannels; ++channel)
            for (int x = 0; x < width; ++x)
                for (int y = 0; y < height; ++y)
                    ASSERT_EQ(wide.store->plane(slot, channel)[x][y], portable.store->plane(slot, channel)[x][y])
                        << slot << " " << channel << " " << x << "," << y;
    EXPECT_EQ(std::tie(wideOut.image, wideOut.counts, wideOut.remap, wideOut.remapCounts),
              std::tie(portableOut.image, portableOut.counts, portableOut.remap, portableOut.remapCounts));
}

TEST(HistogramGraph, MarkersSetTheStretch) {
    DisplayOptions options;
    StretchMarkers markers;
    // The marker dragged to 204 makes 204 the new white; a second stretch
    // the same way composes with the first.
    for (const float high : {204.0f, 163.2f}) {
        for (int x = 264; x >= 213; x -= 10) dragStretchMarker(markers, x, 210);
        EXPECT_TRUE(dragStretchMarker(markers, 213, 210));
        EXPECT_EQ(markers.high, 204);
        applyStretch(markers, options);
        EXPECT_FLOAT_EQ(options.StretchHigh, high);
        EXPECT_EQ(options.StretchLow, 0.0f);
        EXPECT_EQ(markers, StretchMarkers{});
    }
    dragStretchMarker(markers, 29, 210);  // black lifted too, so the reset has both bounds to undo
    applyStretch(markers, options);
    ASSERT_GT(options.StretchLow, 0.0f);
    resetStretch(markers, options);
    EXPECT_EQ(options, DisplayOptions{});

    // Off the band nothing moves (off the graph the drag is refused); along it the markers stay 15 apart.
    for (const auto& [x, y, onGraph] : {std::tuple{300, 210, false}, {5, 210, false}, {250, 100, true}})
        EXPECT_EQ(dragStretchMarker(markers, x, y), onGraph) << x;
    EXPECT_EQ(markers, StretchMarkers{});
    for (const int step : {7, 20})
        for (int x = 264; x >= 9; x -= step) {
            dragStretchMarker(markers, x, 210);
            ASSERT_GE(markers.high - markers.low, 15) << x;
            ASSERT_GE(markers.low, 0) << x;  // never off the graph: a negative low would lift black
        }
    // White dragged below black pushes black down with it.
    markers = StretchMarkers{100, 117};
    dragStretchMarker(markers, 100, 210);
    EXPECT_EQ(markers, (StretchMarkers{75, 91}));
}

using Stage = ProcessingCache::Stage;

struct Live {
    static constexpr int Width = 64, Height = 48;
    testing::ProcessingPlanes planes;
    Workspace* workspace = planes.workspace;
    ProcessingCache cache{*workspace, *planes.store};
    ProcessingSettings settings;
    GammaCurve gamma;

    Live() {
        planes.fillStack(Width, Height, texturedValue);
        workspace->StackMin = 0;
        workspace->StackMax = 160;
        settings.geometry = {Width, Height, true};
        gamma.build(1.0);
    }
    Stage update() { return cache.update(settings, gamma); }
};

// One change of each kind; the options compare whole, so one field stands for its group.
TEST(ProcessingCache, EachChangeRerunsOnlyTheStagesItMakesStale) {
    Live live;
    EXPECT_EQ(live.update(), Stage::Decomposition);
    EXPECT_EQ(live.update(), Stage::None);
    const std::pair<std::function<void(Live&)>, Stage> changes[] = {
        {[](Live& l) { l.settings.display.ContrastSlider = 150; }, Stage::Mapping},
        {[](Live& l) { l.gamma.build(2.0); }, Stage::Mapping},
        {[](Live& l) { l.settings.recombination.gainSlider[2] = 40; }, Stage::Recombination},
        {[](Live& l) { l.settings.decomposition.LevelStep = 2; }, Stage::Decomposition},
        {[](Live& l) { l.cache.invalidateLayers(); }, Stage::Decomposition},
        {[](Live& l) { l.settings.geometry.colour = false; }, Stage::Decomposition},
        {[](Live& l) { l.settings.geometry = {0, 0, true}; }, Stage::Decomposition},  // nothing opened at all
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        changes[i].first(live);
        EXPECT_EQ(live.update(), changes[i].second) << "change " << i;
        EXPECT_EQ(live.update(), Stage::None) << "change " << i;
    }
    EXPECT_TRUE(live.cache.image().empty());
}

// A selection only limits what is shown: a decomposition run while one is
// in force still leaves the whole picture right for a later pass over all
// of it (the processed FITS, the selection switched off and a re-map), here
// the stack itself, as all gains are 1.
TEST(ProcessingCache, SelectionLeavesTheWholePictureRight) {
    Live live;
    live.update();
    live.settings.region = {10, 10, 40, 30};
    EXPECT_EQ(live.update(), Stage::Mapping);
    EXPECT_EQ(total(live.cache.histograms().HistoG), 31 * 21);
    live.settings.decomposition.LevelStep = 2;
    EXPECT_EQ(live.update(), Stage::Decomposition);
    live.settings.region = PixelRegion::whole(Live::Width, Live::Height);
    RunProgress quiet;
    EXPECT_EQ(live.cache.update(live.settings, live.gamma, quiet, Stage::Mapping), Stage::Mapping);
    for (int x = 0; x < Live::Width; ++x)
        for (int y = 0; y < Live::Height; ++y)
            ASSERT_NEAR(live.cache.layers().recombined(GreenChannel)[x][y], live.workspace->StackG[x][y], 1e-3)
                << x << "," << y;
}

}  // namespace
}  // namespace planexor
