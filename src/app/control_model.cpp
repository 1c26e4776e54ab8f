#include "app/control_model.h"

#include <algorithm>
#include <cmath>

#include "core/pixel.h"

namespace planexor {

int ControlModel::intValue() const { return nearest(value_); }

double ControlModel::clampToRange(double value) const {
    if (!std::isfinite(value)) return value_;
    return std::clamp(value, minimum_, std::max(minimum_, maximum_));
}

void ControlModel::changed() {
    // Copy: an observer may add or remove observers while we notify.
    const auto observers = observers_;
    for (const auto& observer : observers) observer.callback(*this);
}

void ControlModel::setValue(double value) {
    value = clampToRange(value);
    if (value == value_) return;
    value_ = value;
    changed();
}

void ControlModel::setValueByUser(double value) {
    if (locked_ || !available_) return;
    value = clampToRange(value);
    if (value == value_) return;
    value_ = value;
    changed();
    if (handler_) handler_();
}

void ControlModel::setChecked(bool checked) {
    if (checked == checked_) return;
    checked_ = checked;
    changed();
}

void ControlModel::setCheckedByUser(bool checked) {
    if (locked_ || !available_ || checked == checked_) return;
    checked_ = checked;
    changed();
    if (handler_) handler_();
}

void ControlModel::click() {
    if (usable() && handler_) handler_();
}

void ControlModel::setRange(double minimum, double maximum) {
    if (minimum == minimum_ && maximum == maximum_) return;
    minimum_ = minimum;
    maximum_ = maximum;
    value_ = clampToRange(value_);
    changed();
}

void ControlModel::setCaption(std::string caption) {
    if (caption == caption_) return;
    caption_ = std::move(caption);
    changed();
}

void ControlModel::setItems(std::vector<std::string> items) {
    items_ = std::move(items);
    changed();
}

void ControlModel::setVisible(bool visible) {
    if (visible == visible_) return;
    visible_ = visible;
    changed();
}

void ControlModel::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    changed();
}

void ControlModel::setPageSize(int pageSize) {
    if (pageSize == pageSize_) return;
    pageSize_ = pageSize;
    changed();
}

void ControlModel::setLocked(bool locked) {
    if (locked == locked_) return;
    locked_ = locked;
    changed();
}

void ControlModel::setAvailable(bool available) {
    if (available == available_) return;
    available_ = available;
    changed();
}

void ControlModel::setPosition(int left, int top) {
    if (left == left_ && top == top_) return;
    left_ = left;
    top_ = top;
    changed();
}

void ControlModel::setColour(int colour) {
    if (colour == colour_) return;
    colour_ = colour;
    changed();
}

void ControlModel::setExpanded(bool expanded) {
    if (expanded == expanded_) return;
    expanded_ = expanded;
    changed();
}

int ControlModel::addObserver(std::function<void(const ControlModel&)> observer) {
    observers_.push_back({nextObserverId_, std::move(observer)});
    return nextObserverId_++;
}

void ControlModel::removeObserver(int id) {
    std::erase_if(observers_, [id](const Observer& o) { return o.id == id; });
}

void ControlModel::clearList() {
    listItems_.clear();
    selectedListItem_ = -1;
    listSelection_.clear();
    changed();
}

void ControlModel::addListItem(std::string text, bool checked) {
    listItems_.push_back({std::move(text), checked});
    changed();
}

void ControlModel::setListItemChecked(int index, bool checked) {
    if (index < 0 || index >= static_cast<int>(listItems_.size())) return;
    if (listItems_[index].checked == checked) return;
    listItems_[index].checked = checked;
    changed();
}

void ControlModel::selectListItem(int index) {
    if (index < -1 || index >= static_cast<int>(listItems_.size())) return;
    std::vector<int> only;
    if (index >= 0) only.push_back(index);
    if (index == selectedListItem_ && only == listSelection_) return;
    selectedListItem_ = index;
    listSelection_ = std::move(only);
    changed();
}

void ControlModel::setListSelection(std::vector<int> rows, int focused) {
    const int count = static_cast<int>(listItems_.size());
    std::erase_if(rows, [count](int row) { return row < 0 || row >= count; });
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (focused < -1 || focused >= count) focused = -1;
    if (rows == listSelection_ && focused == selectedListItem_) return;
    listSelection_ = std::move(rows);
    selectedListItem_ = focused;
    changed();
}

}  // namespace planexor
