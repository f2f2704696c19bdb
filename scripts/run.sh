#!/bin/bash
# Builds nivlets and starts it through its launcher in the user's data folder,
# where its database "nivlets" and its log live. An existing database is never
# overwritten.
set -euo pipefail
NIVLETS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$NIVLETS_ROOT/scripts/common.sh"

nivlets_install_missing $NIVLETS_BUILD_PACKAGES
BUILD_DIR="$NIVLETS_ROOT/build"
nivlets_configure "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target nivlets nivlets-cards nivlets_database -j"$(nproc)"

# The same launcher the installed program has: it makes the data folder, puts
# the sample database there when none is there and starts the program in it.
exec "$BUILD_DIR/launcher/nivlets" "$@"
