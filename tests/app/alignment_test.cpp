#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include "core/pixel.h"
#include "demo/avi_writer.h"
#include "demo/synthetic_planet.h"
#include "support/form_fixture.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;
using Mouse = TMainForm::MouseAction;

constexpr const char* BorderMessage = " Alignment feature too close to image border ";

class AlignPage : public testing::FormTest {
protected:
    // Registration as found; optimizing has tests of its own.
    AlignPage() { form.control(Control::AutoOptimize).setChecked(false); }
    DemoOptions options;
    // A synthetic planet sequence of 320 x 240 frames in `folder`.
    DemoResult demo(const std::string& folder, int frames, DemoOptions::Format format = DemoOptions::Avi) {
        options.directory = dir.file(folder);
        options.frames = frames;
        options.width = 320;
        options.height = 240;
        options.format = format;
        RunProgress quiet;
        return writeDemoSequence(options, quiet);
    }
    std::string video(const std::string& name, const std::vector<Bitmap24>& frames) {
        AviWriter writer;
        writer.open(dir.file(name), frames[0].width(), frames[0].height(), 25, AviWriter::Codec::Raw);
        for (const Bitmap24& frame : frames) writer.addFrame(frame);
        writer.finish();
        return dir.file(name);
    }
    void open(const std::vector<std::string>& files) {
        const bool avi = files.front().ends_with(".avi");
        FormTest::open(files, avi ? 1 : files.front().ends_with(".ser") ? 5 : 2);
        ASSERT_TRUE(w.SequenceOpen);
    }
    void click(int x, int y) { form.mouseEvent(Control::PreviewImage, Mouse::Down, x, y, true); }
    void alignAll() { form.control(Control::Allignallbutton).click(); }
    std::vector<TFrameRec> records(int frames) const { return {w.FrameRecs.begin(), w.FrameRecs.begin() + frames}; }
    int framesWithinAPixel(int frames) const {
        const auto truth = demoTruth(options);
        int within = 0;
        for (int k = 0; k < frames; ++k)
            within += std::abs(w.FrameRecs[k].ShiftX - (truth[k].shiftX - truth[0].shiftX)) <= 1.0 &&
                      std::abs(w.FrameRecs[k].ShiftY - (truth[k].shiftY - truth[0].shiftY)) <= 1.0;
        return within;
    }
    void expectRankedByQuality() const {
        std::set<int> frames;
        for (int rank = 0; rank < w.usedframes; ++rank) {
            const TRankEntry& entry = w.Ranking[rank];
            frames.insert(entry.Frame);
            EXPECT_EQ(entry.Quality, w.FrameRecs[entry.Frame].Quality);
            if (rank > 0) {
                EXPECT_LE(entry.Quality, w.Ranking[rank - 1].Quality);
            }
        }
        EXPECT_EQ(static_cast<int>(frames.size()), w.usedframes);
    }
};

TEST_F(AlignPage, FeatureClickBuildsTheReferenceAndRegistersItsFrameOnItself) {
    open(demo("seq", 4).sequenceFiles);
    form.mouseEvent(Control::PreviewImage, Mouse::Move, 64, 100, false);
    EXPECT_EQ(ui.controlCursors[Control::PreviewImage], CursorShape::Cross);
    ASSERT_EQ(form.overlay(Control::PreviewImage).lines.size(), 1u);
    EXPECT_EQ(form.control(Control::Frames).caption(), "Frames : 4 selected (Total = 4 ) ");
    form.mouseEvent(Control::PreviewImage, Mouse::Move, 10, 10, false);
    EXPECT_EQ(ui.controlCursors[Control::PreviewImage], CursorShape::Arrow);
    EXPECT_TRUE(form.overlay(Control::PreviewImage).empty());

    // The cross shows at 64, but a click there is one pixel too close.
    click(64, 100);
    EXPECT_EQ(timesShown(BorderMessage), 1);
    EXPECT_EQ(w.progstatus, 0);
    EXPECT_TRUE(form.control(Control::TabSheet2).visible());

    click(65, 100);
    EXPECT_EQ(timesShown(BorderMessage), 1);
    EXPECT_EQ(w.progstatus, 1);
    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 1);
    EXPECT_EQ(w.hotx, 65);
    EXPECT_EQ(form.alignment().BoxLeft, 1);
    EXPECT_EQ(form.alignment().referenceSize, 128);
    EXPECT_EQ(form.referenceImage(), form.previewBitmap());
    EXPECT_EQ(w.FrameRecs[0].ShiftX, 0);
    EXPECT_EQ(w.FrameRecs[0].ShiftY, 0);
    EXPECT_EQ(form.control(Control::Label4).caption(), "Image Difference 0");
    EXPECT_GT(w.FrameRecs[0].Quality, 0.0f);
    EXPECT_EQ(form.qualityGraph().quality, w.FrameRecs[0].Quality);
    EXPECT_EQ(form.image(Control::imgFFT).width(), 128);  // the correlation surface of the reference
    EXPECT_EQ(form.overlay(Control::AlignImage).ellipses.size(), 1u);
}

TEST_F(AlignPage, ClicksOnAnExcludedFrameAreIgnored) {
    open(demo("seq", 3).sequenceFiles);
    form.keyDown(Control::PreviewSlider, TMainForm::KeySpace, false);
    form.mouseEvent(Control::PreviewImage, Mouse::Move, 160, 120, false);
    EXPECT_EQ(ui.controlCursors[Control::PreviewImage], CursorShape::NotAllowed);
    click(160, 120);
    EXPECT_EQ(w.progstatus, 0);
    EXPECT_FALSE(form.control(Control::TabSheet2).visible());
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(AlignPage, ABoxSizeChosenAfterTheClickRebuildsTheReferenceOrAsksForANewClick) {
    open(demo("seq", 4).sequenceFiles);
    // The reference a fresh click at 64 pixels gives, and frame 2 registered against it.
    form.control(Control::FFTsizeGroup).setItemIndexByUser(0);
    click(160, 120);
    form.control(Control::PreviewSlider).setValueByUser(2);
    form.control(Control::AlignOneBUtton).click();
    const TFrameRec fresh = w.FrameRecs[2];

    form.control(Control::PreviewSlider).setValueByUser(0);
    form.control(Control::FFTsizeGroup).setItemIndexByUser(1);
    click(160, 120);
    form.control(Control::FFTsizeGroup).setItemIndexByUser(0);
    EXPECT_EQ(form.alignment().referenceSize, 64);
    EXPECT_EQ(form.alignment().BoxLeft, 128);
    EXPECT_EQ(form.control(Control::FFTWindow).caption(), "FFT spectrum 64x64");
    form.control(Control::PreviewSlider).setValueByUser(2);
    form.control(Control::AlignOneBUtton).click();
    EXPECT_EQ(w.FrameRecs[2], fresh);

    // 256 pixels do not fit around a feature 70 pixels from the edge.
    form.control(Control::PreviewSlider).setValueByUser(0);
    click(70, 120);
    form.control(Control::FFTsizeGroup).setItemIndexByUser(2);
    EXPECT_EQ(timesShown(BorderMessage), 1);
    EXPECT_EQ(form.alignment().referenceSize, 0);
    alignAll();
    form.control(Control::AlignOneBUtton).click();
    EXPECT_EQ(timesShown("No alignment feature chosen: click the feature on the preview first"), 2);
    EXPECT_EQ(w.progstatus, 1);
}

TEST_F(AlignPage, VideoAndStillFramesAreAlignedAlikeToAPixelAndRankedByQuality) {
    const int frames = 40;
    open(demo("video", frames).sequenceFiles);
    click(160, 120);
    alignAll();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_GE(framesWithinAPixel(frames), 39);
    EXPECT_EQ(w.progstatus, 2);
    EXPECT_FALSE(w.AlignRun);
    EXPECT_TRUE(form.control(Control::TabSheet3).visible());
    EXPECT_EQ(form.control(Control::AlignSlider).maximum(), frames - 1);
    EXPECT_EQ(form.control(Control::StackSlider).maximum(), frames - 1);
    EXPECT_EQ(form.registrationGraph().qualityCurve.size(), static_cast<std::size_t>(frames));
    EXPECT_EQ(form.control(Control::StackFramesList).listItems()[0].text,
              "Frame " + std::to_string(w.Ranking[0].Frame + 1));
    expectRankedByQuality();
    const auto videoRecords = records(frames);
    const auto videoRanking = std::vector<TRankEntry>(w.Ranking.begin(), w.Ranking.begin() + frames);

    // Browsing the ranking shows the frame of that rank; a quality-band
    // change then re-scores the frame registered last, not the one shown.
    const int rank = w.Ranking[5].Frame == frames - 1 ? 6 : 5;
    const int shown = w.Ranking[rank].Frame;
    form.control(Control::AlignSlider).setValueByUser(rank);
    EXPECT_EQ(w.CurrentFrame, shown);
    const float shownQuality = w.FrameRecs[shown].Quality;
    const float lastQuality = w.FrameRecs[frames - 1].Quality;
    form.control(Control::QualityFilter).setValueByUser(20);
    EXPECT_EQ(settings.readInteger("Settings", "QualityFilter", 0), 20);
    EXPECT_EQ(w.FrameRecs[shown].Quality, shownQuality);
    EXPECT_NE(w.FrameRecs[frames - 1].Quality, lastQuality);
    form.control(Control::QualityFilter).setValue(12);

    // The same frames as BMP files: the still-frame loop gives the same records.
    const DemoResult stills = demo("stills", frames, DemoOptions::Bmp);
    open(stills.sequenceFiles);
    click(160, 120);
    alignAll();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(records(frames), videoRecords);
    EXPECT_EQ(std::vector<TRankEntry>(w.Ranking.begin(), w.Ranking.begin() + frames), videoRanking);


    // A smaller still frame shrinks the working image and is read within its own size.
    Bitmap24 small(300, 200);
    small.fill(40, 40, 40);
    testing::writeBmp(dir, "stills/frame_0007.bmp", small);
    alignAll();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(w.ImageWidth, 300);
    EXPECT_EQ(w.FrameHeight, 200);
    EXPECT_TRUE(std::isfinite(w.FrameRecs[7].Difference));

    // As an RGB SER video the same frames give the same records; a 12-bit
    // Bayer recording, demosaiced, still registers to a pixel.
    options.serColour = SerColour::Rgb;
    const DemoResult ser = demo("ser", frames, DemoOptions::Ser);
    open(ser.sequenceFiles);
    EXPECT_EQ(form.caption(), "Planexor processing SER: " + ser.sequenceFiles.front());
    EXPECT_EQ(settings.readString("Files", "Lasttype", ""), "SER");
    EXPECT_EQ(w.InputType, static_cast<std::uint8_t>(InputKind::Ser));
    click(160, 120);
    alignAll();
    EXPECT_EQ(records(frames), videoRecords);
    options.serColour = SerColour::BayerRggb;
    options.serDepth = 12;
    open(demo("bayer", frames, DemoOptions::Ser).sequenceFiles);
    click(160, 120);
    alignAll();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_GE(framesWithinAPixel(frames), 39);
}

TEST_F(AlignPage, DeInterlacingRegistersEachFrameFieldByFieldAgainstADeInterlacedReference) {
    const int frames = 8;
    open(demo("seq", frames).sequenceFiles);
    form.control(Control::Interlaced).setCheckedByUser(true);
    click(160, 120);
    Bitmap24 expected = form.previewBitmap();
    SplitField(expected, 0, false, 320, 240);
    EXPECT_EQ(form.referenceImage(), expected);
    alignAll();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    for (int k = 0; k < frames; ++k) {
        const TFrameRec& record = w.FrameRecs[k];
        EXPECT_GT(record.FieldQuality, 0.0f) << k;
        EXPECT_GT(record.Quality, 0.0f) << k;
        EXPECT_LE(std::abs(record.FieldShiftX - record.ShiftX), 1) << k;
        EXPECT_LE(std::abs(record.FieldShiftY - record.ShiftY), 1) << k;
    }
    EXPECT_EQ(w.CurrentField, 1);
}

TEST_F(AlignPage, CancelHalfWayKeepsWhatWasRegisteredWithoutRankingAndTheNextRunCompletes) {
    const int frames = 24;
    open(demo("seq", frames).sequenceFiles);
    click(160, 120);
    alignAll();
    const auto complete = records(frames);

    int refusedRuns = 0;
    std::vector<std::string> handlers;
    form.handlerTrace = [&](std::string_view name) { handlers.emplace_back(name); };
    ui.onProcessEvents = [&](int call) {
        if (call == 5) {
            form.control(Control::Allignallbutton).click();  // a second run is refused while one runs
            refusedRuns += form.runInProgress();
        }
        if (call == 12) form.control(Control::BitBtn2).click();
    };
    ui.pendingEventCalls = 0;
    alignAll();
    ui.onProcessEvents = nullptr;
    EXPECT_EQ(refusedRuns, 1);
    EXPECT_EQ(std::count(handlers.begin(), handlers.end(), "AlignallButtonClick"), 1);
    EXPECT_TRUE(w.StopRequested);
    EXPECT_FALSE(w.AlignRun);
    EXPECT_FALSE(form.runInProgress());
    EXPECT_FALSE(form.control(Control::MessageWindow).visible());
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);
    for (const TRankEntry& entry : w.Ranking) EXPECT_EQ(entry, TRankEntry{});
    int registered = 0;
    for (int k = 0; k < frames; ++k) registered += w.FrameRecs[k] == complete[k];
    EXPECT_GT(registered, 5);
    EXPECT_LT(registered, frames);

    alignAll();
    EXPECT_EQ(records(frames), complete);
    expectRankedByQuality();
}

TEST_F(AlignPage, AlignWithEveryFrameExcludedSaysSoAndDoesNotRun) {
    open(demo("seq", 3).sequenceFiles);
    click(160, 120);
    TFrameRec reference = w.FrameRecs[0];
    reference.Excluded = 1;
    for (int k = 0; k < 3; ++k) {
        form.control(Control::PreviewSlider).setValueByUser(k);
        form.keyDown(Control::PreviewSlider, TMainForm::KeySpace, false);
    }
    alignAll();
    EXPECT_EQ(timesShown("No frames selected: include at least one frame in the frame list to align"), 1);
    EXPECT_EQ(w.progstatus, 1);
    EXPECT_EQ(w.FrameRecs[0], reference);
    EXPECT_FALSE(form.control(Control::TabSheet3).visible());
}

TEST_F(AlignPage, BlackConstantAndSingleFrameSequencesFinishWithoutNaN) {
    const auto finite = [this](int frames) {
        for (int k = 0; k < frames; ++k) {
            EXPECT_TRUE(std::isfinite(w.FrameRecs[k].Difference)) << k;
            EXPECT_TRUE(std::isfinite(w.FrameRecs[k].Quality)) << k;
        }
        for (const GraphPoint& point : form.registrationGraph().qualityCurve) EXPECT_LE(std::abs(point.y), 1000);
    };
    for (std::uint8_t level : {std::uint8_t{0}, std::uint8_t{90}}) {
        SCOPED_TRACE(static_cast<int>(level));
        std::vector<Bitmap24> frames(3, Bitmap24(160, 120));
        for (Bitmap24& frame : frames) frame.fill(level, level, level);
        open({video("flat" + std::to_string(level) + ".avi", frames)});
        EXPECT_EQ(form.control(Control::FFTsizeGroup).itemIndex(), 0);  // 120 rows force the 64-pixel box
        click(80, 60);
        alignAll();
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(w.progstatus, 2);
        EXPECT_EQ(w.FrameRecs[1].Quality, 0.0f);
        finite(3);
    }

    Bitmap24 planet = renderDemoFrame(options, 0);
    open({video("one.avi", {planet})});
    click(160, 120);
    alignAll();
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_EQ(w.usedframes, 1);
    EXPECT_EQ(form.control(Control::AlignSlider).maximum(), 0);
    form.AlignSliderChange();
    EXPECT_EQ(form.registrationGraph().rankMarkerX, 0);
    EXPECT_EQ(form.registrationGraph().qualityCurve.size(), 1u);
    finite(1);
}

TEST_F(AlignPage, ReAlignAsksAndTheClickedPointBecomesTheShiftWhileCancelEndsTheWait) {
    const int frames = 12;
    open(demo("seq", frames).sequenceFiles);
    click(160, 120);
    form.control(Control::Misalignwarning).setCheckedByUser(true);
    EXPECT_TRUE(settings.readBool("Settings", "Misalignwarning", false));
    form.control(Control::Misalignwarning).setCheckedByUser(false);  // only "Re-Align" asks below

    int waitedFrame = -1;
    ui.onProcessEvents = [&](int call) {
        if (call == 4) form.control(Control::Haltbutton).click();
        if (form.alignment().WaitingForClick) {
            waitedFrame = w.CurrentFrame;
            form.mouseEvent(Control::AlignImage, Mouse::Move, 167, 116, false);
            form.mouseEvent(Control::AlignImage, Mouse::Down, 167, 116, true);
        }
    };
    alignAll();
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], " Is the alignment lost ? \n\r Click OK to realign on feature ");
    EXPECT_GT(ui.waitCalls, 0);  // the click is awaited by blocking, not by spinning
    ASSERT_GE(waitedFrame, 0);
    EXPECT_EQ(w.FrameRecs[waitedFrame].ShiftX, 7);
    EXPECT_EQ(w.FrameRecs[waitedFrame].ShiftY, -4);
    EXPECT_EQ(w.progstatus, 2);
    EXPECT_FALSE(form.alignment().RealignRequested);

    // Cancel while the click is awaited (what closing the window does) ends
    // the wait; "Recalc FFT" waits as a run would, so the window cannot close under it.
    form.control(Control::Haltbutton).click();
    bool waitIsARun = false;
    ui.onProcessEvents = [&](int) {
        if (!form.alignment().WaitingForClick) return;
        waitIsARun = form.runInProgress();
        form.control(Control::BitBtn2).click();
    };
    form.control(Control::AlignOneBUtton).click();
    EXPECT_EQ(ui.questions.size(), 2u);
    EXPECT_TRUE(waitIsARun);
    EXPECT_FALSE(form.alignment().WaitingForClick);
    EXPECT_FALSE(form.runInProgress());

    form.control(Control::Misalignwarning).setCheckedByUser(true);
    bool haltShown = false;
    ui.pendingEventCalls = 0;
    ui.onProcessEvents = [&](int call) {
        haltShown = haltShown || form.control(Control::Haltbutton).visible();
        if (call == 3) form.control(Control::Haltbutton).click();
        if (form.alignment().WaitingForClick) form.control(Control::BitBtn2).click();
    };
    alignAll();
    EXPECT_TRUE(haltShown);
    EXPECT_FALSE(form.control(Control::Haltbutton).visible());
    EXPECT_GE(ui.questions.size(), 3u);
    EXPECT_TRUE(w.StopRequested);
    EXPECT_FALSE(form.runInProgress());
    EXPECT_EQ(w.Ranking[0], TRankEntry{});
}

TEST_F(AlignPage, AlignAndStackChainsIntoTheStackingRun) {
    open(demo("seq", 10).sequenceFiles);
    click(160, 120);
    const Bitmap24 referenceFrame = form.previewBitmap();
    form.control(Control::AlignStackButton).click();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(w.progstatus, 4);
    EXPECT_FALSE(w.StackReady);  // taken by the wavelet processing
    EXPECT_TRUE(form.control(Control::SaveBMP2button).enabled());
    EXPECT_FALSE(form.ChainRun);
    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 3);
    EXPECT_EQ(form.control(Control::StackSlider).intValue(), chainCutRank(w, 9, 80));
    // Decoding, browsing and stacking since have left the reference copy alone.
    EXPECT_EQ(form.referenceImage(), referenceFrame);
}

// The CLI clicks, aligns and writes what the handlers leave in the records.
TEST_F(AlignPage, CommandLineShiftsEqualTheScriptedHandlersRecords) {
    const int frames = 20;
    const std::string input = demo("seq", frames).sequenceFiles.front();
    open({input});
    form.control(Control::PredictTrack).setChecked(true);
    click(150, 110);
    alignAll();

    const std::string csv = dir.file("shifts.csv");
    const auto run = testing::runCommand(std::string(PLANEXOR_CLI_PATH) + " align " + input +
                                         " --feature 150,110 --box 128 --predict --shifts " + csv);
    ASSERT_EQ(run.status, 0) << run.err;
    std::istringstream lines(testing::readText(csv));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "frame,shift_x,shift_y,difference,quality,rank");
    std::vector<int> rankOf(frames, -1);
    for (int rank = 0; rank < w.usedframes; ++rank) rankOf[w.Ranking[rank].Frame] = rank;
    int rows = 0;
    for (; std::getline(lines, line); ++rows) {
        int frame = 0, shiftX = 0, shiftY = 0, rank = 0;
        char difference[32] = {}, quality[32] = {};
        ASSERT_EQ(std::sscanf(line.c_str(), "%d,%d,%d,%31[^,],%31[^,],%d", &frame, &shiftX, &shiftY, difference,
                              quality, &rank), 6) << line;
        ASSERT_EQ(frame, rows);
        EXPECT_EQ(shiftX, w.FrameRecs[frame].ShiftX) << frame;
        EXPECT_EQ(shiftY, w.FrameRecs[frame].ShiftY) << frame;
        EXPECT_EQ(std::strtof(difference, nullptr), w.FrameRecs[frame].Difference) << frame;
        EXPECT_EQ(std::strtof(quality, nullptr), w.FrameRecs[frame].Quality) << frame;
        EXPECT_EQ(rank, rankOf[frame]) << frame;
    }
    EXPECT_EQ(rows, frames);

    const auto refused = testing::runCommand(std::string(PLANEXOR_CLI_PATH) + " align " + input +
                                             " --feature 5,5 --shifts " + csv);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(BorderMessage), std::string::npos);
    EXPECT_EQ(testing::runCommand(std::string(PLANEXOR_CLI_PATH) + " align " + input + " --feature 5 --shifts x")
                  .status, 2);
}

}  // namespace
}  // namespace planexor
