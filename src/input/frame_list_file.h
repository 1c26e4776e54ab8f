#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace planexor {

// The longest line a frame list may hold: no path is longer.
inline constexpr std::size_t MaxFrameListLine = 4096;
// Read no further than this: 2501 paths of the longest kind and some blank lines.
inline constexpr std::size_t MaxFrameListBytes = 16u << 20;

// The paths of a frame list file's text, one per line, lines ended by LF or
// CR LF (a lone CR also ends one); empty lines are skipped. `listName`
// names the list in the failure texts. Throws PlanexorError naming the list
// and the line for a line longer than any path or one holding binary data.
std::vector<std::string> parseFrameList(std::string_view text, const std::string& listName);

// Reads and parses a frame list file; a file that cannot be read, or is
// larger than any list, is refused naming it. A relative path is taken from
// the list's own folder.
std::vector<std::string> readFrameListFile(const std::string& path);

// The file's text: each path and CR LF.
std::string frameListText(const std::vector<std::string>& paths);

// Width and height from a BMP or JPG file's header, without decoding it.
// Throws PlanexorError naming the file when it is missing or not a picture.
struct StillFrameSize {
    int width = 0, height = 0;
};
StillFrameSize stillFrameSize(const std::string& path);

}  // namespace planexor
