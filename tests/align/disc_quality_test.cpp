#include <gtest/gtest.h>

#include <cmath>

#include "align/disc_quality.h"
#include "demo/synthetic_planet.h"

namespace planexor {
namespace {

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

    Bitmap24 flat(64, 48);
    flat.fill(0, 0, 0);
    EXPECT_EQ(disc.measure(flat, 64, 48), 0.0f);
    flat.fill(90, 90, 90);
    EXPECT_EQ(disc.measure(flat, 64, 48), 0.0f);
    EXPECT_EQ(disc.measure(frame, 3, 3), 0.0f);
    // A working size beyond the bitmap reads only the bitmap.
    EXPECT_EQ(disc.measure(frame, 5000, 5000), quality);
}

}  // namespace
}  // namespace planexor
