#pragma once
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>
#include <string>

namespace planexor {

inline constexpr int MaxImageSide = 1024;
inline constexpr int PlaneSide = 1031;  // 7 spare columns and rows beyond the largest image
// Floats from one column of a plane to the next: one more than a column
// holds, so that every column starts 32 bytes aligned and eight of its
// values are stored in one cache line.
inline constexpr int PlaneColumnStride = 1032;
inline constexpr int MaxFrames = 2501;    // frame numbers 0..2500
inline constexpr int LastFrameNumber = MaxFrames - 1;

// A fixed 1031 x 1031 plane addressed [x][y], x-major: one column is
// contiguous, Stride values from the next. Allocated once, zeroed, never
// resized. The zeros come from calloc, which takes pages the system has
// already cleared: the window's two dozen planes cost nothing at start-up
// until a run first writes them.
template <typename T>
class FixedPlane {
    static_assert(std::is_arithmetic_v<T>, "a plane of numbers, whose zero is all bits clear");

public:
    static constexpr int Stride = PlaneColumnStride;
    static constexpr std::size_t Size = static_cast<std::size_t>(Stride) * PlaneSide;

    FixedPlane() : block_(static_cast<T*>(std::calloc(Size + Alignment / sizeof(T), sizeof(T)))) {
        if (!block_) throw std::bad_alloc();
        values_ = reinterpret_cast<T*>((reinterpret_cast<std::uintptr_t>(block_.get()) + Alignment - 1) &
                                       ~std::uintptr_t{Alignment - 1});
    }
    FixedPlane(const FixedPlane&) = delete;
    FixedPlane& operator=(const FixedPlane&) = delete;

    T* operator[](int x) { return values_ + static_cast<std::size_t>(x) * Stride; }
    const T* operator[](int x) const { return values_ + static_cast<std::size_t>(x) * Stride; }
    T* data() { return values_; }
    const T* data() const { return values_; }
    void clear() { fill(T{}); }
    // Eight values a store: the compiler leaves std::fill of a non-zero value
    // one value at a time, several times slower than writing the memory.
    void fill(T value) {
        typedef T Lanes __attribute__((vector_size(32)));
        Lanes lanes;
        for (std::size_t i = 0; i < sizeof lanes / sizeof(T); ++i) lanes[i] = value;
        T* values = values_;
        std::size_t i = 0;
        for (; i + sizeof lanes / sizeof(T) <= Size; i += sizeof lanes / sizeof(T))
            std::memcpy(values + i, &lanes, sizeof lanes);
        std::fill(values + i, values + Size, value);
    }
    // Loading into a scratch plane and swapping it in leaves the old content
    // in force when the load fails.
    void swap(FixedPlane& other) noexcept {
        block_.swap(other.block_);
        std::swap(values_, other.values_);
    }

private:
    static constexpr std::size_t Alignment = 64;  // a cache line
    struct Release {
        void operator()(T* values) const { std::free(values); }
    };
    std::unique_ptr<T, Release> block_;
    T* values_ = nullptr;  // the first line boundary in block_
};

using TFloatPlane = FixedPlane<float>;
using TCountPlane = FixedPlane<std::int32_t>;

struct TFrameRec {
    std::int32_t ShiftX = 0;
    std::int32_t ShiftY = 0;
    std::int32_t FieldShiftX = 0;
    std::int32_t FieldShiftY = 0;
    float Quality = 0;
    float Difference = 0;
    float FieldQuality = 0;
    float FieldDifference = 0;
    std::uint8_t Excluded = 0;
    // Sub-pixel registration: the fraction found beside the whole shift, in
    // the shift's own unit, so the frame lies at ShiftX + SubShiftX. Zero
    // unless asked for; a project keeps them in a section of their own.
    float SubShiftX = 0;
    float SubShiftY = 0;
    float FieldSubShiftX = 0;
    float FieldSubShiftY = 0;

    bool operator==(const TFrameRec&) const = default;
};

struct TRankEntry {
    std::int32_t Frame = 0;
    float Quality = 0;
    float StackQuality = 0;

    bool operator==(const TRankEntry&) const = default;
};

enum class InputKind : std::uint8_t { Avi = 0, Bmp = 1, Fits = 2, Jpg = 3, Ser = 4 };

// The one workspace: the opened sequence and everything derived from it.
// The planes take about 55 MB and live as long as the program.
struct Workspace {
    Workspace();

    TFloatPlane StackR, StackG, StackB;
    TCountPlane StackCount;
    TFloatPlane DarkR, DarkG, DarkB;
    TFloatPlane FlatR, FlatG, FlatB;
    // A grey dark or flat (every FITS one) is held once, in green, which then
    // stands for all three channels: loading it writes a third of the memory.
    // Read the calibration through darkPlane/flatPlane (0 red, 1 green, 2 blue).
    bool DarkGrey = false, FlatGrey = false;
    const TFloatPlane& darkPlane(int channel) const {
        return DarkGrey ? DarkG : channelOf(channel, DarkR, DarkG, DarkB);
    }
    const TFloatPlane& flatPlane(int channel) const {
        return FlatGrey ? FlatG : channelOf(channel, FlatR, FlatG, FlatB);
    }
    TFloatPlane ProcR, ProcG, ProcB;

    // Frame source.
    std::uint8_t InputType = 0;
    bool StillFrames = false;
    bool JpegFrames = false;
    bool SingleImage = false;
    std::string SourceFile = "none";
    std::array<std::string, MaxFrames> FrameFiles;

    // Image sizes.
    std::int32_t OrigWidth = 0, OrigHeight = 0;
    std::int32_t FrameWidth = 0, FrameHeight = 0;
    std::int32_t ImageWidth = 0, ImageHeight = 0;
    std::int32_t StackWidth = 0, StackHeight = 0;
    std::int32_t DarkWidth = 0, DarkHeight = 0;
    std::int32_t FlatWidth = 0, FlatHeight = 0;

    std::array<TFrameRec, MaxFrames> FrameRecs{};
    std::array<TRankEntry, MaxFrames> Ranking{};

    // Positions and counts.
    std::int32_t hotx = 0, hoty = 0;
    std::int32_t stackx = 0, stacky = 0;
    std::int32_t refframe = 0;
    std::int32_t usedframes = 0;
    std::int32_t CurrentFrame = 0;
    std::int32_t CurrentField = 1;
    std::int32_t ApplyShiftX = 0, ApplyShiftY = 0;
    float ApplySubShiftX = 0, ApplySubShiftY = 0;  // the fraction beside it, read by sub-pixel stacking
    float FrameWeight = 1.0f;
    float ResampleFactor = 2.0f;
    std::int32_t StackOffsetX = 0, StackOffsetY = 0;
    std::int32_t MinShiftX = 0, MinShiftY = 0, MaxShiftX = 0, MaxShiftY = 0;
    float StackMin = 0, StackMax = 0;
    std::string darkfile, flatfile;
    std::int32_t darkfiletype = 0, flatfiletype = 0;

    std::uint8_t progstatus = 0;

    // Run flags.
    bool StopRequested = false;
    bool AlignRun = false;
    bool StackRun = false;
    bool DarkCreation = false;
    bool StackReady = false;
    // The stack planes hold three channels: "Colour processing" may be ticked
    // after a mono stack, whose red and blue planes are empty.
    bool StackColour = false;
    bool SetMiddleMode = false;
    bool SequenceOpen = false;

    // The reset that opening a sequence does before its dialog is shown.
    // Planes, dark frame, flat field and their sizes are kept.
    void resetForOpening();

    // Number of frames 0..lastFrame that are not excluded.
    int countUsedFrames(int lastFrame) const;

private:
    static const TFloatPlane& channelOf(int channel, const TFloatPlane& red, const TFloatPlane& green,
                                        const TFloatPlane& blue) {
        return channel == 0 ? red : channel == 1 ? green : blue;
    }
};

// Display transfer curve: entry i = (0.000001 + 0.001 i) ^ (1 / g).
struct GammaCurve {
    std::array<double, 1001> values{};
    void build(double gamma);
};

}  // namespace planexor
