#include "input/fits_reader.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/stat.h>

#include "core/error.h"
#include "core/vector_lanes.h"
#include "input/flat_division.h"

namespace planexor {
namespace {

constexpr std::size_t CardBytes = 80;
constexpr std::size_t BlockBytes = 2880;
constexpr std::int64_t MaxAxis = 1000000;  // far beyond any camera; keeps lying headers from asking for memory
constexpr int BandRows = 32;               // rows converted at once: each column of the plane is written 128 bytes at a time
constexpr int WideBandRows = 256;          // rows read at once for 16-bit files, which go straight into the plane

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// The value of a card as the standard writes it, fixed or free format, with
// any "/" comment removed. String values are not needed here.
std::string_view cardValue(std::string_view card) {
    std::string_view value = card.substr(9);
    const std::size_t slash = value.find('/');
    if (slash != std::string_view::npos) value = value.substr(0, slash);
    return trimmed(value);
}

std::optional<std::int64_t> integerValue(std::string_view text) {
    if (!text.empty() && text.front() == '+') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<double> realValue(std::string_view text) {
    std::string copy(text);
    if (!copy.empty() && copy.front() == '+') copy.erase(0, 1);
    std::replace_if(copy.begin(), copy.end(), [](char c) { return c == 'D' || c == 'd'; }, 'E');
    double value = 0;
    const auto [end, error] = std::from_chars(copy.data(), copy.data() + copy.size(), value);
    if (copy.empty() || error != std::errc() || end != copy.data() + copy.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

int bytesPerValue(int bitpix) { return std::abs(bitpix) / 8; }

// A blank (NaN) or infinite sample stays NaN here, so that it widens no
// extreme; readFitsPlane fills it in once the extremes are known.
float planeValue(double value) {
    if (!std::isfinite(value)) return std::numeric_limits<float>::quiet_NaN();
    constexpr double Largest = std::numeric_limits<float>::max();
    return static_cast<float>(std::clamp(value, -Largest, Largest));
}

template <typename Raw>
Raw bigEndian(const std::uint8_t* bytes) {
    if constexpr (sizeof(Raw) == 1) {
        return static_cast<Raw>(*bytes);
    } else {
        using Bits = std::conditional_t<sizeof(Raw) == 2, std::uint16_t,
                     std::conditional_t<sizeof(Raw) == 4, std::uint32_t, std::uint64_t>>;
        Bits bits;
        std::memcpy(&bits, bytes, sizeof bits);
        if constexpr (sizeof(Raw) == 2) bits = __builtin_bswap16(bits);
        else if constexpr (sizeof(Raw) == 4) bits = __builtin_bswap32(bits);
        else bits = __builtin_bswap64(bits);
        Raw value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
}

using lanes::F4;
using lanes::I4;
using U8 = lanes::U16x8;
using S8 = lanes::S16x8;

// 16-bit camera data, eight values a step, in steps plain SSE2 has: swap
// the bytes, sign-extend each value by doubling it into 32 bits and
// shifting back, convert, scale.
void decodeShorts(const std::uint8_t* bytes, int count, float scale, float offset, float* out) {
    const F4 s = {scale, scale, scale, scale}, o = {offset, offset, offset, offset};
    int i = 0;
    for (; i + 8 <= count; i += 8) {
        U8 raw;
        std::memcpy(&raw, bytes + 2 * i, sizeof raw);
        const S8 values = (S8)((raw << 8) | (raw >> 8));
        const I4 low = (I4)__builtin_shufflevector(values, values, 0, 0, 1, 1, 2, 2, 3, 3) >> 16;
        const I4 high = (I4)__builtin_shufflevector(values, values, 4, 4, 5, 5, 6, 6, 7, 7) >> 16;
        lanes::store(out + i, __builtin_convertvector(low, F4) * s + o);
        lanes::store(out + i + 4, __builtin_convertvector(high, F4) * s + o);
    }
    for (; i < count; ++i) out[i] = static_cast<float>(bigEndian<std::int16_t>(bytes + 2 * i)) * scale + offset;
}

// Integers whose every scaled value fits a float need no check per value.
template <typename Raw>
bool fitsEveryFloat(double scale, double offset) {
    const double largest = std::max(std::abs(static_cast<double>(std::numeric_limits<Raw>::lowest())),
                                    static_cast<double>(std::numeric_limits<Raw>::max()));
    return std::is_integral_v<Raw> && largest * std::abs(scale) + std::abs(offset) < 1e37;
}

// The plain loop below is what keeps other integers near the speed of
// reading the bytes.
template <typename Raw, typename Math>
void decodeAs(const std::uint8_t* bytes, int count, double scale, double offset, float* out) {
    const bool unchecked = fitsEveryFloat<Raw>(scale, offset);
    if (unchecked && std::is_same_v<Raw, std::int16_t>) {
        decodeShorts(bytes, count, static_cast<float>(scale), static_cast<float>(offset), out);
        return;
    }
    if (unchecked) {
        const Math s = static_cast<Math>(scale), o = static_cast<Math>(offset);
        for (int i = 0; i < count; ++i)
            out[i] = static_cast<float>(static_cast<Math>(bigEndian<Raw>(bytes + i * sizeof(Raw))) * s + o);
        return;
    }
    for (int i = 0; i < count; ++i)
        out[i] = planeValue(static_cast<double>(bigEndian<Raw>(bytes + i * sizeof(Raw))) * scale + offset);
}

// count stored values into floats: value x BSCALE + BZERO, then x factor.
void decodeValues(const std::uint8_t* bytes, int count, const FitsHeader& header, double factor, float* out) {
    const double scale = header.BSCALE * factor;
    const double offset = header.BZERO * factor;
    switch (header.BITPIX) {
        case 8: decodeAs<std::uint8_t, float>(bytes, count, scale, offset, out); break;
        case 16: decodeAs<std::int16_t, float>(bytes, count, scale, offset, out); break;
        case 32: decodeAs<std::int32_t, double>(bytes, count, scale, offset, out); break;
        case -32: decodeAs<float, double>(bytes, count, scale, offset, out); break;
        case -64: decodeAs<double, double>(bytes, count, scale, offset, out); break;
        default: throw PlanexorError("unsupported fits format");
    }
    if (!header.hasBlank) return;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t* raw = bytes + i * bytesPerValue(header.BITPIX);
        const std::int64_t stored = header.BITPIX == 8    ? bigEndian<std::uint8_t>(raw)
                                    : header.BITPIX == 16 ? bigEndian<std::int16_t>(raw)
                                                          : bigEndian<std::int32_t>(raw);
        if (stored == header.BLANK) out[i] = std::numeric_limits<float>::quiet_NaN();
    }
}

// Band rows (stride apart) into plane columns, 4 x 4 at a time through
// registers: the plane is column-major, the file row-major, and moving one
// float at a time between them costs several times the reading itself.
// Band row k goes to column element k. Also widens the extremes.
void transposeBand(const float* band, std::size_t stride, int rows, int width, TFloatPlane& plane, int lowestRow,
                   float& minimum, float& maximum) {
    F4 low = {minimum, minimum, minimum, minimum};
    F4 high = {maximum, maximum, maximum, maximum};
    const int fullRows = rows & ~3;
    const int fullColumns = width & ~3;
    for (int k = 0; k < fullRows; k += 4) {
        const float* row = band + stride * k;
        for (int x = 0; x < fullColumns; x += 4) {
            const F4 a = lanes::load<F4>(row + x), b = lanes::load<F4>(row + stride + x);
            const F4 c = lanes::load<F4>(row + 2 * stride + x), d = lanes::load<F4>(row + 3 * stride + x);
            low = a < low ? a : low;
            low = b < low ? b : low;
            low = c < low ? c : low;
            low = d < low ? d : low;
            high = a > high ? a : high;
            high = b > high ? b : high;
            high = c > high ? c : high;
            high = d > high ? d : high;
            const F4 ab01 = __builtin_shufflevector(a, b, 0, 4, 1, 5), ab23 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
            const F4 cd01 = __builtin_shufflevector(c, d, 0, 4, 1, 5), cd23 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
            lanes::store(plane[x] + lowestRow + k, __builtin_shufflevector(ab01, cd01, 0, 1, 4, 5));
            lanes::store(plane[x + 1] + lowestRow + k, __builtin_shufflevector(ab01, cd01, 2, 3, 6, 7));
            lanes::store(plane[x + 2] + lowestRow + k, __builtin_shufflevector(ab23, cd23, 0, 1, 4, 5));
            lanes::store(plane[x + 3] + lowestRow + k, __builtin_shufflevector(ab23, cd23, 2, 3, 6, 7));
        }
    }
    for (int lane = 0; lane < 4; ++lane) {
        minimum = std::min(minimum, low[lane]);
        maximum = std::max(maximum, high[lane]);
    }
    const auto single = [&](int k, int x) {
        const float value = band[stride * k + x];
        plane[x][lowestRow + k] = value;
        minimum = std::min(minimum, value);
        maximum = std::max(maximum, value);
    };
    for (int k = 0; k < fullRows; ++k)
        for (int x = fullColumns; x < width; ++x) single(k, x);
    for (int k = fullRows; k < rows; ++k)
        for (int x = 0; x < width; ++x) single(k, x);
}

#ifdef PLANEXOR_HAS_WIDE
constexpr bool WideShortsBuilt = true;

// Eight stored 16-bit values scaled in single precision; a product and a
// sum, fused only where the caller is built to fuse.
PLANEXOR_WIDE PLANEXOR_INLINE __m256 scaledShorts(__m128i stored, __m256 scale, __m256 offset) {
    return _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(stored)), scale), offset);
}

// Eight stored 16-bit values from big-endian bytes, scaled, never fused.
PLANEXOR_WIDE PLANEXOR_INLINE __m256 scaledShortsWide(const std::uint8_t* bytes, __m256 scale, __m256 offset,
                                                      __m128i& raw) {
    const __m128i swapBytes = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    std::memcpy(&raw, bytes, sizeof raw);
    raw = _mm_shuffle_epi8(raw, swapBytes);
    return scaledShorts(raw, scale, offset);
}

// 16-bit rows of the file straight into the plane, eight rows by eight
// columns a step, with no float rows in between: the values are those of
// decodeShorts, so both roads fill the plane with the same bits. Band row r
// (of rows) goes to plane row lowestRow + rows - 1 - r. Also widens the
// extremes.
PLANEXOR_WIDE void decodeShortBandWide(const std::uint8_t* bytes, std::size_t rowBytes, int rows, int width,
                                       float scale, float offset, TFloatPlane& plane, int lowestRow,
                                       float& minimum, float& maximum) {
    const __m256 s = _mm256_set1_ps(scale), o = _mm256_set1_ps(offset);
    // The extremes of the stored values: scaling keeps or turns their order
    // (never mixes it), so the scaled extremes are the scaled ends.
    __m128i lowest = _mm_set1_epi16(32767), highest = _mm_set1_epi16(-32768);
    const auto fileRow = [&](int k) { return bytes + rowBytes * static_cast<std::size_t>(rows - 1 - k); };
    const int fullRows = rows & ~7, fullColumns = width & ~7;
    // Taken once: a store through the plane could otherwise be its own pointer.
    float* const first = plane[0] + lowestRow;
    for (int k = 0; k < fullRows; k += 8) {
        for (int x = 0; x < fullColumns; x += 8) {
            __m256 v[8];
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                __m128i raw;
                v[j] = scaledShortsWide(fileRow(k + j) + 2 * x, s, o, raw);
                lowest = _mm_min_epi16(lowest, raw);
                highest = _mm_max_epi16(highest, raw);
            }
            lanes::transpose8(v);
            float* const column = first + static_cast<std::size_t>(x) * TFloatPlane::Stride + k;
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) _mm256_storeu_ps(column + j * TFloatPlane::Stride, v[j]);
        }
    }
    const auto scaled = [&](std::int16_t value) { return static_cast<float>(value) * scale + offset; };
    const auto single = [&](int k, int x) {
        const float value = scaled(bigEndian<std::int16_t>(fileRow(k) + 2 * x));
        plane[x][lowestRow + k] = value;
        minimum = std::min(minimum, value);
        maximum = std::max(maximum, value);
    };
    if (fullRows > 0 && fullColumns > 0) {
        alignas(16) std::int16_t lows[8], highs[8];
        _mm_store_si128(reinterpret_cast<__m128i*>(lows), lowest);
        _mm_store_si128(reinterpret_cast<__m128i*>(highs), highest);
        const std::int16_t low = *std::min_element(lows, lows + 8), high = *std::max_element(highs, highs + 8);
        for (const float value : {scaled(low), scaled(high)}) {
            minimum = std::min(minimum, value);
            maximum = std::max(maximum, value);
        }
    }
    for (int x = fullColumns; x < width; ++x)
        for (int k = 0; k < fullRows; ++k) single(k, x);
    for (int x = 0; x < width; ++x)
        for (int k = fullRows; k < rows; ++k) single(k, x);
}

// Sixteen stored 16-bit values from big-endian bytes.
PLANEXOR_WIDE PLANEXOR_INLINE __m256i bigEndianShortsWide(const std::uint8_t* bytes) {
    const __m256i swapBytes = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0, 3, 2, 5,
                                               4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
    __m256i raw;
    std::memcpy(&raw, bytes, sizeof raw);
    return _mm256_shuffle_epi8(raw, swapBytes);
}

// Eight stored values, scaled as scaledShortsWide scales them, times the
// split reciprocal of the mean.
template <bool Zeros>
PLANEXOR_WIDE_FMA PLANEXOR_INLINE __m256 shortQuotients(__m128i stored, __m256 scale, __m256 offset, __m256 high,
                                                        __m256 low) {
    const __m256 quotient = splitProducts(scaledShorts(stored, scale, offset), high, low);
    if constexpr (Zeros) return smallestForZeros(quotient);
    return quotient;
}

// The same for a flat whose scaled values are integers (a fused step gives
// their exact value too) and whose every value splitProducts divides as
// normaliseFlatColumn would: the plane receives value / mean. Without
// Zeros no stored value is 0, and no quotient needs to be made the divisor.
template <bool Zeros>
PLANEXOR_WIDE_FMA void decodeShortQuotientsWide(const std::uint8_t* bytes, std::size_t rowBytes, int rows,
                                                int width, float scale, float offset, TFloatPlane& plane,
                                                double mean) {
    const __m256 s = _mm256_set1_ps(scale), o = _mm256_set1_ps(offset);
    const SplitReciprocal reciprocal(mean);
    const __m256 high = _mm256_set1_ps(reciprocal.high), low = _mm256_set1_ps(reciprocal.low);
    const auto fileRow = [&](int k) { return bytes + rowBytes * static_cast<std::size_t>(rows - 1 - k); };
    const int fullRows = rows & ~7, fullColumns = width & ~15;
    float* const first = plane[0];
    // Down whole columns, sixteen at a time: the file's rows are in the cache
    // either way, and a plane line is finished before the next is begun.
    // Eight rows are turned into columns while still 16-bit, which takes half
    // the shuffles of turning floats.
    for (int x = 0; x < fullColumns; x += 16) {
        for (int k = 0; k < fullRows; k += 8) {
            __m256i v[8];
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                v[j] = bigEndianShortsWide(fileRow(k + j) + 2 * x);
            }
            lanes::transpose8Shorts(v);
            float* const column = first + static_cast<std::size_t>(x) * TFloatPlane::Stride + k;
#pragma GCC unroll 8
            for (int j = 0; j < 8; ++j) {
                const __m128i left = _mm256_castsi256_si128(v[j]), right = _mm256_extracti128_si256(v[j], 1);
                _mm256_storeu_ps(column + j * TFloatPlane::Stride, shortQuotients<Zeros>(left, s, o, high, low));
                _mm256_storeu_ps(column + (j + 8) * TFloatPlane::Stride, shortQuotients<Zeros>(right, s, o, high, low));
            }
        }
    }
    const auto single = [&](int k, int x) {
        const float value = static_cast<float>(bigEndian<std::int16_t>(fileRow(k) + 2 * x)) * scale + offset;
        normaliseFlatColumn(&value, &plane[x][k], 1, mean);
    };
    for (int x = fullColumns; x < width; ++x)
        for (int k = 0; k < fullRows; ++k) single(k, x);
    for (int x = 0; x < width; ++x)
        for (int k = fullRows; k < rows; ++k) single(k, x);
}

// The sum and the extremes of the stored 16-bit values of rows (rowBytes
// apart), width of each, sixteen a step.
PLANEXOR_WIDE void sumShortsWide(const std::uint8_t* bytes, std::size_t rowBytes, int rows, int width,
                                 std::int64_t& sum, int& lowest, int& highest) {
    const __m256i ones = _mm256_set1_epi16(1);
    __m256i low = _mm256_set1_epi16(static_cast<short>(lowest)), high = _mm256_set1_epi16(static_cast<short>(highest));
    const int full = width & ~15;
    for (int r = 0; r < rows; ++r) {
        const std::uint8_t* row = bytes + rowBytes * static_cast<std::size_t>(r);
        // Pairs summed into 32 bits: a row of at most 1024 values stays far inside them.
        __m256i pairs = _mm256_setzero_si256();
        for (int x = 0; x < full; x += 16) {
            const __m256i raw = bigEndianShortsWide(row + 2 * x);
            low = _mm256_min_epi16(low, raw);
            high = _mm256_max_epi16(high, raw);
            pairs = _mm256_add_epi32(pairs, _mm256_madd_epi16(raw, ones));
        }
        alignas(32) std::int32_t lanes[8];
        _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), pairs);
        for (const std::int32_t lane : lanes) sum += lane;
        for (int x = full; x < width; ++x) {
            const int value = bigEndian<std::int16_t>(row + 2 * x);
            sum += value;
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
    }
    alignas(32) std::int16_t lows[16], highs[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lows), low);
    _mm256_store_si256(reinterpret_cast<__m256i*>(highs), high);
    lowest = std::min<int>(lowest, *std::min_element(lows, lows + 16));
    highest = std::max<int>(highest, *std::max_element(highs, highs + 16));
}
#else
constexpr bool WideShortsBuilt = false;
#endif

// Whether every scaled 16-bit value is an integer that a float holds
// exactly: then their sum is exact in any order, and the mean of the plane
// can be taken from the stored integers.
bool scaledShortsAreIntegers(double scale, double offset) {
    const auto integral = [](double value) {
        return static_cast<float>(value) == value && std::trunc(value) == value && std::abs(value) < 0x1p24;
    };
    return integral(scale) && integral(offset) && 32768 * std::abs(scale) + std::abs(offset) < 0x1p24;
}

struct Cards {
    std::optional<std::int64_t> BITPIX, NAXIS;
    std::vector<std::optional<std::int64_t>> axes;  // NAXIS1, NAXIS2, ...
    std::optional<double> BZERO, BSCALE;
    std::optional<std::int64_t> BLANK;
    std::string XTENSION;
    bool ZIMAGE = false;
};

}  // namespace

FitsFile::FitsFile(const std::string& path) : path_(path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) throw PlanexorError("Cannot open " + path + ": " + std::strerror(errno));
    struct stat status {};
    if (::fstat(::fileno(file_), &status) != 0 || !S_ISREG(status.st_mode)) {
        std::fclose(file_);
        throw PlanexorError("Cannot read " + path);
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
}

FitsFile::~FitsFile() { std::fclose(file_); }

void FitsFile::read(void* into, std::size_t count) {
    if (std::fread(into, 1, count, file_) != count) throw PlanexorError("Cannot read " + path_);
}

FitsHeader ReadFitsHeader(FitsFile& file) {
    const std::string& path = file.path();
    const auto damaged = [&](const std::string& why) {
        return PlanexorError("Damaged FITS header in " + path + ": " + why);
    };
    if (file.size() < BlockBytes) {
        // Not even one block: empty, or some other small file named .fit.
        std::uint8_t start[6] = {};
        if (file.size() < 6) throw PlanexorError("Not a FITS file: " + path);
        file.read(start, 6);
        if (std::memcmp(start, "SIMPLE", 6) != 0) throw PlanexorError("Not a FITS file: " + path);
        throw damaged("no END card");
    }

    std::vector<char> block(BlockBytes);
    std::uint64_t offset = 0;
    // The cards of one header unit, from offset up to its END.
    const auto readCards = [&](bool primary) {
        Cards cards;
        const std::uint64_t first = offset;
        bool ended = false;
        while (!ended) {
            if (offset + BlockBytes > file.size()) throw damaged("no END card");
            file.read(block.data(), BlockBytes);
            offset += BlockBytes;
            for (std::size_t at = 0; at < BlockBytes && !ended; at += CardBytes) {
                const std::string_view card(block.data() + at, CardBytes);
                if (primary && offset == first + BlockBytes && at == 0 && card.substr(0, 8) != "SIMPLE  ")
                    throw PlanexorError("Not a FITS file: " + path);
                const std::string_view keyword = trimmed(card.substr(0, 8));
                if (keyword == "END") {
                    ended = true;
                    break;
                }
                if (card[8] != '=') continue;
                const std::string_view value = cardValue(card);
                const auto integer = [&](std::optional<std::int64_t>& into) {
                    if (into) return;  // the first of repeated keywords counts
                    into = integerValue(value);
                    if (!into) throw damaged(std::string(keyword) + " is not a number");
                };
                const auto real = [&](std::optional<double>& into) {
                    if (into) return;
                    into = realValue(value);
                    if (!into) throw damaged(std::string(keyword) + " is not a number");
                };
                if (keyword == "BITPIX") integer(cards.BITPIX);
                else if (keyword == "NAXIS") integer(cards.NAXIS);
                else if (keyword == "BZERO") real(cards.BZERO);
                else if (keyword == "BSCALE") real(cards.BSCALE);
                else if (keyword == "BLANK") cards.BLANK = integerValue(value);  // a bad one marks nothing
                else if (keyword == "XTENSION") {
                    std::string_view name = value;  // a string: quoted, blanks after the name do not count
                    if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'')
                        name = trimmed(name.substr(1, name.size() - 2));
                    cards.XTENSION = std::string(name);
                }
                else if (keyword == "ZIMAGE") cards.ZIMAGE = value == "T";
                else if (keyword.size() > 5 && keyword.substr(0, 5) == "NAXIS") {
                    const auto axis = integerValue(keyword.substr(5));
                    if (!axis || *axis < 1 || *axis > 999) continue;
                    if (cards.axes.size() < static_cast<std::size_t>(*axis)) cards.axes.resize(*axis);
                    integer(cards.axes[*axis - 1]);
                }
            }
        }
        return cards;
    };

    Cards cards = readCards(true);
    // An empty primary unit, as many capture programs write: the picture is
    // in the first image extension, which starts at the next block.
    if (cards.NAXIS && *cards.NAXIS == 0) {
        if (offset + BlockBytes > file.size())
            throw PlanexorError("The FITS file " + path + " holds no image");
        cards = readCards(false);
        if (cards.XTENSION == "BINTABLE" && cards.ZIMAGE)
            throw PlanexorError("The FITS file " + path +
                                " is compressed (fpack, .fz), which is not supported: unpack it with funpack first");
        if (cards.XTENSION != "IMAGE")
            throw PlanexorError("The FITS file " + path + " holds no image in its first extension");
    }

    if (!cards.BITPIX) throw damaged("BITPIX missing");
    const int axisCount = static_cast<int>(cards.NAXIS.value_or(2));  // old writers may leave NAXIS out
    if (axisCount < 2 || axisCount > 999) throw PlanexorError("unsupported fits format");
    const int bitpix = static_cast<int>(std::clamp<std::int64_t>(*cards.BITPIX, -1000, 1000));
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != -32 && bitpix != -64)
        throw PlanexorError("unsupported fits format");
    cards.axes.resize(axisCount);
    unsigned __int128 dataBytes = static_cast<unsigned>(bytesPerValue(bitpix));
    std::int64_t planes = 1;
    for (int axis = 0; axis < axisCount; ++axis) {
        const std::string name = "NAXIS" + std::to_string(axis + 1);
        if (!cards.axes[axis]) throw damaged(name + " missing");
        const std::int64_t length = *cards.axes[axis];
        if (length < 1 || (axis < 2 && length > MaxAxis))
            throw PlanexorError("FITS image size out of range in " + path + ": " + name + " = " +
                                std::to_string(length));
        dataBytes *= static_cast<std::uint64_t>(std::min<std::int64_t>(length, std::int64_t{1} << 40));
        if (axis >= 2) planes = std::min<std::int64_t>(planes * length, std::int64_t{1} << 40);
        if (dataBytes > file.size()) break;  // refused below; no overflow either way
    }
    if (cards.BSCALE && *cards.BSCALE == 0.0) throw damaged("BSCALE is 0");
    if (dataBytes > file.size() - offset)
        throw PlanexorError("FITS file " + path + " is truncated: its header promises more data than it holds");

    FitsHeader header;
    header.NAXIS1 = static_cast<int>(*cards.axes[0]);
    header.NAXIS2 = static_cast<int>(*cards.axes[1]);
    header.BITPIX = bitpix;
    header.BZERO = cards.BZERO.value_or(0.0);
    header.BSCALE = cards.BSCALE.value_or(1.0);
    header.hasBlank = bitpix > 0 && cards.BLANK.has_value();
    header.BLANK = cards.BLANK.value_or(0);
    header.dataOffset = offset;
    header.dataBytes = static_cast<std::uint64_t>(dataBytes);
    header.planes = planes;
    return header;
}

void ReadFitsRow(FitsFile& file, const FitsHeader& header, std::vector<float>& values) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(header.NAXIS1) * bytesPerValue(header.BITPIX));
    file.read(bytes.data(), bytes.size());
    values.resize(header.NAXIS1);
    decodeValues(bytes.data(), header.NAXIS1, header, 1.0, values.data());
}

#ifdef PLANEXOR_HAS_WIDE
namespace {

// A 16-bit image whose scaled values are integers, divided by their mean as
// it is read: the rows are kept whole (the mean must be known before the
// first value is stored) and summed band by band while the band is in cache.
FitsPlaneRead readShortsOverMean(FitsFile& file, std::size_t rowBytes, float scale, float offset,
                                 TFloatPlane& plane, FitsPlaneRead result) {
    const int width = result.width, height = result.height;
    const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(rowBytes * height);
    std::int64_t stored = 0;
    int lowest = 32767, highest = -32768;
    for (int first = 0; first < height; first += WideBandRows) {
        const int rows = std::min(WideBandRows, height - first);
        std::uint8_t* band = bytes.get() + rowBytes * first;
        file.read(band, rowBytes * rows);
        sumShortsWide(band, rowBytes, rows, width, stored, lowest, highest);
    }
    const float ends[2] = {static_cast<float>(lowest) * scale + offset, static_cast<float>(highest) * scale + offset};
    result.minimum = std::min(ends[0], ends[1]);
    result.maximum = std::max(ends[0], ends[1]);
    const std::int64_t pixels = std::int64_t{width} * height;
    const std::int64_t sum = static_cast<std::int64_t>(scale) * stored + static_cast<std::int64_t>(offset) * pixels;
    // A flat with negative or no light is refused by its loader, which needs
    // the values as they are. Every value the file can hold is checked once,
    // so the pixels need no test of their own: split products where each is
    // the quotient's float, else divided by the loader.
    const double mean = static_cast<double>(sum) / static_cast<double>(pixels);
    bool divide = result.minimum >= 0 && sum > 0;
    if (divide) divide = splitProductsAreQuotients(lowest, highest, scale, offset, mean);
    float ignored[2] = {0, 0};
    if (divide) {
        if (result.minimum > 0)
            decodeShortQuotientsWide<false>(bytes.get(), rowBytes, height, width, scale, offset, plane, mean);
        else
            decodeShortQuotientsWide<true>(bytes.get(), rowBytes, height, width, scale, offset, plane, mean);
        result.mean = mean;
        result.divided = true;
    } else {
        decodeShortBandWide(bytes.get(), rowBytes, height, width, scale, offset, plane, 0, ignored[0], ignored[1]);
    }
    return result;
}

}  // namespace
#endif

FitsPlaneRead readFitsPlane(FitsFile& file, const FitsHeader& header, TFloatPlane& plane, float factor,
                            VectorCode code, bool divideByMean) {
    FitsPlaneRead result;
    result.fileWidth = header.NAXIS1;
    result.fileHeight = header.NAXIS2;
    result.planes = header.planes;
    result.width = std::min(header.NAXIS1, MaxImageSide);
    result.height = std::min(header.NAXIS2, MaxImageSide);
    const int width = result.width;
    const int height = result.height;

    const double scale = header.BSCALE * factor, offset = header.BZERO * factor;
    [[maybe_unused]] const bool wideShorts = WideShortsBuilt && header.BITPIX == 16 && !header.hasBlank &&
                                             fitsEveryFloat<std::int16_t>(scale, offset) && useWideVectors(code);
    const std::size_t rowBytes = static_cast<std::size_t>(header.NAXIS1) * bytesPerValue(header.BITPIX);
#ifdef PLANEXOR_HAS_WIDE
    // Rows no wider than the plane, so the whole image is at most 2 MiB.
    if (divideByMean && wideShorts && header.NAXIS1 <= MaxImageSide && scaledShortsAreIntegers(scale, offset))
        return readShortsOverMean(file, rowBytes, static_cast<float>(scale), static_cast<float>(offset), plane, result);
#endif
    // Several rows per read, fewer for very wide files so the buffer stays small.
    const int band = static_cast<int>(
        std::clamp<std::size_t>((std::size_t{1} << 20) / rowBytes, 1, wideShorts ? WideBandRows : BandRows));
    // Not cleared first: every byte used is read from the file.
    const auto bytes = std::make_unique_for_overwrite<std::uint8_t[]>(rowBytes * band);
    // Padded so rows of the band do not sit 4 KiB apart, where loads from
    // one row would wait on stores to another.
    const std::size_t stride = static_cast<std::size_t>(width) + 16;
    std::vector<float> values(wideShorts ? 0 : stride * band);
    float minimum = std::numeric_limits<float>::max();
    float maximum = std::numeric_limits<float>::lowest();
    for (int first = 0; first < height; first += band) {
        const int rows = std::min(band, height - first);
        file.read(bytes.get(), rowBytes * rows);
#ifdef PLANEXOR_HAS_WIDE
        if (wideShorts) {
            decodeShortBandWide(bytes.get(), rowBytes, rows, width, static_cast<float>(scale),
                                static_cast<float>(offset), plane, height - first - rows, minimum, maximum);
            continue;
        }
#endif
        // Stored rows first .. first+rows-1 are plane rows that run
        // downwards in memory: band row k becomes plane row lowestRow + k.
        for (int r = 0; r < rows; ++r)
            decodeValues(bytes.get() + rowBytes * r, width, header, factor, values.data() + stride * (rows - 1 - r));
        transposeBand(values.data(), stride, rows, width, plane, height - first - rows, minimum, maximum);
    }
    if (header.BITPIX < 0 || header.hasBlank) {
        // Blank samples read as the darkest of the picture: 0 may lie far
        // outside its values and would then squash them into a few levels.
        // In a flat field the darkest divisor would brighten each blank
        // into a dot; the mean of the others leaves it as it is.
        if (minimum > maximum) minimum = maximum = 0.0f;  // nothing but blanks
        float fill = minimum;
        if (divideByMean) {
            double sum = 0;
            std::int64_t count = 0;
            for (int x = 0; x < width; ++x)
                for (const float* value = plane[x]; value != plane[x] + height; ++value)
                    if (!std::isnan(*value)) sum += *value, ++count;
            if (count > 0) fill = static_cast<float>(sum / static_cast<double>(count));
        }
        for (int x = 0; x < width; ++x)
            for (float* value = plane[x]; value != plane[x] + height; ++value)
                if (std::isnan(*value)) *value = fill;
    }
    result.minimum = minimum;
    result.maximum = maximum;
    return result;
}

std::string firstPlaneOnlyText(const std::string& path, std::int64_t planes) {
    return "The FITS file " + path + " holds " + std::to_string(planes) +
           " planes (a colour picture?): only the first is read, in grey.";
}

FitsPlaneRead openFitsFrame(Workspace& workspace, const std::string& path) {
    FitsFile file(path);
    const FitsHeader header = ReadFitsHeader(file);
    auto scratch = std::make_unique<TFloatPlane>();
    const FitsPlaneRead read = readFitsPlane(file, header, *scratch);

    workspace.StackG.swap(*scratch);
    workspace.OrigWidth = read.fileWidth;
    workspace.OrigHeight = read.fileHeight;
    workspace.ImageWidth = workspace.FrameWidth = workspace.StackWidth = read.width;
    workspace.ImageHeight = workspace.FrameHeight = workspace.StackHeight = read.height;
    workspace.StackMin = read.minimum;
    workspace.StackMax = read.maximum;
    workspace.InputType = static_cast<std::uint8_t>(InputKind::Fits);
    workspace.StillFrames = true;
    workspace.JpegFrames = false;
    workspace.SingleImage = true;
    return read;
}

}  // namespace planexor
