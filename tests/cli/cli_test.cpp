#include <gtest/gtest.h>

#include <filesystem>

#include "input/bmp_codec.h"
#include "support/ffmpeg_tool.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::runCommand;
using testing::TempDir;

std::string cli(const std::string& arguments) { return std::string(PLANEXOR_CLI_PATH) + " " + arguments; }

class Cli : public ::testing::Test {
protected:
    std::string frame(const std::string& name, int number, int width = 96, int height = 80) {
        return testing::writeBmp(dir, name, testing::numberedFrame(width, height, number));
    }
    TempDir dir;
};

TEST_F(Cli, InfoReportsTheSequenceOfStillFrames) {
    const auto result = cli("info " + frame("a.bmp", 1) + " " + frame("b.bmp", 2) + " " + frame("c.bmp", 3));
    const auto run = runCommand(result);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "frames: 3\nwidth: 96\nheight: 80\nsource: BMP\n");
}

TEST_F(Cli, FrameWritesTheRequestedFrameInTheGivenOrder) {
    const std::string a = frame("a.bmp", 1), b = frame("b.bmp", 2), c = frame("c.bmp", 3);
    for (int index : {0, 1, 2}) {
        const std::string out = dir.file("out" + std::to_string(index) + ".bmp");
        const auto run = runCommand(cli("frame " + a + " " + b + " " + c + " --index " + std::to_string(index) +
                                        " --out " + out));
        ASSERT_EQ(run.status, 0) << run.err;
        Bitmap24 written;
        readBmpFile(out, written);
        EXPECT_EQ(written, testing::numberedFrame(96, 80, index + 1));
    }
}

TEST_F(Cli, UsageErrorsExitWithTwoAndSayWhatIsWrong) {
    EXPECT_EQ(runCommand(cli("")).status, 2);
    EXPECT_EQ(runCommand(cli("stak x.avi")).status, 2);
    const auto unknownOption = runCommand(cli("info a.bmp --fast"));
    EXPECT_EQ(unknownOption.status, 2);
    EXPECT_NE(unknownOption.err.find("unknown option --fast"), std::string::npos);
    const auto badIndex = runCommand(cli("frame " + frame("a.bmp", 1) + " --index two --out x.bmp"));
    EXPECT_EQ(badIndex.status, 2);
    EXPECT_EQ(runCommand(cli("frame " + frame("a.bmp", 1) + " --index 0")).status, 2);
    EXPECT_EQ(runCommand(cli("info")).status, 2);
    for (const char* command : {"--help", "info --help", "frame --help", "make-demo --help"}) {
        const auto help = runCommand(cli(command));
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find("usage"), std::string::npos) << command;
    }
}

TEST_F(Cli, BrokenInputsFailWithAMessageAndExitOne) {
    testing::writeText(dir.file("text.bmp"), "hello, I am text\n");
    testing::writeText(dir.file("empty.jpg"), "");
    testing::writeText(dir.file("notes.png"), "x");
    const auto bytes = encodeBmp(testing::numberedFrame(64, 64, 1));
    testing::writeText(dir.file("cut.bmp"), std::string(bytes.begin(), bytes.begin() + 300));
    for (const std::string& input : {dir.file("text.bmp"), dir.file("empty.jpg"), dir.file("absent.bmp"),
                                    dir.file("cut.bmp"), dir.file("notes.png")}) {
        const auto run = runCommand(cli("info " + input));
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_NE(run.err.find("error: "), std::string::npos) << input << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << input;
    }
    const auto outOfRange = runCommand(cli("frame " + frame("a.bmp", 1) + " " + frame("b.bmp", 2) +
                                           " --index 2 --out " + dir.file("x.bmp")));
    EXPECT_EQ(outOfRange.status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.bmp")));
}

TEST_F(Cli, NeverTouchesTheWindowsUserSettings) {
    TempDir home;
    const auto run = runCommand("HOME=" + home.path() + " XDG_CONFIG_HOME=" + home.path() + "/.config " +
                                cli("info " + frame("a.bmp", 1) + " " + frame("b.bmp", 2)));
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::filesystem::is_empty(home.path()));
}

TEST_F(Cli, InfoAndFrameTakeAnAviWrittenByFfmpeg) {
    if (!testing::ffmpegAvailable()) GTEST_SKIP() << "needs the ffmpeg tool";
    const std::string video = dir.file("clip.avi");
    const auto frames = testing::writeCountingVideo(video, 120, 90, 6, "-c:v rawvideo -pix_fmt bgr24");
    const auto info = runCommand(cli("info " + video));
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "frames: 6\nwidth: 120\nheight: 90\nsource: AVI rawvideo\n");
    const auto frame = runCommand(cli("frame " + video + " --index 4 --out " + dir.file("f4.bmp")));
    ASSERT_EQ(frame.status, 0) << frame.err;
    Bitmap24 written;
    readBmpFile(dir.file("f4.bmp"), written);
    EXPECT_EQ(written, frames[4]);
}

}  // namespace
}  // namespace planexor
