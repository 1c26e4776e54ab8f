// Enlarging a frame for a resampled stack, and the plain shift-and-add of
// one frame, which runs for every frame of every stacking run.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "bench_pictures.h"
#include "core/workspace.h"
#include "stack/frame_preparation.h"
#include "stack/resample.h"

namespace {

using namespace planexor;

using bench::testPicture;

// 640 x 480 to 1279 x 959: the 2x enlargement a resampled stack does per frame.
void EnlargeLanczos3_640x480_2x(benchmark::State& state) {
    const Bitmap24 source = testPicture(640, 480);
    const ResampleFilter& lanczos = resampleFilterTable()[5];
    ResamplePlan plan;
    plan.prepare(640, 480, 1279, 959, lanczos.function, lanczos.support);
    Bitmap24 dest;
    for (auto _ : state) {
        plan.apply(source, dest);
        benchmark::DoNotOptimize(dest.data());
    }
}
BENCHMARK(EnlargeLanczos3_640x480_2x)->Unit(benchmark::kMillisecond);

// The same through Stretch, which works out the contribution lists each call.
void StretchLanczos3_640x480_2x(benchmark::State& state) {
    const Bitmap24 source = testPicture(640, 480);
    const ResampleFilter& lanczos = resampleFilterTable()[5];
    Bitmap24 dest(1279, 959);
    for (auto _ : state) {
        Stretch(source, dest, lanczos.function, lanczos.support);
        benchmark::DoNotOptimize(dest.data());
    }
}
BENCHMARK(StretchLanczos3_640x480_2x)->Unit(benchmark::kMillisecond);

void stackFrames(benchmark::State& state, const StackOptions& options, float resampleFactor) {
    auto workspace = std::make_unique<Workspace>();
    // A dark and a flat over the whole frame, when the options use them.
    workspace->DarkR.fill(128.0f * 3);
    workspace->DarkG.fill(128.0f * 4);
    workspace->DarkB.fill(128.0f * 5);
    for (TFloatPlane* flat : {&workspace->FlatR, &workspace->FlatG, &workspace->FlatB}) flat->fill(0.9f);
    workspace->DarkWidth = workspace->FlatWidth = 640;
    workspace->DarkHeight = workspace->FlatHeight = 480;
    workspace->FrameWidth = workspace->ImageWidth = 640;
    workspace->FrameHeight = workspace->ImageHeight = 480;
    workspace->ResampleFactor = resampleFactor;
    workspace->FrameRecs[0].ShiftX = 3;
    workspace->FrameRecs[0].ShiftY = -2;
    workspace->FrameRecs[0].Quality = 0.5f;
    Bitmap24 frame = testPicture(640, 480);
    FramePreparation preparation(options);
    for (auto _ : state) {
        preparation.addDecodedFrame(*workspace, frame, 0);
        benchmark::DoNotOptimize(workspace->StackR.data());
    }
}

void AddColourFrame_640x480(benchmark::State& state) {
    stackFrames(state, StackOptions{}, 1.0f);
}
BENCHMARK(AddColourFrame_640x480)->Unit(benchmark::kMicrosecond);

void AddMonoFrame_640x480(benchmark::State& state) {
    StackOptions options;
    options.colour = false;
    stackFrames(state, options, 1.0f);
}
BENCHMARK(AddMonoFrame_640x480)->Unit(benchmark::kMicrosecond);

void AddCalibratedFrame_640x480(benchmark::State& state) {
    StackOptions options;
    options.colour = state.range(0) != 0;
    options.useDark = options.useFlat = true;
    stackFrames(state, options, 1.0f);
}
BENCHMARK(AddCalibratedFrame_640x480)->Arg(1)->Arg(0)->Unit(benchmark::kMicrosecond);

void AddColourFrameResampled2x_640x480(benchmark::State& state) {
    StackOptions options;
    options.resample = true;
    options.filterItem = 3;  // Mitchell, the default
    stackFrames(state, options, 2.0f);
}
BENCHMARK(AddColourFrameResampled2x_640x480)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {
// The floor for adding a frame: touching the same four plane areas once
// (read, add, write back) and nothing else.
void PlaneTrafficFloor_640x480(benchmark::State& state) {
    auto workspace = std::make_unique<planexor::Workspace>();
    for (auto _ : state) {
        for (int x = 0; x < 640; ++x) {
            float* r = workspace->StackR[x];
            float* g = workspace->StackG[x];
            float* b = workspace->StackB[x];
            std::int32_t* n = workspace->StackCount[x];
            for (int y = 0; y < 480; ++y) {
                r[y] += 1.0f;
                g[y] += 2.0f;
                b[y] += 3.0f;
                n[y] += 1;
            }
        }
        benchmark::DoNotOptimize(workspace->StackR.data());
    }
}
BENCHMARK(PlaneTrafficFloor_640x480)->Unit(benchmark::kMicrosecond);
}  // namespace
