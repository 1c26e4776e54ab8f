#include "demo/ser_writer.h"

#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <unistd.h>

#include "core/error.h"
#include "core/pixel.h"

namespace planexor {
namespace {

constexpr std::size_t kHeaderBytes = 178;
constexpr std::int64_t kTicksPerSecond = 10000000;

void putLittleEndian(std::uint8_t* out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// Blue, green, red index of the channel a pixel keeps, per colour ID.
int bayerChannel(SerColour colour, int x, int y) {
    int redX = 0, redY = 0;
    if (colour == SerColour::BayerGrbg) redX = 1;
    if (colour == SerColour::BayerGbrg) redY = 1;
    if (colour == SerColour::BayerBggr) redX = redY = 1;
    const bool redRow = (y & 1) == redY;
    const bool greenSite = ((x & 1) == redX) != redRow;
    return greenSite ? 1 : redRow ? 2 : 0;
}

}  // namespace

SerWriter::~SerWriter() { discard(); }

void SerWriter::discard() {
    if (file_ == nullptr) return;
    std::fclose(file_);
    file_ = nullptr;
    std::error_code ignored;
    std::filesystem::remove(temporaryPath_, ignored);
}

void SerWriter::fail() {
    discard();
    throw PlanexorError("Could not write the SER file " + path_);
}

void SerWriter::open(const std::string& path, int width, int height, const Format& format) {
    discard();
    if (width < 1 || height < 1 || width > 16384 || height > 16384)
        throw PlanexorError("Invalid SER frame size " + std::to_string(width) + " x " + std::to_string(height));
    if (format.depth < 8 || format.depth > 16) throw PlanexorError("SER depth must be 8 to 16 bits");
    if (format.framesPerSecond < 1 || format.framesPerSecond > 100000) throw PlanexorError("Invalid SER frame rate");
    switch (format.colour) {
    case SerColour::Mono: case SerColour::BayerRggb: case SerColour::BayerGrbg: case SerColour::BayerGbrg:
    case SerColour::BayerBggr: case SerColour::Rgb: case SerColour::Bgr: break;
    default: throw PlanexorError("Invalid SER colour ID " + std::to_string(static_cast<int>(format.colour)));
    }

    path_ = path;
    temporaryPath_ = path + ".part" + std::to_string(::getpid());
    width_ = width;
    height_ = height;
    format_ = format;
    frames_ = 0;
    file_ = std::fopen(temporaryPath_.c_str(), "wb");
    if (file_ == nullptr) throw PlanexorError("Could not create the SER file " + path);
    writeHeader();
}

void SerWriter::writeBytes(const void* data, std::size_t size) {
    if (size != 0 && std::fwrite(data, 1, size, file_) != size) fail();
}

void SerWriter::writeHeader() {
    std::uint8_t header[kHeaderBytes] = {};
    std::memcpy(header, "LUCAM-RECORDER", 14);
    const bool little = format_.order == SerByteOrder::LittleEndian;
    const bool flag = format_.convention == FlagConvention::CapturePrograms ? !little : little;
    putLittleEndian(header + 18, static_cast<std::uint32_t>(format_.colour), 4);
    putLittleEndian(header + 22, flag ? 1 : 0, 4);
    putLittleEndian(header + 26, static_cast<std::uint32_t>(width_), 4);
    putLittleEndian(header + 30, static_cast<std::uint32_t>(height_), 4);
    putLittleEndian(header + 34, static_cast<std::uint32_t>(format_.depth), 4);
    putLittleEndian(header + 38, static_cast<std::uint32_t>(frames_), 4);
    const std::string* texts[3] = {&format_.observer, &format_.instrument, &format_.telescope};
    for (int i = 0; i < 3; ++i)
        std::memcpy(header + 42 + 40 * i, texts[i]->data(), std::min<std::size_t>(texts[i]->size(), 40));
    putLittleEndian(header + 162, static_cast<std::uint64_t>(format_.startTime), 8);
    putLittleEndian(header + 170, static_cast<std::uint64_t>(format_.startTime), 8);
    if (std::fseek(file_, 0, SEEK_SET) != 0) fail();
    writeBytes(header, sizeof header);
}

void SerWriter::addFrame(const Bitmap24& frame) {
    if (file_ == nullptr) throw PlanexorError("The SER file is not open");
    if (frame.width() != width_ || frame.height() != height_)
        throw PlanexorError("A frame of " + std::to_string(frame.width()) + " x " + std::to_string(frame.height()) +
                            " does not fit a SER of " + std::to_string(width_) + " x " + std::to_string(height_));
    if (frames_ == 0x7fffffff) throw PlanexorError("The SER file " + path_ + " holds as many frames as it can");

    const SerColour colour = format_.colour;
    const int planes = colour == SerColour::Rgb || colour == SerColour::Bgr ? 3 : 1;
    const int sampleBytes = format_.depth > 8 ? 2 : 1;
    const double maximum = std::ldexp(1.0, format_.depth) - 1;
    const bool little = format_.order == SerByteOrder::LittleEndian;
    samples_.resize(static_cast<std::size_t>(width_) * height_ * planes * sampleBytes);
    std::uint8_t* out = samples_.data();
    const auto put = [&](int value) {
        if (sampleBytes == 1) {
            *out++ = static_cast<std::uint8_t>(value);
            return;
        }
        const int sample = nearest(value * maximum / 255.0);
        *out++ = static_cast<std::uint8_t>(little ? sample : sample >> 8);
        *out++ = static_cast<std::uint8_t>(little ? sample >> 8 : sample);
    };
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) {
            const std::uint8_t* bgr = frame.pixel(x, y);
            switch (colour) {
            case SerColour::Mono: put(std::min(255, nearest(greyValue(bgr[2], bgr[1], bgr[0])))); break;
            case SerColour::Rgb: put(bgr[2]); put(bgr[1]); put(bgr[0]); break;
            case SerColour::Bgr: put(bgr[0]); put(bgr[1]); put(bgr[2]); break;
            default: put(bgr[bayerChannel(colour, x, y)]); break;
            }
        }
    if (std::fseek(file_, 0, SEEK_END) != 0) fail();
    writeBytes(samples_.data(), samples_.size());
    ++frames_;
}

void SerWriter::finish() {
    if (file_ == nullptr) throw PlanexorError("The SER file is not open");
    std::vector<std::uint8_t> trailer(static_cast<std::size_t>(frames_) * 8);
    const std::int64_t step = kTicksPerSecond / format_.framesPerSecond;
    for (int i = 0; i < frames_; ++i)
        putLittleEndian(trailer.data() + 8 * i, static_cast<std::uint64_t>(format_.startTime + step * i), 8);
    if (std::fseek(file_, 0, SEEK_END) != 0) fail();
    writeBytes(trailer.data(), trailer.size());
    writeHeader();

    std::FILE* file = file_;
    file_ = nullptr;
    std::error_code error;
    if (std::fclose(file) == 0) std::filesystem::rename(temporaryPath_, path_, error);
    else error = std::make_error_code(std::errc::io_error);
    if (error) {
        std::error_code ignored;
        std::filesystem::remove(temporaryPath_, ignored);
        throw PlanexorError("Could not write the SER file " + path_ + ": " + error.message());
    }
}

}  // namespace planexor
