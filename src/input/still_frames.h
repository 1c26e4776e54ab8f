#pragma once
#include <array>
#include <string>

#include "core/frame_source.h"
#include "core/workspace.h"

namespace planexor {

// Decodes one still frame, BMP or JPG by its extension, into a 24-bit bitmap.
void loadStillFrame(const std::string& path, Bitmap24& into);

// Frames from the still-frame files of the workspace, one file per frame.
class StillFrameSource : public FrameSource {
public:
    StillFrameSource(const std::array<std::string, MaxFrames>& files, int frameCount, bool jpeg)
        : files_(files), frameCount_(frameCount), jpeg_(jpeg) {}
    int frameCount() const override { return frameCount_; }
    void decode(int frame, Bitmap24& into) override;
    std::string describe() const override { return jpeg_ ? "JPG" : "BMP"; }

private:
    const std::array<std::string, MaxFrames>& files_;
    int frameCount_;
    bool jpeg_;
};

}  // namespace planexor
