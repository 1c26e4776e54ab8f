// planexor: the desktop program.
#include <clocale>
#include <exception>
#include <string>

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QScreen>

#include "app/ini_user_settings.h"
#include "app/main_form.h"
#include "ui/main_window.h"
#include "ui/qt_ui_services.h"


int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Planexor");
    // QApplication takes the user's locale; the files we write (projects,
    // frame lists, FITS cards) must keep the "C" number format.
    std::setlocale(LC_NUMERIC, "C");

    try {
        planexor::QtUiServices ui;
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
        return QApplication::exec();
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, "Planexor", QString::fromStdString(error.what()));
        return 1;
    }
}
