#include "input/frame_list_file.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include "core/error.h"
#include "core/file_io.h"

namespace planexor {
namespace {

bool holdsBinary(std::string_view line) {
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 32 && c != '\t') return true;
    }
    return false;
}

std::uint32_t littleEndian32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

[[noreturn]] void notAPicture(const std::string& path) {
    throw PlanexorError("Not a BMP or JPG picture: " + path);
}

}  // namespace

std::vector<std::string> parseFrameList(std::string_view text, const std::string& listName) {
    std::vector<std::string> paths;
    // A list written by hand in an editor that marks UTF-8 with a BOM: not part of the first path.
    std::size_t start = text.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    int lineNumber = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        ++lineNumber;
        start = end;
        if (start < text.size() && text[start] == '\r') ++start;
        if (start < text.size() && text[start] == '\n') ++start;
        // Blank, or an old editor's end-of-file mark (skipped by the INI reader too).
        if (line.find_first_not_of(" \t") == std::string_view::npos || line == "\x1a") continue;
        const std::string where = "Frame list " + listName + ", line " + std::to_string(lineNumber) + ": ";
        if (line.size() > MaxFrameListLine)
            throw PlanexorError(where + "longer than any file path (" + std::to_string(line.size()) + " characters)");
        if (holdsBinary(line)) throw PlanexorError(where + "holds binary data, not a file path");
        paths.emplace_back(line);
    }
    return paths;
}

std::vector<std::string> readFrameListFile(const std::string& path) {
    const std::vector<std::uint8_t> bytes = readWholeFile(path, MaxFrameListBytes);
    std::vector<std::string> paths =
        parseFrameList(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), path);
    // Lists hold full paths; one written by hand with names relative to it
    // means the list's own folder, wherever the program was started.
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    for (std::string& frame : paths)
        if (std::filesystem::path(frame).is_relative()) frame = pathThroughLinks((folder / frame).string());
    return paths;
}

std::string frameListText(const std::vector<std::string>& paths) {
    std::string text;
    for (const std::string& path : paths) {
        // One path a line: a name holding a line break would read back as two.
        if (path.find_first_of("\r\n") != std::string::npos)
            throw PlanexorError("A frame list cannot hold a path with a line break: " + path);
        text += path + "\r\n";
    }
    return text;
}

StillFrameSize stillFrameSize(const std::string& path) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) throw PlanexorError("Frame file not found or unreadable: " + path);
    std::uint8_t header[26];
    if (std::fread(header, 1, sizeof header, file.get()) < 4) notAPicture(path);
    if (header[0] == 'B' && header[1] == 'M') {
        if (std::fseek(file.get(), 0, SEEK_END) != 0 || std::ftell(file.get()) < 26) notAPicture(path);
        // An OS/2 core header (12 bytes) holds its sides as two 16-bit values.
        const bool core = littleEndian32(header + 14) == 12;
        const auto width = core ? std::int32_t{header[18] | (header[19] << 8)}
                                : static_cast<std::int32_t>(littleEndian32(header + 18));
        const auto height = core ? std::int32_t{header[20] | (header[21] << 8)}
                                 : static_cast<std::int32_t>(littleEndian32(header + 22));
        if (width <= 0 || height == 0 || height == INT32_MIN) notAPicture(path);
        return {width, height < 0 ? -height : height};
    }
    if (header[0] != 0xFF || header[1] != 0xD8) notAPicture(path);
    // Walk the markers to the frame header; each segment says its length.
    long position = 2;
    for (int segments = 0; segments < 1000; ++segments) {
        std::uint8_t marker[9];
        if (std::fseek(file.get(), position, SEEK_SET) != 0 || std::fread(marker, 1, 4, file.get()) != 4 ||
            marker[0] != 0xFF)
            notAPicture(path);
        const int code = marker[1];
        if (code == 0xFF) {  // fill byte
            ++position;
            continue;
        }
        const int length = (marker[2] << 8) | marker[3];
        const bool frameHeader = code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
        if (frameHeader) {
            if (length < 7 || std::fread(marker + 4, 1, 5, file.get()) != 5) notAPicture(path);
            const int height = (marker[5] << 8) | marker[6];
            const int width = (marker[7] << 8) | marker[8];
            if (width == 0 || height == 0) notAPicture(path);
            return {width, height};
        }
        if (length < 2 || code == 0xD9 || code == 0xDA) notAPicture(path);
        position += 2 + length;
    }
    notAPicture(path);
}

}  // namespace planexor
