#pragma once
#include <cmath>
#include <cstdint>

namespace planexor {

// Grey value of a 24-bit pixel, kept as a float and never rounded.
inline float greyValue(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
    return static_cast<float>(0.299 * red + 0.587 * green + 0.114 * blue);
}

// Round to the nearest integer, halves to even (the default IEEE rounding mode).
inline int nearest(double value) {
    return static_cast<int>(std::nearbyint(value));
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
