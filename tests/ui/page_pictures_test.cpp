// The window after each step of the demo, as a user sees it. With
// PLANEXOR_SCREENSHOT_DIR set, each page is also written there as a PNG,
// which is how the pages are looked at without a desktop.
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTabWidget>

#include "demo/synthetic_planet.h"
#include "support/test_files.h"
#include "window_fixture.h"

namespace planexor::testing {
namespace {

class PagePictures : public WindowTest {
protected:
    void snapshot(const char* name) {
        window->refreshImages();
        QApplication::processEvents();
        const QImage picture = window->grab().toImage();
        ASSERT_FALSE(picture.isNull()) << name;
        // A page that shows is more than its background.
        EXPECT_GT(distinctColours(picture), 8) << name;
        const QString folder = qEnvironmentVariable("PLANEXOR_SCREENSHOT_DIR");
        if (folder.isEmpty()) return;
        picture.save(QDir(folder).filePath(QString(name) + ".png"));
        for (const char* tool : {"Propertywindow", "FFTWindow", "HistoWindow", "GammaWindow", "FilterWindow"})
            if (QWidget* shown = window->controlWidget(std::string(tool)); shown && shown->isVisible())
                shown->grab().save(QDir(folder).filePath(QString(name) + "-" + tool + ".png"));
    }
    static int distinctColours(const QImage& picture) {
        std::set<QRgb> colours;
        for (int y = 0; y < picture.height(); y += 7)
            for (int x = 0; x < picture.width(); x += 7) colours.insert(picture.pixel(x, y));
        return static_cast<int>(colours.size());
    }
};

TEST_F(PagePictures, EveryPageOfTheDemoStepsRenders) {
    window->resize(MainWindow::ClientWidth, MainWindow::ClientHeight);
    window->show();
    snapshot("0-start");
    TempDir dir;
    DemoOptions options;
    options.directory = dir.file("demo");
    options.frames = 12;
    options.width = 320;
    options.height = 240;
    RunProgress quiet;
    ui.queueFiles(writeDemoSequence(options, quiet).sequenceFiles, 1);
    form.control(Control::SelectFileButton).click();
    snapshot("1-select-input");
    form.mouseEvent(Control::PreviewImage, TMainForm::MouseAction::Down, 160, 120, true);
    snapshot("2-feature");
    form.control(Control::Allignallbutton).click();
    snapshot("3-aligned");
    form.control(Control::PageControl1).setItemIndexByUser(2);
    form.control(Control::Stackbutton).click();
    snapshot("4-stacked");
    form.control(Control::PageControl1).setItemIndexByUser(3);
    form.control(Control::RxSlider3).setValueByUser(40);
    form.control(Control::ProcessButton).click();
    snapshot("5-processed");
    // An S-curve drawn on the gamma graph and a flatter kernel set.
    form.control(Control::Gammawin).setCheckedByUser(true);
    form.control(Control::Filtercheckbox).setCheckedByUser(true);
    using Mouse = TMainForm::MouseAction;
    form.mouseEvent(Control::GammaSplineGraph, Mouse::Down, 64, 215, MouseButtons{false, true});
    form.mouseEvent(Control::GammaSplineGraph, Mouse::Down, 192, 40, MouseButtons{false, true});
    form.mouseEvent(Control::GammaSplineGraph, Mouse::Move, 190, 30, MouseButtons{true});
    form.mouseEvent(Control::GammaSplineGraph, Mouse::Up, 190, 30, MouseButtons{true});
    for (const Control spin : FilterSpins) form.control(spin).setValueByUser(1);
    form.control(Control::Button1).click();
    snapshot("5-editors");
    form.control(Control::PageControl1).setItemIndexByUser(4);
    snapshot("6-about");
}

}  // namespace
}  // namespace planexor::testing
