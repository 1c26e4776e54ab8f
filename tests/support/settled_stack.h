#pragma once
#include <utility>

#include "stack/frame_preparation.h"

namespace planexor {

// Adds a frame and settles what waits, so the planes hold it for the test to read.
template <class Preparation>
void addSettled(Preparation&& preparation, Workspace& workspace, Bitmap24& frame) {
    preparation.AddFrameToStack(workspace, frame);
    preparation.settle(workspace);
}

template <class Preparation>
void decodedSettled(Preparation&& preparation, Workspace& workspace, Bitmap24& frame, int frameNumber) {
    preparation.addDecodedFrame(workspace, frame, frameNumber);
    preparation.settle(workspace);
}

}  // namespace planexor
