#include "app/ui_services.h"

#include <utility>

namespace planexor {

std::vector<std::string> toDialogOrder(std::vector<std::string> files) {
    if (files.size() > 1) std::swap(files.front(), files.back());
    return files;
}

void ScriptedUiServices::showMessage(MessageKind kind, const std::string& text) {
    messages.push_back({kind, text});
}

bool ScriptedUiServices::askYesNo(MessageKind, const std::string& text) {
    questions.push_back(text);
    if (yesNoAnswers.empty()) return defaultYesNo;
    const bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

FileDialogAnswer ScriptedUiServices::runFileDialog(const FileDialogRequest& request) {
    dialogRequests.push_back(request);
    if (dialogAnswers.empty()) return {};
    FileDialogAnswer answer = std::move(dialogAnswers.front());
    dialogAnswers.pop_front();
    return answer;
}

void ScriptedUiServices::queueFiles(std::vector<std::string> files, int filterIndex) {
    FileDialogAnswer answer;
    answer.accepted = true;
    answer.files = toDialogOrder(std::move(files));
    answer.filterIndex = filterIndex;
    dialogAnswers.push_back(std::move(answer));
}

void ScriptedUiServices::processPendingEvents() {
    ++pendingEventCalls;
    if (onProcessEvents) onProcessEvents(pendingEventCalls);
}

}  // namespace planexor
