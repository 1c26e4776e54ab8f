#include "core/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <fcntl.h>
#include <unistd.h>

#include "core/ascii_text.h"
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

namespace {

// The temporaries of the saves under way, in plain memory a signal handler
// may read. A save beyond the slots (never more than a colour FITS's three
// at once here) is only left to its destructor.
struct UnfinishedFile {
    char path[4096];
    volatile std::sig_atomic_t used;
};
UnfinishedFile unfinishedFiles[8];

int noteUnfinished(const std::string& path) {
    if (path.size() >= sizeof(UnfinishedFile::path)) return -1;
    for (int slot = 0; slot < static_cast<int>(std::size(unfinishedFiles)); ++slot) {
        UnfinishedFile& file = unfinishedFiles[slot];
        if (file.used) continue;
        std::memcpy(file.path, path.c_str(), path.size() + 1);
        std::atomic_signal_fence(std::memory_order_seq_cst);  // the name is whole before it counts
        file.used = 1;
        return slot;
    }
    return -1;
}

// Called once the temporary is gone or renamed: a signal before that finds
// at worst a name that no longer exists.
void forgetUnfinished(int& slot) {
    if (slot >= 0) unfinishedFiles[slot].used = 0;
    slot = -1;
}

extern "C" void removeUnfinishedAndEnd(int signal) {
    for (UnfinishedFile& file : unfinishedFiles)
        if (file.used) ::unlink(file.path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

void removeUnfinishedFilesOnSignals() {
    struct sigaction action {};
    action.sa_handler = removeUnfinishedAndEnd;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM}) sigaction(signal, &action, nullptr);
    // Past a file-size limit the write fails and is reported, rather than
    // the program ending without a word and leaving its temporary behind.
    std::signal(SIGXFSZ, SIG_IGN);
}

AtomicFileWriter::AtomicFileWriter(const std::string& path) : path_(path) {
    // A name of our own beside the target keeps the rename on one file
    // system; 0666 lets the umask decide, as for any file the user creates.
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100 && descriptor_ < 0; ++attempt) {
        // A short name of its own: the target's name with a suffix can pass NAME_MAX.
        temporary_ = (std::filesystem::path(path).parent_path() /
                      (".planexor-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".part"))
                         .string();
        descriptor_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor_ < 0 && errno != EEXIST) break;
    }
    if (descriptor_ < 0) {
        const std::string reason = std::strerror(errno);
        temporary_.clear();
        throw PlanexorError("Cannot write " + path + ": " + reason);
    }
    unfinishedSlot_ = noteUnfinished(temporary_);
}

AtomicFileWriter::~AtomicFileWriter() {
    if (descriptor_ >= 0) ::close(descriptor_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    forgetUnfinished(unfinishedSlot_);
}

void AtomicFileWriter::fail(const std::string& reason) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
    ::unlink(temporary_.c_str());
    forgetUnfinished(unfinishedSlot_);
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
    forgetUnfinished(unfinishedSlot_);
    temporary_.clear();
}

std::string pathThroughLinks(const std::string& path) {
    const std::filesystem::path given(path);
    if (std::none_of(given.begin(), given.end(), [](const std::filesystem::path& part) { return part == ".."; }))
        return given.lexically_normal().string();
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(given, error);
    const std::filesystem::path folder = error ? given : std::filesystem::weakly_canonical(full.parent_path(), error);
    return error ? given.lexically_normal().string() : (folder / full.filename()).string();
}

void makeFolderFor(const std::string& path) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::create_directories(folder, error) && error)
        throw PlanexorError("Cannot write " + path + ": its folder cannot be made (" + error.message() + ")");
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
    return lowerAsciiText(std::filesystem::path(path).extension().string());
}

std::string baseNameOf(const std::string& path) {
    return std::filesystem::path(path).stem().string();
}

std::string joinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    return (std::filesystem::path(directory) / name).string();
}

}  // namespace planexor
