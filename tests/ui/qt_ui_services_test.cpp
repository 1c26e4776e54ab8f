#include <ctime>

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/run_scope.h"
#include "support/test_files.h"
#include "ui/qt_ui_services.h"
#include "ui/widgets.h"
#include "window_fixture.h"

namespace planexor::testing {
namespace {

// Runs once the next modal dialog is up, then lets the test go on.
template <class Dialog>
void whenDialogOpens(std::function<void(Dialog*)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        act(dialog);
    });
}

TEST(QtUiServices, WaitingForTheUsersClickCostsAlmostNoProcessorTime) {
    QtUiServices ui;
    bool clicked = false;
    QTimer::singleShot(1000, [&clicked] { clicked = true; });
    const std::clock_t start = std::clock();
    while (!clicked) ui.waitForEvents();
    EXPECT_LT(static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC, 0.05);  // of the second waited
}

TEST(QtUiServices, MessagesShowTheirTextAsItIsAndQuestionsTakeTheUsersAnswer) {
    QtUiServices ui;
    whenDialogOpens<QMessageBox>([&](QMessageBox* box) {
        EXPECT_EQ(box->text(), "AVI or BMP too large <1024>");
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        box->accept();
    });
    ui.showMessage(MessageKind::Warning, "AVI or BMP too large <1024>");

    whenDialogOpens<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
    EXPECT_FALSE(ui.askYesNo(MessageKind::Warning, "Misaligned frame: continue?"));
    whenDialogOpens<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
    EXPECT_TRUE(ui.askYesNo(MessageKind::Information, "Overwrite?"));
    whenDialogOpens<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    EXPECT_FALSE(ui.askYesNo(MessageKind::Information, "Overwrite?"));  // Escape is no
}

TEST(QtUiServices, FileDialogOffersTheFiltersAndReportsTheChosenFilesInNameOrderAndFilter) {
    TempDir dir;
    const std::string file = writeBmp(dir, "frame.bmp", Bitmap24(2, 2));
    QtUiServices ui;
    FileDialogRequest request;
    request.filters = {"Video (*.avi)", "Still frames (*.bmp)", "Single Fit frame (*.fit)"};
    request.filterIndex = 2;
    request.directory = dir.path();
    request.multiple = true;

    whenDialogOpens<QFileDialog>([&](QFileDialog* dialog) {
        EXPECT_EQ(dialog->selectedNameFilter(), "Still frames (*.bmp)");
        EXPECT_EQ(dialog->directory().absolutePath().toStdString(), dir.path());
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
        dialog->reject();
    });
    EXPECT_FALSE(ui.runFileDialog(request).accepted);

    whenDialogOpens<QFileDialog>([&](QFileDialog* dialog) {
        dialog->selectFile(QString::fromStdString(file));
        static_cast<QDialog*>(dialog)->accept();  // as the Open button does
    });
    const FileDialogAnswer answer = ui.runFileDialog(request);
    ASSERT_TRUE(answer.accepted);
    EXPECT_EQ(answer.files, std::vector<std::string>{file});
    // The opening handler swaps the first and last of a multiple selection.
    const QStringList chosen = {"/n/f10.bmp", "/n/f02.bmp", "/n/\u00e9t\u00e9.bmp", "/n/f01.bmp"};
    EXPECT_EQ(QtUiServices::dialogOrder(chosen),
              (std::vector<std::string>{"/n/\xc3\xa9t\xc3\xa9.bmp", "/n/f02.bmp", "/n/f10.bmp", "/n/f01.bmp"}));

    // Saving: a bare name takes the extension of the type chosen last; filters
    // written "Name|*.x" are offered as Qt shows them.
    FileDialogRequest save;
    save.save = true;
    save.asksBeforeReplacing = true;
    save.filters = {"BMP (*.bmp)", "FIT (*.fit *.fits)", "Planexor Frame list|*.pxl"};
    save.defaultExtension = "bmp";
    save.directory = dir.path();
    whenDialogOpens<QFileDialog>([&](QFileDialog* dialog) {
        EXPECT_EQ(dialog->nameFilters().back(), "Planexor Frame list (*.pxl)");
        EXPECT_EQ(dialog->defaultSuffix(), "bmp");
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        dialog->selectNameFilter("FIT (*.fit *.fits)");
        emit dialog->filterSelected("FIT (*.fit *.fits)");  // as choosing it in the type box does
        dialog->selectFile("stack");
        static_cast<QDialog*>(dialog)->accept();
    });
    const FileDialogAnswer saved = ui.runFileDialog(save);
    ASSERT_TRUE(saved.accepted);
    EXPECT_EQ(saved.files, std::vector<std::string>{dir.file("stack.fit")});
    EXPECT_EQ(saved.filterIndex, 2);
}

using RepaintTest = WindowTest;

TEST_F(RepaintTest, ARepaintShowsTheNewFrameWithRedAndBlueInPlaceAndCancelWorksWhileAFrameLoopRuns) {
    QtUiServices desktop;
    desktop.setWindow(window.get());
    window->show();
    Bitmap24& frame = form.previewBitmap();
    frame.resize(6, 4);
    frame.fill(10, 20, 30);                 // blue, green, red
    std::uint8_t* corner = frame.pixel(5, 3);
    corner[0] = 200, corner[1] = 0, corner[2] = 0;  // a blue corner: bottom right
    desktop.repaint(Control::PreviewImage);

    auto* image = widget<ImageView>("PreviewImage");
    ASSERT_EQ(image->size(), QSize(6, 4));
    const QImage shot = image->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(30, 20, 10));
    EXPECT_EQ(QColor(shot.pixel(5, 3)), QColor(0, 0, 200));

    // Cancel works while a frame loop lets the desktop process events.
    auto* cancel = widget<QPushButton>("BitBtn2");
    QTimer::singleShot(30, cancel, [cancel] { QTest::mouseClick(cancel, Qt::LeftButton); });
    int frames = 0;
    {
        RunScope run(form, "Aligning", "");
        while (!form.workspace().StopRequested && frames < 400) {
            desktop.processPendingEvents();  // once per frame, as the loop does
            QTest::qSleep(5);
            ++frames;
        }
    }
    EXPECT_TRUE(form.workspace().StopRequested);
    EXPECT_EQ(ran("BitBtn2Click"), 1);
    EXPECT_LT(frames, 400);
}

}  // namespace
}  // namespace planexor::testing
