#pragma once
#include <span>

#include "core/drawing.h"
#include "process/bspline.h"

namespace planexor {

class TMainForm;

// The buttons of a mouse event: for a press or release the button that
// changed, for a move those held; and whether Ctrl was down.
struct MouseButtons {
    bool left = false;
    bool right = false;
    bool ctrl = false;
};

// The process page's two editors in their tool windows: the hand-drawn gamma
// curve (GammaWindow) and the wavelet smoothing kernel (FilterWindow).
class EditorWindows {
public:
    explicit EditorWindows(TMainForm& form);
    void bindHandlers();

    // On GammaSplineGraph: a right press inserts, a Ctrl+left press deletes,
    // a left drag moves a point, a release installs the curve as the gamma
    // table and re-maps, a double click (or "Reset", Button2) restores the
    // default points.
    void GammaSplineGraphMouseDown(int x, int y, MouseButtons buttons);
    void GammaSplineGraphMouseMove(int x, int y, MouseButtons buttons);
    void GammaSplineGraphMouseUp();
    void GammaSplineGraphDblClick();
    // A curve drawn in one go (graph coordinates, as the editor keeps them):
    // the command line's curve. Like a drag, it waits for a release on the
    // graph to reach the gamma table.
    void drawGammaCurve(std::span<const SplinePoint> points);
    const TBSpline& gammaCurve() const { return curve_; }
    const Drawing& gammaGraph() const { return graph_; }

    // "Set" (Button1): the spins, normalised, become the kernel, and the
    // picture is processed again. "Reset" (Button3, whose handler keeps the
    // name Button2Click) restores the spins and the built-in kernel.
    void Button1Click();
    void Button2Click();

private:
    void redrawGraph();

    TMainForm& form_;
    TBSpline curve_;
    Drawing graph_;
};

}  // namespace planexor
