// The align-all run ("Align") over a 500-frame 640x480 uncompressed demo
// video, through the form's handlers as a user starts it, against the
// ffmpeg tool decoding the same file in the same run. Counters: ratio is
// our wall time over the tool's whole run, decode_ratio the same against
// the tool without its start-up (the same command stopped after one frame),
// allocs_per_frame the C++ allocations made per registered frame. A second
// pair of benchmarks times one registration alone.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>

#include "align/registration.h"
#include "app/main_form.h"
#include "input/avi_reader.h"
#include "input/bmp_codec.h"
#include "demo/synthetic_planet.h"
#include "stack/alignment_points.h"
#include "bench_job.h"

#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
namespace {
std::atomic<long> allocations{0};
}
void* operator new(std::size_t size) {
    ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace planexor;
using bench::Clock;
using bench::secondsSince;

constexpr int kFrames = 500;
const std::string kDirectory = "/tmp/planexor-bench-align";

// Written once per machine and kept in /tmp.
const std::string& benchVideo() {
    static const std::string path = bench::demoVideo(kDirectory);
    return path;
}
double toolSeconds(const std::string& arguments) { return bench::ffmpegSeconds(arguments); }

void AlignAll(benchmark::State& state) {
    const int box = static_cast<int>(state.range(0));
    const std::string& video = benchVideo();
    const double tool = toolSeconds("-i " + video);
    const double startup = toolSeconds("-i " + video + " -frames:v 1");

    bench::QuietUi ui(benchVideo());
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    form.control(Control::SelectFileButton).click();
    form.control(Control::AutoOptimize).setChecked(false);  // aligning alone; optimize_bench times the passes
    form.control(Control::FFTsizeGroup).setItemIndexByUser(box == 64 ? 0 : box == 128 ? 1 : 2);
    form.control(Control::Followme).setChecked(true);
    form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, 320, 240, true);
    if (form.workspace().progstatus != 1) throw std::runtime_error("the feature click was refused");

    form.control(Control::Allignallbutton).click();  // once to warm the caches and size every buffer
    double best = 1e9;
    long allocationsPerRun = 0;
    for (auto _ : state) {
        const long before = allocations.load();
        const auto start = Clock::now();
        form.control(Control::Allignallbutton).click();
        best = std::min(best, secondsSince(start));
        allocationsPerRun = allocations.load() - before;
    }
    state.counters["ours_ms"] = best * 1e3;
    state.counters["tool_ms"] = tool * 1e3;
    state.counters["tool_startup_ms"] = startup * 1e3;
    state.counters["ratio"] = best / tool;
    state.counters["decode_ratio"] = best / std::max(1e-3, tool - startup);
    state.counters["allocs_per_frame"] = static_cast<double>(allocationsPerRun) / kFrames;
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(AlignAll)->Arg(128)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// Opens the bench video, clicks the planet and aligns every frame (box 128).
void openAndAlign(TMainForm& form) {
    form.control(Control::SelectFileButton).click();
    form.control(Control::AutoOptimize).setChecked(false);
    form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, 320, 240, true);
    form.control(Control::Allignallbutton).click();
    if (form.workspace().progstatus != 2) throw std::runtime_error("aligning did not finish");
}

// Stacking the best quarter (125 of 500 frames, colour, no resampling, the
// stack quality after every frame) against the tool decoding 125 frames.
void StackBestQuarter(benchmark::State& state) {
    const std::string& video = benchVideo();
    const double tool = toolSeconds("-i " + video + " -frames:v 125");
    bench::QuietUi ui(benchVideo());
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    openAndAlign(form);
    form.control(Control::StackSlider).setValueByUser(124);
    double best = 1e9;
    for (auto _ : state) {
        const auto start = Clock::now();
        form.control(Control::Stackbutton).click();
        best = std::min(best, secondsSince(start));
    }
    state.counters["ours_ms"] = best * 1e3;
    state.counters["tool_ms"] = tool * 1e3;
    state.counters["ratio"] = best / tool;
}
BENCHMARK(StackBestQuarter)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The whole batch job as planexor-cli stack runs it (open, align 500, stack
// 125, write the BMP) against the tool decoding all 500 frames.
void WholeStackJob(benchmark::State& state) {
    const std::string& video = benchVideo();
    const double tool = toolSeconds("-i " + video);
    const std::string out = (std::filesystem::temp_directory_path() / "planexor-bench-stack.bmp").string();
    double best = 1e9;
    for (auto _ : state) {
        const auto start = Clock::now();
        bench::QuietUi ui(benchVideo());
        MemoryUserSettings settings;
        TMainForm form(ui, settings);
        openAndAlign(form);
        form.control(Control::StackSlider).setValueByUser(124);
        form.control(Control::Stackbutton).click();
        writeBmpFile(out, form.stackBitmap());
        best = std::min(best, secondsSince(start));
    }
    state.counters["ours_ms"] = best * 1e3;
    state.counters["tool_ms"] = tool * 1e3;
    state.counters["ratio"] = best / tool;
}
BENCHMARK(WholeStackJob)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// The same whole job with an option on and off, alternately in one run:
// the ratio is the best job with it over the best job without it.
double wholeJobSeconds(const std::function<void(TMainForm&)>& option, const std::string& out) {
    const auto start = Clock::now();
    bench::QuietUi ui(benchVideo());
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    form.control(Control::SelectFileButton).click();
    form.control(Control::AutoOptimize).setChecked(false);
    if (option) option(form);
    form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, 320, 240, true);
    form.control(Control::Allignallbutton).click();
    if (form.workspace().progstatus != 2) throw std::runtime_error("aligning did not finish");
    form.control(Control::StackSlider).setValueByUser(124);
    form.control(Control::Stackbutton).click();
    writeBmpFile(out, form.stackBitmap());
    return secondsSince(start);
}

void compareWholeJobs(benchmark::State& state, const char* name, const std::function<void(TMainForm&)>& option) {
    benchVideo();
    const std::string out = (std::filesystem::temp_directory_path() / "planexor-bench-option.bmp").string();
    double without = 1e9, with = 1e9;
    for (auto _ : state) {
        without = std::min(without, wholeJobSeconds(nullptr, out));
        with = std::min(with, wholeJobSeconds(option, out));
    }
    state.counters["whole_ms"] = without * 1e3;
    state.counters[std::string(name) + "_ms"] = with * 1e3;
    state.counters[std::string(name) + "_ratio"] = with / without;
}

void SubpixelWholeJob(benchmark::State& state) {
    compareWholeJobs(state, "subpixel", [](TMainForm& form) { form.control(Control::SubpixelBox).setCheckedByUser(true); });
}
BENCHMARK(SubpixelWholeJob)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

void PointsWholeJob(benchmark::State& state) {
    compareWholeJobs(state, "points", [](TMainForm& form) {
        form.control(Control::PointsSpin).setValueByUser(AlignmentPoints::Auto);
    });
}
BENCHMARK(PointsWholeJob)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5.0);

// One stacked frame's alignment points: registering them and warping the
// 640x480 colour frame, against a reference of the demo's first 30 frames.
void WarpOneFrame(benchmark::State& state) {
    const DemoOptions options = bench::demoOptions(kDirectory);
    const std::vector<FrameTruth> truth = demoTruth(options);
    PlanetRenderer renderer(options.width, options.height, options.seed);
    AlignmentPoints points;
    points.startReference(options.width, options.height);
    Bitmap24 frame;
    const auto whole = [&](int i, bool y) {
        return std::round(y ? truth[i].shiftY - truth[0].shiftY : truth[i].shiftX - truth[0].shiftX);
    };
    for (int i = 0; i < 30; ++i) {
        renderer.render(truth[i], i, FrameEffects{}, frame);
        points.addToReference(frame, whole(i, false), whole(i, true));
    }
    state.counters["points"] = points.placePoints(AlignmentPoints::Auto);
    renderer.render(truth[40], 40, FrameEffects{}, frame);
    Bitmap24 moved;
    for (auto _ : state) {
        moved = frame;
        points.measure(moved, whole(40, false), whole(40, true));
        points.warp(moved, whole(40, false), whole(40, true));
        benchmark::DoNotOptimize(moved.data());
    }
}
BENCHMARK(WarpOneFrame)->Unit(benchmark::kMillisecond);

// One registration of a decoded frame: the transforms, the difference and the quality.
void RegisterOneFrame(benchmark::State& state) {
    const int box = static_cast<int>(state.range(0));
    const DemoOptions options = bench::demoOptions(kDirectory);
    const Bitmap24 reference = renderDemoFrame(options, 0);
    const Bitmap24 frame = renderDemoFrame(options, 1);
    auto workspace = std::make_unique<Workspace>();
    Workspace& w = *workspace;
    w.FrameWidth = w.ImageWidth = 640;
    w.FrameHeight = w.ImageHeight = 480;
    w.hotx = 320;
    w.hoty = 240;
    FftEngine fft;
    fft.SetupFFT(box);
    Alignment alignment;
    alignment.BoxLeft = 320 - box / 2;
    alignment.BoxTop = 240 - box / 2;
    RegistrationOptions registration;
    registration.track = false;
    buildReferenceSpectrum(alignment, fft, reference, 640, 480, registration);
    w.CurrentFrame = 1;
    for (auto _ : state) {
        const RegistrationResult result = registerFrame(w, alignment, fft, frame, reference, registration);
        benchmark::DoNotOptimize(result.difference);
    }
}
BENCHMARK(RegisterOneFrame)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

}  // namespace
