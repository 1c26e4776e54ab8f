#include "process/processing_cache.h"

#include <gtest/gtest.h>

#include <functional>

#include "process_test_support.h"

namespace planexor {
namespace {

using Stage = ProcessingCache::Stage;
using testing::texturedValue;

struct Live {
    static constexpr int Width = 64, Height = 48;
    testing::ProcessingPlanes planes;
    Workspace* workspace = planes.workspace;
    ProcessingCache cache{*workspace, *planes.store};
    ProcessingSettings settings;
    GammaCurve gamma;

    Live() {
        for (int x = 0; x < Width; ++x)
            for (int y = 0; y < Height; ++y) {
                workspace->StackR[x][y] = texturedValue(0, x, y);
                workspace->StackG[x][y] = texturedValue(1, x, y);
                workspace->StackB[x][y] = texturedValue(2, x, y);
            }
        workspace->StackMin = 0;
        workspace->StackMax = 160;
        settings.geometry = {Width, Height, true};
        gamma.build(1.0);
    }
    Stage update() { return cache.update(settings, gamma); }
};

TEST(ProcessingCache, EachChangeRerunsOnlyTheStagesItMakesStale) {
    Live live;
    EXPECT_EQ(live.update(), Stage::Decomposition);
    EXPECT_EQ(live.update(), Stage::None);
    const std::pair<std::function<void(Live&)>, Stage> changes[] = {
        {[](Live& l) { l.settings.display.ContrastSlider = 150; }, Stage::Mapping},
        {[](Live& l) { l.settings.display.StretchHigh = 200; }, Stage::Mapping},
        {[](Live& l) { l.gamma.build(2.0); }, Stage::Mapping},
        {[](Live& l) { l.settings.recombination.gainSlider[2] = 40; }, Stage::Recombination},
        {[](Live& l) { l.settings.recombination.layerOn[5] = false; }, Stage::Recombination},
        {[](Live& l) { l.settings.recombination.VertiFlipCheckbox = true; }, Stage::Recombination},
        {[](Live& l) { l.settings.decomposition.LevelStep = 2; }, Stage::Decomposition},
        {[](Live& l) { l.settings.decomposition.kernel.taps[4] = 0.4f; }, Stage::Decomposition},
        {[](Live& l) { l.cache.invalidateLayers(); }, Stage::Decomposition},
        {[](Live& l) { l.settings.geometry.colour = false; }, Stage::Decomposition},
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        changes[i].first(live);
        EXPECT_EQ(live.update(), changes[i].second) << "change " << i;
        EXPECT_EQ(live.update(), Stage::None) << "change " << i;
    }
}

TEST(ProcessingCache, ShowsWhatTheStagesGiveWhenRunByHand) {
    Live live;
    live.settings.recombination.gainSlider = {30, 20, 10, 10, 10, 10};
    live.settings.display.BrightnessSlider = 12;
    live.update();
    live.settings.display.ContrastSlider = 120;
    ASSERT_EQ(live.update(), Stage::Mapping);

    Workspace& workspace = *live.workspace;
    testing::ProcessingPlanes spare;
    LayerStore& direct = *spare.store;
    RunProgress quiet;
    decomposeStack(workspace, direct, live.settings.decomposition, live.settings.geometry,
                   PixelRegion::whole(Live::Width, Live::Height), quiet);
    recombineLayers(workspace, direct, live.settings.recombination, live.settings.geometry);
    Bitmap24 bitmap;
    Histograms histograms;
    mapToBitmap(direct, workspace.StackMin, workspace.StackMax,
                {live.settings.geometry, PixelRegion::whole(Live::Width, Live::Height)}, live.settings.display,
                live.gamma, MappingVariant::Remap, bitmap, histograms);
    EXPECT_EQ(live.cache.image(), bitmap);
    EXPECT_EQ(live.cache.histograms(), histograms);
}

TEST(ProcessingCache, ProcessingBeforeAnyStackShowsBlack) {
    testing::ProcessingPlanes planes;  // zero planes, StackMin = StackMax = 0
    ProcessingCache cache(*planes.workspace, *planes.store);
    ProcessingSettings settings;
    settings.geometry = {32, 24, true};
    GammaCurve gamma;
    gamma.build(1.0);
    EXPECT_EQ(cache.update(settings, gamma), Stage::Decomposition);
    EXPECT_EQ(cache.histograms().HistoG[0], 32 * 24);
    settings.display.ContrastSlider = 300;
    EXPECT_EQ(cache.update(settings, gamma), Stage::Mapping);
    EXPECT_EQ(cache.histograms().HistoR[0], 32 * 24);
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 32; ++x) ASSERT_EQ(cache.image().pixel(x, y)[1], 0);

    settings.geometry = {0, 0, true};  // nothing opened at all
    cache.update(settings, gamma);
    EXPECT_TRUE(cache.image().empty());
}

// A selection inside what was decomposed only re-maps; one reaching beyond
// it, or going back to the whole image after a selection, decomposes again.
TEST(ProcessingCache, SelectionDecomposesOnlyWhatIsMissing) {
    Live live;
    live.update();
    live.settings.region = {10, 10, 40, 30};
    EXPECT_EQ(live.update(), Stage::Mapping);
    std::int64_t counted = 0;
    for (auto count : live.cache.histograms().HistoG) counted += count;
    EXPECT_EQ(counted, 31 * 21);

    live.cache.invalidateLayers();
    EXPECT_EQ(live.update(), Stage::Decomposition);
    live.settings.region = {12, 12, 20, 20};
    EXPECT_EQ(live.update(), Stage::Mapping);
    live.settings.region = PixelRegion::whole(Live::Width, Live::Height);
    EXPECT_EQ(live.update(), Stage::Decomposition);
}

}  // namespace
}  // namespace planexor
