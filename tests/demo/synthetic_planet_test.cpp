// Of the synthetic planet, only what the alignment and stacking tests rely
// on: shifts with the documented sign, a walk that wanders, and a stop that
// leaves nothing behind. (Registration ranks frames by the blur the truth
// states.) And the AVI files the demo writes, as other readers take them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "core/error.h"
#include "demo/avi_writer.h"
#include "demo/synthetic_planet.h"
#include "input/avi_reader.h"
#include "support/ffmpeg_tool.h"
#include "support/riff.h"
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

// The walk and the seeing are clamped to their ranges; within them the walk
// must wander and the seeing centre where the stacking tests expect it.
TEST(SyntheticPlanet, TruthWandersAndBlursLikeTheSeeing) {
    for (unsigned seed : {1u, 2u, 3u}) {
        DemoOptions options;
        options.seed = seed;
        std::vector<double> blurs, xs, ys;
        for (const FrameTruth& t : demoTruth(options)) blurs.push_back(t.blur), xs.push_back(t.shiftX), ys.push_back(t.shiftY);
        std::nth_element(blurs.begin(), blurs.begin() + blurs.size() / 2, blurs.end());
        EXPECT_NEAR(blurs[blurs.size() / 2], 1.9, 0.2) << seed;
        for (const auto* axis : {&xs, &ys}) {
            const auto [low, high] = std::minmax_element(axis->begin(), axis->end());
            EXPECT_GT(*high - *low, 8.0) << seed;
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

        // A run stopped over it, after its own sequence is written (in the
        // dark frames), leaves that demo as it was.
        const auto files = [&] {
            std::map<std::string, std::string> bytes;
            for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path()))
                if (entry.is_regular_file()) bytes[entry.path().string()] = testing::readText(entry.path().string());
            return bytes;
        };
        const auto before = files();
        DemoOptions again = smallDemo(dir.path(), format);
        again.hotPixels = 4;
        StoppingProgress late(again.frames + 2);
        EXPECT_TRUE(writeDemoSequence(again, late).stopped);
        EXPECT_EQ(files(), before);
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
        [](DemoOptions& o) { o.seeingDistortion = 2.5; }, [](DemoOptions& o) { o.patchySeeing = -0.5; },
    };
    RunProgress progress;
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        DemoOptions options = smallDemo(dir.path());
        changes[i](options);
        EXPECT_THROW(writeDemoSequence(options, progress), PlanexorError) << "change " << i;
    }
    // Fewer still frames over an earlier demo would leave its last frames among them.
    DemoOptions longer = smallDemo(dir.file("stills"), DemoOptions::Bmp), shorter = longer;
    shorter.frames = 3;
    writeDemoSequence(longer, progress);
    EXPECT_THROW(writeDemoSequence(shorter, progress), PlanexorError);
    PlanetRenderer renderer(32, 32, 1);
    Bitmap24 frame;
    EXPECT_THROW(renderer.render({std::nan(""), 0, 1}, 0, FrameEffects{}, frame), PlanexorError);
    EXPECT_THROW(renderer.render({0, 0, -1}, 0, FrameEffects{}, frame), PlanexorError);
}

// ffmpeg forgives wrong sizes, other readers do not: the RIFF size, the
// frame count, the movi chunks and the index must agree.
void expectSoundRiff(const std::string& bytes, std::uint32_t frames, const std::string& chunkId) {
    ASSERT_GE(bytes.size(), 232u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(testing::le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(testing::le32(bytes, 48), frames) << "avih total frames";
    const auto chunks = testing::chunksOf(bytes);
    const auto video = testing::videoChunks(chunks);
    ASSERT_EQ(video.size(), frames);
    const testing::Chunk& index = testing::firstChunk(chunks, "idx1");
    ASSERT_EQ(index.size, 16u * frames);
    const std::size_t movi = bytes.find("movi");
    for (std::size_t i = 0; i < frames; ++i) {
        EXPECT_EQ(video[i].id, chunkId);
        EXPECT_EQ(bytes.substr(index.at + 8 + 16 * i, 4), chunkId);
        EXPECT_EQ(testing::le32(bytes, index.at + 16 + 16 * i), video[i].at - movi) << i;
        EXPECT_EQ(testing::le32(bytes, index.at + 20 + 16 * i), video[i].size) << i;
    }
    const testing::Chunk& last = chunks.back();
    EXPECT_EQ(last.at + 8 + last.size + (last.size & 1), bytes.size());
}

TEST(AviWriter, RawAndMjpegAreReadByFfmpegAndOurReaderFrameForFrameWithConsistentChunks) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // 37 pixels: 111 bytes a row, so every DIB row carries one pad byte; JPEG
    // sizes are odd about half the time, which exercises chunk padding.
    struct Case { AviWriter::Codec codec; const char* chunkId; double tolerance; };
    for (const Case& c : {Case{AviWriter::Codec::Raw, "00db", 0.0}, Case{AviWriter::Codec::Mjpeg, "00dc", 12.0}}) {
        SCOPED_TRACE(c.chunkId);
        const std::string path = dir.file("out.avi");
        const int width = 37, height = 23, count = 6;
        std::vector<Bitmap24> frames;
        AviWriter writer;
        writer.open(path, width, height, 25, c.codec, 95);
        for (int i = 0; i < count; ++i) writer.addFrame(frames.emplace_back(testing::numberedFrame(width, height, i)));
        writer.finish();
        EXPECT_FALSE(writer.isOpen());
        expectSoundRiff(testing::readText(path), count, c.chunkId);

        // Our own reader as well: it must skip the row padding ffmpeg's files never have.
        const std::string decoded = testing::decodeWithFfmpeg(path);
        const std::size_t frameBytes = Bitmap24::byteCount(width, height);
        ASSERT_EQ(decoded.size(), count * frameBytes);
        AviReader ours(path);
        for (int i = count - 1; i >= 0; --i) {
            Bitmap24 frame(width, height), read;
            std::copy_n(decoded.data() + i * frameBytes, frameBytes, reinterpret_cast<char*>(frame.data()));
            ours.decode(i, read);
            // Lossy is only close; a wrong frame order or orientation is far off.
            EXPECT_LE(testing::meanDifference(frame, frames[i]), c.tolerance) << "frame " << i;
            EXPECT_LE(testing::meanDifference(read, frames[i]), c.tolerance) << "frame " << i;
        }
    }
}

TEST(AviWriter, RefusedArgumentsAndAbandonedWritesLeaveNoFileBehind) {
    TempDir dir;
    const std::string path = dir.file("kept.avi");
    testing::writeText(path, "old");
    {
        AviWriter writer;
        writer.open(path, 16, 16, 25, AviWriter::Codec::Raw);
        writer.addFrame(testing::numberedFrame(16, 16, 0));
        EXPECT_THROW(writer.addFrame(testing::numberedFrame(17, 16, 1)), PlanexorError);
    }
    EXPECT_EQ(testing::readText(path), "old");

    AviWriter writer;
    EXPECT_THROW(writer.open(dir.file("missing/x.avi"), 16, 16, 25, AviWriter::Codec::Raw), PlanexorError);
    EXPECT_THROW(writer.open(dir.file("x.avi"), 0, 16, 25, AviWriter::Codec::Raw), PlanexorError);
    EXPECT_THROW(writer.open(dir.file("x.avi"), 16, 16, 0, AviWriter::Codec::Raw), PlanexorError);
    EXPECT_THROW(writer.addFrame(testing::numberedFrame(16, 16, 0)), PlanexorError);
    EXPECT_THROW(writer.finish(), PlanexorError);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

}  // namespace
}  // namespace planexor
