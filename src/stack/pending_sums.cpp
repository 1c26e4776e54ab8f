#include "stack/pending_sums.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#include "core/vector_lanes.h"

namespace planexor {

namespace {

// Zeroed memory that costs nothing until it is written.
template <typename T>
T* zeroed(std::size_t count) {
    void* memory = std::calloc(count, sizeof(T));
    if (!memory) throw std::bad_alloc();
    return static_cast<T*>(memory);
}

#ifdef PLANEXOR_HAS_WIDE
PLANEXOR_WIDE std::size_t addBytesWide(std::uint16_t* __restrict sums, const std::uint8_t* __restrict bytes,
                                       std::size_t n) {
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)));
        __m256i* at = reinterpret_cast<__m256i*>(sums + i);
        _mm256_storeu_si256(at, _mm256_add_epi16(_mm256_loadu_si256(at), b));
    }
    return i;
}
#endif

void addBytes(std::uint16_t* __restrict sums, const std::uint8_t* __restrict bytes, std::size_t n) {
    std::size_t i = 0;
#ifdef PLANEXOR_HAS_WIDE
    if (useWideVectors(VectorCode::Best)) i = addBytesWide(sums, bytes, n);
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        __m128i* low = reinterpret_cast<__m128i*>(sums + i);
        __m128i* high = reinterpret_cast<__m128i*>(sums + i + 8);
        _mm_storeu_si128(low, _mm_add_epi16(_mm_loadu_si128(low), _mm_unpacklo_epi8(b, zero)));
        _mm_storeu_si128(high, _mm_add_epi16(_mm_loadu_si128(high), _mm_unpackhi_epi8(b, zero)));
    }
#endif
    for (; i < n; ++i) sums[i] = static_cast<std::uint16_t>(sums[i] + bytes[i]);
}

}  // namespace

void addByteSums(std::uint16_t* sums, const std::uint8_t* bytes, std::size_t n) { addBytes(sums, bytes, n); }

void PendingSums::Release::operator()(void* memory) const { std::free(memory); }

// Room for two fields of every frame, so adding frames allocates nothing.
PendingSums::PendingSums() {
    counted_.reserve(2 * MaxFrames);
    edges_.reserve(4 * MaxFrames);
    profile_.resize(Side + 1);
}

void PendingSums::add(Workspace& workspace, const Bitmap24& source, int x0, int x1, int y0, int y1, int sourceDx,
                      int sourceDy, int stackDx, int stackDy) {
    if (x0 > x1 || y0 > y1) return;
    if (frames_ == MostFrames) settleValues(workspace, left_, right_, top_, bottom_);
    if (!values_) values_.reset(zeroed<std::uint16_t>(static_cast<std::size_t>(Side) * Side * 3));
    ++frames_;

    const int left = x0 + stackDx, right = x1 + stackDx, top = y0 + stackDy, bottom = y1 + stackDy;
    const std::size_t n = static_cast<std::size_t>(x1 - x0 + 1) * 3;
    for (int y = y0; y <= y1; ++y) {
        const std::uint8_t* bytes =
            source.row(y + sourceDy) + static_cast<std::size_t>(x0 + sourceDx) * 3;
        std::uint16_t* sums = values_.get() + (static_cast<std::size_t>(y + stackDy) * Side + left) * 3;
        addBytes(sums, bytes, n);
    }
    left_ = std::min(left_, left);
    right_ = std::max(right_, right);
    top_ = std::min(top_, top);
    bottom_ = std::max(bottom_, bottom);
    count(left, right, top, bottom);
}

void PendingSums::count(int left, int right, int top, int bottom) {
    if (left > right || top > bottom) return;
    counted_.push_back({left, right, top, bottom});
}

void PendingSums::settleArea(Workspace& workspace, int x0, int x1, int y0, int y1) {
    settleValues(workspace, std::max(x0, left_), std::min(x1, right_), std::max(y0, top_), std::min(y1, bottom_));
}

void PendingSums::settle(Workspace& workspace) {
    settleValues(workspace, left_, right_, top_, bottom_);
    frames_ = 0;
    left_ = top_ = Side;
    right_ = bottom_ = -1;
    settleCounts(workspace);
}

void PendingSums::settleValues(Workspace& workspace, int x0, int x1, int y0, int y1) {
    if (!values_ || x0 > x1 || y0 > y1) return;
    // Eight stack columns at a time: each row of pending values is read once,
    // and each column of the planes is walked along its contiguous axis.
    constexpr int Band = 8;
    for (int band = x0; band <= x1; band += Band) {
        const int columns = std::min(x1 - band + 1, Band);
        float* blue[Band];
        float* green[Band];
        float* red[Band];
        for (int i = 0; i < columns; ++i) {
            blue[i] = workspace.StackB[band + i];
            green[i] = workspace.StackG[band + i];
            red[i] = workspace.StackR[band + i];
        }
        int y = y0;
#if defined(__SSE2__)
        // Four rows at a time: four sums of a column become one vector of its plane.
        for (; y + 3 <= y1; y += 4) {
            std::uint16_t* row[4];
            row[0] = values_.get() + (static_cast<std::size_t>(y) * Side + band) * 3;
            for (int r = 1; r < 4; ++r) row[r] = row[r - 1] + static_cast<std::size_t>(Side) * 3;
            for (int i = 0; i < columns; ++i) {
                float* planes[3] = {blue[i] + y, green[i] + y, red[i] + y};
                for (int c = 0; c < 3; ++c) {
                    const int k = 3 * i + c;
                    const __m128 v = _mm_cvtepi32_ps(_mm_setr_epi32(row[0][k], row[1][k], row[2][k], row[3][k]));
                    _mm_storeu_ps(planes[c], _mm_add_ps(_mm_loadu_ps(planes[c]), v));
                }
            }
            for (std::uint16_t* sums : row) std::fill_n(sums, 3 * columns, std::uint16_t{0});
        }
#endif
        for (; y <= y1; ++y) {
            std::uint16_t* sums = values_.get() + (static_cast<std::size_t>(y) * Side + band) * 3;
            for (int i = 0; i < columns; ++i) {
                blue[i][y] += sums[3 * i];
                green[i][y] += sums[3 * i + 1];
                red[i][y] += sums[3 * i + 2];
            }
            std::fill_n(sums, 3 * columns, std::uint16_t{0});
        }
    }
    // A whole settle empties every lane; part of one leaves the rest as full.
    if (x0 == left_ && x1 == right_ && y0 == top_ && y1 == bottom_) frames_ = 0;
}

void PendingSums::settleCounts(Workspace& workspace) {
    if (counted_.empty()) return;
    // Between two neighbouring rectangle edges every column lies in the same
    // rectangles, so it takes the same counts: one profile per stretch.
    edges_.clear();
    int top = Side, bottom = -1;
    for (const Rectangle& r : counted_) {
        edges_.push_back(r.left);
        edges_.push_back(r.right + 1);
        top = std::min(top, r.top);
        bottom = std::max(bottom, r.bottom);
    }
    std::sort(edges_.begin(), edges_.end());
    edges_.erase(std::unique(edges_.begin(), edges_.end()), edges_.end());
    for (std::size_t e = 0; e + 1 < edges_.size(); ++e) {
        const int from = edges_[e], to = edges_[e + 1];
        std::fill(profile_.begin() + top, profile_.begin() + bottom + 2, 0);
        bool covered = false;
        for (const Rectangle& r : counted_) {
            if (r.left > from || r.right < from) continue;
            covered = true;
            ++profile_[r.top];
            --profile_[r.bottom + 1];
        }
        if (!covered) continue;
        for (int y = top + 1; y <= bottom; ++y) profile_[y] += profile_[y - 1];
        for (int x = from; x < to; ++x) {
            std::int32_t* count = workspace.StackCount[x];
            for (int y = top; y <= bottom; ++y) count[y] += profile_[y];
        }
    }
    counted_.clear();
}

}  // namespace planexor
