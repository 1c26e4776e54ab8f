#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace planexor {

// Whole-file read; throws PlanexorError naming the file when it cannot.
std::vector<std::uint8_t> readWholeFile(const std::string& path, std::size_t sizeLimit);

// Writes to a temporary file beside the target and renames it over the target
// only when complete, so a failed save leaves the old file intact.
void writeFileAtomically(const std::string& path, const void* data, std::size_t size);
void writeFileAtomically(const std::string& path, const std::string& text);

std::string fileNameOf(const std::string& path);       // "dir/a.bmp" -> "a.bmp"
std::string directoryOf(const std::string& path);      // "dir/a.bmp" -> "dir"
std::string lowerExtensionOf(const std::string& path); // "A.BMP" -> ".bmp"
std::string baseNameOf(const std::string& path);       // "dir/a.bmp" -> "a"
std::string joinPath(const std::string& directory, const std::string& name);

}  // namespace planexor
