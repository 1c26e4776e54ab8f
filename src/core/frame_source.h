#pragma once
#include <string>

#include "core/bitmap24.h"

namespace planexor {

// Where frames come from: an AVI decoder or a list of still-frame files.
// decode() writes frame n into the bitmap (rows top to bottom, B G R) and
// throws PlanexorError with a user-facing text when it cannot.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual int frameCount() const = 0;
    virtual void decode(int frame, Bitmap24& into) = 0;
    // A short description for `info`: "AVI rawvideo", "BMP", ...
    virtual std::string describe() const = 0;
};

}  // namespace planexor
