#pragma once
#include <string>

#include "app/main_form.h"
#include "core/run_progress.h"

namespace planexor {

// One long run of a handler: the hourglass, the progress window with its
// title and detail, and the refusal of other runs until it ends. Clean-up
// runs however the run ends (completed, stopped or failed).
class RunScope {
public:
    RunScope(TMainForm& form, const std::string& title, const std::string& detail, bool showWindow = true);
    ~RunScope();
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;

private:
    TMainForm& form_;
    bool showWindow_;
};

// Binds a run's progress and stop to the progress gauge, the desktop's event
// processing and StopRequested.
class HandlerProgress : public RunProgress {
public:
    explicit HandlerProgress(TMainForm& form) : form_(form) {}
    void setPercent(int percent) override;
    void yield() override;
    bool stopRequested() const override;

private:
    TMainForm& form_;
    int lastPercent_ = -1;
};

}  // namespace planexor
