#include "stack/frame_preparation.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <memory>

#include "core/error.h"
#include "core/pixel.h"
#include "stack/local_quality.h"
#include "support/allocation_counter.h"
#include "support/settled_stack.h"
#include "support/test_files.h"

namespace planexor {
namespace {

using testing::picture;

// Every pixel distinct enough that a wrong shift or channel shows.
int coded(int x, int y, int channel) {
    return (channel == 0 ? x + 2 * y : (channel == 1 ? 3 * x + y + 17 : x * y + 101)) % 256;
}

std::unique_ptr<Workspace> workspaceFor(int width, int height) {
    auto workspace = std::make_unique<Workspace>();
    workspace->OrigWidth = workspace->FrameWidth = workspace->ImageWidth = width;
    workspace->OrigHeight = workspace->FrameHeight = workspace->ImageHeight = height;
    return workspace;
}

int countSum(const Workspace& workspace) {
    long sum = 0;
    for (int x = 0; x < PlaneSide; ++x)
        for (int y = 0; y < PlaneSide; ++y) sum += workspace.StackCount[x][y];
    return static_cast<int>(sum);
}

// Stack (x, y) reads frame (x + dx, y + dy), dx = ApplyShift + the extra
// stack shift; only pixels inside the frame bitmap and the working image
// come in, and stack columns stop at the frame's own last column. A dark
// subtracted is the one of the frame pixel read, not of the stack pixel.
TEST(AddFrameToStack, ShiftedFrameAddsOnlyItsOverlap) {
    struct Case { int frameW, frameH, imageW, imageH, applyX, applyY, extraX, extraY; bool dark; };
    const auto darkLevel = [](int u, int v) { return (u + 3 * v) % 5; };
    for (const Case& c : {Case{20, 10, 20, 10, 3, -2, 0, 0, false}, Case{25, 20, 40, 30, -3, 2, 0, 0, false},
                          Case{16, 8, 16, 8, 1, 0, 2, -1, true}}) {
        SCOPED_TRACE(c.frameW);
        auto workspace = workspaceFor(c.imageW, c.imageH);
        Bitmap24 frame = picture(c.frameW, c.frameH, coded);
        for (int u = 0; u < c.frameW; ++u)
            for (int v = 0; v < c.frameH; ++v)
                workspace->DarkR[u][v] = workspace->DarkG[u][v] = workspace->DarkB[u][v] = 128.0f * darkLevel(u, v);
        workspace->DarkWidth = c.frameW;
        workspace->DarkHeight = c.frameH;
        FramePreparation preparation({.useDark = c.dark, .xShift = c.extraX, .yShift = c.extraY});
        workspace->ApplyShiftX = c.applyX;
        workspace->ApplyShiftY = c.applyY;
        addSettled(preparation, *workspace, frame);
        const int dx = c.applyX + c.extraX, dy = c.applyY + c.extraY;
        for (int x = 0; x < 41; ++x)
            for (int y = 0; y < 31; ++y) {
                const int u = x + dx, v = y + dy;
                const bool covered = u >= 0 && u < c.frameW && v >= 0 && v < c.frameH && x < c.frameW && y < c.frameH;
                ASSERT_EQ(workspace->StackCount[x][y], covered ? 1 : 0) << x << "," << y;
                if (!covered) continue;
                const int dark = c.dark ? darkLevel(u, v) : 0;
                ASSERT_EQ(workspace->StackR[x][y], coded(u, v, 2) - dark);
                ASSERT_EQ(workspace->StackG[x][y], coded(u, v, 1) - dark);
                ASSERT_EQ(workspace->StackB[x][y], coded(u, v, 0) - dark);
            }
        EXPECT_EQ(workspace->StackOffsetX, 0);
        const int before = countSum(*workspace);
        for (int shift : {c.frameW + 5, -c.frameW - 5, INT_MAX, INT_MIN}) {
            workspace->ApplyShiftX = shift;
            addSettled(preparation, *workspace, frame);
        }
        EXPECT_EQ(countSum(*workspace), before);
    }
}

// Plain colour sums wait in 16-bit lanes: 300 white frames must still sum
// exactly, the box a run reads mid-way must be current, and the counts must
// follow each frame's own overlap. Partial coverage clears sums nobody reached.
TEST(AddFrameToStack, WaitingSumsSettleExactlyPastTheLaneLimit) {
    auto workspace = workspaceFor(40, 30);
    Bitmap24 white = picture(40, 30, [](int, int, int) { return 255; });
    FramePreparation preparation{StackOptions{}};
    for (int n = 0; n < 300; ++n) {
        workspace->ApplyShiftX = n % 2 ? 3 : 0;
        workspace->ApplyShiftY = n % 2 ? -2 : 0;
        preparation.AddFrameToStack(*workspace, white);
    }
    const auto count = [](int x, int y) { return 150 + (x <= 36 && y >= 2 ? 150 : 0); };
    preparation.settleArea(*workspace, 30, 39, 0, 9);
    EXPECT_EQ(workspace->StackR[35][1], 255.0f * count(35, 1));
    EXPECT_EQ(workspace->StackB[38][5], 255.0f * count(38, 5));
    preparation.settle(*workspace);
    for (int x = 0; x < 41; ++x)
        for (int y = 0; y < 31; ++y) {
            const int expected = x < 40 && y < 30 ? count(x, y) : 0;
            ASSERT_EQ(workspace->StackCount[x][y], expected) << x << "," << y;
            ASSERT_EQ(workspace->StackG[x][y], 255.0f * expected) << x << "," << y;
        }
    workspace->StackR[40][30] = 5.0f;  // a leftover where no frame reached: normalising clears it
    normaliseStack(*workspace, 41, 31, true, true);
    EXPECT_EQ(workspace->StackR[40][30], 0.0f);
}

// So too with local quality, for a frame every point keeps.
TEST(AddFrameToStack, ColourIgnoresTheWeightAndMonoWeighsTheGreyValue) {
    const Bitmap24 source = picture(160, 120, coded);
    AlignmentPoints points;
    points.startReference(160, 120);
    points.addToReference(source, 0.0, 0.0);
    ASSERT_GT(points.placePoints(4), 0);
    LocalQuality local;
    local.start(points, 160, 120, 1);
    local.score(0, source, 0.0, 0.0);
    ASSERT_EQ(local.choose(1), std::vector<int>{0});
    local.select(0);
    for (const bool locally : {false, true})
        for (const bool colour : {true, false}) {
            auto workspace = workspaceFor(160, 120);
            Bitmap24 frame = source;
            workspace->FrameWeight = 0.25f;
            FramePreparation preparation({.colour = colour});
            if (locally) preparation.useLocalQuality(&local);
            addSettled(preparation, *workspace, frame);
            for (int x = 0; x < 160; ++x)
                for (int y = 0; y < 120; ++y) {
                    const std::uint8_t* p = source.pixel(x, y);
                    const float green = colour ? p[1] : greyValue(p[2], p[1], p[0]) * 0.25f;
                    ASSERT_NEAR(workspace->StackG[x][y], green, 1e-3) << locally << colour << " " << x << "," << y;
                    ASSERT_EQ(workspace->StackR[x][y], colour ? p[2] : 0.0f);
                    ASSERT_EQ(workspace->StackCount[x][y], 1);
                }
        }
}

TEST(AddFrameToStack, DarkAndFlatApplyOverTheirOwnSizeOnly) {
    auto workspace = workspaceFor(40, 16);  // wide enough for whole bands, the last row in a block of eight
    const Bitmap24 source = picture(40, 16, [](int, int, int c) { return c == 2 ? 120 : 100; });  // red 120
    // Beyond the loaded sizes the planes hold leftovers (and zero divisors).
    for (int x = 0; x < 48; ++x)
        for (int y = 0; y < 30; ++y) {
            const bool inside = x < 20 && y < 6;
            workspace->DarkG[x][y] = workspace->DarkB[x][y] = 128.0f * (inside ? 20 : 90);
            workspace->DarkR[x][y] = 128.0f * (inside ? 30 : 90);
            workspace->FlatR[x][y] = workspace->FlatG[x][y] = workspace->FlatB[x][y] = x < 24 && y < 8 ? 2.0f : 0.0f;
        }
    workspace->DarkWidth = 20;
    workspace->DarkHeight = 6;
    workspace->FlatWidth = 24;
    workspace->FlatHeight = 5;
    workspace->FrameWeight = 0.5f;  // weighs grey frames only
    // Sub-pixel placement at a fraction of 0 moves nothing; a grey (FITS)
    // dark and flat are held in green alone, for every channel.
    struct Case { bool colour, subpixel, grey; };
    for (const Case c : {Case{true, false, false}, {false, false, false}, {true, true, false}, {true, false, true}}) {
        SCOPED_TRACE(::testing::Message() << c.colour << c.subpixel << c.grey);
        if (c.grey) {
            workspace->DarkR.fill(128.0f * 255);
            workspace->FlatR.fill(0.5f);
            workspace->DarkGrey = workspace->FlatGrey = true;
        }
        workspace->StackR.clear();
        workspace->StackG.clear();
        Bitmap24 frame = source;
        addSettled(FramePreparation({.colour = c.colour, .useDark = true, .useFlat = true, .subpixel = c.subpixel}),
                   *workspace, frame);
        for (int x = 0; x < 40; ++x)
            for (int y = 0; y < 16; ++y) {
                // Less the dark, then divided by the flat: the flat divides what the dark left.
                const bool dark = x < 20 && y < 6, flat = x < 24 && y < 5;
                const auto calibrated = [&](float value, float darkLevel) {
                    return (dark ? value - darkLevel : value) / (flat ? 2 : 1);
                };
                const float green = c.colour ? calibrated(100, 20) : calibrated(greyValue(120, 100, 100), 20) / 2;
                ASSERT_FLOAT_EQ(workspace->StackG[x][y], green) << x << "," << y;
                const float red = c.colour ? calibrated(120, c.grey ? 20 : 30) : 0.0f;  // red's own dark
                ASSERT_FLOAT_EQ(workspace->StackR[x][y], red) << x << "," << y;
            }
        EXPECT_EQ(frame, source);  // the float path leaves the frame alone
    }
}

// A line of the other field becomes the truncated mean of its neighbours where the frame, bounded by its
// bitmap, has one on either side; every other pixel stays, in every channel. Neighbours differ in parity.
TEST(SplitField, RebuildsTheOtherLinesWithTruncatedMeansWithinTheBitmap) {
    const Bitmap24 source =
        picture(5, 6, [](int x, int y, int c) { return (5 * x * (x + 1) / 2 + 7 * y * (y + 1) / 2 + 50 * c) % 256; });
    struct Case { int field; bool columns; int frameW, frameH; };
    for (const Case s : {Case{0, false, 5, 6}, {1, false, 5, 6}, {0, true, 5, 6}, {1, true, 5, 6},
                         {1, true, 1024, 1024}, {0, false, 3, 4}, {0, true, 3, 4}}) {
        SCOPED_TRACE(::testing::Message() << s.field << s.columns << s.frameW);
        Bitmap24 split = source;
        SplitField(split, s.field, s.columns, s.frameW, s.frameH);
        const int width = std::min(s.frameW, 5), height = std::min(s.frameH, 6);
        for (int x = 0; x < 5; ++x)
            for (int y = 0; y < 6; ++y) {
                const int line = s.columns ? x : y, lines = s.columns ? width : height;
                const bool rebuilt = line % 2 != s.field && line > 0 && line < lines - 1 && x < width && y < height;
                const int dx = rebuilt && s.columns, dy = rebuilt && !s.columns;
                for (int c = 0; c < 3; ++c) {
                    const int mean = (source.pixel(x - dx, y - dy)[c] + source.pixel(x + dx, y + dy)[c]) >> 1;
                    ASSERT_EQ(split.pixel(x, y)[c], mean) << x << "," << y << "," << c;
                }
            }
    }
}

// With row or column fields alike: "none" keeps each field's own lines.
TEST(AddDecodedFrame, InterlaceInterpolationChoosesTheLinesOfEachField) {
    const Bitmap24 source = picture(6, 9, coded);
    for (const bool columns : {false, true}) {
        Bitmap24 field0 = source, field1 = source;
        SplitField(field0, 0, columns, 6, 9);
        SplitField(field1, 1, columns, 6, 9);
        for (int item = 0; item < 4; ++item) {
            SCOPED_TRACE(::testing::Message() << "columns " << columns << " item " << item);
            auto workspace = workspaceFor(6, 9);
            Bitmap24 frame = source;
            decodedSettled(FramePreparation({.interlaced = true, .interlaceColumns = columns,
                                             .interlaceInterpolation = item}), *workspace, frame, 0);
            EXPECT_EQ(workspace->CurrentField, 1);
            for (int x = 0; x < 6; ++x)
                for (int y = 0; y < 9; ++y) {
                    ASSERT_EQ(workspace->StackCount[x][y], item == 1 ? 2 : 1) << x << "," << y;
                    for (const int c : {1, 2}) {
                        const float first = field0.pixel(x, y)[c], second = field1.pixel(x, y)[c];
                        const float expected[] = {static_cast<float>(source.pixel(x, y)[c]), first + second, second,
                                                  first};
                        ASSERT_EQ((c == 1 ? workspace->StackG : workspace->StackR)[x][y], expected[item]) << x << "," << y;
                    }
                }
        }
    }
}

// A hot pixel and its dark are the camera's own: the frame is calibrated before its fields are rebuilt, so no
// line inherits half a hot pixel. Each field takes its own shift and weight.
TEST(AddDecodedFrame, FieldsOfTheCalibratedFrameTakeTheirOwnShiftAndWeight) {
    auto workspace = workspaceFor(8, 8);
    // The whole frame's rows lie off the picture: field 0 adds only at its own shift.
    workspace->FrameRecs[5] = {.ShiftY = 8, .FieldShiftX = 2, .Quality = 0.25f, .FieldQuality = 0.5f};
    EXPECT_THROW(chooseShiftAndWeight(*workspace, MaxFrames, false, false), PlanexorError);
    Bitmap24 frame = picture(8, 8, [](int x, int y, int) { return x == 3 && y == 4 ? 250 : 100; });
    workspace->DarkR[3][4] = workspace->DarkG[3][4] = workspace->DarkB[3][4] = 128.0f * 150;
    workspace->DarkWidth = workspace->DarkHeight = 8;
    // Field 0 only, its column 3 on stack column 1.
    const StackOptions evenLines{.colour = false, .interlaced = true, .interlaceInterpolation = 3, .useDark = true};
    decodedSettled(FramePreparation(evenLines), *workspace, frame, 5);
    for (int y = 0; y < 8; ++y) ASSERT_FLOAT_EQ(workspace->StackG[1][y], greyValue(100, 100, 100) * 0.5f) << y;
    EXPECT_EQ(workspace->StackCount[6][0], 0);  // field 0 is shifted by 2 columns
}

// Resampled frames add only the enlarged pixels that land on their bitmap: one shifted off it (by enlarged
// pixels), a still frame smaller than the sequence, and the largest frame four times enlarged, whose window
// starts at enlarged column 3071 + 40 and runs out of the 4095 enlarged columns after stack column 983.
TEST(AddFrameToStack, ResampledFramesAddOnlyTheirOverlapInsideThePlanes) {
    struct Case {
        int frameW, frameH, sequenceW, sequenceH, factor, middle, shiftX, filter;
        int firstX, lastX, lastY, firstValue, lastValue;  // the columns and rows covered, the values at their ends
    };
    for (const Case c : {Case{64, 48, 64, 48, 2, 0, -100, 3, 100, 126, 94, 0, 13 / 4},
                         {30, 20, 64, 48, 2, 0, 0, 3, 0, 58, 38, 0, 29 / 4},
                         {1024, 1024, 1024, 1024, 4, 1023, 40, 2, 0, 983, 1023, 778 / 4, 1023 / 4}}) {
        SCOPED_TRACE(c.frameW);
        auto workspace = workspaceFor(c.sequenceW, c.sequenceH);
        workspace->ResampleFactor = static_cast<float>(c.factor);
        workspace->stackx = workspace->stacky = c.middle;
        workspace->ApplyShiftX = c.shiftX;
        Bitmap24 frame = picture(c.frameW, c.frameH, [](int x, int, int) { return x / 4; });
        addSettled(FramePreparation({.resample = true, .filterItem = c.filter}), *workspace, frame);
        EXPECT_EQ(workspace->ImageWidth, std::min(c.sequenceW * c.factor - 1, 1024));
        EXPECT_EQ(workspace->ImageHeight, std::min(c.sequenceH * c.factor - 1, 1024));
        for (int i = 0; i < PlaneSide; ++i) {
            ASSERT_EQ(workspace->StackCount[i][10], i >= c.firstX && i <= c.lastX ? 1 : 0) << i;
            ASSERT_EQ(workspace->StackCount[c.lastX][i], i <= c.lastY ? 1 : 0) << i;
        }
        EXPECT_NEAR(workspace->StackR[c.firstX][10], c.firstValue, 1.0);
        EXPECT_NEAR(workspace->StackR[c.lastX][10], c.lastValue, 1.0);
    }
}

TEST(AddFrameToStack, ResampledCalibrationClampsTheFrameBytesOverTheOverlap) {
    auto workspace = workspaceFor(20, 10);
    workspace->DarkR.fill(128.0f * 30);
    workspace->DarkG.fill(128.0f * 10.5f);
    workspace->DarkB.fill(128.0f * 300);
    for (TFloatPlane* flat : {&workspace->FlatR, &workspace->FlatG, &workspace->FlatB}) flat->fill(2.0f);
    workspace->DarkWidth = workspace->DarkHeight = 1024;  // larger than the frame
    workspace->FlatWidth = workspace->FlatHeight = 4;
    Bitmap24 frame = picture(20, 10, [](int, int, int) { return 100; });
    addSettled(FramePreparation({.resample = true, .useDark = true, .useFlat = true}), *workspace, frame);
    for (int x = 0; x < 20; ++x)
        for (int y = 0; y < 10; ++y) {
            const bool flat = x < 4 && y < 4;
            ASSERT_EQ(frame.pixel(x, y)[2], flat ? 35 : 70) << x << "," << y;
            ASSERT_EQ(frame.pixel(x, y)[1], flat ? 45 : 90) << x << "," << y;  // 89.5 rounds to even
            ASSERT_EQ(frame.pixel(x, y)[0], 0);
        }
}

TEST(FramePreparation, RefusesUnknownChoices) {
    EXPECT_NO_THROW(FramePreparation({.filterItem = 4}));  // the filter only matters when resampling
    EXPECT_THROW(FramePreparation({.resample = true, .filterItem = 4}), PlanexorError);
    EXPECT_THROW(FramePreparation({.resample = true, .interlaceInterpolation = 4}), PlanexorError);
    auto workspace = workspaceFor(8, 8);
    workspace->ResampleFactor = 0.0f;
    Bitmap24 frame(8, 8);
    FramePreparation preparation({.resample = true});
    EXPECT_THROW(addSettled(preparation, *workspace, frame), PlanexorError);
}

// The planes are fixed: once the first frame has set the sizes, adding frames allocates nothing.
TEST(FramePreparation, AddingFramesAfterTheFirstAllocatesNothing) {
    const StackOptions plain, resampled{.resample = true, .interlaced = true, .useDark = true};
    for (const bool points : {false, true})
        for (const StackOptions& options : {plain, resampled}) {
            auto workspace = workspaceFor(160, 120);
            workspace->DarkWidth = workspace->DarkHeight = 100;
            workspace->FrameRecs[1].ShiftX = 3;
            Bitmap24 frame = picture(160, 120, coded);
            FramePreparation preparation(options);
            AlignmentPoints aligned;
            if (points) {
                aligned.startReference(160, 120);
                aligned.addToReference(frame, 0, 0);
                ASSERT_GT(aligned.placePoints(AlignmentPoints::Auto), 0);
                preparation.usePoints(&aligned);
            }
            decodedSettled(preparation, *workspace, frame, 0);
            const long before = testing::allocationCount();
            for (int n = 1; n < 4; ++n) decodedSettled(preparation, *workspace, frame, n);
            EXPECT_EQ(testing::allocationCount(), before) << (options.resample ? "resampled" : "plain") << points;
        }
}

// A smooth picture whose value a fraction further on is known: a gentle
// slope in x (red), in y (green), a constant (blue).
int slopes(int x, int y, int channel) { return channel == 2 ? 40 + 2 * x : channel == 1 ? 30 + 3 * y : 77; }

// Frames placed at a fraction of a pixel.
struct SubpixelCase { bool colour, resample; };

class SubpixelStack : public ::testing::TestWithParam<SubpixelCase> {
protected:
    std::unique_ptr<Workspace> stack(float fractionX, float fractionY, bool subpixel,
                                     int (*pixel)(int, int, int) = slopes) {
        auto w = workspaceFor(60, 50);
        w->ResampleFactor = 2.0f;
        w->FrameRecs[0] = {.ShiftX = GetParam().resample ? 6 : 3, .ShiftY = GetParam().resample ? -4 : -2,
                           .Quality = 1.0f, .SubShiftX = fractionX, .SubShiftY = fractionY};
        // B-Spline: smooth enough to keep a slope a slope.
        FramePreparation preparation({.colour = GetParam().colour, .resample = GetParam().resample, .filterItem = 1,
                                      .subpixel = subpixel});
        Bitmap24 frame = picture(60, 50, pixel);
        decodedSettled(preparation, *w, frame, 0);
        return w;
    }
};

// Without a fraction the interpolated placement is the whole-pixel one, and
// a fraction moves the picture by that much: a slope gains fraction x slope
// (on average: resampling rounds each pixel to a byte on the way).
TEST_P(SubpixelStack, PlacesTheFrameAtItsFraction) {
    const bool resample = GetParam().resample, colour = GetParam().colour;
    const auto whole = stack(0.0f, 0.0f, false);
    const auto zero = stack(0.0f, 0.0f, true);
    // Shifts count in resampled pixels while resampling: the same move in frame pixels.
    const auto moved = stack(resample ? 1.0f : 0.5f, resample ? -0.5f : -0.25f, true);
    // A damaged record's fraction, not a number or far beyond a pixel, still places the frame, finite.
    const auto absurd = stack(NAN, 1e30f, true);
    const double expected[3] = {2 * 0.5, 3 * -0.25, 0.0};  // red, green, blue: slope x (0.5, -0.25)
    const double grey = 0.299 * expected[0] + 0.587 * expected[1];
    double moves[3] = {}, samples = 0;
    for (int x = 12; x < 40; x += 3)
        for (int y = 12; y < 30; y += 3, ++samples) {
            ASSERT_EQ(zero->StackCount[x][y] + moved->StackCount[x][y] + absurd->StackCount[x][y], 3);
            for (int c = 0; c < 3; ++c) {
                const auto at = [&](const Workspace& w) { return (c == 0 ? w.StackR : c == 1 ? w.StackG : w.StackB)[x][y]; };
                EXPECT_NEAR(at(*zero), at(*whole), resample ? 0.0 : 1e-3);
                ASSERT_TRUE(std::isfinite(at(*absurd)));
                moves[c] += at(*moved) - at(*whole);
            }
        }
    // The filter bends a slope slightly; a wrong sign or axis misses by 0.5 and more.
    if (colour) {
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(moves[c] / samples, expected[c], 0.12) << "channel " << c;
    } else {
        EXPECT_NEAR(moves[1] / samples, grey, 0.12);
    }
    if (resample) return;
    // A picture that only changes across: a fraction down covers the same
    // pixels and leaves each as it is, the rows by the edges (which repeat) included.
    const auto across = [](int x, int, int c) { return 3 * x + 30 * c; };
    const auto plain = stack(0.0f, 0.0f, false, across), down = stack(0.0f, 0.3f, true, across);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 54; ++y) {
            ASSERT_EQ(down->StackCount[x][y], plain->StackCount[x][y]) << x << "," << y;
            if (!plain->StackCount[x][y]) continue;
            ASSERT_NEAR(down->StackG[x][y], plain->StackG[x][y], 1e-3f * plain->StackG[x][y]) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(ColourAndMono, SubpixelStack,
                         ::testing::Values(SubpixelCase{true, false}, SubpixelCase{false, false}, SubpixelCase{true, true},
                                           SubpixelCase{false, true}));

// Plain colour frames between pixels are interpolated a bin of like
// fractions at a time; every pixel, where frames end and by the stack's
// borders too, must hold what interpolating each frame alone gives (as the
// calibrated road, with a dark that covers nothing, still does), and the
// counts their whole-pixel rectangles, whether parts were settled first or not.
TEST(SubpixelBins, FramesInterpolatedTogetherEqualFramesInterpolatedAlone) {
    // Bins shared by frames of different rectangles, some partly off the stack;
    // the last ends at the second's right edge, over fewer rows.
    struct Frame { int shiftX, shiftY; float fractionX, fractionY; };
    const Frame frames[] = {{0, 0, 0.25f, -0.5f}, {3, -2, -0.75f, 0.5f}, {-4, 5, 0.25f, -0.5f},
                            {-9, -30, 0.75f, 0.0f}, {7, 1, -0.25f, 1.0f}, {2, -3, 0.5f, 0.25f},
                            {-2, 4, -0.5f, -0.75f}, {45, 2, 0.0f, 0.0f}, {1, 33, -0.25f, 0.0f},
                            {3, 20, 0.25f, 0.5f}};
    // 90 rounds put 360 frames in the bin of the first three and the last, past the lanes' limit.
    struct Run { bool expand, partialCoverage; int boxX0, boxX1, boxY0, boxY1, xShift, rounds; };
    for (const Run run : {Run{false, true, 0, -1, 0, -1, 0, 1}, {false, false, 10, 30, 5, 25, 0, 1},
                          {false, true, 0, 47, 30, 40, 2, 1}, {true, true, 0, 8, 20, 60, -1, 1},
                          {false, true, 20, 40, 0, 10, 0, 90}}) {
        SCOPED_TRACE(::testing::Message() << run.expand << run.boxX0 << "," << run.boxY0);
        const auto options = [&](bool alone) {
            return StackOptions{.expand = run.expand, .useDark = alone, .xShift = run.xShift, .subpixel = true};
        };
        FramePreparation binned(options(false)), alone(options(true));
        std::unique_ptr<Workspace> w[2];  // binned, alone
        for (std::unique_ptr<Workspace>& one : w) {
            one = workspaceFor(48, 36);
            one->MaxShiftX = 9;
            one->MaxShiftY = 30;
            one->StackWidth = one->StackHeight = 90;
        }
        const auto expectAlike = [&](int x0, int x1, int y0, int y1, bool counts) {
            for (int x = std::max(x0, 0); x <= std::min(x1, PlaneSide - 1); ++x)
                for (int y = std::max(y0, 0); y <= std::min(y1, PlaneSide - 1); ++y) {
                    if (counts) {
                        ASSERT_EQ(w[0]->StackCount[x][y], w[1]->StackCount[x][y]) << x << "," << y;
                    }
                    // Sums of hundreds of frames differ in their last bits.
                    for (const TFloatPlane Workspace::*plane :
                         {&Workspace::StackR, &Workspace::StackG, &Workspace::StackB})
                        ASSERT_NEAR((*w[0].*plane)[x][y], (*w[1].*plane)[x][y], 1e-3f + 1e-5f * (*w[1].*plane)[x][y])
                            << x << "," << y;
                }
        };
        Bitmap24 frame = picture(48, 36, coded);
        for (int i = 0; i < static_cast<int>(std::size(frames)) * run.rounds; ++i) {
            const Frame& f = frames[i % std::size(frames)];
            for (std::unique_ptr<Workspace>& one : w)
                one->FrameRecs[i] = {.ShiftX = f.shiftX, .ShiftY = f.shiftY, .Quality = 1.0f,
                                     .SubShiftX = f.fractionX, .SubShiftY = f.fractionY};
            binned.addDecodedFrame(*w[0], frame, i);
            alone.addDecodedFrame(*w[1], frame, i);
            binned.settleArea(*w[0], run.boxX0, run.boxX1, run.boxY0, run.boxY1);
            alone.settleArea(*w[1], run.boxX0, run.boxX1, run.boxY0, run.boxY1);
            expectAlike(run.boxX0, run.boxX1, run.boxY0, run.boxY1, false);
        }
        binned.settle(*w[0]);
        alone.settle(*w[1]);
        for (std::unique_ptr<Workspace>& one : w)
            normaliseStack(*one, run.expand ? 90 : 48, run.expand ? 90 : 36, true, run.partialCoverage);
        expectAlike(0, PlaneSide - 1, 0, PlaneSide - 1, true);
    }
}

}  // namespace
}  // namespace planexor
