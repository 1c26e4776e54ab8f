// One optimizing pass ("Optimize", box 128, search area 2, every ranked
// frame) over the 500-frame 640x480 uncompressed demo video, against the
// ffmpeg tool decoding the same file in the same run; and opening a frame
// list of 2501 lines with every frame's header checked.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "core/file_io.h"
#include "demo/synthetic_planet.h"
#include "bench_job.h"
#include "input/avi_reader.h"
#include "input/bmp_codec.h"
#include "input/frame_list_file.h"

namespace {

using namespace planexor;
using bench::Clock;
using bench::secondsSince;

constexpr int kFrames = 500;
const std::string kDirectory = "/tmp/planexor-bench-optimize";

const std::string& benchVideo() {
    static const std::string path = bench::demoVideo(kDirectory);
    return path;
}

void OptimizePass(benchmark::State& state) {
    const std::string& video = benchVideo();
    const double tool = bench::ffmpegSeconds("-i " + video);
    const double startup = bench::ffmpegSeconds("-i " + video + " -frames:v 1");
    bench::QuietUi ui(benchVideo());
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    form.control(Control::SelectFileButton).click();
    form.control(Control::AutoOptimize).setChecked(false);
    form.control(Control::SearchArea).setValue(2);
    form.control(Control::OptimizeQualitySpin).setValue(0);  // every frame
    form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, 320, 240, true);
    form.control(Control::Allignallbutton).click();
    if (form.workspace().progstatus != 2) throw std::runtime_error("aligning did not finish");
    form.control(Control::Optimizebutton).click();  // warms the caches
    double best = 1e9;
    for (auto _ : state) {
        const auto start = Clock::now();
        form.control(Control::Optimizebutton).click();
        best = std::min(best, secondsSince(start));
    }
    state.counters["ours_ms"] = best * 1e3;
    state.counters["tool_ms"] = tool * 1e3;
    state.counters["ratio"] = best / tool;
    state.counters["decode_ratio"] = best / std::max(1e-3, tool - startup);
}
BENCHMARK(OptimizePass)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// 2501 distinct small BMP frames, written once per machine.
const std::string& longList() {
    static const std::string path = [] {
        const std::string folder = kDirectory + "/list";
        std::filesystem::create_directories(folder);
        std::vector<std::string> paths;
        Bitmap24 frame(128, 96);
        for (int k = 0; k < MaxFrames; ++k) {
            paths.push_back(folder + "/frame_" + std::to_string(k) + ".bmp");
            if (std::filesystem::exists(paths.back())) continue;
            frame.fill(static_cast<std::uint8_t>(k), 40, 90);
            writeBmpFile(paths.back(), frame);
        }
        const std::string list = kDirectory + "/frames.pxl";
        writeFileAtomically(list, frameListText(paths));
        return list;
    }();
    return path;
}

void OpenLongFrameList(benchmark::State& state) {
    bench::QuietUi ui("");  // no dialog: the list opens directly
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    const std::string& list = longList();
    for (auto _ : state) {
        form.openFrameList(list);
        if (form.frameCount() != MaxFrames) throw std::runtime_error("the list did not open whole");
    }
}
BENCHMARK(OpenLongFrameList)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
