#pragma once
// The one place that decides how loops use vector units: the lane types of
// GCC's vector extensions, the always-inline marker, the attributes that
// compile a loop a second time for wide units, and the run-time choice
// between the two builds.
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE__)
#include <immintrin.h>
#endif

// Vectors never cross a non-inlined call between code built for different
// units, so the ABI note about wider vectors does not concern us.
#pragma GCC diagnostic ignored "-Wpsabi"

#define PLANEXOR_INLINE inline __attribute__((always_inline))

// clang checks the wide lanes' ABI before inlining, where GCC checks after;
// clang builds (the fuzzing ones) take the portable loops only.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(__clang__)
#define PLANEXOR_HAS_WIDE 1
// AVX2 without FMA, for the pixel loops: fused steps would round differently
// from the portable build and from the edge paths, and those must agree.
#define PLANEXOR_WIDE __attribute__((target("avx2")))
// AVX2 with FMA, for the transform, which only needs to agree within rounding.
#define PLANEXOR_WIDE_FMA __attribute__((target("avx2,fma")))
#endif

namespace planexor {

namespace lanes {

typedef float F4 __attribute__((vector_size(16)));
typedef float F8 __attribute__((vector_size(32)));
typedef double D4 __attribute__((vector_size(32)));
typedef float F2 __attribute__((vector_size(8)));
typedef double D2 __attribute__((vector_size(16)));
typedef int I4 __attribute__((vector_size(16)));
typedef unsigned short U16x8 __attribute__((vector_size(16)));
typedef short S16x8 __attribute__((vector_size(16)));

template <class V>
PLANEXOR_INLINE V load(const float* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

template <class V>
PLANEXOR_INLINE void store(float* p, const V& v) {
    std::memcpy(p, &v, sizeof v);
}

// Four floats widened to doubles, and back.
PLANEXOR_INLINE D4 load4(const float* p) { return __builtin_convertvector(load<F4>(p), D4); }

PLANEXOR_INLINE void store4(float* p, const D4& v) { store(p, __builtin_convertvector(v, F4)); }

// Two floats widened to doubles: what the plain build does in one register,
// where four take two and spill.
PLANEXOR_INLINE D2 load2(const float* p) { return __builtin_convertvector(load<F2>(p), D2); }

// IEEE square roots lane by lane: the same values as std::sqrt.
PLANEXOR_INLINE F4 squareRoot(const F4& v) {
#if defined(__SSE__)
    return _mm_sqrt_ps(v);
#else
    return F4{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}

// Byte shuffles that gather one channel of interleaved pixels (blue, green,
// red bytes) read as 16-byte thirds of 48: for each channel and third, the
// place of pixel i's byte in that third, or -1 where it lies in another.
// Fewer pixels use the first thirds and the first lanes alike.
struct ChannelShuffles {
    std::int8_t masks[3][3][16];
    constexpr ChannelShuffles() : masks{} {
        for (int channel = 0; channel < 3; ++channel)
            for (int third = 0; third < 3; ++third)
                for (int i = 0; i < 16; ++i) {
                    const int at = 3 * i + channel - 16 * third;
                    masks[channel][third][i] = static_cast<std::int8_t>(at >= 0 && at < 16 ? at : -1);
                }
    }
};
inline constexpr ChannelShuffles RgbShuffles;

#ifdef PLANEXOR_HAS_WIDE
// Eight rows of eight floats turned into eight columns: v[k][j] becomes v[j][k].
PLANEXOR_WIDE PLANEXOR_INLINE void transpose8(__m256 (&v)[8]) {
    const __m256 t0 = _mm256_unpacklo_ps(v[0], v[1]), t1 = _mm256_unpackhi_ps(v[0], v[1]);
    const __m256 t2 = _mm256_unpacklo_ps(v[2], v[3]), t3 = _mm256_unpackhi_ps(v[2], v[3]);
    const __m256 t4 = _mm256_unpacklo_ps(v[4], v[5]), t5 = _mm256_unpackhi_ps(v[4], v[5]);
    const __m256 t6 = _mm256_unpacklo_ps(v[6], v[7]), t7 = _mm256_unpackhi_ps(v[6], v[7]);
    const __m256 u0 = _mm256_shuffle_ps(t0, t2, 0x44), u1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 u2 = _mm256_shuffle_ps(t1, t3, 0x44), u3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const __m256 u4 = _mm256_shuffle_ps(t4, t6, 0x44), u5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const __m256 u6 = _mm256_shuffle_ps(t5, t7, 0x44), u7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    v[0] = _mm256_permute2f128_ps(u0, u4, 0x20);
    v[1] = _mm256_permute2f128_ps(u1, u5, 0x20);
    v[2] = _mm256_permute2f128_ps(u2, u6, 0x20);
    v[3] = _mm256_permute2f128_ps(u3, u7, 0x20);
    v[4] = _mm256_permute2f128_ps(u0, u4, 0x31);
    v[5] = _mm256_permute2f128_ps(u1, u5, 0x31);
    v[6] = _mm256_permute2f128_ps(u2, u6, 0x31);
    v[7] = _mm256_permute2f128_ps(u3, u7, 0x31);
}

// The same for 16-bit values, in each 128-bit half on its own: eight rows of
// sixteen become sixteen columns of eight, v[j] holding column j in its low
// half and column j + 8 in its high half.
PLANEXOR_WIDE PLANEXOR_INLINE void transpose8Shorts(__m256i (&v)[8]) {
    const __m256i t0 = _mm256_unpacklo_epi16(v[0], v[1]), t1 = _mm256_unpackhi_epi16(v[0], v[1]);
    const __m256i t2 = _mm256_unpacklo_epi16(v[2], v[3]), t3 = _mm256_unpackhi_epi16(v[2], v[3]);
    const __m256i t4 = _mm256_unpacklo_epi16(v[4], v[5]), t5 = _mm256_unpackhi_epi16(v[4], v[5]);
    const __m256i t6 = _mm256_unpacklo_epi16(v[6], v[7]), t7 = _mm256_unpackhi_epi16(v[6], v[7]);
    const __m256i u0 = _mm256_unpacklo_epi32(t0, t2), u1 = _mm256_unpackhi_epi32(t0, t2);
    const __m256i u2 = _mm256_unpacklo_epi32(t1, t3), u3 = _mm256_unpackhi_epi32(t1, t3);
    const __m256i u4 = _mm256_unpacklo_epi32(t4, t6), u5 = _mm256_unpackhi_epi32(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi32(t5, t7), u7 = _mm256_unpackhi_epi32(t5, t7);
    v[0] = _mm256_unpacklo_epi64(u0, u4);
    v[1] = _mm256_unpackhi_epi64(u0, u4);
    v[2] = _mm256_unpacklo_epi64(u1, u5);
    v[3] = _mm256_unpackhi_epi64(u1, u5);
    v[4] = _mm256_unpacklo_epi64(u2, u6);
    v[5] = _mm256_unpackhi_epi64(u2, u6);
    v[6] = _mm256_unpacklo_epi64(u3, u7);
    v[7] = _mm256_unpackhi_epi64(u3, u7);
}
#endif

}  // namespace lanes

// Which build of a loop a caller wants: the best this processor runs, or the
// portable one (to compare the two).
enum class VectorCode { Best, Portable };

// True when the processor runs both wide builds (AVX2 and FMA); asked once.
bool wideVectorsAvailable();

inline bool useWideVectors(VectorCode code) { return code == VectorCode::Best && wideVectorsAvailable(); }

}  // namespace planexor
