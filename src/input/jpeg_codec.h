#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/bitmap24.h"

namespace planexor {

// JPEG through libjpeg's classic API. Every libjpeg error becomes a
// PlanexorError; libjpeg never exits the process. Grey JPEGs become 24-bit.
void decodeJpegFile(const std::string& path, Bitmap24& into);
void decodeJpegMemory(const std::uint8_t* data, std::size_t size, Bitmap24& into);

// Baseline JPEG of a 24-bit bitmap.
std::vector<std::uint8_t> encodeJpeg(const Bitmap24& image, int quality = 90);
void writeJpegFile(const std::string& path, const Bitmap24& image, int quality = 90);

}  // namespace planexor
