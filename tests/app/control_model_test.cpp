#include <gtest/gtest.h>

#include <set>

#include "app/control_model.h"
#include "app/control_table.h"

namespace planexor {
namespace {

TEST(ControlModel, UserChangeRunsTheHandlerOnlyWhenTheValueReallyChanges) {
    ControlModel slider(Control::StackSlider, ControlKind::Slider);
    slider.setRange(0, 100);
    int handled = 0, seen = 0;
    slider.onChange([&] { ++handled; });
    slider.addObserver([&](const ControlModel&) { ++seen; });
    slider.setValueByUser(40);
    slider.setValueByUser(40);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(seen, 1);
    slider.setValue(41);  // silent: observers see it, the handler does not run
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(seen, 2);
    slider.setValueByUser(1000);  // clamped to the range
    EXPECT_EQ(slider.value(), 100);
    EXPECT_EQ(handled, 2);
    slider.setRange(0, 3);  // narrowing pulls the value in
    EXPECT_EQ(slider.value(), 3);
    slider.setRange(5, 5);
    EXPECT_EQ(slider.value(), 5);
}

TEST(ControlModel, DisabledButtonIgnoresClicksAndObserversMayLeaveWhileNotified) {
    ControlModel button(Control::Optimizebutton, ControlKind::Button);
    int clicks = 0;
    button.onChange([&] { ++clicks; });
    button.setEnabled(false);
    button.click();
    EXPECT_EQ(clicks, 0);
    button.setEnabled(true);
    button.click();
    EXPECT_EQ(clicks, 1);

    int calls = 0;
    int id = 0;
    id = button.addObserver([&](const ControlModel&) {
        ++calls;
        button.removeObserver(id);
    });
    button.setCaption("x");
    button.setCaption("y");
    EXPECT_EQ(calls, 1);
}

TEST(ControlModel, CheckListKeepsItsItemsInRange) {
    ControlModel list(Control::SelectFramesChecklist, ControlKind::CheckList);
    list.addListItem("Frame 1", true);
    list.setListItemChecked(5, false);  // no such row: ignored
    list.selectListItem(3);
    EXPECT_EQ(list.selectedListItem(), -1);
    list.setListItemChecked(0, false);
    EXPECT_FALSE(list.listItems()[0].checked);
}

TEST(ControlTable, DescribesEveryControlOnceWithDefaultsInRange) {
    std::set<Control> described;
    for (const ControlDefinition& desc : controlTable()) {
        EXPECT_TRUE(described.insert(desc.id).second) << "twice: " << desc.name;
        EXPECT_EQ(desc.name, controlName(desc.id));
        if (desc.kind == ControlKind::Slider || desc.kind == ControlKind::Spin) {
            EXPECT_LE(desc.minimum, desc.defaultValue) << desc.name;
            EXPECT_GE(desc.maximum, desc.defaultValue) << desc.name;
        }
        if (desc.kind == ControlKind::RadioGroup) {
            EXPECT_GE(desc.defaultValue, 0) << desc.name;
            EXPECT_LT(desc.defaultValue, static_cast<double>(desc.items.size())) << desc.name;
        }
        if (!desc.parent.empty() && desc.place == ControlPlace::ToolWindow) {
            // A panel inside the window may hold it.
            auto window = controlByName(desc.parent);
            while (window && definitionOf(*window).kind == ControlKind::Panel)
                window = controlByName(definitionOf(*window).parent);
            ASSERT_TRUE(window.has_value()) << desc.name;
            EXPECT_EQ(definitionOf(*window).kind, ControlKind::ToolWindow) << desc.name;
        }
    }
    EXPECT_EQ(described.size(), ControlCount);
}

}  // namespace
}  // namespace planexor
