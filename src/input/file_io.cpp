#include "input/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "core/error.h"

namespace planexor {

std::vector<std::uint8_t> readWholeFile(const std::string& path, std::size_t sizeLimit) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw PlanexorError("Cannot open " + path);
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) throw PlanexorError("Cannot read " + path);
    if (static_cast<std::uint64_t>(size) > sizeLimit) throw PlanexorError("File too large: " + path);
    in.seekg(0, std::ios::beg);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size))
        throw PlanexorError("Cannot read " + path);
    return bytes;
}

void writeFileAtomically(const std::string& path, const void* data, std::size_t size) {
    const std::string temporary = path + ".part" + std::to_string(::getpid());
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) throw PlanexorError("Cannot write " + path + ": " + std::strerror(errno));
    const bool written = std::fwrite(data, 1, size, file) == size;
    const bool flushed = std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
    const bool closed = std::fclose(file) == 0;
    if (!written || !flushed || !closed) {
        std::remove(temporary.c_str());
        throw PlanexorError("Cannot write " + path + " (disk full?)");
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        throw PlanexorError("Cannot write " + path + ": " + reason);
    }
}

void writeFileAtomically(const std::string& path, const std::string& text) {
    writeFileAtomically(path, text.data(), text.size());
}

std::string fileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string directoryOf(const std::string& path) {
    return std::filesystem::path(path).parent_path().string();
}

std::string lowerExtensionOf(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

std::string baseNameOf(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    return (std::filesystem::path(directory) / name).string();
}

}  // namespace planexor
