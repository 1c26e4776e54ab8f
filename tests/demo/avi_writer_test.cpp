#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/error.h"
#include "demo/avi_writer.h"
#include "support/ffmpeg_tool.h"
#include "support/riff.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

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

TEST(AviWriter, RawAndMjpegAreReadByFfmpegFrameForFrameWithConsistentChunks) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // 37 pixels: 111 bytes a row, so every DIB row carries one pad byte; JPEG
    // sizes are odd about half the time, which exercises chunk padding.
    struct Case {
        AviWriter::Codec codec;
        const char* chunkId;
        double tolerance;
    };
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

        const std::string decoded = testing::decodeWithFfmpeg(path);
        const std::size_t frameBytes = Bitmap24::byteCount(width, height);
        ASSERT_EQ(decoded.size(), count * frameBytes);
        for (int i = 0; i < count; ++i) {
            Bitmap24 frame(width, height);
            std::copy_n(decoded.data() + i * frameBytes, frameBytes, reinterpret_cast<char*>(frame.data()));
            // Lossy is only close; a wrong frame order or orientation is far off.
            EXPECT_LE(testing::meanDifference(frame, frames[i]), c.tolerance) << "frame " << i;
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
