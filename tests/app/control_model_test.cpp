#include <gtest/gtest.h>

#include <utility>

#include "app/control_model.h"
#include "app/control_table.h"

namespace planexor {
namespace {

TEST(ControlModel, OnlyARealChangeOrAnEnabledClickRunsTheHandlerAndObserversMayLeaveWhileNotified) {
    ControlModel slider(Control::StackSlider, ControlKind::Slider);
    slider.setRange(0, 100);
    ControlModel button(Control::Optimizebutton, ControlKind::Button);
    int handled = 0;
    slider.onChange([&] { ++handled; });
    button.onChange([&] { ++handled; });
    slider.setValueByUser(40);
    slider.setValueByUser(40);
    button.setEnabled(false);
    button.click();
    EXPECT_EQ(handled, 1);  // the repeated value and the disabled click run nothing

    // One observer leaving: it hears the first change only, and the one after it hears both.
    int calls = 0, after = 0;
    int id = 0;
    id = button.addObserver([&](const ControlModel&) {
        ++calls;
        button.removeObserver(id);
    });
    button.addObserver([&](const ControlModel&) { ++after; });
    button.setCaption("x");
    button.setCaption("y");
    EXPECT_EQ(std::pair(calls, after), std::pair(1, 2));
}

TEST(ControlModel, CheckListKeepsItsItemsInRange) {
    ControlModel list(Control::SelectFramesChecklist, ControlKind::CheckList);
    list.addListItem("Frame 1", true);
    list.setListItemChecked(5, false);  // no such row: ignored
    list.selectListItem(3);
    EXPECT_TRUE(list.listItems()[0].checked);
    EXPECT_EQ(list.selectedListItem(), -1);
}

}  // namespace
}  // namespace planexor
