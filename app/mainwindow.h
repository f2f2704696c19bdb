#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QSystemTrayIcon>

class NivletCore;
class QAction;
class QCloseEvent;
class QMenu;

// The program's frame: owns the store and the tray icon. Closing the window
// only hides it; the program ends through the application's quit().
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow();
    ~MainWindow() override;

    bool init();
    bool createTrayIcon();

    NivletCore *core;
    QAction *restoreAction;
    QAction *quitAction;
    QMenu *trayIconMenu;
    QSystemTrayIcon *trayIcon;

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void iconActivated(QSystemTrayIcon::ActivationReason reason);
};

#endif
