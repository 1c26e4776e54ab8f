#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <fitsio.h>
#include <limits>
#include <memory>
#include <vector>

#include "input/calibration.h"
#include "input/fits_reader.h"
#include "support/fits_files.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

Workspace& sharedWorkspace() {
    static const auto workspace = std::make_unique<Workspace>();
    return *workspace;
}

// A header from the given cards (each blank-padded to 80 columns, END added
// unless told not to), padded to whole blocks, then the data bytes.
std::string handmadeFits(const std::vector<std::string>& cards, const std::vector<std::uint8_t>& data,
                         bool withEnd = true) {
    std::string file;
    for (std::string card : cards) {
        card.resize(80, ' ');
        file += card;
    }
    if (withEnd) file += std::string("END").append(77, ' ');
    file.resize((file.size() + 2879) / 2880 * 2880, ' ');
    file.append(data.begin(), data.end());
    return file;
}

std::vector<std::string> imageCards(const std::string& bitpix, const std::string& width, const std::string& height) {
    return {"SIMPLE  =                    T", "BITPIX  = " + bitpix, "NAXIS   =                    2",
            "NAXIS1  = " + width, "NAXIS2  = " + height};
}

// Three 16-bit pixels, -32768, 5, 9, in an image extension (or of another type) after an empty primary header.
std::string emptyPrimary() { return handmadeFits({"SIMPLE  = T", "BITPIX  = 8", "NAXIS   = 0", "EXTEND  = T"}, {}); }
std::string extension(const std::string& type, const std::string& more = "") {
    return emptyPrimary() + handmadeFits({"XTENSION= " + type, "BITPIX  = 16", "NAXIS   = 2", "NAXIS1  = 3",
                                          "NAXIS2  = 1", "PCOUNT  = 0", "GCOUNT  = 1", more},
                                         {0x80, 0x00, 0x00, 0x05, 0x00, 0x09});
}

std::string greyFits(const TempDir& dir, const std::string& name, int width, int height,
                     const std::function<double(int x, int r)>& value) {
    testing::CfitsioImage image{SHORT_IMG, {width, height}, {}};
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x) image.values.push_back(value(x, r));
    testing::writeWithCfitsio(dir.file(name), image);
    return dir.file(name);
}

TEST(FitsReader, ReadsWhatOtherProgramsWriteUprightWithScalingAndTrueExtremes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    TempDir dir;
    const auto cfitsio = [&](const testing::CfitsioImage& image) {
        testing::writeWithCfitsio(dir.file("cfitsio.fits"), image);
        return testing::readText(dir.file("cfitsio.fits"));
    };
    const auto cards = [](std::vector<std::string> first, int total) {
        while (static_cast<int>(first.size()) < total - 1) first.push_back("HISTORY filler");
        return first;
    };
    std::vector<std::string> blank = imageCards("16", "3", "1");
    blank.push_back("BLANK   =               -32768");
    // The first plane as read, in stored order, and its width.
    struct Case { const char* name; std::string bytes; std::vector<float> expected; int width = 3; };
    const std::vector<Case> cases = {
        {"unsigned 16 bits (BZERO 32768)", cfitsio({USHORT_IMG, {3, 2}, {0, 65535, 40000, 1, 2, 3}}),
         {0, 65535, 40000, 1, 2, 3}},
        {"8 bits", cfitsio({BYTE_IMG, {3, 2}, {0, 255, 7, 1, 2, 3}}), {0, 255, 7, 1, 2, 3}},
        {"signed 32 bits", cfitsio({LONG_IMG, {3, 2}, {-2000000, 65536, 0, 1, 2, 3}}), {-2000000, 65536, 0, 1, 2, 3}},
        // A blank is the darkest value, not 0, which would squash the picture's range.
        {"float with a blank", cfitsio({FLOAT_IMG, {3, 2}, {nan, 1000.25, 1001.5, 1001, 1002, 3e6}}),
         {1000.25, 1000.25, 1001.5, 1001, 1002, 3e6}},
        {"double", cfitsio({DOUBLE_IMG, {3, 2}, {1e10, -1e-3, 0, 1, 2, 3}}), {1e10, -1e-3, 0, 1, 2, 3}},
        {"cube: first plane", cfitsio({SHORT_IMG, {3, 2, 2}, {5, 6, 7, 8, 9, 10, 99, 99, 99, 99, 99, 99}}),
         {5, 6, 7, 8, 9, 10}},
        // The same for an integer BLANK.
        {"integer BLANK", handmadeFits(blank, {0x80, 0x00, 0x00, 0x05, 0x00, 0x09}), {5, 5, 9}},
        {"image in the first extension", extension("'IMAGE   '"), {-32768, 5, 9}},
        {"END as card 36", handmadeFits(cards(imageCards("16", "2", "1"), 36), {0xFF, 0xFE, 0x00, 0x05}), {-2, 5}, 2},
        {"40 cards", handmadeFits(cards(imageCards("32", "1", "1"), 40), {0x00, 0x01, 0x00, 0x00}), {65536}, 1},
        {"free format with comments",
         handmadeFits({"SIMPLE  = T", "BITPIX  = 16 / bits", "NAXIS   = 2", "NAXIS1  = 1/width", "NAXIS2  = +1",
                       "BZERO   = 1.0D1 / offset", "BSCALE  = 2.", "COMMENT = it's only text"},
                      {0x00, 0x03}),
         {16}, 1},
        {"old fixed layout",
         handmadeFits({"SIMPLE  =                    T", "BITPIX  =                   16",
                       "NAXIS   =                    2", "NAXIS1  =                    1",
                       "NAXIS2  =                    1", "BYTESWAP=                    F", "DATE-OBS= '05/12/26'",
                       "COMMENT= PLANEXOR "},
                      {0x80, 0x00}),
         {-32768}, 1},
    };
    Workspace& w = sharedWorkspace();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::writeText(dir.file("other.fits"), c.bytes);
        openFitsFrame(w, dir.file("other.fits"));
        const int height = static_cast<int>(c.expected.size()) / c.width;
        ASSERT_EQ(w.ImageWidth, c.width);
        ASSERT_EQ(w.ImageHeight, height);
        for (int r = 0; r < height; ++r)
            for (int x = 0; x < c.width; ++x)
                EXPECT_FLOAT_EQ(w.StackG[x][height - 1 - r], c.expected[r * c.width + x]) << x << "," << r;
        const auto [low, high] = std::minmax_element(c.expected.begin(), c.expected.end());
        EXPECT_FLOAT_EQ(w.StackMin, *low);
        EXPECT_FLOAT_EQ(w.StackMax, *high);
    }
}

TEST(FitsReader, LargeFrameIsCutToTheFirstStoredRowsAndColumns) {
    const auto pattern = [](int x, int r) { return (x * 7 + r * 13) % 30000 - 15000; };
    TempDir dir;
    Workspace& w = sharedWorkspace();
    // Sides that are no multiple of the reader's vector steps.
    openFitsFrame(w, greyFits(dir, "odd.fit", 13, 7, pattern));
    for (int r = 0; r < 7; ++r)
        for (int x = 0; x < 13; ++x) ASSERT_EQ(w.StackG[x][6 - r], pattern(x, r)) << x << "," << r;
    openFitsFrame(w, greyFits(dir, "big.fit", 2000, 1500, pattern));
    EXPECT_EQ((std::vector<int>{w.OrigWidth, w.OrigHeight, w.ImageWidth, w.FrameHeight, w.StackWidth}),
              (std::vector<int>{2000, 1500, 1024, 1024, 1024}));
    for (auto [x, r] : {std::pair{0, 0}, {1023, 0}, {0, 1023}, {1023, 1023}, {517, 301}})
        EXPECT_EQ(w.StackG[x][1023 - r], pattern(x, r)) << x << "," << r;
    EXPECT_EQ(w.StackG[1024][0], 0.0f);  // nothing beyond the cut
}

TEST(FitsReader, BadFilesAreRefusedAndTheWorkspaceKept) {
    const std::vector<std::uint8_t> pixels(12, 0);  // 3 x 2, 16 bits
    const std::string good = handmadeFits(imageCards("16", "3", "2"), pixels);
    struct Case { const char* name; std::string bytes; const char* message; };
    const std::vector<Case> cases = {
        {"zero bytes", "", "Not a FITS file"},
        {"a text file", std::string(4000, 'x'), "Not a FITS file"},
        {"short text file", "hello\n", "Not a FITS file"},
        {"truncated data", good.substr(0, good.size() - 1), "is truncated"},
        {"no END", handmadeFits(imageCards("16", "3", "2"), {}, false) + std::string(12, '\0'), "no END card"},
        {"header cut short", good.substr(0, 1000), "no END card"},
        {"NAXIS1 as text", handmadeFits(imageCards("16", "'three'", "2"), pixels), "NAXIS1 is not a number"},
        {"negative size", handmadeFits(imageCards("16", "-3", "2"), pixels), "out of range"},
        {"zero size", handmadeFits(imageCards("16", "3", "0"), pixels), "out of range"},
        {"10^9 columns", handmadeFits(imageCards("16", "1000000000", "2"), pixels), "out of range"},
        {"10^9 rows of a cube", handmadeFits({"SIMPLE  = T", "BITPIX  = 16", "NAXIS   = 3", "NAXIS1  = 3",
                                              "NAXIS2  = 2", "NAXIS3  = 1000000000"}, pixels), "is truncated"},
        {"BITPIX 7", handmadeFits(imageCards("7", "3", "2"), pixels), "unsupported fits format"},
        {"BSCALE 0", handmadeFits({"SIMPLE  = T", "BITPIX  = 16", "NAXIS   = 2", "NAXIS1  = 3", "NAXIS2  = 2",
                                   "BSCALE  = 0"}, pixels), "BSCALE is 0"},
        {"no BITPIX", handmadeFits({"SIMPLE  = T", "NAXIS1  = 3", "NAXIS2  = 2"}, pixels), "BITPIX missing"},
        {"table in the first extension", extension("'BINTABLE'"), "holds no image"},
        {"empty primary alone", emptyPrimary(), "holds no image"},
        // What fpack makes: a table holding the compressed tiles.
        {"fpack", extension("'BINTABLE'", "ZIMAGE  =                    T"), "funpack"},
    };
    TempDir dir;
    Workspace& w = sharedWorkspace();
    const std::string kept = dir.file("kept.fit");
    testing::writeText(kept, handmadeFits(imageCards("16", "1", "1"), {0x00, 0x07}));
    openFitsFrame(w, kept);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("bad.fit");
        testing::writeText(path, c.bytes);
        const std::string error = testing::errorOf([&] { openFitsFrame(w, path); });
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(w.StackG[0][0], 7.0f);
        EXPECT_EQ(w.ImageWidth, 1);
        EXPECT_EQ(w.StackMax, 7.0f);
    }
}

TEST(Calibration, LoadsInLevelUnitsAndFillsBeyondTheFileWithNeutralValues) {
    TempDir dir;
    Bitmap24 coloured = testing::uniform(5, 3, 0);
    coloured.pixel(1, 2)[0] = 4;  // blue
    coloured.pixel(1, 2)[2] = 9;  // red
    const std::string darkOf10 = greyFits(dir, "dark10.fit", 4, 3, [](int, int) { return 10; });
    const std::string large = greyFits(dir, "large.fit", 20, 20, [](int, int) { return 50; });
    const std::string blankFlat = dir.file("blank.fits");
    testing::writeWithCfitsio(blankFlat,
                              {FLOAT_IMG, {2, 2}, {100, 300, 200, std::numeric_limits<double>::quiet_NaN()}});
    struct Case {
        const char* name;
        bool flat;
        std::string path;
        int type;
        int width, height;
        float r, g, b;  // at (1, 2), or (1, 0) when 2 rows high
        bool grey;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"BMP flat of 100 is 1.0", true, testing::writeBmp(dir, "flat.bmp", testing::uniform(6, 4, 100)),
         CalibrationBmp, 6, 4, 1, 1, 1, false, ""},
        {"BMP dark: 128 x each byte", false, testing::writeBmp(dir, "dark.bmp", coloured), CalibrationBmp, 5, 3,
         9 * 128, 0, 4 * 128, false, ""},
        {"oversized BMP is cut", false, testing::writeBmp(dir, "wide.bmp", testing::uniform(1030, 2, 3)),
         CalibrationBmp, 1024, 2, 384, 384, 384, false,
         " Warning : darkframe too large (max = 1024x1024), truncated !"},
        {"plain FITS dark of 10: 10 levels", false, darkOf10, CalibrationFits, 4, 3, 1280, 1280, 1280, true, ""},
        {"special FITS dark of 10: 10/128 level", false, darkOf10, CalibrationSpecialFits, 4, 3, 10, 10, 10, true, ""},
        // The darkest divisor would make a blank a bright dot; the mean of the others leaves it as it is.
        {"blank in a FITS flat is 1.0", true, blankFlat, CalibrationFits, 2, 2, 1, 1, 1, true, ""},
        // Zeros in the last stored row, plane row 0; the other row carries twice the mean.
        {"zeros in a FITS flat", true, greyFits(dir, "flat0.fit", 4, 2, [](int, int r) { return r == 1 ? 0 : 200; }),
         CalibrationFits, 4, 2, 0.00001f, 0.00001f, 0.00001f, true, ""},
    };
    Workspace& w = sharedWorkspace();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto load = c.flat ? loadFlatField : loadDarkFrame;
        load(w, large, CalibrationSpecialFits);  // none of it may survive outside the new one
        const CalibrationLoad result = load(w, c.path, c.type);
        EXPECT_TRUE(result.loaded);
        EXPECT_EQ(result.uncheckColourStack, c.grey);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(c.flat ? std::pair(w.FlatWidth, w.FlatHeight) : std::pair(w.DarkWidth, w.DarkHeight),
                  std::pair(c.width, c.height));
        EXPECT_EQ(c.flat ? w.flatfile : w.darkfile, c.path);
        const int y = c.height == 2 ? 0 : 2;
        const float expected[] = {c.r, c.g, c.b};
        for (int channel = 0; channel < 3; ++channel) {
            const TFloatPlane& plane = c.flat ? w.flatPlane(channel) : w.darkPlane(channel);
            EXPECT_FLOAT_EQ(plane[1][y], expected[channel]) << channel;
            for (auto [x, y] : {std::pair{c.width, 0}, {0, c.height}, {19, 19}})
                EXPECT_EQ(plane[x][y], c.flat ? 1.0f : 0.0f);
        }
    }
    EXPECT_FLOAT_EQ(w.FlatG[1][1], 2.0f);
}

TEST(Calibration, FailedLoadLeavesThePreviousCalibrationInForce) {
    TempDir dir;
    const std::string good = greyFits(dir, "good.fitq", 3, 3, [](int, int) { return 64; });
    testing::writeText(dir.file("broken.fit"), "SIMPLE  =                    T");
    struct Case { std::string path; const char* expected; int type = CalibrationFits; bool flatOnly = false; };
    const Case cases[] = {
        {dir.file("missing.fit"), "Cannot open"},
        {dir.file("broken.fit"), "no END card"},
        {greyFits(dir, "huge.fit", 1025, 2, [](int, int) { return 1; }), "too large (max = 1024x1024)!!"},
        {greyFits(dir, "scaled.fit", 3, 3, [](int x, int) { return x - 1; }), ".fitq"},
        {testing::writeBmp(dir, "black.bmp", testing::uniform(4, 4, 0)), "black everywhere", CalibrationBmp, true},
    };
    Workspace& w = sharedWorkspace();
    for (const bool flat : {false, true}) {
        const auto load = flat ? loadFlatField : loadDarkFrame;
        load(w, good, CalibrationSpecialFits);
        for (const auto& [path, expected, type, flatOnly] : cases) {
            if (!flat && flatOnly) continue;
            SCOPED_TRACE(path + (flat ? " (flat)" : " (dark)"));
            CalibrationLoad result;  // refused by its message or by an error
            std::string message = testing::errorOf([&] { result = load(w, path, type); });
            if (message == "(no error)") message = result.message;
            EXPECT_FALSE(result.loaded || result.uncheckColourStack);
            EXPECT_NE(message.find(expected), std::string::npos) << message;
            EXPECT_EQ(flat ? w.FlatG[1][1] : w.DarkG[1][1], flat ? 1.0f : 64.0f);
            EXPECT_EQ(flat ? w.FlatWidth : w.DarkWidth, 3);
            EXPECT_EQ(flat ? w.flatfile : w.darkfile, good);
        }
    }
}

}  // namespace
}  // namespace planexor
