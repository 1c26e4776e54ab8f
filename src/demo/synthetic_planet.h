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
    // Faults of the camera for calibration: this many hot pixels (a fixed
    // pattern added to every frame) and vignetting (the light falls to
    // 1 - vignetting in the corners). Either one also writes a dark/ and a
    // flat/ sequence of CalibrationFrames each beside the frames.
    int hotPixels = 0;
    double vignetting = 0;
    // Seeing that moves parts of the disc differently: the frame's smooth
    // field of local displacements grows from below a pixel (0) to a few
    // pixels across the disc (1); 0..2. Above 0 the field's true values go
    // to seeing.csv beside truth.csv.
    double seeingDistortion = 0;
    // Seeing that blurs parts of the disc more than others: in each frame a
    // smooth band across the disc takes up to 1.5 pixels more blur at 1; 0..2.
    double patchySeeing = 0;
    static constexpr int CalibrationFrames = 40;
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
    std::string seeingFile;  // with seeing distortion only
    std::string originalFile;
    std::vector<std::string> darkFiles, flatFiles;  // the calibration sequences, when asked for
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
    // The camera's hot pixels and vignetting, from here on in every frame.
    void setSensor(int hotPixels, double vignetting);
    // The strength of the local displacement field, as DemoOptions::seeingDistortion.
    void setSeeingDistortion(double amount) { seeing_ = amount; }
    // The extra blur of parts of each frame, as DemoOptions::patchySeeing.
    void setPatchySeeing(double amount) { patchy_ = amount; }
    // The field of the last distorted frame every `step` pixels over the
    // planet: a point (x, y) of the original shows at (x + dx, y + dy) before
    // the frame's global shift.
    struct FieldSample {
        int x, y;
        float dx, dy;
    };
    std::vector<FieldSample> fieldSamples(int step) const;
    // The same at one point; none outside the planet's region.
    FieldSample fieldAt(int x, int y) const;
    // Frame `index` of the calibration sequences: the telescope covered
    // (dark), or pointed at an even light (flat); both with the sensor's faults.
    void renderDark(int index, Bitmap24& frame);
    void renderFlat(int index, Bitmap24& frame);

private:
    struct Region {
        int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // half-open
    };

    struct HotPixel {
        int x, y, level;
    };

    void distort(int frameIndex);
    void renderOnce(const FrameTruth& truth, int frameIndex, const FrameEffects& effects, Bitmap24& frame);
    float lightGain(int x, int y) const { return 1.0f - vignetteX_[x] - vignetteY_[y]; }
    void addHotPixels(Bitmap24& frame) const;
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
    std::vector<HotPixel> hotPixels_;
    std::vector<float> vignetteX_, vignetteY_;  // light lost along each axis
    bool vignetted_ = false;
    double seeing_ = 0;
    double patchy_ = 0;
    Bitmap24 blurrier_;  // the frame with the patches' extra blur everywhere
    float fieldOffsetX_ = 0, fieldOffsetY_ = 0;  // the mean removed from the last field
};

Bitmap24 renderDemoOriginal(const DemoOptions& options);
// Frame `frame` of the sequence as written, with its truth if asked.
Bitmap24 renderDemoFrame(const DemoOptions& options, int frame, FrameTruth* truth = nullptr);

// Writes original.bmp, the frames (planet.avi, planet.ser, or frame_0000.bmp ... /
// frame_0000.jpg ...) and truth.csv into options.directory, creating it if
// needed; with hot pixels or vignetting also dark/ and flat/ (dark.avi and
// flat.avi, dark.ser and flat.ser, or still frames, as the frames are). A stop or an error
// removes what this run had written.
DemoResult writeDemoSequence(const DemoOptions& options, RunProgress& progress);

}  // namespace planexor
