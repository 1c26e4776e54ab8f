#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "app/control_model.h"

namespace planexor {

// Where a control lives: the top bar, one of the five pages, or a tool window.
enum class ControlPlace { TopBar, Page1, Page2, Page3, Page4, Page5, ToolWindow, Window };

struct ControlSpec {
    std::string name;
    ControlKind kind;
    ControlPlace place;
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
    std::string hint;
    int left = 0, top = 0, width = 0, height = 0;  // tool windows: design place and client size
    int columns = 1;                               // radio groups
};

// Every named control of the main window, once. The window, the settings
// file, a project's "Form" section, the CLI's defaults and the tests walk it.
const std::vector<ControlSpec>& controlTable();
const ControlSpec* findControlSpec(std::string_view name);

// The persisted control properties in the order they are written: key
// "<control>_<property>".
struct StoredKey {
    std::string control;
    StoredProperty property = StoredProperty::None;
    bool windowLeft = false;  // Left/Top of a window (or of Gammawin)
    bool windowTop = false;
    std::string key() const;
};
const std::vector<StoredKey>& storedKeys();

}  // namespace planexor
