#include "desktopentryname.h"

#include <QGuiApplication>
#include <QPlatformSurfaceEvent>
#include <QWindow>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace {
struct FreeReply
{
    void operator()(void *reply) const { std::free(reply); }
};

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    const auto length = static_cast<uint16_t>(qstrlen(name));
    std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, length, name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

void nameEntry(const QWindow *window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    const QByteArray id = QGuiApplication::desktopFileName().toUtf8();
    if (!x11 || id.isEmpty())
        return;
    xcb_connection_t *c = x11->connection();
    const xcb_atom_t name = internAtom(c, "_KDE_NET_WM_DESKTOP_FILE");
    const xcb_atom_t utf8 = internAtom(c, "UTF8_STRING");
    if (name == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE)
        return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), name,
                        utf8, 8, static_cast<uint32_t>(id.size()), id.constData());
    xcb_flush(c);
}
} // namespace

DesktopEntryName::DesktopEntryName(QObject *parent) : QObject(parent)
{
    qGuiApp->installEventFilter(this);
    for (const QWindow *window : QGuiApplication::topLevelWindows()) {
        if (window->handle())
            nameEntry(window);
    }
}

bool DesktopEntryName::eventFilter(QObject *watched, QEvent *event)
{
    // Before the window is mapped, so the dock reads it with the first look.
    if (event->type() == QEvent::PlatformSurface &&
        static_cast<QPlatformSurfaceEvent *>(event)->surfaceEventType() ==
            QPlatformSurfaceEvent::SurfaceCreated) {
        const auto *window = qobject_cast<QWindow *>(watched);
        if (window && !window->parent())
            nameEntry(window);
    }
    return QObject::eventFilter(watched, event);
}
