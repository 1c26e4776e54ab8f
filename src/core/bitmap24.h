#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace planexor {

// A 24-bit picture: rows top to bottom, three bytes per pixel, blue green red.
// Rows are packed (no padding). Resizing keeps the allocation when it is large
// enough, so a frame loop that decodes into the same bitmap never allocates.
class Bitmap24 {
public:
    Bitmap24() = default;
    Bitmap24(int width, int height) { resize(width, height); }

    void resize(int width, int height);
    void reserve(int width, int height) { pixels_.reserve(byteCount(width, height)); }
    void fill(std::uint8_t blue, std::uint8_t green, std::uint8_t red);

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ == 0 || height_ == 0; }
    std::size_t rowBytes() const { return static_cast<std::size_t>(width_) * 3; }

    std::uint8_t* row(int y) { return pixels_.data() + static_cast<std::size_t>(y) * rowBytes(); }
    const std::uint8_t* row(int y) const { return pixels_.data() + static_cast<std::size_t>(y) * rowBytes(); }
    std::uint8_t* pixel(int x, int y) { return row(y) + static_cast<std::size_t>(x) * 3; }
    const std::uint8_t* pixel(int x, int y) const { return row(y) + static_cast<std::size_t>(x) * 3; }
    std::uint8_t* data() { return pixels_.data(); }
    const std::uint8_t* data() const { return pixels_.data(); }

    bool operator==(const Bitmap24& other) const {
        return width_ == other.width_ && height_ == other.height_ && pixels_ == other.pixels_;
    }

    static std::size_t byteCount(int width, int height) {
        return static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3;
    }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<std::uint8_t> pixels_;
};

}  // namespace planexor
