// The frame loop over a 500-frame 640x480 SER into the preview bitmap against
// reading the same bytes with plain reads, in the same run: 8-bit mono (the
// read plus the spread to B G R) and 12-bit RGGB (plus reduction and the
// demosaic). Counter ratio is the loop's best wall time over the plain
// reads' best; cpu_ratio the same in thread CPU time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <functional>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "bench_pictures.h"
#include "core/frame_loop.h"
#include "core/workspace.h"
#include "demo/ser_writer.h"
#include "input/ser_reader.h"

namespace {

using namespace planexor;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 500;

// Written once per machine and kept in /tmp; rewritten when it does not
// hold the expected video.
std::string benchVideo(const std::string& name, SerColour colour, int depth) {
    const std::string path = "/tmp/planexor-bench-" + name + ".ser";
    try {
        SerReader reader(path);
        if (reader.frameCount() == kFrames && reader.width() == 640 && reader.height() == 480) return path;
    } catch (const std::exception&) {
    }
    SerWriter::Format format;
    format.colour = colour;
    format.depth = depth;
    SerWriter writer;
    writer.open(path, 640, 480, format);
    const Bitmap24 picture = bench::testPicture(640, 480);
    for (int i = 0; i < kFrames; ++i) writer.addFrame(picture);
    writer.finish();
    return path;
}

struct Cost {
    double wall = 1e9;
    double cpu = 1e9;
};

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec * 1e-9;
}

// Best of the wall and CPU times of `run`; CPU time suffers less from a busy machine.
void measure(Cost& best, const std::function<void()>& run) {
    const auto start = Clock::now();
    const double cpu = threadCpuSeconds();
    run();
    best.cpu = std::min(best.cpu, threadCpuSeconds() - cpu);
    best.wall = std::min(best.wall, std::chrono::duration<double>(Clock::now() - start).count());
}

void plainRead(const std::string& path, std::size_t frameBytes) {
    std::vector<std::uint8_t> buffer(frameBytes);
    const int file = ::open(path.c_str(), O_RDONLY);
    for (int n = 0; n < kFrames; ++n) {
        const off_t offset = 178 + static_cast<off_t>(n) * static_cast<off_t>(frameBytes);
        if (::pread(file, buffer.data(), frameBytes, offset) != static_cast<ssize_t>(frameBytes)) std::abort();
        benchmark::DoNotOptimize(buffer.data());
    }
    ::close(file);
}

void frameLoop(benchmark::State& state, const std::string& path, std::size_t sampleBytes) {
    auto workspace = std::make_unique<Workspace>();
    SerReader reader(path);
    Bitmap24 preview;
    RunProgress progress;
    const std::size_t frameBytes = 640 * 480 * sampleBytes;
    Cost ours, plain;
    for (auto _ : state) {
        measure(ours, [&] { runFrameLoop(*workspace, reader, {0, kFrames - 1}, preview, {}, progress); });
        measure(plain, [&] { plainRead(path, frameBytes); });
    }
    state.counters["ours_ms"] = ours.wall * 1e3;
    state.counters["plain_read_ms"] = plain.wall * 1e3;
    state.counters["ratio"] = ours.wall / plain.wall;
    state.counters["cpu_ratio"] = ours.cpu / plain.cpu;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kFrames);
}

void FrameLoopMono8(benchmark::State& state) {
    static const std::string path = benchVideo("mono8", SerColour::Mono, 8);
    frameLoop(state, path, 1);
}
BENCHMARK(FrameLoopMono8)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void FrameLoopRggb12(benchmark::State& state) {
    static const std::string path = benchVideo("rggb12", SerColour::BayerRggb, 12);
    frameLoop(state, path, 2);
}
BENCHMARK(FrameLoopRggb12)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
