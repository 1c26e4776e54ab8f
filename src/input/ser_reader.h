#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/bitmap24.h"
#include "core/frame_source.h"

namespace planexor {

// The colour IDs a SER header may carry. The CMY patterns exist in the
// format but no planetary camera writes them; they are refused.
enum class SerColour : std::int32_t {
    Mono = 0,
    BayerRggb = 8,
    BayerGrbg = 9,
    BayerGbrg = 10,
    BayerBggr = 11,
    Rgb = 100,
    Bgr = 101,
};

enum class SerByteOrder { LittleEndian, BigEndian };

// What the 178-byte header says, plus what opening decided about it.
struct SerHeader {
    SerColour colour = SerColour::Mono;
    std::int32_t byteOrderFlag = 0;  // as stored; see SerReader for how it is read
    int width = 0;
    int height = 0;
    int depth = 8;                   // bits per sample and plane, 1..16
    int declaredFrames = 0;          // the header's frame count
    std::string observer;            // trailing blanks and NULs removed
    std::string instrument;
    std::string telescope;
    std::int64_t startTime = 0;      // 100 ns ticks since 0001-01-01, local time
    std::int64_t startTimeUtc = 0;
};

// Frames of a SER video. The file stays open while the reader lives and
// frame n is read directly at its offset, so random access costs one read.
//
// Samples of more than 8 bits are reduced to 8 by the header's depth (the
// depth's maximum becomes 255). Writers that left-align their samples in 16
// bits give away the depth: when frame 0 holds a sample above it, every
// frame is scaled as 16-bit instead.
//
// Byte order: the format's description calls flag 1 little-endian, but most
// capture programs write 0 with little-endian samples. We read the flag as
// they write it (0 little, 1 big-endian) and, below 16 bits, let frame 0
// decide: the order under which its samples fit the depth wins, the flag's
// order when both do.
//
// A recording cut short exposes its complete frames; warning() then says how
// many of how many. A missing or partial trailer of time stamps only means
// there are no time stamps. Every refusal is a PlanexorError naming the file.
class SerReader : public FrameSource {
public:
    explicit SerReader(const std::string& path);
    ~SerReader() override;
    SerReader(const SerReader&) = delete;
    SerReader& operator=(const SerReader&) = delete;

    int frameCount() const override;  // complete frames in the file
    // Frame `frame` at full size, rows top to bottom, B G R; Bayer frames
    // demosaiced bilinearly.
    void decode(int frame, Bitmap24& into) override;
    std::string describe() const override;  // "SER mono 8-bit", "SER RGGB 12-bit", ...

    const std::string& path() const;
    const SerHeader& header() const;
    int width() const;
    int height() const;
    SerByteOrder byteOrder() const;  // as decided at opening
    bool leftAligned() const;        // samples taken as 16-bit despite a smaller depth
    bool truncated() const;          // fewer complete frames than the header declares
    // Empty for a complete file, else "The SER file <name> is incomplete: only
    // N of its M frames can be read".
    const std::string& warning() const;
    // The frame's time stamp from the trailer, if the file has a whole one.
    std::optional<std::int64_t> timestamp(int frame) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// "mono", "RGGB", "GRBG", "GBRG", "BGGR", "RGB", "BGR".
std::string serColourName(SerColour colour);

}  // namespace planexor
