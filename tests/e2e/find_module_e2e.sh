#!/usr/bin/env bash
# The real console under Xvfb finds a module that slipped to 4800 bit/s and address 37 with
# "Find module..." from its window menu (the port closed, the window at 9600 bit/s and address
# 0), takes its speed and address, and then OpenCom and GO poll it.
# usage: find_module_e2e.sh TORVA_BINARY SIMULATOR TORVA_DECODE (the decoder is not used)
set -euo pipefail

torva=$1
sim=$2
work=$(mktemp -d)
source "$(dirname "$0")/../../scripts/xdrive.sh"
trap 'xdrive_cleanup; rm -rf "$work"' EXIT

start_display || fail "Xvfb did not start"
start_simulator --verbose --speed 4800 --address 37 --garbage-on-mismatch \
    --fixed 12.5,-3.25,271.4 || fail "simulator printed no device"
start_console || fail "no window titled MIRT QTX V1.8"

# The window menu: a right click on the window, then the fourth entry, "Find module...".
find_dialog() { dialog=$(xdotool search --onlyvisible --name '^TORVA - Find module$' | head -n 1); [ -n "$dialog" ]; }
for try in 1 2 3; do
    xdotool mousemove --window "$window" 300 20 click 3
    sleep 0.5
    xdotool key Down Down Down Down Return
    wait_for 10 find_dialog && break
done
find_dialog || fail "the window menu opened no Find module dialog"
pass "Find module... opened its dialog"

# Alt+S presses Search.
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key alt+s
wait_for 60 grep -q "request 68 04 25 04 2D: read" "$work/sim.err" ||
    fail "the search did not reach 4800 bit/s and address 37"
tries=$(grep -c "bytes at .* not understood\|request 68 04" "$work/sim.err" || true)
pass "the search reached the module at 4800 bit/s, address 37 ($tries pieces of traffic at the simulator)"
sleep 1
find_dialog || fail "the dialog went away by itself"
shot_window "$dialog" "$work/dialog.png"
[ -n "${TORVA_E2E_SHOT:-}" ] && cp "$work/dialog.png" "$TORVA_E2E_SHOT"
# Escape closes the dialog once the search has ended.
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
xdotool key Escape
wait_for 30 bash -c "! xdotool search --onlyvisible --name '^TORVA - Find module\$' >/dev/null 2>&1" ||
    fail "the dialog did not close"

# The port was closed and stays closed; OpenCom opens it at the speed found and GO polls the
# module at its address.
port_open && fail "the port is open after the search"
open_port || fail "the port did not open"
click go
before=$(requests "request 68 04 25 04 2D: read")
wait_for 30 bash -c "[ \$(grep -c 'request 68 04 25 04 2D: read' '$work/sim.err') -ge $((before + 10)) ]" ||
    fail "GO did not poll address 37 at 4800 bit/s"
pass "OpenCom and GO poll address 37 at 4800 bit/s"
sleep 0.5
shot "$work/polling.png"
[ "$(colour_pixels "$work/polling.png" heading 72BF44)" -gt 500 ] || fail "no heading shown"
text=$(read_display "$work/polling.png" heading)
[ -z "$text" ] || [ "$text" = "271.4" ] || fail "heading display reads '$text', expected 271.4"
pass "the heading display shows the module's reading ${text:-(no OCR here)}"

end_console
echo "e2e: all checks passed"
