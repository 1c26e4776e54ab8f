#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "core/file_io.h"
#include "demo/synthetic_planet.h"
#include "input/bmp_codec.h"
#include "support/ffmpeg_tool.h"
#include "support/fits_files.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

using testing::readText;
using testing::runCli;
using testing::ScriptedWindow;

class Cli : public testing::FormTest {
protected:
    std::string frame(const std::string& name, int number, int width = 96, int height = 80) {
        return testing::writeBmp(dir, name, testing::numberedFrame(width, height, number));
    }
    Bitmap24 readBmp(const std::string& name) {
        Bitmap24 read;
        readBmpFile(dir.file(name), read);
        return read;
    }
    // Runs `command`: it exits with `status`, and what it says on stderr holds `says`.
    void expectRun(const std::string& command, int status, const std::string& says) {
        const auto run = runCli(command);
        EXPECT_EQ(run.status, status) << command;
        EXPECT_NE(run.err.find(says), std::string::npos) << run.err;
    }
};

// The layer gains the sharpening tests give, through the window's sliders.
void setGains(TMainForm& form) {
    const int gains[6] = {40, 25, 15, 10, 10, 10};
    for (int layer = 0; layer < 6; ++layer) form.control(GainSliders[layer]).setValueByUser(gains[layer]);
}

TEST_F(Cli, InfoAndFrameReadStillFramesInTheGivenOrderAndAnAviWrittenByFfmpeg) {
    const std::string stills = frame("a.bmp", 1) + " " + frame("b.bmp", 2) + " " + frame("c.bmp", 3);
    const auto info = runCli("info " + stills);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(info.out, "frames: 3\nwidth: 96\nheight: 80\nsource: BMP\n");
    for (int index : {0, 2}) {
        ASSERT_EQ(runCli("frame " + stills + " --index " + std::to_string(index) + " --out " + dir.file("out.bmp")).status, 0);
        EXPECT_EQ(readBmp("out.bmp"), testing::numberedFrame(96, 80, index + 1));
    }

    // A name like an option after "--"; ".." after a symbolic link goes where the system goes.
    std::filesystem::create_directories(dir.file("night/a"));
    std::filesystem::create_directory_symlink(dir.file("night/a"), dir.file("current"));
    frame("night/--odd.bmp", 1);
    EXPECT_EQ(testing::runCommand("cd " + dir.file("night") + " && " + PLANEXOR_CLI_PATH + " info -- --odd.bmp").status, 0);
    EXPECT_EQ(runCli("info " + dir.file("current/../--odd.bmp")).out, "frames: 1\nwidth: 96\nheight: 80\nsource: BMP\n");

    REQUIRE_FFMPEG();
    const std::string video = dir.file("clip.avi");
    const auto frames = testing::writeCountingVideo(video, 120, 90, 6, "-c:v rawvideo -pix_fmt bgr24");
    EXPECT_EQ(runCli("info " + video).out, "frames: 6\nwidth: 120\nheight: 90\nsource: AVI rawvideo\n");
    ASSERT_EQ(runCli("frame " + video + " --index 4 --out " + dir.file("f4.bmp")).status, 0);
    EXPECT_EQ(readBmp("f4.bmp"), frames[4]);
}

TEST_F(Cli, UsageErrorsExitWithTwoAndBrokenInputsWithOne_NeitherWritesAnything) {
    const std::string a = frame("a.bmp", 1), b = frame("b.bmp", 2);
    const std::string bytesBefore = testing::readText(a) + testing::readText(b);
    for (const std::string& usage :
         {std::string(), std::string("stak x.avi"), "frame " + a + " --index two --out x.bmp", "frame " + a + " --index 0", "frame " + a + " --index 0 --out x.avi",
          std::string("info"), "frame " + a + " --index 4294967296 --out x.bmp", std::string("compare x.bmp"),
          "align " + a + " --feature 4294967456,120 --shifts s.csv", "align " + a + " --feature 1,1 --project " + a,
          "align " + a + " --feature 1,1 --shifts " + a, "process " + a + " --selection 0,0,99999,5 --out x.bmp",
          "process " + a + " --selection 5,5,14,40 --out x.bmp", "process " + a + " --out x.png",
          "process " + a + " --save stack --selection 1,2,3,4 --out x.bmp", "process " + a + " --out x.fitq",
          "process " + a + " --save neither --out x.bmp", "process " + a + " --subdir out --out " + dir.file("s.bmp"),
          "stack p.pxp --dark " + a + " --out x.bmp", std::string("stack p.pxp --exclude 3 --out x.bmp"),
          // An output that is an input, inputs that are not one sequence, options that would do nothing.
          "frame " + a + " --index 0 --out " + a, "process " + a + " --out " + a,
          "stack " + a + " --feature 32,32 --flat " + b + " --out " + b,
          "stack " + a + " " + b + " --box 64 --feature 48,40 --subdir . --out a.bmp", "make-flat " + a + " --out f.fit",
          "stack " + a + " " + a + " --feature 1,1 --out " + a, std::string("info x.avi y.avi"),
          std::string("process x.ser --out x.bmp"), std::string("info p.pxp --exclude 1"),
          "stack " + a + " --feature 1,1 --save stack --gamma 2 --out x.bmp",
          "stack " + a + " --feature 1,1 --filter bell --out x.bmp",
          "stack " + a + " --feature 1,1 --mono --colour --out x.bmp",
          "stack " + a + " --feature 48,40 --middle 5,5 --out x.bmp",
          "stack " + a + " --feature 48,40 --flat f.png --out x.bmp",
          "stack " + a + " " + b + " --box 64 --feature 48,40 --resample 2 --max-diff 50 --shifts s.csv --out x.bmp", "align " + a + " --feature 1,1 --search-area 3 --shifts s.csv",
          std::string("make-demo d --format bmp --codec mjpeg"), std::string("make-demo d --frames 0")})
        EXPECT_EQ(runCli(usage).status, 2) << usage;
    EXPECT_EQ(testing::readText(a) + testing::readText(b), bytesBefore);
    // Removed as they are checked: a stray file would fail the next run too.
    for (const char* written : {"s.csv", "x.bmp"}) EXPECT_FALSE(std::filesystem::remove(written)) << written;
    expectRun("info a.bmp --fast", 2, "unknown option --fast");
    for (const char* command : {"--help", "info --help", "frame --help", "make-demo --help"}) {
        const auto help = runCli(command);
        EXPECT_EQ(help.status, 0) << command;
        EXPECT_NE(help.out.find("usage"), std::string::npos) << command;
    }

    testing::writeText(dir.file("text.bmp"), "hello, I am text\n");
    testing::writeText(dir.file("empty.jpg"), "");
    testing::writeText(dir.file("notes.png"), "x");
    const auto bytes = encodeBmp(testing::numberedFrame(64, 64, 1));
    testing::writeText(dir.file("cut.bmp"), std::string(bytes.begin(), bytes.begin() + 300));
    for (const char* input : {"text.bmp", "empty.jpg", "absent.bmp", "cut.bmp", "notes.png"}) {
        const auto run = runCli("info " + dir.file(input));
        EXPECT_EQ(run.status, 1) << input;
        EXPECT_NE(run.err.find("error: "), std::string::npos) << input << ": " << run.err;
        EXPECT_TRUE(run.out.empty()) << input;
    }
    EXPECT_EQ(runCli("frame " + a + " " + frame("b.bmp", 2) + " --index 2 --out " + dir.file("x.bmp")).status, 1);
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.bmp")));
}

// Enlarged beyond 1024 pixels, the window kept is centred on the feature (or
// --middle), as a "Set middle" click there would: not cut at the top left.
TEST_F(Cli, AnEnlargedStackBeyondTheLimitKeepsTheWindowAroundItsMiddle) {
    const DemoResult written = demo("demo", 8, DemoOptions::Avi, 400, 300);
    const auto centreOfLight = [&](const std::string& name) {
        const Bitmap24 picture = readBmp(name);
        double moments = 0, light = 0;
        for (int y = 0; y < picture.height(); y += 4)
            for (int x = 0; x < picture.width(); x += 4) moments += x * picture.pixel(x, y)[1], light += picture.pixel(x, y)[1];
        return moments / light;
    };
    const std::string stack = "stack " + written.sequenceFiles.front() + " --resample 4 --filter lanczos --out ";
    ASSERT_EQ(runCli(stack + dir.file("feature.bmp") + " --feature 200,150").status, 0);
    EXPECT_NEAR(centreOfLight("feature.bmp"), 512, 40);
    ASSERT_EQ(runCli(stack + dir.file("middle.bmp") + " --feature 200,150 --middle 150,150").status, 0);
    EXPECT_NEAR(centreOfLight("middle.bmp"), 512 + 4 * 50, 40);
}

TEST_F(Cli, CompareMeasuresAfterPlacementAndGainAndRefusesAnOriginalWithoutAPlanet) {
    options.width = 160;
    options.height = 120;
    const Bitmap24 original = renderDemoOriginal(options);
    // Moved by whole pixels and dimmed to half: nothing lost that the measure counts.
    const Bitmap24 moved = testing::picture(
        160, 120, [&](int x, int y, int c) { return x >= 3 && y >= 2 ? original.pixel(x - 3, y - 2)[c] / 2 : 0; });
    const Bitmap24 noisy = testing::picture(
        160, 120, [&](int x, int y, int c) { return std::clamp(original.pixel(x, y)[c] + (x * 7 + y * 13) % 9 - 4, 0, 255); });
    const std::string reference = testing::writeBmp(dir, "original.bmp", original);
    const auto psnrOf = [&](const Bitmap24& picture) {
        const auto run = runCli("compare " + testing::writeBmp(dir, "picture.bmp", picture) + " " + reference);
        EXPECT_EQ(run.status, 0) << run.err;
        return std::stod(run.out.substr(run.out.find(' ')));
    };
    EXPECT_GT(psnrOf(moved), 45.0);
    EXPECT_LT(psnrOf(noisy), 45.0);
    EXPECT_GT(psnrOf(noisy), 35.0);
    expectRun("compare " + reference + " " + testing::writeBmp(dir, "black.bmp", Bitmap24(160, 120)), 1, "no planet");
    const auto larger = runCli("compare " + testing::writeBmp(dir, "larger.bmp", Bitmap24(320, 240)) + " " + reference);
    EXPECT_NE(larger.err.find("320x240 and the original 160x120"), std::string::npos) << larger.err;
}

// A write that fails, the printed result included, never exits 0.
TEST_F(Cli, EveryFailedWriteExitsOne) {
    const std::string frames = frame("a.bmp", 1) + " " + frame("b.bmp", 2);
    const std::string missing = dir.file("missing/x");
    const std::string cli = PLANEXOR_CLI_PATH;
    for (const std::string& command :
         {cli + " frame " + frames + " --out " + missing + ".bmp", cli + " info " + frames + " --save-list " + missing +
          ".pxl", "{ " + cli + " info " + frames + " >/dev/full; }"}) {
        const auto run = testing::runCommand(command);
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_NE(run.err.find("error: Cannot write"), std::string::npos) << run.err;
    }
}

// A capture that starts with a black frame: aligning on it would stack every
// frame unmoved. It is refused, and left out the reference is the next frame.
TEST_F(Cli, ABlackFirstFrameIsRefusedAsReferenceAndLeftOutWithExclude) {
    const DemoResult written = demo("demo", 4, DemoOptions::Bmp, 160, 120);
    std::string frames = testing::writeBmp(dir, "black.bmp", Bitmap24(160, 120));
    for (const std::string& file : written.sequenceFiles) frames += " " + file;
    const std::string stack = "stack " + frames + " --feature 80,60 --box 64 --out " + dir.file("s.bmp");
    expectRun(stack, 1, "Frame 0 shows nothing to align on");
    EXPECT_EQ(runCli(stack + " --exclude 0").status, 0);
}

// De-interlaced, the shifts file gives the first field's columns too, and a
// project stacked again keeps the fields it was aligned with.
TEST_F(Cli, ADeinterlacedRunWritesBothFieldsAndItsProjectKeepsThem) {
    const DemoResult written = demo("demo", 6, DemoOptions::Avi, 160, 120);
    const std::string stack = "stack " + written.sequenceFiles.front();
    ASSERT_EQ(runCli(stack + " --feature 80,60 --box 64 --deinterlace both --best 3 --out " + dir.file("s.bmp") +
                     " --shifts " + dir.file("s.csv") + " --project " + dir.file("p.pxp")).status, 0);
    const std::string csv = readText(dir.file("s.csv"));
    EXPECT_EQ(csv.substr(0, csv.find('\n')),
              "frame,shift_x,shift_y,difference,quality,rank,field0_shift_x,field0_shift_y,field0_difference,field0_quality");
    EXPECT_EQ(runCli("stack " + dir.file("p.pxp") + " --deinterlace none --out " + dir.file("t.bmp")).status, 2);
}

// Ctrl-C while a demo is rendered: no half-written video is left behind.
TEST_F(Cli, AnInterruptedDemoKeepsNothing) {
    const std::string demo = dir.file("demo");
    const auto run = testing::runCommand(std::string(PLANEXOR_CLI_PATH) + " make-demo " + demo +
                                         " --frames 2500 --size 320x240 & sleep 1; kill -INT $!; wait $!");
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE(std::filesystem::is_empty(demo));
}

// The window's handlers driven the way a user stacks and sharpens: the same
// steps the CLI takes for the same options.
Bitmap24 stackAsTheWindowDoes(const std::string& video, bool sharpen) {
    ScriptedWindow window;
    TMainForm& form = window.form;
    window.open({video});
    window.click(160, 120);
    window.alignAll();
    form.control(Control::StackSlider).setValueByUser(7);
    form.control(Control::differencecutslider).setValueByUser(90);
    form.control(Control::Stackbutton).click();
    if (!sharpen) return form.stackBitmap();
    setGains(form);
    form.control(Control::CheckBox10).setCheckedByUser(false);
    form.control(Control::ContrastSlider).setValueByUser(120);
    form.control(Control::Gamma1spin).setValueByUser(1.2);
    form.control(Control::ProcessButton).click();
    EXPECT_TRUE(window.ui.messages.empty());
    return form.image(Control::ProcessImage);
}

TEST_F(Cli, StackWritesExactlyWhatTheWindowsHandlersProduce) {
    const std::string video = demo("avi", 24).sequenceFiles.front();
    const std::string common = "stack " + video + " --feature 160,120 --best 8 --max-diff 90";

    const auto plain = runCli(common + " --out " + dir.file("plain.bmp"));
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(readBmp("plain.bmp"), stackAsTheWindowDoes(video, false));

    // The same frames recorded as an RGB SER stack to the same bytes.
    options.serColour = SerColour::Rgb;
    const std::string ser = demo("ser", 24, DemoOptions::Ser).sequenceFiles.front();
    ASSERT_EQ(runCli("stack " + ser + " --feature 160,120 --best 8 --max-diff 90 --out " + dir.file("ser.bmp")).status, 0);
    EXPECT_EQ(readText(dir.file("ser.bmp")), readText(dir.file("plain.bmp")));

    const auto sharp = runCli(common + " --wavelets 40,25,15,10,10,10 --layers-off 6 --contrast 120 --gamma 1.2 --out " +
                              dir.file("sharp.bmp"));
    ASSERT_EQ(sharp.status, 0) << sharp.err;
    EXPECT_EQ(readBmp("sharp.bmp"), stackAsTheWindowDoes(video, true));

    const std::string never = " --out " + dir.file("never.bmp");
    for (const std::string& bad : {" --best 0" + never, " --best 25" + never, " --gamma 0" + never,
                                   " --wavelets 1,2,3" + never, " --filter cubic" + never,
                                   " --best 3 --best-percent 10" + never, " --deinterlace left" + never,
                                   " --points -2" + never, " --points many" + never, " --max-diff 44.5" + never,
                                   " --local-quality" + never, " --points 9 --local-quality --subpixel" + never,
                                   " --gamma 1.25" + never,
                                   std::string(" --out ") + dir.file("x.png")})
        EXPECT_EQ(runCli(common + bad).status, 2) << bad;
    const auto early = runCli(common + " --contrast 5" + never);  // refused before any work
    EXPECT_EQ((early.out + early.err).find("Alignment processing"), std::string::npos) << early.err;

    const auto points = runCli(common + " --points auto --out " + dir.file("points.bmp"));
    ASSERT_EQ(points.status, 0) << points.err;
    EXPECT_EQ(points.out.rfind("alignment points: ", 0), 0u) << points.out;
    EXPECT_GT(std::stoi(points.out.substr(18)), 0) << points.out;
    EXPECT_NE(readText(dir.file("points.bmp")), readText(dir.file("plain.bmp")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.bmp")));
}

// The window opening one picture, set as `adjust` says (the sharpening gains unless told), processing it and
// saving through the dialog.
void saveAsTheWindowDoes(const std::string& image, int openFilter, const std::string& out, int saveFilter,
                         const std::function<void(TMainForm&)>& adjust = setGains) {
    ScriptedWindow window;
    window.open({image}, openFilter);
    adjust(window.form);
    window.form.control(Control::ProcessButton).click();
    window.save(Control::SaveBMP2button, out, saveFilter);
    EXPECT_TRUE(window.ui.messages.empty());
}

// The bytes of a file with FITS DATE-OBS and TIME-OBS cards blanked: they record when it was written.
std::string withoutObservationTime(const std::string& path) {
    std::string bytes = readText(path);
    for (const char* key : {"DATE-OBS", "TIME-OBS"})
        if (const auto at = bytes.find(key); at != std::string::npos && at % 80 == 0) bytes.replace(at, 80, 80, ' ');
    return bytes;
}

TEST_F(Cli, ProcessWritesWhatTheWindowWritesForOneImage) {
    testing::CfitsioImage picture;
    picture.axes = {160, 120};
    for (int i = 0; i < 160 * 120; ++i) picture.values.push_back((i % 160) * 40 + (i / 160 % 9) * 300 - 2000);
    const std::string fits = dir.file("m42.fit");
    testing::writeWithCfitsio(fits, picture);
    const std::string bmp = frame("moon.bmp", 5, 160, 120);
    const std::string fts = dir.file("m42.fts");  // the window opens this spelling too
    std::filesystem::copy_file(fits, fts);
    struct Case { std::string input; int openFilter; std::string out; int saveFilter; };
    for (const Case& c : {Case{fits, 3, "a.fit", 2}, Case{fits, 3, "a.bmp", 1}, Case{bmp, 2, "b.jpg", 4},
                          Case{fts, 3, "c.bmp", 1}}) {
        const auto run = runCli("process " + c.input + " --wavelets 40,25,15,10,10,10 --out " + dir.file("cli-" + c.out));
        ASSERT_EQ(run.status, 0) << c.out << ": " << run.err;
        EXPECT_EQ(run.out, "saved: " + dir.file("cli-" + c.out) + "\n");
        saveAsTheWindowDoes(c.input, c.openFilter, dir.file("win-" + c.out), c.saveFilter);
        EXPECT_EQ(withoutObservationTime(dir.file("cli-" + c.out)), withoutObservationTime(dir.file("win-" + c.out))) << c.out;
    }
    // A colour cube is read as its first plane, and the user is told so.
    picture.axes = {160, 40, 3};
    testing::writeWithCfitsio(dir.file("cube.fit"), picture);
    expectRun("process " + dir.file("cube.fit") + " --out " + dir.file("cube.bmp"), 0,
              "holds 3 planes (a colour picture?): only the first is read");
}

TEST_F(Cli, GammaCurveAndKernelGiveWhatTheEditorsGive) {
    const std::string image = frame("moon.bmp", 5, 160, 120);
    // A lopsided kernel, under the gains: the weights must reach the spins in the order the option names them.
    const auto run = runCli("process " + image + " --wavelets 40,25,15,10,10,10 --gamma 1.3 --kernel 1,2,1,3,4,2,1,2,1 "
                                    "--gamma-curve 0:0,64:40,128:127,192:215,255:255 --out " + dir.file("cli.bmp"));
    ASSERT_EQ(run.status, 0) << run.err;
    saveAsTheWindowDoes(image, 0, dir.file("win.bmp"), 1, [](TMainForm& form) {
        setGains(form);
        form.control(Control::Gamma1spin).setValueByUser(1.3);
        const double weights[9] = {1, 2, 1, 3, 4, 2, 1, 2, 1};
        for (int tap = 0; tap < 9; ++tap) form.control(FilterSpins[tap]).setValueByUser(weights[tap]);
        form.control(Control::Button1).click();
        for (const auto& [action, x, y] : {std::tuple{TMainForm::MouseAction::Down, 64, 215}, {TMainForm::MouseAction::Down, 192, 40},
                                           {TMainForm::MouseAction::Up, 192, 40}})
            form.mouseEvent(Control::GammaSplineGraph, action, x, y, MouseButtons{false, true});
    });
    EXPECT_EQ(testing::readText(dir.file("cli.bmp")), testing::readText(dir.file("win.bmp")));

    std::string many = "0:0";
    for (int i = 1; i < 249; ++i) many += "," + std::to_string(i) + ":" + std::to_string(i);
    const std::string never = " --out " + dir.file("never.bmp");
    for (const std::string& bad : std::vector<std::string>{"--gamma-curve 0:0,100:200,90:220,255:255", "--gamma-curve 0:0,50:50,50:60,255:255",
                                   "--gamma-curve 0:0,300:255", "--gamma-curve 0:0", "--gamma-curve 0:10,255:255",
                                   "--gamma-curve 0:0,128:x,255:255", "--gamma-curve curve",
                                   "--gamma-curve " + many + ",255:255", "--kernel 1,1,1,1,1,1,1,1",
                                   "--kernel 1,1,1,1,nan,1,1,1,1", "--kernel 1,1,1,1,5000,1,1,1,1"}) {
        expectRun("process " + image + " " + bad + never, 2, bad.substr(2, bad.find(' ') - 2));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("never.bmp")));
}

TEST_F(Cli, SavingOptionsPlaceTheFileAndNeverOverwriteWhenTold) {
    const std::string image = frame("moon.bmp", 5, 160, 120);
    const auto selection = runCli("process " + image + " --selection 10,20,60,40 --subdir out/sharp --out s.bmp");
    ASSERT_EQ(selection.status, 0) << selection.err;
    const Bitmap24 written = readBmp("out/sharp/s.bmp");
    EXPECT_EQ(written.width() * 100 + written.height(), 4919);

    // A picture, project or shifts file kept is refused before any work: a project's refusal writes no shifts either.
    const std::string align = "align " + image + " " + image + " --feature 80,60 --no-overwrite --shifts ";
    for (const auto& [kept, command] : {std::pair{"keep.bmp", "process " + image + " --no-overwrite --out "},
                                        {"keep.pxp", align + dir.file("s.csv") + " --project "}, {"keep.csv", align}}) {
        testing::writeText(dir.file(kept), "old");
        EXPECT_EQ(runCli(command + dir.file(kept)).status, 1) << kept;
        EXPECT_EQ(testing::readText(dir.file(kept)), "old");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.file("s.csv")));
}


TEST_F(Cli, CalibrationCommandsWriteWhatTheWindowWritesAndRefuseBadFiles) {
    options.hotPixels = 60;
    options.vignetting = 0.4;
    const DemoResult written = demo("demo", 16, DemoOptions::Avi, 160, 120);
    const std::string dark = dir.file("dark.fitq"), flat = dir.file("flat.fitq");
    const auto made = runCli("make-dark " + written.darkFiles.front() + " --out " + dark);
    ASSERT_EQ(made.status, 0) << made.err;
    EXPECT_EQ(made.out, "darkframe of 40 frames: " + dark + "\n");
    ASSERT_EQ(runCli("make-flat " + written.flatFiles.front() + " --dark " + dark + " --out " + flat).status, 0);
    const auto stacked = runCli("stack " + written.sequenceFiles.front() + " --feature 80,60 --best 4 --dark " + dark +
                                " --flat " + flat + " --out " + dir.file("cli.bmp"));
    ASSERT_EQ(stacked.status, 0) << stacked.err;

    form.control(Control::AutoOptimize).setChecked(false);  // as the CLI without --optimize
    open({written.darkFiles.front()});
    form.control(Control::ColourStack).setCheckedByUser(false);
    form.control(Control::CreateDarkframe).click();
    save(Control::SaveButton, dir.file("window-dark.fitq"), 3);
    EXPECT_EQ(withoutObservationTime(dark), withoutObservationTime(dir.file("window-dark.fitq")));
    for (const auto& [button, box, file] : {std::tuple{Control::LoadDarkframe, Control::UseDarkFrame, dark},
                                            {Control::Flatfieldbutton, Control::UseFlatfield, flat}}) {
        ui.queueFiles({file}, 2);
        form.control(button).click();
        form.control(box).setCheckedByUser(true);
    }
    open({written.sequenceFiles.front()});
    click(80, 60);
    alignAll();
    form.control(Control::StackSlider).setValueByUser(3);
    form.control(Control::Stackbutton).click();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(readBmp("cli.bmp"), form.stackBitmap());

    testing::writeWithCfitsio(dir.file("huge.fit"), {16, {1100, 4}, std::vector<double>(4400, 1.0)});
    expectRun("stack " + written.sequenceFiles.front() + " --feature 80,60 --dark " + dir.file("huge.fit") + " --out " +
              dir.file("x.bmp"), 1, "The darkframe " + dir.file("huge.fit") + " was not loaded");
    EXPECT_FALSE(std::filesystem::exists(dir.file("x.bmp")));
}

// A settings file may tick "Misalign warning", whose question waits for a
// click on the picture: a console cannot give one, and must not wait for it.
// ... and an option given outweighs what a settings file ticked.
TEST_F(Cli, AMisalignWarningFromTheSettingsNeverWaitsForAClick) {
    testing::writeText(dir.file("warn.ini"), "[Form]\nMisalignwarning_Checked=True\n[Extensions]\nQualityMeasure_ItemIndex=1\n");
    std::string frames;
    for (const auto& [name, dx] : {std::pair{"a.bmp", 0}, std::pair{"b.bmp", 1}, std::pair{"c.bmp", 40}})
        frames += testing::writeBmp(dir, name, testing::movedScene(200, 160, dx, dx / 2)) + " ";
    const std::string align = std::string(PLANEXOR_CLI_PATH) + " align " + frames + "--feature 100,80 --box 64 ";
    const auto warned = testing::runCommand("timeout 20 " + align + "--quality spectrum --shifts " + dir.file("s.csv") +
                                            " --settings " + dir.file("warn.ini"));
    EXPECT_EQ(warned.status, 0) << warned.err;
    ASSERT_EQ(testing::runCommand(align + "--shifts " + dir.file("plain.csv")).status, 0);
    EXPECT_EQ(readText(dir.file("s.csv")), readText(dir.file("plain.csv")));
}

TEST_F(Cli, ProjectsWrittenByTheCliOpenInTheWindowsHandlersAndResume) {
    const std::string demo = dir.file("demo");
    ASSERT_EQ(runCli("make-demo " + demo + " --frames 16 --size 320x240").status, 0);
    // The window's settings on purpose: a 64-pixel box.
    testing::writeText(dir.file("planexor.ini"), "[Form]\nFFTsizeGroup_ItemIndex=0\n");
    const std::string project = dir.file("aligned.pxp");
    const auto align = runCli("align " + demo + "/planet.avi --feature 160,120 --settings " +
                                      dir.file("planexor.ini") + " --shifts " + dir.file("s.csv") + " --project " +
                                      project);
    ASSERT_EQ(align.status, 0) << align.err;
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

    // A sequence and a dark named relative to where the command runs are stored by their full paths.
    const std::string dark = testing::writeBmp(dir, "d.bmp", testing::uniform(320, 240, 2));
    ASSERT_EQ(testing::runCommand("cd " + demo + " && " + PLANEXOR_CLI_PATH + " align planet.avi --feature 160,120 "
                                  "--dark ../d.bmp --shifts s.csv --project " + dir.file("relative.pxp")).status, 0);
    const std::string relative = testing::readText(dir.file("relative.pxp"));
    EXPECT_NE(relative.find("filedir=" + demo + "\r\n"), std::string::npos);
    EXPECT_NE(relative.find("darkfile=" + dark + "\r\n"), std::string::npos);

    const auto info = runCli("info " + project);
    EXPECT_EQ(info.out, "stage: 2 (aligned)\nsource: AVI " + demo + "/planet.avi\nframes: 16\nused: 16\n");
    // An aligned project has no cut-off of its own yet: the best quarter.
    const auto stack = runCli("stack " + project + " --out " + dir.file("s.bmp") + " --project " +
                                      dir.file("stacked.pxp"));
    ASSERT_EQ(stack.status, 0) << stack.err;
    EXPECT_NE(stack.out.find("stacked 4 frames"), std::string::npos);
    const auto process = runCli("process " + dir.file("stacked.pxp") + " --gamma 1.4 --out " + dir.file("p.bmp"));
    EXPECT_EQ(process.status, 0) << process.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("p.bmp")));

    // A project without a stack, saved so or with every frame excluded by hand since.
    std::string excluded = testing::readText(dir.file("stacked.pxp"));
    for (int frame = 0; frame < 16; ++frame) {
        const std::string used = "Ex" + std::to_string(frame) + "=0";
        excluded.replace(excluded.find(used), used.size(), "Ex" + std::to_string(frame) + "=1");
    }
    testing::writeText(dir.file("excluded.pxp"), excluded);
    for (const std::string& unstackedProject : {project, dir.file("excluded.pxp")}) {
        expectRun("process " + unstackedProject + " --out " + dir.file("q.bmp"), 1, "no stack yet");
        EXPECT_FALSE(std::filesystem::exists(dir.file("q.bmp")));
    }
}

}  // namespace
}  // namespace planexor
