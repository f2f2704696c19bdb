#!/bin/bash
# A test that needs the test command's X server, run on a display without a
# tray host and without the command's marker, skips at once with its reason
# instead of failing after a long wait. Argument: the test executable.
set -uo pipefail
test_binary="$1"

folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
exec 3>"$folder/display"
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 2>/dev/null &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -rf "$folder"' EXIT
for _ in $(seq 100); do
    [ -s "$folder/display" ] && break
    sleep 0.1
done
number=$(head -n 1 "$folder/display")
if [ -z "$number" ]; then
    echo "FAIL!  : no X server of its own"
    exit 1
fi

start=$(date +%s)
output=$(env -u NIVLETS_TEST_DISPLAY -u QT_QPA_PLATFORM DISPLAY=":$number" \
    timeout 60 "$test_binary" 2>&1)
code=$?
took=$(($(date +%s) - start))
echo "$output"
if [ "$code" -ne 0 ]; then
    echo "FAIL!  : $(basename "$test_binary") ended with $code after $took s"
    exit 1
fi
if ! grep -q '^SKIP   : .*::initTestCase() ' <<<"$output"; then
    echo "FAIL!  : $(basename "$test_binary") did not skip"
    exit 1
fi
if [ "$took" -gt 5 ]; then
    echo "FAIL!  : skipping took $took s"
    exit 1
fi
echo "PASS   : $(basename "$test_binary") skips on a display without a tray host"
