// A release on the gamma curve graph: the table rebuilt from the curve and a
// 1024 x 1024 colour picture re-mapped through it. It should feel instant
// (well under 20 ms). Also the help window's cost of showing a panel.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "app/rich_text.h"
#include "bench_pictures.h"
#include "process/display_mapping.h"
#include "process/gamma_curve.h"

namespace {

using namespace planexor;

constexpr int Side = 1024;

void BM_GammaCurveReleaseColour1024(benchmark::State& state) {
    auto store = std::make_unique<LayerStore>();
    const Bitmap24 picture = bench::testPicture(Side, Side);
    for (int channel = 0; channel < ColourChannels; ++channel)
        for (int x = 0; x < Side; ++x)
            for (int y = 0; y < Side; ++y) store->recombined(channel)[x][y] = picture.pixel(x, y)[2 - channel];

    TBSpline curve;
    gamma_curve::reset(curve);
    gamma_curve::insertAt(curve, 60, 225);  // a gentle S
    gamma_curve::insertAt(curve, 195, 30);
    curve.vertices();  // solved while the points were dragged

    const MappingTarget target{{Side, Side, true}, PixelRegion::whole(Side, Side)};
    GammaCurve table;
    Bitmap24 shown;
    Histograms histograms;
    for (auto _ : state) {
        gamma_curve::buildTable(curve, table);
        mapToBitmap(*store, 0.0f, 255.0f, target, DisplayOptions{}, table, MappingVariant::Remap, shown, histograms);
        benchmark::DoNotOptimize(shown.pixel(512, 512));
    }
}
BENCHMARK(BM_GammaCurveReleaseColour1024)->Unit(benchmark::kMillisecond);

void BM_GammaTableFromCurve(benchmark::State& state) {
    TBSpline curve;
    gamma_curve::reset(curve);
    GammaCurve table;
    for (auto _ : state) {
        gamma_curve::buildTable(curve, table);
        benchmark::DoNotOptimize(table.values[500]);
    }
}
BENCHMARK(BM_GammaTableFromCurve)->Unit(benchmark::kMicrosecond);

void BM_ShowHelpPanel(benchmark::State& state) {
    const std::vector<std::filesystem::path> directories = {std::filesystem::path(PLANEXOR_SOURCE_DIR) / "data" / "help"};
    for (auto _ : state) {
        const RichDocument panel = loadHelpPanel(directories, 2);
        benchmark::DoNotOptimize(panel.paragraphs.data());
    }
}
BENCHMARK(BM_ShowHelpPanel)->Unit(benchmark::kMicrosecond);

}  // namespace
