#include <gtest/gtest.h>

#include <charconv>
#include <cmath>

#include "demo/avi_writer.h"
#include "input/bmp_codec.h"
#include "support/form_fixture.h"

namespace planexor {
namespace {

constexpr const char* BorderMessage = " Alignment feature too close to image border ";

class AlignPage : public testing::FormTest {
protected:
    // Registration as found; optimizing has tests of its own.
    AlignPage() { form.control(Control::AutoOptimize).setChecked(false); }
    std::string video(const std::string& name, const std::vector<Bitmap24>& frames) {
        AviWriter writer;
        writer.open(dir.file(name), frames[0].width(), frames[0].height(), 25, AviWriter::Codec::Raw);
        for (const Bitmap24& frame : frames) writer.addFrame(frame);
        writer.finish();
        return dir.file(name);
    }
    // Opens, clicks the planet's middle and aligns every frame.
    void alignSequence(const std::vector<std::string>& files) {
        open(files);
        ASSERT_TRUE(w.SequenceOpen);
        click(160, 120);
        alignAll();
        ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    }
    std::vector<TRankEntry> ranking(int frames) const { return {w.Ranking.begin(), w.Ranking.begin() + frames}; }
    void expectRankedByQuality() const {
        for (int rank = 0; rank < w.usedframes; ++rank) {
            const TRankEntry& entry = w.Ranking[rank];
            EXPECT_EQ(entry.Quality, w.FrameRecs[entry.Frame].Quality);
            if (rank > 0) { EXPECT_LE(entry.Quality, w.Ranking[rank - 1].Quality); }
        }
    }
};

TEST_F(AlignPage, FeatureClickAndBoxSizeBuildTheReferenceOnlyClearOfTheBorderAndNotOnAnExcludedFrame) {
    open(demo("seq", 4).sequenceFiles);
    click(64, 100);  // one pixel too close
    EXPECT_EQ(timesShown(BorderMessage), 1);
    EXPECT_EQ(w.progstatus, 0);
    click(65, 100);
    EXPECT_EQ(timesShown(BorderMessage), 1);
    EXPECT_EQ(w.progstatus, 1);
    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 1);
    EXPECT_EQ(form.alignment().BoxLeft, 1);
    EXPECT_EQ(w.FrameRecs[0].ShiftX * 10 + w.FrameRecs[0].ShiftY, 0);
    EXPECT_GT(w.FrameRecs[0].Quality, 0.0f);

    form.control(Control::PreviewSlider).setValueByUser(1);
    form.keyDown(Control::PreviewSlider, TMainForm::KeySpace, false);
    click(160, 120);
    EXPECT_EQ(w.hotx, 65);

    // A 256-pixel box kept from a larger sequence fits nowhere in 240 rows: the message says why.
    form.control(Control::PreviewSlider).setValueByUser(0);
    form.control(Control::FFTsizeGroup).setItemIndexByUser(2);
    click(160, 120);
    EXPECT_EQ(ui.messages.back().text,
              std::string(BorderMessage) + "\nThe 256 pixel box does not fit a 320x240 frame: choose a smaller box size.");

    // A box size chosen after the click rebuilds the reference as a fresh click would: frame 2 registers the same.
    ui.messages.clear();
    form.control(Control::FFTsizeGroup).setItemIndexByUser(0);
    click(160, 120);
    form.control(Control::PreviewSlider).setValueByUser(2);
    form.control(Control::AlignOneBUtton).click();
    const TFrameRec fresh = w.FrameRecs[2];

    form.control(Control::PreviewSlider).setValueByUser(0);
    form.control(Control::FFTsizeGroup).setItemIndexByUser(1);
    click(160, 120);
    form.control(Control::FFTsizeGroup).setItemIndexByUser(0);
    EXPECT_EQ(form.alignment().BoxLeft, 128);
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

// Tracking to a pixel is the registration's own test; here every way in gives the same records.
TEST_F(AlignPage, VideoStillAndSerFramesGiveTheSameRecordsAndRanking) {
    const int frames = 16;
    alignSequence(demo("video", frames).sequenceFiles);
    EXPECT_TRUE(form.control(Control::TabSheet3).visible());
    EXPECT_EQ(form.control(Control::StackSlider).maximum(), frames - 1);
    EXPECT_EQ(form.control(Control::StackFramesList).listItems()[0].text,
              "Frame " + std::to_string(w.Ranking[0].Frame + 1));
    expectRankedByQuality();
    const auto videoRecords = records(frames);
    const auto videoRanking = ranking(frames);

    // Browsing the ranking shows the frame of that rank; a quality-band
    // change then re-scores the frame registered last, not the one shown.
    const int rank = w.Ranking[5].Frame == frames - 1 ? 6 : 5;
    const int shown = w.Ranking[rank].Frame;
    form.control(Control::AlignSlider).setValueByUser(rank);
    EXPECT_EQ(w.CurrentFrame, shown);
    const float shownQuality = w.FrameRecs[shown].Quality, lastQuality = w.FrameRecs[frames - 1].Quality;
    form.control(Control::QualityFilter).setValueByUser(20);
    EXPECT_EQ(w.FrameRecs[shown].Quality, shownQuality);
    EXPECT_NE(w.FrameRecs[frames - 1].Quality, lastQuality);
    form.control(Control::QualityFilter).setValue(12);

    alignSequence(demo("stills", frames, DemoOptions::Bmp).sequenceFiles);
    EXPECT_EQ(records(frames), videoRecords);
    EXPECT_EQ(ranking(frames), videoRanking);

    // A smaller still frame shrinks the working image and is read within its own size.
    testing::writeBmp(dir, "stills/frame_0007.bmp", testing::uniform(300, 200, 40));
    alignAll();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(w.ImageWidth * 1000 + w.FrameHeight, 300200);
    EXPECT_TRUE(std::isfinite(w.FrameRecs[7].Difference));

    options.serColour = SerColour::Rgb;
    const DemoResult ser = demo("ser", frames, DemoOptions::Ser);
    alignSequence(ser.sequenceFiles);
    EXPECT_EQ(settings.readString("Files", "Lasttype", ""), "SER");
    EXPECT_EQ(records(frames), videoRecords);
}

// The demosaiced 12-bit Bayer recording registers like the AVI: the
// 100-frame 640x480 demo with a 256 box, which holds the whole disc.
TEST_F(AlignPage, ATwelveBitBayerSerRegistersWithinAPixelOfTheTruth) {
    options.serColour = SerColour::BayerRggb;
    options.serDepth = 12;
    const int frames = 100;
    open(demo("ser12", frames, DemoOptions::Ser, 640, 480).sequenceFiles);
    form.control(Control::FFTsizeGroup).setItemIndexByUser(2);
    click(320, 240);
    alignAll();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    const auto truth = demoTruth(options);
    int within = 0;
    for (int k = 0; k < frames; ++k)
        within += std::abs(w.FrameRecs[k].ShiftX - (truth[k].shiftX - truth[0].shiftX)) <= 1.0 &&
                  std::abs(w.FrameRecs[k].ShiftY - (truth[k].shiftY - truth[0].shiftY)) <= 1.0;
    EXPECT_GE(within, 98);
}

TEST_F(AlignPage, DeInterlacingRegistersFieldByFieldAgainstADeInterlacedReference) {
    open(demo("seq", 4).sequenceFiles);
    click(160, 120);
    form.control(Control::Interlaced).setCheckedByUser(true);  // after the click: the reference follows
    Bitmap24 expected = form.previewBitmap();
    SplitField(expected, 0, false, 320, 240);
    EXPECT_EQ(form.referenceImage(), expected);
    alignAll();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    for (const TFrameRec& record : records(4)) {
        EXPECT_GT(record.FieldQuality, 0.0f);
        EXPECT_LE(std::abs(record.FieldShiftX - record.ShiftX) + std::abs(record.FieldShiftY - record.ShiftY), 2);
    }
    EXPECT_EQ(w.CurrentField, 1);
    // Shifts measured field by field fit neither fields of columns nor whole frames.
    for (const Control change : {Control::InterlaceHoriz, Control::Interlaced}) {
        alignAll();
        form.control(change).setCheckedByUser(!form.control(change).checked());
        EXPECT_EQ(w.progstatus, 1);
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_NE(ui.messages[0].text.find("with another de-interlacing"), std::string::npos);
        ui.messages.clear();
    }
}

TEST_F(AlignPage, CancelHalfWayKeepsWhatWasRegisteredWithoutRankingAndTheNextRunCompletes) {
    const int frames = 24;
    const auto files = demo("seq", frames, DemoOptions::Bmp).sequenceFiles;
    alignSequence(files);
    const auto complete = records(frames);

    int refusedRuns = 0, runs = 0;
    form.handlerTrace = [&](std::string_view name) { runs += name == "AlignallButtonClick"; };
    ui.onProcessEvents = [&](int call) {
        if (call == 5) {
            alignAll();  // a second run, or opening other files, is refused while one runs
            form.control(Control::SelectFileButton).click();
            refusedRuns += form.runInProgress() && form.control(Control::MessageWindow).visible();
        }
        if (call == 12) form.control(Control::BitBtn2).click();
    };
    ui.pendingEventCalls = 0;
    const std::size_t dialogs = ui.dialogRequests.size();
    alignAll();
    ui.onProcessEvents = nullptr;
    EXPECT_EQ(refusedRuns * 10 + runs, 11);
    EXPECT_EQ(ui.dialogRequests.size(), dialogs);
    EXPECT_TRUE(w.StopRequested);
    EXPECT_FALSE(w.AlignRun || form.runInProgress() || form.control(Control::MessageWindow).visible());
    EXPECT_EQ(ui.cursor, CursorShape::Arrow);
    for (const TRankEntry& entry : w.Ranking) EXPECT_EQ(entry, TRankEntry{});
    EXPECT_FALSE(form.control(Control::TabSheet3).visible());  // nothing ranked, nothing to stack
    EXPECT_EQ(w.progstatus, 1);
    int registered = 0;
    for (int k = 0; k < frames; ++k) registered += w.FrameRecs[k] == complete[k];
    EXPECT_GT(registered, 5);
    EXPECT_LT(registered, frames);

    alignAll();
    EXPECT_EQ(records(frames), complete);
    expectRankedByQuality();

    // A frame that cannot be read ends the run as a Cancel does: nothing ranked, nothing to stack.
    form.control(Control::Misalignwarning).setChecked(true);
    std::filesystem::remove(files[10]);
    alignAll();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_FALSE(form.control(Control::TabSheet3).visible() || form.control(Control::Haltbutton).visible());
    EXPECT_EQ(w.progstatus, 1);
}

TEST_F(AlignPage, EveryFrameExcludedBlackConstantAndSingleFrameSequencesEndCleanly) {
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
    ui.messages.clear();

    for (std::uint8_t level : {std::uint8_t{0}, std::uint8_t{90}}) {
        SCOPED_TRACE(static_cast<int>(level));
        open({video("flat" + std::to_string(level) + ".avi", std::vector<Bitmap24>(3, testing::uniform(160, 120, level)))});
        EXPECT_EQ(form.control(Control::FFTsizeGroup).itemIndex(), 0);  // 120 rows force the 64-pixel box
        click(80, 60);
        alignAll();
        EXPECT_TRUE(ui.messages.empty());
        EXPECT_EQ(w.progstatus, 2);
    }

    alignSequence({video("one.avi", {renderDemoFrame(options, 0)})});
    EXPECT_EQ(w.usedframes, 1);
    EXPECT_EQ(form.control(Control::AlignSlider).maximum(), 0);
    form.AlignSliderChange();
    EXPECT_EQ(form.registrationGraph().rankMarkerX, 0);
    EXPECT_EQ(form.registrationGraph().qualityCurve.size(), 1u);
    EXPECT_TRUE(std::isfinite(w.FrameRecs[0].Difference) && std::isfinite(w.FrameRecs[0].Quality));
}

TEST_F(AlignPage, ReAlignAsksAndTheClickedPointBecomesTheShiftWhileCancelEndsTheWait) {
    open(demo("seq", 12).sequenceFiles);
    click(160, 120);
    form.control(Control::Misalignwarning).setCheckedByUser(false);  // only "Re-Align" asks below

    int waitedFrame = -1;
    bool clickFrameShown = false;
    ui.onProcessEvents = [&](int call) {
        if (call == 4) form.control(Control::Haltbutton).click();
        if (form.alignment().WaitingForClick) {
            waitedFrame = w.CurrentFrame;
            // The frame to click on is shown, not the one before it.
            clickFrameShown =
                ui.repaints.back() == Control::AlignImage && form.image(Control::AlignImage) == form.previewBitmap();
            form.mouseEvent(Control::AlignImage, Mouse::Move, 167, 116, false);
            form.mouseEvent(Control::AlignImage, Mouse::Down, 167, 116, true);
        }
    };
    alignAll();
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0], " Is the alignment lost ? \n\r Click OK to realign on feature ");
    EXPECT_GT(ui.waitCalls, 0);  // the click is awaited by blocking, not by spinning
    ASSERT_GE(waitedFrame, 0);
    EXPECT_TRUE(clickFrameShown);
    EXPECT_EQ(w.FrameRecs[waitedFrame].ShiftX * 100 + w.FrameRecs[waitedFrame].ShiftY, 700 - 4);
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
    EXPECT_FALSE(form.alignment().WaitingForClick || form.runInProgress());

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

// The shifts file the window's records make: frame, shift x and y, difference,
// quality (each as the shortest text that reads back as the same float), rank (-1: not ranked).
std::string windowShifts(const Workspace& w, int frames) {
    std::vector<int> rankOf(frames, -1);
    for (int rank = 0; rank < w.usedframes; ++rank) rankOf[w.Ranking[rank].Frame] = rank;
    const auto text = [](float value) {
        char digits[32];
        return "," + std::string(digits, std::to_chars(digits, digits + sizeof digits, value).ptr);
    };
    std::string csv = "frame,shift_x,shift_y,difference,quality,rank\n";
    for (int k = 0; k < frames; ++k) {
        const TFrameRec& r = w.FrameRecs[k];
        csv += std::to_string(k) + "," + std::to_string(r.ShiftX) + "," + std::to_string(r.ShiftY) + text(r.Difference) +
               text(r.Quality) + "," + std::to_string(rankOf[k]) + "\n";
    }
    return csv;
}

// The CLI clicks, aligns and writes what the handlers leave in the records.
TEST_F(AlignPage, CommandLineShiftsEqualTheScriptedHandlersRecords) {
    const int frames = 12;
    const std::string input = demo("seq", frames).sequenceFiles.front();
    open({input});
    form.control(Control::PredictTrack).setChecked(true);
    click(150, 110);
    alignAll();

    const std::string csv = dir.file("shifts.csv");
    const auto run = testing::runCli("align " + input + " --feature 150,110 --box 128 --predict --shifts " + csv);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testing::readText(csv), windowShifts(w, frames));

    const auto refused = testing::runCli("align " + input + " --feature 5,5 --shifts " + csv);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find(BorderMessage), std::string::npos);
    EXPECT_EQ(testing::runCli("align " + input + " --feature 5 --shifts x").status, 2);
}

using Optimizing = testing::FormTest;

// "Align & stack" runs on into the stack page, and the CLI's chain gives what it gives.
TEST_F(Optimizing, CommandLineChainEqualsTheScriptedWindow) {
    const std::string input = demo("demo", 16).sequenceFiles.front();
    open({input}, 1);
    click(160, 120);
    const Bitmap24 referenceFrame = form.previewBitmap();
    form.control(Control::AlignStackButton).click();
    ASSERT_TRUE(ui.messages.empty()) << ui.messages.front().text;
    EXPECT_EQ(w.progstatus, 4);
    EXPECT_FALSE(form.ChainRun);
    EXPECT_EQ(form.control(Control::PageControl1).itemIndex(), 3);
    EXPECT_EQ(form.control(Control::StackSlider).intValue(), chainCutRank(w, 15, 80));
    // Decoding, browsing, optimizing and stacking since have left the reference copy alone.
    EXPECT_EQ(form.referenceImage(), referenceFrame);

    const std::string csv = dir.file("shifts.csv");
    const auto run = testing::runCli("stack " + input + " --feature 160,120 --chain --optimize --shifts " + csv + " --out " +
                                         dir.file("chain.bmp"));
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(testing::readText(csv), windowShifts(w, 16));
    EXPECT_NE(run.out.find("stacked " + std::to_string(form.stackedCount()) + " frames"), std::string::npos) << run.out;
    Bitmap24 saved;
    readBmpFile(dir.file("chain.bmp"), saved);
    EXPECT_EQ(saved, form.image(Control::ProcessImage));
}

}  // namespace
}  // namespace planexor
