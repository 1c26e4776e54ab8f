#pragma once
#include <vector>

#include "core/bitmap24.h"

namespace planexor {

// How sharp the planet looks over its whole disc, whatever the alignment
// box holds: the gradient energy of the grey picture after a light noise
// filter, over the pixels of the disc, divided by the disc's mean brightness
// squared so that a frame that is only brighter or darker scores the same.
// Higher is sharper; a frame without a disc (black, flat, or nothing
// readable) scores 0. Only frameWidth x frameHeight of the bitmap is read.
class DiscSharpness {
public:
    float measure(const Bitmap24& frame, int frameWidth, int frameHeight);

private:
    std::vector<float> grey_, smooth_;  // reused from frame to frame
};

}  // namespace planexor
