#include "core/frame_loop.h"

#include <algorithm>
#include <exception>
#include <new>

#include "core/error.h"

#include "core/pixel.h"

namespace planexor {

LoopOutcome runFrameLoop(Workspace& workspace, FrameSource& source, FrameLoopRange range,
                         Bitmap24& frame, const FrameConsumer& handOn, RunProgress& progress,
                         std::string_view operation) {
    LoopOutcome outcome;
    const int last = std::min({range.last, source.frameCount() - 1, LastFrameNumber});
    const int first = std::max(range.first, 0);
    const bool manyFrames = last > first;
    const bool running = workspace.AlignRun || workspace.StackRun;
    const int usedFrames = std::max(workspace.usedframes, 1);
    int done = 0;
    int current = first;
    try {
        for (int n = first; n <= last; ++n) {
            current = n;
            if (running && workspace.FrameRecs[n].Excluded == 1) continue;
            if (manyFrames) progress.setPercent(std::min(100, nearest(100.0 * done / usedFrames)));
            progress.yield();
            if (workspace.StopRequested || progress.stopRequested()) {
                workspace.StopRequested = true;
                outcome.result = LoopResult::Stopped;
                break;
            }
            source.decode(n, frame);
            workspace.CurrentFrame = n;
            if (handOn && workspace.FrameRecs[n].Excluded == 0) handOn(n, frame);
            ++done;
        }
    } catch (const PlanexorError& error) {
        outcome.result = LoopResult::Failed;
        outcome.error = error.what();
    } catch (const std::bad_alloc&) {
        outcome.result = LoopResult::Failed;
        outcome.error = "Not enough memory to " + std::string(operation) + " frame " + std::to_string(current + 1);
    } catch (const std::exception& error) {
        outcome.result = LoopResult::Failed;
        outcome.error = "Could not " + std::string(operation) + " frame " + std::to_string(current + 1) + ": " +
                        error.what();
    }
    if (manyFrames && outcome.result == LoopResult::Completed) progress.setPercent(100);
    outcome.framesHandled = done;
    return outcome;
}

}  // namespace planexor
