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

// Whether any of count values (a whole number of F) is in doubt; a 0 is
// its own product and quotient.
template <typename D, typename F, typename Bits>
PLANEXOR_INLINE bool anyInDoubt(const float* values, int count, double reciprocal) {
    constexpr int Lanes = sizeof(F) / sizeof(float);
    const D times = D{} + reciprocal;
    Bits doubts = {};
    for (int i = 0; i < count; i += Lanes) {
        const F value = lanes::load<F>(values + i);
        F quotients;
        Bits doubt;
        byProducts(value, times, quotients, doubt);
        doubts |= doubt & Bits(__builtin_convertvector(value, D) != D{});
    }
    return anyOf(doubts);
}

#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE bool anyInDoubtWide(const float* values, int count, double reciprocal) {
    return anyInDoubt<D4, F4, Bits4>(values, count, reciprocal);
}

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

bool productsAreQuotients(const float* values, int count, double mean) {
    const double reciprocal = 1.0 / mean;
    if (!std::isfinite(reciprocal)) return false;
    if (count <= 0) return true;
    // Whole vectors: the last few again, from the end.
    const int whole = count & ~3, rest = count - whole;
    float last[4];
    for (int i = 0; i < 4; ++i) last[i] = values[std::max(0, count - 4 + i)];
#ifdef PLANEXOR_HAS_WIDE
    if (useWideVectors(VectorCode::Best))
        return !anyInDoubtWide(values, whole, reciprocal) && !(rest && anyInDoubtWide(last, 4, reciprocal));
#endif
    return !anyInDoubt<D2, F2, Bits2>(values, whole, reciprocal) &&
           !(rest && anyInDoubt<D2, F2, Bits2>(last, 4, reciprocal));
}

}  // namespace planexor
