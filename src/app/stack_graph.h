#pragma once
#include <array>
#include <string>
#include <vector>

#include "align/registration.h"
#include "core/drawing.h"
#include "core/workspace.h"

namespace planexor {

// The stack graph as data: the registration curves and the difference
// cut-off of the ranked frames (never a rank marker), the quality cut-off and
// the stack quality of the last run.
struct StackGraphData : RegistrationGraph {
    int qualityCutX = 0;                        // red vertical line, y 0..201
    std::vector<GraphPoint> stackQualityCurve;  // green from (0, 0); empty when the last run had one frame
    bool stackQualityLegend = false;            // named in green, from a stack run until the graph is rebuilt
    // The difference cut-off legend: "Difference Cutoff (blue line) max =" ...
    std::string differenceCaption;
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

StackGraphData buildStackGraph(const Workspace& workspace, const StackQualityTable& stackQuality,
                               const StackGraphInput& input);

// The graph as the window paints it on StackGraph.
void drawStackGraph(const StackGraphData& graph, Drawing& into);

// Text of a value cut (toward zero) to two decimals, in its shortest form:
// 12.345 gives "12.34", 3 gives "3".
std::string twoDecimalText(double value);

}  // namespace planexor
