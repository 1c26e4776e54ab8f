#include "ui/widgets.h"

#include <QStyleOptionViewItem>

#include <QStyle>

#include <algorithm>
#include <cmath>

#include <QCloseEvent>
#include <QGridLayout>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>
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

// --- Drawings ---------------------------------------------------------------

namespace {

// Drawings and control models both hold 0xBBGGRR.
QColor qtColour(std::uint32_t colour) { return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF); }

// Texts are set in a small fixed size: the engine places them for a
// 250-pixel graph.
QFont drawingFont() {
    QFont font;
    font.setPixelSize(11);
    return font;
}

}  // namespace

void paintDrawing(QPainter& painter, const Drawing& drawing, bool withTexts) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (drawing.background) painter.fillRect(0, 0, drawing.width, drawing.height, qtColour(drawing.backgroundColour));
    painter.setBrush(Qt::NoBrush);
    for (const DrawnLine& line : drawing.lines) {
        if (line.points.empty()) continue;
        QPen pen(line.invert ? QColor(Qt::white) : qtColour(line.colour), std::max(line.penWidth, 1));
        pen.setStyle(line.dotted ? Qt::DotLine : Qt::SolidLine);
        pen.setCapStyle(Qt::FlatCap);
        painter.setPen(pen);
        painter.setCompositionMode(line.invert ? QPainter::RasterOp_SourceXorDestination
                                               : QPainter::CompositionMode_SourceOver);
        if (line.points.size() == 1) {
            painter.drawPoint(line.points.front().x, line.points.front().y);
            continue;
        }
        QPolygon polyline;
        polyline.reserve(static_cast<qsizetype>(line.points.size()));
        for (const GraphPoint& point : line.points) polyline << QPoint(point.x, point.y);
        painter.drawPolyline(polyline);
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    for (const DrawnEllipse& ellipse : drawing.ellipses) {
        painter.setPen(qtColour(ellipse.colour));
        painter.drawEllipse(QRect(QPoint(ellipse.left, ellipse.top), QPoint(ellipse.right - 1, ellipse.bottom - 1)));
    }
    for (const DrawnPixel& pixel : drawing.pixels) {
        painter.setPen(qtColour(pixel.colour));
        painter.drawPoint(pixel.at.x, pixel.at.y);
    }
    painter.restore();
    if (withTexts) paintDrawingTexts(painter, drawing);
}

void paintDrawingTexts(QPainter& painter, const Drawing& drawing, double scaleX, double scaleY) {
    if (drawing.texts.empty()) return;
    painter.save();
    painter.setFont(drawingFont());
    const QFontMetrics metrics(painter.font());
    for (const DrawnText& text : drawing.texts) {
        const QString shown = QString::fromStdString(text.text);
        QPoint at(qRound(text.at.x * scaleX), qRound(text.at.y * scaleY));
        // A legend that would run past the picture's right edge moves left
        // until it is whole: the font decides its width, not the drawing.
        const int right = painter.device() ? painter.device()->width() : 0;
        const int width = metrics.horizontalAdvance(shown);
        if (right > 0 && at.x() + width > right) at.setX(std::max(0, right - width));
        // On a white box, as a canvas writes text: readable over any picture.
        painter.fillRect(QRect(at, QSize(metrics.horizontalAdvance(shown), metrics.height())), Qt::white);
        painter.setPen(qtColour(text.colour));
        painter.drawText(at + QPoint(0, metrics.ascent()), shown);
    }
    painter.restore();
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

void ImageView::setOverlay(OverlaySource overlay) {
    overlay_ = std::move(overlay);
    refresh();
}

void ImageView::setFollowsBitmapSize(bool follows) {
    followsBitmapSize_ = follows;
    refresh();
}

void ImageView::setStretched(bool stretched) {
    stretched_ = stretched;
    update();
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

const Drawing* ImageView::drawing() const {
    const Drawing* drawing = overlay_ ? overlay_() : nullptr;
    return drawing && !drawing->empty() ? drawing : nullptr;
}

QSize ImageView::bitmapSize() const {
    if (const Bitmap24* image = bitmap()) return {image->width(), image->height()};
    if (const Drawing* graph = drawing(); graph && graph->background) return {graph->width, graph->height};
    return {0, 0};
}

QSize ImageView::sizeHint() const {
    if (followsBitmapSize_) return bitmapSize();
    return QWidget::sizeHint();
}

QSizeF ImageView::scale() const {
    const QSize picture = bitmapSize();
    if (!stretched_ || picture.isEmpty()) return {1.0, 1.0};
    return {static_cast<double>(width()) / picture.width(), static_cast<double>(height()) / picture.height()};
}

void ImageView::refresh(bool now) {
    if (followsBitmapSize_ && size() != bitmapSize()) {
        resize(bitmapSize());
        updateGeometry();
    }
    if (!isVisible()) return;
    if (now) repaint();
    else update();
}

QPoint ImageView::imageOrigin() const {
    const QSize image = bitmapSize();
    auto axis = [](int view, int picture, int offset) {
        return picture > view ? offset : (view - picture) / 2;
    };
    if (followsBitmapSize_ || stretched_) return {0, 0};
    return {axis(width(), image.width(), offset_.x()), axis(height(), image.height(), offset_.y())};
}

void ImageView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.fillRect(event->rect(), QColor(48, 48, 48));
    const QSize picture = bitmapSize();
    if (picture.isEmpty()) return;
    const Bitmap24* image = bitmap();
    const Drawing* overlay = drawing();
    const QSizeF factor = scale();
    const QRect target(imageOrigin(), QSize(qRound(picture.width() * factor.width()),
                                            qRound(picture.height() * factor.height())));
    // The drawing is composed on a copy of the picture: inverted lines XOR
    // with it, which a widget's own paint device need not support. Without
    // a bitmap the picture is a graph, whose background covers it all.
    if (canvas_.size() != picture) canvas_ = QImage(picture, QImage::Format_RGB32);
    {
        QPainter composer(&canvas_);
        if (image) {
            // The bitmap's rows are blue green red, top to bottom: Qt reads
            // them in place.
            const QImage view(image->data(), image->width(), image->height(),
                              static_cast<qsizetype>(image->rowBytes()), QImage::Format_BGR888);
            composer.drawImage(0, 0, view);
        }
        if (overlay) paintDrawing(composer, *overlay, false);
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, stretched_);
    painter.drawImage(target, canvas_);
    if (overlay) {
        painter.translate(target.topLeft());
        paintDrawingTexts(painter, *overlay, factor.width(), factor.height());
    }
}

QPoint ImageView::pictureAt(QMouseEvent* event) const {
    const QPointF at = event->position() - QPointF(imageOrigin());
    const QSizeF factor = scale();
    return {static_cast<int>(std::floor(at.x() / factor.width())), static_cast<int>(std::floor(at.y() / factor.height()))};
}

void ImageView::report(TMainForm::MouseAction action, QMouseEvent* event, MouseButtons buttons) {
    if (!mouseHandler_) return;
    const QPoint at = pictureAt(event);
    // Presses and hovering count only over the picture; a drag that started
    // on it is followed outside, as the pointer is captured.
    const bool dragging = event->buttons() != Qt::NoButton || action == TMainForm::MouseAction::Up;
    if (!dragging && !QRect(QPoint(0, 0), bitmapSize()).contains(at)) return;
    buttons.ctrl = (event->modifiers() & Qt::ControlModifier) != 0;
    mouseHandler_(action, at.x(), at.y(), buttons);
}

namespace {

// The button a press or release is about.
MouseButtons changedButton(const QMouseEvent* event) {
    return {event->button() == Qt::LeftButton, event->button() == Qt::RightButton, false};
}

}  // namespace

void ImageView::mousePressEvent(QMouseEvent* event) {
    if (!QRect(QPoint(0, 0), bitmapSize()).contains(pictureAt(event))) return;
    report(TMainForm::MouseAction::Down, event, changedButton(event));
}

void ImageView::mouseMoveEvent(QMouseEvent* event) {
    const Qt::MouseButtons held = event->buttons();
    report(TMainForm::MouseAction::Move, event, {(held & Qt::LeftButton) != 0, (held & Qt::RightButton) != 0, false});
}

void ImageView::mouseReleaseEvent(QMouseEvent* event) {
    report(TMainForm::MouseAction::Up, event, changedButton(event));
}

void ImageView::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second press is still a press for the handlers that only know presses.
    mousePressEvent(event);
    if (!QRect(QPoint(0, 0), bitmapSize()).contains(pictureAt(event))) return;
    report(TMainForm::MouseAction::DoubleClick, event, changedButton(event));
}

// --- ShapeWidget ------------------------------------------------------------

ShapeWidget::ShapeWidget(QWidget* parent) : QWidget(parent) { setFixedSize(16, 16); }

void ShapeWidget::setModelColour(int colour) {
    const QColor next = qtColour(static_cast<std::uint32_t>(colour));
    if (next == colour_) return;
    colour_ = next;
    update();
}

void ShapeWidget::setTriangle(bool triangle) {
    triangle_ = triangle;
    update();
}

void ShapeWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1));
    painter.setBrush(colour_);
    const QRectF box = QRectF(rect()).adjusted(1, 1, -1, -1);
    if (triangle_) painter.drawPolygon(QPolygonF({QPointF(box.center().x(), box.top()), box.bottomRight(), box.bottomLeft()}));
    else painter.drawEllipse(box);
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

void ImageView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (resizeHandler_) resizeHandler_(event->size());
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

CreditsTicker::CreditsTicker(QStringList lines, QWidget* parent) : QWidget(parent), lines_(std::move(lines)) {
    setMinimumHeight(fontMetrics().lineSpacing() * 4);
    timer_.setInterval(40);
    connect(&timer_, &QTimer::timeout, this, [this] {
        ++offset_;
        update();
    });
}

void CreditsTicker::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    timer_.start();
}

void CreditsTicker::hideEvent(QHideEvent* event) {
    timer_.stop();
    QWidget::hideEvent(event);
}

void CreditsTicker::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int line = fontMetrics().lineSpacing();
    const int cycle = height() + line * static_cast<int>(lines_.size());
    const int top = height() - (cycle > 0 ? offset_ % cycle : 0);
    for (int i = 0; i < lines_.size(); ++i)
        painter.drawText(QRect(0, top + i * line, width(), line), Qt::AlignHCenter, lines_[i]);
}

QString richDocumentHtml(const RichDocument& document) {
    QString html;
    bool inList = false;
    for (const RichParagraph& paragraph : document.paragraphs) {
        if (paragraph.listItem != inList) {
            html += paragraph.listItem ? "<ul>" : "</ul>";
            inList = paragraph.listItem;
        }
        html += paragraph.listItem ? "<li>" : "<p style=\"margin:0\">";
        if (paragraph.runs.empty()) html += "&nbsp;";
        for (const TextRun& run : paragraph.runs) {
            QString text = QString::fromStdString(run.text).toHtmlEscaped();
            text.replace("\n", "<br>").replace("\t", "&nbsp;&nbsp;&nbsp;&nbsp;");
            html += QString("<span style=\"font-size:%1pt;%2%3\">%4</span>")
                        .arg(run.halfPoints / 2.0)
                        .arg(run.bold ? "font-weight:bold;" : "")
                        .arg(run.italic ? "font-style:italic;" : "")
                        .arg(text);
        }
        html += paragraph.listItem ? "</li>" : "</p>";
    }
    if (inList) html += "</ul>";
    return html;
}

// --- CheckListWidget --------------------------------------------------------

QItemSelectionModel::SelectionFlags CheckListWidget::selectionCommand(const QModelIndex& index,
                                                                      const QEvent* event) const {
    if (event && event->type() == QEvent::MouseButtonPress && index.isValid() &&
        selectionModel()->isSelected(index)) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualRect(index);
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect mark = style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
        const auto* press = static_cast<const QMouseEvent*>(event);
        if (mark.contains(press->position().toPoint())) return QItemSelectionModel::NoUpdate;
    }
    return QListWidget::selectionCommand(index, event);
}

}  // namespace planexor
