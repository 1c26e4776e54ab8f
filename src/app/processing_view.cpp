#include "app/processing_view.h"

#include <algorithm>
#include <cmath>

#include "core/pixel.h"
#include "core/file_io.h"

namespace planexor {
namespace {

constexpr std::uint32_t Lime = 0x00FF00;
constexpr std::uint32_t Teal = 0x008080;

}  // namespace

void drawHistogramGraph(const Histograms& histograms, bool showPeak, bool smooth, const StretchMarkers* dragged,
                        Drawing& into) {
    using namespace drawing_colour;
    DrawingBuilder builder(into);
    builder.background(HistographSize, HistographSize, White);
    if (dragged) {
        builder.text(Black, {10, 10}, "  hi: " + std::to_string(dragged->high));
        builder.text(Black, {10, 25}, "  lo: " + std::to_string(dragged->low));
    }
    const int columnStep = dragged ? 50 : 51;
    for (int i = 0; i <= 5; ++i) {
        builder.segment(Silver, {9 + columnStep * i, 0}, {9 + columnStep * i, 250});
        builder.segment(Silver, {9, 50 * i}, {264, 50 * i});
    }
    const int scale = histogramScale(histograms, showPeak);
    const std::pair<const std::array<std::int32_t, 256>*, std::uint32_t> curves[] = {
        {&histograms.HistoR, Red}, {&histograms.HistoG, Green}, {&histograms.HistoB, Blue}};
    for (const auto& [counts, colour] : curves) {
        DrawnLine& curve = builder.line(colour);
        curve.points.push_back({9, 255});
        for (const HistogramPoint& point : histogramCurve(*counts, scale, smooth))
            curve.points.push_back({point.x, point.y});
        if (dragged) {
            builder.segment(Teal, {dragged->low + 9, 0}, {dragged->low + 9, 255});
            builder.segment(Red, {dragged->high + 9, 0}, {dragged->high + 9, 255});
        }
    }
}

void drawSelectionBox(DrawingBuilder& builder, const PixelRegion& box, bool rubberBand) {
    DrawnLine& top = builder.line(Lime);
    top.invert = rubberBand;
    top.points = {{box.x1, box.y1}, {box.x2, box.y1}, {box.x2, box.y2}};
    DrawnLine& left = builder.line(Lime);
    left.invert = rubberBand;
    left.points = {{box.x1, box.y1}, {box.x1, box.y2}, {box.x2, box.y2}};
}

PictureSize fitShrinkImage(int windowWidth, int windowHeight, float aspect) {
    if (!(aspect > 0) || !std::isfinite(aspect)) aspect = 1.0f;
    // A window squeezed below its control areas still gets a picture.
    int width = std::max(windowWidth - ShrinkSideArea, 1);
    int height = std::max(windowHeight - ShrinkBottomArea, 1);
    if (width < height * aspect) height = nearest(width / aspect);
    if (height < width / aspect) width = nearest(height * aspect);
    return {std::clamp(width, 1, MaxImageSide * 8), std::clamp(height, 1, MaxImageSide * 8)};
}

std::string imageSizeCaption(int width, int height) {
    return "Imagesize: " + std::to_string(width) + "x" + std::to_string(height);
}

std::string shrinkSaveTarget(const std::string& chosen, int filterIndex) {
    std::string name = fileNameOf(chosen);
    if (name.empty() || name.front() == '.') name = "default";
    return joinPath(directoryOf(chosen), baseNameOf(name) + (filterIndex == 2 ? ".jpg" : ".bmp"));
}

}  // namespace planexor
