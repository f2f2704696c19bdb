#!/usr/bin/python3
"""Looks at and pokes the X windows of a running program for tst_program.

Subcommands:
  wait-tray [SECONDS]   wait until a system-tray host owns _NET_SYSTEM_TRAY_S0
  windows PID           one line per window of the process:
                        id, map state, window type, x, y, width, height,
                        embedded (1 when inside another client's window), name
  tray-icon PID         id and root position of the centre of the process's
                        viewable tray icon (a window embedded by the tray host)
  close WINDOWID        ask the window to close, as a window manager would
  image WINDOWID X Y WIDTH HEIGHT FILE
                        write that part of the window's contents as a PPM file
  stacking              ids of the viewable top-level windows, bottom to top
  focus                 id of the window that has the keyboard focus
  above UPPER LOWER     exit 0 when the top-level window (frame) holding
                        UPPER is stacked above the one holding LOWER
  text WINDOWID NAME    the window's text property NAME (UTF-8 or Latin-1)
  icon-sizes WINDOWID   the sizes of the pictures in its _NET_WM_ICON, as
                        WIDTHxHEIGHT, one a line
Exit code 0 on success, 1 when the thing asked for is not there.
"""

import sys
import time

from Xlib import X, Xatom, display, error, protocol

MAP_STATES = {X.IsUnmapped: "unmapped", X.IsUnviewable: "unviewable", X.IsViewable: "viewable"}


def atom(d, name):
    return d.intern_atom(name)


def wait_tray(d, seconds):
    selection = atom(d, "_NET_SYSTEM_TRAY_S%d" % d.get_default_screen())
    deadline = time.time() + seconds
    while d.get_selection_owner(selection) == X.NONE:
        if time.time() > deadline:
            return 1
        time.sleep(0.05)
    return 0


def window_name(d, w):
    prop = w.get_full_property(atom(d, "_NET_WM_NAME"), atom(d, "UTF8_STRING"))
    if prop is not None:
        value = prop.value
        return value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)
    name = w.get_wm_name()
    if isinstance(name, bytes):
        return name.decode("latin-1")
    return name or ""


def window_type(d, w):
    prop = w.get_full_property(atom(d, "_NET_WM_WINDOW_TYPE"), Xatom.ATOM)
    if prop is None or len(prop.value) == 0:
        return "NONE"
    return d.get_atom_name(prop.value[0]).replace("_NET_WM_WINDOW_TYPE_", "")


def process_windows(d, pid):
    """(window, embedded) for every window whose _NET_WM_PID is pid."""
    pid_atom = atom(d, "_NET_WM_PID")
    root = d.screen().root
    found = []
    pending = [root]
    while pending:
        parent = pending.pop()
        try:
            children = parent.query_tree().children
        except error.XError:
            continue
        for child in children:
            try:
                prop = child.get_full_property(pid_atom, Xatom.CARDINAL)
            except error.XError:
                continue
            mine = prop is not None and len(prop.value) > 0 and prop.value[0] == pid
            if mine:
                found.append((child, parent != root))
            pending.append(child)
    return found


def describe(d, w, embedded):
    root = d.screen().root
    attrs = w.get_attributes()
    geometry = w.get_geometry()
    origin = root.translate_coords(w, 0, 0)
    return "0x%x\t%s\t%s\t%d\t%d\t%d\t%d\t%d\t%s" % (
        w.id, MAP_STATES.get(attrs.map_state, "?"), window_type(d, w), origin.x, origin.y,
        geometry.width, geometry.height, 1 if embedded else 0, window_name(d, w))


def list_windows(d, pid):
    for w, embedded in process_windows(d, pid):
        try:
            print(describe(d, w, embedded))
        except error.XError:
            pass
    return 0


def tray_icon(d, pid):
    root = d.screen().root
    for w, embedded in process_windows(d, pid):
        if not embedded:
            continue
        try:
            if w.get_attributes().map_state != X.IsViewable:
                continue
            geometry = w.get_geometry()
            origin = root.translate_coords(w, 0, 0)
        except error.XError:
            continue
        if geometry.width < 2 or geometry.height < 2:
            continue
        print("0x%x %d %d" % (w.id, origin.x + geometry.width // 2,
                              origin.y + geometry.height // 2))
        return 0
    return 1


def close_window(d, window_id):
    w = d.create_resource_object("window", window_id)
    protocols = atom(d, "WM_PROTOCOLS")
    event = protocol.event.ClientMessage(
        window=w, client_type=protocols,
        data=(32, [atom(d, "WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
    w.send_event(event, event_mask=X.NoEventMask)
    d.sync()
    return 0


def save_image(d, window_id, x, y, width, height, path):
    w = d.create_resource_object("window", window_id)
    image = w.get_image(x, y, width, height, X.ZPixmap, 0xffffffff)
    data = image.data
    bytes_per_pixel = len(data) // (width * height)
    if bytes_per_pixel != 4:
        return 1
    # 24-bit visuals deliver blue, green, red and one padding byte per pixel.
    rgb = bytearray(width * height * 3)
    rgb[0::3] = data[2::4]
    rgb[1::3] = data[1::4]
    rgb[2::3] = data[0::4]
    with open(path, "wb") as out:
        out.write(b"P6\n%d %d\n255\n" % (width, height))
        out.write(bytes(rgb))
    return 0


def stacking(d):
    for w in d.screen().root.query_tree().children:
        try:
            if w.get_attributes().map_state == X.IsViewable:
                print("0x%x" % w.id)
        except error.XError:
            pass
    return 0


def focus(d):
    window = d.get_input_focus().focus
    print("0x%x" % (window if isinstance(window, int) else window.id))
    return 0


def top_level(d, window_id):
    """The child of the root that holds the window: its window manager frame."""
    root = d.screen().root
    w = d.create_resource_object("window", window_id)
    while True:
        parent = w.query_tree().parent
        if parent == root or parent == X.NONE:
            return w.id
        w = parent


def above(d, upper, lower):
    order = [w.id for w in d.screen().root.query_tree().children]
    return 0 if order.index(top_level(d, upper)) > order.index(top_level(d, lower)) else 1


def text_property(d, window_id, name):
    prop = d.create_resource_object("window", window_id).get_full_property(atom(d, name),
                                                                           X.AnyPropertyType)
    if prop is None:
        return 1
    value = prop.value
    print(value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value))
    return 0


def icon_sizes(d, window_id):
    prop = d.create_resource_object("window", window_id).get_full_property(
        atom(d, "_NET_WM_ICON"), Xatom.CARDINAL)
    if prop is None:
        return 1
    values = list(prop.value)
    while len(values) >= 2:
        width, height = values[0], values[1]
        print("%dx%d" % (width, height))
        values = values[2 + width * height:]
    return 0


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    d = display.Display()
    command = argv[1]
    if command == "wait-tray":
        return wait_tray(d, float(argv[2]) if len(argv) > 2 else 30.0)
    if command == "windows":
        return list_windows(d, int(argv[2]))
    if command == "tray-icon":
        return tray_icon(d, int(argv[2]))
    if command == "close":
        return close_window(d, int(argv[2], 0))
    if command == "image":
        x, y, width, height = (int(value) for value in argv[3:7])
        return save_image(d, int(argv[2], 0), x, y, width, height, argv[7])
    if command == "stacking":
        return stacking(d)
    if command == "focus":
        return focus(d)
    if command == "above":
        return above(d, int(argv[2], 0), int(argv[3], 0))
    if command == "text":
        return text_property(d, int(argv[2], 0), argv[3])
    if command == "icon-sizes":
        return icon_sizes(d, int(argv[2], 0))
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
