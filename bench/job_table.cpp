// The one table of `./planexor.sh bench`: the whole batch job of
// `planexor-cli stack --optimize` (open a 500-frame 640x480 uncompressed
// video, align every frame, optimize, stack the best 125, sharpen, save a
// JPG) run once through the window's handlers, each stage timed inside that
// run from the frame loop's progress reports, against the ffmpeg tool and our
// reader decoding the same file in the same run. Then the longest wait
// between two yields to the desktop on a 1024x1024 sequence with box 256.
// Everything here runs on one thread, so the ratios are taken in processor
// time, which a machine busy with other work disturbs far less than the
// wall clock; both are shown.
//   planexor_bench_table [TABLE.md]
// Exits 1 when the work it times did not happen as it should.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <time.h>
#include <vector>

#include "app/main_form.h"
#include "app/ui_services.h"
#include "app/user_settings.h"
#include "core/error.h"
#include "demo/synthetic_planet.h"
#include "input/avi_reader.h"
#include "input/jpeg_codec.h"

namespace {

using namespace planexor;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A point of a run on the wall clock and in this process's processor time.
struct Moment {
    Clock::time_point wall;
    double cpu;
    static Moment now() {
        timespec used{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &used);
        return {Clock::now(), used.tv_sec + used.tv_nsec * 1e-9};
    }
};

struct Cost {
    double wall = 0, cpu = 0;
};

Cost between(const Moment& from, const Moment& to) {
    return {std::chrono::duration<double>(to.wall - from.wall).count(), to.cpu - from.cpu};
}

double childrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void runQuietly(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1 </dev/null").c_str()) != 0)
        throw std::runtime_error("failed: " + command);
}

// Written once per machine and kept in /tmp, as the align benchmarks keep it.
std::string demoVideo(const std::string& directory, int frames, int width, int height) {
    const std::string file = directory + "/planet.avi";
    try {
        AviReader reader(file);
        if (reader.frameCount() == frames && reader.width() == width && reader.height() == height) return file;
    } catch (const std::exception&) {
    }
    DemoOptions options;
    options.directory = directory;
    options.frames = frames;
    options.width = width;
    options.height = height;
    RunProgress quiet;
    writeDemoSequence(options, quiet);
    return file;
}

// The best of five: a loaded machine only ever adds time.
template <class Work>
Cost bestOfFive(Work work) {
    Cost best{1e9, 1e9};
    for (int run = 0; run < 5; ++run) {
        const Cost cost = work();
        best = {std::min(best.wall, cost.wall), std::min(best.cpu, cost.cpu)};
    }
    return best;
}

// The tool's decoding alone, single-threaded: its whole run less its
// start-up (the same command stopped after one frame).
Cost toolDecode(const std::string& video) {
    const auto tool = [&](const std::string& extra) {
        return bestOfFive([&] {
            const Moment start = Moment::now();
            const double before = childrenCpuSeconds();
            runQuietly("ffmpeg -nostdin -threads 1 -i " + video + extra + " -f null -");
            return Cost{between(start, Moment::now()).wall, childrenCpuSeconds() - before};
        });
    };
    const Cost whole = tool(""), startup = tool(" -frames:v 1");
    return {std::max(1e-3, whole.wall - startup.wall), std::max(1e-3, whole.cpu - startup.cpu)};
}

Cost ourDecode(const std::string& video) {
    return bestOfFive([&] {
        const Moment start = Moment::now();
        AviReader reader(video);
        Bitmap24 frame;
        for (int n = 0; n < reader.frameCount(); ++n) reader.decode(n, frame);
        return between(start, Moment::now());
    });
}

// A desktop that keeps, at each yield, the time, the run's title and the gauge.
class RecordingUi : public ScriptedUiServices {
public:
    struct Yield {
        Moment time;
        std::string run;
        int gauge;
    };
    void watch(const TMainForm& form) { form_ = &form; }
    void processPendingEvents() override {
        ScriptedUiServices::processPendingEvents();
        yields.push_back({Moment::now(), form_->control(Control::messagewinlabel).caption(),
                          form_->control(Control::Progressgraph).intValue()});
    }
    std::vector<Yield> yields;

private:
    const TMainForm* form_ = nullptr;
};

constexpr const char* AlignRun = "Alignment processing";
constexpr const char* OptimizeRun = "Optimizing frames";
constexpr const char* StackRun = "Stacking frames";

// One window, scripted as the command line scripts it.
struct Job {
    RecordingUi ui;
    MemoryUserSettings settings;
    TMainForm form{ui, settings};
    std::vector<std::string> faults;

    Job() { ui.watch(form); }

    void check(bool good, const std::string& what) {
        if (!good) faults.push_back(what);
    }
    void checkHandlers(const char* step) {
        check(form.failedHandlers() == 0, std::string(step) + " failed: " +
                                              (ui.messages.empty() ? std::string() : ui.messages.back().text));
    }

    void open(const std::string& video, int featureX, int featureY, int boxItem) {
        ui.queueFiles({video}, 1);
        form.control(Control::SelectFileButton).click();
        checkHandlers("opening");
        form.control(Control::AutoOptimize).setChecked(true);
        form.control(Control::FFTsizeGroup).setItemIndexByUser(boxItem);
        form.control(Control::Followme).setChecked(true);
        form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, featureX, featureY, true);
        check(form.workspace().progstatus >= 1, "the feature click was refused");
    }
    void alignAndOptimize() {
        form.control(Control::Allignallbutton).click();
        checkHandlers("aligning");
        check(form.workspace().progstatus >= 2, "aligning did not finish");
    }
    void stack(int count) {
        form.control(Control::StackSlider).setValueByUser(count - 1);
        form.control(Control::Stackbutton).click();
        checkHandlers("stacking");
        check(form.workspace().progstatus >= 4, "stacking did not finish");
    }
    void sharpen() {
        const double gains[6] = {40, 30, 20, 10, 10, 10};
        for (int layer = 0; layer < 6; ++layer) form.control(GainSliders[layer]).setValueByUser(gains[layer]);
        form.control(Control::ProcessButton).click();
        checkHandlers("sharpening");
    }
    void save(const std::string& path) {
        ui.queueFiles({path}, 4);
        form.control(Control::SaveBMP2button).click();
        checkHandlers("saving");
    }

    // The yields of one run, in order.
    std::vector<RecordingUi::Yield> yieldsOf(const std::string& run) const {
        std::vector<RecordingUi::Yield> of;
        for (const auto& yield : ui.yields)
            if (yield.run == run) of.push_back(yield);
        return of;
    }
};

// Peak resident memory since the last reset, in MB; the reset lets the table
// show the job's peak and not what the measurements before it held.
void resetPeakMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }
double peakMemoryMb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

struct Row {
    std::string stage;
    Cost cost;
    int frames = 0;  // 0: not a run over frames
};

std::string number(double value, const char* format) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// Cancel answers at the next yield: the longest wait between two of them (or
// from the click to the first) is how long the desktop can be kept waiting.
std::map<std::string, Cost> longestWaits(Moment from, const std::vector<RecordingUi::Yield>& yields) {
    std::map<std::string, Cost> longest;
    Moment last = from;
    for (const auto& yield : yields) {
        Cost& worst = longest[yield.run];
        const Cost wait = between(last, yield.time);
        worst = {std::max(worst.wall, wait.wall), std::max(worst.cpu, wait.cpu)};
        last = yield.time;
    }
    return longest;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string markdown = argc > 1 ? argv[1] : "bench-results.md";
    constexpr int Frames = 500, Stacked = 125;
    try {
        std::fprintf(stderr, "Writing the demo videos (once per machine) ...\n");
        const std::string video = demoVideo("/tmp/planexor-bench-align", Frames, 640, 480);
        const std::string large = demoVideo("/tmp/planexor-bench-1024", 40, 1024, 1024);
        const std::string out = (fs::temp_directory_path() / "planexor-bench-job.jpg").string();
        fs::remove(out);

        std::fprintf(stderr, "Decoding with ffmpeg and with our reader ...\n");
        const Cost floor = toolDecode(video);
        const Cost decode = ourDecode(video);

        std::fprintf(stderr, "The job: align %d, optimize, stack %d, sharpen, save ...\n", Frames, Stacked);
        Job job;
        resetPeakMemory();
        const Moment start = Moment::now();
        job.open(video, 320, 240, 1);
        const Moment alignStart = Moment::now();
        job.alignAndOptimize();
        const Moment alignEnd = Moment::now();
        job.stack(Stacked);
        const Moment stackEnd = Moment::now();
        job.sharpen();
        const Moment processEnd = Moment::now();
        job.save(out);
        const Moment end = Moment::now();
        const double peak = peakMemoryMb();

        const auto aligned = job.yieldsOf(AlignRun);
        const auto optimized = job.yieldsOf(OptimizeRun);
        const auto stacked = job.yieldsOf(StackRun);
        // Optimizing begins at its first yield; before it, the align run's clean-up.
        const Moment optimizeStart = optimized.empty() ? alignEnd : optimized.front().time;
        const Cost whole = between(start, end), optimizing = between(optimizeStart, alignEnd);

        // What must have happened for the times to mean anything.
        job.check(static_cast<int>(aligned.size()) == Frames,
                  "aligning yielded " + std::to_string(aligned.size()) + " times for " + std::to_string(Frames) + " frames");
        job.check(!optimized.empty(), "nothing was optimized");
        job.check(static_cast<int>(stacked.size()) == Stacked,
                  "stacking yielded " + std::to_string(stacked.size()) + " times for " + std::to_string(Stacked) + " frames");
        job.check(job.form.stackedCount() == Stacked, "stacked " + std::to_string(job.form.stackedCount()) + " frames");
        for (int count = 1; count <= job.form.stackedCount(); ++count)
            job.check(std::isfinite(job.form.stackQualities()[count]) && job.form.stackQualities()[count] > 0,
                      "no stack quality after " + std::to_string(count) + " frames");
        for (const char* run : {AlignRun, StackRun}) {
            int gauge = 0;
            for (const auto& yield : job.yieldsOf(run)) {
                job.check(yield.gauge >= gauge, std::string("the gauge went back during ") + run);
                gauge = yield.gauge;
            }
        }
        try {
            Bitmap24 written;
            decodeJpegFile(out, written);
            job.check(written.width() == 640 && written.height() == 480, "the picture written is not 640x480");
        } catch (const PlanexorError& error) {
            job.faults.push_back(std::string("the picture was not written: ") + error.what());
        }

        std::fprintf(stderr, "Yields on a 1024x1024 sequence with box 256 ...\n");
        Job gaps;
        gaps.open(large, 512, 512, 2);
        const Moment gapStart = Moment::now();
        gaps.alignAndOptimize();
        const Moment gapStack = Moment::now();
        const std::size_t beforeStack = gaps.ui.yields.size();
        gaps.stack(10);
        auto waits = longestWaits(gapStart, {gaps.ui.yields.begin(), gaps.ui.yields.begin() + beforeStack});
        auto stackWaits = longestWaits(gapStack, {gaps.ui.yields.begin() + beforeStack, gaps.ui.yields.end()});
        waits[StackRun] = stackWaits[StackRun];
        for (const std::string& fault : gaps.faults) job.faults.push_back("1024x1024: " + fault);

        const std::vector<Row> rows = {
            {"ffmpeg decode (floor)", floor, Frames},
            {"our decode", decode, Frames},
            {"align", between(alignStart, optimizeStart), Frames},
            {"optimize (" + std::to_string(optimized.size()) + " frame visits)", optimizing,
             static_cast<int>(optimized.size())},
            {"stack", between(alignEnd, stackEnd), Stacked},
            {"process (sharpen)", between(stackEnd, processEnd)},
            {"save (JPG)", between(processEnd, end)},
            {"whole job", whole, Frames},
            {"whole job less optimize", {whole.wall - optimizing.wall, whole.cpu - optimizing.cpu}, Frames},
        };

        // Frames per second and the ratio to the floor are taken in processor time.
        std::string text = "| stage | wall (s) | CPU (s) | frames/s | x floor |\n|---|---:|---:|---:|---:|\n";
        for (const Row& row : rows) {
            const bool perFrame = row.frames > 0;
            text += "| " + row.stage + " | " + number(row.cost.wall, "%.3f") + " | " + number(row.cost.cpu, "%.3f") +
                    " | " + (perFrame ? number(row.frames / row.cost.cpu, "%.0f") : "-") + " | " +
                    (perFrame ? number(row.cost.cpu / (floor.cpu / Frames * row.frames), "%.2f") : "-") + " |\n";
        }
        text += "\nPeak resident memory of the job: " + number(peak, "%.0f") + " MB\n";
        text += "Longest wait between yields, 1024x1024, box 256 (wall / CPU): ";
        for (const auto& [name, run] : {std::pair{"align", AlignRun}, {"optimize", OptimizeRun}, {"stack", StackRun}})
            text += std::string(name) + " " + number(waits[run].wall * 1e3, "%.0f") + " / " +
                    number(waits[run].cpu * 1e3, "%.0f") + " ms" + (run == StackRun ? "\n" : ", ");
        text += "Checks: " + std::to_string(aligned.size()) + " align yields for " + std::to_string(Frames) +
                " frames, " + std::to_string(stacked.size()) + " stack yields and qualities for " +
                std::to_string(Stacked) + " frames, " + out + (job.faults.empty() ? " written: passed\n" : ": FAILED\n");
        text += "Machine: " + std::to_string(std::thread::hardware_concurrency()) +
                " cores; ffmpeg single-threaded, best of 5; the job run once\n";
        std::fputs(("\n" + text).c_str(), stdout);
        std::ofstream(markdown) << "# Planexor benchmark\n\n" << text;
        for (const std::string& fault : job.faults) std::fprintf(stderr, "FAILED: %s\n", fault.c_str());
        return job.faults.empty() ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "FAILED: %s\n", error.what());
        return 1;
    }
}
