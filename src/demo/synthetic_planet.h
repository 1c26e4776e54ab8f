#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/bitmap24.h"
#include "core/run_progress.h"
#include "input/ser_reader.h"

namespace planexor {

// A synthetic planet video with known answers: a sharp Jupiter-like original
// seen through turbulent air (shift, blur, slight local distortion, noise).
// It is the demo sequence and the test data of every accuracy test.
struct DemoOptions {
    std::string directory;
    int frames = 500;
    int width = 640;
    int height = 480;
    enum Format { Avi, Bmp, Jpg, Ser } format = Avi;
    enum Codec { Raw, Mjpeg } codec = Raw;  // AVI only
    SerColour serColour = SerColour::Mono;   // SER only
    int serDepth = 8;                        // SER only: 8, 12 or 16
    unsigned seed = 1;
    // Pixels the planet moves to the right from the first frame to the last
    // (negative: to the left); 0 gives a random walk around the centre.
    double drift = 0;
};

// Frame content at (x + shiftX, y + shiftY) shows the original at (x, y);
// +x right, +y down. blur is the sigma in pixels of the Gaussian applied to
// the shifted original.
struct FrameTruth {
    double shiftX = 0;
    double shiftY = 0;
    double blur = 0;
};

struct FrameEffects {
    bool distortion = true;  // smooth local displacement below a pixel
    bool noise = true;       // photon and read noise
};

// What writeDemoSequence left on disk. After a stop nothing of the run is
// left and only `stopped` is set.
struct DemoResult {
    std::vector<std::string> sequenceFiles;  // the AVI or SER, or the frame files in frame order
    std::string truthFile;
    std::string originalFile;
    bool stopped = false;
};

// Checks the options (not the directory); throws PlanexorError.
void validateDemoOptions(const DemoOptions& options);

// The shifts and blurs of every frame of a sequence. Cheap: nothing is rendered.
std::vector<FrameTruth> demoTruth(const DemoOptions& options);

// Renders the original once, then any number of frames into reused buffers.
// Distortion and noise of frame i depend only on the seed and i, so frames
// may be rendered in any order.
class PlanetRenderer {
public:
    PlanetRenderer(int width, int height, unsigned seed);

    const Bitmap24& original() const { return original_; }
    // The original moved and blurred as `truth` says, with frame
    // `frameIndex`'s distortion and noise where `effects` asks for them.
    // Non-finite or absurd values throw PlanexorError.
    void render(const FrameTruth& truth, int frameIndex, const FrameEffects& effects, Bitmap24& frame);

private:
    struct Region {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
    };

    void distort(int frameIndex);
    void makeKernel(double shift, double sigma, int& integerShift, std::vector<float>& taps) const;

    int width_;
    int height_;
    unsigned seed_;
    Bitmap24 original_;
    std::vector<float> sharp_;  // the original before rounding, with a zero border
    Region planet_;             // where the original is not black, plus a margin
    std::vector<float> distorted_;
    std::vector<float> rowPass_;
    std::vector<float> blurred_;
    std::vector<float> kernelX_;
    std::vector<float> kernelY_;
    std::vector<float> displacementTables_;
    std::vector<float> lanczosTable_;
    std::vector<std::uint8_t> skyLevels_;
    std::array<float, 320> sigmaOfLevel_{};
};

Bitmap24 renderDemoOriginal(const DemoOptions& options);
// Frame `frame` of the sequence as written, with its truth if asked.
Bitmap24 renderDemoFrame(const DemoOptions& options, int frame, FrameTruth* truth = nullptr);

// Writes original.bmp, the frames (planet.avi, planet.ser, or frame_0000.bmp ... /
// frame_0000.jpg ...) and truth.csv into options.directory, creating it if
// needed. A stop or an error removes what this run had written.
DemoResult writeDemoSequence(const DemoOptions& options, RunProgress& progress);

}  // namespace planexor
