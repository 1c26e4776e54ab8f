#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/bitmap24.h"
#include "input/ser_reader.h"

namespace planexor {

// Writes SER videos from 24-bit frames, in any colour ID the reader accepts,
// at 8 to 16 bits per sample and in either byte order, with a trailer of
// per-frame time stamps. Bayer IDs keep the one channel of each pixel's
// site; mono keeps the grey value. Samples above 8 bits are the 8-bit value
// stretched to the depth's full range.
//
// Like the AVI writer, it builds the file under a temporary name and renames
// it over the target in finish(); a writer destroyed before finish leaves
// nothing behind. Every failure throws PlanexorError.
class SerWriter {
public:
    // Which way round the header's byte-order flag is set: as capture
    // programs do (0 = little-endian) or as the format's description says
    // (1 = little-endian).
    enum class FlagConvention { CapturePrograms, FormatDescription };

    struct Format {
        SerColour colour = SerColour::Mono;
        int depth = 8;
        SerByteOrder order = SerByteOrder::LittleEndian;
        FlagConvention convention = FlagConvention::CapturePrograms;
        std::string observer;
        std::string instrument;
        std::string telescope;
        // 100 ns ticks since 0001-01-01 (UTC, 2024-06-01 00:00): fixed, so the
        // same frames always give the same file.
        std::int64_t startTime = 638527968000000000;
        int framesPerSecond = 25;
    };

    SerWriter() = default;
    ~SerWriter();
    SerWriter(const SerWriter&) = delete;
    SerWriter& operator=(const SerWriter&) = delete;

    // Opening again abandons a file not yet finished.
    void open(const std::string& path, int width, int height, const Format& format);
    void addFrame(const Bitmap24& frame);
    void finish();

    bool isOpen() const { return file_ != nullptr; }
    int frameCount() const { return frames_; }

private:
    void writeHeader();
    void writeBytes(const void* data, std::size_t size);
    void fail();
    void discard();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string temporaryPath_;
    int width_ = 0;
    int height_ = 0;
    Format format_;
    int frames_ = 0;
    std::vector<std::uint8_t> samples_;  // one frame as stored, kept between frames
};

}  // namespace planexor
