#!/bin/bash
# Builds everything and runs every test twice: in a plain build and in a build
# with AddressSanitizer and UndefinedBehaviorSanitizer. GUI tests get a real X
# server with a system-tray host.
set -uo pipefail
NIVLETS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$NIVLETS_ROOT/scripts/common.sh"
set -e
nivlets_install_missing $NIVLETS_BUILD_PACKAGES $NIVLETS_TEST_PACKAGES
set +e

JOBS="$(nproc)"
XVFB_PID=""
TRAYER_PID=""
DESKTOP_PIDS=()

cleanup() {
    [ -n "$TRAYER_PID" ] && kill "$TRAYER_PID" 2>/dev/null
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null
    [ ${#DESKTOP_PIDS[@]} -gt 0 ] && kill "${DESKTOP_PIDS[@]}" 2>/dev/null
    wait 2>/dev/null
}
trap cleanup EXIT

start_desktop() {
    local fifo
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    XVFB_PID=$!
    local number
    read -r -t 30 number <"$fifo"
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "Xvfb did not start" >&2
        return 1
    fi
    export DISPLAY=":$number"
    # Tests that send real clicks and keys run only where this is DISPLAY:
    # a bare ctest on a desktop must never click the user's own tray.
    export NIVLETS_TEST_DISPLAY="$DISPLAY"
    trayer --edge bottom --align right --widthtype pixel --width 200 \
        --heighttype pixel --height 24 >/dev/null 2>&1 &
    TRAYER_PID=$!
    /usr/bin/python3 - <<'PY' || {
import sys, time
from Xlib import display
d = display.Display()
atom = d.intern_atom("_NET_SYSTEM_TRAY_S0")
deadline = time.time() + 30
while d.get_selection_owner(atom) == 0:
    if time.time() > deadline:
        sys.exit(1)
    time.sleep(0.1)
PY
        echo "the tray host did not come up" >&2
        return 1
    }
    echo "X server on $DISPLAY with a tray host"
}

# A second X server with a real window manager (openbox) and a tray host, for
# the one test of the whole program on a desktop where "minimised" means what
# it means to a user. Its display is NIVLETS_DESKTOP_DISPLAY; the other tests
# keep the bare server, whose window placement they rely on.
start_wm_desktop() {
    local fifo number
    fifo="$(mktemp -u)"
    mkfifo "$fifo"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
    DESKTOP_PIDS+=($!)
    read -r -t 30 number <"$fifo"
    rm -f "$fifo"
    if [ -z "$number" ]; then
        echo "the second Xvfb did not start" >&2
        return 1
    fi
    export NIVLETS_DESKTOP_DISPLAY=":$number"
    DISPLAY="$NIVLETS_DESKTOP_DISPLAY" openbox --sm-disable >/dev/null 2>&1 &
    DESKTOP_PIDS+=($!)
    DISPLAY="$NIVLETS_DESKTOP_DISPLAY" trayer --edge bottom --align right --widthtype pixel \
        --width 200 --heighttype pixel --height 24 >/dev/null 2>&1 &
    DESKTOP_PIDS+=($!)
    DISPLAY="$NIVLETS_DESKTOP_DISPLAY" /usr/bin/python3 - <<'PY' || {
import sys, time
from Xlib import X, display
d = display.Display()
root = d.screen().root
tray = d.intern_atom("_NET_SYSTEM_TRAY_S0")
check = d.intern_atom("_NET_SUPPORTING_WM_CHECK")
deadline = time.time() + 30
while d.get_selection_owner(tray) == X.NONE or root.get_full_property(check, X.AnyPropertyType) is None:
    if time.time() > deadline:
        sys.exit(1)
    time.sleep(0.1)
PY
        echo "openbox or the tray host did not come up on $NIVLETS_DESKTOP_DISPLAY" >&2
        return 1
    }
    echo "X server on $NIVLETS_DESKTOP_DISPLAY with openbox and a tray host"
}

run_suite() {
    local name="$1" build_dir="$2"
    shift 2
    echo "=== $name build ==="
    # A warning of either build fails the run.
    nivlets_configure "$build_dir" -DNIVLETS_WERROR=ON "$@" >/dev/null || return 1
    cmake --build "$build_dir" -j"$JOBS" || return 1
    echo "=== $name tests ==="
    ctest --test-dir "$build_dir" --output-on-failure -j"$JOBS" --timeout 600
}

start_desktop || exit 1
start_wm_desktop || exit 1

status=0
run_suite "plain" "$NIVLETS_ROOT/build-test" -DCMAKE_BUILD_TYPE=RelWithDebInfo || status=1

# strndup inside libxkbcommon-x11 reads past the length it is given; that is
# not ours and would stop every GUI test.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:intercept_strndup=0"
export LSAN_OPTIONS="suppressions=$NIVLETS_ROOT/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_suite "sanitizer" "$NIVLETS_ROOT/build-sanitize" -DCMAKE_BUILD_TYPE=Debug -DNIVLETS_SANITIZE=ON || status=1

if [ $status -ne 0 ]; then
    echo "Some tests failed."
fi
exit $status
