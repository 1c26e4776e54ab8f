#pragma once
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <QPoint>
#include <QRect>
#include <QWidget>

#include "app/control_table.h"
#include "app/main_form.h"

class QBoxLayout;
class QCloseEvent;
class QTabWidget;

namespace planexor {

class ControlBinder;
class ImageView;
class ToolWindow;

// The desktop main window over TMainForm: the top bar, the five pages and
// the tool windows, every named control built from the control table and
// bound to its model. The form must outlive the window.
class MainWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 792;
    static constexpr int ClientHeight = 573;

    explicit MainWindow(TMainForm& form, QWidget* parent = nullptr);
    ~MainWindow() override;

    TMainForm& form() { return form_; }
    QTabWidget* pages() const { return pages_; }
    // The widget bound to a named control, or nullptr.
    QWidget* controlWidget(Control id) const;
    QWidget* controlWidget(const std::string& name) const;
    const std::map<std::string, QWidget*>& controlWidgets() const { return widgets_; }
    // Lets every picture take its bitmap's size and show what the form drew.
    void refreshImages();

    // Where the tool windows go when no place of the user's is known: beside
    // the main window's frame, inside the screen, the windows of one page
    // one under another. Window by window, in screen coordinates.
    // frameSize gives a tool window's outer size; by default its design size.
    static std::map<Control, QPoint> toolWindowPlaces(const QRect& mainFrame, const QRect& screen,
                                                      const std::function<QSize(Control)>& frameSize = {});
    // Where a window's frame goes to lie on the screen's available area: as it
    // is when it fits, else moved just enough; one larger than the area keeps
    // its top left corner (title bar and first buttons) on it.
    static QPoint placeOnScreen(const QRect& frame, const QRect& available);
    // Moves every tool window still at its design place, which no user chose,
    // beside the shown window. A project or settings file written elsewhere
    // (by the CLI) can put them back there at any time.
    void placeUnmovedToolWindows();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct Surface;
    void buildTopBar(QBoxLayout* layout);
    QWidget* buildPage(ControlPlace place);
    void buildAboutPage(QWidget* page);
    void buildToolWindow(const ControlDefinition& desc);
    void place(const ControlDefinition& desc, Surface& surface);
    // The controls inside a tool window, and inside its panels.
    void placeChildren(const std::string& parent, Surface& surface);
    void addControl(const ControlDefinition& desc, QBoxLayout* into, Surface& surface);
    QBoxLayout* containerFor(const ControlDefinition& desc, Surface& surface);
    QWidget* createControl(const ControlDefinition& desc, QBoxLayout* into);
    ImageView* createImage(const ControlDefinition& desc);
    QWidget* createPageImage(const ControlDefinition& desc, Surface& surface);
    QWidget* buildStretchMarkers();
    void closeWhenRunEnds();

    TMainForm& form_;
    ControlBinder* binder_;
    QTabWidget* pages_ = nullptr;
    std::map<std::string, QWidget*> widgets_;
    std::map<std::string, QBoxLayout*> panelContents_;
    std::vector<ImageView*> images_;
    std::vector<ToolWindow*> toolWindows_;
    bool closeRequested_ = false;
    bool shown_ = false;
};

}  // namespace planexor
