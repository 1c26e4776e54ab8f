// Live processing of a 1024 x 1024 colour stack: the six-layer decomposition,
// one layer-slider change (recombination and mapping) and one display change
// (mapping only). The floor copies the three stack planes once, so the ratio
// says how many plane sweeps each step costs on this machine.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <memory>

#include "core/workspace.h"
#include "process/processing_cache.h"
#include "core/vector_lanes.h"

namespace {

using namespace planexor;

constexpr int Side = 1024;

// A banded, limb-darkened disc with fine grain, in stack units.
void fillStack(Workspace& workspace) {
    unsigned grain = 12345;
    TFloatPlane* planes[3] = {&workspace.StackR, &workspace.StackG, &workspace.StackB};
    for (int x = 0; x < Side; ++x)
        for (int y = 0; y < Side; ++y) {
            const double dx = (x - 512) / 400.0, dy = (y - 512) / 380.0;
            const double d2 = dx * dx + dy * dy;
            const double disc = d2 < 1 ? std::sqrt(1 - d2) * (150 + 40 * std::sin(y * 0.05)) : 4;
            grain = grain * 1664525u + 1013904223u;
            const double noise = (grain >> 24) / 64.0;
            for (int c = 0; c < 3; ++c) (*planes[c])[x][y] = static_cast<float>(disc * (0.8 + 0.1 * c) + noise);
        }
    workspace.StackMin = 0;
    workspace.StackMax = 230;
}

ProcessingSettings colourSettings() {
    ProcessingSettings settings;
    settings.geometry = {Side, Side, true};
    settings.decomposition.Scaletype = 0;
    return settings;
}

struct Fixture {
    std::unique_ptr<Workspace> workspace = std::make_unique<Workspace>();
    std::unique_ptr<ProcessingCache> cache;
    GammaCurve gamma;
    Fixture() {
        fillStack(*workspace);
        cache = std::make_unique<ProcessingCache>(*workspace);
        gamma.build(1.0);
    }
};

void BM_FloorCopyStackPlanes(benchmark::State& state) {
    Workspace workspace;
    for (auto _ : state) {
        std::memcpy(workspace.ProcR.data(), workspace.StackR.data(), sizeof(float) * TFloatPlane::Size);
        std::memcpy(workspace.ProcG.data(), workspace.StackG.data(), sizeof(float) * TFloatPlane::Size);
        std::memcpy(workspace.ProcB.data(), workspace.StackB.data(), sizeof(float) * TFloatPlane::Size);
        benchmark::DoNotOptimize(workspace.ProcB[5][5]);
    }
}
BENCHMARK(BM_FloorCopyStackPlanes)->Unit(benchmark::kMillisecond);

// Arg: 0 dyadic, 1 linear with distances 8, 16, ..., 48.
void BM_DecomposeColour1024(benchmark::State& state) {
    Fixture fixture;
    DecompositionOptions options;
    options.Scaletype = static_cast<int>(state.range(0)) == 0 ? 0 : 1;
    options.LevelStep = 8;
    options.Multiplicant = 8;
    RunProgress quiet;
    for (auto _ : state) {
        decomposeStack(*fixture.workspace, fixture.cache->layers(), options, {Side, Side, true}, quiet);
        benchmark::DoNotOptimize(fixture.workspace->ProcG[100][100]);
    }
    state.SetLabel(wideVectorsAvailable() ? "avx2" : "portable");
}
BENCHMARK(BM_DecomposeColour1024)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_LayerSliderChangeColour1024(benchmark::State& state) {
    Fixture fixture;
    ProcessingSettings settings = colourSettings();
    fixture.cache->update(settings, fixture.gamma);
    int step = 0;
    for (auto _ : state) {
        settings.recombination.gainSlider[0] = 20 + (++step % 2);
        if (fixture.cache->update(settings, fixture.gamma) != ProcessingCache::Stage::Recombination)
            state.SkipWithError("the slider did not rerun the recombination");
        benchmark::DoNotOptimize(fixture.cache->image().data());
    }
    state.SetLabel(wideVectorsAvailable() ? "avx2" : "portable");
}
BENCHMARK(BM_LayerSliderChangeColour1024)->Unit(benchmark::kMillisecond);

void BM_ContrastChangeColour1024(benchmark::State& state) {
    Fixture fixture;
    ProcessingSettings settings = colourSettings();
    fixture.cache->update(settings, fixture.gamma);
    int step = 0;
    for (auto _ : state) {
        settings.display.ContrastSlider = 100 + (++step % 2);
        if (fixture.cache->update(settings, fixture.gamma) != ProcessingCache::Stage::Mapping)
            state.SkipWithError("the contrast change did more than the mapping");
        benchmark::DoNotOptimize(fixture.cache->image().data());
    }
}
BENCHMARK(BM_ContrastChangeColour1024)->Unit(benchmark::kMillisecond);

}  // namespace
