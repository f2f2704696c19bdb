#!/bin/bash
# Makes the images compiled into nivlets, in resources/images/, all but the
# tray icon: each at its size and, as <name>@2x.png, at twice that size for
# screens of a higher pixel density, where the toolkit picks it by itself.
# Run once by hand; the PNG files it writes are committed, so building the
# program needs neither ImageMagick nor the icon theme.
# Needs: imagemagick, tango-icon-theme, fonts-dejavu-core.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
out=$here/images
tango=/usr/share/icons/Tango
fonts=/usr/share/fonts/truetype/dejavu
bold=$fonts/DejaVuSans-Bold.ttf
oblique=$fonts/DejaVuSans-Oblique.ttf

# Without these, every run would write new time stamps and file names into
# the PNG files and git would see changed images where nothing changed.
clean=(-strip -define png:exclude-chunks=date,time)

mkdir -p "$out"

# name in the program <- icon of the Tango theme, used as it is
icons=(
    trophy:status/software-update-available.png
    calendar_edit:mimetypes/x-office-calendar.png
    book:mimetypes/x-office-address-book.png
    cog:emblems/emblem-system.png
    exclamation:emblems/emblem-important.png
    door:actions/system-log-out.png
    magnifier:actions/system-search.png
    asterisk_orange:actions/edit-clear.png
    add:actions/list-add.png
    pencil:apps/accessories-text-editor.png
    bin_closed:places/user-trash.png
    alarm:actions/appointment-new.png
    arrow_right:actions/go-next.png
    hand_point:emotes/face-smile-big.png
    chart:apps/utilities-system-monitor.png
)
# Tango draws each icon for 32 pixels on its own, so the larger one is no
# blown-up copy of the small one.
for entry in "${icons[@]}"; do
    name=${entry%%:*}
    convert "$tango/16x16/${entry#*:}" "${clean[@]}" "PNG32:$out/$name.png"
    convert "$tango/32x32/${entry#*:}" "${clean[@]}" "PNG32:$out/$name@2x.png"
done

# Tango has no check mark, so the check button gets one drawn in Tango's
# greens, large and then scaled down so the edges come out smooth.
for size in 16:accept 32:accept@2x; do
    convert -size 64x64 xc:none \
        -fill none -stroke '#4e9a06' -strokewidth 18 -draw 'stroke-linecap round stroke-linejoin round polyline 12,34 26,48 52,16' \
        -stroke '#8ae234' -strokewidth 8 -draw 'stroke-linecap round stroke-linejoin round polyline 12,34 26,48 52,16' \
        -resize "${size%%:*}x${size%%:*}" "${clean[@]}" "PNG32:$out/${size#*:}.png"
done

# The tray icon, nivleticon16.png, is rendered from the program icon by
# desktop/icons/make-icons.sh.

# header <file> <width> <height> <title size> <tag line size> [<scale>]
# A blue band with the program's name, its tag line and a small fan of
# question cards at the right; the scale widens the lines for the @2x image.
header() {
    local file=$1 w=$2 h=$3 title=$4 tag=$5 k=${6:-1}
    local s=$(((h * 100) / 146))
    local cw=$((s * 60 / 100)) ch=$((s * 84 / 100)) r=$((s * 8 / 100))
    local cy=$(((h - ch) / 2))
    local cards=()
    local i
    for i in 0 1 2; do
        local cx=$((w - (3 - i) * cw * 80 / 100 - s * 30 / 100))
        local angle=$(((i - 1) * 12))
        local colour
        case $i in
        0) colour='#fcaf3e' ;;
        1) colour='#ffffff' ;;
        2) colour='#8ae234' ;;
        esac
        cards+=(\( -size "${cw}x${ch}" xc:none
            -fill "$colour" -stroke '#2e3436' -strokewidth $((2 * k))
            -draw "roundrectangle $k,$k $((cw - 2 * k)),$((ch - 2 * k)) $r,$r"
            -font "$bold" -pointsize $((s * 50 / 100)) -fill '#204a87' -stroke none
            -gravity center -annotate +0+0 '?'
            -background none -rotate "$angle"
            \) -gravity northwest -geometry "+$cx+$cy" -composite)
    done
    convert -size "${w}x${h}" gradient:'#204a87-#3465a4' -rotate 0 \
        \( -size "${w}x$((h / 2))" gradient:'#ffffff30-#ffffff00' \) -gravity north -composite \
        "${cards[@]}" \
        -gravity northwest \
        -font "$bold" -pointsize "$title" -fill '#00000060' -annotate "+$((s * 22 / 100))+$((s * 14 / 100))" 'nivlets' \
        -fill white -annotate "+$((s * 20 / 100))+$((s * 12 / 100))" 'nivlets' \
        -font "$oblique" -pointsize "$tag" -fill '#fcaf3e' \
        -annotate "+$((s * 26 / 100))+$((s * 104 / 100))" 'learn what you know least' \
        -fill none -stroke '#fcaf3e' -strokewidth $((2 * k)) -draw "line 0,$((h - 2 * k)) $w,$((h - 2 * k))" \
        "${clean[@]}" "PNG32:$out/$file"
}

header mainheader.png 626 146 72 20
header mainheader@2x.png 1252 292 144 40 2
header challengeheader.png 420 98 48 14
header challengeheader@2x.png 840 196 96 28 2
