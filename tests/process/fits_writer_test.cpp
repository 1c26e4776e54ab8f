#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <sys/stat.h>

#include "core/error.h"
#include "process/fits_writer.h"
#include "support/fits_files.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

constexpr int Width = 5, Height = 3;

// Stack planes whose every pixel differs, -300 (an over-subtracted dark) to
// 12.5 in red and larger in the other channels.
Workspace& stackOf(float scale) {
    static const auto workspace = std::make_unique<Workspace>();
    TFloatPlane* planes[] = {&workspace->StackR, &workspace->StackG, &workspace->StackB};
    for (int channel = 0; channel < 3; ++channel)
        for (int x = 0; x < Width; ++x)
            for (int y = 0; y < Height; ++y) (*planes[channel])[x][y] = scale * (channel + 1) * (x + Width * y);
    workspace->StackR[0][0] = -300;
    workspace->StackR[1][0] = 12.5f;
    return *workspace;
}

TFITParams fixedTime() {
    TFITParams params;
    params.UseNow = false;
    params.Date = 46000.0;  // 2025-12-09
    params.Time = 0.5;
    return params;
}

TEST(FitsWriter, EveryVariantIsStandardAndReadsBackAsScaled) {
    struct Case { const char* name; int source, bitpix; bool colour; std::vector<std::string> files; };
    const std::vector<Case> cases = {
        {"stack, 16 bits", FitsStack, 16, false, {"jupiter.fit"}},
        {"stack, 32 bits", FitsStack, 32, false, {"jupiter.fit"}},
        {"special", FitsSpecialStack, 16, false, {"jupiter.fitq"}},
        {"colour", FitsStack, 16, true, {"jupiter_R.fit", "jupiter_G.fit", "jupiter_B.fit"}},
    };
    // A processed picture keeps a FITS name it was given, in its own case.
    EXPECT_EQ(fitsTargetNames("m.FTS", FitsProcessed, false), std::vector<std::string>{"m.FTS"});
    const Workspace& w = stackOf(10.0f);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const auto written = WriteFits(dir.file("jupiter.fits"), Width, Height, c.bitpix, c.source, fixedTime(),
                                       stackChannels(w), c.colour);
        ASSERT_EQ(written.size(), c.files.size());
        // The span covers every channel written: the largest is blue's, or green's in grey.
        const double smallest = c.colour ? -300 : 0;
        const double largest = (c.colour ? 30.0 : 20.0) * (Width * Height - 1);
        const double fullRange = c.bitpix == 16 ? 65536.0 : 4294967294.0;
        for (std::size_t i = 0; i < written.size(); ++i) {
            ASSERT_EQ(written[i], dir.file(c.files[i]));
            EXPECT_EQ(testing::fitsverifyComplaints(written[i]), "");
            const testing::CfitsioImage theirs = testing::readWithCfitsio(written[i]);
            ASSERT_EQ(theirs.axes, (std::vector<long>{Width, Height}));
            EXPECT_EQ(theirs.bitpix, c.bitpix);
            const TFloatPlane& plane = *stackChannels(w)[c.colour ? i : 1];
            for (int r = 0; r < Height; ++r)
                for (int x = 0; x < Width; ++x) {
                    const double v = plane[x][Height - 1 - r];  // bottom row stored first
                    const double expected = c.source == FitsSpecialStack
                                                ? std::clamp(std::nearbyint(v * 128), -32768.0, 32767.0)
                                                : std::nearbyint(((v - smallest) / (1.1 * (largest - smallest)) - 0.5) * fullRange);
                    EXPECT_EQ(theirs.values[r * Width + x], expected) << x << "," << r;
                }
        }
    }
    TempDir dir;
    // A constant image: span 0.000001, every value the lowest.
    WriteFits(dir.file("c.fit"), Width, Height, 16, FitsStack, fixedTime(), stackChannels(stackOf(0.0f)), false);
    for (double value : testing::readWithCfitsio(dir.file("c.fit")).values) EXPECT_EQ(value, -32768);
}

TEST(FitsWriter, HeaderTextsReadBackExactlyInCfitsio) {
    TFITParams params = fixedTime();
    params.Object = "O'Neil's \"moon\"";
    params.Telescope = std::string(66, 'T') + "'''";  // doubled, it no longer fits: shortened
    params.Instrument = std::string(100, 'i');
    params.Exposure = "1/60 s";
    params.Observer = "J\xc3\xbcrgen\t";
    TempDir dir;
    const std::string path = dir.file("texts.fit");
    WriteFits(path, Width, Height, 16, FitsStack, params, stackChannels(stackOf(1.0f)), false);
    EXPECT_EQ(testing::fitsverifyComplaints(path), "");
    const std::pair<const char*, std::string> values[] = {
        {"DATE-OBS", "2025-12-09"},
        {"TIME-OBS", "12:00:00"},
        {"OBJECT", params.Object},
        {"TELESCOP", std::string(66, 'T') + "'"},
        {"INSTRUME", std::string(68, 'i')},
        {"EXPOSURE", params.Exposure},
        {"OBSERVER", "J??rgen?"},
    };
    for (const auto& [keyword, value] : values) EXPECT_EQ(testing::cfitsioKeyword(path, keyword), value) << keyword;
    EXPECT_EQ(testing::cfitsioCard(path, 14), "COMMENT PLANEXOR");
}

TEST(FitsWriter, OverwriteAnswersAndFailedWritesKeepOldFiles) {
    const Workspace& w = stackOf(1.0f);
    TempDir dir;
    const std::string base = dir.file("moon.fit");
    for (const char* name : {"moon_R.fit", "moon_G.fit", "moon_B.fit"}) testing::writeText(dir.file(name), "old");
    std::vector<std::string> asked;
    const auto written = WriteFits(base, Width, Height, 16, FitsStack, fixedTime(), stackChannels(w), true,
                                   [&](const std::string& path) {
                                       asked.push_back(path);
                                       return path.find("_G") != std::string::npos;
                                   });
    EXPECT_EQ(asked, fitsTargetNames(base, FitsStack, true));
    EXPECT_EQ(written, std::vector<std::string>{dir.file("moon_G.fit")});
    EXPECT_EQ(testing::readText(dir.file("moon_R.fit")), "old");
    EXPECT_EQ(testing::readWithCfitsio(dir.file("moon_G.fit")).axes.size(), 2u);

    // A failure part-way through a colour set keeps the old set whole.
    EXPECT_THROW(WriteFits(base, Width, Height, 16, FitsStack, fixedTime(), stackChannels(w), true,
                           [](const std::string& path) -> bool {
                               if (path.find("_B") != std::string::npos) throw PlanexorError("No space left");
                               return true;
                           }),
                 PlanexorError);
    EXPECT_EQ(testing::readText(dir.file("moon_R.fit")), "old");

    // New files get the permissions the umask gives, not a temporary file's.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(std::filesystem::status(dir.file("moon_G.fit")).permissions(), std::filesystem::perms(0666 & ~mask));
}

}  // namespace
}  // namespace planexor
