#pragma once
#include <string>
#include <vector>

#include "core/bitmap24.h"

namespace planexor::testing {

// The ffmpeg command-line tool writes the test videos: real codecs from an
// encoder that is not ours.
bool ffmpegAvailable();

// A machine without the tool fails the tests that need it rather than
// passing with no video coverage.
#define REQUIRE_FFMPEG() \
    ASSERT_TRUE(::planexor::testing::ffmpegAvailable()) << "the ffmpeg tool writes the test videos: ./planexor.sh setup installs it"

// Runs `ffmpeg -v error -y ARGUMENTS`; throws std::runtime_error carrying
// ffmpeg's complaint when it fails.
void runFfmpeg(const std::string& arguments);

// Frame `number` of a counting video: smooth ramps that move with the number,
// so a frame survives lossy codecs and is still told apart from its
// neighbours. Red runs left to right, green top to bottom.
Bitmap24 countingFrame(int width, int height, int number);

// Feeds `frames` to ffmpeg as raw BGR at 25 frames per second and writes
// each path with its arguments ("-c:v rawvideo -pix_fmt bgr24", ...): one ffmpeg run, one start-up.
struct VideoOutput {
    std::string path;
    std::string arguments;
};
void writeVideos(const std::vector<Bitmap24>& frames, const std::vector<VideoOutput>& outputs);

// countingFrame 0..count-1, written as by writeVideos.
std::vector<Bitmap24> writeCountingVideo(const std::string& path, int width, int height, int count,
                                         const std::string& outputArguments);

// Every frame of a video as the ffmpeg tool decodes it, raw B G R, top row
// first; a complaint from ffmpeg fails the calling test.
std::string decodeWithFfmpeg(const std::string& path);

// Mean absolute difference over all channel values of two same-sized bitmaps.
double meanDifference(const Bitmap24& first, const Bitmap24& second);

}  // namespace planexor::testing
