// The gamma curve and wavelet filter windows of the process page.
#include "app/editor_windows.h"

#include "app/main_form.h"
#include "process/gamma_curve.h"

namespace planexor {

EditorWindows::EditorWindows(TMainForm& form) : form_(form) {
    gamma_curve::reset(curve_);
    gamma_curve::drawGraph(curve_, graph_);
}

void EditorWindows::redrawGraph() {
    gamma_curve::drawGraph(curve_, graph_);
    form_.ui().repaint(Control::GammaSplineGraph);
}

// ------------------------------------------------------------ gamma curve

void EditorWindows::GammaSplineGraphMouseDown(int x, int y, MouseButtons buttons) {
    bool changed = false;
    if (buttons.right && !buttons.left && !buttons.ctrl) changed = gamma_curve::insertAt(curve_, x, y);
    else if (buttons.left && buttons.ctrl && !buttons.right) changed = gamma_curve::deleteAt(curve_, x, y);
    if (changed) redrawGraph();
}

void EditorWindows::GammaSplineGraphMouseMove(int x, int y, MouseButtons buttons) {
    if (!buttons.left || buttons.right || buttons.ctrl) return;
    // The curve follows the mouse; the table waits for the release.
    if (gamma_curve::dragTo(curve_, x, y)) redrawGraph();
}

void EditorWindows::GammaSplineGraphMouseUp() {
    gamma_curve::buildTable(curve_, form_.GammaTable);
    form_.ContrastSliderChanged();
}

void EditorWindows::GammaSplineGraphDblClick() {
    gamma_curve::reset(curve_);
    redrawGraph();
    // The picture follows at once: "Reset" brings no mouse release after it.
    GammaSplineGraphMouseUp();
}

void EditorWindows::drawGammaCurve(std::span<const SplinePoint> points) {
    gamma_curve::assign(curve_, points);
    redrawGraph();
}

// ------------------------------------------------------------ wavelet filter

void EditorWindows::Button1Click() {
    form_.markLayersStale();
    std::array<float, 9> weights{};
    for (std::size_t tap = 0; tap < weights.size(); ++tap)
        weights[tap] = static_cast<float>(form_.control(FilterSpins[tap]).value());
    // Weights typed to cancel out may leave a residue of the spins'
    // rounding: a sum under half a step counts as 0.
    const float zeroBelow = static_cast<float>(form_.control(Control::Filter00spin).step() / 2);
    form_.processPage().waveletKernel = normalisedKernel(weights, zeroBelow);
    form_.ProcessButtonClick();
}

void EditorWindows::Button2Click() {
    for (std::size_t tap = 0; tap < FilterSpins.size(); ++tap) form_.control(FilterSpins[tap]).setValue(tap == 4 ? 50 : 6);
    form_.processPage().waveletKernel = WaveletKernel{};
    form_.markLayersStale();
    form_.ProcessButtonClick();
}

void EditorWindows::bindHandlers() {
    form_.bind(Control::Button1, "Button1Click", true, [this] { Button1Click(); });
    form_.bind(Control::Button3, "Button2Click", true, [this] { Button2Click(); });
    // The window's "Reset" does what a double click on the graph does.
    form_.bind(Control::Button2, "GammaSplineGraphDblClick", false, [this] { GammaSplineGraphDblClick(); });
}

}  // namespace planexor
