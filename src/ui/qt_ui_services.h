#pragma once
#include <string>
#include <vector>

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "app/ui_services.h"

namespace planexor {

// The desktop for the handlers: Qt message boxes and file dialogs, the
// application's override cursor, the event loop and the window's widgets.
class QtUiServices : public UiServices {
public:
    // The window dialogs belong to and whose named widgets repaint() finds.
    void setWindow(QWidget* window) { window_ = window; }

    void showMessage(MessageKind kind, const std::string& text) override;
    bool askYesNo(MessageKind kind, const std::string& text) override;
    FileDialogAnswer runFileDialog(const FileDialogRequest& request) override;
    void setCursor(CursorShape shape) override;
    void processPendingEvents() override;
    void waitForEvents() override;
    void repaint(Control control) override;
    void setControlCursor(Control control, CursorShape shape) override;
    void openUrl(const std::string& url) override;

    // The files a dialog returned, in the order the opening handler expects:
    // by name, then as a multiple selection is reported (see toDialogOrder).
    static std::vector<std::string> dialogOrder(const QStringList& chosen);

private:
    QWidget* findControl(Control control) const;

    QPointer<QWidget> window_;
    bool cursorOverridden_ = false;
};

}  // namespace planexor
