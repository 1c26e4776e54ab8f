#include <map>

#include <QApplication>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTest>
#include <QToolButton>

#include "app/run_scope.h"
#include "support/test_files.h"
#include "ui/widgets.h"
#include "window_fixture.h"

namespace planexor::testing {
namespace {

class BindingTest : public WindowTest {
protected:
    // On its box: a check box spans its column but only its box and text take clicks.
    static void clickBox(QCheckBox* box) { QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2)); }

    // Counts the runs of a control's handler, for controls whose handler the
    // form does not bind yet.
    int* countRuns(ControlModel& control) {
        int* count = &runs[std::string(control.name())];
        control.onChange([count] { ++*count; });
        return count;
    }
    std::map<std::string, int, std::less<>> runs;
};

// A slider's moves run its change handler, and Space goes to the key handler only; a
// scroll bar's drags go to its model, and the processed image pans with its place.
TEST_F(BindingTest, SlidersAndScrollBarsReportTheUsersMovesAndTheProcessedImagePansWithItsPlace) {
    auto* slider = widget<QSlider>("PreviewSlider");
    model("PreviewSlider").setRange(0, 9);

    QTest::keyClick(slider, Qt::Key_Right);  // the key handler sees it too, and leaves it to the slider
    EXPECT_EQ(model("PreviewSlider").intValue(), 1);
    QTest::keyClick(slider, Qt::Key_Space);  // the slider itself does nothing with it
    EXPECT_EQ(ran("PreviewSliderKeyDown"), 2);

    model("PreviewSlider").setValue(7);
    model("PreviewSlider").setRange(0, 4);  // the model pulls its value in; so does the slider
    EXPECT_EQ(slider->value(), 4);
    EXPECT_EQ(ran("PreviewSliderChange"), 1);  // the arrow's move alone: neither Space nor the model's own changes

    auto* bar = widget<QScrollBar>("HorizScrollbar");
    ControlModel& scroll = model("HorizScrollbar");
    int* runs = countRuns(scroll);
    scroll.setRange(-200, 1);
    scroll.setPageSize(640);
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(*runs, 1);
    EXPECT_EQ(scroll.intValue(), bar->value());
    EXPECT_LT(scroll.intValue(), 0);

    auto* image = widget<ImageView>("ProcessImage");
    model("ProcessImage").setPosition(-50, 0);
    image->resize(240, 160);
    image->setSource([bitmap = std::make_shared<Bitmap24>(300, 50)] { return bitmap.get(); });
    EXPECT_EQ(image->imageOrigin(), QPoint(-50, 55));  // panned across, centred down
}

TEST_F(BindingTest, SpinAndRadioGroupRunTheirHandlersOnTheUsersCompletedChoicesOnly) {
    auto* spin = widget<QDoubleSpinBox>("OptimizeQualitySpin");
    int* runs = countRuns(model("OptimizeQualitySpin"));
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(model("OptimizeQualitySpin").value(), 85);
    EXPECT_EQ(*runs, 1);

    // Typing counts once the value is complete, not at every digit.
    spin->findChild<QLineEdit*>()->selectAll();
    QTest::keyClicks(spin, "30");
    EXPECT_EQ(*runs, 1);
    QTest::keyClick(spin, Qt::Key_Return);
    EXPECT_EQ(model("OptimizeQualitySpin").value(), 30);
    EXPECT_EQ(*runs, 2);

    auto* group = widget<RadioGroupBox>("FFTsizeGroup");
    int* choices = countRuns(model("FFTsizeGroup"));
    model("FFTsizeGroup").setVisible(true);
    window->show();
    QTest::mouseClick(group->button(2), Qt::LeftButton);
    EXPECT_EQ(model("FFTsizeGroup").itemIndex(), 2);
    model("FFTsizeGroup").setItemIndex(0);  // the form's own choice runs nothing
    EXPECT_TRUE(group->button(0)->isChecked());
    EXPECT_EQ(*choices, 1);
}

TEST_F(BindingTest, LabelsShowCaptionsAsPlainTextAndEditsFollowTheirModels) {
    auto* label = widget<QLabel>("Label9");
    model("Label9").setCaption("&R&&D <b>x</b>");  // as a button shows it: no shortcut mark, one ampersand
    EXPECT_EQ(label->text(), "R&D <b>x</b>");
    EXPECT_EQ(label->textFormat(), Qt::PlainText);

    auto* edit = widget<QLineEdit>("Subdirname");
    EXPECT_EQ(edit->text(), "processed");
    edit->selectAll();
    QTest::keyClicks(edit, "out");
    EXPECT_EQ(model("Subdirname").caption(), "out");
}

TEST_F(BindingTest, CheckListFollowsItsModelAndReportsTheUsersMarks) {
    auto* list = widget<QListWidget>("SelectFramesChecklist");
    ControlModel& frames = model("SelectFramesChecklist");
    frames.setAvailable(true);
    int* runs = countRuns(frames);
    for (int n = 1; n <= 3; ++n) frames.addListItem("Frame " + std::to_string(n), true);
    frames.setListItemChecked(1, false);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->item(1)->checkState(), Qt::Unchecked);
    frames.selectListItem(2);
    EXPECT_EQ(list->currentRow(), 2);

    // A click on a box leaves Qt's current row where it was (2): the clicked
    // entry is the one that changes, and it becomes the selection.
    list->item(0)->setCheckState(Qt::Unchecked);  // as a click on the box does
    EXPECT_FALSE(frames.listItems()[0].checked);
    EXPECT_TRUE(frames.listItems()[2].checked);
    EXPECT_EQ(form.workspace().FrameRecs[0].Excluded, 1);  // the form's check-mark handler ran
    EXPECT_EQ(form.workspace().FrameRecs[2].Excluded, 0);
    EXPECT_EQ(frames.listSelection(), std::vector<int>{0});
    EXPECT_EQ(*runs, 0);  // which is no click on the entry
    // Within a multiple selection, a box toggles every selected entry.
    frames.setListSelection({0, 2}, 0);
    list->item(2)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(form.workspace().FrameRecs[0].Excluded * 10 + form.workspace().FrameRecs[2].Excluded, 1);

    frames.clearList();
    EXPECT_EQ(list->count(), 0);
}

TEST_F(BindingTest, PanelsFoldAndToolWindowsShowWithTheirModelsAndReportClosingMovingAndResizing) {
    form.openUserSettingsKey();
    form.help().directories = {std::string(PLANEXOR_SOURCE_DIR) + "/data/help"};
    window->show();
    // The help shows the panel of the page shown, and follows the page.
    model("BitBtn1").click();
    auto* help = widget<QTextBrowser>("Hintsmemo");
    ASSERT_TRUE(help->isVisible());
    EXPECT_TRUE(help->toPlainText().contains("Select Input"));
    auto* fft = widget<ToolWindow>("FFTWindow");
    model("TabSheet2").setVisible(true);
    model("PageControl1").setItemIndexByUser(1);
    EXPECT_TRUE(help->toPlainText().contains("Track"));
    auto* panel = widget<CollapsiblePanel>("Trackpanel");
    QTest::mouseClick(panel->findChild<QToolButton*>(), Qt::LeftButton);
    EXPECT_FALSE(model("Trackpanel").expanded());
    EXPECT_FALSE(widget("Followme")->isVisible());
    model("Trackpanel").setExpanded(true);
    EXPECT_TRUE(panel->isExpanded());
    EXPECT_TRUE(widget("Followme")->isVisible());

    clickBox(widget<QCheckBox>("ShowFFTbox"));
    EXPECT_TRUE(fft->isVisible());
    fft->close();
    EXPECT_FALSE(model("FFTWindow").visible());
    EXPECT_FALSE(widget<QCheckBox>("ShowFFTbox")->isChecked());

    auto* hints = widget<ToolWindow>("HintWindow");
    hints->move(300, 310);
    hints->resize(320, 200);
    hints->flush();
    std::vector<int> stored;
    for (const char* key : {"Hintleft", "HintTop", "Hintwidth", "Hintheight"})
        stored.push_back(settings.readInteger("Toolwin", key, 0));
    EXPECT_EQ(stored, (std::vector<int>{hints->x(), hints->y(), 320, 200}));

    // A place kept from a larger screen comes back within reach.
    model("HintWindow").setPosition(25000, -9000);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_TRUE(screen.contains(hints->pos() + QPoint(20, 20))) << hints->x() << "," << hints->y();

    // Quitting closes the tool windows after the main window; their boxes
    // stay as the user left them, for the settings saved at the end.
    clickBox(widget<QCheckBox>("ShowFFTbox"));
    ASSERT_TRUE(fft->isVisible());
    window->close();
    QApplication::closeAllWindows();
    EXPECT_FALSE(fft->isVisible());
    EXPECT_TRUE(model("ShowFFTbox").checked());
}

// Closing the window during a run stops the run and closes once it has unwound.
TEST_F(BindingTest, ARunShowsProgressGreysWhatItReadsButNotCancelOrToolWindowBoxesAndClosingStopsIt) {
    window->show();
    auto* pages = window->findChild<QTabWidget*>("PageControl1");
    {
        RunScope run(form, "Aligning", "frame 1");
        EXPECT_TRUE(widget("MessageWindow")->isVisible());
        EXPECT_EQ(widget<QLabel>("messagewinlabel")->text(), "Aligning");
        for (const char* name : {"FFTsizeGroup", "Interlaced", "Allignallbutton", "differencecutslider"})
            EXPECT_FALSE(widget(name)->isEnabled()) << name;
        for (const char* name : {"BitBtn2", "ShowFFTbox", "Showgraphbox"}) EXPECT_TRUE(widget(name)->isEnabled()) << name;
        EXPECT_FALSE(pages->tabBar()->isEnabled());
        EXPECT_TRUE(pages->currentWidget()->isEnabled());
    }
    EXPECT_FALSE(widget("MessageWindow")->isVisible());
    EXPECT_TRUE(widget("FFTsizeGroup")->isEnabled());
    EXPECT_TRUE(pages->tabBar()->isEnabled());

    {
        RunScope run(form, "Stacking", "");
        window->close();
        EXPECT_TRUE(form.workspace().StopRequested);
        EXPECT_EQ(ran("BitBtn2Click"), 1);
        QTest::qWait(120);  // the deferred close finds the run still going
        EXPECT_TRUE(window->isVisible());
    }
    for (int wait = 0; wait < 50 && window->isVisible(); ++wait) QTest::qWait(20);
    EXPECT_FALSE(window->isVisible());
}

QColor at(QWidget* widget, int x, int y) { return QColor(widget->grab().toImage().pixel(x, y)); }

using ImageViewTest = WindowTest;

TEST_F(ImageViewTest, PointerOnThePreviewReachesTheFormInPicturePixelsAndTheStackGraphIsPaintedWhole) {
    window->show();
    const TempDir dir;
    ui.queueFiles({writeBmp(dir, "grey.bmp", uniform(300, 200, 40))}, 2);
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

    QTest::mousePress(image, Qt::LeftButton, {}, place);
    QTest::mouseRelease(image, Qt::LeftButton, {}, place);
    QTest::mousePress(image, Qt::LeftButton, {}, image->imageOrigin() + QPoint(320, 10));  // beside the picture
    EXPECT_EQ(ran("PreviewImageMouseDown"), 1);  // the press on the picture only

    form.control(Control::PageControl1).setItemIndex(2);
    auto* graph = widget<ImageView>("StackGraph");
    model("differencecutslider").setValueByUser(50);  // redraws the graph: the blue line at y 101
    window->refreshImages();
    ASSERT_EQ(graph->size(), QSize(GraphWidth, GraphHeight));
    EXPECT_EQ(at(graph, 13, 10), QColor(Qt::white));
    EXPECT_EQ(at(graph, 130, 101), QColor(Qt::blue));
}

}  // namespace
}  // namespace planexor::testing
