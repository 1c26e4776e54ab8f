#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "demo/synthetic_planet.h"
#include "support/test_files.h"

namespace planexor::testing {

// The main form with a scripted desktop and settings in memory: what a user
// does, without a window.
struct ScriptedWindow {
    using Mouse = TMainForm::MouseAction;

    // Opens `files` through the open dialog; the filter follows the first
    // file's extension unless given: 1 AVI, 2 BMP, 3 FITS, 4 JPG, 5 SER.
    void open(const std::vector<std::string>& files, int filterIndex = 0) {
        if (filterIndex == 0) {
            const std::string& f = files.front();
            filterIndex = f.ends_with(".avi") ? 1 : f.ends_with(".ser") ? 5 : f.ends_with(".jpg") ? 4
                        : f.ends_with(".fit") || f.ends_with(".fits") ? 3 : 2;
        }
        ui.queueFiles(files, filterIndex);
        form.control(Control::SelectFileButton).click();
    }
    void click(int x, int y) { form.mouseEvent(Control::PreviewImage, Mouse::Down, x, y, true); }
    void alignAll() { form.control(Control::Allignallbutton).click(); }
    // A drag with the left button over the processed picture.
    void drag(int x1, int y1, int x2, int y2) {
        form.mouseEvent(Control::ProcessImage, Mouse::Down, x1, y1, true);
        form.mouseEvent(Control::ProcessImage, Mouse::Move, x2, y2, true);
        form.mouseEvent(Control::ProcessImage, Mouse::Up, x2, y2, true);
    }
    // Answers the save dialog with `path` and presses `button`.
    std::vector<std::string> save(Control button, const std::string& path, int filter) {
        ui.queueFiles({path}, filter);
        form.control(button).click();
        return form.saving().savedFiles();
    }
    // A finished stack as the stacking run leaves it, value(channel, x, y)
    // with channel 0 red; StackMax 255 shows each value as its byte.
    void setStack(int width, int height, const std::function<float(int, int, int)>& value, float top = 255) {
        w.FrameWidth = w.OrigWidth = w.ImageWidth = width;
        w.FrameHeight = w.OrigHeight = w.ImageHeight = height;
        TFloatPlane* planes[] = {&w.StackR, &w.StackG, &w.StackB};
        for (int c = 0; c < 3; ++c)
            for (int x = 0; x < width; ++x)
                for (int y = 0; y < height; ++y) (*planes[c])[x][y] = value(c, x, y);
        w.StackMin = 0;
        w.StackMax = top;
        w.StackReady = true;
        w.StackColour = true;
        w.progstatus = 4;
        form.control(Control::TabSheet4).setVisible(true);
    }
    std::vector<TFrameRec> records(int frames) const { return {w.FrameRecs.begin(), w.FrameRecs.begin() + frames}; }
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

    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form{ui, settings};
    Workspace& w = form.workspace();
};

class FormTest : public ::testing::Test, public ScriptedWindow {
protected:
    // A synthetic planet sequence in `folder`; `options` keeps what made it.
    DemoResult demo(const std::string& folder, int frames, DemoOptions::Format format = DemoOptions::Avi,
                    int width = 320, int height = 240) {
        options.directory = dir.file(folder);
        options.frames = frames;
        options.width = width;
        options.height = height;
        options.format = format;
        RunProgress quiet;
        return writeDemoSequence(options, quiet);
    }

    TempDir dir;
    DemoOptions options;
};

// The command-line program with `arguments`.
inline CommandResult runCli(const std::string& arguments) {
    return runCommand(std::string(PLANEXOR_CLI_PATH) + " " + arguments);
}

}  // namespace planexor::testing
