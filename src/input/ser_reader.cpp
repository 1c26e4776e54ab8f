#include "input/ser_reader.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/error.h"
#include "core/file_io.h"
#include "core/vector_lanes.h"

namespace planexor {
namespace {

constexpr std::size_t kHeaderBytes = 178;
constexpr std::size_t kTextBytes = 40;
constexpr std::uint64_t kTimestampBytes = 8;
// Far beyond any planetary camera; a lying header must not make us allocate
// gigabytes for one frame.
constexpr int kLargestSide = 16384;
constexpr std::int64_t kLargestPixelCount = std::int64_t{1} << 26;

std::int32_t littleEndian32(const std::uint8_t* bytes) {
    return static_cast<std::int32_t>(bytes[0] | (bytes[1] << 8) | (bytes[2] << 16) |
                                     (static_cast<std::uint32_t>(bytes[3]) << 24));
}

std::int64_t littleEndian64(const std::uint8_t* bytes) {
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = (value << 8) | bytes[i];
    return static_cast<std::int64_t>(value);
}

// Up to the first NUL, control characters dropped, trailing blanks trimmed:
// the texts end up on the console and in FITS cards.
std::string headerText(const std::uint8_t* bytes) {
    std::string text;
    for (std::size_t i = 0; i < kTextBytes && bytes[i] != 0; ++i)
        if (bytes[i] >= 0x20 && bytes[i] != 0x7f) text += static_cast<char>(bytes[i]);
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

bool isBayer(SerColour colour) {
    return colour == SerColour::BayerRggb || colour == SerColour::BayerGrbg || colour == SerColour::BayerGbrg ||
           colour == SerColour::BayerBggr;
}

int planesOf(SerColour colour) {
    return colour == SerColour::Rgb || colour == SerColour::Bgr ? 3 : 1;
}

std::uint16_t swapped(std::uint16_t value) {
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

// Reads exactly `size` bytes at `offset`; false when the file ends first.
bool readAt(int descriptor, void* into, std::size_t size, std::uint64_t offset) {
    auto* out = static_cast<std::uint8_t*>(into);
    while (size > 0) {
        const ssize_t got = ::pread(descriptor, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        size -= static_cast<std::size_t>(got);
        offset += static_cast<std::uint64_t>(got);
    }
    return true;
}

// --- bilinear demosaic over an 8-bit mosaic with a one-pixel mirrored border
//
// Four neighbours are averaged as two rounded pairs, the way the SIMD path
// does it, so both give the same bytes.

inline unsigned average(unsigned a, unsigned b) { return (a + b + 1) >> 1; }

// p points at the pixel in the padded mosaic, s is its row stride; out is B G R.
// `site`: the pixel records red (red rows) or blue (blue rows), not green.
inline void demosaicPixel(const std::uint8_t* p, std::ptrdiff_t s, std::uint8_t* out, bool site, bool redRow) {
    unsigned rowColour, green, otherColour;
    if (site) {
        rowColour = p[0];
        green = average(average(p[-1], p[1]), average(p[-s], p[s]));
        otherColour = average(average(p[-s - 1], p[-s + 1]), average(p[s - 1], p[s + 1]));
    } else {
        rowColour = average(p[-1], p[1]);
        green = p[0];
        otherColour = average(p[-s], p[s]);
    }
    out[0] = static_cast<std::uint8_t>(redRow ? otherColour : rowColour);
    out[1] = static_cast<std::uint8_t>(green);
    out[2] = static_cast<std::uint8_t>(redRow ? rowColour : otherColour);
}

#if defined(PLANEXOR_HAS_WIDE)
// pshufb masks that interleave 16 blue, green and red bytes into 48 bytes of
// B G R: [output block][channel][byte], -128 where another channel goes.
struct InterleaveMasks {
    std::int8_t mask[3][3][16];
};

constexpr InterleaveMasks makeInterleaveMasks() {
    InterleaveMasks masks{};
    for (int block = 0; block < 3; ++block)
        for (int channel = 0; channel < 3; ++channel)
            for (int i = 0; i < 16; ++i) {
                const int byte = 16 * block + i;
                masks.mask[block][channel][i] = byte % 3 == channel ? static_cast<std::int8_t>(byte / 3) : -128;
            }
    return masks;
}

constexpr InterleaveMasks kInterleave = makeInterleaveMasks();

// Whole blocks of 16 pixels of one row; returns the pixels done.
PLANEXOR_WIDE int demosaicRowSsse3(const std::uint8_t* p, std::ptrdiff_t s, std::uint8_t* out,
                                                      int width, bool siteAtEven, bool redRow) {
    const auto load = [](const std::uint8_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); };
    const __m128i siteMask = siteAtEven ? _mm_set1_epi16(0x00ff) : _mm_set1_epi16(static_cast<short>(0xff00));
    const auto blend = [&](__m128i atSite, __m128i elsewhere) {
        return _mm_or_si128(_mm_and_si128(siteMask, atSite), _mm_andnot_si128(siteMask, elsewhere));
    };
    __m128i masks[3][3];
    for (int block = 0; block < 3; ++block)
        for (int channel = 0; channel < 3; ++channel) masks[block][channel] = load(
            reinterpret_cast<const std::uint8_t*>(kInterleave.mask[block][channel]));
    int x = 0;
    for (; x + 16 <= width; x += 16, p += 16, out += 48) {
        const __m128i own = load(p);
        const __m128i across = _mm_avg_epu8(load(p - 1), load(p + 1));
        const __m128i upDown = _mm_avg_epu8(load(p - s), load(p + s));
        const __m128i diagonal = _mm_avg_epu8(_mm_avg_epu8(load(p - s - 1), load(p - s + 1)),
                                              _mm_avg_epu8(load(p + s - 1), load(p + s + 1)));
        const __m128i rowColour = blend(own, across);
        const __m128i channels[3] = {blend(diagonal, upDown), blend(_mm_avg_epu8(across, upDown), own), rowColour};
        const __m128i blue = redRow ? channels[0] : channels[2];
        const __m128i red = redRow ? channels[2] : channels[0];
        for (int block = 0; block < 3; ++block) {
            const __m128i bytes = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(blue, masks[block][0]),
                                                            _mm_shuffle_epi8(channels[1], masks[block][1])),
                                               _mm_shuffle_epi8(red, masks[block][2]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16 * block), bytes);
        }
    }
    return x;
}
#endif

void demosaicRow(const std::uint8_t* p, std::ptrdiff_t s, std::uint8_t* out, int width, bool siteAtEven,
                 bool redRow) {
    int x = 0;
#if defined(PLANEXOR_HAS_WIDE)
    if (useWideVectors(VectorCode::Best)) x = demosaicRowSsse3(p, s, out, width, siteAtEven, redRow);
#endif
    for (; x < width; ++x) demosaicPixel(p + x, s, out + 3 * x, ((x & 1) == 0) == siteAtEven, redRow);
}

// Grey samples to B G R triples, in place of three byte stores per pixel.
void spreadGreyScalar(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, out += 3) out[0] = out[1] = out[2] = in[i];
}

#if defined(PLANEXOR_HAS_WIDE)
PLANEXOR_WIDE void spreadGreySsse3(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
    const __m128i first = _mm_setr_epi8(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5);
    const __m128i second = _mm_setr_epi8(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10);
    const __m128i third = _mm_setr_epi8(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15);
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16, out += 48) {
        const __m128i grey = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(grey, first));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_shuffle_epi8(grey, second));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 32), _mm_shuffle_epi8(grey, third));
    }
    spreadGreyScalar(in + i, out, count - i);
}
#endif

void spreadGrey(const std::uint8_t* in, std::uint8_t* out, std::size_t count) {
#if defined(PLANEXOR_HAS_WIDE)
    if (useWideVectors(VectorCode::Best)) return spreadGreySsse3(in, out, count);
#endif
    spreadGreyScalar(in, out, count);
}

// 16-bit samples scaled to bytes by arithmetic, 16 at a time: each value,
// byte-swapped when asked, times `scale`, rounded, saturated at 255. Used
// only where it was checked to give the lookup table's bytes for every input.
struct ScaledReduction {
    float scale = 0.0f;
    bool swap = false;
};

#if defined(__SSE2__)
std::size_t reduceScaledSse2(const std::uint8_t* in, std::uint8_t* out, std::size_t count, ScaledReduction how) {
    const __m128 scale = _mm_set1_ps(how.scale);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128i zero = _mm_setzero_si128();
    const auto toBytes = [&](__m128i samples) {  // 8 samples -> 8 saturated 16-bit results
        if (how.swap) samples = _mm_or_si128(_mm_slli_epi16(samples, 8), _mm_srli_epi16(samples, 8));
        const auto scaled = [&](__m128i wide) {
            return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(wide), scale), half));
        };
        return _mm_packs_epi32(scaled(_mm_unpacklo_epi16(samples, zero)), scaled(_mm_unpackhi_epi16(samples, zero)));
    };
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i));
        const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * i + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(toBytes(low), toBytes(high)));
    }
    return i;
}
#endif

}  // namespace

std::string serColourName(SerColour colour) {
    switch (colour) {
    case SerColour::Mono: return "mono";
    case SerColour::BayerRggb: return "RGGB";
    case SerColour::BayerGrbg: return "GRBG";
    case SerColour::BayerGbrg: return "GBRG";
    case SerColour::BayerBggr: return "BGGR";
    case SerColour::Rgb: return "RGB";
    case SerColour::Bgr: return "BGR";
    }
    return "colour ID " + std::to_string(static_cast<int>(colour));
}

struct SerReader::Impl {
    std::string path;
    std::string name;  // for messages
    int descriptor = -1;
    SerHeader header;
    int planes = 1;
    int sampleBytes = 1;
    std::uint64_t frameBytes = 0;
    int frames = 0;
    bool hasTrailer = false;
    SerByteOrder order = SerByteOrder::LittleEndian;
    bool leftAligned = false;
    std::string warning;

    std::vector<std::uint8_t> raw;     // one frame as stored
    std::vector<std::uint8_t> reduced; // 16-bit samples reduced to 8 bits
    std::vector<std::uint8_t> padded;  // the Bayer mosaic with its mirrored border
    std::vector<std::uint8_t> toByte;  // 16-bit sample as loaded on this machine -> 8 bits
    std::vector<std::uint8_t> byteScale;  // depth 1..7: stored byte -> 8 bits; empty when none
    std::optional<ScaledReduction> scaled;  // the same by arithmetic, when it agrees everywhere

    ~Impl() {
        if (descriptor >= 0) ::close(descriptor);
    }

    [[noreturn]] void refuse(const std::string& reason) const {
        throw PlanexorError("Failed to open SER file " + name + ": " + reason);
    }

    void open(const std::string& filePath);
    void parseHeader(const std::uint8_t* bytes);
    void decideSampleLayout();
    void readFrame(int frame);
    const std::uint8_t* samples();
    void reduce(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const;
    void demosaic(Bitmap24& into);
};

void SerReader::Impl::open(const std::string& filePath) {
    path = filePath;
    name = fileNameOf(filePath);
    descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) refuse(std::strerror(errno));
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) refuse("not a regular file");
    const auto fileSize = static_cast<std::uint64_t>(status.st_size);

    std::uint8_t bytes[kHeaderBytes];
    if (fileSize < kHeaderBytes || !readAt(descriptor, bytes, kHeaderBytes, 0))
        refuse("the file is shorter than a SER header");
    parseHeader(bytes);

    const std::uint64_t available = (fileSize - kHeaderBytes) / frameBytes;
    // A capture that ended before its writer filled in the count leaves 0
    // there; the frames it holds are still readable.
    const bool counted = header.declaredFrames > 0;
    const std::uint64_t declared = counted ? static_cast<std::uint64_t>(header.declaredFrames) : available;
    frames = static_cast<int>(std::min<std::uint64_t>(std::min(declared, available), INT32_MAX));
    if (frames == 0)
        refuse("it holds no complete frame (its header declares " + std::to_string(header.declaredFrames) + ")");
    if (!counted)
        warning = "The SER file " + name + " does not say how many frames it holds: its " +
                  std::to_string(frames) + " complete frames are read";
    else if (available < declared)
        warning = "The SER file " + name + " is incomplete: only " + std::to_string(frames) + " of its " +
                  std::to_string(header.declaredFrames) + " frames can be read";
    hasTrailer = counted && available >= declared &&
                 fileSize - kHeaderBytes - declared * frameBytes >= declared * kTimestampBytes;
    decideSampleLayout();
}

void SerReader::Impl::parseHeader(const std::uint8_t* bytes) {
    if (std::memcmp(bytes, "LUCAM-RECORDER", 14) != 0) refuse("not a SER file");
    const std::int32_t colourId = littleEndian32(bytes + 18);
    switch (colourId) {
    case 0: case 8: case 9: case 10: case 11: case 100: case 101: break;
    case 16: case 17: case 18: case 19:
        refuse("colour ID " + std::to_string(colourId) + " (a CMY Bayer pattern) is not supported");
    default: refuse("unknown colour ID " + std::to_string(colourId));
    }
    header.colour = static_cast<SerColour>(colourId);
    header.byteOrderFlag = littleEndian32(bytes + 22);
    const std::int32_t width = littleEndian32(bytes + 26);
    const std::int32_t height = littleEndian32(bytes + 30);
    const std::int32_t depth = littleEndian32(bytes + 34);
    header.declaredFrames = littleEndian32(bytes + 38);
    header.observer = headerText(bytes + 42);
    header.instrument = headerText(bytes + 82);
    header.telescope = headerText(bytes + 122);
    header.startTime = littleEndian64(bytes + 162);
    header.startTimeUtc = littleEndian64(bytes + 170);

    if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide ||
        std::int64_t{width} * height > kLargestPixelCount)
        refuse("impossible frame size " + std::to_string(width) + " x " + std::to_string(height));
    if (isBayer(header.colour) && (width < 2 || height < 2))
        refuse("a Bayer frame needs at least 2 x 2 pixels");
    if (depth < 1 || depth > 16) refuse("impossible pixel depth " + std::to_string(depth) + " (1 to 16 bits)");
    if (header.declaredFrames < 0) refuse("its header declares a negative number of frames");
    header.width = width;
    header.height = height;
    header.depth = depth;
    planes = planesOf(header.colour);
    sampleBytes = depth > 8 ? 2 : 1;
    frameBytes = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) *
                 static_cast<std::uint64_t>(planes * sampleBytes);
}

void SerReader::Impl::decideSampleLayout() {
    // Capture programs write flag 0 with little-endian samples.
    const SerByteOrder flagged = header.byteOrderFlag == 0 ? SerByteOrder::LittleEndian : SerByteOrder::BigEndian;
    order = flagged;
    if (sampleBytes == 1) {
        // Depths below 8 keep their samples in the low bits: stretch them to
        // 0..255, unless frame 0 shows larger values (then they fill the byte).
        if (header.depth < 8) {
            readFrame(0);
            const unsigned limit = (1u << header.depth) - 1;
            if (*std::max_element(raw.begin(), raw.end()) <= limit) {
                byteScale.resize(256);
                for (unsigned value = 0; value < 256; ++value)
                    byteScale[value] = static_cast<std::uint8_t>(std::min(255u, (value * 255 + limit / 2) / limit));
            }
        }
        return;
    }

    readFrame(0);
    const SerByteOrder other =
        flagged == SerByteOrder::LittleEndian ? SerByteOrder::BigEndian : SerByteOrder::LittleEndian;
    const std::size_t count = frameBytes / 2;
    // Statistics of frame 0 under the flagged order [0] and the other [1].
    std::uint16_t largest[2] = {0, 0};
    std::uint16_t lowBits[2] = {0, 0};  // OR of all samples: which bits are ever set
    const bool loadedIsFlagged = (flagged == SerByteOrder::LittleEndian) == (std::endian::native == std::endian::little);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint16_t loaded;
        std::memcpy(&loaded, raw.data() + 2 * i, 2);
        const std::uint16_t asFlagged = loadedIsFlagged ? loaded : swapped(loaded);
        const std::uint16_t asOther = swapped(asFlagged);
        largest[0] = std::max(largest[0], asFlagged);
        largest[1] = std::max(largest[1], asOther);
        lowBits[0] |= asFlagged;
        lowBits[1] |= asOther;
    }
    unsigned maximum = 65535;
    if (header.depth < 16) {
        const unsigned limit = (1u << header.depth) - 1;
        const unsigned unusedLowBits = (1u << (16 - header.depth)) - 1;
        // Left-aligned samples leave their low bits clear in every sample, which
        // noise never does in a real frame; a dim frame 0 of them fits the depth
        // too and must not be stretched as if right-aligned.
        const auto leftLooking = [&](int k) {
            return count >= 256 && lowBits[k] != 0 && (lowBits[k] & unusedLowBits) == 0;
        };
        if (largest[0] <= limit && !leftLooking(0)) {
            maximum = limit;
        } else if (largest[1] <= limit && !leftLooking(1)) {
            order = other;
            maximum = limit;
        } else {
            // Left-aligned: their low bits stay clear under the right order.
            leftAligned = true;
            if ((lowBits[0] & unusedLowBits) != 0 && (lowBits[1] & unusedLowBits) == 0) order = other;
        }
    }

    const bool swap = (order == SerByteOrder::LittleEndian) != (std::endian::native == std::endian::little);
    toByte.resize(65536);
    for (unsigned loaded = 0; loaded < 65536; ++loaded) {
        const unsigned value = swap ? swapped(static_cast<std::uint16_t>(loaded)) : loaded;
        toByte[loaded] = static_cast<std::uint8_t>(std::min(255u, (value * 255 + maximum / 2) / maximum));
    }
#if defined(__SSE2__)
    // The table is the definition; the arithmetic is taken only if it gives
    // the same byte for every possible sample.
    std::vector<std::uint8_t> every(2 * 65536);
    for (unsigned loaded = 0; loaded < 65536; ++loaded) {
        const auto sample = static_cast<std::uint16_t>(loaded);
        std::memcpy(every.data() + 2 * loaded, &sample, 2);
    }
    const ScaledReduction candidate{255.0f / static_cast<float>(maximum), swap};
    std::vector<std::uint8_t> bytes(65536);
    reduceScaledSse2(every.data(), bytes.data(), 65536, candidate);
    if (bytes == toByte) scaled = candidate;
#endif
}

void SerReader::Impl::readFrame(int frame) {
    raw.resize(frameBytes);
    const std::uint64_t offset = kHeaderBytes + static_cast<std::uint64_t>(frame) * frameBytes;
    if (!readAt(descriptor, raw.data(), raw.size(), offset))
        throw PlanexorError("Failed to read frame " + std::to_string(frame) + " of SER file " + name);
    if (!byteScale.empty())
        for (std::uint8_t& sample : raw) sample = byteScale[sample];
}

// The frame's samples as bytes, in the file's plane order.
const std::uint8_t* SerReader::Impl::samples() {
    if (sampleBytes == 1) return raw.data();
    const std::size_t count = frameBytes / 2;
    reduced.resize(count);
    reduce(raw.data(), reduced.data(), count);
    return reduced.data();
}

void SerReader::Impl::reduce(const std::uint8_t* in, std::uint8_t* out, std::size_t count) const {
    const std::uint8_t* table = toByte.data();
    std::size_t i = 0;
#if defined(__SSE2__)
    if (scaled) i = reduceScaledSse2(in, out, count, *scaled);
#endif
    for (; i < count; ++i) {
        std::uint16_t loaded;
        std::memcpy(&loaded, in + 2 * i, 2);
        out[i] = table[loaded];
    }
}

void SerReader::Impl::demosaic(Bitmap24& into) {
    const int width = header.width, height = header.height;
    const std::ptrdiff_t stride = width + 2;
    padded.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height + 2));
    // Mirrored, not repeated, edges keep each border pixel's colour site.
    // Samples are reduced straight into the mosaic, saving a pass.
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = padded.data() + (y + 1) * stride;
        const std::size_t first = static_cast<std::size_t>(y) * width;
        if (sampleBytes == 1) std::memcpy(row + 1, raw.data() + first, static_cast<std::size_t>(width));
        else reduce(raw.data() + 2 * first, row + 1, static_cast<std::size_t>(width));
        row[0] = row[2];
        row[width + 1] = row[width - 1];
    }
    std::memcpy(padded.data(), padded.data() + 2 * stride, static_cast<std::size_t>(stride));
    std::memcpy(padded.data() + (height + 1) * stride, padded.data() + (height - 1) * stride,
                static_cast<std::size_t>(stride));

    int redX = 0, redY = 0;
    switch (header.colour) {
    case SerColour::BayerGrbg: redX = 1; break;
    case SerColour::BayerGbrg: redY = 1; break;
    case SerColour::BayerBggr: redX = redY = 1; break;
    default: break;
    }
    for (int y = 0; y < height; ++y) {
        const bool redRow = (y & 1) == redY;
        // Red rows have their red sites at redX, blue rows their blue sites at the other parity.
        const bool siteAtEven = redRow ? redX == 0 : redX == 1;
        demosaicRow(padded.data() + (y + 1) * stride + 1, stride, into.row(y), width, siteAtEven, redRow);
    }
}

SerReader::SerReader(const std::string& path) : impl_(std::make_unique<Impl>()) { impl_->open(path); }

SerReader::~SerReader() = default;

int SerReader::frameCount() const { return impl_->frames; }

void SerReader::decode(int frame, Bitmap24& into) {
    Impl& d = *impl_;
    if (frame < 0 || frame >= d.frames)
        throw PlanexorError("Failed to read frame " + std::to_string(frame) + " of SER file " + d.name +
                            ": no such frame");
    d.readFrame(frame);
    const int width = d.header.width;
    into.resize(width, d.header.height);
    if (isBayer(d.header.colour)) return d.demosaic(into);
    const std::uint8_t* in = d.samples();
    switch (d.header.colour) {
    case SerColour::Mono:
        spreadGrey(in, into.data(), static_cast<std::size_t>(width) * static_cast<std::size_t>(d.header.height));
        break;
    case SerColour::Bgr:
        std::memcpy(into.data(), in, Bitmap24::byteCount(width, d.header.height));
        break;
    case SerColour::Rgb: {
        const std::size_t bytes = Bitmap24::byteCount(width, d.header.height);
        std::uint8_t* out = into.data();
        for (std::size_t i = 0; i < bytes; i += 3) {
            out[i] = in[i + 2];
            out[i + 1] = in[i + 1];
            out[i + 2] = in[i];
        }
        break;
    }
    default: break;
    }
}

std::string SerReader::describe() const {
    return "SER " + serColourName(impl_->header.colour) + " " + std::to_string(impl_->header.depth) + "-bit";
}

const std::string& SerReader::path() const { return impl_->path; }
const SerHeader& SerReader::header() const { return impl_->header; }
int SerReader::width() const { return impl_->header.width; }
int SerReader::height() const { return impl_->header.height; }
SerByteOrder SerReader::byteOrder() const { return impl_->order; }
bool SerReader::leftAligned() const { return impl_->leftAligned; }
bool SerReader::truncated() const { return !impl_->warning.empty(); }
const std::string& SerReader::warning() const { return impl_->warning; }

std::optional<std::int64_t> SerReader::timestamp(int frame) const {
    const Impl& d = *impl_;
    if (!d.hasTrailer || frame < 0 || frame >= d.frames) return std::nullopt;
    const std::uint64_t offset = kHeaderBytes + static_cast<std::uint64_t>(d.header.declaredFrames) * d.frameBytes +
                                 static_cast<std::uint64_t>(frame) * kTimestampBytes;
    std::uint8_t bytes[kTimestampBytes];
    if (!readAt(d.descriptor, bytes, sizeof bytes, offset)) return std::nullopt;
    return littleEndian64(bytes);
}

}  // namespace planexor
