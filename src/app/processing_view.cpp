#include "app/processing_view.h"

#include <algorithm>
#include <cmath>

#include "core/pixel.h"
#include "core/file_io.h"

namespace planexor {

void drawHistogramGraph(const Histograms& histograms, bool showPeak, bool smooth, const StretchMarkers* dragged,
                        Drawing& into) {
    using namespace drawing_colour;
    // While a marker moves the columns stand a pixel closer.
    const int columnStep = dragged ? 50 : 51;
    const GraphLayout layout{HistographSize, HistographSize, false, 6, {9, columnStep, 0, 250}, {0, 50, 9, 264}};
    GraphPainter painter(into, layout);
    if (dragged) {
        painter.text(Black, {10, 10}, "  hi: " + std::to_string(dragged->high));
        painter.text(Black, {10, 25}, "  lo: " + std::to_string(dragged->low));
    }
    const int scale = histogramScale(histograms, showPeak);
    const std::pair<const std::array<std::int32_t, 256>*, std::uint32_t> curves[] = {
        {&histograms.HistoR, Red}, {&histograms.HistoG, Green}, {&histograms.HistoB, Blue}};
    for (const auto& [counts, colour] : curves) {
        painter.curve(colour, {9, 255}, histogramCurve(*counts, scale, smooth));
        if (dragged) {
            painter.line(Teal, {dragged->low + 9, 0}, {dragged->low + 9, 255});
            painter.line(Red, {dragged->high + 9, 0}, {dragged->high + 9, 255});
        }
    }
}

void drawSelectionBox(DrawingBuilder& builder, const PixelRegion& box, bool rubberBand) {
    DrawnLine& top = builder.line(drawing_colour::Lime);
    top.invert = rubberBand;
    top.points = {{box.x1, box.y1}, {box.x2, box.y1}, {box.x2, box.y2}};
    DrawnLine& left = builder.line(drawing_colour::Lime);
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
