#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

#include "core/error.h"
#include "input/bmp_codec.h"
#include "core/file_io.h"
#include "input/jpeg_codec.h"
#include "input/still_frames.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

// Builds a BMP by hand, so the reader is checked against the format rather
// than against our own writer.
std::vector<std::uint8_t> handmadeBmp(int width, int height, int bits, const std::vector<std::uint32_t>& palette,
                                      const std::vector<std::vector<std::uint8_t>>& rowsInFileOrder,
                                      std::uint32_t compression = 0) {
    const std::size_t paletteBytes = palette.size() * 4;
    std::size_t imageBytes = 0;
    for (const auto& row : rowsInFileOrder) imageBytes += row.size();
    std::vector<std::uint8_t> out(54 + paletteBytes + imageBytes, 0);
    auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(&out[at], &v, 4); };
    auto put16 = [&](std::size_t at, std::uint16_t v) { std::memcpy(&out[at], &v, 2); };
    out[0] = 'B';
    out[1] = 'M';
    put32(2, static_cast<std::uint32_t>(out.size()));
    put32(10, static_cast<std::uint32_t>(54 + paletteBytes));
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    put16(26, 1);
    put16(28, static_cast<std::uint16_t>(bits));
    put32(30, compression);
    put32(46, static_cast<std::uint32_t>(palette.size()));
    for (std::size_t i = 0; i < palette.size(); ++i) put32(54 + 4 * i, palette[i]);
    std::size_t at = 54 + paletteBytes;
    for (const auto& row : rowsInFileOrder) {
        std::memcpy(&out[at], row.data(), row.size());
        at += row.size();
    }
    return out;
}

// A one-component JPEG, as a monochrome camera writes it.
std::vector<std::uint8_t> greyJpeg(int width, int height, std::uint8_t level) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = width;
    info.image_height = height;
    info.input_components = 1;
    info.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(width, level);
    while (info.next_scanline < info.image_height) {
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

std::vector<std::uint8_t> bgr(const Bitmap24& image, int x, int y) {
    const std::uint8_t* p = image.pixel(x, y);
    return {p[0], p[1], p[2]};
}

TEST(BmpReader, OddWidthTwentyFourBitRoundTripsWithRowPadding) {
    const Bitmap24 original = testing::numberedFrame(13, 7, 5);
    const auto bytes = encodeBmp(original);
    EXPECT_EQ(bytes.size(), 54u + 7 * 40);  // 13 * 3 = 39 bytes, padded to 40
    Bitmap24 decoded;
    decodeBmp(bytes.data(), bytes.size(), decoded);
    EXPECT_EQ(decoded, original);
}

TEST(BmpReader, PaletteFormatsAndBothRowOrdersDecodeToTheRightPixels) {
    // Palette: 0 black, 1 red, 2 green, 3 blue (stored B G R 0).
    const std::vector<std::uint32_t> palette = {0x000000, 0xff0000, 0x00ff00, 0x0000ff};
    const std::vector<std::uint8_t> red = {0, 0, 255}, green = {0, 255, 0}, blue = {255, 0, 0}, black = {0, 0, 0},
                                    white = {255, 255, 255};
    auto topDown = handmadeBmp(3, 1, 4, palette, {{0x12, 0x30, 0, 0}});
    const std::int32_t minusOne = -1;  // negative height: the first stored row is the top row
    std::memcpy(&topDown[22], &minusOne, 4);
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::vector<std::vector<std::uint8_t>> pixels;  // row by row from the top left
    };
    const Case cases[] = {
        {"8 bits, bottom-up", handmadeBmp(2, 2, 8, palette, {{2, 3, 0, 0}, {1, 0, 0, 0}}), {red, black, green, blue}},
        {"4 bits, top-down", topDown, {red, green, blue}},
        {"1 bit, from the top bit", handmadeBmp(9, 1, 1, {0x000000, 0xffffff}, {{0b10100000, 0b10000000, 0, 0}}),
         {white, black, white, black, black, black, black, black, white}},
        {"32 bits B G R X", handmadeBmp(1, 1, 32, {}, {{10, 20, 30, 99}}), {{10, 20, 30}}},
        {"index beyond the palette reads black", handmadeBmp(1, 1, 8, {0xffffff, 0xffffff}, {{200, 0, 0, 0}}), {black}},
    };
    for (const Case& c : cases) {
        Bitmap24 image;
        decodeBmp(c.bytes.data(), c.bytes.size(), image);
        std::vector<std::vector<std::uint8_t>> pixels;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) pixels.push_back(bgr(image, x, y));
        EXPECT_EQ(pixels, c.pixels) << c.name;
    }
}

TEST(BmpReader, DamagedFilesAreRefusedWithAClearMessage) {
    const auto good = encodeBmp(testing::numberedFrame(8, 8, 1));
    Bitmap24 image;
    auto refused = [&](std::vector<std::uint8_t> bytes) {
        try {
            decodeBmp(bytes.data(), bytes.size(), image);
        } catch (const PlanexorError& error) {
            return std::string(error.what());
        }
        return std::string("accepted");
    };
    EXPECT_EQ(refused({}), "Not a BMP file");
    EXPECT_EQ(refused({'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n', 'x', 'y', 'z', 'z', 'y',
                       'x', 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h', 'i'}),
              "Not a BMP file");
    EXPECT_EQ(refused(std::vector<std::uint8_t>(good.begin(), good.begin() + 100)), "BMP file is truncated");

    auto absurd = good;
    const std::int32_t huge = 1 << 30;
    std::memcpy(&absurd[18], &huge, 4);
    std::memcpy(&absurd[22], &huge, 4);
    EXPECT_EQ(refused(absurd), "BMP too large to open");

    auto wide = good;  // plausible size, but far more pixels than the file holds
    const std::int32_t big = 5000;
    std::memcpy(&wide[18], &big, 4);
    EXPECT_EQ(refused(wide), "BMP file is truncated");

    auto rle = good;
    rle[30] = 1;
    EXPECT_EQ(refused(rle), "Compressed BMP files are not supported");

    auto badHeader = good;
    badHeader[14] = 0xff;
    badHeader[15] = 0xff;
    EXPECT_EQ(refused(badHeader), "Damaged BMP header");

    auto noPixels = good;
    const std::int32_t zero = 0;
    std::memcpy(&noPixels[18], &zero, 4);
    EXPECT_EQ(refused(noPixels), "BMP has no pixels");
}

TEST(BmpWriter, FailedSaveLeavesTheOldFileIntact) {
    TempDir dir;
    const std::string path = dir.file("kept.bmp");
    const Bitmap24 first = testing::numberedFrame(4, 4, 1);
    writeBmpFile(path, first);
    EXPECT_THROW(writeBmpFile(dir.file("missing/dir/x.bmp"), first), PlanexorError);
    Bitmap24 back;
    readBmpFile(path, back);
    EXPECT_EQ(back, first);
}

TEST(JpegCodec, ColourAndGreyDecodeToTwentyFourBits) {
    TempDir dir;
    Bitmap24 smooth(64, 48);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) {
            std::uint8_t* p = smooth.pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x * 3);
            p[1] = static_cast<std::uint8_t>(y * 4);
            p[2] = 200;
        }
    writeJpegFile(dir.file("a.jpg"), smooth);
    Bitmap24 back;
    decodeJpegFile(dir.file("a.jpg"), back);
    ASSERT_EQ(back.width(), 64);
    ASSERT_EQ(back.height(), 48);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(back.pixel(30, 20)[c], smooth.pixel(30, 20)[c], 6);

    const auto grey = greyJpeg(8, 8, 128);
    decodeJpegMemory(grey.data(), grey.size(), back);
    EXPECT_EQ(back.width(), 8);
    EXPECT_NEAR(back.pixel(3, 3)[0], 128, 1);
    EXPECT_EQ(back.pixel(3, 3)[0], back.pixel(3, 3)[1]);
    EXPECT_EQ(back.pixel(3, 3)[0], back.pixel(3, 3)[2]);
}

TEST(JpegCodec, BrokenFilesAreRefusedNeverExitTheProcess) {
    TempDir dir;
    const auto good = encodeJpeg(testing::numberedFrame(32, 32, 3));
    Bitmap24 image;
    const std::vector<std::uint8_t> half(good.begin(), good.begin() + good.size() / 2);
    EXPECT_THROW(decodeJpegMemory(half.data(), half.size(), image), PlanexorError);
    const std::vector<std::uint8_t> headerOnly(good.begin(), good.begin() + 20);
    EXPECT_THROW(decodeJpegMemory(headerOnly.data(), headerOnly.size(), image), PlanexorError);
    testing::writeText(dir.file("text.jpg"), "this is not a picture\n");
    EXPECT_THROW(decodeJpegFile(dir.file("text.jpg"), image), PlanexorError);
    testing::writeText(dir.file("empty.jpg"), "");
    EXPECT_THROW(decodeJpegFile(dir.file("empty.jpg"), image), PlanexorError);
    EXPECT_THROW(decodeJpegFile(dir.file("absent.jpg"), image), PlanexorError);
}

TEST(StillFrames, DecoderFollowsTheFileExtension) {
    TempDir dir;
    const Bitmap24 frame = testing::numberedFrame(16, 16, 9);
    writeJpegFile(dir.file("UPPER.JPG"), frame);
    Bitmap24 image;
    loadStillFrame(dir.file("UPPER.JPG"), image);
    EXPECT_EQ(image.width(), 16);
    const std::string bmp = testing::writeBmp(dir, "b.bmp", frame);
    loadStillFrame(bmp, image);
    EXPECT_EQ(image, frame);
}

}  // namespace
}  // namespace planexor
