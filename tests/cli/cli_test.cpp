#include <gtest/gtest.h>

#include <filesystem>

#include "app/main_form.h"
#include "core/file_io.h"
#include "input/bmp_codec.h"
#include "demo/synthetic_planet.h"
#include "support/ffmpeg_tool.h"
#include "support/fits_files.h"
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

// A write that fails, the printed result included, never exits 0.
TEST_F(Cli, EveryFailedWriteExitsOne) {
    const std::string frames = frame("a.bmp", 1) + " " + frame("b.bmp", 2);
    const std::string missing = dir.file("missing/x");
    for (const std::string& command :
         {cli("frame " + frames + " --out " + missing + ".bmp"), cli("info " + frames + " --save-list " + missing + ".pxl"),
          "{ " + cli("info " + frames) + " >/dev/full; }"}) {
        const auto run = runCommand(command);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.err.find("error: Cannot write"), std::string::npos) << run.err;
    }
}

TEST_F(Cli, NeverTouchesTheWindowsUserSettings) {
    TempDir home;
    const auto run = runCommand("HOME=" + home.path() + " XDG_CONFIG_HOME=" + home.path() + "/.config " +
                                cli("info " + frame("a.bmp", 1) + " " + frame("b.bmp", 2)));
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(std::filesystem::is_empty(home.path()));
}

TEST_F(Cli, InfoAndFrameTakeAnAviWrittenByFfmpeg) {
    REQUIRE_FFMPEG();
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

// The window's handlers driven the way a user stacks and sharpens: the same
// steps the CLI takes for the same options.
Bitmap24 stackAsTheWindowDoes(const std::string& video, bool sharpen) {
    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    ui.queueFiles({video}, 1);
    form.control(Control::SelectFileButton).click();
    form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, 160, 120, true);
    form.control(Control::Allignallbutton).click();
    form.control(Control::StackSlider).setValueByUser(7);
    form.control(Control::differencecutslider).setValueByUser(90);
    form.control(Control::Stackbutton).click();
    if (!sharpen) return form.stackBitmap();
    const int gains[6] = {40, 25, 15, 10, 10, 10};
    for (int layer = 0; layer < 6; ++layer)
        form.control(GainSliders[layer]).setValueByUser(gains[layer]);
    form.control(Control::CheckBox10).setCheckedByUser(false);
    form.control(Control::ContrastSlider).setValueByUser(120);
    form.control(Control::Gamma1spin).setValueByUser(1.2);
    form.control(Control::ProcessButton).click();
    EXPECT_TRUE(ui.messages.empty());
    return form.image(Control::ProcessImage);
}

TEST_F(Cli, StackWritesExactlyWhatTheWindowsHandlersProduce) {
    DemoOptions demo;
    demo.directory = dir.path();
    demo.frames = 24;
    demo.width = 320;
    demo.height = 240;
    RunProgress quiet;
    const std::string video = writeDemoSequence(demo, quiet).sequenceFiles.front();
    const std::string common = "stack " + video + " --feature 160,120 --best 8 --max-diff 90";

    const auto plain = runCommand(cli(common + " --out " + dir.file("plain.bmp")));
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.out.rfind("stacked ", 0), 0u) << plain.out;
    Bitmap24 written;
    readBmpFile(dir.file("plain.bmp"), written);
    EXPECT_EQ(written, stackAsTheWindowDoes(video, false));

    // The same frames recorded as an RGB SER stack to the same bytes.
    demo.directory = dir.file("ser");
    demo.format = DemoOptions::Ser;
    demo.serColour = SerColour::Rgb;
    const std::string ser = writeDemoSequence(demo, quiet).sequenceFiles.front();
    const auto fromSer = runCommand(cli("stack " + ser + " --feature 160,120 --best 8 --max-diff 90 --out " +
                                        dir.file("ser.bmp")));
    ASSERT_EQ(fromSer.status, 0) << fromSer.err;
    EXPECT_EQ(testing::readText(dir.file("ser.bmp")), testing::readText(dir.file("plain.bmp")));

    const auto sharp = runCommand(cli(common + " --wavelets 40,25,15,10,10,10 --layers-off 6 --contrast 120 "
                                               "--gamma 1.2 --out " + dir.file("sharp.bmp")));
    ASSERT_EQ(sharp.status, 0) << sharp.err;
    readBmpFile(dir.file("sharp.bmp"), written);
    EXPECT_EQ(written, stackAsTheWindowDoes(video, true));

    const std::string never = " --out " + dir.file("never.bmp");
    for (const std::string& bad : {" --best 0" + never, " --best 25" + never, " --gamma 0" + never,
                                  " --wavelets 1,2,3" + never, " --filter cubic" + never,
                                  " --best 3 --best-percent 10" + never, " --deinterlace left" + never,
                                  std::string(" --out ") + dir.file("x.png")}) {
        const auto run = runCommand(cli(common + bad));
        EXPECT_EQ(run.status, 2) << bad << ": " << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.bmp")));
}

// The window opening one picture, sharpening it and saving through the dialog.
void saveAsTheWindowDoes(const std::string& image, int openFilter, const std::string& out, int saveFilter) {
    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    ui.queueFiles({image}, openFilter);
    form.control(Control::SelectFileButton).click();
    const int gains[6] = {40, 25, 15, 10, 10, 10};
    for (int layer = 0; layer < 6; ++layer) form.control(GainSliders[layer]).setValueByUser(gains[layer]);
    form.control(Control::ProcessButton).click();
    ui.queueFiles({out}, saveFilter);
    form.control(Control::SaveBMP2button).click();
    EXPECT_TRUE(ui.messages.empty());
}

// The file's bytes with the date and time cards blanked: they record when it was written.
std::string withoutTimestamps(const std::string& path) {
    std::string bytes = testing::readText(path);
    if (lowerExtensionOf(path) == ".fit" && bytes.size() > 640) bytes.replace(6 * 80, 2 * 80, 2 * 80, ' ');
    return bytes;
}

TEST_F(Cli, ProcessWritesWhatTheWindowWritesForOneImage) {
    testing::CfitsioImage picture;
    picture.axes = {160, 120};
    for (int i = 0; i < 160 * 120; ++i) picture.values.push_back((i % 160) * 40 + (i / 160 % 9) * 300 - 2000);
    const std::string fits = dir.file("m42.fit");
    testing::writeWithCfitsio(fits, picture);
    const std::string bmp = frame("moon.bmp", 5, 160, 120);
    struct Case {
        std::string input;
        int openFilter;
        std::string out;
        int saveFilter;
    };
    for (const Case& c : {Case{fits, 3, "a.fit", 2}, Case{fits, 3, "a.bmp", 1}, Case{bmp, 2, "b.jpg", 4}}) {
        const auto run = runCommand(cli("process " + c.input + " --wavelets 40,25,15,10,10,10 --out " + dir.file("cli-" + c.out)));
        ASSERT_EQ(run.status, 0) << c.out << ": " << run.err;
        EXPECT_EQ(run.out, "saved: " + dir.file("cli-" + c.out) + "\n");
        saveAsTheWindowDoes(c.input, c.openFilter, dir.file("win-" + c.out), c.saveFilter);
        EXPECT_EQ(withoutTimestamps(dir.file("cli-" + c.out)), withoutTimestamps(dir.file("win-" + c.out))) << c.out;
    }
}

TEST_F(Cli, GammaCurveAndKernelGiveWhatTheEditorsGive) {
    const std::string image = frame("moon.bmp", 5, 160, 120);
    const auto run = runCommand(cli("process " + image + " --gamma 1.3 --kernel 1,2,1,2,4,2,1,2,1 "
                                    "--gamma-curve 0:0,64:40,128:127,192:215,255:255 --out " + dir.file("cli.bmp")));
    ASSERT_EQ(run.status, 0) << run.err;
    {
        ScriptedUiServices ui;
        MemoryUserSettings settings;
        TMainForm form(ui, settings);
        ui.queueFiles({image}, 2);
        form.control(Control::SelectFileButton).click();
        form.control(Control::Gamma1spin).setValueByUser(1.3);
        const double weights[9] = {1, 2, 1, 2, 4, 2, 1, 2, 1};
        for (int tap = 0; tap < 9; ++tap) form.control(FilterSpins[tap]).setValueByUser(weights[tap]);
        form.control(Control::Button1).click();
        form.mouseEvent(Control::GammaSplineGraph, TMainForm::MouseAction::Down, 64, 215, MouseButtons{false, true});
        form.mouseEvent(Control::GammaSplineGraph, TMainForm::MouseAction::Down, 192, 40, MouseButtons{false, true});
        form.mouseEvent(Control::GammaSplineGraph, TMainForm::MouseAction::Up, 192, 40, MouseButtons{false, true});
        ui.queueFiles({dir.file("win.bmp")}, 1);
        form.control(Control::SaveBMP2button).click();
        EXPECT_TRUE(ui.messages.empty());
    }
    EXPECT_EQ(testing::readText(dir.file("cli.bmp")), testing::readText(dir.file("win.bmp")));

    // The fourth weight is the middle row's left tap: it moves an impulse right.
    Bitmap24 impulse;
    impulse.resize(21, 21);
    std::fill(impulse.pixel(10, 10), impulse.pixel(10, 10) + 3, 255);
    const std::string dot = testing::writeBmp(dir, "dot.bmp", impulse);
    const auto echo = runCommand(cli("process " + dot + " --layers-off 1 --kernel 0,0,0,1,0,0,0,0,0 --out " + dir.file("echo.bmp")));
    ASSERT_EQ(echo.status, 0) << echo.err;
    Bitmap24 smoothed;
    readBmpFile(dir.file("echo.bmp"), smoothed);
    EXPECT_EQ(smoothed.pixel(11, 10)[1], 255);
    EXPECT_EQ(smoothed.pixel(10, 10)[1], 0);

    std::string many = "0:0";
    for (int i = 1; i < 249; ++i) many += "," + std::to_string(i) + ":" + std::to_string(i);
    const std::string never = " --out " + dir.file("never.bmp");
    for (const std::string& bad : std::vector<std::string>{"--gamma-curve 0:0,100:200,90:220,255:255", "--gamma-curve 0:0,50:50,50:60,255:255",
                                   "--gamma-curve 0:0,300:255", "--gamma-curve 0:0", "--gamma-curve 0:10,255:255",
                                   "--gamma-curve 0:0,128:x,255:255", "--gamma-curve curve",
                                   "--gamma-curve " + many + ",255:255", "--kernel 1,1,1,1,1,1,1,1",
                                   "--kernel 1,1,1,1,nan,1,1,1,1", "--kernel 1,1,1,1,5000,1,1,1,1"}) {
        const auto refused = runCommand(cli("process " + image + " " + bad + never));
        EXPECT_EQ(refused.status, 2) << bad << ": " << refused.err;
        EXPECT_NE(refused.err.find(bad.substr(2, bad.find(' ') - 2)), std::string::npos) << refused.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.bmp")));
}

TEST_F(Cli, SavingOptionsPlaceTheFileAndNeverOverwriteWhenTold) {
    const std::string image = frame("moon.bmp", 5, 160, 120);
    const auto selection = runCommand(cli("process " + image + " --selection 10,20,60,40 --subdir out/sharp --out s.bmp"));
    ASSERT_EQ(selection.status, 0) << selection.err;
    Bitmap24 written;
    readBmpFile(dir.file("out/sharp/s.bmp"), written);
    EXPECT_EQ(written.width(), 49);
    EXPECT_EQ(written.height(), 19);

    testing::writeText(dir.file("keep.bmp"), "old");
    const auto kept = runCommand(cli("process " + image + " --no-overwrite --out " + dir.file("keep.bmp")));
    EXPECT_EQ(kept.status, 1);
    EXPECT_EQ(testing::readText(dir.file("keep.bmp")), "old");
    for (const char* bad : {"--out x.fitq", "--out x.png", "--save stack --selection 1,2,3,4 --out x.bmp",
                                   "--save neither --out x.bmp"})
        EXPECT_EQ(runCommand(cli("process " + image + " " + std::string(bad))).status, 2) << bad;
}


// The bytes of a FITS file with its DATE-OBS and TIME-OBS cards blanked.
std::string withoutObservationTime(const std::string& path) {
    std::string bytes = testing::readText(path);
    for (const char* key : {"DATE-OBS", "TIME-OBS"})
        if (const auto at = bytes.find(key); at != std::string::npos && at % 80 == 0) bytes.replace(at, 80, 80, ' ');
    return bytes;
}

TEST_F(Cli, CalibrationCommandsWriteWhatTheWindowWritesAndRefuseBadFiles) {
    DemoOptions demo;
    demo.directory = dir.path();
    demo.frames = 16;
    demo.width = 160;
    demo.height = 120;
    demo.hotPixels = 60;
    demo.vignetting = 0.4;
    RunProgress quiet;
    const DemoResult written = writeDemoSequence(demo, quiet);
    const std::string dark = dir.file("dark.fitq"), flat = dir.file("flat.fitq");
    const auto made = runCommand(cli("make-dark " + written.darkFiles.front() + " --out " + dark));
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, "darkframe of 40 frames: " + dark + "\n");
    ASSERT_EQ(runCommand(cli("make-flat " + written.flatFiles.front() + " --dark " + dark + " --out " + flat)).status, 0);
    const auto stacked = runCommand(cli("stack " + written.sequenceFiles.front() + " --feature 80,60 --best 4 --dark " +
                                        dark + " --flat " + flat + " --out " + dir.file("cli.bmp")));
    ASSERT_EQ(stacked.status, 0) << stacked.err;

    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    form.control(Control::AutoOptimize).setChecked(false);  // as the CLI without --optimize
    ui.queueFiles({written.darkFiles.front()}, 1);
    form.control(Control::SelectFileButton).click();
    form.control(Control::ColourStack).setCheckedByUser(false);
    form.control(Control::CreateDarkframe).click();
    ui.queueFiles({dir.file("window-dark.fitq")}, 3);
    form.control(Control::SaveButton).click();
    EXPECT_EQ(withoutObservationTime(dark), withoutObservationTime(dir.file("window-dark.fitq")));
    for (const auto& [button, box, file] : {std::tuple{Control::LoadDarkframe, Control::UseDarkFrame, dark},
                                            {Control::Flatfieldbutton, Control::UseFlatfield, flat}}) {
        ui.queueFiles({file}, 2);
        form.control(button).click();
        form.control(box).setCheckedByUser(true);
    }
    ui.queueFiles({written.sequenceFiles.front()}, 1);
    form.control(Control::SelectFileButton).click();
    form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, 80, 60, true);
    form.control(Control::Allignallbutton).click();
    form.control(Control::StackSlider).setValueByUser(3);
    form.control(Control::Stackbutton).click();
    EXPECT_TRUE(ui.messages.empty());
    Bitmap24 fromCli;
    readBmpFile(dir.file("cli.bmp"), fromCli);
    EXPECT_EQ(fromCli, form.stackBitmap());

    testing::CfitsioImage huge;
    huge.axes = {1100, 4};
    huge.values.assign(4400, 1.0);
    testing::writeWithCfitsio(dir.file("huge.fit"), huge);
    const std::string stack = "stack " + written.sequenceFiles.front() + " --feature 80,60 --out " + dir.file("x.bmp");
    for (const auto& [options, status] : {std::pair{" --dark " + dir.file("huge.fit"), 1},
                                          {" --flat " + dark + ".png", 2}}) {
        const auto run = runCommand(cli(stack + options));
        EXPECT_EQ(run.status, status) << options << ": " << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.bmp")));
}

}  // namespace
}  // namespace planexor

namespace planexor {
namespace {

TEST_F(Cli, ProjectsWrittenByTheCliOpenInTheWindowsHandlersAndResume) {
    const std::string demo = dir.file("demo");
    ASSERT_EQ(runCommand(cli("make-demo " + demo + " --frames 16 --size 320x240")).status, 0);
    // The window's settings on purpose: a 64-pixel box.
    testing::writeText(dir.file("planexor.ini"), "[Form]\nFFTsizeGroup_ItemIndex=0\n");
    const std::string project = dir.file("aligned.pxp");
    const auto align = runCommand(cli("align " + demo + "/planet.avi --feature 160,120 --settings " +
                                      dir.file("planexor.ini") + " --shifts " + dir.file("s.csv") + " --project " +
                                      project));
    ASSERT_EQ(align.status, 0) << align.err;

    ScriptedUiServices ui;
    MemoryUserSettings settings;
    TMainForm form(ui, settings);
    ui.queueFiles({project}, 1);
    form.control(Control::LoadProject).click();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(form.workspace().progstatus, 2);
    EXPECT_EQ(form.alignBoxSize(), 64);
    const std::string csv = testing::readText(dir.file("s.csv"));
    for (int frame = 0; frame < 16; ++frame) {
        const TFrameRec& record = form.workspace().FrameRecs[frame];
        const std::string row = std::to_string(frame) + "," + std::to_string(record.ShiftX) + "," +
                                std::to_string(record.ShiftY) + ",";
        EXPECT_NE(csv.find("\n" + row), std::string::npos) << row;
    }

    const auto info = runCommand(cli("info " + project));
    EXPECT_EQ(info.out, "stage: 2 (aligned)\nsource: AVI " + demo + "/planet.avi\nframes: 16\nused: 16\n");
    const auto stack = runCommand(cli("stack " + project + " --best 4 --out " + dir.file("s.bmp") + " --project " +
                                      dir.file("stacked.pxp")));
    ASSERT_EQ(stack.status, 0) << stack.err;
    EXPECT_NE(stack.out.find("stacked 4 frames"), std::string::npos);
    const auto process = runCommand(cli("process " + dir.file("stacked.pxp") + " --gamma 1.4 --out " + dir.file("p.bmp")));
    EXPECT_EQ(process.status, 0) << process.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("p.bmp")));

    const auto unstacked = runCommand(cli("process " + project + " --out " + dir.file("q.bmp")));
    EXPECT_EQ(unstacked.status, 1);
    EXPECT_NE(unstacked.err.find("no stack yet"), std::string::npos);
    testing::writeText(dir.file("bad.pxp"), "[Input]\nfiletype=AVI\nsequencelength=99999\n");
    const auto bad = runCommand(cli("stack " + dir.file("bad.pxp") + " --out " + dir.file("b.bmp")));
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.err.find("sequencelength=99999"), std::string::npos) << bad.err;
    const auto about = runCommand(cli("about"));
    EXPECT_NE(about.out.find("\n OS: "), std::string::npos);
    EXPECT_NE(about.out.find(" Kb\n"), std::string::npos);
}

}  // namespace
}  // namespace planexor
