#include "input/bmp_codec.h"

#include <array>
#include <cstring>

#include "core/error.h"
#include "core/file_io.h"

namespace planexor {
namespace {

constexpr std::size_t MaxBmpFileBytes = std::size_t{1} << 30;
// Frames past 1024 pixels are cut later, but the whole picture is decoded
// first; this bound keeps a lying header from asking for gigabytes.
constexpr std::int64_t MaxBmpPixels = std::int64_t{8192} * 8192;

std::uint32_t le32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
std::uint16_t le16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

struct ChannelMask {
    std::uint32_t mask = 0;
    int shift = 0;
    int bits = 0;

    explicit ChannelMask(std::uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1u)) ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1u)) ++bits;
    }
    std::uint8_t extract(std::uint32_t value) const {
        if (!mask) return 0;
        const std::uint64_t v = (value & mask) >> shift;
        const std::uint64_t maximum = (std::uint64_t{1} << bits) - 1u;
        return static_cast<std::uint8_t>((v * 255u + maximum / 2) / maximum);
    }
};

void put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) {
    out[at] = v & 0xff;
    out[at + 1] = v >> 8;
}
void put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = (v >> (8 * i)) & 0xff;
}

// Run-length coded 8- or 4-bit rows (bottom row first) into one palette
// index per pixel, top row first; pixels a delta skips keep index 0.
std::vector<std::uint8_t> runLengthIndexes(const std::uint8_t* in, std::size_t size, int width, int height,
                                           int bits) {
    std::vector<std::uint8_t> indexes(static_cast<std::size_t>(width) * height, 0);
    std::size_t at = 0;
    std::int64_t x = 0, y = 0;  // y counts file rows, from the bottom; runs may go far beyond the picture
    const auto put = [&](unsigned index) {
        if (x < width && y < height) indexes[static_cast<std::size_t>(height - 1 - y) * width + x] = index;
        ++x;
    };
    while (at + 2 <= size && y < height) {
        const unsigned count = in[at], value = in[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) put(bits == 8 ? value : (i & 1 ? value & 15 : value >> 4));
        } else if (value == 0) {
            x = 0, ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (at + 2 > size) break;
            x += in[at], y += in[at + 1];
            at += 2;
        } else {
            const std::size_t bytes = bits == 8 ? value : (value + 1) / 2;
            if (at + bytes > size) throw PlanexorError("BMP file is truncated");
            for (unsigned i = 0; i < value; ++i)
                put(bits == 8 ? in[at + i] : (i & 1 ? in[at + i / 2] & 15 : in[at + i / 2] >> 4));
            at += bytes + (bytes & 1);
        }
    }
    return indexes;
}

}  // namespace

void decodeBmp(const std::uint8_t* data, std::size_t size, Bitmap24& into) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') throw PlanexorError("Not a BMP file");
    const std::uint32_t headerSize = le32(data + 14);
    if (headerSize < 12 || headerSize > 1024 || 14 + static_cast<std::size_t>(headerSize) > size)
        throw PlanexorError("Damaged BMP header");

    std::int64_t width = 0, height = 0;
    int bitsPerPixel = 0;
    std::uint32_t compression = 0, coloursUsed = 0;
    std::size_t paletteEntryBytes = 4;
    std::uint32_t masks[3] = {0, 0, 0};
    const std::uint8_t* info = data + 14;
    if (headerSize == 12) {  // OS/2 core header
        width = le16(info + 4);
        height = le16(info + 6);
        bitsPerPixel = le16(info + 10);
        paletteEntryBytes = 3;
    } else {
        if (headerSize < 40) throw PlanexorError("Damaged BMP header");
        width = static_cast<std::int32_t>(le32(info + 4));
        height = static_cast<std::int32_t>(le32(info + 8));
        bitsPerPixel = le16(info + 14);
        compression = le32(info + 16);
        coloursUsed = le32(info + 32);
        if (compression == 3) {
            std::size_t maskAt = 14 + 40;
            if (headerSize < 52 && maskAt + 12 > size) throw PlanexorError("Damaged BMP header");
            for (int i = 0; i < 3; ++i) masks[i] = le32(data + maskAt + 4 * i);
        }
    }
    const bool topDown = height < 0;
    if (topDown) height = -height;
    if (width <= 0 || height <= 0) throw PlanexorError("BMP has no pixels");
    if (width * height > MaxBmpPixels) throw PlanexorError("BMP too large to open");

    switch (bitsPerPixel) {
        case 1: case 4: case 8: case 24:
            if (compression != 0 && !(compression == 1 && bitsPerPixel == 8) && !(compression == 2 && bitsPerPixel == 4))
                throw PlanexorError("Compressed BMP files are not supported");
            break;
        case 16: case 32:
            if (compression != 0 && compression != 3) throw PlanexorError("Compressed BMP files are not supported");
            break;
        default:
            throw PlanexorError("Unsupported BMP pixel format (" + std::to_string(bitsPerPixel) + " bits)");
    }
    if (compression == 0 && bitsPerPixel == 16) masks[0] = 0x7c00, masks[1] = 0x03e0, masks[2] = 0x001f;
    if (compression == 0 && bitsPerPixel == 32) masks[0] = 0xff0000, masks[1] = 0xff00, masks[2] = 0xff;
    const ChannelMask red(masks[0]), green(masks[1]), blue(masks[2]);

    // Palette.
    std::array<std::uint8_t, 256 * 3> palette{};  // B G R per entry
    std::size_t paletteCount = 0;
    if (bitsPerPixel <= 8) {
        const std::size_t maximum = std::size_t{1} << bitsPerPixel;
        paletteCount = (coloursUsed == 0 || coloursUsed > maximum) ? maximum : coloursUsed;
        const std::size_t paletteAt = 14 + headerSize;
        const std::size_t available = size > paletteAt ? (size - paletteAt) / paletteEntryBytes : 0;
        if (available < paletteCount) throw PlanexorError("BMP file is truncated");
        for (std::size_t i = 0; i < paletteCount; ++i)
            std::memcpy(&palette[i * 3], data + paletteAt + i * paletteEntryBytes, 3);
    }

    if (compression == 1 || compression == 2) {  // RLE8, RLE4
        if (topDown) throw PlanexorError("Damaged BMP header");
        std::uint64_t at = le32(data + 10);
        if (at == 0) at = 14 + headerSize + paletteCount * paletteEntryBytes;
        if (at >= size) throw PlanexorError("BMP file is truncated");
        // A few bytes of runs cannot describe millions of pixels: such a
        // header is damaged, and decoding it would only cost time and memory.
        if (width * height > std::max<std::int64_t>(std::int64_t{1} << 20, std::int64_t{1024} * (size - at)))
            throw PlanexorError("BMP file is truncated");
        const auto indexes = runLengthIndexes(data + at, size - at, static_cast<int>(width), static_cast<int>(height),
                                              bitsPerPixel);
        into.resize(static_cast<int>(width), static_cast<int>(height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const unsigned index = indexes[static_cast<std::size_t>(y) * width + x];
                std::uint8_t* target = into.row(y) + 3 * x;
                if (index < paletteCount) std::memcpy(target, &palette[index * 3], 3);
                else target[0] = target[1] = target[2] = 0;
            }
        return;
    }

    const std::uint64_t rowBytes = ((static_cast<std::uint64_t>(bitsPerPixel) * width + 31) / 32) * 4;
    std::uint64_t pixelsAt = le32(data + 10);
    if (pixelsAt == 0) pixelsAt = 14 + headerSize + paletteCount * paletteEntryBytes;
    if (pixelsAt >= size) throw PlanexorError("BMP file is truncated");
    const std::uint64_t needed = rowBytes * static_cast<std::uint64_t>(height - 1) +
                                 (static_cast<std::uint64_t>(bitsPerPixel) * width + 7) / 8;
    if (needed > size - pixelsAt) throw PlanexorError("BMP file is truncated");

    into.resize(static_cast<int>(width), static_cast<int>(height));
    for (std::int64_t y = 0; y < height; ++y) {
        const std::int64_t fileRow = topDown ? y : height - 1 - y;
        const std::uint8_t* source = data + pixelsAt + fileRow * rowBytes;
        std::uint8_t* target = into.row(static_cast<int>(y));
        for (std::int64_t x = 0; x < width; ++x, target += 3) {
            switch (bitsPerPixel) {
                case 24:
                    std::memcpy(target, source + x * 3, 3);
                    break;
                case 32: case 16: {
                    const std::uint32_t value =
                        bitsPerPixel == 32 ? le32(source + x * 4) : le16(source + x * 2);
                    target[0] = blue.extract(value);
                    target[1] = green.extract(value);
                    target[2] = red.extract(value);
                    break;
                }
                default: {
                    const std::int64_t bit = x * bitsPerPixel;
                    const int shift = 8 - bitsPerPixel - static_cast<int>(bit % 8);
                    const unsigned index = (source[bit / 8] >> shift) & ((1u << bitsPerPixel) - 1u);
                    // An index past the palette reads as black rather than past the table.
                    if (index < paletteCount) std::memcpy(target, &palette[index * 3], 3);
                    else target[0] = target[1] = target[2] = 0;
                }
            }
        }
    }
}

void readBmpFile(const std::string& path, Bitmap24& into) {
    const auto bytes = readWholeFile(path, MaxBmpFileBytes);
    try {
        decodeBmp(bytes.data(), bytes.size(), into);
    } catch (const PlanexorError& error) {
        throw PlanexorError(std::string(error.what()) + ": " + path);
    }
}

std::vector<std::uint8_t> encodeBmp(const Bitmap24& image) {
    const std::size_t rowBytes = (image.rowBytes() + 3) & ~std::size_t{3};
    const std::size_t imageBytes = rowBytes * image.height();
    std::vector<std::uint8_t> out(54 + imageBytes, 0);
    out[0] = 'B';
    out[1] = 'M';
    put32(out, 2, static_cast<std::uint32_t>(out.size()));
    put32(out, 10, 54);
    put32(out, 14, 40);
    put32(out, 18, static_cast<std::uint32_t>(image.width()));
    put32(out, 22, static_cast<std::uint32_t>(image.height()));
    put16(out, 26, 1);
    put16(out, 28, 24);
    put32(out, 34, static_cast<std::uint32_t>(imageBytes));
    put32(out, 38, 2835);  // 72 dpi
    put32(out, 42, 2835);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(out.data() + 54 + rowBytes * (image.height() - 1 - y), image.row(y), image.rowBytes());
    return out;
}

void writeBmpFile(const std::string& path, const Bitmap24& image) {
    const auto bytes = encodeBmp(image);
    writeFileAtomically(path, bytes.data(), bytes.size());
}

}  // namespace planexor
