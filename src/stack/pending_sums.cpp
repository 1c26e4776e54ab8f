#include "stack/pending_sums.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace planexor {

namespace {

// Zeroed memory that costs nothing until it is written.
template <typename T>
T* zeroed(std::size_t count) {
    void* memory = std::calloc(count, sizeof(T));
    if (!memory) throw std::bad_alloc();
    return static_cast<T*>(memory);
}

void addBytes(std::uint16_t* __restrict sums, const std::uint8_t* __restrict bytes, std::size_t n) {
    std::size_t i = 0;
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

void PendingSums::Release::operator()(void* memory) const { std::free(memory); }

void PendingSums::add(Workspace& workspace, const Bitmap24& source, int x0, int x1, int y0, int y1, int sourceDx,
                      int sourceDy, int stackDx, int stackDy) {
    if (x0 > x1 || y0 > y1) return;
    if (frames_ == MostFrames) settleValues(workspace, left_, right_, top_, bottom_);
    if (!values_) values_.reset(zeroed<std::uint16_t>(static_cast<std::size_t>(Side) * Side * 3));
    if (!corners_) corners_.reset(zeroed<std::int32_t>(static_cast<std::size_t>(CornerSide) * CornerSide));
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

    // Each count rises by one over the rectangle: four corner marks, summed
    // out when the counts are settled.
    std::int32_t* corners = corners_.get();
    corners[static_cast<std::size_t>(top) * CornerSide + left] += 1;
    corners[static_cast<std::size_t>(top) * CornerSide + right + 1] -= 1;
    corners[static_cast<std::size_t>(bottom + 1) * CornerSide + left] -= 1;
    corners[static_cast<std::size_t>(bottom + 1) * CornerSide + right + 1] += 1;
    countLeft_ = std::min(countLeft_, left);
    countRight_ = std::max(countRight_, right);
    countTop_ = std::min(countTop_, top);
    countBottom_ = std::max(countBottom_, bottom);
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
        const int bandEnd = std::min(x1, band + Band - 1);
        for (int y = y0; y <= y1; ++y) {
            std::uint16_t* sums = values_.get() + (static_cast<std::size_t>(y) * Side + band) * 3;
            for (int x = band; x <= bandEnd; ++x, sums += 3) {
                workspace.StackB[x][y] += sums[0];
                workspace.StackG[x][y] += sums[1];
                workspace.StackR[x][y] += sums[2];
                sums[0] = sums[1] = sums[2] = 0;
            }
        }
    }
    // A whole settle empties every lane; part of one leaves the rest as full.
    if (x0 == left_ && x1 == right_ && y0 == top_ && y1 == bottom_) frames_ = 0;
}

void PendingSums::settleCounts(Workspace& workspace) {
    if (!corners_ || countLeft_ > countRight_) return;
    std::int32_t* corners = corners_.get();
    // Sums along each row, then down each column, give every count; the marks
    // are cleared on the way.
    for (int y = countTop_; y <= countBottom_; ++y) {
        std::int32_t* row = corners + static_cast<std::size_t>(y) * CornerSide;
        for (int x = countLeft_ + 1; x <= countRight_; ++x) row[x] += row[x - 1];
    }
    for (int x = countLeft_; x <= countRight_; ++x) {
        std::int32_t* count = workspace.StackCount[x];
        std::int32_t running = 0;
        for (int y = countTop_; y <= countBottom_; ++y) {
            running += corners[static_cast<std::size_t>(y) * CornerSide + x];
            count[y] += running;
        }
    }
    for (int y = countTop_; y <= countBottom_ + 1; ++y)
        std::fill(corners + static_cast<std::size_t>(y) * CornerSide + countLeft_,
                  corners + static_cast<std::size_t>(y) * CornerSide + countRight_ + 2, 0);
    countLeft_ = countTop_ = Side;
    countRight_ = countBottom_ = -1;
}

}  // namespace planexor
