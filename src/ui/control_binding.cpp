#include "ui/control_binding.h"

#include <algorithm>
#include <exception>

#include <QAbstractSlider>
#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBrowser>
#include <QGuiApplication>
#include <QScreen>

#include "core/pixel.h"
#include "ui/widgets.h"

namespace planexor {
namespace {

QString qt(const std::string& text) { return QString::fromStdString(text); }

// Keys a control's key handler acts on; the widget must not act on them too
// (a slider would move by its own step as well).
bool formOwnsKey(Control control, int code) {
    if (control == Control::PreviewSlider) return code == TMainForm::KeySpace;
    if (control == Control::ContrastSlider || control == Control::BrightnessSlider)
        return code == TMainForm::KeyLeft || code == TMainForm::KeyRight;
    return false;
}

// Hidden is said explicitly, or the layout that adopts the widget shows it;
// a widget not yet placed is shown by that layout, not as a window of its own.
void applyVisible(QWidget* widget, bool visible) {
    if (!visible) widget->setVisible(false);
    else if (widget->parentWidget()) widget->setVisible(true);
}

}  // namespace

ControlBinder::ControlBinder(TMainForm& form, QObject* parent) : QObject(parent), form_(form) {}

int ControlBinder::formKeyCode(int qtKey) {
    // The form counts keys the way the desktop it was written for does.
    switch (qtKey) {
        case Qt::Key_Space: return TMainForm::KeySpace;
        case Qt::Key_Left: return TMainForm::KeyLeft;
        case Qt::Key_Up: return 38;
        case Qt::Key_Right: return TMainForm::KeyRight;
        case Qt::Key_Down: return 40;
        case Qt::Key_Return:
        case Qt::Key_Enter: return 13;
        case Qt::Key_Escape: return 27;
        case Qt::Key_PageUp: return 33;
        case Qt::Key_PageDown: return 34;
        case Qt::Key_End: return 35;
        case Qt::Key_Home: return 36;
        case Qt::Key_Delete: return 46;
        default: break;
    }
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)) return qtKey;
    return 0;
}

void ControlBinder::userAction(const std::function<void()>& action) {
    // An exception must not unwind through Qt's event delivery; the form's
    // dispatcher reports handler failures itself, this catches the rest.
    try {
        action();
        if (afterUserAction_) afterUserAction_();
    } catch (const std::exception& error) {
        form_.ui().showMessage(MessageKind::Error, error.what());
    }
}

void ControlBinder::observe(QWidget* widget, ControlModel& model, std::function<void(const ControlModel&)> apply) {
    {
        const QSignalBlocker quiet(widget);
        apply(model);
    }
    const int id = model.addObserver([widget, apply](const ControlModel& changed) {
        const QSignalBlocker quiet(widget);
        apply(changed);
    });
    connect(widget, &QObject::destroyed, [&model, id] { model.removeObserver(id); });
}

void ControlBinder::bindCommon(QWidget* widget, ControlModel& model) {
    widget->setObjectName(qt(std::string(model.name())));
    observe(widget, model, [widget](const ControlModel& m) {
        applyVisible(widget, m.visible());
        widget->setEnabled(m.usable());
        widget->setToolTip(qt(m.hint()));
    });
}

void ControlBinder::addCompanion(ControlModel& model, QWidget* companion) {
    observe(companion, model, [companion](const ControlModel& m) {
        applyVisible(companion, m.visible());
        companion->setEnabled(m.usable());
    });
}

void ControlBinder::bindButton(QAbstractButton* button, ControlModel& model) {
    bindCommon(button, model);
    observe(button, model, [button](const ControlModel& m) { button->setText(qt(m.caption())); });
    connect(button, &QAbstractButton::clicked, this, [this, &model] { userAction([&model] { model.click(); }); });
    // Some buttons act while held down (showing one wavelet layer).
    mouseControls_[button] = model.id();
    button->installEventFilter(this);
}

void ControlBinder::bindCheckBox(QCheckBox* box, ControlModel& model) {
    bindCommon(box, model);
    observe(box, model, [box](const ControlModel& m) {
        box->setText(qt(m.caption()));
        box->setChecked(m.checked());
    });
    connect(box, &QCheckBox::clicked, this,
            [this, &model](bool checked) { userAction([&model, checked] { model.setCheckedByUser(checked); }); });
}

void ControlBinder::bindSlider(QAbstractSlider* slider, ControlModel& model) {
    bindCommon(slider, model);
    observe(slider, model, [slider](const ControlModel& m) {
        slider->setRange(nearest(m.minimum()), nearest(m.maximum()));
        slider->setSingleStep(std::max(1, nearest(m.step())));
        if (m.pageSize() > 0) slider->setPageStep(m.pageSize());
        slider->setValue(m.intValue());
    });
    // A move is the "change"; a value the user has settled on (the drag let
    // go, a click on the track, a key) is also "committed", which is what
    // reruns slow work.
    connect(slider, &QAbstractSlider::valueChanged, this, [this, slider, &model](int value) {
        userAction([this, slider, &model, value] {
            model.setValueByUser(value);
            if (!slider->isSliderDown()) form_.sliderCommitted(model.id());
        });
    });
    connect(slider, &QAbstractSlider::sliderReleased, this,
            [this, &model] { userAction([this, &model] { form_.sliderCommitted(model.id()); }); });
    keyControls_[slider] = model.id();
    slider->installEventFilter(this);
}

void ControlBinder::bindSpin(QDoubleSpinBox* spin, ControlModel& model, QLabel* caption) {
    bindCommon(spin, model);
    // A value counts when it is complete (Enter, leaving the box, an arrow),
    // not at every digit typed.
    spin->setKeyboardTracking(false);
    if (caption) {
        caption->setBuddy(spin);
        addCompanion(model, caption);
    }
    observe(spin, model, [spin, caption](const ControlModel& m) {
        spin->setDecimals(m.decimals());  // first: the range and the value are rounded to it
        spin->setRange(m.minimum(), m.maximum());
        spin->setSingleStep(m.step());
        spin->setValue(m.value());
        if (caption) caption->setText(labelText(m.caption()));
        else if (!m.caption().empty()) spin->setSuffix(" " + qt(m.caption()));
    });
    connect(spin, &QDoubleSpinBox::valueChanged, this,
            [this, &model](double value) { userAction([&model, value] { model.setValueByUser(value); }); });
}

void ControlBinder::bindRadioGroup(RadioGroupBox* group, ControlModel& model, int columns) {
    bindCommon(group, model);
    observe(group, model, [group, columns](const ControlModel& m) {
        group->setTitle(qt(m.caption()));
        group->setItems(m.items(), columns);
        group->setIndex(m.itemIndex());
    });
    connect(group, &RadioGroupBox::indexChosen, this,
            [this, &model](int index) { userAction([&model, index] { model.setItemIndexByUser(index); }); });
}

void ControlBinder::bindLabel(QLabel* label, ControlModel& model) {
    bindCommon(label, model);
    label->setTextFormat(Qt::PlainText);  // captions hold file names, not markup
    observe(label, model, [label](const ControlModel& m) { label->setText(labelText(m.caption())); });
    // Link labels (the mail label) act on a click.
    mouseControls_[label] = model.id();
    label->installEventFilter(this);
}

void ControlBinder::bindEdit(QLineEdit* edit, ControlModel& model) {
    bindCommon(edit, model);
    observe(edit, model, [edit](const ControlModel& m) {
        if (edit->text() != qt(m.caption())) edit->setText(qt(m.caption()));
    });
    connect(edit, &QLineEdit::textEdited, this,
            [&model](const QString& text) { model.setCaption(text.toStdString()); });
}

void ControlBinder::bindMemo(QPlainTextEdit* memo, ControlModel& model) {
    bindCommon(memo, model);
    memo->setReadOnly(true);
    observe(memo, model, [memo](const ControlModel& m) {
        if (memo->toPlainText() != qt(m.caption())) memo->setPlainText(qt(m.caption()));
    });
}

void ControlBinder::bindRichMemo(QTextBrowser* memo, ControlModel& model, std::function<QString()> html) {
    bindCommon(memo, model);
    memo->setReadOnly(true);
    observe(memo, model, [memo, html = std::move(html)](const ControlModel&) { memo->setHtml(html()); });
}

void ControlBinder::bindCheckList(QListWidget* list, ControlModel& model) {
    bindCommon(list, model);
    observe(list, model, [list](const ControlModel& m) {
        const auto& items = m.listItems();
        const int count = static_cast<int>(items.size());
        auto fill = [&](int row) {
            auto* item = new QListWidgetItem(qt(items[row].text), list);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(items[row].checked ? Qt::Checked : Qt::Unchecked);
        };
        // Each change notifies once: a list of 2500 frames is built by
        // 2500 appends, which must not rebuild the widget 2500 times.
        if (count == list->count() + 1) {
            fill(count - 1);
        } else if (count != list->count()) {
            list->clear();
            for (int row = 0; row < count; ++row) fill(row);
        } else {
            for (int row = 0; row < count; ++row) {
                QListWidgetItem* item = list->item(row);
                if (item->text() != qt(items[row].text)) item->setText(qt(items[row].text));
                const Qt::CheckState state = items[row].checked ? Qt::Checked : Qt::Unchecked;
                if (item->checkState() != state) item->setCheckState(state);
            }
        }
        // The selection follows the model's: rows the form selected (the
        // frame shown) or the user's multi-selection kept.
        std::vector<int> shown;
        for (const QModelIndex& index : list->selectionModel()->selectedRows()) shown.push_back(index.row());
        std::sort(shown.begin(), shown.end());
        if (shown != m.listSelection() || list->currentRow() != m.selectedListItem()) {
            list->clearSelection();
            if (m.selectedListItem() >= 0)
                list->setCurrentRow(m.selectedListItem(), QItemSelectionModel::NoUpdate);
            for (const int row : m.listSelection())
                if (QListWidgetItem* item = list->item(row)) item->setSelected(true);
            if (QListWidgetItem* item = list->currentItem()) list->scrollToItem(item);
        }
    });
    // The widget has already inverted a clicked check mark, as the form expects.
    // The form toggles the selected entries and the focused one: a click on a
    // box focuses its entry, kept in a multiple selection that holds it, else
    // made the selection (Qt leaves both where they were).
    const Control name = model.id();
    connect(list, &QListWidget::itemChanged, this, [this, list, &model, name](QListWidgetItem* item) {
        const int row = list->row(item);
        userAction([this, &model, name, row, checked = item->checkState() == Qt::Checked] {
            std::vector<int> selection = model.listSelection();
            if (std::find(selection.begin(), selection.end(), row) == selection.end()) selection = {row};
            model.setListSelection(selection, row);
            model.setListItemChecked(row, checked);
            form_.listEvent(name, TMainForm::ListAction::ClickCheck);
        });
    });
    connect(list, &QListWidget::itemSelectionChanged, this, [list, &model] {
        std::vector<int> rows;
        for (const QModelIndex& index : list->selectionModel()->selectedRows()) rows.push_back(index.row());
        model.setListSelection(rows, list->currentRow());
    });
    connect(list, &QListWidget::itemClicked, this, [this, name](QListWidgetItem*) {
        userAction([this, name] { form_.listEvent(name, TMainForm::ListAction::Click); });
    });
    connect(list, &QListWidget::itemDoubleClicked, this, [this, name](QListWidgetItem*) {
        userAction([this, name] { form_.listEvent(name, TMainForm::ListAction::DblClick); });
    });
}

void ControlBinder::bindImage(ImageView* image, ControlModel& model) {
    bindCommon(image, model);
    observe(image, model, [image](const ControlModel& m) { image->setOffset(QPoint(m.left(), m.top())); });
    image->setMouseHandler([this, name = model.id()](TMainForm::MouseAction action, int x, int y, MouseButtons buttons) {
        userAction([this, &name, action, x, y, buttons] { form_.mouseEvent(name, action, x, y, buttons); });
    });
}

void ControlBinder::bindShape(ShapeWidget* shape, ControlModel& model) {
    bindCommon(shape, model);
    observe(shape, model, [shape](const ControlModel& m) { shape->setModelColour(m.colour()); });
}

void ControlBinder::bindMarker(ShapeWidget* shape, ControlModel& model) {
    bindShape(shape, model);
    observe(shape, model, [shape](const ControlModel& m) { shape->move(m.left(), 0); });
}

void ControlBinder::bindGauge(QProgressBar* gauge, ControlModel& model) {
    bindCommon(gauge, model);
    observe(gauge, model, [gauge](const ControlModel& m) {
        gauge->setRange(nearest(m.minimum()), nearest(m.maximum()));
        gauge->setValue(m.intValue());
    });
}

void ControlBinder::bindPanel(QWidget* panel, ControlModel& model) {
    bindCommon(panel, model);
    if (auto* group = qobject_cast<QGroupBox*>(panel))
        observe(panel, model, [group](const ControlModel& m) { group->setTitle(qt(m.caption())); });
}

void ControlBinder::bindCollapsiblePanel(CollapsiblePanel* panel, ControlModel& model) {
    bindCommon(panel, model);
    observe(panel, model, [panel](const ControlModel& m) {
        panel->setTitle(qt(m.caption()));
        panel->setExpanded(m.expanded());
    });
    // Folding is not an action of the form; it is only remembered.
    connect(panel, &CollapsiblePanel::expandedByUser, this, [&model](bool expanded) { model.setExpanded(expanded); });
}

namespace {

// A place kept from a larger screen, or one since unplugged, is pulled back
// so that the window's title bar can still be reached.
QPoint reachablePlace(const QWidget* window, QPoint place) {
    QRect desktop;
    for (const QScreen* screen : QGuiApplication::screens()) desktop = desktop.united(screen->availableGeometry());
    if (desktop.isEmpty()) return place;
    constexpr int Reach = 40;
    const int leftmost = desktop.left() - window->width() + Reach, rightmost = desktop.right() - Reach;
    const int lowest = desktop.bottom() - Reach;
    return {std::clamp(place.x(), std::min(leftmost, rightmost), rightmost),
            std::clamp(place.y(), std::min(desktop.top(), lowest), lowest)};
}

}  // namespace

void ControlBinder::bindToolWindow(ToolWindow* window, ControlModel& model) {
    window->setObjectName(qt(std::string(model.name())));
    observe(window, model, [window](const ControlModel& m) {
        window->setWindowTitle(qt(m.caption()));
        const QPoint place = reachablePlace(window, QPoint(m.left(), m.top()));
        if (window->pos() != place) window->move(place);
        if (window->isHidden() == m.visible()) window->setVisible(m.visible());
    });
    const Control name = model.id();
    // Where programs cannot place windows, a place read back is no place of
    // the user's: the stored one is kept.
    if (!QGuiApplication::platformName().startsWith("wayland")) {
        connect(window, &ToolWindow::movedByUser, this, [this, &model, name](QPoint place) {
            if (place == QPoint(model.left(), model.top())) return;  // where the form put it
            userAction([this, name, place] { form_.toolWindowMoved(name, place.x(), place.y()); });
        });
    }
    connect(window, &ToolWindow::resizedByUser, this, [this, name](QSize size) {
        userAction([this, name, size] { form_.toolWindowResized(name, size.width(), size.height()); });
    });
    connect(window, &ToolWindow::closedByUser, this,
            [this, name] { userAction([this, name] { form_.toolWindowClosed(name); }); });
}

void ControlBinder::bindPages(QTabWidget* pages, ControlModel& pageControl, const std::vector<ControlModel*>& sheets) {
    pages->setObjectName(qt(std::string(pageControl.name())));
    for (int index = 0; index < static_cast<int>(sheets.size()); ++index) {
        observe(pages, *sheets[index], [pages, index, &pageControl](const ControlModel& sheet) {
            pages->setTabText(index, qt(sheet.caption()));
            pages->setTabVisible(index, sheet.visible());
            // Hiding the shown page's tab shows another page; that is no
            // page change of the user's.
            if (pages->currentIndex() != pageControl.itemIndex()) pageControl.setItemIndex(pages->currentIndex());
        });
    }
    observe(pages, pageControl, [pages](const ControlModel& m) {
        if (pages->currentIndex() != m.itemIndex()) pages->setCurrentIndex(m.itemIndex());
        // Only the tabs lock during a run: the pages' pictures stay live.
        pages->tabBar()->setEnabled(!m.locked());
    });
    connect(pages, &QTabWidget::currentChanged, this, [this, &pageControl](int index) {
        userAction([&pageControl, index] { pageControl.setItemIndexByUser(index); });
    });
}

void ControlBinder::bindWindowCaption(QWidget* window, ControlModel& model) {
    window->setObjectName(qt(std::string(model.name())));
    observe(window, model, [window](const ControlModel& m) { window->setWindowTitle(qt(m.caption())); });
}

bool ControlBinder::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto found = keyControls_.find(watched);
        if (found == keyControls_.end()) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const int code = formKeyCode(key->key());
        if (code == 0) return false;
        const bool ctrl = (key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier;
        const Control name = found->second;
        userAction([this, name, code, ctrl] { form_.keyDown(name, code, ctrl); });
        return formOwnsKey(name, code);
    }
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease) {
        const auto found = mouseControls_.find(watched);
        if (found == mouseControls_.end()) return false;
        auto* mouse = static_cast<QMouseEvent*>(event);
        const bool press = event->type() == QEvent::MouseButtonPress;
        const bool left = mouse->button() == Qt::LeftButton;
        const QPoint at = mouse->position().toPoint();
        const Control name = found->second;
        if (qobject_cast<QLabel*>(watched)) {
            if (!press && left) userAction([this, name] { form_.control(name).click(); });
            return false;
        }
        const auto action = press ? TMainForm::MouseAction::Down : TMainForm::MouseAction::Up;
        userAction([this, name, action, at, left] { form_.mouseEvent(name, action, at.x(), at.y(), left); });
    }
    return false;
}

}  // namespace planexor
