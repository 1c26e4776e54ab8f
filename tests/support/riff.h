#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace planexor::testing {

// RIFF walking and surgery, for checking written AVI files and making the
// damaged and unusual ones no encoder writes.
std::uint32_t le32(const std::string& bytes, std::size_t at);
void putLe32(std::string& bytes, std::size_t at, std::uint32_t value);

struct Chunk {
    std::string id;  // for RIFF and LIST: "RIFF" / "LIST"
    std::size_t at;  // position of the chunk header
    std::uint32_t size;
};

// Every chunk in file order, descending into RIFF and LIST.
std::vector<Chunk> chunksOf(const std::string& bytes);
const Chunk& firstChunk(const std::vector<Chunk>& chunks, const std::string& id);
std::vector<Chunk> videoChunks(const std::vector<Chunk>& chunks);  // 00dc and 00db

}  // namespace planexor::testing
