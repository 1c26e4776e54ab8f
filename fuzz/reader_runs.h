#pragma once
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace planexor::fuzzing {

// One reader of outside input, driven the way the program drives it: open,
// read what a run would read, and check what the result promises. A refusal
// is a PlanexorError; a broken promise throws ReaderFault, and anything else
// (a crash, a leak, another exception) is a fault too.
struct ReaderRun {
    const char* name;       // also the corpus and regression folder
    const char* extension;  // the readers that choose by name see this one
    void (*run)(const std::string& path);
};

struct ReaderFault : std::logic_error {
    using std::logic_error::logic_error;
};

const std::vector<ReaderRun>& readerRuns();
const ReaderRun& readerRun(const std::string& name);

// The body of a fuzz target: the input becomes a file in a private temporary
// directory, and the reader refusing it is a clean outcome.
int fuzzOneInput(const ReaderRun& reader, const std::uint8_t* data, std::size_t size);

}  // namespace planexor::fuzzing
