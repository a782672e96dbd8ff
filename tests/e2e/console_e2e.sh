#!/usr/bin/env bash
# The real console under Xvfb against the module simulator: open the port, poll, send a
# configuration command, switch to automatic output, close with Escape.
# usage: console_e2e.sh TORVA_BINARY SIMULATOR TORVA_DECODE (ctest passes the decoder to every
# end-to-end script; this one does not use it)
set -euo pipefail

torva=$1
sim=$2
work=$(mktemp -d)
source "$(dirname "$0")/../../scripts/xdrive.sh"
trap 'xdrive_cleanup; rm -rf "$work"' EXIT


start_display || fail "Xvfb did not start"
start_simulator --verbose --fixed 12.5,-3.25,271.4 || fail "simulator printed no device"
start_console || fail "no window titled MIRT QTX V1.8"
geometry=$(xdotool getwindowgeometry "$window" | awk '/Geometry/ {print $2}')
w=${geometry%x*}; h=${geometry#*x}
[ $((w > 760 && w < 785 && h > 750 && h < 775)) -eq 1 ] || fail "window is $geometry, expected about 772x763"
pass "window MIRT QTX V1.8 is ${geometry}"

shot "$work/start.png"

open_port || fail "the port did not open"
click go
wait_for 30 grep -q ": read" "$work/sim.err" || fail "no read request after OpenCom and GO"
grep -q "line speed 9600" "$work/sim.err" || fail "the console did not set the line to 9600 bit/s"
pass "OpenCom opened $device at 9600 bit/s and GO polls"
before=$(requests ": read")
sleep 3
after=$(requests ": read")
reads=$((after - before))
[ "$reads" -ge 27 ] && [ "$reads" -le 33 ] || fail "$reads read requests in 3 s, expected 30 +- 3"
pass "$reads read requests in 3 s"
grep -q "request 68 04 00 04 08: read" "$work/sim.err" || fail "read request is not 68 04 00 04 08"

shot "$work/polling.png"
# Each display shows the simulator's value in its colour on black: the text read back from the
# screenshot, and pixels of the display's own colour inside it.
check_display() { # NAME COLOUR EXPECTED
    local text pixels
    text=$(read_display "$work/polling.png" "$1")
    pixels=$(colour_pixels "$work/polling.png" "$1" "$2")
    [ "$text" = "$3" ] || fail "$1 display reads '$text', expected '$3'"
    [ "$pixels" -gt 500 ] || fail "$1 display has $pixels pixels of #$2"
    [ "$(colour_pixels "$work/polling.png" "$1" 000000)" -gt 5000 ] ||
        fail "$1 display is not on black"
    pass "$1 display reads $text in #$2 on black"
}
check_display heading 72BF44 271.4
check_display pitch 00ADEF +12.50
check_display roll FF0000 -3.25

# SetZero goes out in place of one read request; its answer raises a box while polling goes on.
click setzero
wait_for 30 grep -q "request 68 05 00 05 01 0B: set zero" "$work/sim.err" || fail "SetZero frame not sent"
pass "SetZero sent 68 05 00 05 01 0B"
wait_for 30 box_open Success || fail "no Success box for the zero answer"
before=$(requests ": read")
sleep 1
after=$(requests ": read")
[ $((after - before)) -ge 7 ] || fail "polling stopped while the box was open ($((after - before)) reads in 1 s)"
pass "polling goes on while the Success box is open"
close_box Success || fail "the Success box did not close"
pass "the Success box closed with its OK button"

# AutoOut: read requests stop although polling is on; the simulator streams by itself.
click autoout
wait_for 30 grep -q "0C 01" "$work/sim.err" || fail "AutoOut frame not sent"
sleep 0.3
before=$(requests ": read")
sleep 1.5
after=$(requests ": read")
[ "$after" -eq "$before" ] || fail "read requests went on in automatic output"
pass "automatic output: no read requests for 1.5 s"

shot "$work/final.png"
[ -n "${TORVA_E2E_SHOT:-}" ] && cp "$work/final.png" "$TORVA_E2E_SHOT"

# Escape closes the window, the program ends and the port is released.
end_console
lock="LCK..${device#/dev/}"
lock=${lock//\//_}
[ ! -e "/var/lock/$lock" ] && [ ! -e "/tmp/$lock" ] || fail "lock file $lock left behind"
pass "Escape ended the console and released $device"
echo "e2e: all checks passed"
