#pragma once
#include <functional>
#include <string>
#include <vector>

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

// A scene of random 4 x 4 blocks, defined everywhere, with its content moved
// by (dx, dy): right and down for positive values. A frame registers on it
// with shift (dx, dy), and misregistered copies blur its edges.
Bitmap24 movedScene(int width, int height, int dx, int dy);
Bitmap24 uniform(int width, int height, std::uint8_t value);
// Every byte from value(x, y, channel), channel 0 blue as stored.
Bitmap24 picture(int width, int height, const std::function<int(int x, int y, int channel)>& value);

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

// The text of the PlanexorError the action throws, or "(no error)".
std::string errorOf(const std::function<void()>& action);

// Spearman's rank correlation of two equally long series without ties.
double spearman(const std::vector<double>& a, const std::vector<double>& b);

}  // namespace planexor::testing
