#include "align/quality.h"

#include <gtest/gtest.h>

#include "align/disc_quality.h"
#include "core/workspace.h"
#include "demo/synthetic_planet.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using Profile = std::array<float, FftEngine::ProfileBins>;

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

TEST(SpectrumLowPass, CutsBeyondTheRadiusOnTheWrappedGrid) {
    FftEngine engine;
    const int n = 128;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            engine.SpecRe[a][b] = 1.0f;
            engine.SpecIm[a][b] = -1.0f;
        }
    EXPECT_EQ(applySpectrumLowPass(engine, 10.0), 100.0f);
    int kept = 0;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) kept += (engine.SpecRe[a][b] == 1.0f) + (engine.SpecIm[a][b] == -1.0f);
    EXPECT_EQ(kept, 2 * 317);  // in both planes, the lattice points with u^2 + v^2 <= 100

    engine.SpecRe[0][0] = 5.0f;
    EXPECT_EQ(applySpectrumLowPass(engine, 0.0), 0.0f);
    EXPECT_EQ(engine.SpecRe[0][0], 5.0f);
    EXPECT_EQ(engine.SpecRe[0][1], 0.0f);
}

// The caption is the quality, and an empty or inconsistent profile stays on the graph.
TEST(QualityGraphData, CaptionAndCurve) {
    GammaCurve gamma;
    gamma.build(2.2);
    const QualityGraph empty = buildQualityGraph(flatProfile(0.0f), 0.0f, gamma.values, 12, false, 10);
    for (const GraphPoint& point : empty.curve) ASSERT_EQ(point.y, 201);  // the baseline

    // A maximum left over from an earlier profile must not index past the table.
    const QualityGraph stale = buildQualityGraph(flatProfile(0.8f), 0.1f, gamma.values, 12, false, 10);
    for (const GraphPoint& point : stale.curve) ASSERT_EQ(point.y, 201 - 200);
    EXPECT_EQ(stale.qualityText, "quality :0.7647");
    EXPECT_EQ(qualityCaption(0.99999f), "quality :0.9999");  // cut, not rounded
}

// The ranking by seeing itself is measured through the window (beyond_pixels_test).
TEST(DiscSharpness, IgnoresBrightnessScoresNoDiscAsZeroAndReadsOnlyTheBitmap) {
    PlanetRenderer renderer(320, 240, DemoOptions{}.seed);
    Bitmap24 frame;
    renderer.render({0, 0, 1.0}, 0, FrameEffects{}, frame);
    DiscSharpness disc;
    // A dimmer sky or a thinner cloud changes the brightness, not the score.
    const Bitmap24 dimmer =
        testing::picture(320, 240, [&](int x, int y, int c) { return frame.pixel(x, y)[c] * 3 / 5; });
    EXPECT_NEAR(disc.measure(dimmer, 320, 240), disc.measure(frame, 320, 240), 0.05 * disc.measure(frame, 320, 240));
    for (std::uint8_t level : {0, 90}) EXPECT_EQ(disc.measure(testing::uniform(64, 48, level), 64, 48), 0.0f);
    EXPECT_EQ(disc.measure(frame, 3, 3), 0.0f);
    // A working size beyond the bitmap reads only the bitmap.
    EXPECT_EQ(disc.measure(frame, 5000, 5000), disc.measure(frame, 320, 240));
}

}  // namespace
}  // namespace planexor
