#!/bin/bash
# Builds nivlets and starts it in the user's data folder, where its database
# "nivlets" and its log live. An existing database is never overwritten.
set -euo pipefail
NIVLETS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$NIVLETS_ROOT/scripts/common.sh"

nivlets_install_missing $NIVLETS_BUILD_PACKAGES
BUILD_DIR="$NIVLETS_ROOT/build"
nivlets_configure "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target nivlets nivlets_database -j"$(nproc)"

DATA_DIR="${NIVLETS_DATA_DIR:-${XDG_DATA_HOME:-$HOME/.local/share}/nivlets}"
mkdir -p "$DATA_DIR"
if [ ! -e "$DATA_DIR/nivlets" ]; then
    cp "$BUILD_DIR/data/nivlets" "$DATA_DIR/nivlets"
    echo "Copied the sample database to $DATA_DIR/nivlets"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "nivlets needs a desktop session with a system tray (DISPLAY is not set)." >&2
    exit 1
fi

cd "$DATA_DIR"
exec "$BUILD_DIR/bin/nivlets" "$@"
