// Loading still frames into the preview bitmap, and the resident memory of
// a form as the CLI builds it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/main_form.h"
#include "app/user_settings.h"
#include "input/bmp_codec.h"
#include "input/jpeg_codec.h"
#include "input/still_frames.h"

namespace {

using namespace planexor;

Bitmap24 testPicture(int width, int height) {
    Bitmap24 image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image.pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x + y);
            p[1] = static_cast<std::uint8_t>(x * y >> 4);
            p[2] = static_cast<std::uint8_t>(128 + ((x ^ y) & 63));
        }
    return image;
}

std::string benchFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("planexor-bench-" + name)).string();
}

void LoadBmp640x480(benchmark::State& state) {
    const std::string path = benchFile("frame.bmp");
    writeBmpFile(path, testPicture(640, 480));
    Bitmap24 preview;
    preview.reserve(1024, 1024);
    for (auto _ : state) {
        loadStillFrame(path, preview);
        benchmark::DoNotOptimize(preview.data());
    }
    std::filesystem::remove(path);
}
BENCHMARK(LoadBmp640x480)->Unit(benchmark::kMicrosecond);

void LoadJpg640x480(benchmark::State& state) {
    const std::string path = benchFile("frame.jpg");
    writeJpegFile(path, testPicture(640, 480), 90);
    Bitmap24 preview;
    preview.reserve(1024, 1024);
    for (auto _ : state) {
        loadStillFrame(path, preview);
        benchmark::DoNotOptimize(preview.data());
    }
    std::filesystem::remove(path);
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
