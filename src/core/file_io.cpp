#include "core/file_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
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

AtomicFileWriter::AtomicFileWriter(const std::string& path) : path_(path) {
    // A name of our own beside the target keeps the rename on one file
    // system; 0666 lets the umask decide, as for any file the user creates.
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100 && descriptor_ < 0; ++attempt) {
        temporary_ = path + ".part" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        descriptor_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor_ < 0 && errno != EEXIST) break;
    }
    if (descriptor_ < 0) {
        const std::string reason = std::strerror(errno);
        temporary_.clear();
        throw PlanexorError("Cannot write " + path + ": " + reason);
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void AtomicFileWriter::fail(const std::string& reason) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
    ::unlink(temporary_.c_str());
    temporary_.clear();
    throw PlanexorError("Cannot write " + path_ + ": " + reason);
}

void AtomicFileWriter::write(const void* data, std::size_t size) {
    if (descriptor_ < 0) throw PlanexorError("Cannot write " + path_ + ": the file is already closed");
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(descriptor_, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) fail(written < 0 ? std::strerror(errno) : "nothing could be written");
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

void AtomicFileWriter::finish() {
    if (descriptor_ < 0) throw PlanexorError("Cannot write " + path_ + ": the file is already closed");
    // A full disk may only show when the data reaches it.
    if (::fsync(descriptor_) != 0) fail(std::strerror(errno));
    const int closed = ::close(descriptor_);
    descriptor_ = -1;
    if (closed != 0) fail(std::strerror(errno));
}

void AtomicFileWriter::commit() {
    if (temporary_.empty()) throw PlanexorError("Cannot write " + path_ + ": the file is already closed");
    if (descriptor_ >= 0) finish();
    if (std::rename(temporary_.c_str(), path_.c_str()) != 0) fail(std::strerror(errno));
    temporary_.clear();
}

void writeFileAtomically(const std::string& path, const void* data, std::size_t size) {
    AtomicFileWriter file(path);
    file.write(data, size);
    file.commit();
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
