#include "align/quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "align/disc_quality.h"
#include "core/workspace.h"
#include "demo/synthetic_planet.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using Profile = std::array<float, FftEngine::ProfileBins>;

GammaValues gammaCurve(double gamma) {
    GammaCurve curve;
    curve.build(gamma);
    return curve.values;
}

Profile flatProfile(float value) {
    Profile profile{};
    for (int i = 0; i < QualityBins; ++i) profile[i] = value;
    return profile;
}

TEST(SpectrumQuality, ShareOfTheWeighedBandFromTheFilterOn) {
    Profile edges = flatProfile(0.0f);
    edges[0] = edges[50] = 1.0f;
    edges[51] = edges[200] = 100.0f;  // radii beyond 51 are not weighed
    const struct {
        Profile profile;
        int filter;
        float share;
    } cases[] = {{flatProfile(0.3f), 12, 39.0f / 51.0f}, {flatProfile(0.3f), 51, 0.0f}, {flatProfile(0.3f), 250, 0.0f},
                 {edges, 50, 0.5f}, {edges, 0, 1.0f}, {flatProfile(0.0f), 12, 0.0f}};
    for (const auto& c : cases) EXPECT_FLOAT_EQ(spectrumQuality(c.profile, c.filter), c.share) << c.filter;
}

// The middle n x n of the synthetic planet, blurred by the seeing given
// (0: not at all), green values in [x * n + y] order.
std::vector<float> planetBlock(int n, double blur) {
    PlanetRenderer renderer(320, 320, 7);
    Bitmap24 frame;
    renderer.render({0, 0, blur}, 0, FrameEffects{false, false}, frame);
    std::vector<float> block(static_cast<std::size_t>(n) * n);
    const int corner = 160 - n / 2;
    for (int x = 0; x < n; ++x)
        for (int y = 0; y < n; ++y) block[x * n + y] = frame.pixel(corner + x, corner + y)[1];
    return block;
}

// The box as registration hands it over: grey values minus their mean in
// SpecRe, the imaginary plane cleared.
void loadBox(FftEngine& engine, const std::vector<float>& block, float scale = 1.0f) {
    const int n = engine.FFTSize;
    double sum = 0;
    for (float v : block) sum += v * scale;
    float mean = static_cast<float>(sum / (n * n));
    if (mean == 0.0f) mean = 0.000001f;
    for (int x = 0; x < n; ++x)
        for (int y = 0; y < n; ++y) engine.SpecRe[x][y] = block[x * n + y] * scale - mean;
    engine.SpecIm.copyFrom(engine.ZeroPlane, n);
}

TEST(BlockQuality, RisesAsTheBlockIsBlurredLess) {
    FftEngine engine;
    for (int n : {64, 128, 256}) {
        SCOPED_TRACE(n);
        engine.SetupFFT(n);
        float previous = -1.0f;
        for (double blur : {3.0, 2.0, 1.4, 1.0, 0.6, 0.0}) {
            loadBox(engine, planetBlock(n, blur));
            const float quality = scoreBlockQuality(engine, 12);
            EXPECT_GT(quality, previous) << "blur " << blur;
            previous = quality;
        }
        loadBox(engine, planetBlock(n, 0.0), 0.7f);  // brightness does not count
        EXPECT_NEAR(scoreBlockQuality(engine, 12), previous, 1e-5);
    }
}

TEST(SpectrumLowPass, CutsBeyondTheRadiusOnTheWrappedGrid) {
    FftEngine engine;
    const int n = 128;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            engine.SpecRe[a][b] = 1.0f;
            engine.SpecIm[a][b] = -1.0f;
        }
    EXPECT_EQ(applySpectrumLowPass(engine, 10.0), 100.0f);
    EXPECT_EQ(engine.SpecIm[n - 6][n - 8], -1.0f);
    EXPECT_EQ(engine.SpecIm[7][8], 0.0f);
    int kept = 0;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) kept += engine.SpecRe[a][b] != 0.0f;
    EXPECT_EQ(kept, 317);  // lattice points with u^2 + v^2 <= 100

    engine.SpecRe[0][0] = 5.0f;
    EXPECT_EQ(applySpectrumLowPass(engine, 0.0), 0.0f);
    EXPECT_EQ(engine.SpecRe[0][0], 5.0f);
    EXPECT_EQ(engine.SpecRe[0][1], 0.0f);
}

TEST(QualityGraphData, TheFftMarkerShowsOnlyWithTheFilterAndTheCaptionIsTheQuality) {
    Profile profile{};
    profile[0] = 0.5f;
    profile[3] = 0.25f;
    const GammaValues linear = gammaCurve(1.0);
    EXPECT_TRUE(buildQualityGraph(profile, 0.5f, linear, 12, true, 10.5).fftFilter.shown);
    const QualityGraph filterOff = buildQualityGraph(profile, 0.5f, linear, 2, false, 10.0);
    EXPECT_FALSE(filterOff.fftFilter.shown);
    EXPECT_TRUE(filterOff.qualityFilter.shown);
    EXPECT_FLOAT_EQ(filterOff.quality, 0.25f / 0.75f);
    EXPECT_EQ(filterOff.qualityText, "quality :0.3333");
    EXPECT_EQ(qualityCaption(0.99999f), "quality :0.9999");  // cut, not rounded
}

TEST(QualityGraphData, EmptyOrInconsistentProfile_StaysOnTheGraph) {
    const GammaValues gamma = gammaCurve(2.2);
    const QualityGraph empty = buildQualityGraph(flatProfile(0.0f), 0.0f, gamma, 12, false, 10);
    EXPECT_EQ(empty.start.y, 201);  // the baseline
    for (const GraphPoint& point : empty.curve) ASSERT_EQ(point.y, 201);

    // A maximum left over from an earlier profile must not index past the table.
    const QualityGraph stale = buildQualityGraph(flatProfile(0.8f), 0.1f, gamma, 12, false, 10);
    for (const GraphPoint& point : stale.curve) ASSERT_EQ(point.y, 201 - 200);
}

Bitmap24 scaled(const Bitmap24& frame, double gain) {
    Bitmap24 out = frame;
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width() * 3; ++x)
            out.row(y)[x] = static_cast<std::uint8_t>(std::lround(std::min(255.0, out.row(y)[x] * gain)));
    return out;
}

// The ranking by seeing itself is measured through the window (beyond_pixels_test).
TEST(DiscSharpness, IgnoresBrightnessAndScoresNoDiscAsZero) {
    DemoOptions options;
    options.width = 320;
    options.height = 240;
    FrameTruth sharp{0, 0, 1.0}, blurred{0, 0, 2.5};
    PlanetRenderer renderer(options.width, options.height, options.seed);
    Bitmap24 frame, soft;
    renderer.render(sharp, 0, FrameEffects{}, frame);
    renderer.render(blurred, 0, FrameEffects{}, soft);
    DiscSharpness disc;
    const float quality = disc.measure(frame, 320, 240);
    EXPECT_GT(quality, 1.5f * disc.measure(soft, 320, 240));
    // A dimmer sky or a thinner cloud changes the brightness, not the score.
    EXPECT_NEAR(disc.measure(scaled(frame, 0.6), 320, 240), quality, 0.05 * quality);

    for (std::uint8_t level : {0, 90}) EXPECT_EQ(disc.measure(testing::uniform(64, 48, level), 64, 48), 0.0f);
    EXPECT_EQ(disc.measure(frame, 3, 3), 0.0f);
    // A working size beyond the bitmap reads only the bitmap.
    EXPECT_EQ(disc.measure(frame, 5000, 5000), quality);
}

}  // namespace
}  // namespace planexor
