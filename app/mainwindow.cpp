#include "mainwindow.h"

#include "log.h"
#include "nivletcore.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QMenu>
#include <QScreen>
#include <QWidget>

namespace {
constexpr int windowWidth = 620;
constexpr int windowHeight = 570;
} // namespace

MainWindow::MainWindow()
    : core(nullptr), restoreAction(nullptr), quitAction(nullptr), trayIconMenu(nullptr),
      trayIcon(nullptr)
{
}

MainWindow::~MainWindow()
{
    delete core;
    core = nullptr;
    closeLog();
}

bool MainWindow::init()
{
    openLog();
    core = new NivletCore(this);
    if (!core->open())
        return false;

    resize(windowWidth, windowHeight);
    setCentralWidget(new QWidget(this));

    // The whole desktop, not the work area: task bars do not shift the window.
    const QRect desktop = QGuiApplication::primaryScreen()->virtualGeometry();
    move((desktop.width() - windowWidth) / 2, (desktop.height() - windowHeight) / 2);

    return createTrayIcon();
}

bool MainWindow::createTrayIcon()
{
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        logError("System tray is not available on this operating system, cannot continue.", true);
        return false;
    }

    trayIconMenu = new QMenu(this);

    restoreAction = new QAction(QStringLiteral("Show the nivlets window"), this);
    QFont restoreFont = restoreAction->font();
    restoreFont.setWeight(QFont::Bold);
    restoreAction->setFont(restoreFont);
    trayIconMenu->addAction(restoreAction);
    connect(restoreAction, &QAction::triggered, this, &MainWindow::showNormal);

    trayIconMenu->addSeparator();

    quitAction = new QAction(QStringLiteral("Exit nivlets"), this);
    trayIconMenu->addAction(quitAction);
    connect(quitAction, &QAction::triggered, qApp, &QCoreApplication::quit);

    trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/nivleticon16.png")), this);
    trayIcon->setContextMenu(trayIconMenu);
    trayIcon->setToolTip(QStringLiteral("nivlets"));
    connect(trayIcon, &QSystemTrayIcon::activated, this, &MainWindow::iconActivated);
    trayIcon->setVisible(true);
    return true;
}

void MainWindow::iconActivated(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::DoubleClick:
    case QSystemTrayIcon::Trigger:
        // A window buried under others comes to the front as well.
        showNormal();
        raise();
        activateWindow();
        break;
    case QSystemTrayIcon::Unknown:
    case QSystemTrayIcon::Context:
    case QSystemTrayIcon::MiddleClick:
        break;
    }
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // Hidden with no tray to bring it back, the program would run on unseen;
    // without a tray closing ends it, as the program keeps running after its
    // last window closed only for the message boxes of the tray.
    if (!trayIcon || !trayIcon->isVisible() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        QMainWindow::closeEvent(event);
        QCoreApplication::quit();
        return;
    }
    trayIcon->showMessage(
        QStringLiteral("nivlets is still running!"),
        QStringLiteral("To terminate nivlets, choose 'Exit nivlets' in the right-click menu of the "
                       "system-tray icon."),
        QSystemTrayIcon::Information, 8000);
    hide();
    event->ignore();
}
