#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "process/gamma_curve.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

// The process page over a stack made by hand; StackMax 255 shows each stack
// value as its byte.
class EditorWindows : public testing::FormTest {
protected:
    void stack(int width, int height, const std::function<float(int, int)>& value) {
        setStack(width, height, [&](int, int x, int y) { return value(x, y); });
        form.control(Control::PageControl1).setItemIndexByUser(3);
    }
    const Bitmap24& shown() const { return *form.findImage(Control::ProcessImage); }
    void graph(Mouse action, int x, int y, MouseButtons buttons) {
        form.mouseEvent(Control::GammaSplineGraph, action, x, y, buttons);
    }
    GammaCurve tableOfCurve() const {
        GammaCurve table;
        gamma_curve::buildTable(form.editors().gammaCurve(), table);
        return table;
    }
    void setKernelSpins(const std::array<double, 9>& weights) {
        for (std::size_t tap = 0; tap < 9; ++tap) form.control(FilterSpins[tap]).setValueByUser(weights[tap]);
    }
    const WaveletKernel& kernel() const { return form.processPage().waveletKernel; }
};

const MouseButtons Left{true, false, false}, Right{false, true, false}, CtrlLeft{true, false, true};

TEST_F(EditorWindows, TheCurveFollowsTheMouseAndReachesThePictureAtEachRelease) {
    stack(64, 48, [](int x, int y) { return static_cast<float>((x * 3 + y * 5) % 256); });
    form.control(Control::Gammawin).setCheckedByUser(true);
    EXPECT_TRUE(form.control(Control::GammaWindow).visible());
    const Bitmap24 straight = shown();
    const GammaCurve power = form.GammaTable;

    graph(Mouse::Down, 64, 215, Right);  // inserts a point below the diagonal: darker shadows
    graph(Mouse::Down, 100, 150, {false, true, true});  // right with Ctrl: nothing
    EXPECT_EQ(form.editors().gammaCurve().count(), 4);
    graph(Mouse::Move, 70, 225, Left);  // a drag redraws only
    EXPECT_EQ(form.editors().gammaCurve().point(2), (SplinePoint{70, 225}));
    EXPECT_EQ(form.GammaTable.values, power.values);
    graph(Mouse::Up, 70, 225, Left);
    EXPECT_EQ(form.GammaTable.values, tableOfCurve().values);
    EXPECT_NE(shown(), straight);
    EXPECT_LT(shown().pixel(10, 4)[1], straight.pixel(10, 4)[1]);

    // What the window paints: the ruled graph, the curve, a red circle per point.
    const Drawing& drawn = form.overlay(Control::GammaSplineGraph);
    EXPECT_TRUE(drawn.background);
    EXPECT_EQ(drawn.width, 256);
    EXPECT_EQ(std::count_if(drawn.lines.begin(), drawn.lines.end(),
                            [](const DrawnLine& l) { return l.colour == drawing_colour::Silver; }), 13);
    EXPECT_EQ(drawn.ellipses.size(), 4u);
    EXPECT_EQ(drawn.ellipses[1], (DrawnEllipse{drawing_colour::Red, 68, 223, 72, 227}));

    graph(Mouse::Down, 72, 228, CtrlLeft);  // deletes the inner point it is near
    EXPECT_EQ(form.editors().gammaCurve().count(), 3);
    graph(Mouse::Down, 64, 215, Right);
    graph(Mouse::DoubleClick, 30, 30, Left);  // back to the three default points
    graph(Mouse::Up, 30, 30, Left);
    EXPECT_EQ(form.editors().gammaCurve().count(), 3);
    EXPECT_EQ(form.GammaTable.values, tableOfCurve().values);
    graph(Mouse::Down, 64, 215, Right);
    form.control(Control::Button2).click();  // the window's Reset: as a double click
    EXPECT_EQ(form.editors().gammaCurve().count(), 3);

    // The spin, changed later, is in force again; the curve stays drawn.
    form.control(Control::Gamma1spin).setValueByUser(1.5);
    GammaCurve spin;
    spin.build(1.5);
    EXPECT_EQ(form.GammaTable.values, spin.values);
}

TEST_F(EditorWindows, SetNormalisesTheSpinsAndResetRestoresTheBuiltInKernel) {
    stack(32, 32, [](int x, int y) { return static_cast<float>(x * 7 + y); });
    form.control(Control::Filtercheckbox).setCheckedByUser(true);
    EXPECT_TRUE(form.control(Control::FilterWindow).visible());
    EXPECT_EQ(kernel(), WaveletKernel{});  // the spins do not count until Set

    form.control(Control::Button1).click();
    EXPECT_FLOAT_EQ(kernel().taps[0], 6.0f / 98.0f);
    EXPECT_FLOAT_EQ(kernel().taps[4], 50.0f / 98.0f);
    EXPECT_EQ(form.lastProcessingStage(), ProcessingCache::Stage::Decomposition);

    // Weights that cancel up to the spins' rounding are used as typed.
    setKernelSpins({0.1, 0.2, -0.3, 0, 0, 0, 0, 0, 0});
    form.control(Control::Button1).click();
    EXPECT_FLOAT_EQ(kernel().taps[1], 0.2f);  // divided by the residue it would be ~1e7

    form.control(Control::Button3).click();
    EXPECT_EQ(kernel(), WaveletKernel{});
    EXPECT_EQ(form.control(Control::Filter00spin).value(), 6);
    EXPECT_EQ(form.control(Control::Filter11spin).value(), 50);
    EXPECT_EQ(form.lastProcessingStage(), ProcessingCache::Stage::Decomposition);
}

// One tap at a time: the tap that reads (x + dx r, y + dy r) moves an impulse
// by (-dx r, -dy r) in the smoothed picture, which is what shows with layer 1
// off. Spins named column then row: a transposed grid moves it the wrong way.
TEST_F(EditorWindows, EachSpinIsTheTapItsNameSays) {
    const int at = 10;
    stack(21, 21, [](int x, int y) { return x == at && y == at ? 255.0f : 0.0f; });
    form.control(Control::CheckBox5).setCheckedByUser(false);
    for (int tap = 0; tap < 9; ++tap) {
        std::array<double, 9> weights{};
        weights[tap] = 1;
        setKernelSpins(weights);
        form.control(Control::Button1).click();
        const std::string name(controlName(FilterSpins[tap]));
        const int column = name[6] - '0', row = name[7] - '0';  // FilterCRspin
        EXPECT_EQ(shown().pixel(at - (column - 1), at - (row - 1))[1], 255) << name;
    }
    // All taps 0: nothing is smoothed, so layer 1 holds the whole stack.
    setKernelSpins({});
    form.control(Control::Button1).click();
    EXPECT_EQ(shown().pixel(at, at)[1], 0);
    form.control(Control::CheckBox5).setCheckedByUser(true);
    EXPECT_EQ(shown().pixel(at, at)[1], 255);
}

}  // namespace
}  // namespace planexor
