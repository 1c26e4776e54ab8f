#pragma once
// A 24-bit test picture with detail in every channel, shared by the benchmarks.
#include <cstdint>

#include "core/bitmap24.h"

namespace planexor::bench {

inline Bitmap24 testPicture(int width, int height) {
    Bitmap24 image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image.pixel(x, y);
            p[0] = static_cast<std::uint8_t>(x + y);
            p[1] = static_cast<std::uint8_t>(x * y >> 4);
            p[2] = static_cast<std::uint8_t>(128 + ((x ^ y) & 63));
        }
    return image;
}

}  // namespace planexor::bench
