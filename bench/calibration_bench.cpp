// Making a dark frame ("Make Darkframe" over the 500-frame 640x480
// uncompressed demo video, through the form's handlers) against the ffmpeg
// tool decoding the same file in the same run, and loading a 1024 x 1024
// 16-bit FITS flat with its normalisation against reading the file's bytes.
// Counters: ours_ms and the floor's time, best of the iterations, and ratio;
// plane_ms is filling one flat plane with a constant, the least a grey
// load must spend.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include "app/main_form.h"
#include "core/file_io.h"
#include "demo/synthetic_planet.h"
#include "bench_job.h"
#include "input/avi_reader.h"
#include "input/calibration.h"
#include "process/fits_writer.h"

namespace {

using namespace planexor;
using bench::Clock;
using bench::secondsSince;

constexpr int kFrames = 500;
const std::string kDirectory = "/tmp/planexor-bench-align";  // shared with the align benchmark

const std::string& benchVideo() {
    static const std::string path = bench::demoVideo(kDirectory);
    return path;
}

// Arg 0: grey, as make-dark makes it; 1: in colour.
void MakeDarkFrom500Frames(benchmark::State& state) {
    const std::string& video = benchVideo();
    const double tool = bench::ffmpegSeconds("-i " + video);
    bench::QuietUi ui(benchVideo());
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    form.control(Control::SelectFileButton).click();
    form.control(Control::ColourStack).setCheckedByUser(state.range(0) != 0);
    double best = 1e9;
    for (auto _ : state) {
        const auto start = Clock::now();
        form.control(Control::CreateDarkframe).click();
        best = std::min(best, secondsSince(start));
        if (form.stackedCount() != kFrames) throw std::runtime_error("not every frame was stacked");
    }
    state.counters["ours_ms"] = best * 1e3;
    state.counters["tool_ms"] = tool * 1e3;
    state.counters["ratio"] = best / tool;
}
BENCHMARK(MakeDarkFrom500Frames)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

void LoadFlat1024(benchmark::State& state) {
    auto workspace = std::make_unique<Workspace>();
    Workspace& w = *workspace;
    for (int x = 0; x < MaxImageSide; ++x)
        for (int y = 0; y < MaxImageSide; ++y) w.StackG[x][y] = 100.0f + static_cast<float>((x * 3 + y * 7) % 150);
    const std::string path = (std::filesystem::temp_directory_path() / "planexor-bench-flat.fitq").string();
    WriteFits(path, MaxImageSide, MaxImageSide, 16, FitsSpecialStack, TFITParams{}, stackChannels(w), false);
    double ours = 1e9, floor = 1e9, plane = 1e9;
    for (auto _ : state) {
        auto start = Clock::now();
        w.FlatR.fill(1.0f);
        benchmark::ClobberMemory();
        plane = std::min(plane, secondsSince(start));
        start = Clock::now();
        const std::vector<std::uint8_t> bytes = readWholeFile(path, std::size_t{1} << 30);
        benchmark::DoNotOptimize(bytes.data());
        floor = std::min(floor, secondsSince(start));
        start = Clock::now();
        loadFlatField(w, path, CalibrationSpecialFits);
        ours = std::min(ours, secondsSince(start));
    }
    state.counters["ours_ms"] = ours * 1e3;
    state.counters["read_ms"] = floor * 1e3;
    // What writing the plane alone costs, whatever the file holds.
    state.counters["plane_ms"] = plane * 1e3;
    state.counters["ratio"] = ours / floor;
}
BENCHMARK(LoadFlat1024)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
