#include "app/stack_graph.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "core/number_text.h"

namespace planexor {

namespace {

// With one ranked frame there is no span: the cut-off and the green line,
// which stand for "up to here", then reach the end of the axis.
int reachX(double rank, int lastRank) { return lastRank > 0 ? rankX(rank, lastRank) : GraphRankSpan; }

}  // namespace

std::string twoDecimalText(double value) { return fifteenDigitText(std::trunc(value) * 0.01); }

StackGraphData buildStackGraph(const Workspace& workspace, const StackQualityTable& stackQuality,
                               const StackGraphInput& input) {
    StackGraphData graph;
    static_cast<RegistrationGraph&>(graph) =
        buildRegistrationGraph(workspace, input.lastRank, input.lowerQualityPercent, input.differenceCutPercent);
    const int lastRank = std::clamp(input.lastRank, 0, LastFrameNumber);
    graph.qualityCutX = reachX(std::clamp(input.cutRank, 0, lastRank), lastRank);

    // The stack quality over the span of ranks the last run took, relative to
    // the one-frame stack.
    const int stacked = std::clamp(input.stackedCount, 0, MaxFrames);
    if (stacked > 1) {
        const double step = static_cast<double>(std::max(input.stackLimit - 1, 0)) / stacked;
        const double first = stackQuality[1] + 0.000001;
        graph.stackQualityCurve.push_back({0, 0});
        for (int i = 1; i <= stacked; ++i)
            graph.stackQualityCurve.push_back({reachX(i * step, lastRank), valueY(stackQuality[i], first)});
    }

    const double perPixel = input.maxDifference / static_cast<double>(input.boxSize) / input.boxSize * 100.0;
    graph.differenceCaption = "Difference Cutoff (blue line) max =" + twoDecimalText(perPixel);
    return graph;
}

void drawStackGraph(const StackGraphData& graph, Drawing& into) {
    using namespace drawing_colour;
    GraphPainter painter(into, PropertyGraphLayout);
    paintRegistrationGraph(painter, graph);
    if (graph.stackQualityLegend) painter.text(Green, {10, 165}, " green line = stacked image quality");
    painter.line(Red, {graph.qualityCutX, 0}, {graph.qualityCutX, GraphBaseline});
    const std::span<const GraphPoint> green(graph.stackQualityCurve);
    if (!green.empty()) painter.curve(Green, green.front(), green.subspan(1));
}

}  // namespace planexor
