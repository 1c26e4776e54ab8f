#include "input/frame_list_file.h"

#include <gtest/gtest.h>

#include "core/error.h"
#include "input/jpeg_codec.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::errorOf;

TEST(FrameListFile, LinesEndedAnyWayAreReadBlankOnesSkippedAndGarbageNamedByLine) {
    const std::vector<std::string> ab = {"/a/1.bmp", "/a/2.bmp"};
    for (const char* text : {"/a/1.bmp\r\n/a/2.bmp\r\n", "/a/1.bmp\n\n/a/2.bmp", "/a/1.bmp\r/a/2.bmp\r\n  \r\n"})
        EXPECT_EQ(parseFrameList(text, "l.pxl"), ab) << text;
    EXPECT_EQ(parseFrameList(frameListText(ab), "l.pxl"), ab);
    EXPECT_EQ(frameListText({}), "");
    EXPECT_EQ(errorOf([] { parseFrameList("/a/1.bmp\n" + std::string(5000, 'x') + "\n", "l.pxl"); }),
              "Frame list l.pxl, line 2: longer than any file path (5000 characters)");
    EXPECT_EQ(errorOf([] { parseFrameList(std::string("ok\n\x01\x02\xff\0z", 8), "l.pxl"); }),
              "Frame list l.pxl, line 2: holds binary data, not a file path");
}

TEST(FrameListFile, FrameSizesComeFromTheHeadersAndNonPicturesAreRefused) {
    testing::TempDir dir;
    const std::string bmp = testing::writeBmp(dir, "a.bmp", testing::uniform(33, 21, 7));
    writeJpegFile(dir.file("b.jpg"), testing::uniform(50, 40, 7));
    EXPECT_EQ(stillFrameSize(bmp).width, 33);
    EXPECT_EQ(stillFrameSize(bmp).height, 21);
    EXPECT_EQ(stillFrameSize(dir.file("b.jpg")).width, 50);
    EXPECT_EQ(stillFrameSize(dir.file("b.jpg")).height, 40);
    testing::writeText(dir.file("c.bmp"), "BM short");
    testing::writeText(dir.file("d.jpg"), std::string("\xff\xd8\xff\xe0\x00\x01", 6));
    for (const char* name : {"c.bmp", "d.jpg"})
        EXPECT_EQ(errorOf([&] { stillFrameSize(dir.file(name)); }), "Not a BMP or JPG picture: " + dir.file(name));
    EXPECT_EQ(errorOf([&] { stillFrameSize(dir.file("none.bmp")); }),
              "Frame file not found or unreadable: " + dir.file("none.bmp"));
}

}  // namespace
}  // namespace planexor
