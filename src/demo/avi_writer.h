#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/bitmap24.h"

namespace planexor {

// A plain RIFF AVI 1.0 writer for one video stream: uncompressed 24-bit
// bottom-up DIB frames or MJPEG. The file is built under a temporary name in
// the target's directory and renamed over the target by finish(), so a write
// that fails or is abandoned (the writer destroyed before finish) leaves no
// half file behind. Files stay below 2 GB: beyond that AVI 1.0 needs the
// OpenDML extension, which this writer does not produce. Every failure
// throws PlanexorError and leaves the writer closed.
class AviWriter {
public:
    enum class Codec { Raw, Mjpeg };

    AviWriter() = default;
    ~AviWriter();
    AviWriter(const AviWriter&) = delete;
    AviWriter& operator=(const AviWriter&) = delete;

    // Opening again abandons a file not yet finished.
    void open(const std::string& path, int width, int height, int framesPerSecond, Codec codec,
              int jpegQuality = 90);
    void addFrame(const Bitmap24& frame);
    void finish();

    bool isOpen() const { return file_ != nullptr; }
    int frameCount() const { return static_cast<int>(index_.size()); }

private:
    struct IndexEntry {
        std::uint32_t offset;
        std::uint32_t size;
    };

    void writeHeaders();
    void writeBytes(const void* data, std::size_t size);
    void discard();

    std::FILE* file_ = nullptr;
    std::string path_;
    std::string temporaryPath_;
    int width_ = 0;
    int height_ = 0;
    int framesPerSecond_ = 0;
    Codec codec_ = Codec::Raw;
    int jpegQuality_ = 90;
    std::uint64_t written_ = 0;   // bytes in the file so far
    std::uint64_t moviEnd_ = 0;   // where idx1 starts, once finish() knows
    std::uint32_t largestChunk_ = 0;
    std::vector<IndexEntry> index_;
    std::vector<std::uint8_t> chunk_;  // one encoded frame, kept between frames
};

}  // namespace planexor
