#include <set>
#include <tuple>

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>

#include "app/control_table.h"
#include "ui/widgets.h"
#include "window_fixture.h"

namespace planexor::testing {
namespace {

// Controls that only hold data for the form and are never shown.
const std::set<std::string> NeverShown = {"DirectoryListBox1", "DriveComboBox1", "Memo2"};

// What the user reads: a doubled ampersand shows as one.
QString shown(const std::string& caption) { return QString::fromStdString(caption).replace("&&", "&"); }

class PageControls : public WindowTest, public ::testing::WithParamInterface<ControlPlace> {};

TEST_P(PageControls, EveryControlIsBuiltAsTheTableSaysAndFitsItsPage) {
    int checked = 0;
    for (const ControlDefinition& control : controlTable()) {
        // The tool windows themselves are the window's; they are checked with what they hold.
        const bool toolWindow = control.kind == ControlKind::ToolWindow && GetParam() == ControlPlace::ToolWindow;
        if (control.place != GetParam() && !toolWindow) continue;
        SCOPED_TRACE(control.name);
        QWidget* w = widget(control.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(qobject_cast<QProgressBar*>(w) != nullptr, control.name == "Progressgraph");  // the one gauge
        EXPECT_EQ(w->isHidden(), !control.visible);
        EXPECT_EQ(w->isEnabled(), control.enabled);
        // Captions are the table's own text; what the widget adds is its state.
        if (auto* box = qobject_cast<QCheckBox*>(w)) {
            EXPECT_EQ(box->isChecked(), control.defaultChecked);
        }
        if (auto* slider = qobject_cast<QAbstractSlider*>(w)) {
            EXPECT_EQ(std::tuple(slider->minimum(), slider->maximum(), slider->value()),
                      std::tuple(int(control.minimum), int(control.maximum), int(control.defaultValue)));
        }
        if (auto* spin = qobject_cast<QDoubleSpinBox*>(w)) {
            EXPECT_EQ(std::tuple(spin->decimals(), spin->minimum(), spin->maximum(), spin->singleStep(), spin->value()),
                      std::tuple(control.decimals, control.minimum, control.maximum, control.step, control.defaultValue));
        }
        if (auto* group = qobject_cast<RadioGroupBox*>(w)) {
            EXPECT_EQ(group->count(), static_cast<int>(control.items.size()));
            EXPECT_EQ(group->index(), control.defaultValue);
        }
        if (auto* panel = qobject_cast<CollapsiblePanel*>(w)) {
            EXPECT_TRUE(panel->isExpanded());
        }
        if (auto* tool = qobject_cast<ToolWindow*>(w)) {
            EXPECT_EQ(tool->windowType(), Qt::Tool);
            EXPECT_EQ(tool->pos(), QPoint(control.left, control.top));
            EXPECT_EQ(tool->size().expandedTo(QSize(control.width, control.height)), tool->size());
            // A window the user cannot resize holds all it shows (the gamma
            // graph's bottom, with its first point, was under the Reset button).
            if (tool->minimumSize() == tool->maximumSize()) {
                EXPECT_EQ(tool->size().expandedTo(tool->sizeHint()), tool->size());
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 3);

    // On a page, every control that can be shown, all shown at once: each lies
    // inside the window, none covers another, and no caption is cut.
    const int page = static_cast<int>(GetParam()) - static_cast<int>(ControlPlace::Page1);
    if (page < 0 || page > 4) return;
    for (int sheet = 1; sheet <= 5; ++sheet) model("TabSheet" + std::to_string(sheet)).setVisible(true);
    std::vector<const ControlDefinition*> specs;
    for (const ControlDefinition& control : controlTable()) {
        if (control.place != GetParam() && !(control.place == ControlPlace::TopBar && page == 0)) continue;
        if (NeverShown.count(control.name) || control.name == "Showpanel") continue;  // the start panel covers the preview
        model(control.name).setVisible(true);
        if (control.kind != ControlKind::Panel && control.kind != ControlKind::Image) specs.push_back(&control);
    }
    model("PageControl1").setItemIndex(page);
    window->show();
    QApplication::processEvents();

    const QRect inside = window->rect();
    std::vector<std::pair<std::string, QRect>> placed;
    for (const ControlDefinition* control : specs) {
        SCOPED_TRACE(control->name);
        QWidget* w = widget(control->name);
        ASSERT_NE(w, nullptr);
        ASSERT_TRUE(w->isVisible());
        const QRect area(w->mapTo(window.get(), QPoint(0, 0)), w->size());
        EXPECT_TRUE(inside.contains(area)) << area.x() << "," << area.y() << " " << area.width() << "x" << area.height();
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            // A push button's size hint has a minimum width; what counts is its text.
            EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(shown(control->caption)) + 8);
            EXPECT_GE(w->height(), w->minimumSizeHint().height());
        } else if (qobject_cast<QAbstractButton*>(w) || qobject_cast<QLabel*>(w)) {
            EXPECT_GE(w->width(), w->sizeHint().width());
            EXPECT_GE(w->height(), w->minimumSizeHint().height());
        }
        for (const auto& [other, otherArea] : placed) {
            EXPECT_FALSE(area.intersects(otherArea)) << "covers " << other;
        }
        placed.emplace_back(control->name, area);
    }
}

std::string placeName(const ::testing::TestParamInfo<ControlPlace>& info) {
    static const char* const names[] = {"TopBar",          "SelectInput", "AlignFrames", "StackFrames",
                                        "ImageProcessing", "About",       "ToolWindows"};
    return names[static_cast<int>(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Window, PageControls,
                         ::testing::Values(ControlPlace::TopBar, ControlPlace::Page1, ControlPlace::Page2,
                                           ControlPlace::Page3, ControlPlace::Page4, ControlPlace::Page5,
                                           ControlPlace::ToolWindow),
                         placeName);

TEST_F(WindowTest, EveryNamedWidgetHasAModelAndEveryModelAWidgetAndTabsFollowThePageModels) {
    std::multiset<std::string, std::less<>> names;
    QList<QWidget*> all = window->findChildren<QWidget*>();
    all.push_back(window.get());
    for (QWidget* w : all) {
        const std::string name = w->objectName().toStdString();
        // Qt names the parts of its own composite widgets.
        if (name.empty() || name.starts_with("qt_") || qobject_cast<QTabBar*>(w->parentWidget())) continue;
        EXPECT_TRUE(controlByName(name).has_value()) << name;
        names.insert(name);
    }
    for (const auto& model : form.controls()) {
        EXPECT_EQ(names.count(model->name()), 1u) << model->name();
    }

    // A user's tab change runs the page handler; the form's own does not.
    QTabWidget* pages = window->pages();
    ASSERT_EQ(pages->count(), 5);
    const bool shownAtStart[] = {true, false, false, false, true};
    for (int page = 0; page < 5; ++page) {
        EXPECT_EQ(pages->isTabVisible(page), shownAtStart[page]) << page;
    }

    model("TabSheet3").setVisible(true);
    EXPECT_TRUE(pages->isTabVisible(2));
    pages->tabBar()->setCurrentIndex(2);  // as a click on the tab does
    EXPECT_EQ(model("PageControl1").itemIndex(), 2);
    EXPECT_EQ(ran("PageControl1Change"), 1);

    model("PageControl1").setItemIndex(0);  // the form turns the page itself: no handler
    EXPECT_EQ(pages->currentIndex(), 0);
    EXPECT_EQ(ran("PageControl1Change"), 1);

    // Hiding the shown page's tab shows another page; the model follows.
    model("PageControl1").setItemIndex(2);
    model("TabSheet3").setVisible(false);
    EXPECT_FALSE(pages->isTabVisible(2));
    EXPECT_NE(pages->currentIndex(), 2);
    EXPECT_EQ(model("PageControl1").itemIndex(), pages->currentIndex());
    EXPECT_EQ(ran("PageControl1Change"), 1);
}

// A window grown or scaled beyond the screen keeps its title bar and the
// commands along its top and right in reach.
TEST(ToolWindowPlaces, AWindowIsMovedOntoTheScreenJustEnough) {
    const QRect screen(0, 30, 1366, 738);
    const struct {
        QRect frame;
        QPoint place;
    } cases[] = {
        {{100, 100, 400, 300}, {100, 100}},     // fits: stays
        {{1365, 500, 769, 504}, {597, 264}},    // off to the right and below
        {{-89, -27, 1188, 860}, {0, 30}},       // larger than the screen, centred: its corner on it
        {{-300, 200, 200, 100}, {0, 200}},
    };
    for (const auto& c : cases) EXPECT_EQ(MainWindow::placeOnScreen(c.frame, screen), c.place) << c.frame.x();
}

}  // namespace
}  // namespace planexor::testing
