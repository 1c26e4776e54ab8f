#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <tuple>
#include <vector>

#include <jpeglib.h>

#include "core/error.h"
#include "core/file_io.h"
#include "input/bmp_codec.h"
#include "input/frame_list_file.h"
#include "input/jpeg_codec.h"
#include "input/still_frames.h"
#include "reader_runs.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

// Builds a BMP by hand, so the reader is checked against the format rather
// than against our own writer.
std::vector<std::uint8_t> handmadeBmp(int width, int height, int bits, const std::vector<std::uint32_t>& palette,
                                      const std::vector<std::vector<std::uint8_t>>& rowsInFileOrder,
                                      std::uint32_t compression = 0) {
    const std::uint32_t paletteBytes = static_cast<std::uint32_t>(palette.size() * 4);
    std::vector<std::uint8_t> out(54 + paletteBytes, 0);
    if (paletteBytes != 0) std::memcpy(out.data() + 54, palette.data(), paletteBytes);  // no palette: data() may be null
    for (const auto& row : rowsInFileOrder) out.insert(out.end(), row.begin(), row.end());
    out[0] = 'B';
    out[1] = 'M';
    const auto u = [](auto value) { return static_cast<std::uint32_t>(value); };
    // Each header field: where it starts, its value, its bytes.
    const std::uint32_t fields[][3] = {{2, u(out.size()), 4}, {10, 54 + paletteBytes, 4}, {14, 40, 4},
                                       {18, u(width), 4},     {22, u(height), 4},         {26, 1, 2},
                                       {28, u(bits), 2},      {30, compression, 4},       {46, u(palette.size()), 4}};
    for (const auto& [at, value, bytes] : fields) std::memcpy(&out[at], &value, bytes);
    return out;
}

// A one-component JPEG, as a monochrome camera writes it: a ramp of 4 levels a column.
std::vector<std::uint8_t> greyJpeg(int width, int height) {
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
    std::vector<std::uint8_t> row(width);
    for (int x = 0; x < width; ++x) row[x] = static_cast<std::uint8_t>(4 * x);
    std::vector<JSAMPROW> rows(height, row.data());
    jpeg_write_scanlines(&info, rows.data(), static_cast<JDIMENSION>(height));
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> out(buffer, buffer + size);
    std::free(buffer);
    return out;
}

TEST(BmpReader, PaletteFormatsAndBothRowOrdersDecodeToTheRightPixels) {
    // Palette: 0 black, 1 red, 2 green, 3 blue (stored B G R 0).
    const std::vector<std::uint32_t> palette = {0x000000, 0xff0000, 0x00ff00, 0x0000ff};
    const std::vector<std::uint8_t> red = {0, 0, 255}, green = {0, 255, 0}, blue = {255, 0, 0}, black = {0, 0, 0},
                                    white = {255, 255, 255};
    // Pixels row by row from the top left.
    struct Case { const char* name; std::vector<std::uint8_t> bytes; std::vector<std::vector<std::uint8_t>> pixels; };
    const Case cases[] = {
        {"8 bits, bottom-up", handmadeBmp(2, 2, 8, palette, {{2, 3, 0, 0}, {1, 0, 0, 0}}), {red, black, green, blue}},
        // A negative height: the first stored row is the top row.
        {"4 bits, top-down", handmadeBmp(3, -2, 4, palette, {{0x12, 0x30, 0, 0}, {0x31, 0, 0, 0}}),
         {red, green, blue, blue, red, black}},
        {"1 bit, from the top bit", handmadeBmp(9, 1, 1, {0x000000, 0xffffff}, {{0b10100000, 0b10000000, 0, 0}}),
         {white, black, white, black, black, black, black, black, white}},
        {"32 bits B G R X", handmadeBmp(1, 1, 32, {}, {{10, 20, 30, 99}}), {{10, 20, 30}}},
        // Run-length coded: runs, a literal stretch, ends of line, a skip (left black), the end.
        {"8 bits, run-length coded",
         handmadeBmp(3, 2, 8, palette, {{2, 1, 1, 2, 0, 0, 1, 3, 0, 2, 1, 0, 1, 3, 0, 1}}, 1),
         {blue, black, blue, red, red, green}},
        {"4 bits, run-length coded", handmadeBmp(7, 1, 4, palette, {{0, 4, 0x12, 0x30, 3, 0x12, 0, 1}}, 2),
         {red, green, blue, black, red, green, red}},
        {"index beyond the palette reads black", handmadeBmp(1, 1, 8, {0xffffff, 0xffffff}, {{200, 0, 0, 0}}), {black}},
    };
    for (const Case& c : cases) {
        Bitmap24 image;
        decodeBmp(c.bytes.data(), c.bytes.size(), image);
        std::vector<std::vector<std::uint8_t>> pixels;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) pixels.emplace_back(image.pixel(x, y), image.pixel(x, y) + 3);
        EXPECT_EQ(pixels, c.pixels) << c.name;
    }
}

TEST(BmpReader, DamagedFilesAreRefusedWithAClearMessage) {
    const auto good = encodeBmp(testing::numberedFrame(8, 8, 1));
    const auto put32 = [](std::vector<std::uint8_t>& bytes, std::size_t at, std::int32_t value) {
        std::memcpy(&bytes[at], &value, 4);
    };
    const std::pair<std::function<void(std::vector<std::uint8_t>&)>, std::string> cases[] = {
        {[](auto& b) { b.clear(); }, "Not a BMP file"},
        {[](auto& b) { b.assign(27, 'x'); }, "Not a BMP file"},
        {[](auto& b) { b.resize(100); }, "BMP file is truncated"},
        {[&](auto& b) { put32(b, 18, 1 << 30), put32(b, 22, 1 << 30); }, "BMP too large to open"},
        {[&](auto& b) { put32(b, 18, 5000); }, "BMP file is truncated"},  // far more pixels than the file holds
        {[](auto& b) { b[30] = 1; }, "Compressed BMP files are not supported"},
        {[](auto& b) { b[14] = b[15] = 0xff; }, "Damaged BMP header"},
        {[&](auto& b) { put32(b, 18, 0); }, "BMP has no pixels"},
    };
    for (const auto& [damage, message] : cases) {
        auto bytes = good;
        damage(bytes);
        Bitmap24 image;
        EXPECT_EQ(testing::errorOf([&] { decodeBmp(bytes.data(), bytes.size(), image); }), message);
    }
}

TEST(JpegCodec, ColourAndGreyDecodeToTwentyFourBits) {
    TempDir dir;
    const Bitmap24 smooth = testing::picture(64, 48, [](int x, int y, int c) { return c == 0 ? x * 3 : c == 1 ? y * 4 : 200; });
    writeJpegFile(dir.file("A.JPG"), smooth);
    Bitmap24 back;
    loadStillFrame(dir.file("A.JPG"), back);  // the extension chooses the decoder, in either case
    ASSERT_EQ(back.width(), 64);
    ASSERT_EQ(back.height(), 48);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(back.pixel(30, 20)[c], smooth.pixel(30, 20)[c], 6);

    const auto grey = greyJpeg(64, 8);
    decodeJpegMemory(grey.data(), grey.size(), back);
    for (int x = 0; x < 64; ++x)
        for (int c = 0; c < 3; ++c) ASSERT_NEAR(back.pixel(x, 3)[c], 4 * x, 6) << x << " " << c;
}

TEST(JpegCodec, BrokenFilesAreRefusedNeverExitTheProcess) {
    TempDir dir;
    const auto good = encodeJpeg(testing::numberedFrame(160, 120, 3));
    Bitmap24 image;
    for (const std::size_t size : {good.size() / 2, std::size_t{20}}) {
        const std::vector<std::uint8_t> cut(good.begin(), good.begin() + size);  // exact, so overruns show
        EXPECT_THROW(decodeJpegMemory(cut.data(), cut.size(), image), PlanexorError) << size;
    }
    testing::writeText(dir.file("text.jpg"), "this is not a picture\n");
    testing::writeText(dir.file("empty.jpg"), "");
    for (const char* name : {"text.jpg", "empty.jpg", "absent.jpg"})
        EXPECT_THROW(decodeJpegFile(dir.file(name), image), PlanexorError) << name;
}

TEST(FrameListFile, LinesEndedAnyWayAreReadBlankOnesSkippedAndGarbageNamedByLine) {
    const std::vector<std::string> ab = {"/a/1.bmp", "/a/2.bmp"};
    for (const char* text : {"/a/1.bmp\r\n/a/2.bmp\r\n", "/a/1.bmp\n\n/a/2.bmp", "/a/1.bmp\r/a/2.bmp\r\n  \r\n",
                             "/a/1.bmp\r\n/a/2.bmp\r\n\x1a",  // an old editor's end-of-file mark
                             "\xEF\xBB\xBF/a/1.bmp\r\n/a/2.bmp\r\n"})  // an editor's UTF-8 mark
        EXPECT_EQ(parseFrameList(text, "l.pxl"), ab) << text;
    EXPECT_EQ(testing::errorOf([] { frameListText({"/a/new\nline/1.bmp"}); }),
              "A frame list cannot hold a path with a line break: /a/new\nline/1.bmp");
    EXPECT_EQ(testing::errorOf([] { parseFrameList("/a/1.bmp\n" + std::string(5000, 'x') + "\n", "l.pxl"); }),
              "Frame list l.pxl, line 2: longer than any file path (5000 characters)");
    EXPECT_EQ(testing::errorOf([] { parseFrameList(std::string("ok\n\x01\x02\xff\0z", 8), "l.pxl"); }),
              "Frame list l.pxl, line 2: holds binary data, not a file path");

    // A name written relative to the list is taken from the list's folder.
    testing::TempDir dir;
    std::filesystem::create_directory(dir.file("night"));
    testing::writeText(dir.file("night/l.pxl"), "frames/1.bmp\n../2.bmp\n/a/3.bmp\n");
    EXPECT_EQ(readFrameListFile(dir.file("night/l.pxl")),
              (std::vector<std::string>{dir.file("night/frames/1.bmp"), dir.file("2.bmp"), "/a/3.bmp"}));
    // Opened through a symbolic link to its folder, ".." still leaves the real folder.
    std::filesystem::create_directories(dir.file("work"));
    std::filesystem::create_directory_symlink("../night", dir.file("work/current"));
    EXPECT_EQ(readFrameListFile(dir.file("work/current/l.pxl"))[1],
              std::filesystem::weakly_canonical(dir.file("2.bmp")).string());
}

TEST(FrameListFile, FrameSizesComeFromTheHeadersAndNonPicturesAreRefused) {
    testing::TempDir dir;
    const std::string bmp = testing::writeBmp(dir, "a.bmp", testing::uniform(33, 21, 7));
    writeJpegFile(dir.file("b.jpg"), testing::uniform(50, 40, 7));
    // An OS/2 core header holds its sides as 16-bit values.
    testing::writeText(dir.file("core.bmp"), std::string("BM\x1a\0\0\0\0\0\0\0\x1a\0\0\0\x0c\0\0\0\x21\0\x15\0\x01\0\x18\0", 26));
    for (const auto& [path, width, height] :
         {std::tuple{bmp, 33, 21}, {dir.file("b.jpg"), 50, 40}, {dir.file("core.bmp"), 33, 21}})
        EXPECT_EQ(std::pair(stillFrameSize(path).width, stillFrameSize(path).height), std::pair(width, height));
    testing::writeText(dir.file("c.bmp"), "BM short");
    testing::writeText(dir.file("d.jpg"), std::string("\xff\xd8\xff\xe0\x00\x01", 6));
    for (const char* name : {"c.bmp", "d.jpg"})
        EXPECT_EQ(testing::errorOf([&] { stillFrameSize(dir.file(name)); }), "Not a BMP or JPG picture: " + dir.file(name));
    EXPECT_EQ(testing::errorOf([&] { stillFrameSize(dir.file("none.bmp")); }),
              "Frame file not found or unreadable: " + dir.file("none.bmp"));
}

// Every input that once crashed a reader, hung it, exhausted its memory or
// broke one of its promises is replayed exactly as its fuzz target ran it:
// refused with a PlanexorError or read, nothing else.
TEST(ReaderRegression, EveryFoundInputIsRefusedOrRead) {
    const auto root = std::filesystem::path(PLANEXOR_SOURCE_DIR) / "tests" / "regression";
    int replayed = 0;
    for (const fuzzing::ReaderRun& reader : fuzzing::readerRuns()) {
        if (!std::filesystem::is_directory(root / reader.name)) continue;
        for (const auto& entry : std::filesystem::directory_iterator(root / reader.name)) {
            SCOPED_TRACE(entry.path().string());
            const auto bytes = readWholeFile(entry.path().string(), std::size_t{64} << 20);
            EXPECT_NO_THROW(fuzzing::fuzzOneInput(reader, bytes.data(), bytes.size()));
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace planexor
