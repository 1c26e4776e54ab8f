// Our 2-D transform against FFTW on the same job: a real N x N block forward
// and back (with the 1/N^2 scale), and the quality score of one box. Compare
// the ratio of the two, not the absolute times, across machines.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "align/fft.h"
#include "align/quality.h"

#ifdef PLANEXOR_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

using planexor::FftEngine;
using planexor::VectorCode;

float sample(int a, int b) { return static_cast<float>(100.0 + 60.0 * std::sin(a * 0.37) * std::cos(b * 0.23) + (a * 31 + b * 17) % 23); }

void loadBlock(FftEngine& engine) {
    const int n = engine.FFTSize;
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) engine.SpecRe[a][b] = sample(a, b);
    engine.SpecIm.clear(n);
}

void forwardInverse(benchmark::State& state, bool portable) {
    FftEngine engine;
    engine.useVectorCode(portable ? VectorCode::Portable : VectorCode::Best);
    engine.SetupFFT(static_cast<int>(state.range(0)));
    loadBlock(engine);
    for (auto _ : state) {
        engine.ForwardFFT2D();
        engine.InverseFFT2D();
        benchmark::DoNotOptimize(engine.SpecRe[1][1]);
    }
    state.SetLabel(engine.usesWideKernels() ? "avx2" : "portable");
}

void BM_PlanexorForwardInverse(benchmark::State& state) { forwardInverse(state, false); }
void BM_PlanexorForwardInversePortable(benchmark::State& state) { forwardInverse(state, true); }
BENCHMARK(BM_PlanexorForwardInverse)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlanexorForwardInversePortable)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

// A complex spectrum that is not Hermitian takes the general paths.
void BM_PlanexorComplexForwardInverse(benchmark::State& state) {
    FftEngine engine;
    engine.SetupFFT(static_cast<int>(state.range(0)));
    loadBlock(engine);
    engine.SpecIm[1][2] = 1.0f;
    for (auto _ : state) {
        engine.ForwardFFT2D();
        engine.InverseFFT2D();
        benchmark::DoNotOptimize(engine.SpecRe[1][1]);
    }
}
BENCHMARK(BM_PlanexorComplexForwardInverse)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

// Registration's view of a box: grey values minus their mean, then the
// transform, the radial profile and the score.
void BM_BlockQuality128(benchmark::State& state) {
    FftEngine engine;
    engine.SetupFFT(128);
    std::vector<float> box(128 * 128);
    for (int a = 0; a < 128; ++a)
        for (int b = 0; b < 128; ++b) box[a * 128 + b] = sample(a, b);
    for (auto _ : state) {
        // Independent partial sums: one running double sum would take longer
        // than the transform.
        double sums[8] = {};
        for (std::size_t i = 0; i < box.size(); i += 8)
            for (int j = 0; j < 8; ++j) sums[j] += box[i + j];
        double sum = 0;
        for (double partial : sums) sum += partial;
        const float mean = static_cast<float>(sum / box.size());
        for (int a = 0; a < 128; ++a)
            for (int b = 0; b < 128; ++b) engine.SpecRe[a][b] = box[a * 128 + b] - mean;
        engine.SpecIm.copyFrom(engine.ZeroPlane, 128);
        benchmark::DoNotOptimize(planexor::scoreBlockQuality(engine, 12));
    }
}
BENCHMARK(BM_BlockQuality128)->Unit(benchmark::kMicrosecond);

void BM_RadialProfile(benchmark::State& state) {
    FftEngine engine;
    engine.SetupFFT(static_cast<int>(state.range(0)));
    loadBlock(engine);
    engine.ForwardFFT2D();
    for (auto _ : state) {
        engine.ComputeRadialProfile();
        benchmark::DoNotOptimize(engine.RadialProfileMax);
    }
}
BENCHMARK(BM_RadialProfile)->Arg(128)->Unit(benchmark::kMicrosecond);

#ifdef PLANEXOR_HAVE_FFTW
void BM_FftwRealForwardInverse(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    float* block = fftwf_alloc_real(static_cast<std::size_t>(n) * n);
    fftwf_complex* spectrum = fftwf_alloc_complex(static_cast<std::size_t>(n) * (n / 2 + 1));
    fftwf_plan forward = fftwf_plan_dft_r2c_2d(n, n, block, spectrum, FFTW_MEASURE);
    fftwf_plan inverse = fftwf_plan_dft_c2r_2d(n, n, spectrum, block, FFTW_MEASURE);
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) block[a * n + b] = sample(a, b);
    const float scale = 1.0f / (n * n);
    for (auto _ : state) {
        fftwf_execute(forward);
        fftwf_execute(inverse);
        for (int i = 0; i < n * n; ++i) block[i] *= scale;
        benchmark::DoNotOptimize(block[n + 1]);
    }
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(spectrum);
    fftwf_free(block);
}
BENCHMARK(BM_FftwRealForwardInverse)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);

void BM_FftwComplexForwardInverse(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    fftwf_complex* data = fftwf_alloc_complex(static_cast<std::size_t>(n) * n);
    fftwf_plan forward = fftwf_plan_dft_2d(n, n, data, data, FFTW_BACKWARD, FFTW_MEASURE);
    fftwf_plan inverse = fftwf_plan_dft_2d(n, n, data, data, FFTW_FORWARD, FFTW_MEASURE);
    for (int a = 0; a < n; ++a)
        for (int b = 0; b < n; ++b) {
            data[a * n + b][0] = sample(a, b);
            data[a * n + b][1] = 0.0f;
        }
    const float scale = 1.0f / (n * n);
    for (auto _ : state) {
        fftwf_execute(forward);
        fftwf_execute(inverse);
        for (int i = 0; i < n * n; ++i) {
            data[i][0] *= scale;
            data[i][1] *= scale;
        }
        benchmark::DoNotOptimize(data[n + 1][0]);
    }
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(data);
}
BENCHMARK(BM_FftwComplexForwardInverse)->Arg(64)->Arg(128)->Arg(256)->Unit(benchmark::kMicrosecond);
#endif

}  // namespace
