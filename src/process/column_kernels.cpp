#include "process/column_kernels.h"

#ifdef PLANEXOR_HAS_WIDE
#include <immintrin.h>
#endif

namespace planexor {

#ifdef PLANEXOR_HAS_WIDE
namespace columns {

namespace {
PLANEXOR_WIDE inline void addWeighted(float* out, const float* layer, __m256d gain) {
    const __m256d sum =
        _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(out)), _mm256_mul_pd(gain, _mm256_cvtps_pd(_mm_loadu_ps(layer))));
    _mm_storeu_ps(out, _mm256_cvtpd_ps(sum));
}
}  // namespace

PLANEXOR_WIDE void recombineWide(const float* residual, const ActiveLayers& layers, float* out,
                                       std::size_t begin, std::size_t end) {
    std::memcpy(out + begin, residual + begin, sizeof(float) * (end - begin));
    for (int k = 0; k < layers.count; ++k) {
        const __m256d gain = _mm256_set1_pd(layers.gain[k]);
        const float* layer = layers.column[k];
        std::size_t i = begin;
        for (; i + 8 <= end; i += 8) {
            addWeighted(out + i, layer + i, gain);
            addWeighted(out + i + 4, layer + i + 4, gain);
        }
        if (i < end) addWeighted(out + i, layer + i, gain);
    }
}

PLANEXOR_WIDE void tableIndexesWide(const float* values, int count, double minimum, double scale,
                                          std::int32_t* indexes) {
    const __m256d low = _mm256_set1_pd(minimum);
    const __m256d factor = _mm256_set1_pd(scale);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d top = _mm256_set1_pd(1000.0);
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        __m256d x = _mm256_mul_pd(_mm256_sub_pd(_mm256_cvtps_pd(_mm_loadu_ps(values + i)), low), factor);
        x = _mm256_max_pd(x, zero);  // the second operand wins for a NaN
        x = _mm256_min_pd(x, top);
        x = _mm256_round_pd(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(indexes + i), _mm256_cvttpd_epi32(x));
    }
    for (; i < count; ++i) indexes[i] = tableIndex(values[i], minimum, scale);
}

}  // namespace columns
#endif

}  // namespace planexor
