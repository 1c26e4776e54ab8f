#pragma once
// A flat field divided by its mean, element by element.
#include "core/vector_lanes.h"

namespace planexor {

inline constexpr float SmallestFlatElement = 0.00001f;  // what an element of 0 becomes: frames are divided by it

// to[i] = from[i] / mean rounded to float, 0 made the smallest divisor, as
// dividing each would give (from may be to), on either vector code.
void normaliseFlatColumn(const float* from, float* to, int count, double mean, VectorCode code = VectorCode::Best);

// Whether values[i] x (1 / mean) in double, rounded to float, is that
// quotient for every i: then a product stands for each division.
bool productsAreQuotients(const float* values, int count, double mean);

}  // namespace planexor
