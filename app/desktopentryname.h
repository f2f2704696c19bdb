#ifndef DESKTOPENTRYNAME_H
#define DESKTOPENTRYNAME_H

#include <QObject>

// Names the desktop entry (QGuiApplication::desktopFileName) in
// _KDE_NET_WM_DESKTOP_FILE on every top-level window the program opens on an
// X server, as docks and task bars of X11 desktops read it to show the menu
// entry's icon and group the windows under it. Qt 6.4 sets it on Wayland only
// (as the application id). Does nothing on other platforms.
class DesktopEntryName : public QObject
{
    Q_OBJECT

public:
    explicit DesktopEntryName(QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

#endif
