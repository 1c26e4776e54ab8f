#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

#include "align/disc_centre.h"
#include "support/test_files.h"

namespace planexor {
namespace {

// A planet of radius 40 with a soft rim, centred at (cx, cy), on black.
Bitmap24 disc(int width, int height, double cx, double cy, int level = 200) {
    Bitmap24 picture(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double inside = std::clamp(40.5 - std::hypot(x - cx, y - cy), 0.0, 1.0);
            std::uint8_t* pixel = picture.pixel(x, y);
            pixel[0] = pixel[1] = pixel[2] = static_cast<std::uint8_t>(std::lround(level * inside));
        }
    return picture;
}

TEST(DiscCentre, FollowsTheDiscToAFractionOfAPixel) {
    const auto reference = findDisc(disc(200, 150, 100.0, 75.0), 200, 150);
    ASSERT_TRUE(reference);
    // The last shift puts the window against the frame's right and bottom edges.
    for (const auto& [dx, dy] : {std::pair{3.3, -2.4}, {-0.5, 0.25}, {-12.75, 9.1}, {43.0, 18.0}}) {
        // Found near the whole shift a box would give, and dimmer: brightness drops out.
        const auto centre = discCentre(disc(200, 150, 100.0 + dx, 75.0 + dy, 150), 200, 150, *reference,
                                       static_cast<int>(std::lround(dx)), static_cast<int>(std::lround(dy)));
        ASSERT_TRUE(centre);
        EXPECT_NEAR(centre->x - reference->x, dx, 0.05);
        EXPECT_NEAR(centre->y - reference->y, dy, 0.05);
    }
}

TEST(DiscCentre, NoCentreWithoutAWholeDiscInsideTheFrame) {
    // Black, lit to the edges, cut by each edge, a bitmap smaller than the frame, empty.
    for (const Bitmap24& frame : {Bitmap24(200, 150), testing::uniform(200, 150, 90), disc(200, 150, 20.0, 75.0),
                                  disc(200, 150, 100.0, 10.0), disc(200, 150, 185.0, 75.0),
                                  disc(200, 150, 100.0, 140.0), disc(6, 6, 3.0, 3.0), Bitmap24()})
        EXPECT_FALSE(findDisc(frame, 200, 150));

    const auto reference = findDisc(disc(200, 150, 100.0, 75.0), 200, 150);
    ASSERT_TRUE(reference);
    EXPECT_FALSE(discCentre(Bitmap24(200, 150), 200, 150, *reference, 0, 0));         // black
    EXPECT_FALSE(discCentre(disc(200, 150, 150.0, 75.0), 200, 150, *reference, 50, 0));  // window past the edge
    EXPECT_FALSE(discCentre(disc(100, 80, 50.0, 40.0), 200, 150, *reference, 0, 0));     // smaller bitmap
    EXPECT_FALSE(discCentre(disc(200, 150, 100.0, 75.0), 200, 150, *reference, -2000000000, 2000000000));
}

// Random bytes over the disc and beside it: the wide loop's sums are whole
// numbers, so both builds must give the very same centre.
TEST(DiscCentre, BothVectorCodesWeighAlike) {
    if (!wideVectorsAvailable()) GTEST_SKIP() << "one build of the loop on this processor";
    const auto reference = findDisc(disc(203, 151, 101.3, 74.6), 203, 151);
    ASSERT_TRUE(reference);
    std::mt19937 random(5);
    for (int trial = 0; trial < 20; ++trial) {
        Bitmap24 frame = disc(203, 151, 100.0 + trial % 5, 75.0 - trial % 3, 120 + trial);
        for (int y = 0; y < frame.height(); ++y)
            for (std::size_t i = 0; i < frame.rowBytes(); ++i) frame.row(y)[i] ^= random() % (trial < 10 ? 256 : 16);
        const auto best = discCentre(frame, 203, 151, *reference, trial % 5, -(trial % 3), VectorCode::Best);
        const auto portable = discCentre(frame, 203, 151, *reference, trial % 5, -(trial % 3), VectorCode::Portable);
        ASSERT_EQ(best.has_value(), portable.has_value());
        if (best) {
            EXPECT_EQ(std::pair(best->x, best->y), std::pair(portable->x, portable->y));
        }
    }
}

}  // namespace
}  // namespace planexor
