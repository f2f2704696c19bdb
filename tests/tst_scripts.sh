#!/bin/bash
# The run command's decisions, checked on the functions it is built from:
# whom it builds and runs as, and which session variables go along.
set -uo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
. "$ROOT/scripts/common.sh"

failures=0
check() {
    local what="$1" expected="$2" actual="$3"
    if [ "$expected" == "$actual" ]; then
        echo "PASS   : $what"
    else
        echo "FAIL!  : $what: expected '$expected', got '$actual'"
        failures=$((failures + 1))
    fi
}

check "sudo by a user builds as that user" "alice" "$(nivlets_invoking_user 0 alice)"
check "root without sudo stays root" "" "$(nivlets_invoking_user 0 "")"
check "sudo by root stays root" "" "$(nivlets_invoking_user 0 root)"
check "a plain user stays that user" "" "$(nivlets_invoking_user 1000 "")"
check "a user with a stray SUDO_USER stays that user" "" "$(nivlets_invoking_user 1000 bob)"

session="$(DISPLAY=:7 XAUTHORITY="/home/a b/.Xauthority" WAYLAND_DISPLAY= \
    NIVLETS_DATA_DIR="/data/with space" nivlets_session_environment root)"
check "the session's display goes along" "DISPLAY=:7" "$(grep '^DISPLAY=' <<<"$session")"
check "a value with a blank stays one line" "XAUTHORITY=/home/a b/.Xauthority" \
    "$(grep '^XAUTHORITY=' <<<"$session")"
check "the data folder goes along" "NIVLETS_DATA_DIR=/data/with space" \
    "$(grep '^NIVLETS_DATA_DIR=' <<<"$session")"
check "unset variables stay out" "" "$(grep '^WAYLAND_DISPLAY=' <<<"$session")"

if [ "$failures" -ne 0 ]; then
    echo "$failures checks failed"
    exit 1
fi
echo "All checks passed"
