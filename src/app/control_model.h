#pragma once
#include <functional>
#include <string>
#include <vector>

#include "app/control_id.h"

namespace planexor {

enum class ControlKind {
    Button, CheckBox, Slider, Spin, RadioGroup, Label, Edit, Image, Panel, Shape,
    ScrollBar, ToolWindow, Page, CheckList, Memo
};

// Which property of a control is persisted, and under which key suffix.
enum class StoredProperty { None, Checked, Value, ItemIndex, Expand, Visible, Left, Top };

// One named control of the main window, without any toolkit: its state and
// who to tell when it changes. The Qt window binds a widget to it; tests and
// the CLI drive it directly.
class ControlModel {
public:
    ControlModel(Control id, ControlKind kind) : id_(id), kind_(kind) {}

    Control id() const { return id_; }
    std::string_view name() const { return controlName(id_); }
    ControlKind kind() const { return kind_; }

    // Value of sliders, spins, scroll bars (and the item index of radio groups).
    double value() const { return value_; }
    int intValue() const;
    double minimum() const { return minimum_; }
    double maximum() const { return maximum_; }
    double step() const { return step_; }
    // A scroll bar's page: the part of the picture in view (0: the toolkit's own).
    int pageSize() const { return pageSize_; }
    int decimals() const { return decimals_; }
    bool checked() const { return checked_; }
    int itemIndex() const { return static_cast<int>(value_); }
    const std::string& caption() const { return caption_; }
    const std::vector<std::string>& items() const { return items_; }
    const std::string& hint() const { return hint_; }
    bool visible() const { return visible_; }
    bool enabled() const { return enabled_; }
    // Locked while a run goes on: the user's changes are refused, and the
    // window shows the control disabled.
    bool locked() const { return locked_; }
    // A control whose work is not built yet: shown, but never usable.
    bool available() const { return available_; }
    bool usable() const { return enabled_ && !locked_ && available_; }
    int left() const { return left_; }
    int top() const { return top_; }
    int colour() const { return colour_; }
    bool expanded() const { return expanded_; }

    // As the user would: the change handler runs (when the value really changes).
    void setValueByUser(double value);
    void setCheckedByUser(bool checked);
    void setItemIndexByUser(int index) { setValueByUser(index); }
    void click();  // buttons: runs the click handler

    // Silently: observers see it, the change handler does not run.
    void setValue(double value);
    void setChecked(bool checked);
    void setItemIndex(int index) { setValue(index); }
    void setRange(double minimum, double maximum);
    void setMaximum(double maximum) { setRange(minimum_, maximum); }
    void setCaption(std::string caption);
    void setItems(std::vector<std::string> items);
    void setHint(std::string hint) { hint_ = std::move(hint); }
    void setVisible(bool visible);
    void setEnabled(bool enabled);
    void setLocked(bool locked);
    void setAvailable(bool available);
    void setPosition(int left, int top);
    void setColour(int colour);
    void setExpanded(bool expanded);
    void setStep(double step) { step_ = step; }
    void setPageSize(int pageSize);
    void setDecimals(int decimals) { decimals_ = decimals; }

    // The handler runs on a user's change or click; observers on every change.
    void onChange(std::function<void()> handler) { handler_ = std::move(handler); }
    bool hasHandler() const { return static_cast<bool>(handler_); }
    int addObserver(std::function<void(const ControlModel&)> observer);
    void removeObserver(int id);

    // Check-list items (frame lists): text and checked state per row.
    struct ListItem {
        std::string text;
        bool checked = true;
    };
    const std::vector<ListItem>& listItems() const { return listItems_; }
    void clearList();
    void addListItem(std::string text, bool checked);
    void setListItemChecked(int index, bool checked);
    // The focused row, which selectListItem() also makes the only selected one.
    int selectedListItem() const { return selectedListItem_; }
    void selectListItem(int index);
    // Every selected row, ascending (multi-selection lists).
    const std::vector<int>& listSelection() const { return listSelection_; }
    void setListSelection(std::vector<int> rows, int focused);

private:
    void changed();
    double clampToRange(double value) const;

    Control id_;
    ControlKind kind_;
    double value_ = 0;
    double minimum_ = 0;
    double maximum_ = 0;
    double step_ = 1;
    int pageSize_ = 0;
    int decimals_ = 0;
    bool checked_ = false;
    std::string caption_;
    std::vector<std::string> items_;
    std::string hint_;
    bool visible_ = true;
    bool enabled_ = true;
    bool locked_ = false;
    bool available_ = true;
    int left_ = 0;
    int top_ = 0;
    int colour_ = 0;
    bool expanded_ = true;
    std::vector<ListItem> listItems_;
    int selectedListItem_ = -1;
    std::vector<int> listSelection_;
    std::function<void()> handler_;
    struct Observer {
        int id;
        std::function<void(const ControlModel&)> callback;
    };
    std::vector<Observer> observers_;
    int nextObserverId_ = 1;
};

}  // namespace planexor
