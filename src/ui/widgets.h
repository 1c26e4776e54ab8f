#pragma once
#include <functional>
#include <string>
#include <vector>

#include <QButtonGroup>
#include <QColor>
#include <QGroupBox>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include "app/main_form.h"
#include "core/bitmap24.h"

class QVBoxLayout;

namespace planexor {

// Shows a 24-bit bitmap at 1:1 and reports the mouse in bitmap coordinates.
// Inside a scroll area it takes the bitmap's size; as a fixed view it pans by
// an offset (a negative left shows the right part of a wide image) and
// centres a bitmap smaller than itself.
class ImageView : public QWidget {
    Q_OBJECT
public:
    using Source = std::function<const Bitmap24*()>;
    using MouseHandler = std::function<void(TMainForm::MouseAction, int x, int y, bool leftButton)>;

    explicit ImageView(QWidget* parent = nullptr);

    void setSource(Source source);
    void setMouseHandler(MouseHandler handler) { mouseHandler_ = std::move(handler); }
    void setFollowsBitmapSize(bool follows);
    void setOffset(QPoint offset);
    // Takes the bitmap's new size and repaints: now when asked by the form,
    // as a frame loop does not return to the event loop until it ends.
    void refresh(bool now = true);
    // Where the bitmap's top left corner is drawn.
    QPoint imageOrigin() const;
    QSize bitmapSize() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void report(TMainForm::MouseAction action, QMouseEvent* event, bool leftButton);
    const Bitmap24* bitmap() const;

    Source source_;
    MouseHandler mouseHandler_;
    bool followsBitmapSize_ = false;
    QPoint offset_;
};

// A filled circle in a colour given the way the window's models keep it:
// 0x00BBGGRR.
class ShapeWidget : public QWidget {
    Q_OBJECT
public:
    explicit ShapeWidget(QWidget* parent = nullptr);
    void setModelColour(int colour);
    QColor colour() const { return colour_; }
    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_ = Qt::black;
};

// A titled group of radio buttons laid out in columns, filled column by
// column. Reports only the user's choice.
class RadioGroupBox : public QGroupBox {
    Q_OBJECT
public:
    explicit RadioGroupBox(QWidget* parent = nullptr);
    void setItems(const std::vector<std::string>& items, int columns);
    void setIndex(int index);  // -1: none chosen
    int index() const;
    int count() const { return static_cast<int>(buttons_.buttons().size()); }
    QAbstractButton* button(int index) const { return buttons_.button(index); }

signals:
    void indexChosen(int index);

private:
    QButtonGroup buttons_;
    std::vector<std::string> items_;
    int columns_ = 1;
};

// A panel whose contents fold away under its title.
class CollapsiblePanel : public QWidget {
    Q_OBJECT
public:
    explicit CollapsiblePanel(QWidget* parent = nullptr);
    void setTitle(const QString& title);
    QString title() const;
    void setExpanded(bool expanded);
    bool isExpanded() const;
    QVBoxLayout* contentLayout() const { return contentLayout_; }

signals:
    void expandedByUser(bool expanded);

private:
    QToolButton* header_;
    QWidget* content_;
    QVBoxLayout* contentLayout_;
};

// A floating window that tells where the user put it. Moves and resizes are
// reported once the user has stopped dragging (a drag produces dozens), and
// only when the place or size really changed.
class ToolWindow : public QWidget {
    Q_OBJECT
public:
    ToolWindow(QWidget* owner, bool aboveAll);
    void setClientSize(QSize size, bool fixed);
    // Reports a pending move or resize now.
    void flush();

signals:
    void movedByUser(QPoint place);
    void resizedByUser(QSize size);
    void closedByUser();

protected:
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer settle_;
    bool movePending_ = false;
    bool resizePending_ = false;
    QSize reportedSize_;
};

// Qt shows "&&" as "&" on buttons but a plain-text label shows both; label
// captions are written the way buttons are.
QString labelText(const std::string& caption);

}  // namespace planexor
