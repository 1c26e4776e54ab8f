#include "align/fft.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <vector>

#include "core/pixel.h"
#include "core/vector_lanes.h"

namespace planexor {

TSpectrumPlane::TSpectrumPlane() : storage_(std::make_unique<Storage>()) {}

void TSpectrumPlane::copyFrom(const TSpectrumPlane& source, int size) {
    for (int a = 0; a < size; ++a) std::memcpy((*this)[a], source[a], sizeof(float) * size);
}

void TSpectrumPlane::clear(int size) {
    for (int a = 0; a < size; ++a) std::memset((*this)[a], 0, sizeof(float) * size);
}

namespace {

constexpr int Stride = TSpectrumPlane::Side;
constexpr int MaxLanes = 8;
constexpr int MaxSize = FftEngine::MaxSize;
// Radix-4 stages have quarter spans 1, 2, 4, ... MaxSize / 4.
constexpr int TwiddleLevels = 8;
static_assert(1 << (TwiddleLevels - 1) == MaxSize / 4);
constexpr std::uint8_t NoBin = 255;

template <int Width>
struct Lanes;
template <>
struct Lanes<4> {
    using Vec = lanes::F4;
};
template <>
struct Lanes<8> {
    using Vec = lanes::F8;
};

using lanes::load;
using lanes::store;

// One radix-4 butterfly once inputs 1..3 carry their twiddles: x0 and a
// (twiddled input 1) pair up, as do b and c; the outputs go back span apart.
template <class V>
PLANEXOR_INLINE void butterfly4(float* r, float* i, int span, const V& x0r, const V& x0i, const V& ar, const V& ai,
                                const V& br, const V& bi, const V& cr, const V& ci) {
    const V t0r = x0r + ar, t0i = x0i + ai, t1r = x0r - ar, t1i = x0i - ai;
    const V t2r = br + cr, t2i = bi + ci, dr = br - cr, di = bi - ci;
    store(r, t0r + t2r);
    store(i, t0i + t2i);
    store(r + 2 * span, t0r - t2r);
    store(i + 2 * span, t0i - t2i);
    store(r + span, t1r - di);
    store(i + span, t1i + dr);
    store(r + 3 * span, t1r + di);
    store(i + 3 * span, t1i - dr);
}

PLANEXOR_INLINE void transpose(Lanes<4>::Vec* r) {
    using V = Lanes<4>::Vec;
    const V t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 1, 5);
    const V t1 = __builtin_shufflevector(r[0], r[1], 2, 6, 3, 7);
    const V t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 1, 5);
    const V t3 = __builtin_shufflevector(r[2], r[3], 2, 6, 3, 7);
    r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    r[1] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    r[2] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

PLANEXOR_INLINE void transpose(Lanes<8>::Vec* r) {
    using V = Lanes<8>::Vec;
    V t[8];
    #pragma GCC unroll 8
    for (int i = 0; i < 8; i += 2) {
        t[i] = __builtin_shufflevector(r[i], r[i + 1], 0, 8, 1, 9, 4, 12, 5, 13);
        t[i + 1] = __builtin_shufflevector(r[i], r[i + 1], 2, 10, 3, 11, 6, 14, 7, 15);
    }
    V s[8];
    #pragma GCC unroll 8
    for (int i = 0; i < 8; i += 4) {
        s[i] = __builtin_shufflevector(t[i], t[i + 2], 0, 1, 8, 9, 4, 5, 12, 13);
        s[i + 1] = __builtin_shufflevector(t[i], t[i + 2], 2, 3, 10, 11, 6, 7, 14, 15);
        s[i + 2] = __builtin_shufflevector(t[i + 1], t[i + 3], 0, 1, 8, 9, 4, 5, 12, 13);
        s[i + 3] = __builtin_shufflevector(t[i + 1], t[i + 3], 2, 3, 10, 11, 6, 7, 14, 15);
    }
    #pragma GCC unroll 8
    for (int i = 0; i < 4; ++i) {
        r[i] = __builtin_shufflevector(s[i], s[i + 4], 0, 1, 2, 3, 8, 9, 10, 11);
        r[i + 4] = __builtin_shufflevector(s[i], s[i + 4], 4, 5, 6, 7, 12, 13, 14, 15);
    }
}

PLANEXOR_INLINE Lanes<4>::Vec reversed(const Lanes<4>::Vec& v) { return __builtin_shufflevector(v, v, 3, 2, 1, 0); }

using lanes::squareRoot;

// The eight-lane helpers that return a vector exist only for the AVX2 code.
#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE_FMA inline Lanes<8>::Vec reversed(const Lanes<8>::Vec& v) {
    return __builtin_shufflevector(v, v, 7, 6, 5, 4, 3, 2, 1, 0);
}
PLANEXOR_WIDE_FMA inline Lanes<8>::Vec squareRoot(const Lanes<8>::Vec& v) { return _mm256_sqrt_ps(v); }
#endif

// What one transform needs: the size, its tables and the scratch buffers.
// The work buffers hold `Width` transforms side by side, element k of lane l
// at k * Width + l, real and imaginary parts apart, so every butterfly is a
// handful of plain vector operations.
struct Plan {
    int size;
    int bits;
    const std::uint16_t* bitRev;
    const float* const* twiddles;  // by log2 of the quarter span
    float* workRe;
    float* workIm;
    float* rowRe;  // one spare row pair for the packed lane
    float* rowIm;
};

// Radix-4 decimation in time over all lanes at once: input in bit-reversed
// order, output in natural order, e^(+2 pi i / N) kernel. The inverse comes
// from the same kernel by swapping the real and imaginary buffers, since
// swap(DFT+(swap(x))) = DFT-(x).
template <int Width>
PLANEXOR_INLINE void transformLanes(const Plan& plan) {
    using V = typename Lanes<Width>::Vec;
    float* const re = plan.workRe;
    float* const im = plan.workIm;
    const int n = plan.size;
    int quarter;
    if (plan.bits & 1) {
        for (int j = 0; j < n; j += 2) {
            float* r = re + j * Width;
            float* i = im + j * Width;
            const V ar = load<V>(r), ai = load<V>(i);
            const V br = load<V>(r + Width), bi = load<V>(i + Width);
            store(r, ar + br);
            store(i, ai + bi);
            store(r + Width, ar - br);
            store(i + Width, ai - bi);
        }
        quarter = 2;
    } else {
        for (int j = 0; j < n; j += 4) {
            float* r = re + j * Width;
            float* i = im + j * Width;
            // Sub-transforms sit in bit-reversed order: S0, S2, S1, S3.
            const V s0r = load<V>(r), s0i = load<V>(i);
            const V s2r = load<V>(r + Width), s2i = load<V>(i + Width);
            const V s1r = load<V>(r + 2 * Width), s1i = load<V>(i + 2 * Width);
            const V s3r = load<V>(r + 3 * Width), s3i = load<V>(i + 3 * Width);
            butterfly4(r, i, Width, s0r, s0i, s2r, s2i, s1r, s1i, s3r, s3i);
        }
        quarter = 4;
    }
    for (int level = (plan.bits & 1) ? 1 : 2; quarter < n; quarter *= 4, level += 2) {
        const float* tw = plan.twiddles[level];
        const int block = 4 * quarter;
        const int span = quarter * Width;
        for (int m = 0; m < quarter; ++m, tw += 6) {
            const float c1 = tw[0], s1 = tw[1], c2 = tw[2], s2 = tw[3], c3 = tw[4], s3 = tw[5];
            for (int j = m; j < n; j += block) {
                float* r = re + j * Width;
                float* i = im + j * Width;
                const V x0r = load<V>(r), x0i = load<V>(i);
                const V x1r = load<V>(r + span), x1i = load<V>(i + span);
                const V x2r = load<V>(r + 2 * span), x2i = load<V>(i + 2 * span);
                const V x3r = load<V>(r + 3 * span), x3i = load<V>(i + 3 * span);
                const V ar = x1r * c2 - x1i * s2, ai = x1r * s2 + x1i * c2;
                const V br = x2r * c1 - x2i * s1, bi = x2r * s1 + x2i * c1;
                const V cr = x3r * c3 - x3i * s3, ci = x3r * s3 + x3i * c3;
                butterfly4(r, i, span, x0r, x0i, ar, ai, br, bi, cr, ci);
            }
        }
    }
}

// Logical work buffers: an inverse transform keeps its real part in the
// imaginary buffer and the other way round (see transformLanes).
struct Work {
    float* re;
    float* im;
};

PLANEXOR_INLINE Work logicalWork(const Plan& plan, bool inverse) {
    return inverse ? Work{plan.workIm, plan.workRe} : Work{plan.workRe, plan.workIm};
}

// Transforms along the first index a, for `Width` neighbouring values of b
// at a time: each plane row contributes one contiguous vector.
template <int Width>
PLANEXOR_INLINE void columnPass(const Plan& plan, float* planeRe, float* planeIm, bool inverse, float scale) {
    using V = typename Lanes<Width>::Vec;
    const int n = plan.size;
    const Work w = logicalWork(plan, inverse);
    for (int b0 = 0; b0 < n; b0 += Width) {
        for (int a = 0; a < n; ++a) {
            const int to = plan.bitRev[a] * Width;
            store(w.re + to, load<V>(planeRe + a * Stride + b0));
            store(w.im + to, load<V>(planeIm + a * Stride + b0));
        }
        transformLanes<Width>(plan);
        for (int k = 0; k < n; ++k) {
            store(planeRe + k * Stride + b0, load<V>(w.re + k * Width) * scale);
            store(planeIm + k * Stride + b0, load<V>(w.im + k * Width) * scale);
        }
    }
}

// Transforms along the second index b of `Width` rows given by pointer;
// the rows are transposed into the work buffers in Width x Width tiles.
template <int Width>
PLANEXOR_INLINE void gatherRows(const Plan& plan, const float* const* sourceRe, const float* const* sourceIm, Work w) {
    using V = typename Lanes<Width>::Vec;
    V tile[Width];
    for (int b0 = 0; b0 < plan.size; b0 += Width) {
        #pragma GCC unroll 8
        for (int l = 0; l < Width; ++l) tile[l] = load<V>(sourceRe[l] + b0);
        transpose(tile);
        #pragma GCC unroll 8
        for (int j = 0; j < Width; ++j) store(w.re + plan.bitRev[b0 + j] * Width, tile[j]);
        #pragma GCC unroll 8
        for (int l = 0; l < Width; ++l) tile[l] = load<V>(sourceIm[l] + b0);
        transpose(tile);
        #pragma GCC unroll 8
        for (int j = 0; j < Width; ++j) store(w.im + plan.bitRev[b0 + j] * Width, tile[j]);
    }
}

template <int Width>
PLANEXOR_INLINE void scatterRows(const Plan& plan, Work w, float* const* targetRe, float* const* targetIm, float scale) {
    using V = typename Lanes<Width>::Vec;
    V tile[Width];
    for (int k0 = 0; k0 < plan.size; k0 += Width) {
        #pragma GCC unroll 8
        for (int j = 0; j < Width; ++j) tile[j] = load<V>(w.re + (k0 + j) * Width);
        transpose(tile);
        #pragma GCC unroll 8
        for (int l = 0; l < Width; ++l) store(targetRe[l] + k0, tile[l] * scale);
        #pragma GCC unroll 8
        for (int j = 0; j < Width; ++j) tile[j] = load<V>(w.im + (k0 + j) * Width);
        transpose(tile);
        #pragma GCC unroll 8
        for (int l = 0; l < Width; ++l) store(targetIm[l] + k0, tile[l] * scale);
    }
}

template <int Width>
PLANEXOR_INLINE void rowPass(const Plan& plan, float* planeRe, float* planeIm, bool inverse, float scale) {
    const Work w = logicalWork(plan, inverse);
    float* re[Width];
    float* im[Width];
    for (int a0 = 0; a0 < plan.size; a0 += Width) {
        for (int l = 0; l < Width; ++l) {
            re[l] = planeRe + (a0 + l) * Stride;
            im[l] = planeIm + (a0 + l) * Stride;
        }
        gatherRows<Width>(plan, re, im, w);
        transformLanes<Width>(plan);
        scatterRows<Width>(plan, w, re, im, scale);
    }
}

template <int Width>
PLANEXOR_INLINE void forwardComplex(const Plan& plan, float* planeRe, float* planeIm) {
    columnPass<Width>(plan, planeRe, planeIm, false, 1.0f);
    rowPass<Width>(plan, planeRe, planeIm, false, 1.0f);
}

template <int Width>
PLANEXOR_INLINE void inverseComplex(const Plan& plan, float* planeRe, float* planeIm) {
    const float scale = 1.0f / static_cast<float>(plan.size * plan.size);
    rowPass<Width>(plan, planeRe, planeIm, true, 1.0f);
    columnPass<Width>(plan, planeRe, planeIm, true, scale);
}

// Real input (imaginary plane zero). Two real columns make one complex
// transform, split afterwards by Z[k] +- conj Z[N-k]. The result of a real
// input is Hermitian, X[N-a][N-b] = conj X[a][b], so along b only rows
// 0..N/2 are transformed; rows 0 and N/2 are real after the first pass and
// share one lane. The other half is mirrored at the end.
template <int Width>
PLANEXOR_INLINE void forwardReal(const Plan& plan, float* planeRe, float* planeIm) {
    using V = typename Lanes<Width>::Vec;
    const int n = plan.size;
    const int half = n / 2;
    const int mask = n - 1;
    const Work w = logicalWork(plan, false);
    for (int b0 = 0; b0 < n; b0 += 2 * Width) {
        for (int a = 0; a < n; ++a) {
            const int to = plan.bitRev[a] * Width;
            store(w.re + to, load<V>(planeRe + a * Stride + b0));
            store(w.im + to, load<V>(planeRe + a * Stride + b0 + Width));
        }
        transformLanes<Width>(plan);
        for (int k = 0; k <= half; ++k) {
            const int mirror = (n - k) & mask;
            const V zr = load<V>(w.re + k * Width), zi = load<V>(w.im + k * Width);
            const V yr = load<V>(w.re + mirror * Width), yi = load<V>(w.im + mirror * Width);
            float* re = planeRe + k * Stride + b0;
            float* im = planeIm + k * Stride + b0;
            store(re, (zr + yr) * 0.5f);
            store(im, (zi - yi) * 0.5f);
            store(re + Width, (zi + yi) * 0.5f);
            store(im + Width, (yr - zr) * 0.5f);
        }
    }

    float* re[Width];
    float* im[Width];
    for (int a0 = 0; a0 < half; a0 += Width) {
        for (int l = 0; l < Width; ++l) {
            re[l] = planeRe + (a0 + l) * Stride;
            im[l] = planeIm + (a0 + l) * Stride;
        }
        if (a0 == 0) {
            const float* packedRe[Width];
            const float* packedIm[Width];
            std::copy(re, re + Width, packedRe);
            std::copy(im, im + Width, packedIm);
            packedIm[0] = planeRe + half * Stride;
            gatherRows<Width>(plan, packedRe, packedIm, w);
            transformLanes<Width>(plan);
            re[0] = plan.rowRe;
            im[0] = plan.rowIm;
        } else {
            gatherRows<Width>(plan, re, im, w);
            transformLanes<Width>(plan);
        }
        scatterRows<Width>(plan, w, re, im, 1.0f);
    }
    float* row0Re = planeRe;
    float* row0Im = planeIm;
    float* rowHalfRe = planeRe + half * Stride;
    float* rowHalfIm = planeIm + half * Stride;
    for (int k = 0; k < n; ++k) {
        const int mirror = (n - k) & mask;
        const float zr = plan.rowRe[k], zi = plan.rowIm[k];
        const float yr = plan.rowRe[mirror], yi = plan.rowIm[mirror];
        row0Re[k] = (zr + yr) * 0.5f;
        row0Im[k] = (zi - yi) * 0.5f;
        rowHalfRe[k] = (zi + yi) * 0.5f;
        rowHalfIm[k] = (yr - zr) * 0.5f;
    }

    for (int a = half + 1; a < n; ++a) {
        const float* sourceRe = planeRe + (n - a) * Stride;
        const float* sourceIm = planeIm + (n - a) * Stride;
        float* targetRe = planeRe + a * Stride;
        float* targetIm = planeIm + a * Stride;
        targetRe[0] = sourceRe[0];
        targetIm[0] = -sourceIm[0];
        int b = 1;
        for (; b + Width <= n; b += Width) {
            const int from = n - b - (Width - 1);
            store(targetRe + b, reversed(load<V>(sourceRe + from)));
            store(targetIm + b, -reversed(load<V>(sourceIm + from)));
        }
        for (; b < n; ++b) {
            targetRe[b] = sourceRe[n - b];
            targetIm[b] = -sourceIm[n - b];
        }
    }
}

// Hermitian input, the mirror image of forwardReal: along b only rows
// 0..N/2 (rows 0 and N/2 give real rows and share a lane), then along a
// two columns at once, whose transforms are both real.
template <int Width>
PLANEXOR_INLINE void inverseHermitian(const Plan& plan, float* planeRe, float* planeIm) {
    using V = typename Lanes<Width>::Vec;
    const int n = plan.size;
    const int half = n / 2;
    const Work w = logicalWork(plan, true);

    float* re[Width];
    float* im[Width];
    for (int a0 = 0; a0 < half; a0 += Width) {
        for (int l = 0; l < Width; ++l) {
            re[l] = planeRe + (a0 + l) * Stride;
            im[l] = planeIm + (a0 + l) * Stride;
        }
        if (a0 == 0) {
            const float* row0Re = planeRe;
            const float* row0Im = planeIm;
            const float* rowHalfRe = planeRe + half * Stride;
            const float* rowHalfIm = planeIm + half * Stride;
            for (int k = 0; k < n; ++k) {
                plan.rowRe[k] = row0Re[k] - rowHalfIm[k];
                plan.rowIm[k] = row0Im[k] + rowHalfRe[k];
            }
            const float* packedRe[Width];
            const float* packedIm[Width];
            std::copy(re, re + Width, packedRe);
            std::copy(im, im + Width, packedIm);
            packedRe[0] = plan.rowRe;
            packedIm[0] = plan.rowIm;
            gatherRows<Width>(plan, packedRe, packedIm, w);
            transformLanes<Width>(plan);
            im[0] = planeRe + half * Stride;
            scatterRows<Width>(plan, w, re, im, 1.0f);
            std::memset(planeIm, 0, sizeof(float) * n);
            std::memset(planeIm + half * Stride, 0, sizeof(float) * n);
        } else {
            gatherRows<Width>(plan, re, im, w);
            transformLanes<Width>(plan);
            scatterRows<Width>(plan, w, re, im, 1.0f);
        }
    }

    const float scale = 1.0f / static_cast<float>(n * n);
    for (int b0 = 0; b0 < n; b0 += 2 * Width) {
        for (int k = 0; k <= half; ++k) {
            const float* re = planeRe + k * Stride + b0;
            const float* im = planeIm + k * Stride + b0;
            const V c1r = load<V>(re), c1i = load<V>(im);
            const V c2r = load<V>(re + Width), c2i = load<V>(im + Width);
            const int to = plan.bitRev[k] * Width;
            store(w.re + to, c1r - c2i);
            store(w.im + to, c1i + c2r);
            if (k > 0 && k < half) {
                const int mirror = plan.bitRev[n - k] * Width;
                store(w.re + mirror, c1r + c2i);
                store(w.im + mirror, c2r - c1i);
            }
        }
        transformLanes<Width>(plan);
        const V zero{};
        for (int a = 0; a < n; ++a) {
            float* re = planeRe + a * Stride + b0;
            float* im = planeIm + a * Stride + b0;
            store(re, load<V>(w.re + a * Width) * scale);
            store(re + Width, load<V>(w.im + a * Width) * scale);
            store(im, zero);
            store(im + Width, zero);
        }
    }
}

template <int Width>
PLANEXOR_INLINE bool imaginaryIsZero(const float* planeIm, int n) {
    using V = typename Lanes<Width>::Vec;
    for (int a = 0; a < n; ++a) {
        const float* row = planeIm + a * Stride;
        auto nonZero = V{} != V{};
        for (int b = 0; b < n; b += Width) nonZero |= load<V>(row + b) != V{};
        for (int l = 0; l < Width; ++l)
            if (nonZero[l]) return false;
    }
    return true;
}

// True when X[N-a][N-b] == conj X[a][b] holds exactly for every cell.
template <int Width>
PLANEXOR_INLINE bool isHermitian(const float* planeRe, const float* planeIm, int n) {
    using V = typename Lanes<Width>::Vec;
    for (int a = 0; a <= n / 2; ++a) {
        const int m = (n - a) & (n - 1);
        const float* re = planeRe + a * Stride;
        const float* im = planeIm + a * Stride;
        const float* mirrorRe = planeRe + m * Stride;
        const float* mirrorIm = planeIm + m * Stride;
        bool same = re[0] == mirrorRe[0] && im[0] == -mirrorIm[0];
        auto differ = V{} != V{};
        int b = 1;
        for (; b + Width <= n; b += Width) {
            const int from = n - b - (Width - 1);
            differ |= load<V>(re + b) != reversed(load<V>(mirrorRe + from));
            differ |= load<V>(im + b) != -reversed(load<V>(mirrorIm + from));
        }
        for (; b < n; ++b) same &= (re[b] == mirrorRe[n - b]) & (im[b] == -mirrorIm[n - b]);
        for (int l = 0; l < Width; ++l) same &= !differ[l];
        if (!same) return false;
    }
    return true;
}

// Magnitudes folded onto one quadrant: cell [u][v] (u, v in 0..N/2) holds
// the sum of |X| over the up to four cells with signed frequencies (+-u, +-v),
// which all fall in the same ring. Returns the largest single magnitude.
template <int Width>
PLANEXOR_INLINE float foldMagnitudes(const float* planeRe, const float* planeIm, int n, float* folded) {
    using V = typename Lanes<Width>::Vec;
    const int half = n / 2;
    const int foldedStride = half + 1;
    alignas(64) float row[MaxSize];
    V largest = V{} - 1e11f;
    for (int a = 0; a <= half; ++a) {
        const int mirror = (n - a) & (n - 1);
        const float* re = planeRe + a * Stride;
        const float* im = planeIm + a * Stride;
        for (int b = 0; b < n; b += Width) {
            const V r = load<V>(re + b), i = load<V>(im + b);
            const V m = squareRoot(r * r + i * i);
            largest = largest > m ? largest : m;
            store(row + b, m);
        }
        if (mirror != a) {
            const float* mirrorRe = planeRe + mirror * Stride;
            const float* mirrorIm = planeIm + mirror * Stride;
            for (int b = 0; b < n; b += Width) {
                const V r = load<V>(mirrorRe + b), i = load<V>(mirrorIm + b);
                const V m = squareRoot(r * r + i * i);
                largest = largest > m ? largest : m;
                store(row + b, load<V>(row + b) + m);
            }
        }
        float* out = folded + a * foldedStride;
        out[0] = row[0];
        out[half] = row[half];
        int v = 1;
        for (; v + Width <= half; v += Width) store(out + v, load<V>(row + v) + reversed(load<V>(row + n - v - (Width - 1))));
        for (; v < half; ++v) out[v] = row[v] + row[n - v];
    }
    float result = largest[0];
    for (int l = 1; l < Width; ++l) result = std::max(result, largest[l]);
    return result;
}

struct Kernels {
    void (*forwardComplex)(const Plan&, float*, float*);
    void (*forwardReal)(const Plan&, float*, float*);
    void (*inverseComplex)(const Plan&, float*, float*);
    void (*inverseHermitian)(const Plan&, float*, float*);
    bool (*isReal)(const float*, int);
    bool (*isHermitian)(const float*, const float*, int);
    float (*foldMagnitudes)(const float*, const float*, int, float*);
};

void forwardComplexPortable(const Plan& p, float* re, float* im) { forwardComplex<4>(p, re, im); }
void forwardRealPortable(const Plan& p, float* re, float* im) { forwardReal<4>(p, re, im); }
void inverseComplexPortable(const Plan& p, float* re, float* im) { inverseComplex<4>(p, re, im); }
void inverseHermitianPortable(const Plan& p, float* re, float* im) { inverseHermitian<4>(p, re, im); }
bool isRealPortable(const float* im, int n) { return imaginaryIsZero<4>(im, n); }
bool isHermitianPortable(const float* re, const float* im, int n) { return isHermitian<4>(re, im, n); }
float foldMagnitudesPortable(const float* re, const float* im, int n, float* folded) {
    return foldMagnitudes<4>(re, im, n, folded);
}
const Kernels PortableKernels{forwardComplexPortable, forwardRealPortable, inverseComplexPortable,
                              inverseHermitianPortable, isRealPortable, isHermitianPortable,
                              foldMagnitudesPortable};

#ifdef PLANEXOR_HAS_WIDE
// The same templates compiled for AVX2 and FMA, chosen at run time.
PLANEXOR_WIDE_FMA void forwardComplexWide(const Plan& p, float* re, float* im) { forwardComplex<8>(p, re, im); }
PLANEXOR_WIDE_FMA void forwardRealWide(const Plan& p, float* re, float* im) { forwardReal<8>(p, re, im); }
PLANEXOR_WIDE_FMA void inverseComplexWide(const Plan& p, float* re, float* im) { inverseComplex<8>(p, re, im); }
PLANEXOR_WIDE_FMA void inverseHermitianWide(const Plan& p, float* re, float* im) { inverseHermitian<8>(p, re, im); }
PLANEXOR_WIDE_FMA bool isRealWide(const float* im, int n) { return imaginaryIsZero<8>(im, n); }
PLANEXOR_WIDE_FMA bool isHermitianWide(const float* re, const float* im, int n) { return isHermitian<8>(re, im, n); }
PLANEXOR_WIDE_FMA float foldMagnitudesWide(const float* re, const float* im, int n, float* folded) {
    return foldMagnitudes<8>(re, im, n, folded);
}
const Kernels WideKernels{forwardComplexWide,   forwardRealWide, inverseComplexWide,     inverseHermitianWide,
                          isRealWide, isHermitianWide, foldMagnitudesWide};
#endif

}  // namespace

struct FftEngine::Tables {
    std::vector<float> twiddleValues;
    const float* twiddles[TwiddleLevels] = {};
    std::vector<std::uint8_t> ringBin;  // per cell of the folded quadrant, NoBin outside the rings
    std::vector<float> folded;
    std::array<std::int32_t, ProfileBins> ringCount{};
    std::vector<float> work;
    Plan plan{};
    const Kernels* kernels = &PortableKernels;
};

FftEngine::FftEngine() : tables_(std::make_unique<Tables>()) {
    Tables& t = *tables_;
    // Per quarter span h: w^m, w^2m, w^3m with w = e^(2 pi i / 4h), each
    // taken straight from sin and cos in double precision.
    std::size_t offsets[TwiddleLevels];
    std::size_t total = 0;
    for (int level = 0; level < TwiddleLevels; ++level) {
        offsets[level] = total;
        total += 6u << level;
    }
    t.twiddleValues.resize(total);
    for (int level = 0; level < TwiddleLevels; ++level) {
        const int quarter = 1 << level;
        float* tw = t.twiddleValues.data() + offsets[level];
        for (int m = 0; m < quarter; ++m) {
            for (int j = 1; j <= 3; ++j) {
                const double angle = 2.0 * std::numbers::pi * (j * m) / (4.0 * quarter);
                tw[6 * m + 2 * (j - 1)] = static_cast<float>(std::cos(angle));
                tw[6 * m + 2 * (j - 1) + 1] = static_cast<float>(std::sin(angle));
            }
        }
    }
    for (int level = 0; level < TwiddleLevels; ++level) t.twiddles[level] = t.twiddleValues.data() + offsets[level];

    // Two work buffers of MaxSize x MaxLanes floats and one spare row pair,
    // on 64-byte boundaries.
    const std::size_t workFloats = static_cast<std::size_t>(MaxSize) * MaxLanes;
    t.work.resize(2 * workFloats + 2 * MaxSize + 16);
    float* base = t.work.data();
    while (reinterpret_cast<std::uintptr_t>(base) % 64 != 0) ++base;
    t.plan.workRe = base;
    t.plan.workIm = base + workFloats;
    t.plan.rowRe = base + 2 * workFloats;
    t.plan.rowIm = base + 2 * workFloats + MaxSize;
    t.plan.twiddles = t.twiddles;
    t.plan.bitRev = BitRev.data();
    const std::size_t quadrant = static_cast<std::size_t>(MaxSize / 2 + 1) * (MaxSize / 2 + 1);
    t.ringBin.resize(quadrant);
    t.folded.resize(quadrant);

    useVectorCode(VectorCode::Best);
    SetupFFT(128);
}

FftEngine::~FftEngine() = default;

void FftEngine::useVectorCode(VectorCode code) {
    tables_->kernels = &PortableKernels;
#ifdef PLANEXOR_HAS_WIDE
    if (useWideVectors(code)) tables_->kernels = &WideKernels;
#endif
}

bool FftEngine::usesWideKernels() const { return tables_->kernels != &PortableKernels; }

void FftEngine::SetupFFT(int size) {
    int bits;
    switch (size) {
        case 64: bits = 6; break;
        case 128: bits = 7; break;
        case 256: bits = 8; break;
        case 512: bits = 9; break;
        default: throw std::invalid_argument("FFT size must be 64, 128, 256 or 512");
    }
    FFTSize = size;
    FFTBits = static_cast<std::int16_t>(bits);
    FFTHalf = size / 2;
    for (int i = 0; i < size; ++i) {
        int value = i;
        int reversed = 0;
        for (int bit = 0; bit < bits; ++bit) {
            reversed = (reversed << 1) | (value & 1);
            value >>= 1;
        }
        BitRev[i] = static_cast<std::uint16_t>(reversed);
    }
    FFTSign = 1;
    ZeroPlane.clear(size);

    Tables& t = *tables_;
    t.plan.size = size;
    t.plan.bits = bits;
    t.ringCount.fill(0);
    for (int u = 0; u <= FFTHalf; ++u)
        for (int v = 0; v <= FFTHalf; ++v) {
            const int bin = nearest(std::sqrt(static_cast<double>(u * u + v * v))) - 1;
            const bool counted = bin >= 0 && bin < ProfileBins - 1;
            t.ringBin[u * (FFTHalf + 1) + v] = counted ? static_cast<std::uint8_t>(bin) : NoBin;
            // +-u and +-v are distinct cells except on the axes and at N/2.
            const int cells = (u == 0 || u == FFTHalf ? 1 : 2) * (v == 0 || v == FFTHalf ? 1 : 2);
            if (counted) t.ringCount[bin] += cells;
        }
    BuildSpectrumCurve(0.45, 4.5);
}

void FftEngine::ForwardFFT2D() {
    const Tables& t = *tables_;
    FFTSign = 1;
    if (t.kernels->isReal(SpecIm.data(), FFTSize))
        t.kernels->forwardReal(t.plan, SpecRe.data(), SpecIm.data());
    else
        t.kernels->forwardComplex(t.plan, SpecRe.data(), SpecIm.data());
}

void FftEngine::InverseFFT2D() {
    const Tables& t = *tables_;
    FFTScale = 1.0f / static_cast<float>(FFTSize);
    FFTSign = -1;
    if (t.kernels->isHermitian(SpecRe.data(), SpecIm.data(), FFTSize))
        t.kernels->inverseHermitian(t.plan, SpecRe.data(), SpecIm.data());
    else
        t.kernels->inverseComplex(t.plan, SpecRe.data(), SpecIm.data());
    FFTSign = 1;
}

void FftEngine::ComputeRadialProfile() {
    Tables& t = *tables_;
    const float largest = t.kernels->foldMagnitudes(SpecRe.data(), SpecIm.data(), FFTSize, t.folded.data());
    // Interleaved sums, so that neighbouring cells of one ring do not wait on
    // each other; slot NoBin swallows the cells outside the rings.
    constexpr int Interleave = 4;
    double sums[Interleave][ProfileBins] = {};
    const int cells = (FFTHalf + 1) * (FFTHalf + 1);
    int cell = 0;
    for (; cell + Interleave <= cells; cell += Interleave)
        for (int j = 0; j < Interleave; ++j) sums[j][t.ringBin[cell + j]] += t.folded[cell + j];
    for (; cell < cells; ++cell) sums[0][t.ringBin[cell]] += t.folded[cell];

    const double normaliser = static_cast<double>(largest) + 1e-5;
    RadialProfileMax = 0.0f;
    for (int bin = 0; bin < ProfileBins; ++bin) {
        const int count = t.ringCount[bin];
        float value = 0.0f;
        if (count > 0) {
            double sum = 0.0;
            for (int j = 0; j < Interleave; ++j) sum += sums[j][bin];
            value = static_cast<float>(sum / normaliser / count);
        }
        RadialProfile[bin] = value;
        RadialProfileMax = std::max(RadialProfileMax, value);
    }
}

void FftEngine::ClearRadialProfile() { RadialProfile.fill(0.0f); }

Bitmap24 FftEngine::MakeSpectrumImage(const TSpectrumPlane& a, const TSpectrumPlane* b, float threshold) const {
    const int n = FFTSize;
    const int half = FFTHalf;
    std::vector<float> magnitude(static_cast<std::size_t>(n) * n);
    float largest = -1e11f;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            const float re = a[i][j];
            const float im = b ? (*b)[i][j] : 0.0f;
            const float m = std::sqrt(im * im + re * re);
            magnitude[static_cast<std::size_t>(i) * n + j] = m;
            largest = std::max(largest, m);
        }
    }
    const double scale = 1.0 / (1e-5 + largest);
    Bitmap24 picture(n, n);
    for (int x = 0; x < n; ++x) {
        const int i = (x + half) % n;
        for (int y = 0; y < n; ++y) {
            const int j = (y + half) % n;
            double v = magnitude[static_cast<std::size_t>(i) * n + j] * scale;
            if (!(v >= 0.0)) v = 0.0;  // a NaN in the planes must not index out of the curve
            v = std::min(v, 1.0);
            const int k = nearest(v * 1000.0);
            const int g = std::clamp(nearest(SpectrumCurve[k] * 255.0), 0, 255);
            std::uint8_t* pixel = picture.pixel(x, y);
            if (v < threshold) {
                const RgbBytes colour = WavelengthToRGB(400.0 + g);
                pixel[0] = colour.blue;
                pixel[1] = colour.green;
                pixel[2] = colour.red;
            } else {
                pixel[0] = static_cast<std::uint8_t>(g);
                pixel[1] = 0;
                pixel[2] = 0;
            }
        }
    }
    return picture;
}

void FftEngine::BuildSpectrumCurve(double gamma, double toeSlope) {
    if (gamma == 1.0) gamma = 0.999999;
    const double toeEnd = std::pow(toeSlope, 1.0 / (gamma - 1.0));
    for (int i = 0; i < CurvePoints; ++i) {
        const double x = i * 0.001;
        SpectrumCurve[i] = x < toeEnd ? toeSlope * x : std::pow(x + 0.000001, gamma);
    }
}

RgbBytes FftEngine::WavelengthToRGB(double wavelength) {
    double red = 0, green = 0, blue = 0;
    const double w = std::trunc(wavelength);
    if (w >= 380 && w <= 439) {
        red = -(wavelength - 440) / 60;
        blue = 1;
    } else if (w >= 440 && w <= 489) {
        green = (wavelength - 440) / 50;
        blue = 1;
    } else if (w >= 490 && w <= 509) {
        green = 1;
        blue = -(wavelength - 510) / 20;
    } else if (w >= 510 && w <= 579) {
        red = (wavelength - 510) / 70;
        green = 1;
    } else if (w >= 580 && w <= 644) {
        red = 1;
        green = -(wavelength - 645) / 65;
    } else if (w >= 645 && w <= 780) {
        red = 1;
    }
    auto toByte = [](double c) { return static_cast<std::uint8_t>(c > 0 ? nearest(255 * std::pow(c, 0.8)) : 0); };
    return {toByte(red), toByte(green), toByte(blue)};
}

}  // namespace planexor
