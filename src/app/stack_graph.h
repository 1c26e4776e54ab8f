#pragma once
#include <array>
#include <string>
#include <vector>

#include "align/registration.h"
#include "core/workspace.h"

namespace planexor {

// The stack graph as data: what the window paints on StackGraph, 250 x 200
// pixels with y downward. The engine draws nothing itself.
enum class GraphColour { Black, Silver, Red, Blue, Green };

struct PlotPoint {
    int x = 0;
    int y = 0;
    bool operator==(const PlotPoint&) const = default;
};

// A polyline, painted in order from the first point.
struct PlotLine {
    GraphColour colour = GraphColour::Black;
    bool dotted = false;
    std::vector<PlotPoint> points;
    bool operator==(const PlotLine&) const = default;
};

struct PlotText {
    GraphColour colour = GraphColour::Black;
    PlotPoint at;
    std::string text;
    bool operator==(const PlotText&) const = default;
};

struct StackGraphData {
    static constexpr int Width = 250;
    static constexpr int Height = 200;

    // Grid (white background, black frame, silver lines), then the curves.
    std::vector<PlotLine> lines;
    std::vector<PlotText> texts;
    // The difference cut-off legend: "Difference Cutoff (blue line) max =" ...
    std::string differenceCaption;

    // The named series, also inside `lines`, for readers that want them.
    std::vector<PlotPoint> qualityCurve;        // red, one point per rank
    std::vector<PlotPoint> differenceCurve;     // blue, one point per rank
    int firstDottedRank = -1;                   // both curves dotted from this rank on; -1: never
    int differenceCutY = 0;                     // blue horizontal line
    int qualityCutX = 0;                        // red vertical line, y 0..201
    std::vector<PlotPoint> stackQualityCurve;   // green; empty when the last run had one frame
};

// One entry per stacked count: entry i is the quality of the stack after i
// frames of the last run (entry 0 unused). A run can take every frame slot.
using StackQualityTable = std::array<float, MaxFrames + 1>;

struct StackGraphInput {
    int lastRank = 0;             // StackSlider maximum: the ranked span shown
    int cutRank = 0;              // StackSlider value: the quality cut-off
    int differenceCutPercent = 100;
    int lowerQualityPercent = 80;  // OptimizeQualitySpin: ranks below it are dotted
    int boxSize = 128;             // alignment box side, for the per-pixel difference
    int stackedCount = 1;          // frames in the last run (at least 1)
    int stackLimit = 0;            // quality cut-off rank + 1 of the last run
    float maxDifference = 0.0f;    // largest difference among ranks 0..lastRank
};

// The registration curves of the ranked frames, the two cut-offs and the
// stack quality of the last run.
StackGraphData buildStackGraph(const Workspace& workspace, const StackQualityTable& stackQuality,
                               const StackGraphInput& input);

// The graph as the window paints it: white background, then the lines and
// texts in their colours.
Drawing toDrawing(const StackGraphData& graph);

// Text of a value cut (toward zero) to two decimals, in its shortest form:
// 12.345 gives "12.34", 3 gives "3".
std::string twoDecimalText(double value);

}  // namespace planexor
