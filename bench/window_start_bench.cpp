// Start-up to an idle window, offscreen, with the settings restored: this
// program started as a process that builds the Planexor window against the
// same process building a bare Qt Widgets window, each ending once its event
// loop is idle. Counters: ours_ms and floor_ms are the best times, ratio
// ours over floor.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include "app/ini_user_settings.h"
#include "app/main_form.h"
#include "app/settings_file.h"
#include "app/start_up.h"
#include "ui/main_window.h"
#include "ui/qt_ui_services.h"

namespace {

using namespace planexor;
using Clock = std::chrono::steady_clock;

std::string self;
std::filesystem::path config() { return std::filesystem::temp_directory_path() / "planexor-bench-config"; }

int startWindow(int argc, char** argv, bool planexor) {
    QApplication app(argc, argv);
    QTimer::singleShot(0, &app, &QApplication::quit);
    if (!planexor) {
        QWidget window;
        window.resize(792, 573);
        window.show();
        return QApplication::exec();
    }
    QtUiServices ui;
    IniUserSettings settings((config() / "user.ini").string());
    SettingsFile settingsFile((config() / "planexor.ini").string());
    TMainForm form(ui, settings);
    form.help().directories = {std::filesystem::path(PLANEXOR_SOURCE_DIR) / "data/help"};
    StartUp start(form, settingsFile, config().string());
    start.FormCreate();
    MainWindow window(form);
    ui.setWindow(&window);
    window.show();
    start.FormShow();
    const int status = QApplication::exec();
    start.FormClose();
    return status;
}

double bestStart(const char* which, int runs) {
    double best = 1e9;
    const std::string command = "QT_QPA_PLATFORM=offscreen '" + self + "' --start " + which;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        if (std::system(command.c_str()) != 0) return -1;
        best = std::min(best, std::chrono::duration<double>(Clock::now() - start).count());
    }
    return best;
}

void StartToIdleWindow(benchmark::State& state) {
    std::filesystem::create_directories(config());
    bestStart("planexor", 1);  // the settings files exist from now on: a start restores them
    const double floor = bestStart("bare", 5);
    double best = 1e9;
    for (auto _ : state) best = std::min(best, bestStart("planexor", 1));
    state.counters["ours_ms"] = best * 1e3;
    state.counters["floor_ms"] = floor * 1e3;
    state.counters["ratio"] = best / floor;
    std::filesystem::remove_all(config());
}
BENCHMARK(StartToIdleWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--start") == 0)
        return startWindow(1, argv, std::strcmp(argv[2], "planexor") == 0);
    self = std::filesystem::canonical("/proc/self/exe").string();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
