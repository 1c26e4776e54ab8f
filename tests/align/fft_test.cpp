#include "align/fft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <stdexcept>
#include <utility>
#include <vector>

namespace planexor {
namespace {

using Complex = std::complex<double>;
using Grid = std::vector<Complex>;  // n x n, [a * n + b]

constexpr int Sizes[] = {64, 128, 256};

// std::complex's operator* checks for NaN on every product, which makes the
// direct sums crawl.
Complex times(Complex x, Complex y) {
    return {x.real() * y.real() - x.imag() * y.imag(), x.real() * y.imag() + x.imag() * y.real()};
}

// Direct DFT in double precision: sum over j of x[j] e^(sign 2 pi i j k / N)
// along the second index, then along the first, times `scale` per pass.
Grid directDft(const Grid& input, int n, int sign, double scale) {
    std::vector<Complex> roots(n);
    for (int i = 0; i < n; ++i) roots[i] = std::polar(1.0, sign * 2.0 * std::numbers::pi * i / n);
    Grid result = input;
    for (const auto& [lineStep, step] : {std::pair{n, 1}, std::pair{1, n}}) {
        const Grid along = result;
        for (int line = 0; line < n; ++line)
            for (int k = 0; k < n; ++k) {
                Complex sum = 0;
                for (int j = 0; j < n; ++j)
                    sum += times(along[line * lineStep + j * step], roots[(static_cast<long>(j) * k) % n]);
                result[line * lineStep + k * step] = sum * scale;
            }
    }
    return result;
}

void load(FftEngine& engine, const Grid& grid) {
    const int n = engine.FFTSize;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            engine.SpecRe[a][b] = static_cast<float>(grid[a * n + b].real());
            engine.SpecIm[a][b] = static_cast<float>(grid[a * n + b].imag());
        }
}

Grid planes(const FftEngine& engine) {
    const int n = engine.FFTSize;
    Grid grid(static_cast<std::size_t>(n) * n);
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) grid[a * n + b] = {engine.SpecRe[a][b], engine.SpecIm[a][b]};
    return grid;
}

double relativeError(const Grid& got, const Grid& expected) {
    double error = 0, norm = 0;
    for (std::size_t i = 0; i < got.size(); ++i) {
        error += std::norm(got[i] - expected[i]);
        norm += std::norm(expected[i]);
    }
    return std::sqrt(error / norm);
}

Grid randomGrid(int n, bool real, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> value(-128.0, 128.0);
    Grid grid(static_cast<std::size_t>(n) * n);
    for (auto& cell : grid) cell = {value(random), real ? 0.0 : value(random)};
    return grid;
}

// Every test runs on the kernels this machine picks and on the portable ones.
class FftKernels : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { engine.useVectorCode(GetParam() ? VectorCode::Portable : VectorCode::Best); }
    FftEngine engine;
};

INSTANTIATE_TEST_SUITE_P(Kernels, FftKernels, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Portable" : "Native"; });

// The direct sums use the exponent +2 pi i forward: registration reads shift
// directions from that sign. The planes beyond the box keep their values.
TEST_P(FftKernels, ForwardAndInverse_MatchDirectDft_ForRealAndComplexBlocks) {
    constexpr int Side = TSpectrumPlane::Side;
    for (int n : Sizes) {
        SCOPED_TRACE(n);
        engine.SetupFFT(n);
        std::fill_n(engine.SpecRe.data(), Side * Side, 42.0f);
        std::fill_n(engine.SpecIm.data(), Side * Side, -42.0f);
        for (bool real : {true, false}) {
            SCOPED_TRACE(real ? "real block" : "complex block");
            const Grid input = randomGrid(n, real, 17u + n);
            load(engine, input);
            engine.ForwardFFT2D();
            const Grid spectrum = planes(engine);
            EXPECT_LT(relativeError(spectrum, directDft(input, n, +1, 1.0)), 1e-5);

            // The inverse is checked against the direct sum of exactly what it
            // was given; a real block's inverse is exactly real (its spectrum
            // exactly Hermitian, else the inverse would not take it for one).
            engine.InverseFFT2D();
            const Grid back = planes(engine);
            EXPECT_LT(relativeError(back, directDft(spectrum, n, -1, 1.0 / n)), 1e-5);
            for (std::size_t i = 0; real && i < back.size(); ++i) ASSERT_EQ(back[i].imag(), 0.0) << i;
        }
        for (int a = 0; a < Side; ++a)
            for (int b = a < n ? n : 0; b < Side; ++b)
                ASSERT_EQ(std::pair(engine.SpecRe[a][b], engine.SpecIm[a][b]), std::pair(42.0f, -42.0f))
                    << a << "," << b;
    }
}

// A nearly real or nearly Hermitian input must not be taken for one: a lone
// imaginary value, or one broken mirror pair, anywhere in the box (the
// Nyquist row and the last columns included) changes the result.
TEST_P(FftKernels, AlmostSymmetricInput_IsTransformedInFull) {
    const int n = 64;
    engine.SetupFFT(n);
    const Grid real = randomGrid(n, true, 3u);
    load(engine, real);
    engine.ForwardFFT2D();
    const Grid hermitian = planes(engine);
    const int cells[][2] = {{0, 0}, {n - 1, n - 1}, {n / 2, 3}, {n / 2, n / 2}, {2, n - 1}, {1, n - 2}, {n - 5, 7}};
    for (const auto& cell : cells) {
        SCOPED_TRACE(::testing::Message() << cell[0] << "," << cell[1]);
        const std::size_t index = cell[0] * n + cell[1];
        Grid input = real;
        input[index] += Complex(0.0, 1.0);
        load(engine, input);
        engine.ForwardFFT2D();
        EXPECT_LT(relativeError(planes(engine), directDft(input, n, +1, 1.0)), 1e-5);

        Grid broken = hermitian;
        broken[index] += Complex(3.0, 1000.0);
        load(engine, broken);
        engine.InverseFFT2D();
        EXPECT_LT(relativeError(planes(engine), directDft(broken, n, -1, 1.0 / n)), 1e-5);
    }
}

// Ring 5 filled with |3 + 4i| = 5 (wrapped negative frequencies included),
// one coefficient of 10 in ring 1.
TEST(RadialProfile, FullRing_AveragesToItsNormalisedMagnitude) {
    const int n = 64;
    FftEngine engine;
    engine.SetupFFT(n);
    engine.SpecRe.clear(n);
    engine.SpecIm.clear(n);
    const auto frequency = [n](int index) { return index <= n / 2 ? index : index - n; };
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b)
            if (std::lround(std::hypot(frequency(a), frequency(b))) == 5) {
                engine.SpecRe[a][b] = 3.0f;
                engine.SpecIm[a][b] = -4.0f;
            }
    engine.SpecRe[0][1] = 10.0f;
    engine.SpecRe[0][0] = 1000.0f;  // zero frequency: in no ring, but it normalises
    engine.ComputeRadialProfile();
    const double normaliser = 1000.0 + 1e-5;
    EXPECT_NEAR(engine.RadialProfile[4], 5.0 / normaliser, 1e-8);
    // Ring 1 has 8 cells: the diagonal neighbours round to radius 1 as well.
    EXPECT_NEAR(engine.RadialProfile[0], 10.0 / normaliser / 8, 1e-8);
    EXPECT_NEAR(engine.RadialProfileMax, 5.0 / normaliser, 1e-8);
}

// A flat spectrum gives every ring that has cells the value 1 / (1 + 1e-5):
// the corner ring of a 64 box is radius 45 (bin 44), and a 512 box fills all
// bins but the last. Sizes the engine cannot transform are refused.
TEST(RadialProfile, FlatSpectrum_FillsExactlyTheRingsThatExist) {
    FftEngine engine;
    for (const auto& [size, lastFilled] : {std::pair{64, 44}, std::pair{512, 254}}) {
        SCOPED_TRACE(size);
        engine.SetupFFT(size);
        for (int a = 0; a < size; ++a)
            for (int b = 0; b < size; ++b) {
                engine.SpecRe[a][b] = (a + b) % 2 ? 0.6f : 0.0f;
                engine.SpecIm[a][b] = (a + b) % 2 ? -0.8f : 1.0f;
            }
        engine.ComputeRadialProfile();
        for (int bin = 0; bin < FftEngine::ProfileBins; ++bin)
            ASSERT_NEAR(engine.RadialProfile[bin], bin <= lastFilled ? 1.0 / (1.0 + 1e-5) : 0.0, 1e-6) << bin;
        EXPECT_NEAR(engine.RadialProfileMax, 1.0 / (1.0 + 1e-5), 1e-6);
    }
    EXPECT_THROW(engine.SetupFFT(100), std::invalid_argument);
    EXPECT_THROW(engine.SetupFFT(1024), std::invalid_argument);
    EXPECT_EQ(engine.FFTSize, 512);
}

// Zero frequency at the centre, index 1 along the first plane index the pixel column right of it; magnitudes
// from the threshold on are drawn in blue alone, weaker ones in colour.
TEST(SpectrumPicture, CentresZeroFrequencyAndThresholdsTheMagnitude) {
    FftEngine engine;
    const int n = 64;
    engine.SetupFFT(n);
    engine.SpecRe.clear(n);
    engine.SpecIm.clear(n);
    engine.SpecRe[0][0] = -7.0f;  // |-7 + 7i|: magnitude, not sign, counts
    engine.SpecIm[0][0] = 7.0f;
    engine.SpecRe[1][0] = 3.5f;  // below 0.45 of that, though not of 7
    engine.SpecRe[2][0] = 7.0f;  // above
    const Bitmap24 picture = engine.MakeSpectrumImage(engine.SpecRe, &engine.SpecIm, 0.45f);
    const auto blueAlone = [&](int x) { return picture.pixel(x, n / 2)[1] + picture.pixel(x, n / 2)[2] == 0; };
    EXPECT_EQ(std::vector({blueAlone(n / 2), blueAlone(n / 2 + 1), blueAlone(n / 2 + 2)}),
              std::vector({true, false, true}));
}

}  // namespace
}  // namespace planexor
