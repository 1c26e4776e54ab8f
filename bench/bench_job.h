#pragma once
// What the benchmarks that drive the window share: the 500-frame 640x480
// demo video, ffmpeg's decode of it as the floor, and a desktop that only
// answers the open dialog.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "app/ui_services.h"
#include "core/run_progress.h"
#include "demo/synthetic_planet.h"
#include "input/avi_reader.h"

namespace planexor::bench {

using Clock = std::chrono::steady_clock;

constexpr int kDemoFrames = 500;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline void runQuietly(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1 </dev/null").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// The options of the 640x480 demo the benchmarks share.
inline DemoOptions demoOptions(const std::string& directory) {
    DemoOptions options;
    options.directory = directory;
    options.frames = kDemoFrames;
    options.width = 640;
    options.height = 480;
    return options;
}

// The demo video in `directory`, written once per machine and kept.
inline std::string demoVideo(const std::string& directory) {
    const std::string file = directory + "/planet.avi";
    try {
        AviReader reader(file);
        if (reader.frameCount() == kDemoFrames && reader.width() == 640 && reader.height() == 480) return file;
    } catch (const std::exception&) {
    }
    RunProgress quiet;
    writeDemoSequence(demoOptions(directory), quiet);
    return file;
}

// The best of five runs of ffmpeg decoding, single-threaded.
inline double ffmpegSeconds(const std::string& arguments) {
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        const auto start = Clock::now();
        runQuietly("ffmpeg -nostdin -threads 1 " + arguments + " -f null -");
        best = std::min(best, secondsSince(start));
    }
    return best;
}

// Answers the open dialog with `file` and does nothing else, so that only the engine is timed.
class QuietUi : public UiServices {
public:
    explicit QuietUi(std::string file) : file_(std::move(file)) {}
    void showMessage(MessageKind, const std::string& text) override { throw std::runtime_error(text); }
    bool askYesNo(MessageKind, const std::string&) override { return true; }
    FileDialogAnswer runFileDialog(const FileDialogRequest&) override { return {true, {file_}, 1}; }
    void setCursor(CursorShape) override {}
    void processPendingEvents() override {}
    void waitForEvents() override {}
    void repaint(Control) override {}
    void setControlCursor(Control, CursorShape) override {}
    void openUrl(const std::string&) override {}

private:
    std::string file_;
};

}  // namespace planexor::bench
