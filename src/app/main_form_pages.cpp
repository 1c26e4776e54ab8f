// The page flow, the tool windows that follow it, and desktop events.
#include <algorithm>
#include <array>

#include "app/main_form.h"
#include "core/pixel.h"

namespace planexor {
namespace {

struct ToolWindowRule {
    const char* window;
    const char* checkBox;  // shows the window, unchecked when it is closed
    int page;              // the page it belongs to, or -1
    const char* leftKey;   // user settings "Toolwin" values written on a move
    const char* topKey;
};

constexpr std::array<ToolWindowRule, 10> ToolWindowRules = {{
    {"FFTWindow", "ShowFFTbox", 1, "FFTleft", "FFTTop"},
    {"Propertywindow", "Showgraphbox", 1, "Propleft", "PropTop"},
    {"SelectFrameswindow", "ShowFramelist", 0, "Frameleft", "FrameTop"},
    {"Stackframeswindow", "Stacklist", 2, nullptr, nullptr},
    {"FilterWindow", "Filtercheckbox", 3, nullptr, nullptr},
    {"GammaWindow", "Gammawin", 3, nullptr, nullptr},
    {"HistoWindow", "Histowin", 3, nullptr, nullptr},
    {"HintWindow", nullptr, -1, "Hintleft", "HintTop"},
    {"MessageWindow", nullptr, -1, "Messleft", "MessTop"},
    {"Shrinkview", nullptr, -1, nullptr, nullptr},
}};

const ToolWindowRule* ruleFor(std::string_view window) {
    for (const auto& rule : ToolWindowRules)
        if (window == rule.window) return &rule;
    return nullptr;
}

}  // namespace

void TMainForm::bindPageHandlers() {
    bind("PageControl1", "PageControl1Change", false, [this] { PageControl1Change(); });
    for (const auto& rule : ToolWindowRules) {
        if (!rule.checkBox) continue;
        const std::string box = rule.checkBox;
        const std::string window = rule.window;
        bind(box, box + "Click", false, [this, box, window] {
            const bool show = control(box).checked();
            control(window).setVisible(show);
            if (box == "ShowFFTbox") control("AlignOneBUtton").setVisible(show);
            if (box == "Histowin" && !runInProgress()) HistowinClick();
        });
    }
}

void TMainForm::PageControl1Change() {
    const int page = control("PageControl1").itemIndex();
    for (const auto& rule : ToolWindowRules)
        if (rule.checkBox) control(rule.window).setVisible(page == rule.page && control(rule.checkBox).checked());

    Workspace& w = *workspace_;
    if (page == 0 && sequenceOpenedThisRun_ && w.SequenceOpen) control("PreviewSlider").setValueByUser(0);
    const char* stillCaption = w.JpegFrames ? "Planexor processing JPG: " : "Planexor processing BMP: ";
    if (page == 0 && w.StillFrames && w.SequenceOpen)
        setCaption(stillCaption + w.FrameFiles[control("PreviewSlider").intValue()]);
    if (page == 2 && w.StillFrames && w.SequenceOpen) {
        const int rank = std::clamp(control("StackSlider").intValue(), 0, LastFrameNumber);
        setCaption(stillCaption + w.FrameFiles[std::clamp(w.Ranking[rank].Frame, 0, LastFrameNumber)]);
    }
    if (page == 3) TabSheet4Enter();
}

void TMainForm::keyDown(std::string_view controlName, int key, bool ctrl) {
    if (controlName == "PreviewSlider")
        dispatch("PreviewSliderKeyDown", true, [this, key] { PreviewSliderKeyDown(key); });
    if (controlName == "ContrastSlider")
        dispatch("ContrastSliderKeyDown", true, [this, key, ctrl] { ContrastSliderKeyDown(key, ctrl); });
    if (controlName == "BrightnessSlider")
        dispatch("BrightnessSliderKeyDown", true, [this, key, ctrl] { BrightnessSliderKeyDown(key, ctrl); });
}

void TMainForm::mouseEvent(std::string_view controlName, MouseAction action, int x, int y, bool leftButton) {
    if (controlName == "PreviewImage") {
        // A click decodes the frame and builds the reference: never under a running loop.
        if (action == MouseAction::Move)
            dispatch("PreviewImageMouseMove", false, [this, x, y] { PreviewImageMouseMove(x, y); });
        else if (action == MouseAction::Down)
            dispatch("PreviewImageMouseDown", true, [this, x, y] { PreviewImageMouseDown(x, y); });
    }
    if (controlName == "AlignImage") {
        // The realign click is awaited inside a run.
        if (action == MouseAction::Move)
            dispatch("AlignImageMouseMove", false, [this, x, y] { AlignImageMouseMove(x, y); });
        else if (action == MouseAction::Down)
            dispatch("AlignImageMouseDown", false, [this, x, y] { AlignImageMouseDown(x, y); });
    }
    if (controlName == "StackImage") {
        // A click may decode the cut-off frame, so it waits for a running loop.
        if (action == MouseAction::Move)
            dispatch("StackImageMouseMove", false, [this, x, y] { StackImageMouseMove(x, y); });
        else if (action == MouseAction::Down)
            dispatch("StackImageMouseDown", true, [this, x, y] { StackImageMouseDown(x, y); });
    }
    if (controlName == "ProcessImage") {
        // Letting go of a box may re-map and process.
        if (action == MouseAction::Down)
            dispatch("ProcessImageMouseDown", true, [this, x, y] { ProcessImageMouseDown(x, y); });
        else if (action == MouseAction::Move)
            dispatch("ProcessImageMouseMove", true,
                     [this, x, y, leftButton] { ProcessImageMouseMove(x, y, leftButton); });
        else
            dispatch("ProcessImageMouseUp", true, [this] { ProcessImageMouseUp(); });
    }
    if (controlName == "Histograph" && action == MouseAction::Move)
        dispatch("HistographMouseMove", false, [this, x, y, leftButton] { HistographMouseMove(x, y, leftButton); });
    // Holding a layer button shows that layer; letting go restores the picture.
    if (controlName.starts_with("layer") && controlName.ends_with("button") && controlName.size() == 12) {
        const int layer = controlName[5] - '0';
        const std::string name(controlName);
        if (action == MouseAction::Down)
            dispatch(name + "MouseDown", false, [this, layer] { layerbuttonMouseDown(layer); });
        else if (action == MouseAction::Up)
            dispatch(name + "MouseUp", false, [this, layer] { layerbuttonMouseUp(layer); });
    }
}

void TMainForm::toolWindowMoved(std::string_view window, int left, int top) {
    control(window).setPosition(left, top);
    const ToolWindowRule* rule = ruleFor(window);
    if (!recordWindowPlaces_ || !rule || !rule->leftKey) return;
    settings_.writeInteger("Toolwin", rule->topKey, top);
    settings_.writeInteger("Toolwin", rule->leftKey, left);
}

void TMainForm::toolWindowResized(std::string_view window, int width, int height) {
    if (window == "Shrinkview")
        dispatch("ShrinkviewResize", true, [this, width, height] { ShrinkviewResize(width, height); });
    if (!recordWindowPlaces_ || window != "HintWindow") return;
    settings_.writeInteger("Toolwin", "Hintheight", height);
    settings_.writeInteger("Toolwin", "Hintwidth", width);
}

void TMainForm::toolWindowClosed(std::string_view window) {
    control(window).setVisible(false);
    if (const ToolWindowRule* rule = ruleFor(window); rule && rule->checkBox) control(rule->checkBox).setChecked(false);
}

}  // namespace planexor
