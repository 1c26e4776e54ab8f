// Loading still frames into the preview bitmap, and the resident memory of
// a form as the CLI builds it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_pictures.h"
#include "app/main_form.h"
#include "app/user_settings.h"
#include "input/bmp_codec.h"
#include "input/jpeg_codec.h"
#include "input/still_frames.h"

namespace {

using namespace planexor;

using bench::testPicture;

std::string benchFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("planexor-bench-" + name)).string();
}

// Loads a 640x480 frame written by `write` into a preview bitmap, over and over.
void loadStillFrame640x480(benchmark::State& state, const std::string& name,
                           void (*write)(const std::string&, const Bitmap24&)) {
    const std::string path = benchFile(name);
    write(path, testPicture(640, 480));
    Bitmap24 preview;
    preview.reserve(1024, 1024);
    for (auto _ : state) {
        loadStillFrame(path, preview);
        benchmark::DoNotOptimize(preview.data());
    }
    std::filesystem::remove(path);
}

void LoadBmp640x480(benchmark::State& state) {
    loadStillFrame640x480(state, "frame.bmp", [](const std::string& path, const Bitmap24& image) {
        writeBmpFile(path, image);
    });
}
BENCHMARK(LoadBmp640x480)->Unit(benchmark::kMicrosecond);

void LoadJpg640x480(benchmark::State& state) {
    loadStillFrame640x480(state, "frame.jpg", [](const std::string& path, const Bitmap24& image) {
        writeJpegFile(path, image, 90);
    });
}
BENCHMARK(LoadJpg640x480)->Unit(benchmark::kMicrosecond);

long residentKilobytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return -1;
}

// The fixed arrays of a form, as `planexor-cli info` allocates them.
void FormResidentMemory(benchmark::State& state) {
    for (auto _ : state) {
        ScriptedUiServices ui;
        MemoryUserSettings settings;
        TMainForm form(ui, settings);
        benchmark::DoNotOptimize(&form);
        state.counters["VmHWM_MB"] = static_cast<double>(residentKilobytes("VmHWM:")) / 1024.0;
    }
}
BENCHMARK(FormResidentMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
