#include "app/run_scope.h"

namespace planexor {

RunScope::RunScope(TMainForm& form, const std::string& title, const std::string& detail, bool showWindow)
    : form_(form), showWindow_(showWindow) {
    if (form_.runDepth_++ == 0) form_.lockControlsForRun(true);
    form_.ui().setCursor(CursorShape::Hourglass);
    if (showWindow_) {
        form_.control(Control::messagewinlabel).setCaption(title);
        form_.control(Control::Messagewinlabel2).setCaption(detail);
        form_.control(Control::Progressgraph).setValue(0);
        form_.control(Control::MessageWindow).setVisible(true);
    }
}

RunScope::~RunScope() {
    if (--form_.runDepth_ == 0) form_.lockControlsForRun(false);
    if (showWindow_) form_.control(Control::MessageWindow).setVisible(false);
    form_.ui().setCursor(CursorShape::Arrow);
}

void HandlerProgress::setPercent(int percent) {
    // The gauge never goes back within one run.
    if (percent <= lastPercent_) return;
    lastPercent_ = percent;
    form_.control(Control::Progressgraph).setValue(percent);
    form_.ui().repaint(Control::Progressgraph);
}

void HandlerProgress::yield() { form_.ui().processPendingEvents(); }

bool HandlerProgress::stopRequested() const { return form_.workspace().StopRequested; }

}  // namespace planexor
