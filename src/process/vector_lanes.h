#pragma once
#include <cstring>

// The pixel loops run on GCC vector extensions: four doubles per step, which
// the compiler lowers to two SSE2 halves or one AVX register. Vectors never
// cross a non-inlined call, so the ABI note about wider vectors does not
// concern us.
#pragma GCC diagnostic ignored "-Wpsabi"

#define PLANEXOR_INLINE inline __attribute__((always_inline))

#if defined(__x86_64__) || defined(__i386__)
// Loops compiled a second time for AVX2 and chosen at run time. No FMA: fused
// steps would round differently from the portable build and from the edge paths.
#define PLANEXOR_LANES_WIDE __attribute__((target("avx2")))
#endif

namespace planexor::lanes {

typedef float F4 __attribute__((vector_size(16)));
typedef double D4 __attribute__((vector_size(32)));
typedef int I4 __attribute__((vector_size(16)));

PLANEXOR_INLINE D4 load4(const float* p) {
    F4 v;
    std::memcpy(&v, p, sizeof v);
    return __builtin_convertvector(v, D4);
}

PLANEXOR_INLINE void store4(float* p, const D4& v) {
    const F4 narrow = __builtin_convertvector(v, F4);
    std::memcpy(p, &narrow, sizeof narrow);
}

// True when the AVX2 builds may run on this processor and are allowed.
bool wideUnitsAvailable();
// Tests switch the AVX2 builds off to compare them with the portable ones.
void allowWideUnits(bool allowed);

}  // namespace planexor::lanes
