#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_io.h"
#include "project_run.h"

namespace fs = std::filesystem;
using namespace planexor;

// The project fuzz target's seeds and every project that once broke the
// loader, replayed as the target ran them: refused or loaded, nothing else.
TEST(ProjectRegression, SeedsAndFoundProjectsAreRefusedOrLoaded) {
    const fs::path root(PLANEXOR_SOURCE_DIR);
    int replayed = 0;
    for (const fs::path folder : {root / "fuzz" / "corpus" / "project", root / "tests" / "regression" / "project"}) {
        if (!fs::is_directory(folder)) continue;
        for (const auto& entry : fs::directory_iterator(folder)) {
            SCOPED_TRACE(entry.path().string());
            const auto bytes = readWholeFile(entry.path().string(), std::size_t{64} << 20);
            EXPECT_NO_THROW(fuzzing::fuzzProject(bytes.data(), bytes.size()));
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0);
}
