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
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::TempDir;

constexpr int Width = 320;
constexpr int Height = 240;
constexpr int Frames = 72;
constexpr int Stacked = Frames / 4;  // the best quarter
constexpr int SearchRadius = 25;     // whole-pixel translations tried against the original

// Red, green and blue as floats, row-major.
struct Picture {
    int width = 0, height = 0;
    std::array<std::vector<float>, 3> channel;

    Picture() = default;
    Picture(int w, int h) : width(w), height(h) {
        for (auto& c : channel) c.assign(static_cast<std::size_t>(w) * h, 0.0f);
    }
    float at(int c, int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0.0f;  // black sky beyond the edge
        return channel[c][static_cast<std::size_t>(y) * width + x];
    }
    float& at(int c, int x, int y) { return channel[c][static_cast<std::size_t>(y) * width + x]; }
};

Picture fromBitmap(const Bitmap24& image) {
    Picture picture(image.width(), image.height());
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            for (int c = 0; c < 3; ++c) picture.at(c, x, y) = image.pixel(x, y)[2 - c];
    return picture;
}

Picture fromStack(const Workspace& w) {
    Picture picture(w.ImageWidth, w.ImageHeight);
    const TFloatPlane* planes[] = {&w.StackR, &w.StackG, &w.StackB};
    for (int c = 0; c < 3; ++c)
        for (int y = 0; y < w.ImageHeight; ++y)
            for (int x = 0; x < w.ImageWidth; ++x) picture.at(c, x, y) = (*planes[c])[x][y];
    return picture;
}

// Half-open rectangle of the original where the planet is, plus a margin.
struct Window {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};

Window planetWindow(const Picture& original, int margin) {
    Window window{original.width, original.height, 0, 0};
    for (int y = 0; y < original.height; ++y)
        for (int x = 0; x < original.width; ++x)
            if (original.at(0, x, y) + original.at(1, x, y) + original.at(2, x, y) > 30.0f) {
                window = {std::min(window.x0, x), std::min(window.y0, y), std::max(window.x1, x + 1), std::max(window.y1, y + 1)};
            }
    return {std::max(window.x0 - margin, 0), std::max(window.y0 - margin, 0), std::min(window.x1 + margin, original.width),
            std::min(window.y1 + margin, original.height)};
}

// Squared residual of the original against a * picture + b, the line fitted
// by least squares, with picture read at (x + dx, y + dy). `grey` fits the
// channel sum instead of each channel; `step` thins the window.
double fittedResidual(const Picture& picture, const Picture& original, const Window& window, int dx, int dy,
                      bool grey, int step, long long& samples) {
    double residual = 0;
    samples = 0;
    for (int c = 0; c < (grey ? 1 : 3); ++c) {
        double n = 0, sp = 0, so = 0, spp = 0, spo = 0, soo = 0;
        for (int y = window.y0; y < window.y1; y += step)
            for (int x = window.x0; x < window.x1; x += step) {
                double p, o;
                if (grey) {
                    p = picture.at(0, x + dx, y + dy) + picture.at(1, x + dx, y + dy) + picture.at(2, x + dx, y + dy);
                    o = original.at(0, x, y) + original.at(1, x, y) + original.at(2, x, y);
                } else {
                    p = picture.at(c, x + dx, y + dy);
                    o = original.at(c, x, y);
                }
                n += 1, sp += p, so += o, spp += p * p, spo += p * o, soo += o * o;
            }
        const double varP = spp - sp * sp / n;
        const double cov = spo - sp * so / n;
        const double varO = soo - so * so / n;
        residual += varO - (varP > 0 ? cov * cov / varP : 0.0);
        samples += static_cast<long long>(n);
    }
    return std::max(residual, 0.0);
}

// PSNR in dB (peak 255) of a picture against the original over the planet
// window, after the best whole-pixel translation and a gain and offset per
// channel: what is left is detail lost or invented, not placement or scale.
double psnr(const Picture& picture, const Picture& original, const Window& window) {
    long long samples = 0;
    // Coarse search on thinned grey, then every channel near the best.
    int bestX = 0, bestY = 0;
    double best = std::numeric_limits<double>::max();
    for (int dy = -SearchRadius; dy <= SearchRadius; ++dy)
        for (int dx = -SearchRadius; dx <= SearchRadius; ++dx) {
            const double r = fittedResidual(picture, original, window, dx, dy, true, 3, samples);
            if (r < best) best = r, bestX = dx, bestY = dy;
        }
    best = std::numeric_limits<double>::max();
    for (int dy = bestY - 2; dy <= bestY + 2; ++dy)
        for (int dx = bestX - 2; dx <= bestX + 2; ++dx)
            best = std::min(best, fittedResidual(picture, original, window, dx, dy, false, 1, samples));
    return 10.0 * std::log10(255.0 * 255.0 / std::max(best / static_cast<double>(samples), 1e-12));
}

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
