#pragma once
#include <string>

#include "core/bitmap24.h"

namespace planexor::testing {

// A fresh directory under the system's temp directory, removed at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A frame that carries its own number: a pattern a decoder cannot get right
// by accident, with the number in the first pixel's blue channel.
Bitmap24 numberedFrame(int width, int height, int number);

std::string writeBmp(const TempDir& dir, const std::string& name, const Bitmap24& image);
void writeText(const std::string& path, const std::string& text);
std::string readText(const std::string& path);

// Runs a command line; returns its exit status and what it printed.
struct CommandResult {
    int status = -1;
    std::string out;
    std::string err;
};
CommandResult runCommand(const std::string& commandLine);

}  // namespace planexor::testing
