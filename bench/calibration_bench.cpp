// Making a dark frame ("Make Darkframe" over the 500-frame 640x480
// uncompressed demo video, through the form's handlers) against the ffmpeg
// tool decoding the same file in the same run, and loading a 1024 x 1024
// 16-bit FITS flat with its normalisation against reading the file's bytes.
// Counters: ours_ms and the floor's time, best of the iterations, and ratio;
// planes_ms is filling the three flat planes with a constant, the least any
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
#include "input/avi_reader.h"
#include "input/calibration.h"
#include "process/fits_writer.h"

namespace {

using namespace planexor;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 500;
const std::string kDirectory = "/tmp/planexor-bench-align";  // shared with the align benchmark

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const std::string& benchVideo() {
    static const std::string path = [] {
        const std::string file = kDirectory + "/planet.avi";
        try {
            AviReader reader(file);
            if (reader.frameCount() == kFrames && reader.width() == 640 && reader.height() == 480) return file;
        } catch (const std::exception&) {
        }
        DemoOptions options;
        options.directory = kDirectory;
        options.frames = kFrames;
        RunProgress quiet;
        writeDemoSequence(options, quiet);
        return file;
    }();
    return path;
}

// The best of five runs of the tool decoding, single-threaded.
double toolSeconds(const std::string& video) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        if (std::system(("ffmpeg -nostdin -threads 1 -i " + video + " -f null - >/dev/null 2>&1 </dev/null").c_str()))
            throw std::runtime_error("ffmpeg failed on " + video);
        best = std::min(best, secondsSince(start));
    }
    return best;
}

// A desktop that answers the open dialog with the bench video and does nothing else.
class QuietUi : public UiServices {
public:
    void showMessage(MessageKind, const std::string& text) override { throw std::runtime_error(text); }
    bool askYesNo(MessageKind, const std::string&) override { return true; }
    FileDialogAnswer runFileDialog(const FileDialogRequest&) override { return {true, {benchVideo()}, 1}; }
    void setCursor(CursorShape) override {}
    void processPendingEvents() override {}
    void waitForEvents() override {}
    void repaint(Control) override {}
    void setControlCursor(Control, CursorShape) override {}
    void openUrl(const std::string&) override {}
};

// Arg 0: grey, as make-dark makes it; 1: in colour.
void MakeDarkFrom500Frames(benchmark::State& state) {
    const std::string& video = benchVideo();
    const double tool = toolSeconds(video);
    QuietUi ui;
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
    double ours = 1e9, floor = 1e9, planes = 1e9;
    for (auto _ : state) {
        auto start = Clock::now();
        for (TFloatPlane* plane : {&w.FlatR, &w.FlatG, &w.FlatB}) plane->fill(1.0f);
        benchmark::ClobberMemory();
        planes = std::min(planes, secondsSince(start));
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
    // What writing the three planes alone costs, whatever the file holds.
    state.counters["planes_ms"] = planes * 1e3;
    state.counters["ratio"] = ours / floor;
}
BENCHMARK(LoadFlat1024)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

}  // namespace
