#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace planexor {

// What the window paints over a picture or as a graph, as plain data:
// coordinates in the picture's pixels (x right, y down).

struct GraphPoint {
    int x = 0;
    int y = 0;
    bool operator==(const GraphPoint&) const = default;
};

// Colours are 0xBBGGRR, the encoding the control models hold (a model's 255
// is red, 32768 green), so that drawings and models share one encoding and
// the window converts in one place.
namespace drawing_colour {
inline constexpr std::uint32_t White = 0xFFFFFF;
inline constexpr std::uint32_t Black = 0x000000;
inline constexpr std::uint32_t Silver = 0xC0C0C0;
inline constexpr std::uint32_t Red = 0x0000FF;
inline constexpr std::uint32_t Green = 0x008000;
inline constexpr std::uint32_t Blue = 0xFF0000;
inline constexpr std::uint32_t Lime = 0x00FF00;
inline constexpr std::uint32_t Teal = 0x808000;
}  // namespace drawing_colour

// A polyline through the points in order. Rectangles and outlines are closed
// polylines through their corners.
struct DrawnLine {
    std::uint32_t colour = drawing_colour::Black;
    int penWidth = 1;
    bool dotted = false;
    bool invert = false;  // XOR with the picture below (the rubber-band box outline)
    std::vector<GraphPoint> points;
    bool operator==(const DrawnLine&) const = default;
};

// The outline of the ellipse inscribed in (left, top)..(right, bottom).
struct DrawnEllipse {
    std::uint32_t colour = drawing_colour::White;
    int left = 0, top = 0, right = 0, bottom = 0;
    bool operator==(const DrawnEllipse&) const = default;
};

struct DrawnPixel {
    std::uint32_t colour = drawing_colour::White;
    GraphPoint at;
    bool operator==(const DrawnPixel&) const = default;
};

// Text with its top-left corner at `at`, in the canvas's default font.
struct DrawnText {
    std::uint32_t colour = drawing_colour::Black;
    GraphPoint at;
    std::string text;
    bool operator==(const DrawnText&) const = default;
};

// Painted in this order: background (graphs only), lines, ellipses, pixels,
// texts. Over an image nothing but the listed items is painted.
struct Drawing {
    bool background = false;  // fill width x height with backgroundColour first
    std::uint32_t backgroundColour = drawing_colour::White;
    int width = 0, height = 0;
    std::vector<DrawnLine> lines;
    std::vector<DrawnEllipse> ellipses;
    std::vector<DrawnPixel> pixels;
    std::vector<DrawnText> texts;

    bool empty() const { return !background && lines.empty() && ellipses.empty() && pixels.empty() && texts.empty(); }
    bool operator==(const Drawing&) const = default;
};

// Builds a drawing in place over its previous content, so that redrawing
// once per frame reuses the storage instead of allocating it anew.
class DrawingBuilder {
public:
    explicit DrawingBuilder(Drawing& drawing);
    ~DrawingBuilder();  // trims what the new content did not use
    DrawingBuilder(const DrawingBuilder&) = delete;
    DrawingBuilder& operator=(const DrawingBuilder&) = delete;

    void background(int width, int height, std::uint32_t colour);
    DrawnLine& line(std::uint32_t colour, int penWidth = 1, bool dotted = false);  // add points to it
    void segment(std::uint32_t colour, GraphPoint from, GraphPoint to, int penWidth = 1);
    void ellipse(std::uint32_t colour, int left, int top, int right, int bottom);
    void pixel(std::uint32_t colour, GraphPoint at);
    void text(std::uint32_t colour, GraphPoint at, std::string_view text);

private:
    Drawing& drawing_;
    std::size_t lines_ = 0, ellipses_ = 0, pixels_ = 0, texts_ = 0;
};

// ------------------------------------------------------------------ graphs

// One set of parallel grid lines: `count` lines at first + k * step, each
// reaching from `from` to `to` across.
struct GridRuling {
    int first = 0, step = 0, from = 0, to = 0;
};

// A graph's canvas: white, optionally framed in black, ruled in silver.
struct GraphLayout {
    int width = 0, height = 0;
    bool frame = false;
    int count = 0;
    GridRuling columns, rows;
};

// The 250 x 200 graphs of the properties window and the stack page: ten
// columns of 25 and ten rows of 20 pixels, rows counted from the bottom.
inline constexpr int GraphWidth = 250;
inline constexpr int GraphHeight = 200;
inline constexpr GraphLayout PropertyGraphLayout{GraphWidth, GraphHeight, true, 11, {1, 25, 1, GraphHeight - 1},
                                                 {GraphHeight - 2, -20, 1, GraphWidth - 1}};
inline constexpr int GraphBaseline = 201;  // y of a zero value; 200 pixels for the full value
inline constexpr int GraphRankSpan = 245;  // x of the last rank

// A graph coordinate rounded to the nearest pixel, kept within reach so that
// a broken record (NaN, infinity, absurd values) cannot overflow an int.
int graphCoordinate(double value);
// x of a position 0..lastRank along the ranks; 0 when there is only one rank.
int rankX(double rank, int lastRank);
// y of `value` where `full` reaches 200 pixels above the baseline.
int valueY(double value, double full);

// Paints a graph: the canvas first, then whatever the graph adds in order.
class GraphPainter {
public:
    GraphPainter(Drawing& into, const GraphLayout& layout);

    void text(std::uint32_t colour, GraphPoint at, std::string_view text) { builder_.text(colour, at, text); }
    void line(std::uint32_t colour, GraphPoint from, GraphPoint to, int penWidth = 1) {
        builder_.segment(colour, from, to, penWidth);
    }
    void ellipse(std::uint32_t colour, int left, int top, int right, int bottom) {
        builder_.ellipse(colour, left, top, right, bottom);
    }
    // A polyline from `start` through `points`, dotted from points[firstDotted]
    // on (never when negative); the pen changes at the last solid point.
    void curve(std::uint32_t colour, GraphPoint start, std::span<const GraphPoint> points, int firstDotted = -1);

private:
    DrawingBuilder builder_;
};

}  // namespace planexor
