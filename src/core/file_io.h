#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace planexor {

// Whole-file read; throws PlanexorError naming the file when it cannot.
std::vector<std::uint8_t> readWholeFile(const std::string& path, std::size_t sizeLimit);

// Writes a file in pieces to a temporary file beside the target and renames
// it over the target only on commit(), so a failed or abandoned save leaves
// the old file intact and no temporary behind. The file gets the permissions
// the umask gives any new file. Every failure throws PlanexorError naming the
// target and the reason.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const std::string& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(const void* data, std::size_t size);
    // Flushes and closes the temporary: the last step that can fail for lack of room.
    void finish();
    void commit();  // finish() if not done, then the rename

private:
    [[noreturn]] void fail(const std::string& reason);

    std::string path_;
    std::string temporary_;
    int descriptor_ = -1;
    int unfinishedSlot_ = -1;  // where a signal handler finds the temporary
};

// From here on SIGINT and SIGTERM first remove the temporaries of the saves
// under way, then end the program as they would have: an interrupted save
// leaves the old file and nothing beside it.
void removeUnfinishedFilesOnSignals();

// `path` tidied: ".." goes where the file system goes (after a symbolic link,
// up from the link's target, not back out of the link), the rest as text.
std::string pathThroughLinks(const std::string& path);

// Makes the folder `path` is to be written in, with its parents; throws
// PlanexorError naming the file and why its folder cannot be made.
void makeFolderFor(const std::string& path);

void writeFileAtomically(const std::string& path, const void* data, std::size_t size);
void writeFileAtomically(const std::string& path, const std::string& text);

std::string fileNameOf(const std::string& path);       // "dir/a.bmp" -> "a.bmp"
std::string directoryOf(const std::string& path);      // "dir/a.bmp" -> "dir"
std::string lowerExtensionOf(const std::string& path); // "A.BMP" -> ".bmp"
std::string baseNameOf(const std::string& path);       // "dir/a.bmp" -> "a"
std::string joinPath(const std::string& directory, const std::string& name);

}  // namespace planexor
