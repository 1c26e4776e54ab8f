#pragma once
// A flat field divided by its mean, element by element.
#include "core/vector_lanes.h"

namespace planexor {

inline constexpr float SmallestFlatElement = 0.00001f;  // what an element of 0 becomes: frames are divided by it

// to[i] = from[i] / mean rounded to float, 0 made the smallest divisor, as
// dividing each would give (from may be to), on either vector code.
void normaliseFlatColumn(const float* from, float* to, int count, double mean, VectorCode code = VectorCode::Best);

#ifdef PLANEXOR_HAS_WIDE
// The reciprocal of a mean as two floats: high, and low what high misses.
// value x high + value x low, rounded once, is almost always the float of
// value / mean; value x high alone misses it for many values.
struct SplitReciprocal {
    float high = 0.0f, low = 0.0f;
    explicit SplitReciprocal(double mean)
        : high(static_cast<float>(1.0 / mean)), low(static_cast<float>(1.0 / mean - high)) {}
};

// Eight values divided by way of the split reciprocal; a flat's elements
// wherever splitProductsAreQuotients holds, once any 0 is made the smallest
// divisor.
PLANEXOR_WIDE_FMA PLANEXOR_INLINE __m256 splitProducts(__m256 values, __m256 high, __m256 low) {
    return _mm256_fmadd_ps(values, high, _mm256_mul_ps(values, low));
}
PLANEXOR_WIDE PLANEXOR_INLINE __m256 smallestForZeros(__m256 elements) {
    const __m256 zero = _mm256_cmp_ps(elements, _mm256_setzero_ps(), _CMP_EQ_OQ);
    return _mm256_blendv_ps(elements, _mm256_set1_ps(SmallestFlatElement), zero);
}

// Whether splitProducts, zeros made the smallest divisor, give what
// normaliseFlatColumn does for every stored value lowest..highest, scaled
// by value x scale + offset as the decoding does. Wide units only.
bool splitProductsAreQuotients(int lowest, int highest, float scale, float offset, double mean);
#endif

}  // namespace planexor
