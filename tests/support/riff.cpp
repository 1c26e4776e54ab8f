#include "support/riff.h"

#include <algorithm>
#include <functional>
#include <stdexcept>

namespace planexor::testing {

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    return std::uint8_t(bytes[at]) | std::uint8_t(bytes[at + 1]) << 8 | std::uint8_t(bytes[at + 2]) << 16 |
           std::uint32_t(std::uint8_t(bytes[at + 3])) << 24;
}

void putLe32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xff);
}

std::vector<Chunk> chunksOf(const std::string& bytes) {
    std::vector<Chunk> chunks;
    std::function<void(std::size_t, std::size_t)> walk = [&](std::size_t at, std::size_t end) {
        while (at + 8 <= end) {
            const Chunk chunk{bytes.substr(at, 4), at, le32(bytes, at + 4)};
            chunks.push_back(chunk);
            const std::size_t next = std::min<std::size_t>(end, at + 8 + chunk.size + (chunk.size & 1));
            if (chunk.id == "RIFF" || chunk.id == "LIST") walk(at + 12, next);
            at = next;
        }
    };
    walk(0, bytes.size());
    return chunks;
}

const Chunk& firstChunk(const std::vector<Chunk>& chunks, const std::string& id) {
    for (const Chunk& chunk : chunks)
        if (chunk.id == id) return chunk;
    throw std::runtime_error("no " + id + " chunk");
}

std::vector<Chunk> videoChunks(const std::vector<Chunk>& chunks) {
    std::vector<Chunk> video;
    for (const Chunk& chunk : chunks)
        if (chunk.id == "00dc" || chunk.id == "00db") video.push_back(chunk);
    return video;
}

}  // namespace planexor::testing
