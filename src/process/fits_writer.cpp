#include "process/fits_writer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/error.h"
#include "core/file_io.h"
#include "core/vector_lanes.h"
#include "process/wavelet_layers.h"

namespace planexor {
namespace {

constexpr std::size_t CardBytes = 80;
constexpr std::size_t BlockBytes = 2880;
constexpr int BandRows = 64;  // each column of the plane is read 256 bytes at a time

// Anything outside printable ASCII is illegal in a header.
std::string printable(const std::string& text) {
    std::string out = text;
    for (char& c : out)
        if (c < 0x20 || c > 0x7e) c = '?';
    return out;
}

std::string card(std::string text) {
    text.resize(CardBytes, ' ');
    return text;
}

// Keyword and value right-justified to column 30, as fixed format has it.
std::string valueCard(const char* keyword, const std::string& value) {
    char text[CardBytes + 1];
    std::snprintf(text, sizeof text, "%-8s= %20s", keyword, value.c_str());
    return card(text);
}

// A string value with every quote doubled. A text too long is shortened, never
// the card, so the closing quote stays inside column 80.
std::string textCard(const char* keyword, const std::string& text) {
    constexpr std::size_t Room = CardBytes - 11;  // after "KEYWORD = '"
    std::string quoted;
    for (char c : printable(text)) {
        const std::size_t needed = c == '\'' ? 2 : 1;
        if (quoted.size() + needed + 1 > Room) break;
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    char prefix[12];
    std::snprintf(prefix, sizeof prefix, "%-8s= '", keyword);
    return card(prefix + quoted + "'");
}

struct DateAndTime {
    std::string date;  // yyyy-mm-dd, which every FITS reader takes as the full year
    std::string time;  // hh:mm:ss
};

DateAndTime headerDateAndTime(const TFITParams& params) {
    using namespace std::chrono;
    const auto now = floor<seconds>(system_clock::now());
    sys_days day = floor<days>(now);
    seconds ofDay = now - day;
    if (!params.UseNow) {
        if (params.Date >= 0 && params.Date < 3.0e6)
            day = sys_days(year(1899) / December / 30) + days(static_cast<long>(std::floor(params.Date)));
        if (params.Time >= 0 && std::isfinite(params.Time)) {
            const double fraction = params.Time - std::floor(params.Time);
            ofDay = seconds(std::min(86399L, std::lround(fraction * 86400.0)));
        }
    }
    const year_month_day calendar(day);
    const hh_mm_ss<seconds> clock(ofDay);
    char date[16];
    char time[16];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", static_cast<int>(calendar.year()),
                  static_cast<unsigned>(calendar.month()), static_cast<unsigned>(calendar.day()));
    std::snprintf(time, sizeof time, "%02d:%02d:%02d", static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()), static_cast<int>(clock.seconds().count()));
    return {date, time};
}

std::string header(int width, int height, int bitpix, const TFITParams& params) {
    const DateAndTime when = headerDateAndTime(params);
    std::string cards;
    cards += valueCard("SIMPLE", "T");
    cards += valueCard("BITPIX", std::to_string(bitpix));
    cards += valueCard("NAXIS", "2");
    cards += valueCard("NAXIS1", std::to_string(width));
    cards += valueCard("NAXIS2", std::to_string(height));
    cards += valueCard("BYTESWAP", "F");
    cards += textCard("DATE-OBS", when.date);
    cards += textCard("TIME-OBS", when.time);
    cards += textCard("OBJECT", params.Object);
    cards += textCard("TELESCOP", params.Telescope);
    cards += textCard("INSTRUME", params.Instrument);
    cards += textCard("EXPOSURE", params.Exposure);
    cards += textCard("OBSERVER", params.Observer);
    cards += card("COMMENT PLANEXOR");
    cards += card("COMMENT " + printable(params.Comment));
    cards += card("END");
    cards.resize(BlockBytes, ' ');
    return cards;
}

// nearbyint in the default rounding mode (ties to even) without its library
// call: adding and removing 1.5 x 2^52 drops the fraction. Values that large
// are whole already; NaN and infinities pass through.
inline double roundToNearest(double value) {
    constexpr double Shift = 6755399441055744.0;  // 1.5 x 2^52
    if (!(std::fabs(value) < 4503599627370496.0)) return value;
    return value >= 0 ? (value + Shift) - Shift : (value - Shift) + Shift;
}

// How a plane value becomes a stored integer.
struct Scaling {
    bool special = false;  // v x 128 as it is
    double smallest = 0;
    double span = 1;
    double fullRange = 65536.0;
    double lowest = 0, highest = 0;

    // The stored integers of a column piece, bottom row first, into `out`:
    // operator() on each value, two at a time where SSE2 allows, with the
    // same operations in the same order, so the same results.
    void scaleColumn(const float* column, int rows, std::int32_t* out) const {
        int r = 0;
#ifdef PLANEXOR_HAS_WIDE
        if (useWideVectors(VectorCode::Best)) r = scaleColumnWide(column, rows, out);
#endif
#if defined(__SSE2__)
        const __m128d shift = _mm_set1_pd(6755399441055744.0), whole = _mm_set1_pd(4503599627370496.0);
        const __m128d signBit = _mm_set1_pd(-0.0);
        for (; r + 2 <= rows; r += 2) {
            // Rows rows-2-r and rows-1-r, swapped into bottom-first order.
            __m128d x = _mm_cvtps_pd(
                _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(column + rows - 2 - r))));
            x = _mm_shuffle_pd(x, x, 1);
            x = special ? _mm_mul_pd(x, _mm_set1_pd(128.0))
                        : _mm_mul_pd(_mm_sub_pd(_mm_div_pd(_mm_sub_pd(x, _mm_set1_pd(smallest)), _mm_set1_pd(span)),
                                                _mm_set1_pd(0.5)),
                                     _mm_set1_pd(fullRange));
            const __m128d signedShift = _mm_or_pd(shift, _mm_and_pd(x, signBit));
            const __m128d rounded = _mm_sub_pd(_mm_add_pd(x, signedShift), signedShift);
            const __m128d small = _mm_cmplt_pd(_mm_andnot_pd(signBit, x), whole);
            x = _mm_or_pd(_mm_and_pd(small, rounded), _mm_andnot_pd(small, x));
            x = _mm_and_pd(x, _mm_cmpord_pd(x, x));  // NaN -> 0
            x = _mm_min_pd(_mm_max_pd(x, _mm_set1_pd(lowest)), _mm_set1_pd(highest));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + r), _mm_cvttpd_epi32(x));
        }
#endif
        for (; r < rows; ++r) out[r] = static_cast<std::int32_t>((*this)(column[rows - 1 - r]));
    }

#ifdef PLANEXOR_HAS_WIDE
    // Four at a time with AVX; returns how many rows it stored.
    PLANEXOR_WIDE int scaleColumnWide(const float* column, int rows, std::int32_t* out) const {
        const __m256d shift = _mm256_set1_pd(6755399441055744.0), whole = _mm256_set1_pd(4503599627370496.0);
        const __m256d signBit = _mm256_set1_pd(-0.0);
        int r = 0;
        for (; r + 4 <= rows; r += 4) {
            __m128 f = _mm_loadu_ps(column + rows - 4 - r);
            f = _mm_shuffle_ps(f, f, _MM_SHUFFLE(0, 1, 2, 3));  // bottom row first
            __m256d x = _mm256_cvtps_pd(f);
            x = special ? _mm256_mul_pd(x, _mm256_set1_pd(128.0))
                        : _mm256_mul_pd(_mm256_sub_pd(_mm256_div_pd(_mm256_sub_pd(x, _mm256_set1_pd(smallest)),
                                                                    _mm256_set1_pd(span)),
                                                      _mm256_set1_pd(0.5)),
                                        _mm256_set1_pd(fullRange));
            const __m256d signedShift = _mm256_or_pd(shift, _mm256_and_pd(x, signBit));
            const __m256d rounded = _mm256_sub_pd(_mm256_add_pd(x, signedShift), signedShift);
            const __m256d small = _mm256_cmp_pd(_mm256_andnot_pd(signBit, x), whole, _CMP_LT_OQ);
            x = _mm256_or_pd(_mm256_and_pd(small, rounded), _mm256_andnot_pd(small, x));
            x = _mm256_and_pd(x, _mm256_cmp_pd(x, x, _CMP_ORD_Q));  // NaN -> 0
            x = _mm256_min_pd(_mm256_max_pd(x, _mm256_set1_pd(lowest)), _mm256_set1_pd(highest));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + r), _mm256_cvttpd_epi32(x));
        }
        return r;
    }
#endif

    double operator()(float value) const {
        const double stored =
            roundToNearest(special ? value * 128.0 : ((value - smallest) / span - 0.5) * fullRange);
        if (std::isnan(stored)) return 0;
        // Clamped, where a wrap would turn an over-subtracted dark bright.
        return std::clamp(stored, lowest, highest);
    }
};

Scaling scalingFor(int source, int bitpix, const std::vector<const TFloatPlane*>& planes, int width, int height) {
    Scaling scaling;
    scaling.highest = bitpix == 16 ? 32767.0 : 2147483647.0;
    scaling.lowest = -scaling.highest - 1;
    scaling.fullRange = bitpix == 16 ? 65536.0 : 2147483647.0 * 2;
    scaling.special = source == FitsSpecialStack;
    if (scaling.special) return scaling;
    double largest = -std::numeric_limits<double>::infinity();
    double smallest = std::numeric_limits<double>::infinity();
    for (const TFloatPlane* plane : planes)
        for (int x = 0; x < width; ++x) {
            const float* column = (*plane)[x];
            int y = 0;
#if defined(__SSE2__)
            // Four at a time, infinities and NaN left out: x - x is 0 only when x is finite.
            const __m128 inf = _mm_set1_ps(std::numeric_limits<float>::infinity());
            const __m128 minusInf = _mm_set1_ps(-std::numeric_limits<float>::infinity());
            __m128 low = inf, high = minusInf;
            for (; y + 4 <= height; y += 4) {
                const __m128 v = _mm_loadu_ps(column + y);
                const __m128 finite = _mm_cmpeq_ps(_mm_sub_ps(v, v), _mm_setzero_ps());
                low = _mm_min_ps(low, _mm_or_ps(_mm_and_ps(finite, v), _mm_andnot_ps(finite, inf)));
                high = _mm_max_ps(high, _mm_or_ps(_mm_and_ps(finite, v), _mm_andnot_ps(finite, minusInf)));
            }
            float lows[4], highs[4];
            _mm_storeu_ps(lows, low);
            _mm_storeu_ps(highs, high);
            for (int l = 0; l < 4; ++l) {
                smallest = std::min(smallest, static_cast<double>(lows[l]));
                largest = std::max(largest, static_cast<double>(highs[l]));
            }
#endif
            for (; y < height; ++y) {
                const double value = column[y];
                if (!std::isfinite(value)) continue;
                largest = std::max(largest, value);
                smallest = std::min(smallest, value);
            }
        }
    if (smallest > largest) smallest = largest = 0;
    scaling.smallest = smallest;
    scaling.span = (largest - smallest) * 1.1;  // headroom above the brightest value
    if (scaling.span == 0) scaling.span = 0.000001;
    return scaling;
}

// One band of stored rows in big-endian Stored integers. Stored rows
// first.. are plane rows height-1-first downwards: each column's piece of the
// band is contiguous in the plane.
template <typename Stored>
std::size_t encodeBand(const TFloatPlane& plane, int width, int rows, int lowestRow, const Scaling& scaling,
                       std::uint8_t* band) {
    using Bits = std::conditional_t<sizeof(Stored) == 2, std::uint16_t, std::uint32_t>;
    // A few columns at a time through a small tile: the band's rows are a
    // power-of-two apart, and storing down them directly thrashes the cache.
    constexpr int TileColumns = 32;
    Bits tile[BandRows][TileColumns];
    for (int left = 0; left < width; left += TileColumns) {
        const int columns = std::min(TileColumns, width - left);
        std::int32_t piece[BandRows];
        for (int c = 0; c < columns; ++c) {
            scaling.scaleColumn(plane[left + c] + lowestRow, rows, piece);
            for (int r = 0; r < rows; ++r) {
                const auto bits = static_cast<Bits>(static_cast<Stored>(piece[r]));
                tile[r][c] = sizeof(Stored) == 2 ? static_cast<Bits>(__builtin_bswap16(static_cast<std::uint16_t>(bits)))
                                                 : static_cast<Bits>(__builtin_bswap32(bits));
            }
        }
        for (int r = 0; r < rows; ++r)
            std::memcpy(band + (static_cast<std::size_t>(r) * width + left) * sizeof(Stored), tile[r],
                        static_cast<std::size_t>(columns) * sizeof(Stored));
    }
    return static_cast<std::size_t>(width) * rows * sizeof(Stored);
}

// Written and flushed, not yet in place: commit() puts it there.
void writeOneFile(AtomicFileWriter& file, int width, int height, int bitpix, const TFITParams& params,
                  const TFloatPlane& plane, const Scaling& scaling) {
    const std::string cards = header(width, height, bitpix, params);
    file.write(cards.data(), cards.size());

    const int bytes = bitpix / 8;
    std::vector<std::uint8_t> band(static_cast<std::size_t>(width) * BandRows * bytes);
    for (int first = 0; first < height; first += BandRows) {
        const int rows = std::min(BandRows, height - first);
        const int lowestRow = height - first - rows;
        file.write(band.data(), bitpix == 16
                                    ? encodeBand<std::int16_t>(plane, width, rows, lowestRow, scaling, band.data())
                                    : encodeBand<std::int32_t>(plane, width, rows, lowestRow, scaling, band.data()));
    }
    const std::size_t dataBytes = static_cast<std::size_t>(width) * height * bytes;
    const std::vector<std::uint8_t> padding((BlockBytes - dataBytes % BlockBytes) % BlockBytes, 0);
    file.write(padding.data(), padding.size());
    file.finish();
}

}  // namespace

FitsChannels stackChannels(const Workspace& workspace) {
    return {&workspace.StackR, &workspace.StackG, &workspace.StackB};
}

FitsChannels recombinedChannels(const LayerStore& store) {
    return {&store.recombined(0), &store.recombined(1), &store.recombined(2)};
}

std::vector<std::string> fitsTargetNames(const std::string& fileName, int source, bool colour) {
    std::filesystem::path base(fileName);
    std::string extension = source == FitsSpecialStack ? ".fitq" : ".fit";
    // A processed picture keeps a FITS extension it was given; a picture's
    // name typed under the FITS filter must not hold FITS data.
    const std::string given = lowerExtensionOf(fileName);
    if (source == FitsProcessed && (given == ".fit" || given == ".fits" || given == ".fts"))
        extension = base.extension().string();
    base.replace_extension();
    if (!colour) return {base.string() + extension};
    std::vector<std::string> names;
    for (const char* suffix : {"_R", "_G", "_B"}) names.push_back(base.string() + suffix + extension);
    return names;
}

std::vector<std::string> WriteFits(const std::string& fileName, int width, int height, int BITPIX, int source,
                                   const TFITParams& params, const FitsChannels& channels, bool colour,
                                   const OverwriteQuestion& overwrite) {
    if (BITPIX != 16 && BITPIX != 32) throw PlanexorError("FITS files are written with 16 or 32 bits only");
    if (source < FitsStack || source > FitsSpecialStack) throw PlanexorError("Unknown FITS source");
    if (width < 1 || height < 1 || width > MaxImageSide || height > MaxImageSide)
        throw PlanexorError("There is no image to save");
    std::vector<const TFloatPlane*> planes;
    if (colour) planes.assign(channels.begin(), channels.end());
    else planes.push_back(channels[1]);
    const Scaling scaling = scalingFor(source, BITPIX, planes, width, height);

    const std::vector<std::string> targets = fitsTargetNames(fileName, source, colour);
    std::vector<std::string> written;
    std::vector<std::unique_ptr<AtomicFileWriter>> files;
    // Every channel is written before any replaces its file: a failure keeps
    // the old set whole, not one new channel beside two old ones.
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (overwrite && std::filesystem::exists(targets[i]) && !overwrite(targets[i])) continue;
        files.push_back(std::make_unique<AtomicFileWriter>(targets[i]));
        writeOneFile(*files.back(), width, height, BITPIX, params, *planes[i], scaling);
        written.push_back(targets[i]);
    }
    for (const auto& file : files) file->commit();
    return written;
}

}  // namespace planexor
