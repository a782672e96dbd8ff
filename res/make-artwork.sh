#!/bin/bash
# Draws the window's icons and pictures into this folder. Needs ImageMagick and the
# Liberation fonts (fonts-liberation2); run it again after changing a picture.
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert  # not a `convert` found earlier on PATH
# No time stamps or other metadata, so that a rerun gives the same bytes.
out=(-strip -define png:exclude-chunks=date,time)

# 128: a red eight-spoked wheel on a dark ground (application icon).
spokes=()
for angle in 0 45 90 135 180 225 270 315; do
    read -r x y < <(awk -v a="$angle" 'BEGIN {
        r = a * 3.14159265 / 180; printf "%.2f %.2f\n", 16 + 11 * cos(r), 16 + 11 * sin(r) }')
    spokes+=(-draw "line 16,16 $x,$y")
done
"$convert" -size 32x32 xc:'rgb(28,28,36)' -fill none -stroke 'rgb(220,20,20)' -strokewidth 2 \
    -draw 'circle 16,16 16,4' "${spokes[@]}" -fill 'rgb(220,20,20)' -stroke none \
    -draw 'circle 16,16 16,13' "${out[@]}" PNG32:icon128.png

# 151 and 152: the port indicator, a white disc (closed) and a red disc (open).
"$convert" -size 32x32 xc:none -fill white -stroke 'rgb(96,96,96)' -draw 'circle 15.5,15.5 15.5,2' \
    "${out[@]}" PNG32:icon151.png
"$convert" -size 32x32 xc:none -fill 'rgb(255,0,0)' -stroke 'rgb(128,0,0)' \
    -draw 'circle 15.5,15.5 15.5,2' "${out[@]}" PNG32:icon152.png

# 148: black backdrop of the reading area; 177: dark red backdrop of the calibration read-outs.
"$convert" -size 471x343 xc:black "${out[@]}" PNG24:bitmap148.png
"$convert" -size 211x143 xc:'rgb(128,0,0)' "${out[@]}" PNG24:bitmap177.png

# 176: the word mark, red on light grey.
font=$(fc-match -f '%{file}' 'Liberation Sans:bold')
"$convert" -size 116x61 xc:'rgb(205,204,204)' -font "$font" -pointsize 30 -fill 'rgb(200,0,0)' \
    -gravity center -annotate +0+0 'TORVA' "${out[@]}" PNG24:bitmap176.png
