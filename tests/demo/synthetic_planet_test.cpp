#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.h"
#include "input/bmp_codec.h"
#include "input/jpeg_codec.h"
#include "demo/synthetic_planet.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

// Grey picture as doubles, [y][x] flattened.
struct Grey {
    int width = 0, height = 0;
    std::vector<double> values;
    double at(int x, int y) const { return values[static_cast<std::size_t>(y) * width + x]; }
};

Grey grey(const Bitmap24& image) {
    Grey out{image.width(), image.height(), {}};
    out.values.reserve(static_cast<std::size_t>(image.width()) * image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const std::uint8_t* p = image.pixel(x, y);
            out.values.push_back(0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2]);
        }
    return out;
}

struct Point {
    double x, y;
};

// Brightness-weighted centre; the floor keeps sky noise out.
Point centroid(const Grey& image) {
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

// The whole-pixel offset (dx, dy) for which frame(x + dx, y + dy) best
// matches original(x, y).
Point bestWholeOffset(const Grey& frame, const Grey& original, int range) {
    double best = 1e300;
    Point offset{0, 0};
    for (int dy = -range; dy <= range; ++dy)
        for (int dx = -range; dx <= range; ++dx) {
            double sum = 0;
            int count = 0;
            for (int y = std::max(0, -dy); y < std::min(original.height, frame.height - dy); ++y)
                for (int x = std::max(0, -dx); x < std::min(original.width, frame.width - dx); ++x) {
                    const double d = frame.at(x + dx, y + dy) - original.at(x, y);
                    sum += d * d;
                    ++count;
                }
            if (sum / count < best) {
                best = sum / count;
                offset = {static_cast<double>(dx), static_cast<double>(dy)};
            }
        }
    return offset;
}

// Sum of squared neighbour differences: what any sharpness measure rewards.
double gradientEnergy(const Grey& image) {
    double sum = 0;
    for (int y = 0; y + 1 < image.height; ++y)
        for (int x = 0; x + 1 < image.width; ++x) {
            const double dx = image.at(x + 1, y) - image.at(x, y), dy = image.at(x, y + 1) - image.at(x, y);
            sum += dx * dx + dy * dy;
        }
    return sum;
}

// A plain sampled-Gaussian blur, written independently of the renderer.
Grey gaussianBlur(const Grey& image, double sigma) {
    const int radius = static_cast<int>(std::ceil(4 * sigma));
    std::vector<double> kernel;
    double total = 0;
    for (int i = -radius; i <= radius; ++i) total += kernel.emplace_back(std::exp(-0.5 * i * i / (sigma * sigma)));
    for (double& k : kernel) k /= total;
    Grey rows = image, out = image;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            double sum = 0;
            for (int i = -radius; i <= radius; ++i)
                if (x + i >= 0 && x + i < image.width) sum += kernel[i + radius] * image.at(x + i, y);
            rows.values[static_cast<std::size_t>(y) * image.width + x] = sum;
        }
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            double sum = 0;
            for (int i = -radius; i <= radius; ++i)
                if (y + i >= 0 && y + i < image.height) sum += kernel[i + radius] * rows.at(x, y + i);
            out.values[static_cast<std::size_t>(y) * image.width + x] = sum;
        }
    return out;
}

DemoOptions smallDemo(const std::string& directory, int frames, unsigned seed = 1) {
    DemoOptions options;
    options.directory = directory;
    options.frames = frames;
    options.width = 160;
    options.height = 120;
    options.seed = seed;
    return options;
}

constexpr FrameEffects kClean{false, false};

TEST(SyntheticPlanet, Frame_ShowsTheOriginalAtThePlusShift) {
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

    // Sub-pixel shifts, sharp and blurred: the planet's centre moves by the
    // shift and the best whole-pixel match is the rounded shift.
    const Point home = centroid(original);
    for (const FrameTruth truth : {FrameTruth{7.3, -4.6, 0}, FrameTruth{-5.45, 6.8, 2.5}}) {
        renderer.render(truth, 0, kClean, frame);
        const Grey image = grey(frame);
        const Point centre = centroid(image);
        EXPECT_NEAR(centre.x - home.x, truth.shiftX, 0.03);
        EXPECT_NEAR(centre.y - home.y, truth.shiftY, 0.03);
        const Point whole = bestWholeOffset(image, original, 9);
        EXPECT_EQ(whole.x, std::round(truth.shiftX));
        EXPECT_EQ(whole.y, std::round(truth.shiftY));
    }
}

TEST(SyntheticPlanet, Blur_IsAGaussianOfTheStatedSigmaAndRanksSharpness) {
    PlanetRenderer renderer(160, 120, 2);
    const Grey original = grey(renderer.original());
    Bitmap24 frame;
    double previousEnergy = gradientEnergy(original);
    for (double sigma : {0.7, 1.2, 1.9, 2.8, 4.5}) {
        renderer.render({0, 0, sigma}, 0, kClean, frame);
        const Grey image = grey(frame);
        const auto meanDifference = [&](double reference) {
            const Grey expected = gaussianBlur(original, reference);
            double sum = 0;
            for (std::size_t i = 0; i < image.values.size(); ++i) sum += std::abs(image.values[i] - expected.values[i]);
            return sum / image.values.size();
        };
        // Close to the stated sigma, and clearly closer than to 15% off.
        const double stated = meanDifference(sigma);
        EXPECT_LT(stated, 0.35) << "sigma " << sigma;
        EXPECT_LT(stated, 0.5 * meanDifference(sigma * 1.15)) << "sigma " << sigma;
        EXPECT_LT(stated, 0.5 * meanDifference(sigma * 0.85)) << "sigma " << sigma;

        const double energy = gradientEnergy(image);
        EXPECT_LT(energy, previousEnergy) << "sigma " << sigma;
        previousEnergy = energy;
    }
}

TEST(SyntheticPlanet, Truth_WalksWithinTwentyPixelsAndBlursLikeTheSeeing) {
    for (unsigned seed : {1u, 2u, 3u}) {
        DemoOptions options;
        options.seed = seed;
        const std::vector<FrameTruth> truth = demoTruth(options);
        ASSERT_EQ(truth.size(), 500u);
        std::vector<double> blurs, xs, ys;
        double step = 0;
        for (std::size_t i = 0; i < truth.size(); ++i) {
            blurs.push_back(truth[i].blur);
            xs.push_back(truth[i].shiftX);
            ys.push_back(truth[i].shiftY);
            if (i > 0) step += std::hypot(xs[i] - xs[i - 1], ys[i] - ys[i - 1]);
        }
        std::sort(blurs.begin(), blurs.end());
        EXPECT_GE(blurs.front(), 0.7);
        EXPECT_LT(blurs.front(), 1.0);
        EXPECT_LE(blurs.back(), 4.5);
        EXPECT_GT(blurs.back(), 3.8);
        EXPECT_NEAR(blurs[blurs.size() / 2], 1.9, 0.2) << "median, seed " << seed;
        for (const auto* axis : {&xs, &ys}) {
            const auto [low, high] = std::minmax_element(axis->begin(), axis->end());
            EXPECT_GE(*low, -20.0);
            EXPECT_LE(*high, 20.0);
            EXPECT_GT(*high - *low, 8.0) << "the walk should wander, seed " << seed;
        }
        // Jitter: frames differ by a pixel or two, not by the whole range.
        EXPECT_GT(step / 499, 1.0);
        EXPECT_LT(step / 499, 5.0);
    }
}

TEST(SyntheticPlanet, SameSeed_GivesTheSameSequenceInAnyOrder) {
    const DemoOptions options = smallDemo("", 6, 9);
    DemoOptions other = options;
    other.seed = 10;
    DemoOptions longer = options;
    longer.frames = 40;

    const std::vector<FrameTruth> truth = demoTruth(options);
    const std::vector<FrameTruth> longTruth = demoTruth(longer);
    const std::vector<FrameTruth> otherTruth = demoTruth(other);
    for (std::size_t i = 0; i < truth.size(); ++i) {
        EXPECT_EQ(truth[i].shiftX, longTruth[i].shiftX);
        EXPECT_EQ(truth[i].blur, longTruth[i].blur);
    }
    EXPECT_NE(truth[0].shiftX, otherTruth[0].shiftX);

    FrameTruth fifth;
    const Bitmap24 alone = renderDemoFrame(options, 5, &fifth);
    EXPECT_EQ(fifth.shiftX, truth[5].shiftX);
    PlanetRenderer renderer(options.width, options.height, options.seed);
    Bitmap24 frame;
    for (int i = 0; i < 6; ++i) renderer.render(truth[static_cast<std::size_t>(i)], i, FrameEffects{}, frame);
    EXPECT_TRUE(frame == alone);
    EXPECT_TRUE(renderDemoOriginal(options) == renderer.original());
    EXPECT_FALSE(renderDemoOriginal(other) == renderer.original());
    EXPECT_FALSE(renderDemoFrame(options, 4) == alone);
}

TEST(SyntheticPlanet, NoiseAndDistortion_AreSmallAndWhereTheyBelong) {
    PlanetRenderer renderer(160, 120, 4);
    const FrameTruth truth{1.5, -2.25, 1.5};
    Bitmap24 clean, noisy, distorted;
    renderer.render(truth, 3, kClean, clean);
    renderer.render(truth, 3, FrameEffects{false, true}, noisy);
    renderer.render(truth, 3, FrameEffects{true, false}, distorted);
    const Grey plain = grey(clean);

    // Photon noise grows with the signal (variance 4 + signal / 4 levels,
    // 7 levels at 190), read noise alone is left on the black sky.
    double skySum = 0, scaledSum = 0;
    int skyCount = 0, litCount = 0;
    std::uint8_t peak = 0;
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 160; ++x)
            for (int c = 0; c < 3; ++c) {
                const int signal = clean.pixel(x, y)[c];
                const double d = noisy.pixel(x, y)[c] - signal;
                peak = std::max(peak, renderer.original().pixel(x, y)[c]);
                if (signal == 0) {
                    skySum += d * d;
                    ++skyCount;
                } else if (signal > 30) {
                    scaledSum += d * d / (4.0 + signal / 4.0);
                    ++litCount;
                }
            }
    ASSERT_GT(litCount, 1000);
    EXPECT_NEAR(scaledSum / litCount, 1.0, 0.15);
    EXPECT_NEAR(std::sqrt(skySum / skyCount), 1.4, 0.5);
    EXPECT_NEAR(peak, 200, 20);

    // Distortion moves detail by less than a pixel: every pixel stays within
    // the range its undistorted 3 x 3 neighbourhood spans, and the planet as
    // a whole stays where the truth puts it.
    const Grey bent = grey(distorted);
    double moved = 0;
    for (int y = 1; y < 119; ++y)
        for (int x = 1; x < 159; ++x) {
            double low = 1e9, high = -1e9;
            for (int j = -1; j <= 1; ++j)
                for (int i = -1; i <= 1; ++i) {
                    low = std::min(low, plain.at(x + i, y + j));
                    high = std::max(high, plain.at(x + i, y + j));
                }
            EXPECT_GE(bent.at(x, y), low - 1.5) << x << "," << y;
            EXPECT_LE(bent.at(x, y), high + 1.5) << x << "," << y;
            moved += std::abs(bent.at(x, y) - plain.at(x, y));
        }
    EXPECT_GT(moved / (158 * 118), 0.05) << "distortion had no effect";
    const Point a = centroid(plain), b = centroid(bent);
    EXPECT_NEAR(a.x, b.x, 0.1);
    EXPECT_NEAR(a.y, b.y, 0.1);

    // Both change from frame to frame; a fixed pattern would survive stacking.
    Bitmap24 next;
    renderer.render(truth, 4, FrameEffects{false, true}, next);
    EXPECT_FALSE(next == noisy);
    renderer.render(truth, 4, FrameEffects{true, false}, next);
    EXPECT_FALSE(next == distorted);
}

TEST(SyntheticPlanet, Drift_MovesThePlanetByTheGivenAmount) {
    DemoOptions options = smallDemo("", 5, 6);
    options.width = 200;
    options.drift = 40;
    const std::vector<FrameTruth> truth = demoTruth(options);
    EXPECT_NEAR(truth.front().shiftX, -20, 1.6);
    EXPECT_NEAR(truth.back().shiftX, 20, 1.6);
    EXPECT_NEAR(truth[2].shiftX, 0, 1.6);
    for (const FrameTruth& frame : truth) EXPECT_LT(std::abs(frame.shiftY), 1.6);

    const Point first = centroid(grey(renderDemoFrame(options, 0)));
    const Point last = centroid(grey(renderDemoFrame(options, 4)));
    EXPECT_NEAR(last.x - first.x, truth.back().shiftX - truth.front().shiftX, 0.3);
    EXPECT_NEAR(last.x - first.x, 40, 3.5);
}

std::vector<std::vector<std::string>> readCsv(const std::string& path) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(testing::readText(path));
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) fields.push_back(cell);
        rows.push_back(fields);
    }
    return rows;
}

Bitmap24 bitmapFromBgr(const std::string& bytes, std::size_t offset, int width, int height) {
    Bitmap24 image(width, height);
    std::copy_n(bytes.data() + offset, Bitmap24::byteCount(width, height), reinterpret_cast<char*>(image.data()));
    return image;
}

std::string decodeWithFfmpeg(const std::string& path) {
    const testing::CommandResult result =
        testing::runCommand("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt bgr24 -");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    return result.out;
}

TEST(SyntheticPlanet, WrittenAvi_FramesMatchTruthCsvAndTheOriginal) {
    TempDir dir;
    const DemoOptions options = smallDemo(dir.path() + "/demo", 6, 3);
    RunProgress progress;
    const DemoResult result = writeDemoSequence(options, progress);
    ASSERT_FALSE(result.stopped);
    ASSERT_EQ(result.sequenceFiles.size(), 1u);
    EXPECT_EQ(std::filesystem::path(result.sequenceFiles[0]).filename(), "planet.avi");

    const auto rows = readCsv(result.truthFile);
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"frame", "shift_x", "shift_y", "blur"}));
    const std::vector<FrameTruth> truth = demoTruth(options);
    for (std::size_t i = 1; i < rows.size(); ++i) {
        ASSERT_EQ(rows[i].size(), 4u);
        EXPECT_EQ(rows[i][0], std::to_string(i - 1));
        for (std::size_t k = 1; k < 4; ++k) {
            const std::string& cell = rows[i][k];
            const auto dot = cell.find('.');
            ASSERT_NE(dot, std::string::npos) << cell;
            EXPECT_EQ(cell.size() - dot - 1, 4u) << cell;
        }
        EXPECT_EQ(std::strtod(rows[i][1].c_str(), nullptr), truth[i - 1].shiftX);
        EXPECT_EQ(std::strtod(rows[i][2].c_str(), nullptr), truth[i - 1].shiftY);
        EXPECT_EQ(std::strtod(rows[i][3].c_str(), nullptr), truth[i - 1].blur);
    }

    const std::string originalBytes = decodeWithFfmpeg(result.originalFile);
    ASSERT_EQ(originalBytes.size(), Bitmap24::byteCount(160, 120));
    const Bitmap24 original = bitmapFromBgr(originalBytes, 0, 160, 120);
    EXPECT_TRUE(original == renderDemoOriginal(options));
    const Point home = centroid(grey(original));

    const std::string video = decodeWithFfmpeg(result.sequenceFiles[0]);
    ASSERT_EQ(video.size(), 6 * Bitmap24::byteCount(160, 120));
    double largestShift = 0;
    for (int i = 0; i < 6; ++i) {
        const Bitmap24 frame = bitmapFromBgr(video, i * Bitmap24::byteCount(160, 120), 160, 120);
        EXPECT_TRUE(frame == renderDemoFrame(options, i)) << "frame " << i;
        const FrameTruth& t = truth[static_cast<std::size_t>(i)];
        const Grey image = grey(frame);
        const Point centre = centroid(image);
        EXPECT_NEAR(centre.x - home.x, t.shiftX, 0.3) << "frame " << i;
        EXPECT_NEAR(centre.y - home.y, t.shiftY, 0.3) << "frame " << i;
        largestShift = std::max({largestShift, std::abs(t.shiftX), std::abs(t.shiftY)});
    }
    EXPECT_GT(largestShift, 3.0) << "the seed should make shifts a sign error would show";
}

TEST(SyntheticPlanet, StillFrameFormats_WriteNumberedFiles) {
    TempDir dir;
    for (const DemoOptions::Format format : {DemoOptions::Bmp, DemoOptions::Jpg}) {
        DemoOptions options = smallDemo(dir.path(), 3, 8);
        options.width = 64;
        options.height = 48;
        options.format = format;
        RunProgress progress;
        const DemoResult result = writeDemoSequence(options, progress);
        const std::string extension = format == DemoOptions::Bmp ? ".bmp" : ".jpg";
        ASSERT_EQ(result.sequenceFiles.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(result.sequenceFiles[static_cast<std::size_t>(i)], dir.file("frame_000" + std::to_string(i) + extension));
            Bitmap24 read;
            if (format == DemoOptions::Bmp) {
                readBmpFile(result.sequenceFiles[static_cast<std::size_t>(i)], read);
                EXPECT_TRUE(read == renderDemoFrame(options, i));
            } else {
                decodeJpegFile(result.sequenceFiles[static_cast<std::size_t>(i)], read);
                EXPECT_EQ(read.width(), 64);
                EXPECT_EQ(read.height(), 48);
            }
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

TEST(SyntheticPlanet, Stop_LeavesNothingBehindAndCompletionReachesHundred) {
    for (const DemoOptions::Format format : {DemoOptions::Avi, DemoOptions::Bmp}) {
        TempDir dir;
        DemoOptions options = smallDemo(dir.path(), 5);
        options.format = format;
        StoppingProgress stopping(2);
        const DemoResult stopped = writeDemoSequence(options, stopping);
        EXPECT_TRUE(stopped.stopped);
        EXPECT_TRUE(stopped.sequenceFiles.empty());
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "format " << format;

        StoppingProgress running(1000);
        const DemoResult done = writeDemoSequence(options, running);
        EXPECT_FALSE(done.stopped);
        EXPECT_TRUE(std::is_sorted(running.percents.begin(), running.percents.end()));
        EXPECT_EQ(running.percents.back(), 100);
        EXPECT_TRUE(std::filesystem::exists(done.originalFile));
    }
}

TEST(SyntheticPlanet, BadOptions_AreRefused) {
    TempDir dir;
    RunProgress progress;
    const auto refused = [&](auto change) {
        DemoOptions options = smallDemo(dir.path(), 2);
        change(options);
        EXPECT_THROW(writeDemoSequence(options, progress), PlanexorError);
    };
    refused([](DemoOptions& o) { o.frames = 0; });
    refused([](DemoOptions& o) { o.width = 8; });
    refused([](DemoOptions& o) { o.height = 5000; });
    refused([](DemoOptions& o) { o.drift = std::nan(""); });
    refused([](DemoOptions& o) { o.directory = ""; });
    testing::writeText(dir.file("plain"), "x");
    refused([&](DemoOptions& o) { o.directory = dir.file("plain"); });
    EXPECT_THROW(demoTruth(smallDemo("", -1)), PlanexorError);
    PlanetRenderer renderer(32, 32, 1);
    Bitmap24 frame;
    EXPECT_THROW(renderer.render({std::nan(""), 0, 1}, 0, FrameEffects{}, frame), PlanexorError);
    EXPECT_THROW(renderer.render({0, 0, -1}, 0, FrameEffects{}, frame), PlanexorError);
}

}  // namespace
}  // namespace planexor
