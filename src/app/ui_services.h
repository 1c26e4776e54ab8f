#pragma once
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/control_id.h"

namespace planexor {

enum class MessageKind { Information, Warning, Error };
enum class CursorShape { Arrow, Cross, Hourglass, NotAllowed };

struct FileDialogRequest {
    std::string dialog;                // the dialog's name, e.g. "AddBitmapDialog"
    std::vector<std::string> filters;  // "Video (*.avi)", ...
    int filterIndex = 1;               // 1-based, as the dialogs count
    std::string directory;
    std::string fileName;
    std::string defaultExtension;
    bool save = false;
    bool asksBeforeReplacing = false;  // the handler asks itself: the dialog must not ask too
    bool multiple = false;
};

struct FileDialogAnswer {
    bool accepted = false;
    std::vector<std::string> files;  // in the dialog's order: the file clicked last comes first
    int filterIndex = 1;
};

// Everything a handler asks of the desktop. Any other change a user sees goes
// through a control model.
class UiServices {
public:
    virtual ~UiServices() = default;
    virtual void showMessage(MessageKind kind, const std::string& text) = 0;
    virtual bool askYesNo(MessageKind kind, const std::string& text) = 0;
    virtual FileDialogAnswer runFileDialog(const FileDialogRequest& request) = 0;
    virtual void setCursor(CursorShape shape) = 0;
    virtual void processPendingEvents() = 0;
    // Blocks until the desktop has an event, then handles what is pending:
    // a wait for the user's click costs no processor time.
    virtual void waitForEvents() = 0;
    virtual void repaint(Control control) = 0;
    // The pointer's shape over one control; it ends when the pointer leaves it.
    virtual void setControlCursor(Control control, CursorShape shape) = 0;
    // Hands a link (a web page, a "mailto:" mail) to the desktop's handler.
    virtual void openUrl(const std::string& url) = 0;
};

// Puts files in the order the open dialog reports a multiple selection (the
// last of the list first), so that the opening handler, which swaps the first
// and the last entry back, numbers the frames in the given order.
std::vector<std::string> toDialogOrder(std::vector<std::string> files);

// Answers dialogs and questions from queues and keeps every message: the
// tests' desktop, and the base of the CLI's console.
class ScriptedUiServices : public UiServices {
public:
    struct Message {
        MessageKind kind;
        std::string text;
    };

    void showMessage(MessageKind kind, const std::string& text) override;
    bool askYesNo(MessageKind kind, const std::string& text) override;
    FileDialogAnswer runFileDialog(const FileDialogRequest& request) override;
    void setCursor(CursorShape shape) override { cursor = shape; }
    void processPendingEvents() override;
    void waitForEvents() override {
        ++waitCalls;
        processPendingEvents();
    }
    void repaint(Control control) override {
        repaints.push_back(control);
        if (onRepaint) onRepaint(control);
    }
    void setControlCursor(Control control, CursorShape shape) override { controlCursors[control] = shape; }
    void openUrl(const std::string& url) override { openedUrls.push_back(url); }

    void queueDialog(FileDialogAnswer answer) { dialogAnswers.push_back(std::move(answer)); }
    void queueFiles(std::vector<std::string> files, int filterIndex);
    void queueCancel() { dialogAnswers.push_back(FileDialogAnswer{}); }

    std::deque<FileDialogAnswer> dialogAnswers;
    std::deque<bool> yesNoAnswers;  // when empty, questions are answered with defaultYesNo
    bool defaultYesNo = true;
    std::vector<Message> messages;
    std::vector<std::string> questions;
    std::vector<FileDialogRequest> dialogRequests;
    std::vector<Control> repaints;
    std::vector<std::string> openedUrls;
    CursorShape cursor = CursorShape::Arrow;
    std::map<Control, CursorShape> controlCursors;
    int waitCalls = 0;
    int pendingEventCalls = 0;
    // Runs at each processPendingEvents: lets a test press Cancel mid-run.
    std::function<void(int)> onProcessEvents;
    // Runs at each repaint: lets a test fail a run at the step that shows it.
    std::function<void(Control)> onRepaint;
};

}  // namespace planexor
