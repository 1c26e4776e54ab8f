// Saving the work to a project and reopening it.
#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <random>

#include "app/big_ini_file.h"
#include "app/project_file.h"
#include "core/file_io.h"
#include "project_run.h"
#include "support/fits_files.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

namespace fs = std::filesystem;

// A second window, as after a restart.
struct FreshForm : testing::ScriptedWindow {
    void load(const std::string& path) {
        ui.queueFiles({path}, 1);
        form.control(Control::LoadProject).click();
    }
};

class ProjectTest : public testing::FormTest {
protected:
    // A 12-frame planet video in `folder`, aligned, not optimized: stage 2.
    void alignDemo(const std::string& folder) {
        form.control(Control::AutoOptimize).setChecked(false);
        open(demo(folder, 12).sequenceFiles, 1);
        click(160, 120);
        alignAll();
        ASSERT_EQ(w.progstatus, 2);
    }
    void save(const std::string& path) {
        ui.queueFiles({path}, 1);
        form.control(Control::SaveProject).click();
        ASSERT_TRUE(errors().empty()) << errors().front();
    }
};

// Reopening clicks the feature again; with fields, the reference's score is its field's.
TEST_F(ProjectTest, AStackedDeInterlacedProjectReopensAfterARestartWithTheSamePicture) {
    form.control(Control::Interlaced).setCheckedByUser(true);
    alignDemo("seq");
    // A FITS dark turns colour stacking off; the user turns it back on.
    const std::string dark = dir.file("dark.fit");
    testing::writeWithCfitsio(dark, {8, {320, 240}, std::vector<double>(320 * 240, 3.0)});
    ASSERT_TRUE(form.LoadDarkFile(dark, 3));
    form.control(Control::UseDarkFrame).setChecked(true);
    form.control(Control::ColourStack).setCheckedByUser(true);
    form.control(Control::StackSlider).setValueByUser(5);
    form.control(Control::Stackbutton).click();
    form.control(Control::RxSlider3).setValueByUser(40);
    form.control(Control::Gamma1spin).setValueByUser(1.7);
    form.control(Control::ProcessButton).click();
    form.control(Control::PageControl1).setItemIndexByUser(3);
    ASSERT_EQ(w.progstatus, 4);
    const std::string path = dir.file("seq/jupiter.pxp");
    save(path);

    const std::string text = testing::readText(path);
    EXPECT_NE(text.find("activepage=4\r\nusedframes=12\r\nrefframe=0\r\nstackslider=5\r\n"), std::string::npos);

    FreshForm reopened;
    std::vector<std::string> handlers;
    reopened.form.handlerTrace = [&](std::string_view name) { handlers.emplace_back(name); };
    reopened.load(path);
    EXPECT_TRUE(reopened.ui.messages.empty()) << reopened.ui.messages.front().text;
    EXPECT_EQ(handlers, std::vector<std::string>{"LoadProjectClick"});  // what follows runs without handlers
    EXPECT_EQ(reopened.form.project().capture(), form.project().capture());
    EXPECT_TRUE(reopened.form.control(Control::TabSheet4).visible());
    EXPECT_EQ(reopened.form.image(Control::ProcessImage), form.image(Control::ProcessImage));
    EXPECT_EQ(reopened.settings.readString("Files", "Dir", ""), dir.file("seq"));
}

TEST_F(ProjectTest, AnAlignedProjectInAMovedFolderReopensAndStacksWithOtherCutOffs) {
    alignDemo("night");
    // A dark kept beside the frames moves with them.
    ASSERT_TRUE(form.LoadDarkFile(testing::writeBmp(dir, "night/dark.bmp", testing::uniform(320, 240, 2)), 1));
    form.control(Control::UseDarkFrame).setChecked(true);
    save(dir.file("night/aligned.pxp"));
    fs::rename(dir.file("night"), dir.file("moved"));

    FreshForm reopened;
    reopened.load(dir.file("moved/aligned.pxp"));
    ASSERT_TRUE(reopened.ui.messages.empty()) << reopened.ui.messages.front().text;
    TMainForm& again = reopened.form;
    EXPECT_EQ(again.workspace().darkfile, dir.file("moved/dark.bmp"));
    EXPECT_TRUE(again.control(Control::TabSheet3).visible());
    EXPECT_TRUE(again.control(Control::CreateDarkframe).visible());
    EXPECT_FALSE(again.control(Control::TabSheet4).visible());
    EXPECT_EQ(again.control(Control::StackFramesList).listItems().size(), 12u);
    EXPECT_FALSE(again.registrationGraph().qualityCurve.empty());
    for (int frame = 0; frame < 12; ++frame) EXPECT_EQ(again.workspace().FrameRecs[frame], w.FrameRecs[frame]);
    again.control(Control::StackSlider).setValueByUser(2);
    again.control(Control::Stackbutton).click();
    EXPECT_EQ(again.workspace().progstatus, 4);
    EXPECT_EQ(again.stackedCount(), 3);
    again.control(Control::Allignallbutton).click();
    EXPECT_TRUE(again.stackGraph().stackQualityCurve.empty());  // a new ranking has no stack yet

    // A folder written by hand relative to the project is taken from the project's folder.
    std::string text = testing::readText(dir.file("moved/aligned.pxp"));
    const std::size_t at = text.find("filedir=") + 8;
    text.replace(at, text.find('\r', at) - at, "../moved");
    fs::create_directories(dir.file("other"));
    testing::writeText(dir.file("other/relative.pxp"), text);
    FreshForm relative;
    relative.load(dir.file("other/relative.pxp"));
    EXPECT_EQ(relative.form.workspace().progstatus, 2);
    EXPECT_EQ(relative.form.frameCount(), 12);
}

// Frames named by hand under the sequence folder are found there, never
// from wherever the program was started.
TEST_F(ProjectTest, FramesWrittenRelativeToTheSequenceFolderAreFoundThere) {
    open(demo("sub", 3, DemoOptions::Bmp, 96, 72).sequenceFiles, 2);
    save(dir.file("sub/stills.pxp"));
    std::string text = testing::readText(dir.file("sub/stills.pxp"));
    const std::size_t at = text.find("filedir=") + 8;
    text.replace(at, text.find('\r', at) - at, "/nowhere");
    for (std::size_t name = text.find("=frame_"); name != std::string::npos; name = text.find("=frame_", name + 5))
        text.insert(name + 1, "sub/");
    testing::writeText(dir.file("moved.pxp"), text);
    FreshForm reopened;
    reopened.load(dir.file("moved.pxp"));
    EXPECT_TRUE(reopened.ui.messages.empty()) << reopened.ui.messages.front().text;
    EXPECT_EQ(reopened.form.workspace().FrameFiles[2], dir.file("sub/frame_0002.bmp"));
}

TEST_F(ProjectTest, ABadProjectIsRefusedNamingTheKeyAndTheWorkStaysAsItWas) {
    alignDemo("seq");
    const std::string good = dir.file("seq/good.pxp");
    save(good);
    const std::string original = testing::readText(good);
    const auto replaced = [&](const std::string& from, const std::string& to, std::string text = "") {
        if (text.empty()) text = original;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {original.substr(0, 5), "has no [Input] section"},
        {std::string("\x7f" "ELF\x01\x02\0\0[x", 10) + std::string(3000, '\xff'), "has no [Input] section"},
        {replaced("sequencelength=12", "sequencelength=99999"), "[Input] sequencelength=99999 (expected 1 to 2501)"},
        {replaced("Rank5=", "Rank5=77\r\nx="), "[Ranking] Rank5=77 (expected 0 to 11)"},
        {replaced("refframe=0", "refframe=-1"), "[Input] refframe=-1"},
        {replaced("progstatus=2", "progstatus=9"), "[Input] progstatus=9"},
        {replaced("\r\nD3=", "\r\nD3=nan\r\nx="), "[Info] D3=nan (not a number)"},
        {replaced("\r\nX2=", "\r\nX2=5000\r\nx="), "[Shifts] X2=5000"},
        {original + "[SubShifts]\r\nX1=7\r\n", "[SubShifts] X1=7 (expected -1 to 1)"},
        {replaced("filetype=AVI", "filetype=MOV"), "[Input] filetype=MOV"},
        {replaced("UseDarkFrame_Checked=False", "UseDarkFrame_Checked=True") + "[Input]\r\n", "darkfiletype=0"},
        {replaced("hotx=160", "hotx=330"), "hotx=330 (outside the frame of 320 x 240)"},
        {replaced("hotx=160", "hotx=310"), "the alignment box does not fit"},
        // Its controls differ too: they stay as they were, in the window and in the settings.
        {replaced("Gamma1spin_Value=1\r\n", "Gamma1spin_Value=2.5\r\n", replaced("filename=planet.avi", "filename=gone.avi")),
         "Error : Avifile gone.avi missing, project not loaded"},
        {replaced("progstatus=2", "progstatus=1", replaced("sequencelength=12", "sequencelength=40")),
         "holds 12 frames, the project 40"},
        // Cut short: the defaults of the missing shifts and ranks would stack one frame again and again.
        {replaced("sequencelength=12", "sequencelength=40"), "[Shifts] X12 is missing (the file is incomplete)"},
        {original.substr(0, original.find("Rank5=")), "[Ranking] Rank5 is missing"},
        // A 50 MB line: no number, so the default 0, which is no place for the box.
        {replaced("hotx=160", "hotx=" + std::string(50 << 20, '7')), "the alignment box does not fit"},
    };
    const auto recordsBefore = w.FrameRecs;
    const std::string captionBefore = form.caption();
    for (const auto& c : cases) {
        const std::string path = dir.file("seq/bad.pxp");
        testing::writeText(path, c.text);
        ui.messages.clear();
        ui.queueFiles({path}, 1);
        form.control(Control::LoadProject).click();
        ASSERT_EQ(errors().size(), 1u) << c.message;
        EXPECT_NE(errors().front().find(c.message), std::string::npos) << errors().front();
        EXPECT_TRUE(w.FrameRecs == recordsBefore) << c.message;
        EXPECT_EQ(form.caption(), captionBefore);
        EXPECT_EQ(w.progstatus, 2);
        EXPECT_EQ(form.control(Control::Gamma1spin).value(), 1.0);
    }
}

TEST(ProjectData, ALongInterlacedWorkspaceWritesAndReadsBackExactly) {
    testing::TempDir dir;
    ProjectData p;
    p.filetype = "BMP";
    p.filedir = dir.path();
    p.sequencelength = MaxFrames;
    p.progstatus = 4;
    p.activepage = 3;
    p.refframe = 17;
    p.stackslider = 800;
    p.stackdifslider = 55;
    p.processing = std::array<int, 11>{40, 30, 20, 10, 10, 10, 1, 2, 1, 150, -3};
    p.hotx = 300;
    p.hoty = 200;
    p.interlaced = true;
    p.form = {{"FormVersion", "0"}, {"Interlaced_Checked", "True"}, {"Gamma1spin_Value", "1.2"}};
    p.extensions = {{"SubpixelBox_Checked", "True"}};
    std::mt19937 random(7);
    std::uniform_real_distribution<float> real(0.0f, 1.0f);
    for (int i = 0; i < MaxFrames; ++i) {
        // A list may mix folders: names in the sequence folder, full paths elsewhere.
        p.frameFiles.push_back(i % 7 ? "f" + std::to_string(i) + ".bmp" : "/other place/g" + std::to_string(i) + ".bmp");
        p.frames.push_back({.ShiftX = int(random() % 200) - 100, .ShiftY = int(random() % 200) - 100,
                            .FieldShiftX = int(random() % 9) - 4, .FieldShiftY = int(random() % 9) - 4,
                            .Quality = real(random), .Difference = real(random) * 1e6f,
                            .FieldQuality = real(random) * 1e-7f, .FieldDifference = real(random),
                            .Excluded = random() % 5 == 0, .SubShiftX = real(random) - 0.5f,
                            .FieldSubShiftY = 0.5f - real(random)});
        p.usedframes += p.frames.back().Excluded ? 0 : 1;
        p.ranking.push_back((i * 37) % MaxFrames);
    }
    TBigIniFile written;
    writeProject(written, p);
    written.SaveAs(dir.file("long.pxp"));
    EXPECT_EQ(readProject(TBigIniFile(dir.file("long.pxp"))), p);
    // The window runs under the user's locale; a Turkish one still finds "[Input]".
    ASSERT_TRUE(std::setlocale(LC_CTYPE, "tr_TR.UTF-8"));
    EXPECT_NO_THROW((void)readProject(TBigIniFile(dir.file("long.pxp"))));
    std::setlocale(LC_CTYPE, "C");
}

// The project fuzz target's seeds and every project that once broke the
// loader, replayed as the target ran them: refused or loaded, nothing else.
TEST(ProjectRegression, SeedsAndFoundProjectsAreRefusedOrLoaded) {
    const fs::path root(PLANEXOR_SOURCE_DIR);
    int replayed = 0;
    for (const fs::path& folder : {root / "fuzz" / "corpus" / "project", root / "tests" / "regression" / "project"}) {
        if (!fs::is_directory(folder)) continue;
        for (const auto& entry : fs::directory_iterator(folder)) {
            SCOPED_TRACE(entry.path().string());
            const auto bytes = readWholeFile(entry.path().string(), std::size_t{64} << 20);
            EXPECT_NO_THROW(fuzzing::fuzzProject(bytes.data(), bytes.size()));
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}

}  // namespace
}  // namespace planexor
