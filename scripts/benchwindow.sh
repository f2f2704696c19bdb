#!/bin/bash
# Builds the window and backup benchmarks in Release mode, generates the
# databases of 1,000, 100,000 and 1,000,000 nivlets when they are missing (the
# same files as scripts/bench.sh), starts an X server with a system-tray host,
# as the main window needs one, and runs the window benchmark on all three and
# the backup benchmark on the two larger ones. "window" or "backups" as the
# argument runs only that one.
set -euo pipefail
NIVLETS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$NIVLETS_ROOT/scripts/common.sh"

only="${1:-}"
case "$only" in
"" | window | backups) ;;
*)
    echo "usage: $0 [window|backups]" >&2
    exit 2
    ;;
esac

nivlets_install_missing $NIVLETS_BUILD_PACKAGES $NIVLETS_TEST_PACKAGES
BUILD_DIR="${NIVLETS_BENCH_BUILD:-$NIVLETS_ROOT/build-release}"
DATA_DIR="${NIVLETS_BENCH_DATA:-$BUILD_DIR/bench-data}"
nivlets_configure "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD_DIR" --target nivlets_benchwindow nivlets_benchbackup nivlets_gendb -j"$(nproc)"

mkdir -p "$DATA_DIR"
files=()
for size in 1000:10 100000:100 1000000:1000; do
    n="${size%%:*}"
    books="${size##*:}"
    file="$DATA_DIR/bench-$n.db"
    if [ ! -e "$file" ] || [ "$NIVLETS_ROOT/data/schema.sql" -nt "$file" ] \
        || [ "$BUILD_DIR/bin/nivlets_gendb" -nt "$file" ]; then
        echo "Generating $file ($n nivlets in $books books)"
        "$BUILD_DIR/bin/nivlets_gendb" "$file" "$n" "$books" 1
    fi
    files+=("$file")
done

XVFB_PID=""
TRAYER_PID=""
cleanup() {
    [ -n "$TRAYER_PID" ] && kill "$TRAYER_PID" 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    wait 2>/dev/null || true
}
trap cleanup EXIT
fifo="$(mktemp -u)"
mkfifo "$fifo"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
XVFB_PID=$!
read -r -t 30 number <"$fifo"
rm -f "$fifo"
export DISPLAY=":$number"
trayer --edge bottom --align right --widthtype pixel --width 200 \
    --heighttype pixel --height 24 >/dev/null 2>&1 &
TRAYER_PID=$!
/usr/bin/python3 "$NIVLETS_ROOT/tests/xhelper.py" wait-tray 30

if [ "$only" != backups ]; then
    "$BUILD_DIR/bin/nivlets_benchwindow" "${files[@]}"
fi
if [ "$only" != window ]; then
    "$BUILD_DIR/bin/nivlets_benchbackup" "${files[1]}" "${files[2]}"
fi
