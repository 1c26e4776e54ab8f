// End-to-end picture quality on the synthetic planet: how close a stack made
// through the main window, and its sharpened picture, come to the sharp
// original the sequence was rendered from.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "app/main_form.h"
#include "core/pixel.h"
#include "input/avi_reader.h"
#include "demo/synthetic_planet.h"
#include "demo/picture_psnr.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int Frames = 72;
constexpr int Stacked = Frames / 4;  // the best quarter

// One sequence, aligned and stacked once through the window as a user does;
// the tests then read and sharpen that stack.
struct Session {
    TempDir dir;
    DemoOptions demo;
    std::vector<FrameTruth> truth;
    std::vector<Picture> frames;
    Picture original;
    Window window;
    ScriptedUiServices ui;
    MemoryUserSettings settings;
    std::unique_ptr<TMainForm> form;

    Session() {
        demo.directory = dir.path();
        demo.frames = Frames;
        demo.width = Width;
        demo.height = Height;
        RunProgress quiet;
        const DemoResult written = writeDemoSequence(demo, quiet);
        truth = demoTruth(demo);
        original = fromBitmap(renderDemoOriginal(demo));
        window = planetWindow(original, 12);

        AviReader reader(written.sequenceFiles.front());
        Bitmap24 decoded;
        for (int i = 0; i < reader.frameCount(); ++i) {
            reader.decode(i, decoded);
            frames.push_back(fromBitmap(decoded));
        }

        form = std::make_unique<TMainForm>(ui, settings);
        ui.queueFiles({written.sequenceFiles.front()}, 1);
        form->control(Control::SelectFileButton).click();
        // The planet's middle as the first frame shows it.
        const int cx = nearest((window.x0 + window.x1) / 2.0 + truth[0].shiftX);
        const int cy = nearest((window.y0 + window.y1) / 2.0 + truth[0].shiftY);
        form->mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, cx, cy, true);
        form->control(Control::Allignallbutton).click();
        form->control(Control::StackSlider).setValueByUser(Stacked - 1);
        form->control(Control::Stackbutton).click();
    }
};

class PictureQuality : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session_ = new Session; }
    static void TearDownTestSuite() {
        delete session_;
        session_ = nullptr;
    }
    static Session& s() { return *session_; }
    static Workspace& w() { return s().form->workspace(); }
    double quality(const Picture& picture) const { return psnr(picture, s().original, s().window); }

    // The displayed result of processing the stack with these slider values.
    Picture sharpened(const std::array<int, 6>& gains) const {
        for (int layer = 0; layer < 6; ++layer)
            s().form->control(GainSliders[layer]).setValueByUser(gains[layer]);
        s().form->control(Control::ProcessButton).click();
        return fromBitmap(s().form->image(Control::ProcessImage));
    }

    static Picture plainMean() {
        Picture sum(Width, Height);
        for (const Picture& frame : s().frames)
            for (int c = 0; c < 3; ++c)
                for (std::size_t i = 0; i < frame.channel[c].size(); ++i) sum.channel[c][i] += frame.channel[c][i];
        return sum;  // the fitted gain absorbs the missing division
    }

private:
    static Session* session_;
};

Session* PictureQuality::session_ = nullptr;

// Measured: stack 30.9 dB, plain mean 22.5; unsharpened 30.9, best frame
// 31.7; the finest three layers at 10 + 10 * (3, 2, 1) 33.8; every gain 300 17.1.
TEST_F(PictureQuality, TheStackBeatsThePlainMean_ModerateSharpeningBeatsTheStackAndTheBestFrame) {
    ASSERT_TRUE(s().ui.messages.empty());
    ASSERT_EQ(w().ImageWidth, Width);
    const double stack = quality(fromStack(w()));
    const double mean = quality(plainMean());
    EXPECT_GE(stack, mean + 3.0) << "stack " << stack << " dB, plain mean " << mean << " dB";

    const double unsharpened = quality(sharpened({10, 10, 10, 10, 10, 10}));
    const double rival = std::max(unsharpened, quality(s().frames[w().Ranking[0].Frame]));
    const double moderate = quality(sharpened({40, 30, 20, 10, 10, 10}));
    EXPECT_GT(moderate, rival + 1.5) << moderate << " dB against " << rival;
    const double excessive = quality(sharpened({300, 300, 300, 300, 300, 300}));
    EXPECT_LT(excessive, unsharpened - 3.0) << excessive;
}

}  // namespace
}  // namespace planexor
