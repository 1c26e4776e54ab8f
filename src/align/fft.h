#pragma once
#include <array>
#include <cstdint>
#include <memory>

#include "core/bitmap24.h"
#include "core/vector_lanes.h"

namespace planexor {

// A 512 x 512 float plane addressed [a][b] with b contiguous (element [a][b]
// at a * 512 + b). Callers put the image column in a and the row in b, so it
// reads [x][y] like the workspace planes. A transform of size N uses only the
// [0..N-1][0..N-1] corner; every size shares the same storage and stride.
class TSpectrumPlane {
public:
    static constexpr int Side = 512;

    TSpectrumPlane();
    TSpectrumPlane(const TSpectrumPlane&) = delete;
    TSpectrumPlane& operator=(const TSpectrumPlane&) = delete;

    float* operator[](int a) { return storage_->values + static_cast<std::size_t>(a) * Side; }
    const float* operator[](int a) const { return storage_->values + static_cast<std::size_t>(a) * Side; }
    float* data() { return storage_->values; }
    const float* data() const { return storage_->values; }

    // Whole-plane copies cost a megabyte each; these touch only the used corner.
    void copyFrom(const TSpectrumPlane& source, int size);
    void clear(int size);

private:
    struct alignas(64) Storage {
        float values[static_cast<std::size_t>(Side) * Side];
    };
    std::unique_ptr<Storage> storage_;
};

struct RgbBytes {
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;
    bool operator==(const RgbBytes&) const = default;
};

// The two-dimensional transform of the alignment box and what is derived
// from its spectrum. One engine lives for the whole run; all of its arrays
// are allocated by the constructor, and only MakeSpectrumImage, which is
// drawn for the tool window and never inside a frame loop, allocates later.
//
// Forward:  X[k] = sum x[n] e^(+2 pi i n k / N) along each index, unscaled.
// Inverse:  X[k] = (1/N) sum x[n] e^(-2 pi i n k / N) along each index.
// Frequencies above N/2 are the negative ones (index i stands for i - N).
class FftEngine {
public:
    static constexpr int MaxSize = TSpectrumPlane::Side;
    static constexpr int ProfileBins = 256;
    static constexpr int CurvePoints = 1001;

    // Sets up for N = 128, the default box, so the engine is usable at once.
    FftEngine();
    ~FftEngine();
    FftEngine(const FftEngine&) = delete;
    FftEngine& operator=(const FftEngine&) = delete;

    // N must be 64, 128, 256 or 512 (std::invalid_argument otherwise). The
    // planes keep their contents; callers clear what they use.
    void SetupFFT(int size);

    // In place on SpecRe/SpecIm, [0..N-1][0..N-1].
    void ForwardFFT2D();
    void InverseFFT2D();

    // RadialProfile[b] := mean of the magnitude / (largest magnitude + 1e-5) over the ring
    // of radius b + 1 (nearest integer of the wrapped frequency distance).
    void ComputeRadialProfile();
    // Zeroes the bins but, as the quality graph expects, not RadialProfileMax.
    void ClearRadialProfile();

    // False-colour picture of |a| (or of |a + i b|) with the zero frequency
    // at pixel (N/2, N/2); normalised values at or above threshold turn blue.
    Bitmap24 MakeSpectrumImage(const TSpectrumPlane& a, const TSpectrumPlane* b, float threshold) const;
    void BuildSpectrumCurve(double gamma, double toeSlope);
    static RgbBytes WavelengthToRGB(double wavelength);

    // The engine starts on the best kernels; VectorCode::Portable keeps it on
    // the portable ones even where wider units exist, so both can be compared.
    void useVectorCode(VectorCode code);
    bool usesWideKernels() const;

    std::int32_t FFTSize = 0;
    std::int32_t FFTHalf = 0;
    std::int16_t FFTBits = 0;
    std::int32_t FFTSign = 1;  // +1 between transforms
    float FFTScale = 1.0f;     // 1/N of the last inverse transform
    std::array<std::uint16_t, MaxSize> BitRev{};

    TSpectrumPlane SpecRe;
    TSpectrumPlane SpecIm;
    TSpectrumPlane ZeroPlane;

    std::array<float, ProfileBins> RadialProfile{};
    float RadialProfileMax = 0.0f;
    std::array<double, CurvePoints> SpectrumCurve{};

private:
    struct Tables;
    std::unique_ptr<Tables> tables_;
};

}  // namespace planexor
