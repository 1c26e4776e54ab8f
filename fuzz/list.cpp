#include "reader_runs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto& reader = planexor::fuzzing::readerRun("list");
    return planexor::fuzzing::fuzzOneInput(reader, data, size);
}
