#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/bitmap24.h"

namespace planexor {

// Windows BMP: reads 1-, 4-, 8-bit palette, 24- and 32-bit, bottom-up and
// top-down; writes 24-bit bottom-up. A damaged or absurd file is refused
// with a PlanexorError before anything large is allocated.
void readBmpFile(const std::string& path, Bitmap24& into);
void decodeBmp(const std::uint8_t* data, std::size_t size, Bitmap24& into);

std::vector<std::uint8_t> encodeBmp(const Bitmap24& image);
void writeBmpFile(const std::string& path, const Bitmap24& image);

}  // namespace planexor
