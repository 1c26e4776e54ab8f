#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <fitsio.h>
#include <memory>

#include "core/error.h"
#include "input/calibration.h"
#include "support/fits_files.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

Workspace& sharedWorkspace() {
    static const auto workspace = std::make_unique<Workspace>();
    return *workspace;
}

std::string greyFits(const TempDir& dir, const std::string& name, int width, int height,
                     const std::function<double(int x, int r)>& value) {
    testing::CfitsioImage image{SHORT_IMG, {width, height}, {}};
    for (int r = 0; r < height; ++r)
        for (int x = 0; x < width; ++x) image.values.push_back(value(x, r));
    testing::writeWithCfitsio(dir.file(name), image);
    return dir.file(name);
}

TEST(Calibration, LoadsInLevelUnitsAndFillsBeyondTheFileWithNeutralValues) {
    TempDir dir;
    const std::string bmpOf100 = testing::writeBmp(dir, "flat.bmp", testing::uniform(6, 4, 100));
    Bitmap24 coloured = testing::uniform(5, 3, 0);
    coloured.pixel(1, 2)[0] = 4;  // blue
    coloured.pixel(1, 2)[2] = 9;  // red
    const std::string colouredBmp = testing::writeBmp(dir, "dark.bmp", coloured);
    const std::string darkOf10 = greyFits(dir, "dark10.fit", 4, 3, [](int, int) { return 10; });
    // Zeros in the top stored row: plane row 0 is the last stored row.
    const std::string flatWithZeros = greyFits(dir, "flat0.fit", 4, 2, [](int, int r) { return r == 1 ? 0 : 200; });
    const std::string large = greyFits(dir, "large.fit", 20, 20, [](int, int) { return 50; });

    struct Case {
        const char* name;
        bool flat;
        std::string path;
        int type;
        int width, height;
        float r, g, b;  // at (1, 2), or (1, 0) for the FITS flat with zeros
        bool grey;
    };
    const std::vector<Case> cases = {
        {"BMP flat of 100 is 1.0", true, bmpOf100, CalibrationBmp, 6, 4, 1.0f, 1.0f, 1.0f, false},
        {"BMP dark: 128 x each byte", false, colouredBmp, CalibrationBmp, 5, 3, 9 * 128.0f, 0, 4 * 128.0f, false},
        {"plain FITS dark of 10: 10 levels", false, darkOf10, CalibrationFits, 4, 3, 1280, 1280, 1280, true},
        {"special FITS dark of 10: 10/128 level", false, darkOf10, CalibrationSpecialFits, 4, 3, 10, 10, 10, true},
        {"zeros in a FITS flat", true, flatWithZeros, CalibrationFits, 4, 2, 0.00001f, 0.00001f, 0.00001f, true},
    };
    Workspace& w = sharedWorkspace();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // A larger calibration first: none of it may survive outside the new one.
        (c.flat ? loadFlatField : loadDarkFrame)(w, large, CalibrationSpecialFits);
        const CalibrationLoad load = (c.flat ? loadFlatField : loadDarkFrame)(w, c.path, c.type);
        EXPECT_TRUE(load.loaded);
        EXPECT_EQ(load.uncheckColourStack, c.grey);
        EXPECT_EQ(load.message, "");
        const TFloatPlane* planes[] = {c.flat ? &w.FlatR : &w.DarkR, c.flat ? &w.FlatG : &w.DarkG,
                                       c.flat ? &w.FlatB : &w.DarkB};
        EXPECT_EQ(c.flat ? w.FlatWidth : w.DarkWidth, c.width);
        EXPECT_EQ(c.flat ? w.FlatHeight : w.DarkHeight, c.height);
        EXPECT_EQ(c.flat ? w.flatfile : w.darkfile, c.path);
        EXPECT_EQ(c.flat ? w.flatfiletype : w.darkfiletype, c.type);
        const int y = c.height == 2 ? 0 : 2;
        const float expected[] = {c.r, c.g, c.b};
        const float outside = c.flat ? 1.0f : 0.0f;
        for (int channel = 0; channel < 3; ++channel) {
            EXPECT_FLOAT_EQ((*planes[channel])[1][y], expected[channel]) << channel;
            EXPECT_EQ((*planes[channel])[c.width][0], outside);
            EXPECT_EQ((*planes[channel])[0][c.height], outside);
            EXPECT_EQ((*planes[channel])[19][19], outside);
        }
    }
    // The zeros' neighbours carry the mean: 200 and 0 average 100.
    EXPECT_FLOAT_EQ(w.FlatG[1][1], 2.0f);
}

TEST(Calibration, OversizedBmpIsCutWithTheWarning) {
    TempDir dir;
    const std::string wide = testing::writeBmp(dir, "wide.bmp", testing::uniform(1030, 2, 3));
    Workspace& w = sharedWorkspace();
    const CalibrationLoad dark = loadDarkFrame(w, wide, CalibrationBmp);
    EXPECT_EQ(dark.message, " Warning : darkframe too large (max = 1024x1024), truncated !");
    EXPECT_EQ(w.DarkWidth, 1024);
    EXPECT_EQ(w.DarkG[1023][1], 384.0f);
    EXPECT_EQ(loadFlatField(w, wide, CalibrationBmp).message,
              " Warning: flatfield too large (max = 1024x1024), truncated !");
}

TEST(Calibration, FailedLoadLeavesThePreviousCalibrationInForce) {
    TempDir dir;
    const std::string good = greyFits(dir, "good.fitq", 3, 3, [](int, int) { return 64; });
    const std::string negative = greyFits(dir, "scaled.fit", 3, 3, [](int x, int) { return x - 1; });
    const std::string tooLarge = greyFits(dir, "huge.fit", 1025, 2, [](int, int) { return 1; });
    testing::writeText(dir.file("broken.fit"), "SIMPLE  =                    T");
    struct Case {
        const char* name;
        std::string path;
        int type;
        const char* message;  // thrown, or returned when nothing was loaded
    };
    const std::vector<Case> cases = {
        {"missing file", dir.file("missing.fit"), CalibrationFits, "Cannot open"},
        {"damaged file", dir.file("broken.fit"), CalibrationFits, "no END card"},
        {"unknown type", good, 4, "file type 4"},
        {"FITS larger than 1024", tooLarge, CalibrationFits, "too large (max = 1024x1024)!!"},
        {"flat with negative values", negative, CalibrationFits, ".fitq"},
    };
    Workspace& w = sharedWorkspace();
    for (const bool flat : {false, true}) {
        const auto load = flat ? loadFlatField : loadDarkFrame;
        load(w, good, CalibrationSpecialFits);
        for (const Case& c : cases) {
            if (!flat && std::string(c.name).starts_with("flat")) continue;
            SCOPED_TRACE(std::string(c.name) + (flat ? " (flat)" : " (dark)"));
            std::string message;
            try {
                const CalibrationLoad result = load(w, c.path, c.type);
                EXPECT_FALSE(result.loaded);
                EXPECT_FALSE(result.uncheckColourStack);
                message = result.message;
            } catch (const PlanexorError& error) {
                message = error.what();
            }
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_EQ(flat ? w.FlatG[1][1] : w.DarkG[1][1], flat ? 1.0f : 64.0f);
            EXPECT_EQ(flat ? w.FlatWidth : w.DarkWidth, 3);
            EXPECT_EQ(flat ? w.flatfile : w.darkfile, good);
            EXPECT_EQ(flat ? w.flatfiletype : w.darkfiletype, CalibrationSpecialFits);
        }
    }
}

}  // namespace
}  // namespace planexor
