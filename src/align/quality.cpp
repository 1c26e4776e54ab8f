#include "align/quality.h"

#include <algorithm>
#include <cmath>

#include "core/number_text.h"
#include "core/pixel.h"

namespace planexor {

namespace {

constexpr int PixelsPerBin = 5;

int curveY(float value, double scale, const GammaValues& gammaTable) {
    double position = value * 1000.0 / scale;
    // The profile is normalised to its own maximum, so this stays in 0..1000;
    // a stale maximum or a NaN must not read outside the table.
    if (!(position >= 0.0)) position = 0.0;
    const int index = std::min(nearest(std::min(position, 1000.0)), GammaTableSize - 1);
    return GraphBaseline - nearest(GraphHeight * gammaTable[index]);
}

GraphMarker marker(double spinValue, int labelY) {
    const int x = nearest(spinValue * PixelsPerBin);
    return {true, x + 1, {x + 5, labelY}};
}

}  // namespace

double profileShare(const std::array<float, FftEngine::ProfileBins>& profile, int firstDetailBin, double guard) {
    double total = 0.0;
    double detail = 0.0;
    for (int i = 0; i < QualityBins; ++i) {
        total += profile[i];
        if (i >= firstDetailBin) detail += profile[i];
    }
    return detail / (total + guard);
}

float spectrumQuality(const std::array<float, FftEngine::ProfileBins>& profile, int qualityFilter) {
    return static_cast<float>(profileShare(profile, qualityFilter, 1e-10));
}

float scoreBlockQuality(FftEngine& engine, int qualityFilter) {
    engine.ForwardFFT2D();
    engine.ComputeRadialProfile();
    return spectrumQuality(engine.RadialProfile, qualityFilter);
}

float applySpectrumLowPass(FftEngine& engine, double cutRadius) {
    const float radius2 = static_cast<float>(cutRadius * cutRadius);
    const int n = engine.FFTSize;
    for (int a = 0; a < n; ++a) {
        const int da = std::min(a, n - a);
        // Along a column the distance grows with min(b, n - b), so the cells
        // cut are one run: keep + 1 .. n - keep - 1.
        int keep = -1;
        while (keep < n / 2 && !(static_cast<float>(da * da + (keep + 1) * (keep + 1)) > radius2)) ++keep;
        const int first = keep + 1;
        const int end = std::min(n, n - keep);
        if (first >= end) continue;
        std::fill(engine.SpecRe[a] + first, engine.SpecRe[a] + end, 0.0f);
        std::fill(engine.SpecIm[a] + first, engine.SpecIm[a] + end, 0.0f);
    }
    return radius2;
}

QualityGraph buildQualityGraph(const std::array<float, FftEngine::ProfileBins>& profile, float profileMax,
                               const GammaValues& gammaTable, int qualityFilter, bool fftFilterOn,
                               double fftFilterValue) {
    QualityGraph graph;
    const double scale = profileMax + 1e-10;
    graph.start = {0, curveY(profile[0], scale, gammaTable)};
    for (int i = 0; i < QualityBins; ++i) graph.curve[i] = {PixelsPerBin * i + 1, curveY(profile[i], scale, gammaTable)};
    graph.qualityFilter = marker(qualityFilter, 5);
    if (fftFilterOn) graph.fftFilter = marker(fftFilterValue, 30);
    graph.quality = spectrumQuality(profile, qualityFilter);
    graph.qualityText = qualityCaption(graph.quality);
    return graph;
}

std::string qualityCaption(float quality) {
    return "quality :" + fifteenDigitText(std::trunc(static_cast<double>(quality) * 10000.0) * 0.0001);
}

void drawQualityGraph(const QualityGraph& graph, Drawing& into) {
    using namespace drawing_colour;
    GraphPainter painter(into, PropertyGraphLayout);
    painter.text(Red, {120, 170}, " red line = power spectrum");
    painter.curve(Red, graph.start, graph.curve);
    const auto marker = [&painter](const GraphMarker& m, std::uint32_t colour, std::string_view text) {
        if (!m.shown) return;
        painter.line(colour, {m.lineX, GraphHeight}, {m.lineX, 0}, 2);
        painter.text(colour, m.label, text);
    };
    marker(graph.qualityFilter, Green, "<- Quality filter");
    marker(graph.fftFilter, Blue, "<- FFT Filter");
    painter.text(Black, {150, 17}, graph.qualityText);
}

}  // namespace planexor
