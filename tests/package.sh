#!/bin/bash
# Builds the Debian package from a build tree, unpacks it with dpkg-deb -x,
# checks its fields, its file list against the install layout and the libraries
# its two commands need, and starts the unpacked launcher against an empty data
# folder under the tray host of the test command's X server. Also checks that
# the project configures with its tests switched off, as a package build does,
# and then has neither tests nor benchmarks.
# Usage: package.sh BUILD_DIR SOURCE_DIR VERSION [COMPANION_PATH...]
# The companion commands' paths are expected in the package on top of
# tests/package-files.txt.
set -euo pipefail
build=$1
source=$2
version=$3
shift 3

if [ -z "${NIVLETS_TEST_DISPLAY-}" ] || [ "$NIVLETS_TEST_DISPLAY" != "${DISPLAY-}" ]; then
    echo "SKIP: the package's program runs only on the X server that scripts/test.sh starts"
    exit 77
fi

work=$(mktemp -d)
pid=""
cleanup() {
    if [ -n "$pid" ]; then
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT
fail() {
    echo "FAIL: $*" >&2
    exit 1
}

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    fail "cpack did not build the package"
fi
deb="$work/out/nivlets_${version}-1_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || fail "no $(basename "$deb") in: $(ls "$work/out")"

field() {
    dpkg-deb -f "$deb" "$1"
}
[ "$(field Package)" = nivlets ] || fail "Package: $(field Package)"
[ "$(field Version)" = "$version-1" ] || fail "Version: $(field Version)"
[ "$(field Section)" = education ] || fail "Section: $(field Section)"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer: $(field Maintainer)"
[ -n "$(field Description)" ] || fail "no Description"
depends=$(field Depends)
for library in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6charts6 libsqlite3-0 libxml2 libxcb1 libxcb-screensaver0; do
    # With a version or, where the library gives none, without.
    pattern=", $library( \(|,)"
    [[ ", $depends," =~ $pattern ]] || fail "Depends lacks $library: $depends"
done

dpkg-deb -x "$deb" "$work/root"
root="$work/root"
(cd "$root" && find . ! -type d | sed 's|^\.||' | LC_ALL=C sort) >"$work/files"
{
    cat "$source/tests/package-files.txt"
    for companion in "$@"; do
        echo "$companion"
    done
} | LC_ALL=C sort >"$work/expected"
diff -u "$work/expected" "$work/files" || fail "the file list differs from the install layout"
for program in usr/bin/nivlets usr/libexec/nivlets/nivlets "${@#/}"; do
    [ -x "$root/$program" ] || fail "/$program is not executable"
done
file "$root/usr/libexec/nivlets/nivlets" | grep -q ', stripped' || fail "the program is not stripped"
# Only the card command reads Anki's HTML: the program itself needs no libxml2.
needed() {
    objdump -p "$root/$1" | awk '$1 == "NEEDED" { print $2 }'
}
program_needs=$(needed usr/libexec/nivlets/nivlets)
cards_needs=$(needed usr/bin/nivlets-cards)
! grep -q '^libxml2' <<<"$program_needs" || fail "the program links libxml2: $program_needs"
grep -q '^libxml2' <<<"$cards_needs" || fail "nivlets-cards does not link libxml2: $cards_needs"
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop entry"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml >/dev/null || fail "AppStream metadata"

# The unpacked launcher finds its program and database beside it, as the
# installed one does under /usr.
mkdir -p "$work/home" "$work/runtime"
chmod 700 "$work/runtime"
data="$work/data/nivlets"
env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_DATA_HOME="$work/data" \
    XDG_RUNTIME_DIR="$work/runtime" DISPLAY="$DISPLAY" ${XAUTHORITY:+XAUTHORITY="$XAUTHORITY"} \
    "$root/usr/bin/nivlets" startbg >"$work/launcher.log" 2>&1 &
pid=$!
docked=""
for _ in $(seq 1 100); do
    if /usr/bin/python3 "$source/tests/xhelper.py" tray-icon "$pid" >/dev/null; then
        docked=yes
        break
    fi
    kill -0 "$pid" 2>/dev/null || {
        cat "$work/launcher.log"
        fail "the packaged program ended"
    }
    sleep 0.2
done
[ -n "$docked" ] || fail "the packaged program's icon did not appear in the tray"
[ "$(readlink -f "/proc/$pid/exe")" = "$(readlink -f "$root/usr/libexec/nivlets/nivlets")" ] ||
    fail "the launcher runs $(readlink -f "/proc/$pid/exe")"
[ "$(readlink -f "/proc/$pid/cwd")" = "$(readlink -f "$data")" ] || fail "working folder $(readlink -f "/proc/$pid/cwd")"
cmp "$data/nivlets" "$root/usr/share/nivlets/nivlets" || fail "the delivered database was not copied"
while IFS=$'\t' read -r id state _ _ _ _ _ embedded _; do
    if [ "$state" = viewable ] && [ "$embedded" != 1 ]; then
        fail "window $id is shown; started with startbg only the tray icon may be"
    fi
done < <(/usr/bin/python3 "$source/tests/xhelper.py" windows "$pid")
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=""

# Switched off, the tests and the test library are not even looked for.
cmake -S "$source" -B "$work/notests" -DBUILD_TESTING=OFF >"$work/notests.log" 2>&1 ||
    fail "configuring with BUILD_TESTING=OFF: $(cat "$work/notests.log")"
! grep -q '^Qt6Test_DIR:' "$work/notests/CMakeCache.txt" || fail "BUILD_TESTING=OFF still finds Qt Test"
targets=$(cmake --build "$work/notests" --target help)
! grep -q 'tst_' <<<"$targets" || fail "BUILD_TESTING=OFF still has tests"
! grep -q 'nivlets_bench\|nivlets_gendb\|shots' <<<"$targets" ||
    fail "BUILD_TESTING=OFF still has the benchmarks or the screenshot makers"

echo "$(basename "$deb"): fields, $(wc -l <"$work/files") files, started from the tray: ok"
