#include "support/test_files.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <sys/wait.h>
#include <unistd.h>

#include "core/error.h"
#include "input/bmp_codec.h"

namespace planexor::testing {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "planexor-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temp directory");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

Bitmap24 numberedFrame(int width, int height, int number) {
    Bitmap24 image = picture(width, height, [number](int x, int y, int c) {
        return c == 0 ? x * 7 + y * 3 + number * 11 : c == 1 ? (x ^ y) + number : y * 2 + number * 5;
    });
    image.pixel(0, 0)[0] = static_cast<std::uint8_t>(number);
    return image;
}

namespace {

std::uint8_t sceneTexture(int x, int y, int channel) {
    const unsigned h = static_cast<unsigned>(x >> 2) * 73856093u ^ static_cast<unsigned>(y >> 2) * 19349663u ^
                       static_cast<unsigned>(channel + 1) * 83492791u;
    return static_cast<std::uint8_t>((h * 2654435761u) >> 24);
}

}  // namespace

Bitmap24 movedScene(int width, int height, int dx, int dy) {
    return picture(width, height, [&](int x, int y, int c) { return sceneTexture(x - dx, y - dy, c); });
}

Bitmap24 uniform(int width, int height, std::uint8_t value) {
    return picture(width, height, [value](int, int, int) { return value; });
}

Bitmap24 picture(int width, int height, const std::function<int(int x, int y, int channel)>& value) {
    Bitmap24 image(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) image.pixel(x, y)[c] = static_cast<std::uint8_t>(value(x, y, c));
    return image;
}

std::string writeBmp(const TempDir& dir, const std::string& name, const Bitmap24& image) {
    const std::string path = dir.file(name);
    writeBmpFile(path, image);
    return path;
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

CommandResult runCommand(const std::string& commandLine) {
    TempDir dir;
    const std::string out = dir.file("out"), err = dir.file("err");
    const int raw = std::system((commandLine + " >" + out + " 2>" + err + " </dev/null").c_str());
    CommandResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readText(out);
    result.err = readText(err);
    return result;
}

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const PlanexorError& error) {
        return error.what();
    }
    return "(no error)";
}

double spearman(const std::vector<double>& a, const std::vector<double>& b) {
    const auto ranks = [](const std::vector<double>& v) {
        std::vector<int> order(v.size());
        std::iota(order.begin(), order.end(), 0);
        std::sort(order.begin(), order.end(), [&v](int i, int j) { return v[i] < v[j]; });
        std::vector<double> rank(v.size());
        for (std::size_t i = 0; i < order.size(); ++i) rank[order[i]] = static_cast<double>(i);
        return rank;
    };
    const auto ra = ranks(a), rb = ranks(b);
    double d2 = 0;
    for (std::size_t i = 0; i < ra.size(); ++i) d2 += (ra[i] - rb[i]) * (ra[i] - rb[i]);
    const double n = static_cast<double>(ra.size());
    return 1.0 - 6.0 * d2 / (n * (n * n - 1.0));
}

}  // namespace planexor::testing
