#!/bin/bash
# Builds nivlets and starts it through its launcher in the user's data folder,
# where its database "nivlets" and its log live. An existing database is never
# overwritten. Run it as yourself: it uses sudo only to install missing
# packages. Started with sudo all the same, it installs as root and then
# builds and runs as the user who typed the command, so that neither the build
# folder nor the database ends up belonging to root.
set -euo pipefail
NIVLETS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$NIVLETS_ROOT/scripts/common.sh"

nivlets_install_missing $NIVLETS_BUILD_PACKAGES

invoking_user="$(nivlets_invoking_user "$(id -u)" "${SUDO_USER:-}")"
if [ -n "$invoking_user" ]; then
    echo "Building and starting nivlets as $invoking_user, not as root."
    mapfile -t session < <(nivlets_session_environment "$invoking_user")
    exec sudo -u "$invoking_user" -H -- env "${session[@]}" \
        bash "$NIVLETS_ROOT/scripts/run.sh" "$@"
fi

BUILD_DIR="$NIVLETS_ROOT/build"
if [ -e "$BUILD_DIR" ] && [ ! -w "$BUILD_DIR" ]; then
    echo "$BUILD_DIR belongs to another user (an earlier run with sudo?)." >&2
    echo "Remove it with: sudo rm -rf '$BUILD_DIR'" >&2
    exit 1
fi
nivlets_configure "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target nivlets nivlets-cards nivlets_database -j"$(nproc)"

# The same launcher the installed program has: it makes the data folder, puts
# the sample database there when none is there and starts the program in it.
exec "$BUILD_DIR/launcher/nivlets" "$@"
