// The page flow, the tool windows that follow it, and desktop events.
#include <algorithm>
#include <array>
#include <optional>

#include "app/main_form.h"
#include "core/pixel.h"

namespace planexor {
namespace {

struct ToolWindowRule {
    Control window;
    std::optional<Control> checkBox;  // shows the window, unchecked when it is closed
    int page;              // the page it belongs to, or -1
    const char* leftKey;   // user settings "Toolwin" values written on a move
    const char* topKey;
};

constexpr std::array<ToolWindowRule, 10> ToolWindowRules = {{
    {Control::FFTWindow, Control::ShowFFTbox, 1, "FFTleft", "FFTTop"},
    {Control::Propertywindow, Control::Showgraphbox, 1, "Propleft", "PropTop"},
    {Control::SelectFrameswindow, Control::ShowFramelist, 0, "Frameleft", "FrameTop"},
    {Control::Stackframeswindow, Control::Stacklist, 2, nullptr, nullptr},
    {Control::FilterWindow, Control::Filtercheckbox, 3, nullptr, nullptr},
    {Control::GammaWindow, Control::Gammawin, 3, nullptr, nullptr},
    {Control::HistoWindow, Control::Histowin, 3, nullptr, nullptr},
    {Control::HintWindow, std::nullopt, -1, "Hintleft", "HintTop"},
    {Control::MessageWindow, std::nullopt, -1, "Messleft", "MessTop"},
    {Control::Shrinkview, std::nullopt, -1, nullptr, nullptr},
}};

const ToolWindowRule* ruleFor(Control window) {
    for (const auto& rule : ToolWindowRules)
        if (window == rule.window) return &rule;
    return nullptr;
}

}  // namespace

void TMainForm::bindPageHandlers() {
    bind(Control::PageControl1, "PageControl1Change", false, [this] { PageControl1Change(); });
    for (const auto& rule : ToolWindowRules) {
        if (!rule.checkBox) continue;
        const Control box = *rule.checkBox;
        const Control window = rule.window;
        bind(box, std::string(controlName(box)) + "Click", false, [this, box, window] {
            const bool show = control(box).checked();
            control(window).setVisible(show);
            if (box == Control::ShowFFTbox) control(Control::AlignOneBUtton).setVisible(show);
            if (box == Control::Histowin && !runInProgress()) HistowinClick();
        });
    }
}

void TMainForm::PageControl1Change() {
    const int page = control(Control::PageControl1).itemIndex();
    for (const auto& rule : ToolWindowRules)
        if (rule.checkBox) control(rule.window).setVisible(page == rule.page && control(*rule.checkBox).checked());

    Workspace& w = *workspace_;
    if (page == 0 && sequenceOpenedThisRun_ && w.SequenceOpen) control(Control::PreviewSlider).setValueByUser(0);
    // Runs and the stack page decode other frames into the preview bitmap:
    // the page shows the frame its slider names.
    if (page == 0 && w.SequenceOpen && !w.SingleImage && w.CurrentFrame != control(Control::PreviewSlider).intValue())
        PreviewSliderChange();
    const char* stillCaption = w.JpegFrames ? "Planexor processing JPG: " : "Planexor processing BMP: ";
    if (page == 0 && w.StillFrames && w.SequenceOpen)
        setCaption(stillCaption + w.FrameFiles[control(Control::PreviewSlider).intValue()]);
    if (page == 2 && w.StillFrames && w.SequenceOpen) {
        const int rank = std::clamp(control(Control::StackSlider).intValue(), 0, LastFrameNumber);
        setCaption(stillCaption + w.FrameFiles[std::clamp(w.Ranking[rank].Frame, 0, LastFrameNumber)]);
    }
    if (page == 3) TabSheet4Enter();
    if (control(Control::HintWindow).visible()) help_->showPanel(page + 1);
}

void TMainForm::keyDown(Control controlName, int key, bool ctrl) {
    if (controlName == Control::PreviewSlider)
        dispatch("PreviewSliderKeyDown", true, [this, key] { PreviewSliderKeyDown(key); });
    if (controlName == Control::ContrastSlider)
        dispatch("ContrastSliderKeyDown", true, [this, key, ctrl] { ContrastSliderKeyDown(key, ctrl); });
    if (controlName == Control::BrightnessSlider)
        dispatch("BrightnessSliderKeyDown", true, [this, key, ctrl] { BrightnessSliderKeyDown(key, ctrl); });
}

void TMainForm::mouseEvent(Control controlName, MouseAction action, int x, int y, MouseButtons buttons) {
    const bool leftButton = buttons.left;
    if (controlName == Control::PreviewImage) {
        // A click decodes the frame and builds the reference: never under a running loop.
        if (action == MouseAction::Move)
            dispatch("PreviewImageMouseMove", false, [this, x, y] { PreviewImageMouseMove(x, y); });
        else if (action == MouseAction::Down)
            dispatch("PreviewImageMouseDown", true, [this, x, y] { PreviewImageMouseDown(x, y); });
    }
    if (controlName == Control::AlignImage) {
        // The realign click is awaited inside a run.
        if (action == MouseAction::Move)
            dispatch("AlignImageMouseMove", false, [this, x, y] { AlignImageMouseMove(x, y); });
        else if (action == MouseAction::Down)
            dispatch("AlignImageMouseDown", false, [this, x, y] { AlignImageMouseDown(x, y); });
    }
    if (controlName == Control::StackImage) {
        // A click may decode the cut-off frame, so it waits for a running loop.
        if (action == MouseAction::Move)
            dispatch("StackImageMouseMove", false, [this, x, y] { StackImageMouseMove(x, y); });
        else if (action == MouseAction::Down)
            dispatch("StackImageMouseDown", true, [this, x, y] { StackImageMouseDown(x, y); });
    }
    if (controlName == Control::ProcessImage) {
        // Letting go of a box may re-map and process.
        if (action == MouseAction::Down)
            dispatch("ProcessImageMouseDown", true, [this, x, y] { ProcessImageMouseDown(x, y); });
        else if (action == MouseAction::Move)
            dispatch("ProcessImageMouseMove", true,
                     [this, x, y, leftButton] { ProcessImageMouseMove(x, y, leftButton); });
        else if (action == MouseAction::Up)
            dispatch("ProcessImageMouseUp", true, [this] { ProcessImageMouseUp(); });
    }
    if (controlName == Control::GammaSplineGraph) {
        // Editing only draws; the release re-maps the picture.
        EditorWindows& editor = *editors_;
        if (action == MouseAction::Down)
            dispatch("GammaSplineGraphMouseDown", false,
                     [&editor, x, y, buttons] { editor.GammaSplineGraphMouseDown(x, y, buttons); });
        else if (action == MouseAction::Move)
            dispatch("GammaSplineGraphMouseMove", false,
                     [&editor, x, y, buttons] { editor.GammaSplineGraphMouseMove(x, y, buttons); });
        else if (action == MouseAction::Up)
            dispatch("GammaSplineGraphMouseUp", true, [&editor] { editor.GammaSplineGraphMouseUp(); });
        else
            dispatch("GammaSplineGraphDblClick", false, [&editor] { editor.GammaSplineGraphDblClick(); });
    }
    if (controlName == Control::Histograph && action == MouseAction::Move)
        dispatch("HistographMouseMove", false, [this, x, y, leftButton] { HistographMouseMove(x, y, leftButton); });
    // Holding a layer button shows that layer; letting go restores the picture.
    if (const auto held = std::find(LayerButtons.begin(), LayerButtons.end(), controlName);
        held != LayerButtons.end()) {
        const int layer = static_cast<int>(held - LayerButtons.begin()) + 1;
        const std::string name(planexor::controlName(controlName));
        if (action == MouseAction::Down)
            dispatch(name + "MouseDown", false, [this, layer] { layerbuttonMouseDown(layer); });
        else if (action == MouseAction::Up)
            dispatch(name + "MouseUp", false, [this, layer] { layerbuttonMouseUp(layer); });
    }
}

void TMainForm::listEvent(Control list, ListAction action) {
    if (list != Control::SelectFramesChecklist && list != Control::StackFramesList) return;
    const bool frames = list == Control::SelectFramesChecklist;
    const std::string name(controlName(list));
    switch (action) {
        case ListAction::Click: control(list).click(); break;
        case ListAction::ClickCheck:
            dispatch(name + "ClickCheck", true, [this, frames] {
                frames ? lists_->SelectFramesChecklistClickCheck() : lists_->StackFramesListClickCheck();
            });
            break;
        case ListAction::DblClick:
            dispatch(name + "DblClick", true, [this, frames] {
                frames ? lists_->SelectFramesChecklistDblClick() : lists_->StackFramesListDblClick();
            });
            break;
    }
}

void TMainForm::toolWindowMoved(Control window, int left, int top) {
    control(window).setPosition(left, top);
    const ToolWindowRule* rule = ruleFor(window);
    if (!recordWindowPlaces_ || !rule || !rule->leftKey) return;
    settings_.writeInteger("Toolwin", rule->topKey, top);
    settings_.writeInteger("Toolwin", rule->leftKey, left);
}

void TMainForm::toolWindowResized(Control window, int width, int height) {
    if (window == Control::Shrinkview)
        dispatch("ShrinkviewResize", true, [this, width, height] { ShrinkviewResize(width, height); });
    if (!recordWindowPlaces_ || window != Control::HintWindow) return;
    settings_.writeInteger("Toolwin", "Hintheight", height);
    settings_.writeInteger("Toolwin", "Hintwidth", width);
}

void TMainForm::toolWindowClosed(Control window) {
    control(window).setVisible(false);
    if (const ToolWindowRule* rule = ruleFor(window); rule && rule->checkBox) control(*rule->checkBox).setChecked(false);
}

}  // namespace planexor
