#pragma once
#include <memory>
#include <string>

#include "core/bitmap24.h"
#include "core/frame_source.h"

namespace planexor {

// Frames of an AVI video, decoded by FFmpeg into 24-bit bitmaps.
//
// The file and its decoder stay open for the reader's lifetime: a frame loop
// asks for n, n+1, ... and each request decodes just the next packet, while a
// jump seeks to the key frame at or before the wanted frame and decodes
// forward. Frames are numbered 0..frameCount()-1 in display order, one per
// video chunk that holds data, so frame n is the same picture however it is
// reached. A recording cut short exposes its complete frames and says so
// through truncated().
//
// Opening decodes frame 0, so a file that cannot be shown fails here rather
// than in the middle of a run. Every failure is a PlanexorError whose text
// starts with one of the fixed AVI failure texts ("Failed to open AVI file",
// "Failed to decompress AVI frame", ...).
class AviReader : public FrameSource {
public:
    explicit AviReader(const std::string& path);
    ~AviReader() override;
    AviReader(const AviReader&) = delete;
    AviReader& operator=(const AviReader&) = delete;

    int frameCount() const override;
    // Writes frame `frame` at the stream's full size, rows top to bottom.
    void decode(int frame, Bitmap24& into) override;
    std::string describe() const override;  // "AVI rawvideo", "AVI mjpeg", ...

    const std::string& path() const;  // as given when opening
    int startFrame() const;  // the stream's own number of its first frame
    const std::string& codecName() const;
    int width() const;
    int height() const;
    // True when the file ends before its headers say it should: only the
    // complete frames before the cut are counted.
    bool truncated() const;
    // Seeks made so far; sequential reading must not add any.
    int seekCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace planexor
