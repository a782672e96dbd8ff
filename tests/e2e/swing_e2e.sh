#!/usr/bin/env bash
# The real console under Xvfb against the module simulator on a turntable with a known compass
# deviation: the swing window (Ctrl+K) takes its eight stops by itself, its fit recovers the
# simulator's five coefficients, and the CSV and the card (PDF and PNG) are exported by keys.
# usage: swing_e2e.sh TORVA_BINARY SIMULATOR TORVA_DECODE (the decoder is not used here)
# TORVA_SWING_KEEP=DIR keeps the exports and a screenshot of the swing window there.
set -euo pipefail

torva=$1
sim=$2
work=$(mktemp -d)
source "$(dirname "$0")/../../scripts/xdrive.sh"
trap 'xdrive_cleanup; rm -rf "$work"' EXIT

coefficients=(1.5 -3 2 0.8 -0.6)
start_display || fail "Xvfb did not start"
start_simulator --deviation 1.5,-3,2,0.8,-0.6 --turntable 45,6,0.05 ||
    fail "simulator printed no device"
start_console || fail "no window titled MIRT QTX V1.8"
open_port || fail "the port did not open"
click go

open_swing || fail "the swing window did not open on Ctrl+K"
pass "Ctrl+K opened the swing window: $(xdotool getwindowname "$swing")"

# Eight stops of 6 s each and the turns between them: one round of the turntable, and at most
# the rest of the stop it was at when the window opened.
wait_for 150 swing_taken 8 || fail "the swing took $(swing_count) of 8 stops in 150 s"
pass "eight stops taken automatically"
shot_window "$swing" "$work/swing.png"

# Export by the buttons' keys: Alt+C for the CSV, Alt+P for the card.
comdata=$work/home/COMDATA
xdotool windowfocus --sync "$swing" 2>/dev/null || true
xdotool key --window "$swing" alt+c
wait_for 30 bash -c "ls '$comdata'/Swing-*.csv >/dev/null 2>&1" || fail "no CSV in $comdata"
xdotool key --window "$swing" alt+p
wait_for 30 bash -c "ls '$comdata'/Swing-*-card.png >/dev/null 2>&1" || fail "no card in $comdata"
csv=$(ls "$comdata"/Swing-*.csv | head -n 1)
pdf=$(ls "$comdata"/Swing-*-card.pdf | head -n 1)
png=$(ls "$comdata"/Swing-*-card.png | head -n 1)
pass "exported $(basename "$csv"), $(basename "$pdf") and $(basename "$png")"

# Each coefficient within 0.1 degree of the simulator's, all five fitted.
names=(A B C D E)
for i in 0 1 2 3 4; do
    line=$(grep "^${names[$i]}," "$csv") || fail "no coefficient ${names[$i]} in the CSV"
    IFS=, read -r _ value fitted <<<"$line"
    [ "$fitted" = 1 ] || fail "${names[$i]} was not fitted"
    awk -v got="$value" -v want="${coefficients[$i]}" \
        'BEGIN { d = got - want; exit !(d < 0.1 && d > -0.1) }' ||
        fail "${names[$i]} = $value, expected ${coefficients[$i]} +- 0.1"
    pass "${names[$i]} = $value (simulator ${coefficients[$i]})"
done
[ "$(grep -c '^[1-8],' "$csv")" -eq 8 ] || fail "the CSV does not hold eight stops"
grep -q '^# deviation = magnetic (reference) - compass' "$csv" || fail "the CSV lacks its convention"
[ "$(sed -n '/^compass,deviation,magnetic$/,$p' "$csv" | wc -l)" -eq 25 ] ||
    fail "the card in the CSV does not have 24 lines"
grep -q ': FAIL, largest deviation' "$csv" || fail "a deviation of several degrees did not fail +-1"
pass "the CSV holds eight stops, the coefficients, the card and the verdict"

# The PDF is one A4 page; the PNG is the same card, with ink on it.
head -c 5 "$pdf" | grep -q '%PDF-' || fail "$(basename "$pdf") is not a PDF"
grep -aq '/MediaBox \[0 0 595' "$pdf" || fail "the PDF page is not A4"
[ "$(grep -ac '/Type /Page$\|/Type /Page\b' "$pdf")" -ge 1 ] || fail "the PDF has no page"
size=$($identify -format '%wx%h' "$png")
[ "$size" = "1260x1782" ] || fail "the card picture is $size"
dark=$($convert "$png" -colorspace gray -threshold 50% -format '%[fx:int(w*h*(1-mean))]' info:)
[ "$dark" -gt 20000 ] || fail "the card picture has only $dark dark pixels"
pass "the card is a one-page A4 PDF and a ${size} picture with $dark dark pixels"
if [ -n "${TORVA_SWING_KEEP:-}" ]; then
    mkdir -p "$TORVA_SWING_KEEP"
    cp "$csv" "$pdf" "$png" "$work/swing.png" "$TORVA_SWING_KEEP/"
fi

xdotool windowfocus --sync "$swing" 2>/dev/null || true
xdotool key Escape
wait_for 30 bash -c "! xdotool search --onlyvisible --name 'Compass swing' >/dev/null 2>&1" ||
    fail "the swing window did not close on Escape"
end_console
echo "e2e: all checks passed"
