#include "dblock.h"
#include "desktopentryname.h"
#include "errorboxpresenter.h"
#include "log.h"
#include "mainwindow.h"
#include "programicon.h"
#include "singleinstance.h"
#include "startfailure.h"
#include "traywait.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>

#include <memory>

namespace {

void showAlreadyRunning()
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Already running!"));
    box.setText(QStringLiteral("nivlets is already running!\nPlease activate it by clicking on its "
                               "icon in the system-tray (at the lower-right corner of the "
                               "screen)."));
    box.exec();
}

// A start made while the first one still waits for a tray: there is no
// icon to click yet.
void showStillStarting()
{
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Already starting!"));
    box.setText(QStringLiteral("nivlets is starting and waiting for the system tray.\nIts icon "
                               "will appear there as soon as the system tray is available."));
    box.exec();
}

// Before the window's set-up the log is not open yet; the failure goes
// into it all the same.
void reportStartFailure(const QString &text)
{
    openLog();
    logError(text, true);
    closeLog();
}

// Started into the tray, typically by the session at login, where the tray
// may still be on its way.
bool startsInTray(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (qstrcmp(argv[i], "startbg") == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    if (isStartFailureCall(argc, argv))
        return showStartFailure(argc, argv);

    QApplication app(argc, argv);
    // Docks, task bars and Wayland compositors show every window of the
    // program with its icon, grouped under its menu entry.
    QApplication::setWindowIcon(programIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral(NIVLETS_APP_ID));
    const DesktopEntryName entryName;
    // A box closed while the window sits in the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    installErrorBoxPresenter();

    SingleInstance instance;
    switch (instance.tryLock()) {
    case SingleInstance::Obtained:
        break;
    case SingleInstance::AlreadyRunning:
        showAlreadyRunning();
        return 1;
    case SingleInstance::StillStarting:
        showStillStarting();
        return 1;
    case SingleInstance::Failed:
        reportStartFailure(instance.failureText());
        return 1;
    }
    // Another build of the program, another user or a tool of the project
    // may have this database open for writing.
    DatabaseLock database(QDir::currentPath());
    if (!database.tryLock()) {
        reportStartFailure(database.failureText());
        return 1;
    }

    const bool startHidden = startsInTray(argc, argv);
    if (startHidden) {
        instance.setWaitingForTray(true);
        TrayWait().waitForSystemTray();
        instance.setWaitingForTray(false);
    }

    auto window = std::make_unique<MainWindow>();
    if (!window->init())
        return 1;

    if (!startHidden)
        window->show();

    return app.exec();
}
