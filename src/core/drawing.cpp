#include "core/drawing.h"

#include <algorithm>

#include "core/pixel.h"

namespace planexor {

namespace {

template <class Item>
Item& nextItem(std::vector<Item>& items, std::size_t& used) {
    if (used == items.size()) items.emplace_back();
    return items[used++];
}

}  // namespace

DrawingBuilder::DrawingBuilder(Drawing& drawing) : drawing_(drawing) { drawing_.background = false; }

DrawingBuilder::~DrawingBuilder() {
    drawing_.lines.resize(lines_);
    drawing_.ellipses.resize(ellipses_);
    drawing_.pixels.resize(pixels_);
    drawing_.texts.resize(texts_);
}

void DrawingBuilder::background(int width, int height, std::uint32_t colour) {
    drawing_.background = true;
    drawing_.width = width;
    drawing_.height = height;
    drawing_.backgroundColour = colour;
}

DrawnLine& DrawingBuilder::line(std::uint32_t colour, int penWidth, bool dotted) {
    DrawnLine& line = nextItem(drawing_.lines, lines_);
    line.colour = colour;
    line.penWidth = penWidth;
    line.dotted = dotted;
    line.invert = false;
    line.points.clear();
    return line;
}

void DrawingBuilder::segment(std::uint32_t colour, GraphPoint from, GraphPoint to, int penWidth) {
    DrawnLine& drawn = line(colour, penWidth);
    drawn.points.push_back(from);
    drawn.points.push_back(to);
}

void DrawingBuilder::ellipse(std::uint32_t colour, int left, int top, int right, int bottom) {
    nextItem(drawing_.ellipses, ellipses_) = {colour, left, top, right, bottom};
}

void DrawingBuilder::pixel(std::uint32_t colour, GraphPoint at) { nextItem(drawing_.pixels, pixels_) = {colour, at}; }

void DrawingBuilder::text(std::uint32_t colour, GraphPoint at, std::string_view text) {
    DrawnText& drawn = nextItem(drawing_.texts, texts_);
    drawn.colour = colour;
    drawn.at = at;
    drawn.text.assign(text);  // keeps the old capacity
}

int graphCoordinate(double value) {
    if (!(value == value)) return 0;
    return nearest(std::clamp(value, -100000.0, 100000.0));
}

int rankX(double rank, int lastRank) { return lastRank > 0 ? graphCoordinate(rank * GraphRankSpan / lastRank) : 0; }

int valueY(double value, double full) { return GraphBaseline - graphCoordinate(200.0 * value / full); }

GraphPainter::GraphPainter(Drawing& into, const GraphLayout& layout) : builder_(into) {
    using namespace drawing_colour;
    builder_.background(layout.width, layout.height, White);
    if (layout.frame) {
        const int w = layout.width, h = layout.height;
        builder_.line(Black).points.assign({{0, 0}, {w, 0}, {w, h}, {0, h}, {0, 0}});
    }
    const GridRuling& columns = layout.columns;
    const GridRuling& rows = layout.rows;
    for (int k = 0; k < layout.count; ++k) {
        const int x = columns.first + columns.step * k;
        const int y = rows.first + rows.step * k;
        builder_.segment(Silver, {x, columns.from}, {x, columns.to});
        builder_.segment(Silver, {rows.from, y}, {rows.to, y});
    }
}

void GraphPainter::curve(std::uint32_t colour, GraphPoint start, std::span<const GraphPoint> points, int firstDotted) {
    DrawnLine& solid = builder_.line(colour);
    solid.points.push_back(start);
    const std::size_t count = points.size();
    const std::size_t solidEnd = firstDotted >= 0 ? std::min(static_cast<std::size_t>(firstDotted), count) : count;
    solid.points.insert(solid.points.end(), points.begin(), points.begin() + solidEnd);
    if (solidEnd == count) return;
    // `solid` may move when the vector of lines grows: take the joint first.
    const GraphPoint joint = solid.points.back();
    DrawnLine& dotted = builder_.line(colour, 1, true);
    dotted.points.push_back(joint);
    dotted.points.insert(dotted.points.end(), points.begin() + solidEnd, points.end());
}

}  // namespace planexor
