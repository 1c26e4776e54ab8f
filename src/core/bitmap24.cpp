#include "core/bitmap24.h"

#include <algorithm>

#include "core/error.h"

namespace planexor {

void Bitmap24::resize(int width, int height) {
    if (width < 0 || height < 0) throw PlanexorError("Invalid image size");
    width_ = width;
    height_ = height;
    pixels_.resize(byteCount(width, height));
}

void Bitmap24::fill(std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
    for (std::size_t i = 0; i + 2 < pixels_.size(); i += 3) {
        pixels_[i] = blue;
        pixels_[i + 1] = green;
        pixels_[i + 2] = red;
    }
}

}  // namespace planexor
