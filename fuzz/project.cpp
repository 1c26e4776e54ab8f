#include "project_run.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return planexor::fuzzing::fuzzProject(data, size);
}
