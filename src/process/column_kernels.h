#pragma once
// Per-column loops of recombination and display mapping, in a portable and
// an AVX2 build.
#include <cstddef>
#include <cstdint>

#include "process/recombination.h"
#include "core/vector_lanes.h"

namespace planexor::columns {

struct ActiveLayers {
    int count = 0;
    double gain[WaveletLayerCount] = {};
    const float* column[WaveletLayerCount] = {};  // whole planes
};

// The layers of one channel that are switched on, with their gains.
inline ActiveLayers activeLayers(const LayerStore& store, const RecombinationOptions& options, int channel) {
    ActiveLayers active;
    for (int k = 0; k < WaveletLayerCount; ++k) {
        if (!options.layerOn[k]) continue;
        active.gain[active.count] = layerGain(options.gainSlider[k]);
        active.column[active.count] = store.plane(k + 1, channel).data();
        ++active.count;
    }
    return active;
}

// out = residual, then each layer that is on added with its gain, rounded
// to float after every addition, over plane elements [begin, end), both
// multiples of 4 so that no vector straddles a 16-byte boundary. Layer by
// layer over one column, which stays in L1 meanwhile; one channel at a time,
// since the prefetchers follow its seven streams but not twenty-one.
// Padding rows inside the span are computed too, which harms nothing.
PLANEXOR_INLINE void recombinePortable(const float* residual, const ActiveLayers& layers, float* out,
                                       std::size_t begin, std::size_t end) {
    std::memcpy(out + begin, residual + begin, sizeof(float) * (end - begin));
    for (int k = 0; k < layers.count; ++k) {
        const double gain = layers.gain[k];
        const float* layer = layers.column[k];
        std::size_t i = begin;
        for (; i + 8 <= end; i += 8) {
            lanes::store4(out + i, lanes::load4(out + i) + gain * lanes::load4(layer + i));
            lanes::store4(out + i + 4, lanes::load4(out + i + 4) + gain * lanes::load4(layer + i + 4));
        }
        if (i < end) lanes::store4(out + i, lanes::load4(out + i) + gain * lanes::load4(layer + i));
    }
}

// The plane elements that hold rows 0..height-1 of column x, widened to
// multiples of 4 (into padding rows only: the stride leaves at least 7).
struct Span {
    std::size_t begin = 0;
    std::size_t end = 0;
};
PLANEXOR_INLINE Span columnSpan(int x, int height, int stride) {
    const std::size_t begin = static_cast<std::size_t>(x) * stride;
    const std::size_t end = begin + height;
    return {begin & ~std::size_t{3}, (end + 3) & ~std::size_t{3}};
}

// Display of one channel value: the transfer table index, nearest with ties
// to even, limited to 0..1000; a NaN lands on 0.
constexpr double RoundingShift = 6755399441055744.0;  // 1.5 x 2^52: adding it rounds to an integer

PLANEXOR_INLINE int tableIndex(float value, double minimum, double scale) {
    double x = (static_cast<double>(value) - minimum) * scale;
    x = x > 0 ? x : 0;
    x = x < 1000 ? x : 1000;
    return static_cast<int>((x + RoundingShift) - RoundingShift);
}

// The same for `count` values, four at a time.
PLANEXOR_INLINE void tableIndexesPortable(const float* values, int count, double minimum, double scale,
                                          std::int32_t* indexes) {
    const lanes::D4 zero{0, 0, 0, 0};
    const lanes::D4 top{1000, 1000, 1000, 1000};
    int i = 0;
    for (; i + 4 <= count; i += 4) {
        lanes::D4 x = (lanes::load4(values + i) - minimum) * scale;
        x = x > zero ? x : zero;
        x = x < top ? x : top;
        const lanes::I4 index = __builtin_convertvector((x + RoundingShift) - RoundingShift, lanes::I4);
        std::memcpy(indexes + i, &index, sizeof index);
    }
    for (; i < count; ++i) indexes[i] = tableIndex(values[i], minimum, scale);
}

#ifdef PLANEXOR_HAS_WIDE
// The same two loops written with AVX intrinsics: GCC splits every float to
// double conversion of the generic vectors into halves, which costs a
// quarter of the live update. Results are identical to the portable loops.
PLANEXOR_WIDE void recombineWide(const float* residual, const ActiveLayers& layers, float* out,
                                       std::size_t begin, std::size_t end);
PLANEXOR_WIDE void tableIndexesWide(const float* values, int count, double minimum, double scale,
                                          std::int32_t* indexes);
#endif

template <bool Wide>
PLANEXOR_INLINE void recombine(const float* residual, const ActiveLayers& layers, float* out, std::size_t begin,
                               std::size_t end) {
#ifdef PLANEXOR_HAS_WIDE
    if constexpr (Wide) return recombineWide(residual, layers, out, begin, end);
#endif
    recombinePortable(residual, layers, out, begin, end);
}

template <bool Wide>
PLANEXOR_INLINE void tableIndexes(const float* values, int count, double minimum, double scale,
                                  std::int32_t* indexes) {
#ifdef PLANEXOR_HAS_WIDE
    if constexpr (Wide) return tableIndexesWide(values, count, minimum, scale, indexes);
#endif
    tableIndexesPortable(values, count, minimum, scale, indexes);
}

struct ChannelTable {
    const std::uint8_t* bytes = nullptr;  // 1001 output bytes by table index
    std::int32_t* histogram = nullptr;    // 256 counts
};

struct MapColumn {
    double minimum = 0;
    double scale = 0;
    std::uint8_t* firstPixel = nullptr;  // target pixel of row y1
    std::ptrdiff_t pixelStep = 0;        // bytes from one row's target pixel to the next
};

constexpr int MapChunk = 256;

// Three channels into blue, green, red of each pixel, rows y1..y2.
template <bool Wide>
PLANEXOR_INLINE void mapColour(const MapColumn& job, const float* red, const float* green, const float* blue,
                               const ChannelTable tables[3], int y1, int y2) {
    std::int32_t indexes[3][MapChunk];
    std::uint8_t* pixel = job.firstPixel;
    for (int from = y1; from <= y2; from += MapChunk) {
        const int count = y2 - from + 1 < MapChunk ? y2 - from + 1 : MapChunk;
        tableIndexes<Wide>(red + from, count, job.minimum, job.scale, indexes[0]);
        tableIndexes<Wide>(green + from, count, job.minimum, job.scale, indexes[1]);
        tableIndexes<Wide>(blue + from, count, job.minimum, job.scale, indexes[2]);
        for (int i = 0; i < count; ++i, pixel += job.pixelStep) {
            const std::uint8_t r = tables[0].bytes[indexes[0][i]];
            const std::uint8_t g = tables[1].bytes[indexes[1][i]];
            const std::uint8_t b = tables[2].bytes[indexes[2][i]];
            ++tables[0].histogram[r];
            ++tables[1].histogram[g];
            ++tables[2].histogram[b];
            pixel[0] = b;
            pixel[1] = g;
            pixel[2] = r;
        }
    }
}

// Grey: green into all three bytes; the caller copies the green histogram.
template <bool Wide>
PLANEXOR_INLINE void mapMono(const MapColumn& job, const float* green, const ChannelTable& table, int y1, int y2) {
    std::int32_t indexes[MapChunk];
    std::uint8_t* pixel = job.firstPixel;
    for (int from = y1; from <= y2; from += MapChunk) {
        const int count = y2 - from + 1 < MapChunk ? y2 - from + 1 : MapChunk;
        tableIndexes<Wide>(green + from, count, job.minimum, job.scale, indexes);
        for (int i = 0; i < count; ++i, pixel += job.pixelStep) {
            const std::uint8_t g = table.bytes[indexes[i]];
            ++table.histogram[g];
            pixel[0] = pixel[1] = pixel[2] = g;
        }
    }
}

}  // namespace planexor::columns
