// planexor: the desktop program.
#include <clocale>
#include <exception>
#include <string>
#include <utility>

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "app/ini_user_settings.h"
#include "app/main_form.h"
#include "ui/main_window.h"
#include "ui/qt_ui_services.h"

namespace {

// A developer's aid for taking screenshots without a file dialog: the
// environment variable PLANEXOR_SCRIPT lists steps, separated by ";", that
// run through the form's models right after start, as the user would:
//   open=FILE      the input dialog answers FILE (AVI filter)
//   click=X,Y      a click on the preview picture (the alignment feature)
//   move=X,Y       the mouse over the preview picture
//   align, stack   the Align and Stack buttons
//   page=N         the page of index N
//   set=NAME:V     a slider or spin set to V and let go
//   check=NAME     a check box checked
// Not meant for users; nothing else depends on it.
class ScriptedDialogs : public planexor::QtUiServices {
public:
    planexor::FileDialogAnswer runFileDialog(const planexor::FileDialogRequest& request) override {
        if (answer_.files.empty()) return QtUiServices::runFileDialog(request);
        return std::exchange(answer_, {});
    }
    void answerWith(const std::string& file) { answer_ = {true, {file}, 1}; }

private:
    planexor::FileDialogAnswer answer_;
};

void runScript(const QString& script, planexor::TMainForm& form, ScriptedDialogs& ui, planexor::MainWindow& window) {
    using Action = planexor::TMainForm::MouseAction;
    for (const QString& step : script.split(';', Qt::SkipEmptyParts)) {
        const QString verb = step.section('=', 0, 0).trimmed();
        const QString argument = step.section('=', 1).trimmed();
        const QStringList numbers = argument.split(',');
        if (verb == "open") {
            ui.answerWith(argument.toStdString());
            form.control("SelectFileButton").click();
        } else if ((verb == "click" || verb == "move") && numbers.size() == 2) {
            form.mouseEvent("PreviewImage", verb == "click" ? Action::Down : Action::Move, numbers[0].toInt(),
                            numbers[1].toInt(), true);
        } else if (verb == "align") {
            form.control("Allignallbutton").click();
        } else if (verb == "stack") {
            form.control("Stackbutton").click();
        } else if (verb == "page") {
            form.control("PageControl1").setItemIndexByUser(argument.toInt());
        } else if (verb == "set") {
            const std::string name = argument.section(':', 0, 0).toStdString();
            form.control(name).setValueByUser(argument.section(':', 1).toDouble());
            form.sliderCommitted(name);
        } else if (verb == "check") {
            form.control(argument.toStdString()).setCheckedByUser(true);
        }
        window.refreshImages();
        QCoreApplication::processEvents();
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Planexor");
    // QApplication takes the user's locale; the files we write (projects,
    // frame lists, FITS cards) must keep the "C" number format.
    std::setlocale(LC_NUMERIC, "C");

    try {
        ScriptedDialogs ui;
        planexor::IniUserSettings settings(planexor::IniUserSettings::defaultPath());
        settings.onWriteFailure([&ui](const std::string& reason) {
            ui.showMessage(planexor::MessageKind::Warning, "Your settings cannot be saved: " + reason);
        });
        planexor::TMainForm form(ui, settings);
        planexor::MainWindow window(form);
        ui.setWindow(&window);
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            window.move(screen->availableGeometry().center() - window.rect().center());
        window.show();

        // A project or frame list named on the command line is kept for the
        // start-up load; any other argument is ignored.
        const QStringList arguments = QApplication::arguments();
        if (arguments.size() == 2) {
            const QString suffix = QFileInfo(arguments[1]).suffix().toLower();
            if (suffix == "pxp" || suffix == "pxl") window.setProperty("startupFile", arguments[1]);
        }
        const QString script = qEnvironmentVariable("PLANEXOR_SCRIPT");
        if (!script.isEmpty())
            QTimer::singleShot(300, &window, [&] { runScript(script, form, ui, window); });
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, "Planexor", QString::fromStdString(error.what()));
        return 1;
    }
}
