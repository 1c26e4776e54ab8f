#include "cli/console_ui.h"

#include <algorithm>
#include <csignal>
#include <unistd.h>

#include "core/pixel.h"

namespace planexor {

void ConsoleUiServices::showMessage(MessageKind kind, const std::string& text) {
    ScriptedUiServices::showMessage(kind, text);
    endBar();
    const char* prefix = kind == MessageKind::Error ? "error: " : kind == MessageKind::Warning ? "warning: " : "";
    std::fprintf(out_, "%s%s\n", prefix, text.c_str());
}

bool ConsoleUiServices::askYesNo(MessageKind kind, const std::string& text) {
    const bool answer = ScriptedUiServices::askYesNo(kind, text);
    endBar();
    std::fprintf(out_, "%s -> %s\n", text.c_str(), answer ? "Yes" : "No");
    return answer;
}

void ConsoleUiServices::followProgress(TMainForm& form) {
    form.control(Control::Progressgraph).addObserver([this, &form](const ControlModel&) { drawBar(form); });
    form.control(Control::MessageWindow).addObserver([this](const ControlModel& window) {
        if (!window.visible()) endBar();
    });
}

namespace {

// A terminal gets a bar redrawn in place; a log file only a line every 25%.
bool drawBarLine(std::FILE* out, const std::string& title, int percent) {
    const bool terminal = ::isatty(::fileno(out));
    if (!terminal && percent % 25 != 0) return false;
    const int filled = std::clamp(percent, 0, 100) * 30 / 100;
    std::fprintf(out, "%s%-24.24s [%s%s] %3d%%%s", terminal ? "\r" : "", title.c_str(),
                 std::string(filled, '#').c_str(), std::string(30 - filled, ' ').c_str(), percent,
                 terminal ? "" : "\n");
    std::fflush(out);
    return terminal;
}

}  // namespace

void ConsoleUiServices::drawBar(const TMainForm& form) {
    const int percent = form.control(Control::Progressgraph).intValue();
    if (!form.control(Control::MessageWindow).visible() || percent == lastPercent_) return;
    lastPercent_ = percent;
    barShown_ = drawBarLine(out_, form.control(Control::messagewinlabel).caption(), percent);
}

namespace {
volatile std::sig_atomic_t interrupted = 0;
extern "C" void noteInterrupt(int) { interrupted = 1; }
}  // namespace

ConsoleBar::ConsoleBar(std::string title, std::FILE* out) : title_(std::move(title)), out_(out) {
    struct sigaction action {};
    action.sa_handler = noteInterrupt;
    action.sa_flags = SA_RESETHAND;  // the second interrupt is the default one
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &before_[0]);
    sigaction(SIGTERM, &action, &before_[1]);
}

ConsoleBar::~ConsoleBar() {
    if (lineOpen_) std::fputc('\n', out_);
    sigaction(SIGINT, &before_[0], nullptr);
    sigaction(SIGTERM, &before_[1], nullptr);
}

bool ConsoleBar::stopRequested() const { return interrupted != 0; }

void ConsoleBar::setPercent(int percent) {
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    lineOpen_ = drawBarLine(out_, title_, percent);
}

void ConsoleUiServices::endBar() {
    if (barShown_) std::fputc('\n', out_);
    barShown_ = false;
    lastPercent_ = -1;
}

}  // namespace planexor
