// FITS saving and loading against the floor of moving the same bytes in the
// same run. Counters: ours_ms and floor_ms are the best of the iterations,
// ratio their quotient. The write floor is the same bytes saved the one safe
// way every writer saves (temporary file, sync, rename); plain_sync_ms and
// plain_ms overwrite one file in place with and without the sync. The read
// floor is the file read into a buffer of its own, as the other reading
// benchmarks take it; warm_read_ms reads it into one kept from the last time.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

#include "core/file_io.h"
#include "core/workspace.h"
#include "input/fits_reader.h"
#include "process/fits_writer.h"

namespace {

using namespace planexor;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string benchFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("planexor-bench-" + name)).string();
}

Workspace& stack1024() {
    static const auto workspace = [] {
        auto w = std::make_unique<Workspace>();
        TFloatPlane* planes[] = {&w->StackR, &w->StackG, &w->StackB};
        for (int channel = 0; channel < 3; ++channel)
            for (int x = 0; x < MaxImageSide; ++x)
                for (int y = 0; y < MaxImageSide; ++y)
                    (*planes[channel])[x][y] = static_cast<float>(((x * 7 + y * 3) % 256) * (channel + 1)) * 0.37f;
        return w;
    }();
    return *workspace;
}

void writePlainly(const std::string& path, const std::vector<std::uint8_t>& bytes, bool sync) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
    if (sync) ::fsync(::fileno(file));
    std::fclose(file);
}

void WriteColourStackAsThreeFits1024(benchmark::State& state) {
    const Workspace& w = stack1024();
    const std::string base = benchFile("stack.fit");
    const TFITParams params;
    const auto names = WriteFits(base, MaxImageSide, MaxImageSide, 16, FitsStack, params, stackChannels(w), true);
    std::vector<std::vector<std::uint8_t>> contents;
    for (const auto& name : names) contents.push_back(readWholeFile(name, std::size_t{1} << 30));
    const std::string plain = benchFile("plain.fit");

    double ours = 1e9, floor = 1e9, plainSync = 1e9, plainNoSync = 1e9;
    for (auto _ : state) {
        auto start = Clock::now();
        WriteFits(base, MaxImageSide, MaxImageSide, 16, FitsStack, params, stackChannels(w), true);
        ours = std::min(ours, secondsSince(start));
        start = Clock::now();
        for (std::size_t i = 0; i < names.size(); ++i)
            writeFileAtomically(names[i], contents[i].data(), contents[i].size());
        floor = std::min(floor, secondsSince(start));
        start = Clock::now();
        for (const auto& bytes : contents) writePlainly(plain, bytes, true);
        plainSync = std::min(plainSync, secondsSince(start));
        start = Clock::now();
        for (const auto& bytes : contents) writePlainly(plain, bytes, false);
        plainNoSync = std::min(plainNoSync, secondsSince(start));
        ::sync();  // else the next sync pays for these pages
    }
    state.counters["ours_ms"] = ours * 1e3;
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["plain_sync_ms"] = plainSync * 1e3;
    state.counters["plain_ms"] = plainNoSync * 1e3;
    state.counters["ratio"] = ours / floor;
    for (const auto& name : names) std::filesystem::remove(name);
    std::filesystem::remove(plain);
}
BENCHMARK(WriteColourStackAsThreeFits1024)->Unit(benchmark::kMillisecond)->Iterations(20);

void ReadSixteenBitFitsIntoStackG1024(benchmark::State& state) {
    Workspace& w = stack1024();
    const std::string path = benchFile("frame.fit");
    WriteFits(path, MaxImageSide, MaxImageSide, 16, FitsStack, TFITParams{}, stackChannels(w), false);
    std::vector<std::uint8_t> bytes(std::filesystem::file_size(path));

    double ours = 1e9, floor = 1e9, warm = 1e9, fill = 1e9;
    for (auto _ : state) {
        auto start = Clock::now();
        {
            FitsFile file(path);
            const FitsHeader header = ReadFitsHeader(file);
            readFitsPlane(file, header, w.StackG);
        }
        ours = std::min(ours, secondsSince(start));
        start = Clock::now();
        benchmark::DoNotOptimize(readWholeFile(path, std::size_t{1} << 30).data());
        floor = std::min(floor, secondsSince(start));
        start = Clock::now();
        {
            std::FILE* file = std::fopen(path.c_str(), "rb");
            benchmark::DoNotOptimize(std::fread(bytes.data(), 1, bytes.size(), file));
            std::fclose(file);
        }
        warm = std::min(warm, secondsSince(start));
        start = Clock::now();
        w.StackG.fill(static_cast<float>(state.iterations()));
        fill = std::min(fill, secondsSince(start));
    }
    state.counters["ours_ms"] = ours * 1e3;
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["ratio"] = ours / floor;
    state.counters["warm_read_ms"] = warm * 1e3;
    state.counters["ratio_to_warm_read"] = ours / warm;
    // The plane holds twice the file's bytes: storing it once is a floor too.
    state.counters["fill_plane_ms"] = fill * 1e3;
    state.counters["ratio_to_warm_read_and_fill"] = ours / (warm + fill);
    std::filesystem::remove(path);
}
BENCHMARK(ReadSixteenBitFitsIntoStackG1024)->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace
