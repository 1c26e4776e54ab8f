#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fitsio.h>
#include <limits>
#include <memory>
#include <vector>

#include "core/error.h"
#include "core/file_io.h"
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

TEST(FitsReader, ReadsWhatOtherProgramsWriteUprightWithScalingAndTrueExtremes) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        const char* name;
        testing::CfitsioImage image;  // 3 x 2 (x 2 for the cube), stored order
        std::vector<float> expected;  // first plane, stored order, as read
    };
    const std::vector<Case> cases = {
        {"unsigned 16 bits (BZERO 32768)", {USHORT_IMG, {3, 2}, {0, 65535, 40000, 1, 2, 3}}, {0, 65535, 40000, 1, 2, 3}},
        {"8 bits", {BYTE_IMG, {3, 2}, {0, 255, 7, 1, 2, 3}}, {0, 255, 7, 1, 2, 3}},
        {"signed 32 bits", {LONG_IMG, {3, 2}, {-2000000, 65536, 0, 1, 2, 3}}, {-2000000, 65536, 0, 1, 2, 3}},
        {"float with NaN", {FLOAT_IMG, {3, 2}, {nan, 0.25, -1.5, 1, 2, 3e6}}, {0, 0.25, -1.5, 1, 2, 3e6}},
        {"double", {DOUBLE_IMG, {3, 2}, {1e10, -1e-3, 0, 1, 2, 3}}, {1e10, -1e-3, 0, 1, 2, 3}},
        {"cube: first plane", {SHORT_IMG, {3, 2, 2}, {5, 6, 7, 8, 9, 10, 99, 99, 99, 99, 99, 99}}, {5, 6, 7, 8, 9, 10}},
    };
    TempDir dir;
    Workspace& w = sharedWorkspace();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("other.fits");
        testing::writeWithCfitsio(path, c.image);
        const FitsPlaneRead read = openFitsFrame(w, path);
        ASSERT_EQ(w.ImageWidth, 3);
        ASSERT_EQ(w.ImageHeight, 2);
        for (int r = 0; r < 2; ++r)
            for (int x = 0; x < 3; ++x) EXPECT_FLOAT_EQ(w.StackG[x][1 - r], c.expected[r * 3 + x]) << x << "," << r;
        const auto [low, high] = std::minmax_element(c.expected.begin(), c.expected.end());
        EXPECT_FLOAT_EQ(w.StackMin, *low);
        EXPECT_FLOAT_EQ(w.StackMax, *high);
        EXPECT_EQ(read.minimum, w.StackMin);
    }
}

TEST(FitsReader, LargeFrameIsCutToTheFirstStoredRowsAndColumns) {
    const auto pattern = [](int x, int r) { return (x * 7 + r * 13) % 30000 - 15000; };
    TempDir dir;
    Workspace& w = sharedWorkspace();
    // Sides that are no multiple of the reader's vector steps.
    testing::CfitsioImage odd{SHORT_IMG, {13, 7}, {}};
    for (int r = 0; r < 7; ++r)
        for (int x = 0; x < 13; ++x) odd.values.push_back(pattern(x, r));
    testing::writeWithCfitsio(dir.file("odd.fit"), odd);
    openFitsFrame(w, dir.file("odd.fit"));
    for (int r = 0; r < 7; ++r)
        for (int x = 0; x < 13; ++x) ASSERT_EQ(w.StackG[x][6 - r], pattern(x, r)) << x << "," << r;

    testing::CfitsioImage image{SHORT_IMG, {2000, 1500}, {}};
    for (int r = 0; r < 1500; ++r)
        for (int x = 0; x < 2000; ++x) image.values.push_back(pattern(x, r));
    testing::writeWithCfitsio(dir.file("big.fit"), image);
    openFitsFrame(w, dir.file("big.fit"));
    EXPECT_EQ(w.OrigWidth, 2000);
    EXPECT_EQ(w.OrigHeight, 1500);
    EXPECT_EQ(w.ImageWidth, 1024);
    EXPECT_EQ(w.FrameHeight, 1024);
    EXPECT_EQ(w.StackWidth, 1024);
    EXPECT_TRUE(w.SingleImage);
    EXPECT_EQ(w.InputType, static_cast<int>(InputKind::Fits));
    for (auto [x, r] : {std::pair{0, 0}, {1023, 0}, {0, 1023}, {1023, 1023}, {517, 301}})
        EXPECT_EQ(w.StackG[x][1023 - r], pattern(x, r)) << x << "," << r;
    EXPECT_EQ(w.StackG[1024][0], 0.0f);  // nothing beyond the cut
}

TEST(FitsReader, HeaderLayoutsAndByteOrder) {
    struct Case {
        const char* name;
        std::vector<std::string> cards;
        std::vector<std::uint8_t> data;
        std::uint64_t dataOffset;
        std::vector<float> row;
    };
    auto cards = [](std::vector<std::string> first, int total) {
        while (static_cast<int>(first.size()) < total - 1) first.push_back("HISTORY filler");
        return first;
    };
    const std::vector<Case> cases = {
        {"END as card 36", cards(imageCards("16", "2", "1"), 36), {0xFF, 0xFE, 0x00, 0x05}, 2880, {-2, 5}},
        {"40 cards", cards(imageCards("32", "1", "1"), 40), {0x00, 0x01, 0x00, 0x00}, 5760, {65536}},
        {"free format with comments",
         {"SIMPLE  = T", "BITPIX  = 16 / bits", "NAXIS   = 2", "NAXIS1  = 1/width", "NAXIS2  = +1",
          "BZERO   = 1.0D1 / offset", "BSCALE  = 2.", "COMMENT = it's only text"},
         {0x00, 0x03}, 2880, {16}},
        {"old fixed layout",
         {"SIMPLE  =                    T", "BITPIX  =                   16", "NAXIS   =                    2",
          "NAXIS1  =                    1", "NAXIS2  =                    1", "BYTESWAP=                    F",
          "DATE-OBS= '05/12/26'", "COMMENT= PLANEXOR "},
         {0x80, 0x00}, 2880, {-32768}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::writeText(dir.file("a.fit"), handmadeFits(c.cards, c.data));
        FitsFile file(dir.file("a.fit"));
        const FitsHeader header = ReadFitsHeader(file);
        EXPECT_EQ(header.dataOffset, c.dataOffset);
        std::vector<float> row;
        ReadFitsRow(file, header, row);
        EXPECT_EQ(row, c.row);
    }
}

TEST(FitsReader, BadFilesAreRefusedAndTheWorkspaceKept) {
    const std::vector<std::uint8_t> pixels(12, 0);  // 3 x 2, 16 bits
    const std::string good = handmadeFits(imageCards("16", "3", "2"), pixels);
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
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
        try {
            openFitsFrame(w, path);
            ADD_FAILURE() << "accepted";
        } catch (const PlanexorError& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
        EXPECT_EQ(w.StackG[0][0], 7.0f);
        EXPECT_EQ(w.ImageWidth, 1);
        EXPECT_EQ(w.StackMax, 7.0f);
    }
}

}  // namespace
}  // namespace planexor
