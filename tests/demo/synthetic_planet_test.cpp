// Only what the alignment and stacking tests rely on: shifts with the
// documented sign, a walk within its range, and a stop that leaves nothing
// behind. (Registration ranks frames by the blur the truth states.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <vector>

#include "core/error.h"
#include "demo/synthetic_planet.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

// Grey picture as doubles, row-major.
struct Grey {
    int width = 0, height = 0;
    std::vector<double> values;
    double at(int x, int y) const { return values[static_cast<std::size_t>(y) * width + x]; }
};

Grey grey(const Bitmap24& image) {
    Grey out{image.width(), image.height(), {}};
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            out.values.push_back(0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]);
        }
    return out;
}

// Brightness-weighted centre; the floor keeps sky noise out.
std::pair<double, double> centroid(const Grey& image) {
    double sum = 0, sumX = 0, sumY = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const double weight = std::max(0.0, image.at(x, y) - 12.0);
            sum += weight;
            sumX += weight * x;
            sumY += weight * y;
        }
    return {sumX / sum, sumY / sum};
}

constexpr FrameEffects kClean{false, false};

TEST(SyntheticPlanet, FrameShowsTheOriginalAtThePlusShift) {
    PlanetRenderer renderer(160, 120, 5);
    const Grey original = grey(renderer.original());
    Bitmap24 frame;
    // A whole-pixel shift without blur moves the original unchanged.
    renderer.render({3, -2, 0}, 0, kClean, frame);
    const Grey moved = grey(frame);
    double worst = 0;
    for (int y = 2; y < 120; ++y)
        for (int x = 0; x < 157; ++x) worst = std::max(worst, std::abs(moved.at(x + 3, y - 2) - original.at(x, y)));
    EXPECT_LT(worst, 1.0);
    // Sub-pixel shifts, sharp and blurred: the planet's centre moves by the shift.
    const auto home = centroid(original);
    for (const FrameTruth truth : {FrameTruth{7.3, -4.6, 0}, FrameTruth{-5.45, 6.8, 2.5}}) {
        renderer.render(truth, 0, kClean, frame);
        const auto centre = centroid(grey(frame));
        EXPECT_NEAR(centre.first - home.first, truth.shiftX, 0.03);
        EXPECT_NEAR(centre.second - home.second, truth.shiftY, 0.03);
    }
}

TEST(SyntheticPlanet, TruthWalksWithinTwentyPixelsAndBlursLikeTheSeeing) {
    for (unsigned seed : {1u, 2u, 3u}) {
        SCOPED_TRACE(seed);
        DemoOptions options;
        options.seed = seed;
        const std::vector<FrameTruth> truth = demoTruth(options);
        ASSERT_EQ(truth.size(), 500u);
        std::vector<double> blurs, xs, ys;
        for (const FrameTruth& t : truth) blurs.push_back(t.blur), xs.push_back(t.shiftX), ys.push_back(t.shiftY);
        std::sort(blurs.begin(), blurs.end());
        EXPECT_GE(blurs.front(), 0.7);
        EXPECT_LE(blurs.back(), 4.5);
        EXPECT_NEAR(blurs[blurs.size() / 2], 1.9, 0.2);
        for (const auto* axis : {&xs, &ys}) {
            const auto [low, high] = std::minmax_element(axis->begin(), axis->end());
            EXPECT_GE(*low, -20.0);
            EXPECT_LE(*high, 20.0);
            EXPECT_GT(*high - *low, 8.0) << "the walk should wander";
        }
    }
}

// Stops after a given number of frames and records the progress it saw.
class StoppingProgress : public RunProgress {
public:
    explicit StoppingProgress(int framesBeforeStop) : left_(framesBeforeStop) {}
    void setPercent(int percent) override { percents.push_back(percent); }
    void yield() override { --left_; }
    bool stopRequested() const override { return left_ < 0; }
    std::vector<int> percents;

private:
    int left_;
};

DemoOptions smallDemo(const std::string& directory, DemoOptions::Format format = DemoOptions::Avi) {
    DemoOptions options;
    options.directory = directory;
    options.frames = 5;
    options.width = 160;
    options.height = 120;
    options.format = format;
    return options;
}

TEST(SyntheticPlanet, StopLeavesNothingBehindAndCompletionReachesHundred) {
    for (const DemoOptions::Format format : {DemoOptions::Avi, DemoOptions::Bmp}) {
        SCOPED_TRACE(format);
        TempDir dir;
        StoppingProgress stopping(2);
        const DemoResult stopped = writeDemoSequence(smallDemo(dir.path(), format), stopping);
        EXPECT_TRUE(stopped.stopped);
        EXPECT_TRUE(stopped.sequenceFiles.empty());
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

        StoppingProgress running(1000);
        const DemoResult done = writeDemoSequence(smallDemo(dir.path(), format), running);
        EXPECT_FALSE(done.stopped);
        EXPECT_TRUE(std::is_sorted(running.percents.begin(), running.percents.end()));
        EXPECT_EQ(running.percents.back(), 100);
        EXPECT_TRUE(std::filesystem::exists(done.originalFile));
    }
}

// Where the field of seeing.csv says a patch of the original went, the
// frame (no shift, no blur, no noise) shows that patch best: a field of the
// wrong sign or of other values fails.
TEST(SyntheticPlanet, SeeingMovesPartsOfTheDiscAsItsTruthSays) {
    TempDir dir;
    DemoOptions options = smallDemo(dir.path());
    options.width = 320;
    options.height = 240;
    options.frames = 2;
    options.seeingDistortion = 1;
    RunProgress progress;
    const DemoResult result = writeDemoSequence(options, progress);
    ASSERT_EQ(result.seeingFile, dir.file("seeing.csv"));
    EXPECT_EQ(testing::readText(result.seeingFile).rfind("frame,x,y,dx,dy\n", 0), 0u);

    PlanetRenderer renderer(320, 240, options.seed);
    renderer.setSeeingDistortion(1);
    const Grey original = grey(renderer.original());
    Bitmap24 frame;
    renderer.render({0, 0, 0}, 1, FrameEffects{true, false}, frame);
    const Grey seen = grey(frame);
    const auto patchError = [&](int x, int y, int ox, int oy) {
        double error = 0;
        for (int v = -7; v <= 7; ++v)
            for (int u = -7; u <= 7; ++u) {
                const double d = seen.at(x + ox + u, y + oy + v) - original.at(x + u, y + v);
                error += d * d;
            }
        return error;
    };
    int moved = 0, found = 0;
    double largest = 0;
    for (const auto& sample : renderer.fieldSamples(8)) {
        largest = std::max(largest, static_cast<double>(std::hypot(sample.dx, sample.dy)));
        const int x = sample.x, y = sample.y;
        if (x < 20 || y < 20 || x >= 300 || y >= 220 || std::abs(sample.dy) < 1.5) continue;
        if (original.at(x, y) < 40) continue;  // sky shows no movement
        int bestX = 0, bestY = 0;
        for (int oy = -6; oy <= 6; ++oy)
            for (int ox = -6; ox <= 6; ++ox)
                if (patchError(x, y, ox, oy) < patchError(x, y, bestX, bestY)) bestX = ox, bestY = oy;
        ++moved;
        // Across the bands only: along them a patch matches almost anywhere.
        found += bestY * sample.dy > 0;
    }
    EXPECT_GT(largest, 2.0);
    EXPECT_LT(largest, 8.0);
    ASSERT_GT(moved, 10);
    EXPECT_GE(found, moved * 3 / 4) << found << " of " << moved;
}

TEST(SyntheticPlanet, BadOptionsAreRefused) {
    TempDir dir;
    testing::writeText(dir.file("plain"), "x");
    const std::function<void(DemoOptions&)> changes[] = {
        [](DemoOptions& o) { o.frames = 0; },          [](DemoOptions& o) { o.width = 8; },
        [](DemoOptions& o) { o.height = 5000; },       [](DemoOptions& o) { o.drift = std::nan(""); },
        [](DemoOptions& o) { o.directory = ""; },      [&](DemoOptions& o) { o.directory = dir.file("plain"); },
        [](DemoOptions& o) { o.seeingDistortion = 2.5; },
    };
    RunProgress progress;
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        DemoOptions options = smallDemo(dir.path());
        changes[i](options);
        EXPECT_THROW(writeDemoSequence(options, progress), PlanexorError) << "change " << i;
    }
    PlanetRenderer renderer(32, 32, 1);
    Bitmap24 frame;
    EXPECT_THROW(renderer.render({std::nan(""), 0, 1}, 0, FrameEffects{}, frame), PlanexorError);
    EXPECT_THROW(renderer.render({0, 0, -1}, 0, FrameEffects{}, frame), PlanexorError);
}

}  // namespace
}  // namespace planexor
