#pragma once
#include <optional>

#include "core/bitmap24.h"
#include "core/vector_lanes.h"

namespace planexor {

// Where a planet's light is centred: the brightness-weighted mean position
// of the pixels brighter than a tenth of the reference's brightest, within a
// window around the disc. Seeing moves detail about the disc but not its
// light as a whole, so the centre follows a frame's true shift more closely
// than any box of detail can: the sub-pixel part of a shift is taken from it.
struct DiscWindow {
    int left = 0, top = 0, right = 0, bottom = 0;  // in the reference, right and bottom excluded
    int threshold = 0;                              // in red + green + blue
    double x = 0, y = 0;                            // the reference's centre
};

// The disc of a reference frame, or none when the frame holds no disc whole
// (black, flat, cut by the frame's edge, or too small to weigh).
std::optional<DiscWindow> findDisc(const Bitmap24& reference, int frameWidth, int frameHeight);

// The centre of the same disc in a frame moved by about (shiftX, shiftY)
// whole pixels from the reference, or none when its window leaves the frame
// or holds nothing above the threshold. Both vector codes give the same centre.
struct DiscCentre {
    double x = 0, y = 0;
};
std::optional<DiscCentre> discCentre(const Bitmap24& frame, int frameWidth, int frameHeight,
                                     const DiscWindow& disc, int shiftX, int shiftY,
                                     VectorCode code = VectorCode::Best);

// How far, in pixels, the disc's shift may lie from the box's and still be
// taken: further, the box has found something else, or the disc has.
inline constexpr double DiscAgreement = 4.0;

// A frame's shift from the reference to a fraction of a pixel, as its disc
// moved, when it shows the whole disc and that lies within DiscAgreement of
// the box's whole shift (shiftX, shiftY); none otherwise.
struct DiscShift {
    double x = 0, y = 0;
};
std::optional<DiscShift> discShift(const Bitmap24& frame, int frameWidth, int frameHeight, const DiscWindow& disc,
                                   int shiftX, int shiftY);

}  // namespace planexor
