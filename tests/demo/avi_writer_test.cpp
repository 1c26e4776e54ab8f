#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <utility>
#include <sstream>
#include <string>
#include <vector>

#include "core/error.h"
#include "demo/avi_writer.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

std::map<std::string, std::string> probeVideo(const std::string& path) {
    const testing::CommandResult probe = testing::runCommand(
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=codec_name,width,height,nb_frames,nb_read_frames -of default=noprint_wrappers=1 '" +
        path + "'");
    EXPECT_EQ(probe.status, 0) << probe.err;
    std::map<std::string, std::string> fields;
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);) {
        const auto equals = line.find('=');
        if (equals != std::string::npos) fields[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return fields;
}

// Decodes every frame with the ffmpeg tool, an independent reader.
std::string decodeToBgr(const std::string& path) {
    const testing::CommandResult decoded =
        testing::runCommand("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt bgr24 -");
    EXPECT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.err, "") << "ffmpeg complained about " << path;
    return decoded.out;
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return value;
}

// ffmpeg forgives wrong sizes, other readers do not: walk the RIFF tree,
// the movi chunks and the index against each other.
void expectSoundRiff(const std::string& path, std::uint32_t frames, const std::string& chunkId) {
    const std::string bytes = testing::readText(path);
    ASSERT_GE(bytes.size(), 232u);
    EXPECT_EQ(bytes.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(bytes.substr(8, 4), "AVI ");
    EXPECT_EQ(le32(bytes, 48), frames) << "avih total frames";
    std::vector<std::string> topLevel;
    std::vector<std::pair<std::size_t, std::uint32_t>> chunks;  // offset from 'movi', size
    std::size_t movi = 0, at = 12;
    while (at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const std::uint32_t size = le32(bytes, at + 4);
        topLevel.push_back(id == "LIST" ? bytes.substr(at + 8, 4) : id);
        if (topLevel.back() == "movi") {
            movi = at + 8;
            for (std::size_t inner = at + 12; inner < at + 8 + size;) {
                EXPECT_EQ(bytes.substr(inner, 4), chunkId);
                chunks.emplace_back(inner - movi, le32(bytes, inner + 4));
                inner += 8 + chunks.back().second + (chunks.back().second & 1);
            }
        }
        if (id == "idx1") {
            ASSERT_EQ(size, 16u * chunks.size());
            for (std::size_t i = 0; i < chunks.size(); ++i) {
                EXPECT_EQ(bytes.substr(at + 8 + 16 * i, 4), chunkId);
                EXPECT_EQ(le32(bytes, at + 16 + 16 * i), chunks[i].first);
                EXPECT_EQ(le32(bytes, at + 20 + 16 * i), chunks[i].second);
            }
        }
        at += 8 + size + (size & 1);
    }
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(topLevel, (std::vector<std::string>{"hdrl", "movi", "idx1"}));
    EXPECT_EQ(chunks.size(), frames);
}

void writeFrames(AviWriter& writer, std::vector<Bitmap24>& frames, int width, int height, int count) {
    for (int i = 0; i < count; ++i) {
        frames.push_back(testing::numberedFrame(width, height, i));
        writer.addFrame(frames.back());
    }
}

TEST(AviWriter, RawVideo_DecodesToTheFramesWrittenWithConsistentChunkSizes) {
    TempDir dir;
    const std::string path = dir.file("raw.avi");
    // 37 pixels: 111 bytes a row, so every DIB row carries one pad byte.
    const int width = 37, height = 23, count = 5;
    std::vector<Bitmap24> frames;
    AviWriter writer;
    writer.open(path, width, height, 25, AviWriter::Codec::Raw);
    writeFrames(writer, frames, width, height, count);
    writer.finish();
    EXPECT_FALSE(writer.isOpen());

    auto fields = probeVideo(path);
    EXPECT_EQ(fields["codec_name"], "rawvideo");
    EXPECT_EQ(fields["width"], "37");
    EXPECT_EQ(fields["height"], "23");
    EXPECT_EQ(fields["nb_frames"], "5");
    EXPECT_EQ(fields["nb_read_frames"], "5");

    std::string expected;
    for (const Bitmap24& frame : frames)
        expected.append(reinterpret_cast<const char*>(frame.data()), Bitmap24::byteCount(width, height));
    EXPECT_TRUE(decodeToBgr(path) == expected) << "pixels, row order or row padding differ";

    expectSoundRiff(path, count, "00db");
}

TEST(AviWriter, Mjpeg_IsReadByFfmpegWithEveryFrameAndPaddedChunks) {
    TempDir dir;
    const std::string path = dir.file("mjpeg.avi");
    const int width = 64, height = 48, count = 6;
    std::vector<Bitmap24> frames;
    AviWriter writer;
    writer.open(path, width, height, 30, AviWriter::Codec::Mjpeg, 95);
    writeFrames(writer, frames, width, height, count);
    writer.finish();

    auto fields = probeVideo(path);
    EXPECT_EQ(fields["codec_name"], "mjpeg");
    EXPECT_EQ(fields["nb_frames"], "6");
    EXPECT_EQ(fields["nb_read_frames"], "6");
    // JPEG sizes are odd about half the time, which exercises chunk padding.
    expectSoundRiff(path, count, "00dc");
    const std::string decoded = decodeToBgr(path);
    ASSERT_EQ(decoded.size(), count * Bitmap24::byteCount(width, height));
    // Lossy, so only close; a wrong frame order or orientation is far off.
    for (int i = 0; i < count; ++i) {
        double difference = 0;
        const std::size_t frameBytes = Bitmap24::byteCount(width, height);
        for (std::size_t k = 0; k < frameBytes; ++k)
            difference += std::abs(static_cast<unsigned char>(decoded[i * frameBytes + k]) -
                                   static_cast<int>(frames[static_cast<std::size_t>(i)].data()[k]));
        EXPECT_LT(difference / frameBytes, 12.0) << "frame " << i;
    }
}

TEST(AviWriter, AbandonedWrite_LeavesTheOldFileAndNoTemporary) {
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
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1);
}

TEST(AviWriter, BadArguments_AreRefused) {
    TempDir dir;
    AviWriter writer;
    EXPECT_THROW(writer.open(dir.file("missing/x.avi"), 16, 16, 25, AviWriter::Codec::Raw), PlanexorError);
    EXPECT_THROW(writer.open(dir.file("x.avi"), 0, 16, 25, AviWriter::Codec::Raw), PlanexorError);
    EXPECT_THROW(writer.open(dir.file("x.avi"), 16, 16, 0, AviWriter::Codec::Raw), PlanexorError);
    EXPECT_THROW(writer.addFrame(testing::numberedFrame(16, 16, 0)), PlanexorError);
    EXPECT_THROW(writer.finish(), PlanexorError);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.avi")));
}

}  // namespace
}  // namespace planexor
