// Of the synthetic planet, what no other test shows: its blur's median and
// spread, a stop that leaves nothing behind, the seeing.csv of a finished demo
// and bad options refused. (Its shifts, walk and seeing are held to its truth
// by the registration, alignment-point and accuracy tests.) And the AVI files
// the demo writes, as other readers take them.
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

// The accuracy targets are set on frames blurred around a median of 1.9 pixels
// with a log-normal spread of 0.33: a sharper or steadier demo flatters them.
TEST(SyntheticPlanet, BlurCentresOnItsMedianWithItsSpread) {
    for (unsigned seed : {1u, 2u, 3u}) {
        DemoOptions options;
        options.seed = seed;
        std::vector<double> logs;
        for (const FrameTruth& t : demoTruth(options)) logs.push_back(std::log(t.blur));
        std::sort(logs.begin(), logs.end());
        const std::size_t n = logs.size();
        EXPECT_NEAR(std::exp(logs[n / 2]), 1.9, 0.2) << seed;
        // The interquartile range of a normal is 1.349 of its deviation.
        EXPECT_NEAR((logs[3 * n / 4] - logs[n / 4]) / 1.349, 0.33, 0.06) << seed;
    }
}

// Stops after a given number of frames.
struct StoppingProgress : RunProgress {
    explicit StoppingProgress(int framesBeforeStop) : left(framesBeforeStop) {}
    void yield() override { --left; }
    bool stopRequested() const override { return left < 0; }
    int left;
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

TEST(SyntheticPlanet, StopLeavesNothingBehindAndCompletionWritesItsFiles) {
    for (const DemoOptions::Format format : {DemoOptions::Avi, DemoOptions::Bmp}) {
        SCOPED_TRACE(format);
        TempDir dir;
        StoppingProgress stopping(2);
        const DemoResult stopped = writeDemoSequence(smallDemo(dir.path(), format), stopping);
        EXPECT_TRUE(stopped.stopped);
        EXPECT_TRUE(stopped.sequenceFiles.empty());
        EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

        StoppingProgress running(1000);
        DemoOptions seeing = smallDemo(dir.path(), format);
        seeing.seeingDistortion = 1;
        const DemoResult done = writeDemoSequence(seeing, running);
        EXPECT_FALSE(done.stopped);
        EXPECT_TRUE(std::filesystem::exists(done.originalFile));
        EXPECT_EQ(testing::readText(done.seeingFile).rfind("frame,x,y,dx,dy\n", 0), 0u);

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
