#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "app/control_id.h"
#include "app/control_model.h"

namespace planexor {

// Where a control lives: the top bar, one of the five pages, or a tool window.
enum class ControlPlace { TopBar, Page1, Page2, Page3, Page4, Page5, ToolWindow, Window };

// One persisted property of a control and its place in the stored order.
struct StoredEntry {
    StoredProperty property = StoredProperty::None;
    int order = 0;
};

// What a control is: the row of the one control table that describes it.
struct ControlDefinition {
    Control id{};
    std::string name;
    ControlKind kind = ControlKind::Label;
    ControlPlace place = ControlPlace::Window;
    std::string parent;   // the tool window or panel it sits in, if any
    std::string caption;  // caption, or label text
    std::vector<std::string> items;
    double minimum = 0;
    double maximum = 0;
    double step = 1;
    int decimals = 0;
    double defaultValue = 0;  // value, or item index
    bool defaultChecked = false;
    bool visible = true;
    bool enabled = true;
    // A run reads it once at its start, so the user may not change it until
    // the run ends. Cancel, Re-Align and the tool-window boxes stay live.
    bool lockedDuringRun = false;
    // Does its work without a change handler: an option that the work reads
    // when it runs, or a button the form drives by its mouse events.
    bool noHandler = false;
    std::string hint;
    std::string minimumText;  // a spin shows this instead of its minimum value
    int left = 0, top = 0, width = 0, height = 0;  // tool windows: design place and client size
    int columns = 1;                               // radio groups
    std::vector<StoredEntry> stored;               // settings file and project "Form" keys
};

// Every named control of the main window, once. The window, the settings
// file, a project's "Form" section, the CLI's defaults and the tests walk it.
const std::vector<ControlDefinition>& controlTable();
const ControlDefinition& definitionOf(Control control);

// A persisted key, "<control>_<property>", in the order the files write them.
struct PersistedKey {
    Control control{};
    StoredProperty property = StoredProperty::None;
    std::string key() const;
};
// Gathered from the table's stored column, sorted by its order.
const std::vector<PersistedKey>& persistedKeys();

}  // namespace planexor
