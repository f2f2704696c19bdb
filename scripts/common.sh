# Shared by the run and test commands: installs what is missing and configures a build.

# Packages needed to build and run the program.
NIVLETS_BUILD_PACKAGES="build-essential cmake pkgconf qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins qt6-charts-dev libqt6opengl6-dev libgl-dev libsqlite3-dev libxml2-dev libxcb1-dev libxcb-screensaver0-dev fonts-dejavu-core"
# Further packages needed by the tests: an X server, a tray host, a driver for
# the program's windows, the benchmark library, the desktop entry and AppStream
# validators, the Debian package tools (dpkg-shlibdeps, file), a session bus
# for the launcher's notification, Mnemosyne, whose own code reads and writes
# the cards of the card test, and for the whole program on a desktop a window
# manager, a terminal to type into and a command that sets its window full
# screen.
NIVLETS_TEST_PACKAGES="xvfb xauth x11-utils trayer xdotool python3 python3-xlib libbenchmark-dev desktop-file-utils appstream dpkg-dev file openbox dbus-daemon mnemosyne xterm wmctrl qt6ct"

nivlets_install_missing() {
    local missing=()
    local pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return 0
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

nivlets_configure() {
    local build_dir="$1"
    shift
    cmake -S "$NIVLETS_ROOT" -B "$build_dir" "$@"
}

# The user who typed "sudo ...": printed when the script runs as root through
# sudo on behalf of another user, nothing otherwise. Arguments: the current
# user id and SUDO_USER.
nivlets_invoking_user() {
    local uid="$1" sudo_user="$2"
    if [ "$uid" -eq 0 ] && [ -n "$sudo_user" ] && [ "$sudo_user" != "root" ]; then
        echo "$sudo_user"
    fi
}

# NAME=value lines for the desktop session variables that are set, so that a
# program started for the user through sudo finds the user's X server, tray
# and data folder; the runtime folder is the user's own.
nivlets_session_environment() {
    local user="$1" var
    for var in DISPLAY XAUTHORITY WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS NIVLETS_DATA_DIR; do
        if [ -n "${!var:-}" ]; then
            echo "$var=${!var}"
        fi
    done
    local runtime
    runtime="/run/user/$(id -u "$user")"
    if [ -d "$runtime" ]; then
        echo "XDG_RUNTIME_DIR=$runtime"
    fi
}
