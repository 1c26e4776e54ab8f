#include "process/processing_cache.h"

#include <gtest/gtest.h>

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

    live.settings.display.ContrastSlider = 150;
    EXPECT_EQ(live.update(), Stage::Mapping);
    live.settings.display.StretchHigh = 200;
    EXPECT_EQ(live.update(), Stage::Mapping);
    live.gamma.build(2.0);
    EXPECT_EQ(live.update(), Stage::Mapping);

    live.settings.recombination.gainSlider[2] = 40;
    EXPECT_EQ(live.update(), Stage::Recombination);
    live.settings.recombination.layerOn[5] = false;
    EXPECT_EQ(live.update(), Stage::Recombination);
    live.settings.recombination.VertiFlipCheckbox = true;
    EXPECT_EQ(live.update(), Stage::Recombination);

    live.settings.decomposition.LevelStep = 2;
    EXPECT_EQ(live.update(), Stage::Decomposition);
    live.settings.decomposition.kernel.taps[4] = 0.4f;
    EXPECT_EQ(live.update(), Stage::Decomposition);
    live.cache.invalidateLayers();
    EXPECT_EQ(live.update(), Stage::Decomposition);
    live.settings.geometry.colour = false;
    EXPECT_EQ(live.update(), Stage::Decomposition);
    EXPECT_EQ(live.update(), Stage::None);
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
