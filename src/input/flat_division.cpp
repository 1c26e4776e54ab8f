#include "input/flat_division.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace planexor {
namespace {

using lanes::D2;
using lanes::D4;
using lanes::F2;
using lanes::F4;


float divided(float value, double mean) {
    const float element = static_cast<float>(value / mean);
    return element == 0 ? SmallestFlatElement : element;
}

// A division per element costs more than the rest of a load together. A
// product by the reciprocal lies within two units of the double's last
// place of the quotient, so it rounds to the quotient's float unless a
// halfway point between two floats is that close: then the 29 bits a float
// drops from a double lie within a few units of their middle. Those
// elements, and quotients so small that floats thin out, must be divided.
typedef long long Bits2 __attribute__((vector_size(16)));
typedef long long Bits4 __attribute__((vector_size(32)));

// Whether any lane of a comparison's mask is set, in one test.
PLANEXOR_INLINE bool anyOf(Bits2 mask) {
#if defined(__SSE2__)
    return _mm_movemask_pd(__m128d(mask)) != 0;
#else
    return (mask[0] | mask[1]) != 0;
#endif
}
PLANEXOR_INLINE bool anyOf(Bits4 mask) {
    return anyOf(Bits2(__builtin_shufflevector(mask, mask, 0, 1) | __builtin_shufflevector(mask, mask, 2, 3)));
}

// The products of F's floats (as many as D has doubles, Bits 64-bit
// integers) with times, the reciprocal in every lane, rounded to floats, and
// which of them are in doubt. Results through references: a vector wider
// than 16 bytes returned from a call left out of line would pass
// differently in the wide build.
template <typename D, typename F, typename Bits>
PLANEXOR_INLINE void byProducts(F values, D times, F& element, Bits& doubt) {
    constexpr long long Dropped = (1LL << 29) - 1, Middle = 1LL << 28, Near = 8;
    const D tiny = D{} + 0x1p-124;  // a scalar added to a vector of zeros is spread over its lanes
    const D product = __builtin_convertvector(values, D) * times;
    element = __builtin_convertvector(product, F);
    Bits bits;
    std::memcpy(&bits, &product, sizeof bits);
    doubt = Bits((((bits + (Near - Middle)) & Dropped) <= 2 * Near) | (product < tiny));
}

// Elements that are exactly 0 made the smallest divisor.
template <typename F>
PLANEXOR_INLINE F noZeros(F element) {
    return element == F{} ? F{} + SmallestFlatElement : element;
}

// Two vectors a step, with one test for both: doubt is rare. D and F are
// vectors of as many doubles and floats, Bits of as many 64-bit integers;
// returns how many were done.
template <typename D, typename F, typename Bits>
PLANEXOR_INLINE int normaliseByProducts(const float* from, float* to, int count, double mean, double reciprocal) {
    constexpr int Lanes = sizeof(F) / sizeof(float);
    const D times = D{} + reciprocal;
    int i = 0;
    for (; i + 2 * Lanes <= count; i += 2 * Lanes) {
        F first, second;
        Bits firstDoubt, secondDoubt;
        byProducts(lanes::load<F>(from + i), times, first, firstDoubt);
        byProducts(lanes::load<F>(from + i + Lanes), times, second, secondDoubt);
        if (anyOf(firstDoubt | secondDoubt)) {
            for (int k = i; k < i + 2 * Lanes; ++k) to[k] = divided(from[k], mean);
        } else {
            lanes::store(to + i, noZeros(first));
            lanes::store(to + i + Lanes, noZeros(second));
        }
    }
    return i;
}

#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE int normaliseByProductsWide(const float* from, float* to, int count, double mean, double reciprocal) {
    return normaliseByProducts<D4, F4, Bits4>(from, to, count, mean, reciprocal);
}
#endif

}  // namespace

void normaliseFlatColumn(const float* from, float* to, int count, double mean, VectorCode code) {
    const double reciprocal = 1.0 / mean;
    int i = 0;
    if (std::isfinite(reciprocal)) {
#ifdef PLANEXOR_HAS_WIDE
        if (useWideVectors(code))
            i = normaliseByProductsWide(from, to, count, mean, reciprocal);
        else
#endif
            i = normaliseByProducts<D2, F2, Bits2>(from, to, count, mean, reciprocal);
    }
    for (; i < count; ++i) to[i] = divided(from[i], mean);
}

#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE_FMA bool splitProductsAreQuotients(int lowest, int highest, float scale, float offset, double mean) {
    if (!std::isfinite(1.0 / mean)) return false;
    const SplitReciprocal reciprocal(mean);
    const __m256 high = _mm256_set1_ps(reciprocal.high), low = _mm256_set1_ps(reciprocal.low);
    const __m256 s = _mm256_set1_ps(scale), o = _mm256_set1_ps(offset);
    const __m256d divisor = _mm256_set1_pd(mean);
    const __m256i steps = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    __m256 same = _mm256_castsi256_ps(_mm256_set1_epi32(-1));
    // Eight values a step, made here rather than stored: the last step
    // repeats the highest value where the range runs out.
    for (int first = lowest; first <= highest; first += 8) {
        const __m256i stored = _mm256_min_epi32(_mm256_add_epi32(_mm256_set1_epi32(first), steps),
                                                _mm256_set1_epi32(highest));
        const __m256 v = _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(stored), s), o);
        const __m128 firstHalf = _mm256_cvtpd_ps(_mm256_div_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(v)), divisor));
        const __m128 secondHalf = _mm256_cvtpd_ps(_mm256_div_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(v, 1)), divisor));
        const __m256 quotients = smallestForZeros(_mm256_set_m128(secondHalf, firstHalf));
        same = _mm256_and_ps(same,
                             _mm256_cmp_ps(smallestForZeros(splitProducts(v, high, low)), quotients, _CMP_EQ_OQ));
    }
    return _mm256_movemask_ps(same) == 0xff;
}
#endif

}  // namespace planexor
