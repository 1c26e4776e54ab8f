#pragma once
#include <array>
#include <cstddef>

namespace planexor {

// The taps that read a picture `fraction` of a pixel further on: weight k
// belongs to source offset first + k. The weights sum to 1, so a constant
// stays constant; a fraction of 0 gives the pixel itself for an
// interpolating kernel.
struct Kernel {
    int first = 0, count = 0;
    std::array<float, 8> weights{};
};

Kernel kernelFor(float (*function)(float), float support, float fraction);

// out[j] = weights[0] * in[j] + weights[1] * in[j + stride] + ..., summed
// in that order, j in 0..n-1.
void filtered(float* out, const float* in, std::size_t stride, const float* weights, int count, int n);

}  // namespace planexor
