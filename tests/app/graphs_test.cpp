#include <gtest/gtest.h>

#include <functional>
#include <utility>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/stack_graph.h"

namespace planexor {
namespace {

// A curve is known by its colour and whether it is dotted; where it lies is
// the builders' arithmetic, not repeated here.
using Stroke = std::pair<std::uint32_t, bool>;

struct GraphCase {
    const char* name;
    std::function<void(Drawing&)> draw;
    std::vector<Stroke> strokes;  // what the graph adds after the canvas, in order
    std::vector<std::string> texts;
};

// Four ranks, frames in reverse: qualities fall below 80 % from rank 2 on,
// the differences peak at rank 2.
std::unique_ptr<Workspace> rankedWorkspace() {
    auto w = std::make_unique<Workspace>();
    const float qualities[] = {1.0f, 0.9f, 0.5f, 0.4f};
    const float differences[] = {10, 20, 40, 0};
    for (int k = 0; k < 4; ++k) {
        w->Ranking[k] = {3 - k, qualities[k], 0};
        w->FrameRecs[3 - k].Difference = differences[k];
    }
    return w;
}

// Every graph is one painter's canvas (white, framed, a silver grid) plus its
// own strokes and texts; a redraw leaves nothing of the last.
TEST(Graphs, EachGraphIsTheCanvasAndItsOwnStrokes) {
    using namespace drawing_colour;
    const auto workspace = rankedWorkspace();
    // Both start with quality solid then dotted past the cut, the difference cut-off line, and the difference
    // curve solid then dotted.
    const std::string quality = " red  line = image quality", difference = " blue line = registration difference";

    const GraphCase cases[] = {
        {"registration",
         [&](Drawing& d) {
             RegistrationGraph graph = buildRegistrationGraph(*workspace, 3, 80, 50);
             graph.rankMarkerX = rankMarkerX(1, 3);
             drawRegistrationGraph(graph, d);
         },
         {{Red, false}, {Red, true}, {Blue, false}, {Blue, false}, {Blue, true}, {Green, false}}, {quality, difference}},
        {"stack",
         [&](Drawing& d) {
             const StackQualityTable stackQuality{0.0f, 1.0f, 1.2f, 1.5f};
             StackGraphData graph = buildStackGraph(
                 *workspace, stackQuality,
                 {.lastRank = 3, .cutRank = 2, .differenceCutPercent = 50, .stackedCount = 3, .stackLimit = 4});
             graph.stackQualityLegend = true;
             drawStackGraph(graph, d);
         },
         {{Red, false}, {Red, true}, {Blue, false}, {Blue, false}, {Blue, true}, {Red, false}, {Green, false}},
         {quality, difference, " green line = stacked image quality"}},
    };
    for (const GraphCase& c : cases) {
        SCOPED_TRACE(c.name);
        Drawing drawing;
        DrawingBuilder(drawing).line(Black, 3, true).points.assign(40, {7, 7});  // a previous content
        c.draw(drawing);
        EXPECT_TRUE(drawing.background);
        EXPECT_EQ(drawing.backgroundColour, White);
        EXPECT_EQ(std::pair(drawing.width, drawing.height), std::pair(250, 200));
        const auto& lines = drawing.lines;
        ASSERT_FALSE(lines.empty());
        EXPECT_TRUE(lines[0].colour == Black && lines[0].points.size() == 5 &&
                    lines[0].points[2] == GraphPoint(250, 200)) << "frame";
        std::size_t next = 1;
        while (next < lines.size() && lines[next].colour == Silver) ++next;
        EXPECT_EQ(next, 23u) << "grid lines";
        std::vector<Stroke> strokes;
        for (; next < lines.size(); ++next) {
            EXPECT_FALSE(lines[next].invert);
            strokes.emplace_back(lines[next].colour, lines[next].dotted);
        }
        EXPECT_EQ(strokes, c.strokes);
        std::vector<std::string> texts;
        for (const DrawnText& text : drawing.texts) texts.push_back(text.text);
        EXPECT_EQ(texts, c.texts);
    }
}

}  // namespace
}  // namespace planexor
