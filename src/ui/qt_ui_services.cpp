#include "ui/qt_ui_services.h"

#include <algorithm>

#include <QApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QUrl>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include "ui/widgets.h"

namespace planexor {
namespace {

// A dialog asked for in the middle of a handler may find the hourglass set;
// the user still needs the arrow to answer it.
class ArrowWhileModal {
public:
    ArrowWhileModal() { QApplication::setOverrideCursor(Qt::ArrowCursor); }
    ~ArrowWhileModal() { QApplication::restoreOverrideCursor(); }
    ArrowWhileModal(const ArrowWhileModal&) = delete;
    ArrowWhileModal& operator=(const ArrowWhileModal&) = delete;
};

// File names are bytes on Linux; Qt's local encoding maps them both ways.
std::string encodedPath(const QString& path) { return QFile::encodeName(path).toStdString(); }
QString decodedPath(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

// Filters may come in the Windows form "Name|*.a;*.b"; Qt reads "Name (*.a *.b)".
QString qtFilter(const std::string& filter) {
    const std::size_t bar = filter.find('|');
    if (bar == std::string::npos) return QString::fromStdString(filter);
    std::string patterns = filter.substr(bar + 1);
    std::replace(patterns.begin(), patterns.end(), ';', ' ');
    return QString::fromStdString(filter.substr(0, bar) + " (" + patterns + ")");
}

// The extension a save dialog gives a bare name: that of the chosen type, as
// on other desktops, so "FIT" does not save "name.bmp".
QString suffixOf(const QString& filter, const QString& fallback) {
    static const QRegularExpression firstPattern(R"(\*\.(\w+))");
    const QRegularExpressionMatch match = firstPattern.match(filter);
    return match.hasMatch() ? match.captured(1) : fallback;
}

QMessageBox::Icon iconOf(MessageKind kind) {
    switch (kind) {
        case MessageKind::Warning: return QMessageBox::Warning;
        case MessageKind::Error: return QMessageBox::Critical;
        case MessageKind::Information: break;
    }
    return QMessageBox::Information;
}

}  // namespace

void QtUiServices::showMessage(MessageKind kind, const std::string& text) {
    const ArrowWhileModal arrow;
    QMessageBox box(iconOf(kind), QApplication::applicationName(), QString::fromStdString(text), QMessageBox::Ok,
                    window_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool QtUiServices::askYesNo(MessageKind kind, const std::string& text) {
    const ArrowWhileModal arrow;
    QMessageBox box(kind == MessageKind::Information ? QMessageBox::Question : iconOf(kind),
                    QApplication::applicationName(), QString::fromStdString(text),
                    QMessageBox::Yes | QMessageBox::No, window_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

FileDialogAnswer QtUiServices::runFileDialog(const FileDialogRequest& request) {
    const ArrowWhileModal arrow;
    QFileDialog dialog(window_);
    dialog.setWindowTitle(request.save ? "Save as" : "Open");
    QStringList filters;
    for (const std::string& filter : request.filters) filters << qtFilter(filter);
    if (!filters.isEmpty()) dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters[request.filterIndex - 1]);
    if (!request.directory.empty()) dialog.setDirectory(decodedPath(request.directory));
    if (request.save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        std::string extension = request.defaultExtension;
        if (!extension.empty() && extension.front() == '.') extension.erase(0, 1);
        const QString fallback = QString::fromStdString(extension);
        if (!fallback.isEmpty()) {
            dialog.setDefaultSuffix(suffixOf(dialog.selectedNameFilter(), fallback));
            QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                             [&dialog, fallback](const QString& filter) { dialog.setDefaultSuffix(suffixOf(filter, fallback)); });
        }
        dialog.setOption(QFileDialog::DontConfirmOverwrite, request.asksBeforeReplacing);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    }
    if (!request.fileName.empty()) dialog.selectFile(decodedPath(request.fileName));

    FileDialogAnswer answer;
    answer.filterIndex = request.filterIndex;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return answer;
    answer.accepted = true;
    answer.files = dialogOrder(dialog.selectedFiles());
    const qsizetype chosen = filters.indexOf(dialog.selectedNameFilter());
    if (chosen >= 0) answer.filterIndex = static_cast<int>(chosen) + 1;
    return answer;
}

std::vector<std::string> QtUiServices::dialogOrder(const QStringList& chosen) {
    std::vector<std::string> files;
    for (const QString& file : chosen) files.push_back(encodedPath(file));
    std::sort(files.begin(), files.end());
    return toDialogOrder(std::move(files));
}

namespace {

Qt::CursorShape qtShape(CursorShape shape) {
    switch (shape) {
        case CursorShape::Cross: return Qt::CrossCursor;
        case CursorShape::Hourglass: return Qt::WaitCursor;
        case CursorShape::NotAllowed: return Qt::ForbiddenCursor;
        case CursorShape::Arrow: break;
    }
    return Qt::ArrowCursor;
}

}  // namespace

void QtUiServices::setCursor(CursorShape shape) {
    if (shape == CursorShape::Arrow) {
        if (cursorOverridden_) QApplication::restoreOverrideCursor();
        cursorOverridden_ = false;
        return;
    }
    const QCursor cursor(qtShape(shape));
    if (cursorOverridden_) {
        QApplication::changeOverrideCursor(cursor);
    } else {
        QApplication::setOverrideCursor(cursor);
        cursorOverridden_ = true;
    }
}

void QtUiServices::processPendingEvents() { QCoreApplication::processEvents(); }

void QtUiServices::waitForEvents() { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

QWidget* QtUiServices::findControl(Control control) const {
    if (!window_) return nullptr;
    const QString name = QString::fromStdString(std::string(controlName(control)));
    return window_->objectName() == name ? window_.data() : window_->findChild<QWidget*>(name);
}

void QtUiServices::setControlCursor(Control control, CursorShape shape) {
    QWidget* widget = findControl(control);
    if (!widget) return;
    if (shape == CursorShape::Arrow) widget->unsetCursor();
    else widget->setCursor(qtShape(shape));
}

void QtUiServices::repaint(Control control) {
    QWidget* widget = findControl(control);
    if (auto* image = qobject_cast<ImageView*>(widget)) {
        image->refresh(true);
    } else if (widget) {
        // A page repaints with the pictures on it at their new sizes.
        for (ImageView* image : widget->findChildren<ImageView*>()) image->refresh(false);
        widget->repaint();
    }
}

void QtUiServices::openUrl(const std::string& url) {
    if (!QDesktopServices::openUrl(QUrl(QString::fromStdString(url))))
        showMessage(MessageKind::Warning, "No program of this desktop opens " + url.substr(0, url.find('?')));
}

}  // namespace planexor
