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
#include "input/avi_reader.h"
#include "input/bmp_codec.h"
#include "input/frame_list_file.h"

namespace {

using namespace planexor;
using Clock = std::chrono::steady_clock;

constexpr int kFrames = 500;
const std::string kDirectory = "/tmp/planexor-bench-optimize";

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

const std::string& benchVideo() {
    static const std::string path = [] {
        const std::string file = kDirectory + "/planet.avi";
        try {
            AviReader reader(file);
            if (reader.frameCount() == kFrames && reader.width() == 640) return file;
        } catch (const std::exception&) {
        }
        DemoOptions options;
        options.directory = kDirectory;
        options.frames = kFrames;
        options.width = 640;
        options.height = 480;
        RunProgress quiet;
        writeDemoSequence(options, quiet);
        return file;
    }();
    return path;
}

double toolSeconds(const std::string& arguments) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        if (std::system(("ffmpeg -nostdin -threads 1 " + arguments + " -f null - >/dev/null 2>&1 </dev/null").c_str()) != 0)
            throw std::runtime_error("ffmpeg failed");
        best = std::min(best, secondsSince(start));
    }
    return best;
}

class QuietUi : public UiServices {
public:
    std::string file;
    void showMessage(MessageKind, const std::string& text) override { throw std::runtime_error(text); }
    bool askYesNo(MessageKind, const std::string&) override { return true; }
    FileDialogAnswer runFileDialog(const FileDialogRequest&) override { return {true, {file}, 1}; }
    void setCursor(CursorShape) override {}
    void processPendingEvents() override {}
    void waitForEvents() override {}
    void repaint(Control) override {}
    void setControlCursor(Control, CursorShape) override {}
    void openUrl(const std::string&) override {}
};

void OptimizePass(benchmark::State& state) {
    const std::string& video = benchVideo();
    const double tool = toolSeconds("-i " + video);
    const double startup = toolSeconds("-i " + video + " -frames:v 1");
    QuietUi ui;
    ui.file = video;
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
    QuietUi ui;
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
