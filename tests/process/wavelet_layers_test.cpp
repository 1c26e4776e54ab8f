#include "process/wavelet_layers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "process/recombination.h"
#include "process_test_support.h"

namespace planexor {
namespace {

using testing::ProcessingPlanes;
using testing::texturedValue;

// Linear scales (type 1) unless told; dyadic ones (type 0) leave the linear settings aside.
DecompositionOptions scales(int levelStep, int multiplicant, int scaletype = 1) {
    DecompositionOptions options;
    options.Scaletype = scaletype;
    options.LevelStep = levelStep;
    options.Multiplicant = multiplicant;
    return options;
}

const DecompositionOptions Dyadic = scales(1, 0, 0);

std::vector<int> distances(const DecompositionOptions& options) {
    std::vector<int> result;
    for (int layer = 1; layer <= WaveletLayerCount; ++layer) result.push_back(layerDistance(options, layer));
    return result;
}

TEST(LayerDistance, DyadicDoublesLinearSteps) {
    // Dyadic, the linear settings no longer count.
    EXPECT_EQ(distances(scales(8, 8, 0)), (std::vector<int>{1, 2, 4, 8, 16, 32}));
    EXPECT_EQ(distances(scales(1, 0)), (std::vector<int>{1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(distances(scales(8, 8)), (std::vector<int>{8, 16, 24, 32, 40, 48}));
    EXPECT_EQ(resampledSide(600, 2.0f), 1024);
    EXPECT_EQ(resampledSide(101, 2.5f), 252);  // 252.5 rounds to even
}

// The decomposition written out pixel by pixel, as plainly as possible.
struct DirectDecomposition {
    std::vector<std::vector<float>> layers;  // [layer 1..6][x * height + y]
    std::vector<float> residual;
};

DirectDecomposition decomposeDirectly(const TFloatPlane& stack, int width, int height,
                                      const DecompositionOptions& options) {
    DirectDecomposition result;
    result.layers.assign(WaveletLayerCount + 1, std::vector<float>(width * height));
    std::vector<float> plane(width * height);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y) plane[x * height + y] = stack[x][y];
    for (int layer = 1; layer <= WaveletLayerCount; ++layer) {
        const int r = layerDistance(options, layer);
        std::vector<float> smoothed(plane.size());
        for (int x = 0; x < width; ++x)
            for (int y = 0; y < height; ++y) {
                double s = 0;
                int tap = 0;
                for (int dy : {-r, 0, r})
                    for (int dx : {-r, 0, r}) {
                        const int sx = std::clamp(x + dx, 0, width - 1);
                        const int sy = std::clamp(y + dy, 0, height - 1);
                        s += static_cast<double>(options.kernel.taps[tap++]) * plane[sx * height + sy];
                    }
                result.layers[layer][x * height + y] = static_cast<float>(plane[x * height + y] - s);
                smoothed[x * height + y] = static_cast<float>(s);
            }
        plane = smoothed;
    }
    result.residual = plane;
    return result;
}

void expectMatchesDirect(ProcessingPlanes& planes, int width, int height, const DecompositionOptions& options,
                         bool colour) {
    RunProgress quiet;
    decomposeStack(*planes.workspace, *planes.store, options, {width, height, colour}, quiet);
    for (int channel = 0; channel < ColourChannels; ++channel) {
        if (!colour && channel != GreenChannel) continue;
        const DirectDecomposition direct = decomposeDirectly(planes.stack(channel), width, height, options);
        for (int x = 0; x < width; ++x)
            for (int y = 0; y < height; ++y) {
                for (int layer = 1; layer <= WaveletLayerCount; ++layer)
                    ASSERT_EQ(planes.store->plane(layer, channel)[x][y], direct.layers[layer][x * height + y])
                        << "layer " << layer << " channel " << channel << " at " << x << "," << y;
                ASSERT_EQ(planes.processing(channel)[x][y], direct.residual[x * height + y])
                    << "residual channel " << channel << " at " << x << "," << y;
            }
    }
}

// Odd sizes exercise the vector tails; linear 8/8 reaches beyond every edge
// of a 37 x 29 image; a lopsided kernel shows any tap in the wrong place.
TEST(Decomposition, MatchesDirectSmoothingForEveryScaleRule) {
    ProcessingPlanes planes;
    planes.fillStack(70, 90, texturedValue);
    expectMatchesDirect(planes, 70, 90, Dyadic, true);
    expectMatchesDirect(planes, 37, 29, scales(8, 8), true);
    expectMatchesDirect(planes, 64, 41, scales(1, 0), false);
    DecompositionOptions lopsided = scales(2, 3);
    lopsided.kernel.taps = {0.01f, 0.02f, 0.04f, 0.08f, 0.3f, 0.16f, 0.12f, 0.15f, 0.12f};
    expectMatchesDirect(planes, 53, 67, lopsided, true);
}

// Nothing at all, or more than the planes hold, stays inside them.
TEST(Decomposition, StaysInBounds) {
    ProcessingPlanes planes;
    RunProgress quiet;
    decomposeStack(*planes.workspace, *planes.store, Dyadic, {0, 0, true}, quiet);
    planes.workspace->StackG[1023][1023] = 5.0f;
    planes.processing(0)[5][5] = -7.0f;  // mono works on green alone: red stays as it was
    decomposeStack(*planes.workspace, *planes.store, scales(8, 8), {5000, 5000, false}, quiet);
    EXPECT_NE(planes.store->plane(1, GreenChannel)[1023][1023], 0.0f);
    EXPECT_EQ(planes.store->plane(1, GreenChannel)[1024][1024], 0.0f);
    recombineLayers(*planes.workspace, *planes.store, RecombinationOptions{}, {5000, 5000, false});
    const LayerStore& store = *planes.store;
    EXPECT_EQ(std::tuple(planes.processing(0)[5][5], store.plane(1, 0)[5][5], store.recombined(0)[5][5]),
              std::tuple(-7.0f, 0.0f, 0.0f));
}

TEST(FilterKernel, SetDividesByTheSumUnlessItIsWithinHalfAStepOfZero) {
    using Taps = std::array<float, 9>;
    struct Case { Taps weights, taps; };
    const Case cases[] = {
        {{-1, -1, -1, -1, -2, -1, -1, -1, -1}, {0.1f, 0.1f, 0.1f, 0.1f, 0.2f, 0.1f, 0.1f, 0.1f, 0.1f}},
        {{}, {}},
        {{0.5f, 0, 0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 0, 0, 0, 0, 0, 0}},  // exactly half a step: divided
        // Weights meant to cancel: the float sum is a residue, not 0.
        {{0.1f, 0.2f, -0.3f, 0, 0, 0, 0, 0, 0}, {0.1f, 0.2f, -0.3f, 0, 0, 0, 0, 0, 0}},
        {{1000, -999.6f, 0, 0, 0, 0, 0, 0, 0}, {1000, -999.6f, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        const WaveletKernel kernel = normalisedKernel(c.weights, 0.5f);
        for (int tap = 0; tap < 9; ++tap) EXPECT_FLOAT_EQ(kernel.taps[tap], c.taps[tap]) << c.weights[0] << ", tap " << tap;
    }
}

TEST(LayerView, StretchesTheGreenLayerWithoutItsMargin) {
    ProcessingPlanes planes;
    const int width = 40, height = 30;
    TFloatPlane& layer = planes.store->plane(2, GreenChannel);
    for (int x = 0; x < width; ++x)
        for (int y = 0; y < height; ++y) layer[x][y] = static_cast<float>(x - 20);  // -10..10 inside the margin
    layer[0][0] = 500.0f;  // in the margin: ignored by the statistics, shown white
    planes.store->plane(2, 0)[15][15] = 1e6f;  // red: never looked at
    Bitmap24 view;
    const LayerViewRange range = renderLayerView(*planes.store, 2, width, height, true, false, view);
    EXPECT_EQ(range.minimum, -10.0);
    EXPECT_EQ(range.maximum, 10.0);
    ASSERT_EQ(view.width(), width);
    EXPECT_EQ(view.pixel(width - 1 - 10, 5)[1], 0);    // x = 10, flipped left-right
    EXPECT_EQ(view.pixel(width - 1 - 30, 5)[2], 255);  // x = 30
    EXPECT_EQ(view.pixel(width - 1 - 20, 5)[0], 128);  // 127.5 rounds to even
    EXPECT_EQ(view.pixel(width - 1, 0)[0], 255);
}

SelectionBox box(int x1, int y1, int x2, int y2, bool flipH = false, bool flipV = false) {
    return {x1, y1, x2, y2, flipH, flipV};
}

TEST(Selection, CountsOnlyWhenCheckedAndWiderThanTenAndStaysOnMirroredPixels) {
    EXPECT_EQ(selectionRegion(box(5, 5, 60, 70), false, 100, 80), PixelRegion::whole(100, 80));
    EXPECT_EQ(selectionRegion(box(5, 5, 15, 70), true, 100, 80), PixelRegion::whole(100, 80));  // 10 wide
    EXPECT_EQ(selectionRegion(box(5, 5, 16, 70), true, 100, 80), (PixelRegion{5, 5, 16, 70}));  // 11 wide
    EXPECT_EQ(selectionRegion(box(5, 5, 60, 15), true, 100, 80), PixelRegion::whole(100, 80));

    // Checking "Process selection" refuses a box under 10 pixels only.
    EXPECT_TRUE(selectionTooSmall(box(5, 5, 14, 70)));
    EXPECT_FALSE(selectionTooSmall(box(5, 5, 15, 70)));
    EXPECT_TRUE(selectionTooSmall(box(5, 70, 60, 61)));

    // A box drawn on a mirrored view covers the image pixels under it then.
    EXPECT_EQ(selectionRegion(box(10, 20, 50, 60, true, true), true, 100, 80), (PixelRegion{49, 19, 89, 59}));
    EXPECT_EQ(selectionRegion(box(20, 10, 300, 200), true, 64, 48), (PixelRegion{20, 10, 63, 47}));  // clipped
}

}  // namespace
}  // namespace planexor
