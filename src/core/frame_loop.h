#pragma once
#include <functional>
#include <string>
#include <string_view>

#include "core/bitmap24.h"
#include "core/frame_source.h"
#include "core/run_progress.h"
#include "core/workspace.h"

namespace planexor {

enum class LoopResult { Completed, Stopped, Failed };

struct LoopOutcome {
    LoopResult result = LoopResult::Completed;
    int framesHandled = 0;
    std::string error;  // the failure's text when result is Failed
};

struct FrameLoopRange {
    int first = 0;
    int last = 0;  // inclusive
};

// Called with each decoded frame that is handed on (frame number, bitmap).
using FrameConsumer = std::function<void(int, Bitmap24&)>;

// The one loop over frames that aligning, optimizing, stacking and dark-frame
// making share. Per frame: skip it when a run flag is set and it is excluded,
// report progress, yield, stop before decoding when a stop was requested,
// decode into `frame`, set CurrentFrame and hand the frame on. Failures inside
// are caught and returned as Failed so the caller's clean-up always runs.
// `operation` names what is done to each frame ("align", "stack") in the
// failure texts the user reads: "Not enough memory to stack frame 12".
LoopOutcome runFrameLoop(Workspace& workspace, FrameSource& source, FrameLoopRange range,
                         Bitmap24& frame, const FrameConsumer& handOn, RunProgress& progress,
                         std::string_view operation = "read");

}  // namespace planexor
