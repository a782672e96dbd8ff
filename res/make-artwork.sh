#!/bin/bash
# Draws the window's icons and pictures into this folder. Needs ImageMagick and the
# Liberation fonts (fonts-liberation2); run it again after changing a picture.
set -euo pipefail
cd "$(dirname "$0")"
convert=/usr/bin/convert  # not a `convert` found earlier on PATH
# No time stamps or other metadata, so that a rerun gives the same bytes.
out=(-strip -define png:exclude-chunks=date,time)

# 128: a red eight-spoked wheel on a dark ground (application icon), drawn on a 32-unit grid
# and scaled to each size: 32 px for the window, the usual hicolor sizes for the desktop, and
# the same figure as SVG for the scalable icon.
wheel() { # wheel SIZE OUT
    # ImageMagick puts a pixel's centre at whole coordinates: grid point v lands on s(v + 0.5) - 0.5.
    local draw=()
    mapfile -t draw < <(awk -v s="$(($1))/32" 'BEGIN {
        split(s, f, "/"); s = f[1] / f[2]; c = s * 16.5 - 0.5
        printf "circle %g,%g %g,%g\n", c, c, c, c - 12 * s
        for (a = 0; a < 360; a += 45) {
            r = a * 3.14159265 / 180
            printf "line %g,%g %.2f,%.2f\n", c, c, c + 11 * s * cos(r), c + 11 * s * sin(r)
        }
        printf "circle %g,%g %g,%g\n", c, c, c, c - 3 * s
        printf "%g\n", 2 * s }')
    local args=(-draw "${draw[0]}")
    for i in 1 2 3 4 5 6 7 8; do args+=(-draw "${draw[$i]}"); done
    "$convert" -size "$1x$1" xc:'rgb(28,28,36)' -fill none -stroke 'rgb(220,20,20)' \
        -strokewidth "${draw[10]}" "${args[@]}" -fill 'rgb(220,20,20)' -stroke none \
        -draw "${draw[9]}" "${out[@]}" "PNG32:$2"
}
wheel 32 icon128.png
for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "hicolor/${size}x${size}/apps"
    wheel "$size" "hicolor/${size}x${size}/apps/torva.png"
done
mkdir -p hicolor/scalable/apps
{
    echo '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32">'
    echo '  <rect width="32" height="32" fill="#1c1c24"/>'
    echo '  <g fill="none" stroke="#dc1414" stroke-width="2" stroke-linecap="round">'
    echo '    <circle cx="16.5" cy="16.5" r="12"/>'
    for angle in 0 45 90 135 180 225 270 315; do
        awk -v a="$angle" 'BEGIN { r = a * 3.14159265 / 180
            printf "    <line x1=\"16.5\" y1=\"16.5\" x2=\"%.2f\" y2=\"%.2f\"/>\n",
                16.5 + 11 * cos(r), 16.5 + 11 * sin(r) }'
    done
    echo '  </g>'
    echo '  <circle cx="16.5" cy="16.5" r="3" fill="#dc1414"/>'
    echo '</svg>'
} >hicolor/scalable/apps/torva.svg

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
