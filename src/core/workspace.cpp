#include "core/workspace.h"

#include <cmath>

namespace planexor {

// Every stack run writes these four planes: their pages are taken here, once,
// not in the middle of the first run.
Workspace::Workspace() {
    StackR.clear();
    StackG.clear();
    StackB.clear();
    StackCount.clear();
}

void Workspace::resetForOpening() {
    hotx = hoty = 0;
    stackx = stacky = 0;
    DarkCreation = false;
    SingleImage = false;
    StillFrames = false;
    StopRequested = false;
    ResampleFactor = 2.0f;
    for (auto& record : FrameRecs) {
        const std::uint8_t excluded = record.Excluded;  // set per frame when the list is built
        record = TFrameRec{};
        record.Excluded = excluded;
    }
    Ranking.fill(TRankEntry{});
}

int Workspace::countUsedFrames(int lastFrame) const {
    int used = 0;
    for (int n = 0; n <= lastFrame && n < MaxFrames; ++n)
        if (FrameRecs[n].Excluded == 0) ++used;
    return used;
}

void GammaCurve::build(double gamma) {
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::pow(0.000001 + 0.001 * static_cast<double>(i), 1.0 / gamma);
}

}  // namespace planexor
