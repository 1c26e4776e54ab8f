#pragma once
#include <functional>
#include <string>
#include <vector>

#include <QButtonGroup>
#include <QColor>
#include <QGroupBox>
#include <QImage>
#include <QListWidget>
#include <QTimer>
#include <QToolButton>
#include <QWidget>

#include "app/main_form.h"
#include "app/rich_text.h"
#include "core/bitmap24.h"
#include "core/drawing.h"

class QPainter;
class QVBoxLayout;

namespace planexor {

// Paints a drawing in its own pixels, in its order: background, lines,
// ellipses, pixels, then the texts when asked. An inverted line is XORed with
// white, so painting it twice restores the picture; that needs a painter on a
// QImage.
void paintDrawing(QPainter& painter, const Drawing& drawing, bool withTexts = true);
// The texts alone, each placed at its point scaled by (scaleX, scaleY) but
// in the font's own size: a caption over a stretched picture stays readable.
void paintDrawingTexts(QPainter& painter, const Drawing& drawing, double scaleX = 1.0, double scaleY = 1.0);

// Shows a 24-bit bitmap at 1:1, or stretched over the whole view, and the
// form's drawing over it (a graph is its drawing alone), and reports the
// mouse in picture coordinates. Inside a scroll area it takes the picture's
// size; as a fixed view it pans by an offset (a negative left shows the right
// part of a wide image) and centres a picture smaller than itself.
class ImageView : public QWidget {
    Q_OBJECT
public:
    using Source = std::function<const Bitmap24*()>;
    using OverlaySource = std::function<const Drawing*()>;
    using MouseHandler = std::function<void(TMainForm::MouseAction, int x, int y, MouseButtons buttons)>;

    explicit ImageView(QWidget* parent = nullptr);

    void setSource(Source source);
    void setOverlay(OverlaySource overlay);
    void setMouseHandler(MouseHandler handler) { mouseHandler_ = std::move(handler); }
    // Told the view's own size whenever the layout changes it.
    void setResizeHandler(std::function<void(QSize)> handler) { resizeHandler_ = std::move(handler); }
    void setFollowsBitmapSize(bool follows);
    // The bitmap is scaled to fill the view.
    void setStretched(bool stretched);
    void setOffset(QPoint offset);
    // Takes the bitmap's new size and repaints: now when asked by the form,
    // as a frame loop does not return to the event loop until it ends.
    void refresh(bool now = true);
    // Where the picture's top left corner is drawn.
    QPoint imageOrigin() const;
    // The picture's size: the bitmap's, or a graph drawing's own.
    QSize bitmapSize() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void report(TMainForm::MouseAction action, QMouseEvent* event, MouseButtons buttons);
    QPoint pictureAt(QMouseEvent* event) const;
    const Bitmap24* bitmap() const;
    const Drawing* drawing() const;
    QSizeF scale() const;

    Source source_;
    OverlaySource overlay_;
    MouseHandler mouseHandler_;
    std::function<void(QSize)> resizeHandler_;
    bool followsBitmapSize_ = false;
    bool stretched_ = false;
    QPoint offset_;
    QImage canvas_;  // picture and drawing composed, kept between paints
};

// A filled circle, or a triangle pointing up, in a colour given the way the
// window's models keep it: 0x00BBGGRR.
class ShapeWidget : public QWidget {
    Q_OBJECT
public:
    explicit ShapeWidget(QWidget* parent = nullptr);
    void setModelColour(int colour);
    void setTriangle(bool triangle);
    QColor colour() const { return colour_; }
    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_ = Qt::black;
    bool triangle_ = false;
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

// Lines of text rolling upwards, moving only while they are on screen.
class CreditsTicker : public QWidget {
public:
    explicit CreditsTicker(QStringList lines, QWidget* parent = nullptr);
    bool rolling() const { return timer_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QStringList lines_;
    QTimer timer_;
    int offset_ = 0;
};

// A help panel as the help window shows it.
QString richDocumentHtml(const RichDocument& document);

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

// A check list with several rows selected: a click on the check mark of a
// selected row keeps the selection, so the form can toggle every selected row.
class CheckListWidget : public QListWidget {
    Q_OBJECT
public:
    using QListWidget::QListWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
};

// Qt shows "&&" as "&" on buttons but a plain-text label shows both; label
// captions are written the way buttons are.
QString labelText(const std::string& caption);

}  // namespace planexor
