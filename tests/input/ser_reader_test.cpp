#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "core/error.h"
#include "demo/ser_writer.h"
#include "input/ser_reader.h"
#include "support/riff.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;
using Convention = SerWriter::FlagConvention;

struct ColourCase { SerColour colour; const char* sites; };  // sites: the 2 x 2 Bayer cell, row by row; empty: all kept

const ColourCase kColours[] = {
    {SerColour::Mono, ""},          {SerColour::BayerRggb, "RGGB"}, {SerColour::BayerGrbg, "GRBG"},
    {SerColour::BayerGbrg, "GBRG"}, {SerColour::BayerBggr, "BGGR"}, {SerColour::Rgb, ""},
    {SerColour::Bgr, ""},
};

// The B G R channel a Bayer site records.
int siteChannel(const char* sites, int x, int y) {
    const char site = sites[2 * (y & 1) + (x & 1)];
    return site == 'B' ? 0 : site == 'G' ? 1 : 2;
}

// Grey repeats a pixel's blue (the channel the picture asks for first) in its other channels.
Bitmap24 randomPicture(int width, int height, unsigned seed, bool grey) {
    std::mt19937 random(seed);
    int value = 0;
    return testing::picture(width, height, [&](int, int, int c) {
        if (c == 0 || !grey) value = static_cast<int>(random() % 256);
        return value;
    });
}

std::string writeSer(const std::string& path, const std::vector<Bitmap24>& frames, SerColour colour, int depth,
                     SerByteOrder order = SerByteOrder::LittleEndian,
                     Convention convention = Convention::CapturePrograms) {
    SerWriter::Format format;
    std::tie(format.colour, format.depth, format.order, format.convention) =
        std::tuple(colour, depth, order, convention);
    SerWriter writer;
    writer.open(path, frames.front().width(), frames.front().height(), format);
    for (const Bitmap24& frame : frames) writer.addFrame(frame);
    writer.finish();
    return path;
}

// A bare header: colour, byte-order flag, width, height, depth, frame count.
std::string header(int colour, int flag, int width, int height, int depth, int frames) {
    std::string bytes(178, '\0');
    bytes.replace(0, 14, "LUCAM-RECORDER");
    const int fields[] = {colour, flag, width, height, depth, frames};
    for (int i = 0; i < 6; ++i) testing::putLe32(bytes, 18 + 4 * i, static_cast<std::uint32_t>(fields[i]));
    return bytes;
}

// Every channel the file kept equals the picture written.
void expectKept(const Bitmap24& read, const Bitmap24& written, const ColourCase& colour) {
    ASSERT_EQ(read.width(), written.width());
    ASSERT_EQ(read.height(), written.height());
    for (int y = 0; y < read.height(); ++y)
        for (int x = 0; x < read.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                if (*colour.sites && c != siteChannel(colour.sites, x, y)) continue;
                ASSERT_EQ(read.pixel(x, y)[c], written.pixel(x, y)[c]) << "x " << x << " y " << y << " channel " << c;
            }
}

TEST(SerReader, EveryColourDepthAndByteOrder_ReadsBackWhatWasWritten) {
    TempDir dir;
    for (const ColourCase& colour : kColours)
        for (int depth : {8, 12, 16})
            for (SerByteOrder order : {SerByteOrder::LittleEndian, SerByteOrder::BigEndian})
                for (Convention convention : {Convention::CapturePrograms, Convention::FormatDescription}) {
                    // At 16 bits no sample can tell the order; the flag is read as capture programs set it.
                    if (depth == 16 && convention == Convention::FormatDescription) continue;
                    SCOPED_TRACE(serColourName(colour.colour) + " " + std::to_string(depth) + " bit, " +
                                 (order == SerByteOrder::LittleEndian ? "little" : "big") + "-endian, " +
                                 (convention == Convention::CapturePrograms ? "capture" : "description") + " flag");
                    const bool grey = colour.colour == SerColour::Mono;
                    const std::vector<Bitmap24> frames = {randomPicture(19, 5, 1, grey), randomPicture(19, 5, 2, grey)};
                    SerReader reader(writeSer(dir.file("r.ser"), frames, colour.colour, depth, order, convention));
                    ASSERT_EQ(reader.frameCount(), 2);
                    EXPECT_FALSE(reader.leftAligned());
                    Bitmap24 read;
                    for (int n : {1, 0}) {
                        reader.decode(n, read);
                        expectKept(read, frames[static_cast<std::size_t>(n)], colour);
                    }
                }
}

// A linear field comes back exactly where bilinear interpolation reaches
// whole neighbours; a flat one everywhere, the mirrored borders included.
TEST(SerReader, BayerFields_ComeBackAsTheirColours) {
    TempDir dir;
    // 20 wide: blocks of 16 pixels and a tail.
    const Bitmap24 flat = testing::picture(9, 7, [](int, int, int c) { return c == 0 ? 30 : c == 1 ? 140 : 220; });
    const Bitmap24 gradient = testing::picture(
        20, 10, [](int x, int y, int c) { return c == 0 ? 20 + 10 * x : c == 1 ? 30 + 12 * y : 250 - 6 * x - 5 * y; });
    for (const ColourCase& colour : kColours) {
        if (!*colour.sites) continue;
        SCOPED_TRACE(colour.sites);
        for (const Bitmap24* field : {&flat, &gradient}) {
            const int margin = field == &flat ? 0 : 1;
            SerReader reader(writeSer(dir.file("field.ser"), {*field}, colour.colour, 12));
            Bitmap24 read;
            reader.decode(0, read);
            for (int y = margin; y < field->height() - margin; ++y)
                for (int x = margin; x < field->width() - margin; ++x)
                    for (int c = 0; c < 3; ++c)
                        ASSERT_EQ(read.pixel(x, y)[c], field->pixel(x, y)[c]) << "x " << x << " y " << y << " c " << c;
        }
    }
}

// Left-aligned samples (low bits clear in every one) are read as 16-bit in
// the order those bits show: 12-bit ones under a flag that says the other
// order, and a dim 14-bit frame whose top is a fifth of the range, which is
// not taken as right-aligned. A depth below 8 stretches to 0..255.
TEST(SerReader, LeftAlignedAndLowDepthSamples_AreScaledByTheirDepth) {
    TempDir dir;
    std::mt19937 random(3);
    std::vector<unsigned> twelve(24), dim(256);
    for (unsigned& sample : twelve) sample = random() & 0xfff0;
    for (int i = 0; i < 256; ++i) dim[i] = (i * 13 % 3277) << 2;  // up to 3276 of 16383
    struct Case { int width, depth, flag; SerByteOrder order; const std::vector<unsigned>& samples; };
    for (const Case& c : {Case{6, 12, 1, SerByteOrder::LittleEndian, twelve},
                          {6, 12, 0, SerByteOrder::BigEndian, twelve}, {16, 14, 0, SerByteOrder::LittleEndian, dim}}) {
        SCOPED_TRACE(c.depth);
        const int height = static_cast<int>(c.samples.size()) / c.width;
        std::string bytes = header(0, c.flag, c.width, height, c.depth, 1);
        for (const unsigned sample : c.samples) {
            const char low = static_cast<char>(sample & 0xff), high = static_cast<char>(sample >> 8);
            bytes += c.order == SerByteOrder::LittleEndian ? std::string{low, high} : std::string{high, low};
        }
        testing::writeText(dir.file("aligned.ser"), bytes);
        SerReader reader(dir.file("aligned.ser"));
        EXPECT_TRUE(reader.leftAligned());
        EXPECT_EQ(reader.byteOrder(), c.order);
        Bitmap24 read;
        reader.decode(0, read);
        for (int i = 0; i < c.width * height; ++i)
            ASSERT_NEAR(read.pixel(i % c.width, i / c.width)[0], c.samples[i] / 257.0, 0.5) << i;
    }
    testing::writeText(dir.file("d4.ser"), header(0, 0, 4, 1, 4, 1) + std::string("\x00\x01\x08\x0f", 4));
    SerReader low(dir.file("d4.ser"));
    Bitmap24 read;
    low.decode(0, read);
    EXPECT_EQ((std::vector<int>{read.pixel(0, 0)[0], read.pixel(1, 0)[0], read.pixel(2, 0)[0], read.pixel(3, 0)[0]}),
              (std::vector<int>{0, 17, 136, 255}));
}

// 3000 frames of 4 MB, sparse on disk: frame 2500 starts past 4 GB.
TEST(SerReader, FrameFarIntoALongRecording_IsReadAtItsOwnOffset) {
    TempDir dir;
    const int width = 4096, height = 1024, frames = 3000;
    const std::uint64_t frameBytes = static_cast<std::uint64_t>(width) * height;
    const std::string path = dir.file("long.ser");
    testing::writeText(path, header(0, 0, width, height, 8, frames));
    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        for (int frame : {2499, 2500, 2501}) {
            file.seekp(static_cast<std::streamoff>(178 + frame * frameBytes));
            const char mark[2] = {static_cast<char>(frame & 0xff), static_cast<char>(frame >> 8)};
            file.write(mark, 2);
        }
    }
    std::error_code error;
    std::filesystem::resize_file(path, 178 + frames * frameBytes + frames * 8, error);
    if (error) GTEST_SKIP() << "no sparse files here";
    SerReader reader(path);
    EXPECT_EQ(reader.frameCount(), frames);
    EXPECT_FALSE(reader.truncated());
    Bitmap24 read;
    reader.decode(2500, read);
    EXPECT_EQ(read.pixel(0, 0)[0] | read.pixel(1, 0)[0] << 8, 2500);
    EXPECT_EQ(reader.timestamp(2500), 0);
}

TEST(SerReader, CutRecordingsAndTrailers_AreReadAsFarAsTheyGo) {
    TempDir dir;
    std::vector<Bitmap24> frames;
    for (unsigned i = 0; i < 5; ++i) frames.push_back(randomPicture(4, 3, i, true));
    const std::string whole = testing::readText(writeSer(dir.file("whole.ser"), frames, SerColour::Mono, 16));
    const std::size_t frameBytes = 4 * 3 * 2, trailerAt = 178 + 5 * frameBytes;
    struct Case { const char* name; std::size_t length; int frames; bool timestamps;
                  const char* warning = ""; bool uncounted = false; };
    const Case cases[] = {
        {"complete", whole.size(), 5, true},
        {"trailer cut", trailerAt + 20, 5, false},
        {"no trailer", trailerAt, 5, false},
        {"frame 3 cut", trailerAt - frameBytes - 5, 3, false, "only 3 of its 5 frames"},
        // A capture cut off before its writer filled in the count.
        {"no count", trailerAt, 5, false, "does not say how many frames", true},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        std::string bytes = whole.substr(0, test.length);
        if (test.uncounted) bytes.replace(38, 4, std::string(4, '\0'));
        testing::writeText(dir.file("cut.ser"), bytes);
        SerReader reader(dir.file("cut.ser"));
        EXPECT_EQ(reader.frameCount(), test.frames);
        EXPECT_EQ(reader.truncated(), test.frames < 5 || test.uncounted);
        EXPECT_NE(reader.warning().find(test.warning), std::string::npos) << reader.warning();
        // A partial trailer is no trailer, even where whole stamps remain.
        EXPECT_EQ(reader.timestamp(0).has_value(), test.timestamps);
        EXPECT_EQ(reader.timestamp(4).has_value(), test.timestamps);
        if (test.timestamps) {
            EXPECT_EQ(*reader.timestamp(4) - *reader.timestamp(0), 4 * 400000);
        }
        Bitmap24 read;
        reader.decode(test.frames - 1, read);
        expectKept(read, frames[static_cast<std::size_t>(test.frames - 1)], kColours[0]);
        EXPECT_THROW(reader.decode(test.frames, read), PlanexorError);
    }
}

TEST(SerReader, BadFiles_AreRefusedWithTheReason) {
    TempDir dir;
    const std::string frame(64, '\x10');
    struct Case { std::string bytes; const char* reason; };
    const Case cases[] = {
        {header(0, 0, 100000, 100000, 8, 1) + frame, "impossible frame size 100000 x 100000"},
        {header(0, 0, 16384, 16384, 16, 1) + frame, "impossible frame size"},
        {header(0, 0, -4, 4, 8, 1) + frame, "impossible frame size"},
        {header(8, 0, 1, 8, 8, 1) + frame, "at least 2 x 2"},
        {header(0, 0, 4, 4, 0, 1) + frame, "pixel depth 0"},
        {header(0, 0, 4, 4, 17, 1) + frame, "pixel depth 17"},
        {header(16, 0, 4, 4, 8, 1) + frame, "colour ID 16 (a CMY Bayer pattern)"},
        {header(42, 0, 4, 4, 8, 1) + frame, "unknown colour ID 42"},
        {header(0, 0, 4, 4, 8, 0), "no complete frame (its header declares 0)"},
        {header(0, 0, 4, 4, 8, -3) + frame, "negative number of frames"},
        {header(0, 0, 4, 4, 16, 2) + frame.substr(0, 31), "no complete frame (its header declares 2)"},
        {header(0, 0, 4, 4, 8, 1).substr(0, 100), "shorter than a SER header"},
        {std::string(300, 'x'), "not a SER file"},
        {"", "shorter than a SER header"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.reason);
        testing::writeText(dir.file("bad.ser"), test.bytes);
        const std::string text = testing::errorOf([&] { SerReader reader(dir.file("bad.ser")); });
        EXPECT_NE(text.find("bad.ser"), std::string::npos) << text;
        EXPECT_NE(text.find(test.reason), std::string::npos) << text;
    }
    EXPECT_THROW(SerReader(dir.file("missing.ser")), PlanexorError);
}

}  // namespace
}  // namespace planexor
