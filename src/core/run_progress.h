#pragma once

namespace planexor {

// What a long run may ask of whoever started it: show progress, let the
// desktop breathe, and tell whether the user pressed Cancel. The default does
// nothing and never stops, which is what tests and plain calls want.
class RunProgress {
public:
    virtual ~RunProgress() = default;
    virtual void setPercent(int /*percent*/) {}
    virtual void yield() {}
    virtual bool stopRequested() const { return false; }
};

}  // namespace planexor
