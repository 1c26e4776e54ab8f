#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_io.h"
#include "reader_runs.h"

namespace fs = std::filesystem;
using namespace planexor;

// Every input that once crashed a reader, hung it, exhausted its memory or
// broke one of its promises is replayed exactly as its fuzz target ran it:
// refused with a PlanexorError or read, nothing else.
TEST(ReaderRegression, EveryFoundInputIsRefusedOrRead) {
    const fs::path root = fs::path(PLANEXOR_SOURCE_DIR) / "tests" / "regression";
    int replayed = 0;
    for (const fuzzing::ReaderRun& reader : fuzzing::readerRuns()) {
        if (!fs::is_directory(root / reader.name)) continue;
        for (const auto& entry : fs::directory_iterator(root / reader.name)) {
            SCOPED_TRACE(entry.path().string());
            const auto bytes = readWholeFile(entry.path().string(), std::size_t{64} << 20);
            EXPECT_NO_THROW(fuzzing::fuzzOneInput(reader, bytes.data(), bytes.size()));
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}
