#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <numeric>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/file_io.h"
#include "input/avi_reader.h"
#include "support/ffmpeg_tool.h"
#include "support/riff.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::chunksOf;
using testing::Chunk;
using testing::firstChunk;
using testing::putLe32;
using testing::TempDir;
using testing::videoChunks;

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// Decodes the frames in `order` and checks each against `expected`: exactly,
// or for lossy codecs close to its own frame and nearer to it than to its
// neighbours, so an off-by-one cannot pass.
void expectFrames(AviReader& reader, const std::vector<Bitmap24>& expected, const std::vector<int>& order,
                  double tolerance) {
    Bitmap24 decoded;
    for (const int n : order) {
        reader.decode(n, decoded);
        ASSERT_EQ(decoded.width(), expected[n].width());
        ASSERT_EQ(decoded.height(), expected[n].height());
        if (tolerance == 0.0) {
            ASSERT_TRUE(decoded == expected[n]) << "frame " << n;
            continue;
        }
        const double own = testing::meanDifference(decoded, expected[n]);
        ASSERT_LT(own, tolerance) << "frame " << n;
        for (const int neighbour : {n - 1, n + 1}) {
            if (neighbour < 0 || neighbour >= static_cast<int>(expected.size())) continue;
            ASSERT_LT(own, testing::meanDifference(decoded, expected[neighbour])) << "frame " << n;
        }
    }
}

std::vector<int> inOrder(int count) {
    std::vector<int> order(count);
    std::iota(order.begin(), order.end(), 0);
    return order;
}

// Shuffled, then the last frame, then backwards from the end.
std::vector<int> testOrder(int count) {
    std::vector<int> order = inOrder(count);
    std::shuffle(order.begin(), order.end(), std::mt19937(7));
    order.push_back(count - 1);
    for (int i = count - 1; i >= 0; --i) order.push_back(i);
    return order;
}

// --- Shared videos: one ffmpeg run writes them all, as its start-up
// dominates the time these tests take ---

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kCount = 40;

struct SharedVideos {
    TempDir directory;
    std::vector<Bitmap24> frames;
    SharedVideos() {
        for (int n = 0; n < kCount; ++n) frames.push_back(testing::countingFrame(kWidth, kHeight, n));
        testing::writeVideos(frames, {{path("raw"), "-c:v rawvideo -pix_fmt bgr24"},
                                      {path("mjpeg"), "-c:v mjpeg -q:v 2 -pix_fmt yuvj422p"},
                                      // Two B-frames between references and a key frame every 12:
                                      // frames 10 and 11 are stored after key frame 12, shown before.
                                      {path("mpeg4"), "-c:v mpeg4 -bf 2 -g 12 -q:v 2"},
                                      {path("yuv420p"), "-c:v rawvideo -pix_fmt yuv420p"},
                                      {path("grey"), "-c:v rawvideo -pix_fmt gray"},
                                      {path("grey16"), "-c:v ffv1 -pix_fmt gray16le"}});
    }
    std::string path(const std::string& name) const { return directory.file(name + ".avi"); }
};

const SharedVideos& shared() {
    static const SharedVideos videos;
    return videos;
}

constexpr double kLossy = 8.0;

// --- Codecs ---

TEST(AviReaderTest, EveryCodecDecodesEveryFrameInAnyOrder) {
    REQUIRE_FFMPEG();
    struct Case { const char* name; const char* codec; double tolerance; };
    for (const Case& c : {Case{"raw", "rawvideo", 0.0}, Case{"yuv420p", "rawvideo", kLossy},
                          Case{"mjpeg", "mjpeg", kLossy}, Case{"mpeg4", "mpeg4", kLossy}}) {
        SCOPED_TRACE(c.name);
        const std::vector<Bitmap24>& frames = shared().frames;
        AviReader reader(shared().path(c.name));
        EXPECT_EQ(std::tuple(reader.frameCount(), reader.describe(), reader.truncated()),
                  std::tuple(kCount, std::string("AVI ") + c.codec, false));
        // A frame outside the video is refused, and the reader reads on.
        Bitmap24 frame;
        for (const int n : {-1, kCount})
            EXPECT_TRUE(startsWith(testing::errorOf([&] { reader.decode(n, frame); }), "Failed to decompress AVI frame"));
        expectFrames(reader, frames, testOrder(kCount), c.tolerance);
        expectFrames(reader, frames, {11, 10, 23, 22, 12, 35, 34, 0}, c.tolerance);
        // Reading in order never seeks; a jump back does, and reading on from there again does not.
        AviReader sequential(shared().path(c.name));
        const int seeksAfterOpening = sequential.seekCount();
        expectFrames(sequential, frames, inOrder(kCount), c.tolerance);
        EXPECT_EQ(sequential.seekCount(), seeksAfterOpening);
        expectFrames(sequential, frames, {3}, c.tolerance);
        const int seeksAfterJump = sequential.seekCount();
        EXPECT_GT(seeksAfterJump, seeksAfterOpening);
        expectFrames(sequential, frames, {4, 5, 6}, c.tolerance);
        EXPECT_EQ(sequential.seekCount(), seeksAfterJump);
    }
}

// Few colours, so a palette holds them all and the round trip is exact.
Bitmap24 quadrantFrame(int width, int height, int number) {
    return testing::picture(width, height, [&](int x, int y, int c) {
        const int shade = number * 4 + (x >= width / 2) + 2 * (y >= height / 2);
        return c == 0 ? shade * 37 % 256 : c == 1 ? 200 - shade * 5 : shade * 91 % 256;
    });
}

TEST(AviReaderTest, Grey8_IsExactGrey_AndWithoutColourTableStillGrey) {
    REQUIRE_FFMPEG();
    const std::string path = shared().path("grey");
    std::vector<Bitmap24> grey(2);
    AviReader reader(path);
    for (const int n : {0, 1}) reader.decode(n, grey[n]);
    // Sixteen-bit grey, a road of its own, gives the same grey: no video range clipping its ends.
    AviReader deep(shared().path("grey16"));
    expectFrames(deep, grey, {1, 0}, 1.0);
    // The same pixels as a plain 8-bit bitmap stream without a colour table,
    // as some mono cameras write them: bottom-up rows, read as grey.
    std::string bytes = testing::readText(path);
    const auto chunks = chunksOf(bytes);
    putLe32(bytes, firstChunk(chunks, "strh").at + 8 + 4, 0);
    putLe32(bytes, firstChunk(chunks, "strf").at + 8 + 16, 0);
    TempDir dir;
    testing::writeText(dir.file("bare.avi"), bytes);
    AviReader bare(dir.file("bare.avi"));
    Bitmap24 frame;
    for (const int n : {1, 0}) {
        bare.decode(n, frame);
        const auto upsideDown = [&](int x, int y, int c) { return grey[n].pixel(x, kHeight - 1 - y)[c]; };
        EXPECT_TRUE(frame == testing::picture(kWidth, kHeight, upsideDown)) << n;
    }
}

// Frame 3 is dropped (the AVI keeps its time slot empty) and audio lies
// between the frames: only real frames count. The palette is whatever
// palettegen chose, nothing a decoder could guess.
TEST(AviReaderTest, Pal8WithDroppedFramesAndAudio_ShowsTheStreamPaletteForRealFramesOnly) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const std::string path = dir.file("pal8.avi");
    std::vector<Bitmap24> frames;
    for (int n = 0; n < 10; ++n) frames.push_back(quadrantFrame(40, 24, n));
    testing::writeVideos(frames, {{path, "-f lavfi -i anullsrc=r=8000:cl=mono -vf \"select='not(eq(n,3))',split[a][b];"
                                         "[a]palettegen=reserve_transparent=0:stats_mode=full[p];"
                                         "[b][p]paletteuse=dither=none\" -fps_mode passthrough -shortest "
                                         "-c:v rawvideo -pix_fmt pal8 -c:a pcm_s16le"}});
    frames.erase(frames.begin() + 3);

    AviReader reader(path);
    ASSERT_EQ(reader.frameCount(), 9);
    expectFrames(reader, frames, testOrder(9), 0.0);
}

// --- Broken files ---

// A cut recording exposes its complete frames; an index that ends before the
// data (a capture stopped before writing all of it) leaves the frames after
// its last one to be read on, not dropped.
TEST(AviReaderTest, TruncatedRecordingsAndShortIndexes_ExposeEveryCompleteFrame) {
    REQUIRE_FFMPEG();
    const std::string bytes = testing::readText(shared().path("raw"));
    const auto chunks = chunksOf(bytes);
    const auto video = videoChunks(chunks);
    ASSERT_EQ(video.size(), std::size_t(kCount));
    const Chunk index = firstChunk(chunks, "idx1");
    // Three entries of sixteen bytes kept, the rest cut out.
    std::string shortIndex = bytes.substr(0, index.at + 8 + 3 * 16) + bytes.substr(index.at + 8 + index.size);
    putLe32(shortIndex, index.at + 4, 3 * 16);
    putLe32(shortIndex, 4, static_cast<std::uint32_t>(shortIndex.size() - 8));

    struct Case { std::string bytes; int complete; bool truncated = true; };
    const Case cases[] = {{bytes.substr(0, video[6].at + 8 + 100), 6}, {bytes.substr(0, video[6].at), 6},
                          {bytes.substr(0, video[kCount - 1].at + 8 + video[kCount - 1].size), kCount},
                          {bytes.substr(0, index.at + 40), kCount}, {shortIndex, kCount, false}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        const std::string path = dir.file("cut.avi");
        testing::writeText(path, c.bytes);
        AviReader reader(path);
        EXPECT_EQ(reader.truncated(), c.truncated);
        ASSERT_EQ(reader.frameCount(), c.complete);
        expectFrames(reader, shared().frames, testOrder(c.complete), 0.0);
    }
}

TEST(AviReaderTest, BrokenFiles_AreRefusedWithTheMatchingText) {
    REQUIRE_FFMPEG();
    const std::string bytes = testing::readText(shared().path("raw"));
    const auto chunks = chunksOf(bytes);
    TempDir dir;

    const std::string audio = dir.file("audio.avi");
    const std::string empty = dir.file("no_frames.avi");
    testing::runFfmpeg("-t 0.2 -f lavfi -i anullsrc=r=8000:cl=mono -t 0.2 -f lavfi -i color=size=32x24 -map 0:a "
                       "-c:a pcm_s16le '" + audio + "' -map 1:v -frames:v 0 -c:v rawvideo '" + empty + "'");

    // Each damage to a copy of the raw video, in a file of its own.
    int copies = 0;
    const auto damaged = [&](const std::function<void(std::string&)>& damage) {
        std::string copy = bytes;
        damage(copy);
        const std::string path = dir.file("damaged" + std::to_string(++copies) + ".avi");
        testing::writeText(path, copy);
        return path;
    };
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{dir.file("missing.avi"), dir.path(), damaged([](std::string& b) { b.clear(); }),
          damaged([](std::string& b) { b = "These are my observing notes, not a video.\n"; }),
          damaged([](std::string& b) { std::fill(b.begin() + 12, b.begin() + 600, '\x5a'); }),
          damaged([](std::string& b) { b.resize(100); })},
         "Failed to open AVI file"},
        {{audio}, "Failed to open AVI stream"},
        {{empty, damaged([&](std::string& b) { b.resize(videoChunks(chunks)[0].at + 20); })},
         "Failed to get AVI stream info"},
        {{damaged([&](std::string& b) { putLe32(b, firstChunk(chunks, "strf").at + 8 + 4, 0); })},
         "Failed to get AVI stream format size"},
        {{damaged([&](std::string& b) {
             b.replace(firstChunk(chunks, "strh").at + 8 + 4, 4, "ZQ9X");
             b.replace(firstChunk(chunks, "strf").at + 8 + 16, 4, "ZQ9X");
         })},
         "Failed to start AVI decompression"},
    };
    for (const auto& [paths, expected] : cases)
        for (const std::string& path : paths) {
            const std::string message = testing::errorOf([&] { AviReader reader(path); });
            EXPECT_TRUE(startsWith(message, expected)) << path << ": " << message;
            EXPECT_NE(message.find("(" + fileNameOf(path) + ")"), std::string::npos) << message;  // which file
        }
}

TEST(AviReaderTest, DamagedMjpegFrames_FailAloneAndTheRestStillDecode) {
    REQUIRE_FFMPEG();
    std::string bytes = testing::readText(shared().path("mjpeg"));
    const auto video = videoChunks(chunksOf(bytes));
    std::mt19937 random(3);
    // Flipped bits all through frame 5, and frame 6 zeroed after its headers.
    for (int i = 0; i < 40; ++i) {
        const std::size_t at = video[5].at + 8 + 200 + random() % (video[5].size - 200);
        bytes[at] = static_cast<char>(bytes[at] ^ (1 << (random() % 8)));
    }
    std::fill(bytes.begin() + video[6].at + 8 + 300, bytes.begin() + video[6].at + 8 + video[6].size, '\0');
    TempDir dir;
    testing::writeText(dir.file("damaged.avi"), bytes);

    AviReader reader(dir.file("damaged.avi"));
    Bitmap24 frame;
    // Which damage the codec notices depends on its version: a frame is refused under its own number or decoded.
    for (const int n : {5, 6, 4, 6, 7, 5}) {
        const std::string message = testing::errorOf([&] { reader.decode(n, frame); });
        EXPECT_TRUE(message == "(no error)" || message == "Failed to decompress AVI frame " + std::to_string(n))
            << message;
    }
    expectFrames(reader, shared().frames, {7, 0, 1, 2, 3, 4, 8, 39}, kLossy);
}

}  // namespace
}  // namespace planexor
