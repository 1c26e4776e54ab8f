#pragma once
#include <csignal>
#include <cstdio>
#include <string>

#include "app/main_form.h"
#include "app/ui_services.h"
#include "core/run_progress.h"

namespace planexor {

// The CLI's desktop: messages go to stderr, dialogs are answered from the
// command line, questions get a fixed answer (Yes unless the command says
// otherwise), and the progress window becomes a bar on stderr.
class ConsoleUiServices : public ScriptedUiServices {
public:
    explicit ConsoleUiServices(std::FILE* out = stderr) : out_(out) {}

    void showMessage(MessageKind kind, const std::string& text) override;
    bool askYesNo(MessageKind kind, const std::string& text) override;

    // Draws the progress window of this form as a bar.
    void followProgress(TMainForm& form);

private:
    void drawBar(const TMainForm& form);
    void endBar();

    std::FILE* out_;
    bool barShown_ = false;
    int lastPercent_ = -1;
};

// A progress bar on stderr for work that runs outside the window's handlers.
// An interrupt (Ctrl-C, SIGTERM) asks that work to stop, so that it can take
// away what it had begun to write; a second one ends the program at once.
class ConsoleBar : public RunProgress {
public:
    ConsoleBar(std::string title, std::FILE* out = stderr);
    ~ConsoleBar() override;
    void setPercent(int percent) override;
    bool stopRequested() const override;

private:
    std::string title_;
    std::FILE* out_;
    int lastPercent_ = -1;
    bool lineOpen_ = false;
    struct sigaction before_[2] = {};  // SIGINT's and SIGTERM's, given back at the end
};

}  // namespace planexor
