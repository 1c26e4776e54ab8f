// The fast roads of loading a calibration or FITS frame against the plain
// arithmetic they stand in for: both must give the same bits.
#include <gtest/gtest.h>

#include <cstring>
#include <fitsio.h>
#include <memory>
#include <random>

#include "input/flat_division.h"
#include "input/fits_reader.h"
#include "support/fits_files.h"
#include "support/test_files.h"

namespace planexor {
namespace {

// width x height 16-bit FITS values drawn from lowest..highest.
testing::CfitsioImage randomImage(int bitpix, int width, int height, int lowest, int highest, std::mt19937& random) {
    testing::CfitsioImage image{bitpix, {width, height}, {}};
    std::uniform_int_distribution<int> value(lowest, highest);
    for (int i = 0; i < width * height; ++i) image.values.push_back(value(random));
    return image;
}

// Both roads fill the same plane: sizes off the eight-by-eight blocks, a band
// boundary, a file wider than the plane, unsigned camera data, a dark's
// factor of 128, and flats read straight into their quotients, which must
// hold what reading and then dividing gives. The last flat's mean puts 50981
// exactly halfway between two floats, where the product that stands for the
// division rounds the other way.
TEST(PlaneLoading, SixteenBitFilesAndFlatsFillTheSamePlaneOnEitherVectorCode) {
    if (!wideVectorsAvailable()) GTEST_SKIP() << "one build of the loop on this processor";
    testing::TempDir dir;
    std::mt19937 random(7);
    struct Case { int width, height, bitpix, lowest, highest; float factor; bool flat = false, divided = false; };
    for (const Case c : {Case{1, 1, SHORT_IMG, -5, 5, 1}, {13, 9, USHORT_IMG, 0, 65535, 1},
                         {16, 8, SHORT_IMG, -32768, 32767, 128}, {37, 300, USHORT_IMG, 0, 65535, 1},
                         {1030, 20, SHORT_IMG, -1000, 1000, 1}, {13, 9, USHORT_IMG, 0, 65535, 1, true, true},
                         {37, 300, USHORT_IMG, 0, 65535, 1, true, true}, {24, 16, USHORT_IMG, 0, 3, 1, true, true},
                         {40, 664, USHORT_IMG, 0, 0, 1, true, false}}) {
        SCOPED_TRACE(::testing::Message() << c.width << "x" << c.height << " bitpix " << c.bitpix
                                          << (c.flat ? " flat" : ""));
        testing::CfitsioImage image = randomImage(c.bitpix, c.width, c.height, c.lowest, c.highest, random);
        if (c.flat && !c.divided) image.values[4321] = 50981, image.values[7] = 65536 - 50981;
        writeWithCfitsio(dir.file("frame.fit"), image);
        // Read on the wide road (index 0, dividing a flat) and on the portable one.
        std::unique_ptr<TFloatPlane> planes[2] = {std::make_unique<TFloatPlane>(), std::make_unique<TFloatPlane>()};
        FitsPlaneRead reads[2];
        for (int road = 0; road < 2; ++road) {
            FitsFile file(dir.file("frame.fit"));
            reads[road] = readFitsPlane(file, ReadFitsHeader(file), *planes[road], c.factor,
                                        road == 0 ? VectorCode::Best : VectorCode::Portable, c.flat && road == 0);
        }
        EXPECT_EQ(reads[0].minimum, reads[1].minimum);
        EXPECT_EQ(reads[0].maximum, reads[1].maximum);
        EXPECT_EQ(c.divided, reads[0].divided);
        if (c.flat) {
            double sum = 0;
            for (int x = 0; x < c.width; ++x)
                for (int y = 0; y < c.height; ++y) sum += (*planes[1])[x][y];
            const double mean = sum / (c.width * c.height);
            if (c.divided) {
                EXPECT_EQ(mean, reads[0].mean);
            }
            for (int x = 0; x < c.width; ++x) {
                if (!reads[0].divided) normaliseFlatColumn((*planes[0])[x], (*planes[0])[x], c.height, mean);
                normaliseFlatColumn((*planes[1])[x], (*planes[1])[x], c.height, mean, VectorCode::Portable);
            }
        }
        EXPECT_EQ(0, std::memcmp(planes[0]->data(), planes[1]->data(), TFloatPlane::Size * sizeof(float)));
    }
}

#ifdef PLANEXOR_HAS_WIDE
// The check that allows the products covers every value of the range, its
// ends and a last step shorter than eight included: with that mean, 50981
// and every fourth value below it down to 40429 are not the quotients.
TEST(PlaneLoading, SplitProductsAreCheckedOverTheWholeRange) {
    if (!wideVectorsAvailable()) GTEST_SKIP() << "wide units only";
    const double mean = 65536.0 / 26560;
    struct Case { int lowest, highest; bool allowed; };
    for (const Case c : {Case{50978, 50980, true}, {50978, 50981, false}, {50970, 50981, false}, {50981, 50990, false},
                         {50982, 52000, true}, {0, 40428, true}, {0, 40429, false}}) {
        EXPECT_EQ(c.allowed, splitProductsAreQuotients(c.lowest - 32768, c.highest - 32768, 1.0f, 32768.0f, mean))
            << c.lowest << ".." << c.highest;
    }
}
#endif

}  // namespace
}  // namespace planexor
