// planexor: the desktop program.
#include <clocale>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include "app/ini_user_settings.h"
#include "app/main_form.h"
#include "app/settings_file.h"
#include "app/start_up.h"
#include "core/file_io.h"
#include "ui/main_window.h"
#include "ui/qt_ui_services.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Planexor");
    // QApplication takes the user's locale; the files we write (projects,
    // frame lists, FITS cards) must keep the "C" number format.
    std::setlocale(LC_NUMERIC, "C");
    planexor::removeUnfinishedFilesOnSignals();

    try {
        std::error_code error;
        const std::string currentDirectory = std::filesystem::current_path(error).string();
        planexor::QtUiServices ui;
        planexor::IniUserSettings settings(planexor::IniUserSettings::defaultPath());
        planexor::SettingsFile settingsFile(planexor::SettingsFile::defaultPath());
        const auto reportFailure = [&ui](const std::string& reason) {
            ui.showMessage(planexor::MessageKind::Warning, "Your settings cannot be saved: " + reason);
        };
        settings.onWriteFailure(reportFailure);
        settingsFile.onWriteFailure(reportFailure);
        // A drag moves a window hundreds of times: the file follows once it rests.
        QTimer flushSettings;
        flushSettings.setSingleShot(true);
        flushSettings.setInterval(500);
        QObject::connect(&flushSettings, &QTimer::timeout, [&settings] { settings.flush(); });
        settings.onPending([&flushSettings] { flushSettings.start(); });

        planexor::TMainForm form(ui, settings);
        form.help().directories =
            planexor::helpDirectoriesFor(QCoreApplication::applicationFilePath().toStdString());
        planexor::StartUp startUp(form, settingsFile, currentDirectory);
        startUp.FormCreate();

        planexor::MainWindow window(form);
        ui.setWindow(&window);
        // Centred; on a screen smaller than the window (a scaled desktop) its
        // title bar and top buttons stay on it.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect available = screen->availableGeometry();
            const QRect centred(available.center() - window.rect().center(), window.frameGeometry().size());
            window.move(planexor::MainWindow::placeOnScreen(centred, available));
        }
        // The stored values first: the window's first showing places every tool
        // window that still stands at its design place beside it.
        startUp.FormShow();
        window.show();

        // QApplication has taken its own options off argv; the names stay
        // bytes, as the file system has them (QString would spoil non-UTF-8 ones).
        std::vector<std::string> arguments(argv + 1, argv + argc);
        if (!arguments.empty()) {
            QTimer::singleShot(0, &window, [&startUp, &window, arguments] {
                startUp.openArguments(arguments);
                window.refreshImages();
                window.placeUnmovedToolWindows();
            });
        }
        const int status = QApplication::exec();
        startUp.FormClose();
        return status;
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, "Planexor", QString::fromStdString(error.what()));
        return 1;
    }
}
