#include "ui/widgets.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QRadioButton>
#include <QVBoxLayout>

namespace planexor {

QString labelText(const std::string& caption) {
    // As a button would show it: "&&" is one ampersand, a single one marks
    // the shortcut letter and is not shown.
    QString text;
    const QString source = QString::fromStdString(caption);
    for (int i = 0; i < source.size(); ++i) {
        if (source[i] != u'&') {
            text += source[i];
        } else if (i + 1 < source.size() && source[i + 1] == u'&') {
            text += u'&';
            ++i;
        }
    }
    return text;
}

// --- ImageView --------------------------------------------------------------

ImageView::ImageView(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);  // the alignment box outline follows the pointer without a button
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ImageView::setSource(Source source) {
    source_ = std::move(source);
    refresh();
}

void ImageView::setFollowsBitmapSize(bool follows) {
    followsBitmapSize_ = follows;
    refresh();
}

void ImageView::setOffset(QPoint offset) {
    if (offset == offset_) return;
    offset_ = offset;
    update();
}

const Bitmap24* ImageView::bitmap() const {
    const Bitmap24* bitmap = source_ ? source_() : nullptr;
    return bitmap && !bitmap->empty() ? bitmap : nullptr;
}

QSize ImageView::bitmapSize() const {
    const Bitmap24* image = bitmap();
    return image ? QSize(image->width(), image->height()) : QSize(0, 0);
}

QSize ImageView::sizeHint() const {
    if (followsBitmapSize_) return bitmapSize();
    return QWidget::sizeHint();
}

void ImageView::refresh(bool now) {
    if (followsBitmapSize_ && size() != bitmapSize()) {
        resize(bitmapSize());
        updateGeometry();
    }
    if (now) repaint();
    else update();
}

QPoint ImageView::imageOrigin() const {
    const QSize image = bitmapSize();
    auto axis = [](int view, int picture, int offset) {
        return picture > view ? offset : (view - picture) / 2;
    };
    if (followsBitmapSize_) return {0, 0};
    return {axis(width(), image.width(), offset_.x()), axis(height(), image.height(), offset_.y())};
}

void ImageView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor(48, 48, 48));
    const Bitmap24* image = bitmap();
    if (!image) return;
    // The bitmap's rows are blue green red, top to bottom: Qt reads them in
    // place, without a copy per paint.
    const QImage view(image->data(), image->width(), image->height(), static_cast<qsizetype>(image->rowBytes()),
                      QImage::Format_BGR888);
    painter.drawImage(imageOrigin(), view);
}

void ImageView::report(TMainForm::MouseAction action, QMouseEvent* event, bool leftButton) {
    if (!mouseHandler_) return;
    const QPoint at = event->position().toPoint() - imageOrigin();
    // Presses and hovering count only over the picture; a drag that started
    // on it is followed outside, as the pointer is captured.
    const bool dragging = event->buttons() != Qt::NoButton || action == TMainForm::MouseAction::Up;
    if (!dragging && !QRect(QPoint(0, 0), bitmapSize()).contains(at)) return;
    mouseHandler_(action, at.x(), at.y(), leftButton);
}

void ImageView::mousePressEvent(QMouseEvent* event) {
    if (!QRect(QPoint(0, 0), bitmapSize()).contains(event->position().toPoint() - imageOrigin())) return;
    report(TMainForm::MouseAction::Down, event, event->button() == Qt::LeftButton);
}

void ImageView::mouseMoveEvent(QMouseEvent* event) {
    report(TMainForm::MouseAction::Move, event, (event->buttons() & Qt::LeftButton) != 0);
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
    report(TMainForm::MouseAction::Up, event, event->button() == Qt::LeftButton);
}

// --- ShapeWidget ------------------------------------------------------------

ShapeWidget::ShapeWidget(QWidget* parent) : QWidget(parent) { setFixedSize(16, 16); }

void ShapeWidget::setModelColour(int colour) {
    const QColor next(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
    if (next == colour_) return;
    colour_ = next;
    update();
}

void ShapeWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(colour_);
    painter.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
}

// --- RadioGroupBox ----------------------------------------------------------

RadioGroupBox::RadioGroupBox(QWidget* parent) : QGroupBox(parent) {
    new QGridLayout(this);
    layout()->setContentsMargins(6, 2, 6, 2);
    layout()->setSpacing(2);
    connect(&buttons_, &QButtonGroup::idClicked, this, &RadioGroupBox::indexChosen);
}

void RadioGroupBox::setItems(const std::vector<std::string>& items, int columns) {
    columns = std::max(columns, 1);
    if (items == items_ && columns == columns_) return;
    const int chosen = index();
    for (QAbstractButton* button : buttons_.buttons()) {
        buttons_.removeButton(button);
        delete button;
    }
    items_ = items;
    columns_ = columns;
    auto* grid = static_cast<QGridLayout*>(layout());
    const int count = static_cast<int>(items.size());
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        auto* button = new QRadioButton(QString::fromStdString(items[i]), this);
        buttons_.addButton(button, i);
        grid->addWidget(button, i % rows, i / rows);
    }
    setIndex(chosen);
}

void RadioGroupBox::setIndex(int index) {
    if (QAbstractButton* button = buttons_.button(index)) {
        button->setChecked(true);
        return;
    }
    // An exclusive group cannot uncheck its last checked button.
    buttons_.setExclusive(false);
    for (QAbstractButton* button : buttons_.buttons()) button->setChecked(false);
    buttons_.setExclusive(true);
}

int RadioGroupBox::index() const { return buttons_.checkedId(); }

// --- CollapsiblePanel -------------------------------------------------------

CollapsiblePanel::CollapsiblePanel(QWidget* parent)
    : QWidget(parent), header_(new QToolButton(this)), content_(new QWidget(this)) {
    header_->setCheckable(true);
    header_->setChecked(true);
    header_->setAutoRaise(true);
    header_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header_->setArrowType(Qt::DownArrow);
    header_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont bold = header_->font();
    bold.setBold(true);
    header_->setFont(bold);
    contentLayout_ = new QVBoxLayout(content_);
    contentLayout_->setContentsMargins(14, 0, 0, 2);
    contentLayout_->setSpacing(2);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header_);
    layout->addWidget(content_);
    connect(header_, &QToolButton::toggled, this, [this](bool expanded) {
        setExpanded(expanded);
        emit expandedByUser(expanded);
    });
}

void CollapsiblePanel::setTitle(const QString& title) { header_->setText(title); }

QString CollapsiblePanel::title() const { return header_->text(); }

void CollapsiblePanel::setExpanded(bool expanded) {
    const QSignalBlocker quiet(header_);
    header_->setChecked(expanded);
    header_->setArrowType(expanded ? Qt::DownArrow : Qt::RightArrow);
    content_->setVisible(expanded);
}

bool CollapsiblePanel::isExpanded() const { return header_->isChecked(); }

// --- ToolWindow -------------------------------------------------------------

ToolWindow::ToolWindow(QWidget* owner, bool aboveAll)
    : QWidget(owner, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                         (aboveAll ? Qt::WindowStaysOnTopHint : Qt::WindowFlags())) {
    settle_.setSingleShot(true);
    settle_.setInterval(250);
    connect(&settle_, &QTimer::timeout, this, &ToolWindow::flush);
}

void ToolWindow::setClientSize(QSize size, bool fixed) {
    if (fixed) setFixedSize(size);
    else resize(size);
    reportedSize_ = size;
}

void ToolWindow::flush() {
    settle_.stop();
    if (movePending_) {
        movePending_ = false;
        emit movedByUser(pos());
    }
    if (resizePending_ && size() != reportedSize_) {
        reportedSize_ = size();
        emit resizedByUser(size());
    }
    resizePending_ = false;
}

void ToolWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    if (!isVisible()) return;  // placed by the program before it is shown
    movePending_ = true;
    settle_.start();
}

void ToolWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (!isVisible()) return;
    resizePending_ = true;
    settle_.start();
}

void ToolWindow::hideEvent(QHideEvent* event) {
    flush();
    QWidget::hideEvent(event);
}

void ToolWindow::closeEvent(QCloseEvent* event) {
    flush();
    event->accept();
    emit closedByUser();
}

}  // namespace planexor
