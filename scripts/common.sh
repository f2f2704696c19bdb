# Shared by the run and test commands: installs what is missing and configures a build.

# Packages needed to build and run the program.
NIVLETS_BUILD_PACKAGES="build-essential cmake qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev libsqlite3-dev fonts-dejavu-core"
# Further packages needed by the tests: an X server, a tray host, a driver for
# the program's windows, the benchmark library, the desktop entry and AppStream
# validators and the Debian package tools (dpkg-shlibdeps, file).
NIVLETS_TEST_PACKAGES="xvfb xauth x11-utils trayer xdotool python3 python3-xlib libbenchmark-dev desktop-file-utils appstream dpkg-dev file"

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
