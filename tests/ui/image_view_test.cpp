#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTest>

#include "support/test_files.h"
#include "ui/widgets.h"
#include "window_fixture.h"

namespace planexor::testing {
namespace {

QColor at(QWidget* widget, int x, int y) { return QColor(widget->grab().toImage().pixel(x, y)); }

TEST(PaintDrawing, AnInvertedOutlineShowsOnAnyPictureAndPaintingItTwiceRestoresIt) {
    QImage picture(40, 30, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) picture.setPixel(x, y, qRgb(x * 6, y * 8, 90));
    const QImage original = picture;

    Drawing outline;
    DrawingBuilder(outline).line(drawing_colour::White).points = {{5, 5}, {30, 5}, {30, 20}, {5, 20}, {5, 5}};
    outline.lines.front().invert = true;

    QPainter painter(&picture);
    paintDrawing(painter, outline);
    painter.end();
    const QRgb below = original.pixel(17, 5);
    EXPECT_EQ(picture.pixel(17, 5) & 0xFFFFFF, ~below & 0xFFFFFF);  // inverted, whatever the colour below
    EXPECT_EQ(picture.pixel(30, 12) & 0xFFFFFF, ~original.pixel(30, 12) & 0xFFFFFF);
    EXPECT_EQ(picture.pixel(17, 12), original.pixel(17, 12));  // inside untouched

    painter.begin(&picture);
    paintDrawing(painter, outline);
    painter.end();
    EXPECT_EQ(picture, original);
}

using ImageViewTest = WindowTest;

TEST_F(ImageViewTest, PointerOnThePreviewReachesTheFormInPicturePixelsAndItsOutlineIsPainted) {
    window->show();
    const TempDir dir;
    Bitmap24 grey(300, 200);
    grey.fill(40, 40, 40);
    ui.queueFiles({writeBmp(dir, "grey.bmp", grey)}, 2);
    QTest::mouseClick(widget<QPushButton>("SelectFileButton"), Qt::LeftButton);
    auto* image = widget<ImageView>("PreviewImage");
    ASSERT_EQ(image->bitmapSize(), QSize(300, 200));

    // The 128-pixel box fits around (100, 90): the form keeps that centre.
    const QPoint place = image->imageOrigin() + QPoint(100, 90);
    QMouseEvent move(QEvent::MouseMove, place, image->mapToGlobal(place), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(image, &move);
    EXPECT_EQ(ran("PreviewImageMouseMove"), 1);
    EXPECT_EQ(form.RubberX, 100);
    EXPECT_EQ(form.RubberY, 90);
    const QPoint corner = image->imageOrigin() + QPoint(100 - 64, 90 - 64);
    EXPECT_EQ(at(image, corner.x() + 10, corner.y()), QColor(215, 215, 215));  // the XOR box over grey 40
    EXPECT_EQ(at(image, place.x(), place.y()), QColor(40, 40, 40));

    QTest::mousePress(image, Qt::LeftButton, {}, place);
    QTest::mouseRelease(image, Qt::LeftButton, {}, place);
    EXPECT_EQ(ran("PreviewImageMouseDown"), 1);
    QTest::mousePress(image, Qt::LeftButton, {}, image->imageOrigin() + QPoint(320, 10));  // beside the picture
    EXPECT_EQ(ran("PreviewImageMouseDown"), 1);
}

TEST_F(ImageViewTest, StackGraphIsPaintedWholeWithItsBackgroundFrameAndCutOffLine) {
    window->show();
    form.control(Control::PageControl1).setItemIndex(2);
    auto* graph = widget<ImageView>("StackGraph");
    model("differencecutslider").setValueByUser(50);  // redraws the graph: the blue line at y 101
    window->refreshImages();
    ASSERT_EQ(graph->size(), QSize(GraphWidth, GraphHeight));
    EXPECT_EQ(at(graph, 13, 10), QColor(Qt::white));
    EXPECT_EQ(at(graph, 0, 100), QColor(Qt::black));
    EXPECT_EQ(at(graph, 26, 10), QColor(192, 192, 192));
    EXPECT_EQ(at(graph, 130, 101), QColor(Qt::blue));
}

}  // namespace
}  // namespace planexor::testing
