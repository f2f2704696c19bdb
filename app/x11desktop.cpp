#include "x11desktop.h"

#include <QGuiApplication>
#include <QWindow>

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <cstdlib>

namespace {
struct FreeReply
{
    void operator()(void *reply) const { std::free(reply); }
};
template <class T> using Reply = std::unique_ptr<T, FreeReply>;

// Asked anew at each use rather than kept: the connection belongs to the
// toolkit and lives only as long as the application object.
xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t internAtom(xcb_connection_t *c, const char *name)
{
    const auto length = static_cast<uint16_t>(qstrlen(name));
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, length, name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The first value of a 32-bit property, or none. A window that has gone in
// the meantime answers with an error, which is taken here rather than left
// to arrive in the toolkit's event queue as a warning.
Reply<xcb_get_property_reply_t> property(xcb_connection_t *c, xcb_window_t window, xcb_atom_t name,
                                         xcb_atom_t type, uint32_t length)
{
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, length), &error));
    std::free(error);
    if (!reply || reply->format != 32 || reply->type != type)
        return nullptr;
    return reply;
}

bool isOwnWindow(xcb_window_t window)
{
    const QWindowList windows = QGuiApplication::allWindows();
    for (const QWindow *own : windows) {
        // winId() would create a native window for one that has none yet.
        if (own->handle() && own->winId() == window)
            return true;
    }
    return false;
}
} // namespace

X11Desktop::X11Desktop(quint32 rootWindow, bool hasScreenSaver, quint32 activeWindow, quint32 state,
                       quint32 fullScreen)
    : root(rootWindow), screenSaver(hasScreenSaver), activeWindowAtom(activeWindow),
      stateAtom(state), fullScreenAtom(fullScreen)
{
}

std::unique_ptr<X11Desktop> X11Desktop::open()
{
    xcb_connection_t *c = connection();
    if (!c)
        return nullptr;
    // The toolkit opens the screen that DISPLAY names; the root window of
    // that screen holds the window manager's hints.
    char *host = nullptr;
    int display = 0;
    int screenNumber = 0;
    if (!xcb_parse_display(nullptr, &host, &display, &screenNumber))
        screenNumber = 0;
    std::free(host);
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(c));
    xcb_window_t root = screens.data ? screens.data->root : xcb_window_t(XCB_WINDOW_NONE);
    for (int i = 0; screens.rem > 0; ++i, xcb_screen_next(&screens)) {
        if (i == screenNumber) {
            root = screens.data->root;
            break;
        }
    }
    if (root == XCB_WINDOW_NONE)
        return nullptr;
    const xcb_query_extension_reply_t *extension = xcb_get_extension_data(c, &xcb_screensaver_id);
    const bool screenSaver = extension && extension->present;
    return std::unique_ptr<X11Desktop>(
        new X11Desktop(root, screenSaver, internAtom(c, "_NET_ACTIVE_WINDOW"),
                       internAtom(c, "_NET_WM_STATE"), internAtom(c, "_NET_WM_STATE_FULLSCREEN")));
}

std::optional<qint64> X11Desktop::msecs() const
{
    xcb_connection_t *c = connection();
    if (!c || !screenSaver)
        return std::nullopt;
    xcb_generic_error_t *error = nullptr;
    Reply<xcb_screensaver_query_info_reply_t> info(
        xcb_screensaver_query_info_reply(c, xcb_screensaver_query_info(c, root), &error));
    std::free(error);
    if (!info)
        return std::nullopt;
    return qint64(info->ms_since_user_input);
}

bool X11Desktop::otherWindowFullScreen() const
{
    xcb_connection_t *c = connection();
    if (!c || activeWindowAtom == XCB_ATOM_NONE)
        return false;
    const Reply<xcb_get_property_reply_t> active =
        property(c, root, activeWindowAtom, XCB_ATOM_WINDOW, 1);
    if (!active || xcb_get_property_value_length(active.get()) < int(sizeof(xcb_window_t)))
        return false;
    const xcb_window_t window =
        *static_cast<const xcb_window_t *>(xcb_get_property_value(active.get()));
    if (window == XCB_WINDOW_NONE || isOwnWindow(window))
        return false;
    const Reply<xcb_get_property_reply_t> state = property(c, window, stateAtom, XCB_ATOM_ATOM, 32);
    if (!state)
        return false;
    const auto *atoms = static_cast<const xcb_atom_t *>(xcb_get_property_value(state.get()));
    const int count = xcb_get_property_value_length(state.get()) / int(sizeof(xcb_atom_t));
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == fullScreenAtom)
            return true;
    }
    return false;
}
