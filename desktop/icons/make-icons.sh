#!/bin/bash
# Renders the nivlets icon from its SVG sources: the menu and panel sizes in
# desktop/icons/hicolor/ and the tray icon compiled into the program
# (resources/images/nivleticon16.png). The PNG files are committed, so a
# build needs neither tool; run this again after changing an SVG file.
# Needs: librsvg2-bin, imagemagick.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
# Without these, every run would write new time stamps into the files.
clean=(-strip -define png:exclude-chunks=date,time)

render() {
    local svg=$1 size=$2 out=$3
    mkdir -p "$(dirname "$out")"
    rsvg-convert -w "$size" -h "$size" "$svg" | convert - "${clean[@]}" "PNG32:$out"
}

# At 16 pixels the grid-drawn source stays sharp; the larger sizes scale the
# detailed one. 22 and 24 are the panels' and trays' usual sizes.
render "$here/nivlets-16.svg" 16 "$here/hicolor/16x16/nivlets.png"
for size in 22 24 32 48 64 128 256; do
    render "$here/nivlets.svg" "$size" "$here/hicolor/${size}x${size}/nivlets.png"
done
render "$here/nivlets-16.svg" 16 "$root/resources/images/nivleticon16.png"
