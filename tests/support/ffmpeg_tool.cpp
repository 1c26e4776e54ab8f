#include "support/ffmpeg_tool.h"

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include <gtest/gtest.h>

#include "support/test_files.h"

namespace planexor::testing {
bool ffmpegAvailable() {
    static const bool available = runCommand("ffmpeg -version").status == 0;
    return available;
}

void runFfmpeg(const std::string& arguments) {
    // A wrong argument can leave ffmpeg reading an endless source; a test
    // must fail then, not hang.
    const CommandResult result = runCommand("timeout 120 ffmpeg -nostdin -hide_banner -v error -y " + arguments);
    if (result.status != 0) throw std::runtime_error("ffmpeg " + arguments + " failed: " + result.err);
}

Bitmap24 countingFrame(int width, int height, int number) {
    // A triangle wave over 0..255: a ramp without the hard edge a wrap would make.
    const auto triangle = [](int value) { return value % 510 < 255 ? value % 510 : 510 - value % 510; };
    return picture(width, height, [number, triangle](int x, int y, int c) {
        return triangle(c == 0 ? 2 * (x + y) + 57 * number + 20 : c == 1 ? 4 * y + 31 * number + 40 : 4 * x + 43 * number);
    });
}

void writeVideos(const std::vector<Bitmap24>& frames, const std::vector<VideoOutput>& outputs) {
    if (frames.empty() || outputs.empty()) throw std::invalid_argument("writeVideos needs frames and outputs");
    const TempDir scratch;  // holds the raw frames, whether ffmpeg succeeds or not
    const std::string raw = scratch.file("frames.bgr");
    {
        std::ofstream out(raw, std::ios::binary);
        for (const Bitmap24& frame : frames)
            out.write(reinterpret_cast<const char*>(frame.data()),
                      static_cast<std::streamsize>(Bitmap24::byteCount(frame.width(), frame.height())));
        if (!out) throw std::runtime_error("cannot write " + raw);
    }
    std::string arguments = "-f rawvideo -pix_fmt bgr24 -s " + std::to_string(frames[0].width()) + "x" +
                            std::to_string(frames[0].height()) + " -r 25 -i '" + raw + "'";
    for (const VideoOutput& output : outputs) arguments += " " + output.arguments + " '" + output.path + "'";
    runFfmpeg(arguments);
}

std::vector<Bitmap24> writeCountingVideo(const std::string& path, int width, int height, int count,
                                         const std::string& outputArguments) {
    std::vector<Bitmap24> frames;
    for (int number = 0; number < count; ++number) frames.push_back(countingFrame(width, height, number));
    writeVideos(frames, {{path, outputArguments}});
    return frames;
}

std::string decodeWithFfmpeg(const std::string& path) {
    const CommandResult decoded = runCommand("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt bgr24 -");
    EXPECT_EQ(decoded.status, 0);
    EXPECT_EQ(decoded.err, "") << "ffmpeg complained about " << path;
    return decoded.out;
}

double meanDifference(const Bitmap24& first, const Bitmap24& second) {
    if (first.width() != second.width() || first.height() != second.height())
        throw std::invalid_argument("meanDifference needs bitmaps of one size");
    const std::size_t bytes = Bitmap24::byteCount(first.width(), first.height());
    if (bytes == 0) return 0.0;
    double sum = 0.0;
    for (std::size_t i = 0; i < bytes; ++i) sum += std::abs(int(first.data()[i]) - int(second.data()[i]));
    return sum / static_cast<double>(bytes);
}

}  // namespace planexor::testing
