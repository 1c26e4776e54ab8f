#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace planexor::fuzzing {

// The project loader on a headless window. Every path the project names is
// confined to one private folder of a few frames of our own (a BMP sequence
// and planet.avi, small enough to align and stack at once), so a fuzzed path
// never reads the machine's files. A refusal is a clean outcome.
void loadProjectConfined(const std::string& projectPath);

// The fuzz target's body: the input becomes a project file in that folder.
int fuzzProject(const std::uint8_t* data, std::size_t size);

}  // namespace planexor::fuzzing
