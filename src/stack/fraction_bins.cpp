#include "stack/fraction_bins.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "core/error.h"
#include "core/vector_lanes.h"
#include "stack/pending_sums.h"

namespace planexor {

namespace {

using Rect = FractionBins::Rect;

Rect intersect(const Rect& a, const Rect& b) {
    return {std::max(a.x0, b.x0), std::min(a.x1, b.x1), std::max(a.y0, b.y0), std::min(a.y1, b.y1)};
}

Rect unite(const Rect& a, const Rect& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return {std::min(a.x0, b.x0), std::max(a.x1, b.x1), std::min(a.y0, b.y0), std::max(a.y1, b.y1)};
}

bool same(const Rect& a, const Rect& b) { return a.x0 == b.x0 && a.x1 == b.x1 && a.y0 == b.y0 && a.y1 == b.y1; }

bool contains(const Rect& outer, const Rect& inner) {
    return inner.x0 >= outer.x0 && inner.x1 <= outer.x1 && inner.y0 >= outer.y0 && inner.y1 <= outer.y1;
}

Rect grown(const Rect& r, int by) { return {r.x0 - by, r.x1 + by, r.y0 - by, r.y1 + by}; }

int widthOf(const Rect& r) { return r.x1 - r.x0 + 1; }
int heightOf(const Rect& r) { return r.y1 - r.y0 + 1; }
std::size_t areaOf(const Rect& r) { return r.empty() ? 0 : static_cast<std::size_t>(widthOf(r)) * heightOf(r); }

constexpr Rect Planes{0, PlaneSide - 1, 0, PlaneSide - 1};

// One more frame would overflow a lane: 257 x 255 = 65535.
constexpr int MostFrames = 257;
// Room a bin's lanes keep beyond the frames so far, so that shifts a few
// pixels apart do not move them again and again.
constexpr int Slack = 8;
// The edges all bins may hold before the bin holding most is settled.
constexpr std::size_t MostEdgeBytes = std::size_t{32} << 20;

// Lanes come from the system in pages of 2 MiB where it has them: a bin
// first written page by small page would cost a fault every 4 KiB.
struct Release {
    std::size_t mapped = 0;  // bytes mapped, or 0 for memory from calloc
    void operator()(void* memory) const {
#if defined(__linux__)
        if (mapped) {
            munmap(memory, mapped);
            return;
        }
#endif
        std::free(memory);
    }
};

std::unique_ptr<std::uint16_t, Release> zeroedLanes(std::size_t count) {
    const std::size_t bytes = count * sizeof(std::uint16_t);
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::size_t Huge = std::size_t{2} << 20;
    if (bytes >= Huge / 2) {
        const std::size_t mapped = (bytes + Huge - 1) / Huge * Huge;
        void* memory = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory != MAP_FAILED) {
            madvise(memory, mapped, MADV_HUGEPAGE);
            return {static_cast<std::uint16_t*>(memory), Release{mapped}};
        }
    }
#endif
    void* memory = std::calloc(count, sizeof(std::uint16_t));
    if (!memory) throw std::bad_alloc();
    return {static_cast<std::uint16_t*>(memory), Release{}};
}

#if defined(PLANEXOR_HAS_WIDE)
// Row by row: floats of n sums.
PLANEXOR_WIDE void sumsToFloatsWide(float* out, const std::uint16_t* in, int n) {
    int i = 0;
    for (; i + 8 <= n; i += 8)
        _mm256_storeu_ps(out + i, _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(
                                      _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i)))));
    for (; i < n; ++i) out[i] = in[i];
}

// out[j] = weights[0] * rows[0][j] + weights[1] * rows[1][j] + ...
template <int Taps>
PLANEXOR_WIDE_FMA void downRowWide(float* out, const float* const* rows, const float* weights, int taps, int n) {
    if constexpr (Taps > 0) taps = Taps;
    __m256 w[8];
    for (int k = 0; k < taps; ++k) w[k] = _mm256_set1_ps(weights[k]);
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        __m256 sum = _mm256_mul_ps(_mm256_loadu_ps(rows[0] + j), w[0]);
#pragma GCC unroll 8
        for (int k = 1; k < taps; ++k) sum = _mm256_fmadd_ps(_mm256_loadu_ps(rows[k] + j), w[k], sum);
        _mm256_storeu_ps(out + j, sum);
    }
    for (; j < n; ++j) {
        float sum = weights[0] * rows[0][j];
        for (int k = 1; k < taps; ++k) sum += weights[k] * rows[k][j];
        out[j] = sum;
    }
}

// out[j] += weights[0] * in[j] + weights[1] * in[j + 3] + ... (a row of
// blue, green, red: a pixel further on is three floats on).
template <int Taps>
PLANEXOR_WIDE_FMA void acrossRowWide(float* out, const float* in, const float* weights, int taps, int n) {
    if constexpr (Taps > 0) taps = Taps;
    __m256 w[8];
    for (int k = 0; k < taps; ++k) w[k] = _mm256_set1_ps(weights[k]);
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        __m256 sum = _mm256_mul_ps(_mm256_loadu_ps(in + j), w[0]);
#pragma GCC unroll 8
        for (int k = 1; k < taps; ++k) sum = _mm256_fmadd_ps(_mm256_loadu_ps(in + 3 * k + j), w[k], sum);
        _mm256_storeu_ps(out + j, _mm256_add_ps(_mm256_loadu_ps(out + j), sum));
    }
    for (; j < n; ++j) {
        float sum = weights[0] * in[j];
        for (int k = 1; k < taps; ++k) sum += weights[k] * in[3 * k + j];
        out[j] += sum;
    }
}

// Eight pixels of eight rows of blue, green, red floats (each row `stride`
// floats further), times `sign`, added to the planes' columns x .. x + 7 at row y.
PLANEXOR_WIDE void rowsToPlanesWide(const float* in, std::size_t stride, float* const* planes, int x, int y,
                                    float sign) {
    __m256 v[3][8];
    for (int j = 0; j < 8; ++j, in += stride) {
        const __m256 a = _mm256_loadu_ps(in), b = _mm256_loadu_ps(in + 8), c = _mm256_loadu_ps(in + 16);
        const __m256 blue = _mm256_blend_ps(_mm256_blend_ps(a, b, 0x92), c, 0x24);
        const __m256 green = _mm256_blend_ps(_mm256_blend_ps(a, b, 0x24), c, 0x49);
        const __m256 red = _mm256_blend_ps(_mm256_blend_ps(a, b, 0x49), c, 0x92);
        v[0][j] = _mm256_permutevar8x32_ps(blue, _mm256_setr_epi32(0, 3, 6, 1, 4, 7, 2, 5));
        v[1][j] = _mm256_permutevar8x32_ps(green, _mm256_setr_epi32(1, 4, 7, 2, 5, 0, 3, 6));
        v[2][j] = _mm256_permutevar8x32_ps(red, _mm256_setr_epi32(2, 5, 0, 3, 6, 1, 4, 7));
    }
    for (int c = 0; c < 3; ++c) {
        lanes::transpose8(v[c]);
        for (int i = 0; i < 8; ++i) {
            float* column = planes[c] + static_cast<std::size_t>(x + i) * TFloatPlane::Stride + y;
            _mm256_storeu_ps(column,
                             _mm256_add_ps(_mm256_loadu_ps(column), _mm256_mul_ps(v[c][i], _mm256_set1_ps(sign))));
        }
    }
}
#endif

// out[i] += weight * in[i], i in 0..n-1.
void addScaled(float* __restrict out, const float* __restrict in, float weight, int n) {
    using F = lanes::F4;
    const F w = {weight, weight, weight, weight};
    int i = 0;
    for (; i + 4 <= n; i += 4) lanes::store(out + i, lanes::load<F>(out + i) + w * lanes::load<F>(in + i));
    for (; i < n; ++i) out[i] += weight * in[i];
}

// What a new area gives beside what the old gave: made[i] becomes made[i] -
// settled[i], and settled[i] what made[i] was, i in 0..n-1.
void difference(float* __restrict made, float* __restrict settled, std::size_t n) {
    using F = lanes::F4;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const F value = lanes::load<F>(made + i);
        lanes::store(made + i, value - lanes::load<F>(settled + i));
        lanes::store(settled + i, value);
    }
    for (; i < n; ++i) {
        const float value = made[i];
        made[i] = value - settled[i];
        settled[i] = value;
    }
}

}  // namespace

// 16-bit sums of blue, green and red over a rectangle of stack pixels, row
// by row, as the frames' own bytes lie.
struct FractionBins::Sums {
    Rect box;
    std::unique_ptr<std::uint16_t, Release> lanes;

    std::size_t stride() const { return static_cast<std::size_t>(widthOf(box)) * 3; }
    std::uint16_t* at(int x, int y) const {
        return lanes.get() + static_cast<std::size_t>(y - box.y0) * stride() + static_cast<std::size_t>(x - box.x0) * 3;
    }
    std::size_t bytes() const { return lanes ? areaOf(box) * 3 * sizeof(std::uint16_t) : 0; }

    // Room for `needed`, and `slack` more on each side where it grows; what
    // is held keeps its place.
    void cover(const Rect& needed, int slack) {
        if (lanes && contains(box, needed)) return;
        Rect wider = grown(needed, slack);
        if (lanes) {
            wider = unite(box, needed);
            if (wider.x0 < box.x0) wider.x0 -= slack;
            if (wider.x1 > box.x1) wider.x1 += slack;
            if (wider.y0 < box.y0) wider.y0 -= slack;
            if (wider.y1 > box.y1) wider.y1 += slack;
        }
        std::unique_ptr<std::uint16_t, Release> larger = zeroedLanes(areaOf(wider) * 3);
        if (lanes)
            for (int y = box.y0; y <= box.y1; ++y)
                std::memcpy(larger.get() + static_cast<std::size_t>(y - wider.y0) * widthOf(wider) * 3 +
                                static_cast<std::size_t>(box.x0 - wider.x0) * 3,
                            at(box.x0, y), stride() * sizeof(std::uint16_t));
        lanes = std::move(larger);
        box = wider;
    }

    // Adds source (x + dx, y + dy) to (x, y) over `area`, the source's edges
    // repeated beyond limitX x limitY.
    void add(const Rect& area, const Bitmap24& source, int dx, int dy, int limitX, int limitY) {
        // The columns that need no edge: [inside0, inside1].
        const int inside0 = std::clamp(-dx, area.x0, area.x1 + 1);
        const int inside1 = std::clamp(limitX - 1 - dx, inside0 - 1, area.x1);
        const auto addPixel = [&](std::uint16_t* sums, const std::uint8_t* line, int x) {
            const std::uint8_t* pixel = line + static_cast<std::size_t>(std::clamp(x + dx, 0, limitX - 1)) * 3;
            for (int c = 0; c < 3; ++c) sums[c] = static_cast<std::uint16_t>(sums[c] + pixel[c]);
        };
        for (int y = area.y0; y <= area.y1; ++y) {
            const std::uint8_t* line = source.row(std::clamp(y + dy, 0, limitY - 1));
            std::uint16_t* sums = at(area.x0, y);
            for (int x = area.x0; x < inside0; ++x, sums += 3) addPixel(sums, line, x);
            if (inside0 <= inside1) {
                const std::size_t n = static_cast<std::size_t>(inside1 - inside0 + 1) * 3;
                addByteSums(sums, line + static_cast<std::size_t>(inside0 + dx) * 3, n);
                sums += n;
            }
            for (int x = std::max(inside1 + 1, area.x0); x <= area.x1; ++x, sums += 3) addPixel(sums, line, x);
        }
    }
};

// Where values go: channel c (blue, green, red) of stack pixel (x, y) is
// at base[c] + (x - x0) * xStride + (y - y0) * yStride.
struct FractionBins::Target {
    std::array<float*, 3> base;
    std::ptrdiff_t xStride, yStride;
    int x0, y0;
    float* at(int c, int x, int y) const { return base[c] + (x - x0) * xStride + (y - y0) * yStride; }
};

FractionBins::Target FractionBins::planesOf(Workspace& workspace) {
    return {{workspace.StackB.data(), workspace.StackG.data(), workspace.StackR.data()}, TFloatPlane::Stride, 1, 0, 0};
}

// Rows of blue, green, red floats over `r`.
FractionBins::Target FractionBins::rowsOver(float* rows, const Rect& r) {
    return {{rows, rows + 1, rows + 2}, 3, 3 * static_cast<std::ptrdiff_t>(widthOf(r)), r.x0, r.y0};
}

// What the frames of a bin that end at one edge (or corner) position hold
// next to it, padding included: the values there that the kernel carries
// beyond the edge. A side is taken off, a corner (taken off by both its
// sides) given back.
struct FractionBins::Edge {
    int sideX = 0, sideY = 0;  // -1 left or top, +1 right or bottom, 0 along the whole frame
    int atX = 0, atY = 0;      // the frames' edge column and row, where a side is
    Rect held;                 // the stack pixels whose values it holds
    Rect out;                  // the stack pixels the kernel carries them to, beyond the edge
    Sums sums;
};

struct FractionBins::Bin {
    Sums sums;                                   // the frames, padded, at their whole shifts
    int frames = 0;
    double fractionX = 0, fractionY = 0;         // the frames' fractions summed
    Rect covered;                                // the frames' rectangles together
    std::vector<Edge> edges;
    std::vector<float> settled;                  // what settleArea gave area_, row by row
    bool stale = false;                          // frames came since
    std::size_t edgeBytes() const {
        std::size_t bytes = 0;
        for (const Edge& edge : edges) bytes += edge.sums.bytes();
        return bytes;
    }
};

FractionBins::FractionBins(const ResampleFilter& interpolation)
    : interpolation_(interpolation), reach_(static_cast<int>(std::ceil(interpolation.support))) {}

FractionBins::~FractionBins() = default;

void FractionBins::add(Workspace& workspace, const Bitmap24& source, int x0, int x1, int y0, int y1, int sourceDx,
                       int sourceDy, int stackDx, int stackDy, int limitX, int limitY, float fractionX,
                       float fractionY) {
    if (x0 > x1 || y0 > y1 || limitX < 1 || limitY < 1) return;
    // The fraction to the nearest quarter, as 0, 1/4, 1/2 or 3/4 beside a
    // whole pixel more or less: a frame at -1/4 reads what one a pixel
    // further back reads at 3/4.
    const auto quarter = [](float fraction, int& key, int& carry) {
        const int quarters = static_cast<int>(std::lround(4.0f * fraction));
        key = ((quarters % 4) + 4) % 4;
        carry = (quarters - key) / 4;
    };
    int keyX, carryX, keyY, carryY;
    quarter(fractionX, keyX, carryX);
    quarter(fractionY, keyY, carryY);
    std::unique_ptr<Bin>& slot = bins_[static_cast<std::size_t>(keyY * 4 + keyX)];
    if (!slot) slot = std::make_unique<Bin>();
    Bin& bin = *slot;
    if (bin.frames == MostFrames) flush(workspace, bin);

    // Stack (x, y) reads source (x + dx, y + dy), the source's edges repeated.
    const int dx = sourceDx - stackDx + carryX, dy = sourceDy - stackDy + carryY;
    const Rect frame{x0 + stackDx, x1 + stackDx, y0 + stackDy, y1 + stackDy};
    const Rect padded = grown(frame, reach_);
    bin.sums.cover(padded, Slack);
    bin.sums.add(padded, source, dx, dy, limitX, limitY);
    ++bin.frames;
    bin.fractionX += fractionX - static_cast<float>(carryX);
    bin.fractionY += fractionY - static_cast<float>(carryY);
    bin.covered = unite(bin.covered, frame);
    bin.stale = true;

    // The frame's values by each side and corner, beyond which the kernel
    // carries them to pixels the frame does not cover.
    const int r = reach_;
    for (int sideY = -1; sideY <= 1; ++sideY)
        for (int sideX = -1; sideX <= 1; ++sideX) {
            if (sideX == 0 && sideY == 0) continue;
            Rect held = padded, ring = grown(padded, r);
            const int atX = sideX < 0 ? frame.x0 : sideX > 0 ? frame.x1 : 0;
            const int atY = sideY < 0 ? frame.y0 : sideY > 0 ? frame.y1 : 0;
            if (sideX < 0) held.x1 = std::min(held.x1, atX + r - 1), ring.x1 = atX - 1;
            if (sideX > 0) held.x0 = std::max(held.x0, atX - r + 1), ring.x0 = atX + 1;
            if (sideY < 0) held.y1 = std::min(held.y1, atY + r - 1), ring.y1 = atY - 1;
            if (sideY > 0) held.y0 = std::max(held.y0, atY - r + 1), ring.y0 = atY + 1;
            if (intersect(ring, Planes).empty()) continue;  // beyond the planes nothing is made
            auto edge = std::find_if(bin.edges.begin(), bin.edges.end(), [&](const Edge& e) {
                return e.sideX == sideX && e.sideY == sideY && e.atX == atX && e.atY == atY;
            });
            if (edge == bin.edges.end()) {
                bin.edges.push_back({sideX, sideY, atX, atY, {}, {}, {}});
                edge = bin.edges.end() - 1;
            }
            edge->held = unite(edge->held, held);
            edge->out = unite(edge->out, intersect(grown(held, r), ring));
            edge->sums.cover(held, 0);
            edge->sums.add(held, source, dx, dy, limitX, limitY);
        }

    // Frames whose rectangles all differ would keep eight edges each.
    std::size_t edgeBytes = 0, most = 0;
    Bin* largest = nullptr;
    for (const std::unique_ptr<Bin>& other : bins_) {
        if (!other) continue;
        const std::size_t bytes = other->edgeBytes();
        edgeBytes += bytes;
        if (bytes >= most) most = bytes, largest = other.get();
    }
    if (edgeBytes > MostEdgeBytes) flush(workspace, *largest);
}

void FractionBins::settleArea(Workspace& workspace, int x0, int x1, int y0, int y1) {
    const Rect wanted = intersect({x0, x1, y0, y1}, Planes);
    if (wanted.empty()) return;
    const Rect area = unite(area_, wanted);
    const bool moved = !same(area, area_);
    const std::size_t n = areaOf(area) * 3;
    if (moved) {
        // What was settled before keeps its place within the larger area.
        for (const std::unique_ptr<Bin>& bin : bins_) {
            if (!bin) continue;
            std::vector<float> larger(n, 0.0f);
            if (!bin->settled.empty())
                for (int y = area_.y0; y <= area_.y1; ++y)
                    std::copy_n(bin->settled.data() + static_cast<std::size_t>(y - area_.y0) * widthOf(area_) * 3,
                                widthOf(area_) * 3,
                                larger.data() + (static_cast<std::size_t>(y - area.y0) * widthOf(area) +
                                                 (area_.x0 - area.x0)) * 3);
            bin->settled = std::move(larger);
        }
        area_ = area;
    }
    for (const std::unique_ptr<Bin>& bin : bins_) {
        if (!bin || bin->frames == 0) continue;
        const bool fresh = bin->settled.size() != n;  // a bin that came since
        if (fresh) bin->settled.assign(n, 0.0f);
        if (!(bin->stale || moved || fresh)) continue;
        fresh_.assign(n, 0.0f);
        const Rect part = intersect(area, bin->covered);
        if (!part.empty()) {
            const std::array<Kernel, 2> kernel = kernels(*bin);
            interpolateRows(*bin, part, kernel[0], kernel[1], fresh_.data(), area);
            for (const Edge& edge : bin->edges)
                takeOffEdge(edge, intersect(part, edge.out), kernel[0], kernel[1], rowsOver(fresh_.data(), area));
        }
        difference(fresh_.data(), bin->settled.data(), n);
        addRowsToPlanes(workspace, fresh_.data(), area, 1.0f);
        bin->stale = false;
    }
}

void FractionBins::settle(Workspace& workspace) {
    Rect all;
    std::array<std::array<Kernel, 2>, 16> kernel;
    for (std::size_t k = 0; k < bins_.size(); ++k) {
        if (!bins_[k] || bins_[k]->frames == 0) continue;
        unsettle(workspace, *bins_[k]);
        kernel[k] = kernels(*bins_[k]);
        all = unite(all, bins_[k]->covered);
    }
    if (!all.empty()) {
        // Row by row into one buffer, which goes into the planes' columns once.
        rows_.assign(areaOf(all) * 3, 0.0f);
        for (std::size_t k = 0; k < bins_.size(); ++k)
            if (bins_[k] && bins_[k]->frames > 0)
                interpolateRows(*bins_[k], bins_[k]->covered, kernel[k][0], kernel[k][1], rows_.data(), all);
        addRowsToPlanes(workspace, rows_.data(), all, 1.0f);
    }
    for (std::size_t k = 0; k < bins_.size(); ++k) {
        if (!bins_[k]) continue;
        for (const Edge& edge : bins_[k]->edges)
            takeOffEdge(edge, intersect(bins_[k]->covered, edge.out), kernel[k][0], kernel[k][1],
                        planesOf(workspace));
        bins_[k].reset();
    }
    area_ = {};
}

void FractionBins::flush(Workspace& workspace, Bin& bin) {
    if (bin.frames > 0) {
        unsettle(workspace, bin);
        const std::array<Kernel, 2> kernel = kernels(bin);
        rows_.assign(areaOf(bin.covered) * 3, 0.0f);
        interpolateRows(bin, bin.covered, kernel[0], kernel[1], rows_.data(), bin.covered);
        addRowsToPlanes(workspace, rows_.data(), bin.covered, 1.0f);
        for (const Edge& edge : bin.edges)
            takeOffEdge(edge, intersect(bin.covered, edge.out), kernel[0], kernel[1], planesOf(workspace));
        std::memset(bin.sums.lanes.get(), 0, bin.sums.bytes());
    }
    bin.frames = 0;
    bin.fractionX = bin.fractionY = 0;
    bin.covered = {};
    bin.edges.clear();
    std::fill(bin.settled.begin(), bin.settled.end(), 0.0f);
    bin.stale = false;
}

void FractionBins::unsettle(Workspace& workspace, const Bin& bin) const {
    if (!bin.settled.empty()) addRowsToPlanes(workspace, bin.settled.data(), area_, -1.0f);
}

void FractionBins::addRowsToPlanes(Workspace& workspace, const float* rows, const Rect& r, float sign) {
    const std::size_t stride = static_cast<std::size_t>(widthOf(r)) * 3;
    float* const plane[3] = {workspace.StackB.data(), workspace.StackG.data(), workspace.StackR.data()};
    int columns = 0, blockRows = 0;
#if defined(PLANEXOR_HAS_WIDE)
    if (wideVectorsAvailable()) {
        columns = widthOf(r) & ~7;
        blockRows = heightOf(r) & ~7;
        for (int i = 0; i < columns; i += 8)
            for (int j = 0; j < blockRows; j += 8)
                rowsToPlanesWide(rows + static_cast<std::size_t>(j) * stride + static_cast<std::size_t>(i) * 3, stride,
                                 plane, r.x0 + i, r.y0 + j, sign);
    }
#endif
    // What is left: the rows below the blocks, and the columns at the right.
    for (int i = 0; i < widthOf(r); ++i)
        for (int c = 0; c < 3; ++c) {
            float* column = plane[c] + static_cast<std::size_t>(r.x0 + i) * TFloatPlane::Stride + r.y0;
            const float* in = rows + static_cast<std::size_t>(i) * 3 + c;
            for (int j = i < columns ? blockRows : 0; j < heightOf(r); ++j)
                column[j] += sign * in[static_cast<std::size_t>(j) * stride];
        }
}

std::array<Kernel, 2> FractionBins::kernels(const Bin& bin) const {
    std::array<Kernel, 2> both;
    for (int axis = 0; axis < 2; ++axis) {
        const double mean = (axis == 0 ? bin.fractionX : bin.fractionY) / bin.frames;
        both[axis] = kernelFor(interpolation_.function, interpolation_.support, static_cast<float>(mean));
        if (both[axis].first < -reach_ || both[axis].first + both[axis].count - 1 > reach_)
            throw PlanexorError("Interpolation beyond its reach");
    }
    return both;
}

void FractionBins::interpolateRows(const Bin& bin, const Rect& area, const Kernel& across, const Kernel& down,
                                   float* rows, const Rect& frame) {
    const int n = 3 * widthOf(area);                // values made per row
    const int length = 3 * (widthOf(area) + across.count - 1);  // values read per row
    const int firstColumn = area.x0 + across.first;
    const int taps = down.count;
    ring_.resize(static_cast<std::size_t>(taps) * length);
    downRow_.resize(static_cast<std::size_t>(length));
    const std::size_t stride = static_cast<std::size_t>(widthOf(frame)) * 3;
    const bool wide = wideVectorsAvailable();
    // Row r of the sums, as floats, lies in the ring at r modulo the taps.
    const auto ringRow = [&](int row) {
        return ring_.data() + static_cast<std::size_t>(((row % taps) + taps) % taps) * length;
    };
    int next = area.y0 + down.first;  // the next row to make floats of
    for (int y = area.y0; y <= area.y1; ++y) {
        for (; next <= y + down.first + taps - 1; ++next) {
            const std::uint16_t* sums = bin.sums.at(firstColumn, next);
            float* row = ringRow(next);
#if defined(PLANEXOR_HAS_WIDE)
            if (wide) {
                sumsToFloatsWide(row, sums, length);
                continue;
            }
#endif
            for (int i = 0; i < length; ++i) row[i] = sums[i];
        }
        const float* read[8];
        for (int k = 0; k < taps; ++k) read[k] = ringRow(y + down.first + k);
        float* out =
            rows + static_cast<std::size_t>(y - frame.y0) * stride + static_cast<std::size_t>(area.x0 - frame.x0) * 3;
#if defined(PLANEXOR_HAS_WIDE)
        if (wide) {
            if (taps == 6) downRowWide<6>(downRow_.data(), read, down.weights.data(), taps, length);
            else downRowWide<0>(downRow_.data(), read, down.weights.data(), taps, length);
            if (across.count == 6) acrossRowWide<6>(out, downRow_.data(), across.weights.data(), across.count, n);
            else acrossRowWide<0>(out, downRow_.data(), across.weights.data(), across.count, n);
            continue;
        }
#endif
        for (int i = 0; i < length; ++i) {
            float sum = down.weights[0] * read[0][i];
            for (int k = 1; k < taps; ++k) sum += down.weights[static_cast<std::size_t>(k)] * read[k][i];
            downRow_[static_cast<std::size_t>(i)] = sum;
        }
        for (int i = 0; i < n; ++i) {
            float sum = across.weights[0] * downRow_[static_cast<std::size_t>(i)];
            for (int k = 1; k < across.count; ++k)
                sum += across.weights[static_cast<std::size_t>(k)] * downRow_[static_cast<std::size_t>(i + 3 * k)];
            out[i] += sum;
        }
    }
}

// An edge's values interpolated, over `area` (within its reach beyond the
// edge), taken off or given back: along its lines, zeros beyond what it holds.
void FractionBins::takeOffEdge(const Edge& edge, const Rect& area, const Kernel& across, const Kernel& down,
                               const Target& target) {
    if (area.empty()) return;
    const int pad = 2 * reach_;
    const Rect& held = edge.held;
    // Lines are columns (moved across first) or rows (moved down first).
    const bool byRows = edge.sideX == 0;
    const int heldLines = byRows ? heightOf(held) : widthOf(held);
    const int along = byRows ? widthOf(held) : heightOf(held);
    edgeValues_.resize(areaOf(held) * 3);
    if (byRows) {
        for (int y = held.y0; y <= held.y1; ++y) {
            const std::uint16_t* sums = edge.sums.at(held.x0, y);
            float* values[3];
            for (int c = 0; c < 3; ++c)
                values[c] = edgeValues_.data() + (static_cast<std::size_t>(c) * heldLines + (y - held.y0)) * along;
            for (int i = 0; i < along; ++i, sums += 3)
                for (int c = 0; c < 3; ++c) values[c][i] = sums[c];
        }
    } else {
        for (int y = held.y0; y <= held.y1; ++y) {
            const std::uint16_t* sums = edge.sums.at(held.x0, y);
            for (int line = 0; line < heldLines; ++line, sums += 3)
                for (int c = 0; c < 3; ++c)
                    edgeValues_[(static_cast<std::size_t>(c) * heldLines + line) * along + (y - held.y0)] = sums[c];
        }
    }
    const float sign = edge.sideX != 0 && edge.sideY != 0 ? 1.0f : -1.0f;
    const Kernel& first = byRows ? down : across;
    const Kernel& second = byRows ? across : down;
    const int lineFrom = byRows ? area.y0 : area.x0, lineTo = byRows ? area.y1 : area.x1;
    const int heldLine0 = byRows ? held.y0 : held.x0;
    const int outFrom = byRows ? area.x0 : area.y0, outCount = byRows ? widthOf(area) : heightOf(area);
    const int heldAlong0 = byRows ? held.x0 : held.y0;
    moved_.resize(static_cast<std::size_t>(along + 2 * pad));
    made_.resize(static_cast<std::size_t>(outCount));
    for (int line = lineFrom; line <= lineTo; ++line)
        for (int c = 0; c < 3; ++c) {
            std::fill(moved_.begin(), moved_.end(), 0.0f);
            for (int k = 0; k < first.count; ++k) {
                const int from = line + first.first + k - heldLine0;
                if (from < 0 || from >= heldLines) continue;
                const float weight = first.weights[static_cast<std::size_t>(k)];
                const float* values = edgeValues_.data() + (static_cast<std::size_t>(c) * heldLines + from) * along;
                addScaled(moved_.data() + pad, values, weight, along);
            }
            filtered(made_.data(), moved_.data() + pad + outFrom + second.first - heldAlong0, 1,
                     second.weights.data(), second.count, outCount);
            if (!byRows && target.yStride == 1) {
                addScaled(target.at(c, line, area.y0), made_.data(), sign, outCount);
            } else {
                float* out = byRows ? target.at(c, area.x0, line) : target.at(c, line, area.y0);
                const std::ptrdiff_t step = byRows ? target.xStride : target.yStride;
                for (int i = 0; i < outCount; ++i) out[i * step] += sign * made_[static_cast<std::size_t>(i)];
            }
        }
}

}  // namespace planexor
