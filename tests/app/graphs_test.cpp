#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_form.h"
#include "app/processing_view.h"
#include "app/stack_graph.h"

namespace planexor {
namespace {

struct Stroke {
    std::uint32_t colour;
    bool dotted;
    GraphPoint first, last;
    int penWidth = 1;
};

struct GraphCase {
    const char* name;
    std::function<void(Drawing&)> draw;
    int size[2];
    bool frame;
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

// Every graph is one painter's canvas (white, optionally framed, a silver
// grid) plus its own strokes and texts; a redraw leaves nothing of the last.
TEST(Graphs, EachGraphIsTheCanvasAndItsOwnStrokes) {
    using namespace drawing_colour;
    const auto workspace = rankedWorkspace();
    const std::vector<Stroke> rankCurves = {{Red, false, {0, 0}, {82, 21}},      {Red, true, {82, 21}, {245, 121}},
                                            {Blue, false, {0, 101}, {250, 101}}, {Blue, false, {0, 201}, {82, 101}},
                                            {Blue, true, {82, 101}, {245, 201}}};
    const auto with = [&rankCurves](std::vector<Stroke> tail) {
        std::vector<Stroke> all = rankCurves;
        all.insert(all.end(), tail.begin(), tail.end());
        return all;
    };
    const std::string quality = " red  line = image quality", difference = " blue line = registration difference";
    const StretchMarkers markers{20, 200};
    const std::vector<Stroke> markerLines = {{Teal, false, {29, 0}, {29, 255}}, {Red, false, {209, 0}, {209, 255}}};

    const GraphCase cases[] = {
        {"registration",
         [&](Drawing& d) {
             RegistrationGraph graph = buildRegistrationGraph(*workspace, 3, 80, 50);
             graph.rankMarkerX = rankMarkerX(1, 3);
             drawRegistrationGraph(graph, d);
         },
         {250, 200}, true, with({{Green, false, {82, 0}, {82, 201}}}), {quality, difference}},
        {"stack",
         [&](Drawing& d) {
             StackQualityTable stackQuality{};
             stackQuality[1] = 1.0f;
             stackQuality[2] = 1.2f;
             stackQuality[3] = 1.5f;
             StackGraphInput input;
             input.lastRank = 3;
             input.cutRank = 2;
             input.differenceCutPercent = 50;
             input.stackedCount = 3;
             input.stackLimit = 4;
             StackGraphData graph = buildStackGraph(*workspace, stackQuality, input);
             graph.stackQualityLegend = true;
             drawStackGraph(graph, d);
         },
         {250, 200}, true, with({{Red, false, {163, 0}, {163, 201}}, {Green, false, {0, 0}, {245, -99}}}),
         {quality, difference, " green line = stacked image quality"}},
        {"power spectrum",
         [](Drawing& d) {
             QualityGraph graph;
             graph.start = {0, 90};
             graph.curve[50] = {251, 201};
             graph.qualityFilter = {true, 61, {65, 5}};  // the FFT filter marker stays hidden
             graph.qualityText = "quality :0.5";
             drawQualityGraph(graph, d);
         },
         {250, 200}, true, {{Red, false, {0, 90}, {251, 201}}, {Green, false, {61, 200}, {61, 0}, 2}},
         {" red line = power spectrum", "<- Quality filter", "quality :0.5"}},
        {"histogram while a marker moves",
         [&](Drawing& d) { drawHistogramGraph(Histograms{}, false, false, &markers, d); },
         {275, 275}, false,
         [&] {
             std::vector<Stroke> all;
             for (std::uint32_t colour : {Red, Green, Blue}) {
                 all.push_back({colour, false, {9, 255}, {264, 250}});
                 all.insert(all.end(), markerLines.begin(), markerLines.end());
             }
             return all;
         }(),
         {"  hi: 200", "  lo: 20"}},
    };
    for (const GraphCase& c : cases) {
        SCOPED_TRACE(c.name);
        Drawing drawing;
        DrawingBuilder(drawing).line(Black, 3, true).points.assign(40, {7, 7});  // a previous content
        c.draw(drawing);
        EXPECT_TRUE(drawing.background);
        EXPECT_EQ(drawing.backgroundColour, White);
        EXPECT_EQ(drawing.width, c.size[0]);
        EXPECT_EQ(drawing.height, c.size[1]);
        std::size_t next = 0;
        if (c.frame) {
            ASSERT_FALSE(drawing.lines.empty());
            const DrawnLine& frame = drawing.lines[next++];
            EXPECT_EQ(frame.colour, Black);
            EXPECT_EQ(frame.points.size(), 5u);
            EXPECT_EQ(frame.points[2], (GraphPoint{c.size[0], c.size[1]}));
        }
        while (next < drawing.lines.size() && drawing.lines[next].colour == Silver) ++next;
        EXPECT_EQ(next - c.frame, c.frame ? 22u : 12u) << "grid lines";
        ASSERT_EQ(drawing.lines.size() - next, c.strokes.size());
        for (const Stroke& expected : c.strokes) {
            const DrawnLine& line = drawing.lines[next++];
            EXPECT_EQ(line.colour, expected.colour) << next;
            EXPECT_EQ(line.dotted, expected.dotted) << next;
            EXPECT_EQ(line.penWidth, expected.penWidth) << next;
            EXPECT_FALSE(line.invert);
            ASSERT_FALSE(line.points.empty());
            EXPECT_EQ(line.points.front(), expected.first) << next;
            EXPECT_EQ(line.points.back(), expected.last) << next;
        }
        std::vector<std::string> texts;
        for (const DrawnText& text : drawing.texts) texts.push_back(text.text);
        EXPECT_EQ(texts, c.texts);
    }
}

// The window paints drawings and colours the models' shapes through one
// conversion, so both must hold the same encoding.
TEST(Graphs, DrawingsAndModelsShareTheColourEncoding) {
    EXPECT_EQ(drawing_colour::Red, static_cast<std::uint32_t>(ColourRed));
    EXPECT_EQ(drawing_colour::Green, static_cast<std::uint32_t>(ColourGreen));
}

TEST(Graphs, DifferenceCaptionCutsToTwoDecimals) {
    const struct {
        double hundredths;
        const char* text;
    } cases[] = {{1234.9, "12.34"}, {3.0, "0.03"}, {300.0, "3"}, {-250.9, "-2.5"}, {std::nan(""), "0"}};
    for (const auto& c : cases) EXPECT_EQ(twoDecimalText(c.hundredths), c.text) << c.hundredths;
}

}  // namespace
}  // namespace planexor
