#pragma once
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace planexor {

// The luminance weights every grey value in the program is made with.
inline constexpr double GreyWeightRed = 0.299;
inline constexpr double GreyWeightGreen = 0.587;
inline constexpr double GreyWeightBlue = 0.114;

// The weighted sum in double, added red, green, blue: every caller that
// keeps it, rounds it to float or builds tables from it gets the same value.
inline double greyWeightedSum(double red, double green, double blue) {
    return GreyWeightRed * red + GreyWeightGreen * green + GreyWeightBlue * blue;
}

// Grey value of a pixel (bytes or stacked sums), kept as a float and never rounded.
inline float greyValue(double red, double green, double blue) {
    return static_cast<float>(greyWeightedSum(red, green, blue));
}

// Round to the nearest integer, halves to even (the default IEEE rounding mode).
// The SSE2 conversion rounds in that mode in one instruction, where
// nearbyint is a library call on processors without SSE4.1.
inline int nearest(double value) {
#if defined(__SSE2__)
    return _mm_cvtsd_si32(_mm_set_sd(value));
#else
    return static_cast<int>(std::nearbyint(value));
#endif
}

// The clamp used wherever a float goes back into a bitmap: nearest, then
// above 254 becomes 255 and below 1 becomes 0.
inline std::uint8_t byteClamp(double value) {
    if (!(value > -1e9)) return 0;  // also catches NaN
    if (value > 1e9) return 255;
    const int rounded = nearest(value);
    if (rounded > 254) return 255;
    if (rounded < 1) return 0;
    return static_cast<std::uint8_t>(rounded);
}

}  // namespace planexor
