#include "process/recombination.h"

#include <gtest/gtest.h>

#include "process_test_support.h"

namespace planexor {
namespace {

using testing::ProcessingPlanes;
using testing::texturedValue;

constexpr int Width = 45, Height = 38;

struct Decomposed : ProcessingPlanes {
    explicit Decomposed(bool colour = true) {
        fillStack(Width, Height, texturedValue);
        DecompositionOptions dyadic;
        dyadic.Scaletype = 0;
        RunProgress quiet;
        decomposeStack(*workspace, *store, dyadic, {Width, Height, colour}, PixelRegion::whole(Width, Height), quiet);
    }
};

// -50 subtracts five times the layer, 500 adds fifty times, a layer that is
// off never counts; the sum is rounded to float after each layer and never clipped.
TEST(Recombination, GainsWeighEachLayer) {
    Decomposed planes;
    RecombinationOptions options;
    options.gainSlider = {-50, 500, 300, 25, 0, 10};
    options.layerOn = {true, true, false, true, true, true};
    recombineLayers(*planes.workspace, *planes.store, options, {Width, Height, true});
    const double gains[6] = {-5.0, 50.0, 0.0, 2.5, 0.0, 1.0};
    for (int channel = 0; channel < ColourChannels; ++channel)
        for (int x = 0; x < Width; ++x)
            for (int y = 0; y < Height; ++y) {
                float expected = planes.processing(channel)[x][y];
                for (int k = 0; k < WaveletLayerCount; ++k)
                    if (options.layerOn[k])
                        expected = static_cast<float>(expected + gains[k] * planes.store->plane(k + 1, channel)[x][y]);
                ASSERT_EQ(planes.store->recombined(channel)[x][y], expected) << channel << " " << x << "," << y;
            }
}

TEST(Recombination, MonoWritesOnlyGreen) {
    Decomposed planes(false);
    planes.store->recombined(0)[3][3] = -1.0f;
    planes.store->recombined(2)[3][3] = -1.0f;
    recombineLayers(*planes.workspace, *planes.store, RecombinationOptions{}, {Width, Height, false});
    EXPECT_EQ(planes.store->recombined(0)[3][3], -1.0f);
    EXPECT_EQ(planes.store->recombined(2)[3][3], -1.0f);
    EXPECT_NEAR(planes.store->recombined(GreenChannel)[3][3], planes.workspace->StackG[3][3], 1e-4);
}

TEST(Recombination, GainCaptionsShowOneDecimal) {
    EXPECT_EQ(gainCaption(3) + " " + gainCaption(-50), "0.3 -5");
}

SelectionBox box(int x1, int y1, int x2, int y2, bool flipH = false, bool flipV = false) {
    return {x1, y1, x2, y2, flipH, flipV};
}

TEST(Selection, CountsOnlyWhenCheckedAndWiderThanTen) {
    EXPECT_EQ(selectionRegion(box(5, 5, 60, 70), false, 100, 80), PixelRegion::whole(100, 80));
    EXPECT_EQ(selectionRegion(box(5, 5, 15, 70), true, 100, 80), PixelRegion::whole(100, 80));  // 10 wide
    EXPECT_EQ(selectionRegion(box(5, 5, 16, 70), true, 100, 80), (PixelRegion{5, 5, 16, 70}));  // 11 wide
    EXPECT_EQ(selectionRegion(box(5, 5, 60, 15), true, 100, 80), PixelRegion::whole(100, 80));

    // Checking "Process selection" refuses a box under 10 pixels only.
    EXPECT_TRUE(selectionTooSmall(box(5, 5, 14, 70)));
    EXPECT_FALSE(selectionTooSmall(box(5, 5, 15, 70)));
    EXPECT_TRUE(selectionTooSmall(box(5, 70, 60, 61)));
}

TEST(Selection, DragDirectionDoesNotMatterAndTheImageClips) {
    const PixelRegion forward{10, 20, 50, 60};
    for (const SelectionBox& drawn : {box(10, 20, 50, 60), box(50, 60, 10, 20), box(50, 20, 10, 60)})
        EXPECT_EQ(selectionRegion(drawn, true, 100, 80), forward);
    EXPECT_EQ(forward.pixelCount(), 41 * 41);
    EXPECT_EQ(selectionRegion(box(20, 10, 300, 200), true, 64, 48), (PixelRegion{20, 10, 63, 47}));
    EXPECT_EQ(selectionRegion(box(100, 100, 200, 200), true, 64, 48).pixelCount(), 0);
    // Mirrored, a box beyond the image lands left of it.
    EXPECT_TRUE(selectionRegion(box(100, 10, 200, 40, true), true, 64, 48).empty());
}

// A box drawn on a mirrored view covers the image pixels under it then,
// and its outline lands on the same place of the view.
TEST(Selection, MirroredBoxStaysOnItsImagePixels) {
    const PixelRegion region = selectionRegion(box(10, 20, 50, 60, true, true), true, 100, 80);
    EXPECT_EQ(region, (PixelRegion{49, 19, 89, 59}));
    EXPECT_EQ(selectionOutline(region, true, true, 100, 80), (PixelRegion{9, 19, 51, 61}));
    EXPECT_EQ(selectionOutline(region, false, false, 100, 80), (PixelRegion{48, 18, 90, 60}));
}

}  // namespace
}  // namespace planexor
