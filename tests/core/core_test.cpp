#include <gtest/gtest.h>

#include <clocale>
#include <csignal>
#include <cmath>
#include <filesystem>
#include <functional>
#include <new>
#include <sys/resource.h>
#include <stdexcept>
#include <tuple>
#include <vector>

#include "core/ascii_text.h"
#include "core/error.h"
#include "core/file_io.h"
#include "core/frame_loop.h"
#include "core/number_text.h"
#include "core/pixel.h"
#include "core/workspace.h"
#include "support/test_files.h"

namespace planexor {
namespace {

// Halves go to even, before the clamp too: byteClamp(254.5) is 254.
TEST(PixelHelpers, NearestAndByteClampRoundHalvesToEvenAndSaturate) {
    const struct { double value; int nearest, clamped; } cases[] = {
        {0.5, 0, 0}, {1.5, 2, 2}, {2.5, 2, 2}, {-0.5, 0, 0}, {-1.5, -2, 0}, {2.4999, 2, 2},
        {254.5, 254, 254}, {254.51, 255, 255}, {253.5, 254, 254}, {-40, -40, 0}, {1e9, 1000000000, 255}};
    for (const auto& c : cases) {
        EXPECT_EQ(nearest(c.value), c.nearest) << c.value;
        EXPECT_EQ(byteClamp(c.value), c.clamped) << c.value;
    }
    EXPECT_EQ(byteClamp(std::nan("")), 0);
}

// A locale with a decimal comma still writes a point.
TEST(NumberText, FifteenDigitsWithoutResidueAndAPointUnderACommaLocale) {
    const struct { double value; const char* text; } cases[] = {
        {0.1 * 3, "0.3"}, {2.0, "2"}, {-2.5, "-2.5"}, {1e-20, "1e-20"},
        {123456789012345678.0, "1.23456789012346e+17"}, {std::nan(""), "0"}, {-INFINITY, "0"}};
    for (const auto& c : cases) EXPECT_EQ(fifteenDigitText(c.value), c.text) << c.value;
    if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8"))
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    const std::string underComma = fifteenDigitText(2.5);
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(underComma, "2.5");
}

// Under a Turkish locale std::tolower leaves 'I' as it is: .AVI, .FITQ and
// [INPUT] must still read as ours.
TEST(AsciiText, ExtensionsAndNamesFoldTheSameUnderATurkishLocale) {
    ASSERT_TRUE(std::setlocale(LC_CTYPE, "tr_TR.UTF-8"));
    const std::vector<std::string> lowered = {lowerExtensionOf("/a/PLANET.AVI"), lowerExtensionOf("D.FITQ"),
                                              lowerAsciiText("INPUT")};
    const bool same = equalIgnoringAsciiCase("Input", "iNPUT");
    std::setlocale(LC_CTYPE, "C");
    EXPECT_EQ(lowered, (std::vector<std::string>{".avi", ".fitq", "input"}));
    EXPECT_TRUE(same);
}

// Ctrl-C or SIGTERM mid-save: the old file stays, and nothing is left beside it.
TEST(AtomicFileWriter, AnInterruptedSaveLeavesTheOldFileAndNoTemporary) {
    GTEST_FLAG_SET(death_test_style, "fast");  // the child writes into this test's folder
    const testing::TempDir dir;
    const std::string target = dir.file("kept.txt");
    writeFileAtomically(target, "old");
    for (const int signal : {SIGINT, SIGTERM}) {
        EXPECT_EXIT(
            {
                removeUnfinishedFilesOnSignals();
                AtomicFileWriter other(dir.file("other.txt"));
                AtomicFileWriter file(target);
                file.write("new", 3);
                std::raise(signal);
            },
            ::testing::KilledBySignal(signal), "");
    }
    // Past a file-size limit the save fails as any write does, rather than ending the program.
    EXPECT_EXIT(
        {
            removeUnfinishedFilesOnSignals();
            rlimit limit;
            limit.rlim_cur = limit.rlim_max = 4096;
            setrlimit(RLIMIT_FSIZE, &limit);
            try {
                writeFileAtomically(target, std::string(8192, 'x'));
            } catch (const std::exception&) {
                std::exit(3);
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(3), "");
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"kept.txt"});
    EXPECT_EQ(testing::readText(target), "old");
}

TEST(Workspace, ResetOnOpeningClearsRecordsButKeepsPlanesAndCalibration) {
    Workspace w;
    w.DarkG[3][4] = 255 * 128.0f;
    w.FlatR[1][1] = 0.5f;
    w.StackG[0][0] = 9;
    w.DarkWidth = 640;
    w.FrameRecs[17] = {3, -2, 1, 1, 0.5f, 0.25f, 0.4f, 0.3f, 1};
    w.Ranking[4] = {17, 0.5f, 0.7f};
    w.hotx = 100;
    w.StillFrames = true;
    w.StopRequested = true;
    w.ResampleFactor = 3.5f;

    w.resetForOpening();

    EXPECT_EQ(std::tuple(w.DarkG[3][4], w.FlatR[1][1], w.StackG[0][0], w.DarkWidth),
              std::tuple(255 * 128.0f, 0.5f, 9.0f, 640));
    TFrameRec expected;
    expected.Excluded = 1;  // set per frame later, when the frame list is built
    EXPECT_EQ(w.FrameRecs[17], expected);
    EXPECT_EQ(w.Ranking[4], TRankEntry{});
    EXPECT_EQ(std::tuple(w.hotx, w.StillFrames, w.StopRequested, w.ResampleFactor), std::tuple(0, false, false, 2.0f));
}

// A source whose frames carry their number in the first pixel.
class CountingSource : public FrameSource {
public:
    explicit CountingSource(int count) : count_(count) {}
    int frameCount() const override { return count_; }
    void decode(int frame, Bitmap24& into) override {
        if (frame == failAt) throw PlanexorError("Failed to decompress AVI frame");
        into.resize(4, 2);
        into.pixel(0, 0)[0] = static_cast<std::uint8_t>(frame);
        decoded.push_back(frame);
    }
    std::string describe() const override { return "test"; }
    std::vector<int> decoded;
    int failAt = -1;

private:
    int count_;
};

class ScriptedProgress : public RunProgress {
public:
    void yield() override {
        ++yields;
        if (yields == stopAtYield) stop = true;
    }
    bool stopRequested() const override { return stop; }
    int yields = 0;
    int stopAtYield = -1;
    bool stop = false;
};

TEST(FrameLoop, StopBeforeFrameKDecodesNothingFurther) {
    Workspace w;
    w.StackRun = true;
    w.usedframes = 10;
    CountingSource source(10);
    Bitmap24 frame;
    ScriptedProgress progress;
    progress.stopAtYield = 4;  // Cancel pressed while frame 3 waits
    const auto outcome = runFrameLoop(w, source, {0, 9}, frame, {}, progress);
    EXPECT_EQ(outcome.result, LoopResult::Stopped);
    EXPECT_EQ(source.decoded, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(outcome.framesHandled, 3);
    EXPECT_TRUE(w.StopRequested);
}

TEST(FrameLoop, FailuresAreReportedNotThrownEndTheRunAndReadLikeTheProgramsOwn) {
    struct Case { std::function<void()> fail; const char* text; };
    const Case cases[] = {
        {[] { throw PlanexorError("Failed to decompress AVI frame"); }, "Failed to decompress AVI frame"},
        {[] { throw std::bad_alloc(); }, "Not enough memory to stack frame 3"},
        {[] { throw std::out_of_range("vector"); }, "Could not stack frame 3: vector"},
    };
    for (const Case& c : cases) {
        Workspace w;
        w.StackRun = true;
        w.usedframes = 6;
        CountingSource source(6);
        int handed = 0;
        Bitmap24 frame;
        RunProgress none;
        const auto outcome = runFrameLoop(
            w, source, {0, 5}, frame,
            [&](int n, Bitmap24&) {
                if (n == 2) c.fail();
                ++handed;
            },
            none, "stack");
        EXPECT_EQ(outcome.result, LoopResult::Failed);
        EXPECT_EQ(outcome.error, c.text);
        EXPECT_EQ(handed, 2);
    }
}

// Outside a run, showing a frame decodes it even when excluded, for nobody.
TEST(FrameLoop, NeverRunsPastTheLastFrameSlotOrTheSourceAndShowsAnExcludedFrameForNobody) {
    Workspace w;
    w.FrameRecs[1].Excluded = 1;
    CountingSource shown(3);
    Bitmap24 frame;
    std::vector<int> handed;
    RunProgress none;
    runFrameLoop(w, shown, {1, 1}, frame, [&](int n, Bitmap24&) { handed.push_back(n); }, none);
    EXPECT_EQ(shown.decoded, std::vector<int>{1});
    EXPECT_TRUE(handed.empty());

    CountingSource source(3000);
    runFrameLoop(w, source, {2495, 2999}, frame, {}, none);
    EXPECT_EQ(source.decoded.back(), 2500);
    CountingSource shortSource(3);
    runFrameLoop(w, shortSource, {0, 10}, frame, {}, none);
    EXPECT_EQ(shortSource.decoded.back(), 2);
}

}  // namespace
}  // namespace planexor
