#include "demo/avi_writer.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "core/error.h"
#include "input/jpeg_codec.h"

namespace planexor {
namespace {

// Everything up to and including the 'movi' list type has a fixed size for
// one video stream, so the header can be written up front with placeholders
// and rewritten in place by finish().
constexpr std::size_t kHeaderBytes = 224;
constexpr std::uint64_t kMoviTypeOffset = 220;
constexpr std::uint64_t kMaximumFileBytes = 0x7FFFFFFF;
constexpr std::uint32_t kHasIndex = 0x10;
constexpr std::uint32_t kKeyFrame = 0x10;

class LittleEndian {
public:
    explicit LittleEndian(std::uint8_t* out) : out_(out) {}
    void u32(std::uint32_t value) {
        for (int i = 0; i < 4; ++i) *out_++ = static_cast<std::uint8_t>(value >> (8 * i));
    }
    void u16(std::uint16_t value) {
        *out_++ = static_cast<std::uint8_t>(value);
        *out_++ = static_cast<std::uint8_t>(value >> 8);
    }
    void fourcc(const char* code) {
        std::memcpy(out_, code, 4);
        out_ += 4;
    }

private:
    std::uint8_t* out_;
};

std::uint32_t rawStride(int width) {
    return (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
}

}  // namespace

AviWriter::~AviWriter() { discard(); }

void AviWriter::discard() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove(temporaryPath_, ignored);
}

void AviWriter::open(const std::string& path, int width, int height, int framesPerSecond, Codec codec,
                     int jpegQuality) {
    discard();
    // rcFrame in the stream header holds 16-bit coordinates.
    if (width < 1 || height < 1 || width > 32767 || height > 32767)
        throw PlanexorError("Invalid AVI frame size " + std::to_string(width) + " x " + std::to_string(height));
    if (framesPerSecond < 1 || framesPerSecond > 1000) throw PlanexorError("Invalid AVI frame rate");
    if (jpegQuality < 1 || jpegQuality > 100) throw PlanexorError("Invalid JPEG quality");

    path_ = path;
    temporaryPath_ = path + ".part" + std::to_string(::getpid());
    width_ = width;
    height_ = height;
    framesPerSecond_ = framesPerSecond;
    codec_ = codec;
    jpegQuality_ = jpegQuality;
    written_ = 0;
    moviEnd_ = 0;
    largestChunk_ = 0;
    index_.clear();

    file_ = std::fopen(temporaryPath_.c_str(), "wb");
    if (file_ == nullptr) throw PlanexorError("Could not create the AVI file " + path);
    writeHeaders();
}

void AviWriter::writeBytes(const void* data, std::size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) {
        discard();
        throw PlanexorError("Could not write the AVI file " + path_);
    }
}

void AviWriter::writeHeaders() {
    const bool raw = codec_ == Codec::Raw;
    const std::uint32_t frames = static_cast<std::uint32_t>(index_.size());
    const std::uint32_t imageBytes =
        raw ? rawStride(width_) * static_cast<std::uint32_t>(height_)
            : static_cast<std::uint32_t>(width_) * static_cast<std::uint32_t>(height_) * 3;
    const std::uint32_t bufferSize = (largestChunk_ != 0 ? largestChunk_ : imageBytes) + 8;
    const std::uint64_t fileBytes = written_ < kHeaderBytes ? kHeaderBytes : written_;
    const std::uint64_t moviEnd = moviEnd_ < kHeaderBytes ? kHeaderBytes : moviEnd_;

    std::uint8_t header[kHeaderBytes] = {};
    LittleEndian out(header);
    out.fourcc("RIFF");
    out.u32(static_cast<std::uint32_t>(fileBytes - 8));
    out.fourcc("AVI ");

    out.fourcc("LIST");
    out.u32(192);
    out.fourcc("hdrl");
    out.fourcc("avih");
    out.u32(56);
    out.u32(static_cast<std::uint32_t>(std::lround(1e6 / framesPerSecond_)));
    out.u32(bufferSize * static_cast<std::uint32_t>(framesPerSecond_));
    out.u32(0);  // padding granularity
    out.u32(kHasIndex);
    out.u32(frames);
    out.u32(0);  // initial frames
    out.u32(1);  // streams
    out.u32(bufferSize);
    out.u32(static_cast<std::uint32_t>(width_));
    out.u32(static_cast<std::uint32_t>(height_));
    for (int i = 0; i < 4; ++i) out.u32(0);

    out.fourcc("LIST");
    out.u32(116);
    out.fourcc("strl");
    out.fourcc("strh");
    out.u32(56);
    out.fourcc("vids");
    out.fourcc(raw ? "DIB " : "MJPG");
    out.u32(0);  // flags
    out.u16(0);  // priority
    out.u16(0);  // language
    out.u32(0);  // initial frames
    out.u32(1);  // scale
    out.u32(static_cast<std::uint32_t>(framesPerSecond_));
    out.u32(0);  // start
    out.u32(frames);
    out.u32(bufferSize);
    out.u32(0xFFFFFFFF);  // quality: driver default
    out.u32(0);           // sample size: frames vary
    out.u16(0);
    out.u16(0);
    out.u16(static_cast<std::uint16_t>(width_));
    out.u16(static_cast<std::uint16_t>(height_));

    out.fourcc("strf");
    out.u32(40);
    out.u32(40);
    out.u32(static_cast<std::uint32_t>(width_));
    out.u32(static_cast<std::uint32_t>(height_));  // positive: rows bottom-up
    out.u16(1);
    out.u16(24);
    if (raw)
        out.u32(0);  // BI_RGB
    else
        out.fourcc("MJPG");
    out.u32(imageBytes);
    for (int i = 0; i < 4; ++i) out.u32(0);

    out.fourcc("LIST");
    out.u32(static_cast<std::uint32_t>(moviEnd - kMoviTypeOffset));
    out.fourcc("movi");

    if (std::fseek(file_, 0, SEEK_SET) != 0) {
        discard();
        throw PlanexorError("Could not write the AVI file " + path_);
    }
    writeBytes(header, sizeof header);
    if (written_ < kHeaderBytes) written_ = kHeaderBytes;
}

void AviWriter::addFrame(const Bitmap24& frame) {
    if (file_ == nullptr) throw PlanexorError("The AVI file is not open");
    if (frame.width() != width_ || frame.height() != height_)
        throw PlanexorError("A frame of " + std::to_string(frame.width()) + " x " + std::to_string(frame.height()) +
                            " does not fit an AVI of " + std::to_string(width_) + " x " + std::to_string(height_));

    const char* chunkId = "00db";
    if (codec_ == Codec::Raw) {
        const std::uint32_t stride = rawStride(width_);
        chunk_.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height_), 0);
        for (int y = 0; y < height_; ++y)
            std::memcpy(chunk_.data() + static_cast<std::size_t>(height_ - 1 - y) * stride, frame.row(y),
                        frame.rowBytes());
    } else {
        chunkId = "00dc";
        chunk_ = encodeJpeg(frame, jpegQuality_);
    }

    const std::uint64_t size = chunk_.size();
    const std::uint64_t padded = size + (size & 1);
    // The index written by finish() counts too: refuse the frame that would
    // make the finished file too large rather than fail at the end.
    if (written_ + 8 + padded + 8 + 16 * (index_.size() + 1) > kMaximumFileBytes) {
        discard();
        throw PlanexorError("The AVI file " + path_ + " would exceed 2 GB; use fewer or smaller frames");
    }

    std::uint8_t chunkHeader[8];
    LittleEndian out(chunkHeader);
    out.fourcc(chunkId);
    out.u32(static_cast<std::uint32_t>(size));
    writeBytes(chunkHeader, sizeof chunkHeader);
    writeBytes(chunk_.data(), chunk_.size());
    if (padded != size) writeBytes("", 1);

    index_.push_back({static_cast<std::uint32_t>(written_ - kMoviTypeOffset), static_cast<std::uint32_t>(size)});
    if (size > largestChunk_) largestChunk_ = static_cast<std::uint32_t>(size);
    written_ += 8 + padded;
}

void AviWriter::finish() {
    if (file_ == nullptr) throw PlanexorError("The AVI file is not open");

    const char* chunkId = codec_ == Codec::Raw ? "00db" : "00dc";
    std::vector<std::uint8_t> indexBytes(8 + 16 * index_.size());
    LittleEndian out(indexBytes.data());
    out.fourcc("idx1");
    out.u32(static_cast<std::uint32_t>(16 * index_.size()));
    for (const IndexEntry& entry : index_) {
        out.fourcc(chunkId);
        out.u32(kKeyFrame);
        out.u32(entry.offset);
        out.u32(entry.size);
    }
    moviEnd_ = written_;
    writeBytes(indexBytes.data(), indexBytes.size());
    written_ += indexBytes.size();

    writeHeaders();
    std::FILE* file = file_;
    file_ = nullptr;
    if (std::fclose(file) != 0) {
        std::error_code ignored;
        std::filesystem::remove(temporaryPath_, ignored);
        throw PlanexorError("Could not write the AVI file " + path_);
    }
    std::error_code error;
    std::filesystem::rename(temporaryPath_, path_, error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporaryPath_, ignored);
        throw PlanexorError("Could not write the AVI file " + path_ + ": " + error.message());
    }
}

}  // namespace planexor
