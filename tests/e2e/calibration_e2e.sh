#!/usr/bin/env bash
# The real console under Xvfb: a calibration round in M-mode against the simulator, driven by
# clicks. Start clears the coverage labels, three manual samples count up in the Sample display,
# Stop shows the simulator's coverage and Save puts the labels back to 0%. The labels and the
# count are read back from screenshots.
# usage: calibration_e2e.sh TORVA_BINARY SIMULATOR TORVA_DECODE (the decoder is not used here)
set -euo pipefail

torva=$1
sim=$2
work=$(mktemp -d)
source "$(dirname "$0")/../../scripts/xdrive.sh"
trap 'xdrive_cleanup; rm -rf "$work"' EXIT


# shown: the Sample display and the three coverage labels, read from a fresh screenshot.
shown() {
    shot "$work/now.png"
    echo "$(read_display "$work/now.png" samples) $(read_display "$work/now.png" coverage_x)" \
        "$(read_display "$work/now.png" coverage_y) $(read_display "$work/now.png" coverage_z)"
}
# expect_shown TEXT WHAT: waits up to 30 s for the displays to read TEXT.
expect_shown() {
    local deadline=$((SECONDS + 30)) now
    until now=$(shown) && [ "$now" = "$1" ]; do
        [ $SECONDS -ge $deadline ] && fail "$2: the displays read '$now', expected '$1'"
        sleep 0.2
    done
    pass "$2: $1"
}

start_display || fail "Xvfb did not start"
start_simulator --verbose || fail "simulator printed no device"
start_console || fail "no window titled MIRT QTX V1.8"
expect_shown "0 X:100% Y:100% Z:100%" "at start"

open_port || fail "the port did not open"
click cal_start
wait_for 30 grep -q "request 68 04 00 08 0C: calibration start" "$work/sim.err" || fail "Start frame not sent"
expect_shown "0 X:0% Y:0% Z:0%" "Start sent 68 04 00 08 0C"

click mmode
wait_for 30 grep -q "request 68 04 00 43 47: calibration M-mode" "$work/sim.err" || fail "M-mode frame not sent"
for n in 1 2 3; do
    click manual
    wait_for 30 grep -q "manual sample $n" "$work/sim.err" || fail "manual sample $n not requested"
    expect_shown "$n X:0% Y:0% Z:0%" "manual sample $n"
done
[ "$(requests "request 68 04 00 45 49: manual sample")" -eq 3 ] || fail "not exactly three Manual frames"

click cal_stop
wait_for 30 grep -q "calibration stop X 36 Y 30 Z 21" "$work/sim.err" || fail "Stop frame not sent"
expect_shown "3 X:36% Y:30% Z:21%" "Stop shows the simulator's coverage"

click cal_save
wait_for 30 grep -q "request 68 04 00 0A 0E: calibration save" "$work/sim.err" || fail "Save frame not sent"
expect_shown "0 X:0% Y:0% Z:0%" "Save resets the labels and the count"
box_open TORVA && fail "an unexpected message box is open"

end_console
echo "e2e: all checks passed"
