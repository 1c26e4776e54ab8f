// Reading AVI frames through AviReader against the ffmpeg tool decoding the
// same file in the same run: a 500-frame 640x480 video, uncompressed and
// MJPEG. Counters: ratio is our sequential wall time over the tool's whole
// run; the tool's run includes its start-up (tool_startup_ms, the same
// command stopped after one frame), so decode_ratio compares against the tool
// without it, and cpu_decode_ratio does the same in CPU time, which a busy
// machine disturbs less.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "app/main_form.h"
#include "app/ui_services.h"
#include "app/user_settings.h"
#include "input/avi_reader.h"

namespace {

using namespace planexor;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 500;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double ownCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

struct Cost {
    double wall = 1e9;
    double cpu = 1e9;
};

void runQuietly(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1 </dev/null").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// Written once per machine and kept in /tmp; rewritten when it does not
// hold the expected video.
std::string benchVideo(const std::string& name, const std::string& codecArguments) {
    const std::string path = "/tmp/planexor-bench-" + name + ".avi";
    try {
        AviReader reader(path);
        if (reader.frameCount() == kFrames && reader.width() == 640 && reader.height() == 480) return path;
    } catch (const std::exception&) {
    }
    runQuietly("ffmpeg -nostdin -y -f lavfi -i testsrc2=size=640x480:rate=25 -frames:v " + std::to_string(kFrames) +
               " " + codecArguments + " " + path);
    return path;
}

const std::string& rawVideo() {
    static const std::string path = benchVideo("raw", "-c:v rawvideo -pix_fmt bgr24");
    return path;
}

const std::string& mjpegVideo() {
    static const std::string path = benchVideo("mjpeg", "-c:v mjpeg -q:v 3 -pix_fmt yuvj420p");
    return path;
}

// The best of five runs of the tool decoding, single-threaded.
Cost toolCost(const std::string& arguments) {
    Cost best;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        const double cpuBefore = childrenCpuSeconds();
        runQuietly("ffmpeg -nostdin -threads 1 " + arguments + " -f null -");
        best.wall = std::min(best.wall, secondsSince(start));
        best.cpu = std::min(best.cpu, childrenCpuSeconds() - cpuBefore);
    }
    return best;
}

// Times `readAll` (every frame of `path`, in order) against the tool.
void compareWithTool(benchmark::State& state, const std::string& path, const std::function<void()>& readAll) {
    const Cost tool = toolCost("-i " + path);
    const Cost startup = toolCost("-i " + path + " -frames:v 1");
    Cost ours;
    int runs = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        const double cpuBefore = ownCpuSeconds();
        readAll();
        ours.wall = std::min(ours.wall, secondsSince(start));
        ours.cpu = std::min(ours.cpu, ownCpuSeconds() - cpuBefore);
        ++runs;
    }
    state.counters["ours_ms"] = ours.wall * 1e3;
    state.counters["tool_ms"] = tool.wall * 1e3;
    state.counters["tool_startup_ms"] = startup.wall * 1e3;
    state.counters["ratio"] = ours.wall / tool.wall;
    state.counters["decode_ratio"] = ours.wall / std::max(1e-3, tool.wall - startup.wall);
    state.counters["cpu_decode_ratio"] = ours.cpu / std::max(1e-3, tool.cpu - startup.cpu);
    state.SetItemsProcessed(static_cast<std::int64_t>(runs) * kFrames);
}

void readAllFrames(benchmark::State& state, const std::string& path) {
    Bitmap24 frame;
    compareWithTool(state, path, [&] {
        AviReader reader(path);
        for (int n = 0; n < reader.frameCount(); ++n) reader.decode(n, frame);
        benchmark::DoNotOptimize(frame.data());
    });
}

// The window's own frame loop over the whole video into the preview bitmap:
// opening through "Select input", then the run with its progress and yields.
void formFrameLoop(benchmark::State& state, const std::string& path) {
    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    ui.queueFiles({path}, 1);
    form.control(Control::SelectFileButton).click();
    if (!ui.messages.empty()) throw std::runtime_error(ui.messages.front().text);
    compareWithTool(state, path, [&] {
        form.FetchAviFrames(form.workspace().SourceFile, -1);
        benchmark::DoNotOptimize(form.previewBitmap().data());
    });
}

void FormLoopRaw(benchmark::State& state) { formFrameLoop(state, rawVideo()); }
BENCHMARK(FormLoopRaw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void FormLoopMjpeg(benchmark::State& state) { formFrameLoop(state, mjpegVideo()); }
BENCHMARK(FormLoopMjpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Showing a random frame as the preview slider does.
void FormShowRandomFrameRaw(benchmark::State& state) {
    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    ui.queueFiles({rawVideo()}, 1);
    form.control(Control::SelectFileButton).click();
    std::mt19937 random(7);
    for (auto _ : state) {
        form.control(Control::PreviewSlider).setValueByUser(static_cast<double>(random() % kFrames));
        benchmark::DoNotOptimize(form.previewBitmap().data());
    }
}
BENCHMARK(FormShowRandomFrameRaw)->Unit(benchmark::kMicrosecond)->UseRealTime();

void SequentialRaw(benchmark::State& state) { readAllFrames(state, rawVideo()); }
BENCHMARK(SequentialRaw)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void SequentialMjpeg(benchmark::State& state) { readAllFrames(state, mjpegVideo()); }
BENCHMARK(SequentialMjpeg)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

// Frames far apart in no order, so each request seeks.
void randomFrames(benchmark::State& state, const std::string& path) {
    AviReader reader(path);
    Bitmap24 frame;
    std::mt19937 random(5);
    std::vector<int> order;
    for (int i = 0; i < 1000; ++i) order.push_back(static_cast<int>(random() % kFrames));
    std::size_t next = 0;
    for (auto _ : state) {
        reader.decode(order[next], frame);
        next = (next + 1) % order.size();
        benchmark::DoNotOptimize(frame.data());
    }
}

void RandomFrameRaw(benchmark::State& state) { randomFrames(state, rawVideo()); }
BENCHMARK(RandomFrameRaw)->Unit(benchmark::kMicrosecond)->UseRealTime();

void RandomFrameMjpeg(benchmark::State& state) { randomFrames(state, mjpegVideo()); }
BENCHMARK(RandomFrameMjpeg)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
