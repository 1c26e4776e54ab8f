#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

// The engine must build and run without Qt: only the desktop front end may
// include Qt headers.
TEST(Architecture, NoQtHeaderOutsideTheDesktopFrontEnd) {
    namespace fs = std::filesystem;
    const fs::path sources = fs::path(PLANEXOR_SOURCE_DIR) / "src";
    const std::regex qtInclude(R"(^\s*#\s*include\s*[<"](Q[A-Za-z]+|Qt[A-Za-z]*/))");
    int checked = 0;
    for (const auto& entry : fs::recursive_directory_iterator(sources)) {
        if (!entry.is_regular_file()) continue;
        const fs::path relative = fs::relative(entry.path(), sources);
        if (*relative.begin() == "ui") continue;
        std::ifstream in(entry.path());
        std::string line;
        int number = 0;
        while (std::getline(in, line)) {
            ++number;
            EXPECT_FALSE(std::regex_search(line, qtInclude)) << relative << ":" << number << ": " << line;
        }
        ++checked;
    }
    EXPECT_GT(checked, 10);
}
