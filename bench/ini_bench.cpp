// Saving and loading a project-sized INI file (2501 interlaced frames, about
// 25,000 keys) through TBigIniFile, each against the floor of plainly writing,
// or reading and splitting into lines, the same bytes in the same run.
// Counters: ours_ms and floor_ms are the best times, ratio ours over floor;
// atomic_ms is the floor written through the same temporary-and-rename path
// our save uses (with its fsync), for reference.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/big_ini_file.h"
#include "core/file_io.h"

namespace {

using namespace planexor;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 2501;

std::string benchFile(const std::string& name) {
    return (std::filesystem::temp_directory_path() / ("planexor-bench-" + name)).string();
}

std::string numbered(const char* prefix, int i) {
    return prefix + std::to_string(i);
}

// The sections and keys of a stacked, interlaced AVI project in save order.
void writeProject(TBigIniFile& ini) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> shift(-40, 40);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    ini.WriteString("Input", "filetype", "AVI");
    ini.WriteString("Input", "filedir", "/home/observer/planets/2024-03-14 jupiter");
    ini.WriteString("Input", "filename", "jupiter_2024-03-14_2143.avi");
    const char* counters[] = {"sequencelength", "progstatus", "activepage", "usedframes", "refframe", "stackslider",
                              "stackdifslider", "layer1", "layer2", "layer3", "layer4", "layer5", "layer6",
                              "initial", "step", "scaletype", "contrast", "brightness", "hotx", "hoty", "stackx",
                              "stacky"};
    for (const char* key : counters) ini.WriteInteger("Input", key, shift(random) + 100);
    for (int i = 0; i < kFrames; ++i) ini.WriteBool("Input", numbered("Ex", i), i % 17 == 0);
    const auto perFrame = [&](const char* sectionA, const char* keyA, const char* sectionB, const char* keyB,
                              auto write) {
        for (int i = 0; i < kFrames; ++i) {
            write(sectionA, numbered(keyA, i));
            write(sectionB, numbered(keyB, i));
        }
    };
    const auto shiftValue = [&](const char* section, const std::string& key) {
        ini.WriteInteger(section, key, shift(random));
    };
    const auto decimalValue = [&](const char* section, const std::string& key) {
        ini.WriteFloat(section, key, unit(random));
    };
    perFrame("Shifts", "X", "Shifts", "Y", shiftValue);
    perFrame("Info", "D", "Info", "Q", decimalValue);
    perFrame("IShifts", "Xa", "Ishifts", "Ya", shiftValue);  // one section, as the saver writes it
    perFrame("IInfo", "Da", "IInfo", "Qa", decimalValue);
    for (int r = 0; r < kFrames; ++r) ini.WriteInteger("Ranking", numbered("Rank", r), (r * 7919) % kFrames);
    ini.WriteInteger("Form", "FormVersion", 0);
    for (int i = 0; i < 106; ++i) ini.WriteString("Form", numbered("Control", i) + "_Value", i % 2 ? "True" : "1.2");
}

// Every per-frame key read back as the loader reads it.
double readProject(const TBigIniFile& ini) {
    double sum = ini.ReadInteger("Input", "sequencelength", 0);
    for (int i = 0; i < kFrames; ++i) {
        sum += ini.ReadBool("Input", numbered("Ex", i), false);
        sum += ini.ReadInteger("Shifts", numbered("X", i), 0) + ini.ReadInteger("Shifts", numbered("Y", i), 0);
        sum += ini.ReadFloat("Info", numbered("D", i), 0.0f) + ini.ReadFloat("Info", numbered("Q", i), 0.0f);
        sum += ini.ReadInteger("Ishifts", numbered("Xa", i), 0) + ini.ReadInteger("Ishifts", numbered("Ya", i), 0);
        sum += ini.ReadFloat("IInfo", numbered("Da", i), 0.0f) + ini.ReadFloat("IInfo", numbered("Qa", i), 0.0f);
        sum += ini.ReadInteger("Ranking", numbered("Rank", i), 1);
    }
    std::vector<std::string> form;
    ini.ReadSectionValues("Form", form);
    return sum + static_cast<double>(form.size());
}

std::string projectText(const std::string& path) {
    std::filesystem::remove(path);
    TBigIniFile ini(path);
    writeProject(ini);
    ini.UpdateFile();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    std::string text(std::filesystem::file_size(path), '\0');
    const std::size_t read = std::fread(text.data(), 1, text.size(), file);
    std::fclose(file);
    text.resize(read);
    return text;
}

void plainWrite(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
}

std::vector<std::string> readAndSplit(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readWholeFile(path, std::size_t(1) << 30);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const auto newline = std::find(bytes.begin() + static_cast<std::ptrdiff_t>(start), bytes.end(), '\n');
        const std::size_t end = static_cast<std::size_t>(newline - bytes.begin());
        std::size_t stop = end;
        if (stop > start && bytes[stop - 1] == '\r') --stop;
        lines.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                           bytes.begin() + static_cast<std::ptrdiff_t>(stop));
        start = end + 1;
    }
    return lines;
}

template <class Action>
double bestOf(int runs, Action action) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        action();
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

void SaveProject2501Interlaced(benchmark::State& state) {
    const std::string path = benchFile("save.pxp");
    const std::string floorPath = benchFile("save-floor.pxp");
    const std::string text = projectText(path);
    const double floor = bestOf(10, [&] { plainWrite(floorPath, text); });
    const double atomic = bestOf(10, [&] { writeFileAtomically(floorPath, text); });
    double best = 1e9;
    for (auto _ : state) {
        std::filesystem::remove(path);  // a save starts from an empty file
        best = std::min(best, bestOf(1, [&] {
                            TBigIniFile ini(path);
                            writeProject(ini);
                            ini.UpdateFile();
                        }));
    }
    state.counters["ours_ms"] = best * 1e3;
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["atomic_ms"] = atomic * 1e3;
    state.counters["ratio"] = best / floor;
    state.counters["bytes"] = static_cast<double>(text.size());
    std::filesystem::remove(path);
    std::filesystem::remove(floorPath);
}
BENCHMARK(SaveProject2501Interlaced)->Unit(benchmark::kMillisecond)->UseRealTime();

void LoadProject2501Interlaced(benchmark::State& state) {
    const std::string path = benchFile("load.pxp");
    projectText(path);
    const double floor = bestOf(10, [&] { benchmark::DoNotOptimize(readAndSplit(path)); });
    const double open = bestOf(10, [&] { const TBigIniFile ini(path); });
    double best = 1e9;
    for (auto _ : state) {
        best = std::min(best, bestOf(1, [&] {
                            const TBigIniFile ini(path);
                            benchmark::DoNotOptimize(readProject(ini));
                        }));
    }
    state.counters["ours_ms"] = best * 1e3;
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["open_ms"] = open * 1e3;
    state.counters["ratio"] = best / floor;
    std::filesystem::remove(path);
}
BENCHMARK(LoadProject2501Interlaced)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
