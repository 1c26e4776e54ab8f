#include "app/stack_graph.h"

#include <algorithm>
#include <cmath>

#include "core/number_text.h"
#include "core/pixel.h"

namespace planexor {

namespace {

constexpr int Span = 245;      // x of the last rank
constexpr int Baseline = 201;  // y of a zero value; 200 pixels for 1.0

// nearest() of a graph coordinate, kept within reach of the picture so that
// a broken record (NaN, infinity, absurd values) cannot overflow an int.
int plotCoordinate(double value) {
    if (!(value == value)) return 0;
    return nearest(std::clamp(value, -100000.0, 100000.0));
}

// x of a position along the ranks 0..lastRank. With one ranked frame there
// is no span: a curve is the single point at x = 0, while the cut-off and the
// green line, which stand for "up to here", take the ratio 1.
int rankX(double rank, int lastRank) { return lastRank > 0 ? plotCoordinate(rank / lastRank * Span) : 0; }
int reachX(double rank, int lastRank) { return lastRank > 0 ? plotCoordinate(rank / lastRank * Span) : Span; }

int valueY(double value, double full) { return Baseline - plotCoordinate(200.0 * value / full); }

void addGrid(StackGraphData& graph) {
    const int w = StackGraphData::Width, h = StackGraphData::Height;
    graph.lines.push_back({GraphColour::Black, false, {{0, 0}, {w, 0}, {w, h}, {0, h}, {0, 0}}});
    for (int k = 0; k <= 10; ++k) {
        const int y = h - 2 - 20 * k;
        const int x = 25 * k + 1;
        graph.lines.push_back({GraphColour::Silver, false, {{1, y}, {w - 1, y}}});
        graph.lines.push_back({GraphColour::Silver, false, {{x, 1}, {x, h - 1}}});
    }
}

// A curve that turns dotted at `firstDotted` becomes two polylines sharing
// the point where the pen changes.
void addCurve(StackGraphData& graph, GraphColour colour, PlotPoint start, const std::vector<PlotPoint>& points,
              int firstDotted) {
    PlotLine solid{colour, false, {start}};
    PlotLine dotted{colour, true, {}};
    for (int k = 0; k < static_cast<int>(points.size()); ++k) {
        if (firstDotted >= 0 && k >= firstDotted) {
            if (dotted.points.empty()) dotted.points.push_back(solid.points.back());
            dotted.points.push_back(points[k]);
        } else {
            solid.points.push_back(points[k]);
        }
    }
    graph.lines.push_back(std::move(solid));
    if (!dotted.points.empty()) graph.lines.push_back(std::move(dotted));
}

std::uint32_t rgbOf(GraphColour colour) {
    switch (colour) {
        case GraphColour::Black: return drawing_colour::Black;
        case GraphColour::Silver: return drawing_colour::Silver;
        case GraphColour::Red: return drawing_colour::Red;
        case GraphColour::Blue: return drawing_colour::Blue;
        case GraphColour::Green: return drawing_colour::Green;
    }
    return drawing_colour::Black;
}

}  // namespace

Drawing toDrawing(const StackGraphData& graph) {
    Drawing drawing;
    {
        DrawingBuilder builder(drawing);
        builder.background(StackGraphData::Width, StackGraphData::Height, drawing_colour::White);
        for (const PlotLine& line : graph.lines) {
            DrawnLine& drawn = builder.line(rgbOf(line.colour), 1, line.dotted);
            for (const PlotPoint& point : line.points) drawn.points.push_back({point.x, point.y});
        }
        for (const PlotText& text : graph.texts) builder.text(rgbOf(text.colour), {text.at.x, text.at.y}, text.text);
    }
    return drawing;
}

std::string twoDecimalText(double value) {
    if (!std::isfinite(value)) return "0";
    return fifteenDigitText(std::trunc(value) * 0.01);
}

StackGraphData buildStackGraph(const Workspace& workspace, const StackQualityTable& stackQuality,
                               const StackGraphInput& input) {
    StackGraphData graph;
    addGrid(graph);
    graph.texts.push_back({GraphColour::Red, {10, 150}, " red  line = image quality"});
    graph.texts.push_back({GraphColour::Blue, {10, 180}, " blue line = registration difference"});

    const int lastRank = std::clamp(input.lastRank, 0, LastFrameNumber);
    auto frameOf = [&workspace](int rank) { return std::clamp(workspace.Ranking[rank].Frame, 0, LastFrameNumber); };
    const double best = workspace.Ranking[0].Quality + 0.000001;
    const double lowerQuality = input.lowerQualityPercent / 100.0;
    auto differenceOf = [&](int rank) { return static_cast<double>(workspace.FrameRecs[frameOf(rank)].Difference); };
    double largestDifference = 0.0;
    for (int rank = 0; rank <= lastRank; ++rank) largestDifference = std::max(largestDifference, differenceOf(rank));
    largestDifference += 0.000001;

    for (int rank = 0; rank <= lastRank; ++rank) {
        const double quality = workspace.Ranking[rank].Quality;
        if (graph.firstDottedRank < 0 && quality / best < lowerQuality) graph.firstDottedRank = rank;
        const int x = rankX(rank, lastRank);
        graph.qualityCurve.push_back({x, valueY(quality, best)});
        graph.differenceCurve.push_back({x, valueY(differenceOf(rank), largestDifference)});
    }
    addCurve(graph, GraphColour::Red, {0, 0}, graph.qualityCurve, graph.firstDottedRank);

    graph.differenceCutY = Baseline - 2 * std::clamp(input.differenceCutPercent, 0, 100);
    graph.lines.push_back({GraphColour::Blue, false, {{0, graph.differenceCutY}, {250, graph.differenceCutY}}});
    addCurve(graph, GraphColour::Blue, {0, Baseline}, graph.differenceCurve, graph.firstDottedRank);

    graph.qualityCutX = reachX(std::clamp(input.cutRank, 0, lastRank), lastRank);
    graph.lines.push_back({GraphColour::Red, false, {{graph.qualityCutX, 0}, {graph.qualityCutX, Baseline}}});

    // The stack quality over the span of ranks the last run took, relative to
    // the one-frame stack.
    const int stacked = std::clamp(input.stackedCount, 0, MaxFrames);
    if (stacked > 1) {
        const double step = static_cast<double>(std::max(input.stackLimit - 1, 0)) / stacked;
        const double first = stackQuality[1] + 0.000001;
        graph.stackQualityCurve.push_back({0, 0});
        for (int i = 1; i <= stacked; ++i)
            graph.stackQualityCurve.push_back({reachX(i * step, lastRank), valueY(stackQuality[i], first)});
        graph.lines.push_back({GraphColour::Green, false, graph.stackQualityCurve});
    }

    const double perPixel = input.maxDifference / static_cast<double>(input.boxSize) / input.boxSize * 100.0;
    graph.differenceCaption = "Difference Cutoff (blue line) max =" + twoDecimalText(perPixel);
    return graph;
}

}  // namespace planexor
