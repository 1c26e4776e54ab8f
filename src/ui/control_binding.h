#pragma once
#include <functional>
#include <map>
#include <set>
#include <string>

#include <QObject>

#include "app/main_form.h"

class QAbstractButton;
class QAbstractSlider;
class QCheckBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QTextBrowser;
class QProgressBar;
class QTabWidget;
class QWidget;

namespace planexor {

class CollapsiblePanel;
class ImageView;
class RadioGroupBox;
class ShapeWidget;
class ToolWindow;

// Binds widgets to the form's control models, both ways, one helper per kind
// of widget. A user's change goes to the model "as the user would" (the
// handler runs); a model change reaches the widget with its signals blocked,
// so it never runs a handler again. Every bound widget follows its model's
// visible and enabled flags and shows its hint as a tool tip.
//
// The form must outlive the bound widgets: each widget leaves its model's
// observers when it is destroyed.
class ControlBinder : public QObject {
    Q_OBJECT
public:
    explicit ControlBinder(TMainForm& form, QObject* parent = nullptr);

    // Runs after every handler a widget started, so pictures show what it drew.
    void setAfterUserAction(std::function<void()> callback) { afterUserAction_ = std::move(callback); }

    void bindButton(QAbstractButton* button, ControlModel& model);
    void bindCheckBox(QCheckBox* box, ControlModel& model);
    void bindSlider(QAbstractSlider* slider, ControlModel& model);  // QSlider or QScrollBar
    void bindSpin(QDoubleSpinBox* spin, ControlModel& model, QLabel* caption);
    void bindRadioGroup(RadioGroupBox* group, ControlModel& model, int columns);
    void bindLabel(QLabel* label, ControlModel& model);
    void bindEdit(QLineEdit* edit, ControlModel& model);
    void bindMemo(QPlainTextEdit* memo, ControlModel& model);
    // A memo showing rich text: `html` gives it whenever the model changes.
    void bindRichMemo(QTextBrowser* memo, ControlModel& model, std::function<QString()> html);
    void bindCheckList(QListWidget* list, ControlModel& model);
    void bindImage(ImageView* image, ControlModel& model);
    void bindShape(ShapeWidget* shape, ControlModel& model);
    // A shape that also stands where its model's left says, in its parent.
    void bindMarker(ShapeWidget* shape, ControlModel& model);
    void bindGauge(QProgressBar* gauge, ControlModel& model);
    void bindPanel(QWidget* panel, ControlModel& model);
    void bindCollapsiblePanel(CollapsiblePanel* panel, ControlModel& model);
    void bindToolWindow(ToolWindow* window, ControlModel& model);
    // The page control: the current page is the model's item index, each
    // page's tab is shown while its page model is visible.
    void bindPages(QTabWidget* pages, ControlModel& pageControl, const std::vector<ControlModel*>& sheets);
    void bindWindowCaption(QWidget* window, ControlModel& model);

    // A widget that shows and hides (and is enabled) with a named one, such
    // as a spin box's caption.
    void addCompanion(ControlModel& model, QWidget* companion);

    // Keys that the form handles for a control instead of the widget itself.
    static int formKeyCode(int qtKey);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Calls apply now and on every change of the model, with the widget's
    // signals blocked.
    void observe(QWidget* widget, ControlModel& model, std::function<void(const ControlModel&)> apply);
    void bindCommon(QWidget* widget, ControlModel& model);
    void userAction(const std::function<void()>& action);

    TMainForm& form_;
    std::function<void()> afterUserAction_;
    std::map<QObject*, Control> keyControls_;    // widgets whose keys go to the form
    std::map<QObject*, Control> mouseControls_;  // buttons whose presses go to the form
};

}  // namespace planexor
