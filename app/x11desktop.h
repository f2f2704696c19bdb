#ifndef X11DESKTOP_H
#define X11DESKTOP_H

#include "desktopactivity.h"

#include <memory>

// Both readings from the X server the program's windows live on, through
// the toolkit's own connection: the idle time from the screen-saver
// extension, the full screen from the window manager's hints (EWMH).
class X11Desktop final : public IdleTime, public FullScreenTest
{
public:
    // Null unless the program runs on an X server.
    static std::unique_ptr<X11Desktop> open();

    std::optional<qint64> msecs() const override;
    bool otherWindowFullScreen() const override;

private:
    X11Desktop(quint32 rootWindow, bool hasScreenSaver, quint32 activeWindow, quint32 state,
               quint32 fullScreen);

    quint32 root;
    // A server may lack the extension; the window manager's hints still work.
    bool screenSaver;
    quint32 activeWindowAtom;
    quint32 stateAtom;
    quint32 fullScreenAtom;
};

#endif
