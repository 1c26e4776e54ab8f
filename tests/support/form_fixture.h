#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "support/test_files.h"

namespace planexor::testing {

// The main form with a scripted desktop and settings in memory: what a user
// does, without a window.
class FormTest : public ::testing::Test {
protected:
    // Opens `files` through the open dialog with filter 1 (AVI), 2 (BMP) or 4 (JPG).
    void open(const std::vector<std::string>& files, int filterIndex) {
        ui.queueFiles(files, filterIndex);
        form.control(Control::SelectFileButton).click();
    }
    // How often the user was shown `text`.
    int timesShown(const std::string& text) const {
        return static_cast<int>(std::count_if(ui.messages.begin(), ui.messages.end(),
                                              [&](const auto& m) { return m.text == text; }));
    }
    std::vector<std::string> errors() const {
        std::vector<std::string> texts;
        for (const auto& m : ui.messages)
            if (m.kind == MessageKind::Error) texts.push_back(m.text);
        return texts;
    }

    TempDir dir;
    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form{ui, settings};
    Workspace& w = form.workspace();
};

}  // namespace planexor::testing
