#!/usr/bin/env bash
# The demo on a machine without a display: the console under Xvfb against the module simulator,
# driven through OpenCom and GO by real clicks; after a few seconds of polling it saves a
# screenshot, opens the live plot with Ctrl+L and saves a second one of it, prints their paths
# and the readings the three displays showed, and ends the console.
# usage: scripts/demo.sh BUILD_DIR [SECONDS [KEEP_DIR]]
# KEEP_DIR: also keep both screenshots there as torva-console.png and torva-plot.png, stripped
# of metadata and with their colours reduced so that they stay small (the README's pictures are
# made so). TORVA and TORVA_SIM name other programs to run than the build's, for example the
# installed ones.
set -euo pipefail

build=$(cd "$1" && pwd)
seconds=${2:-4}
keep=${3:-}
torva=${TORVA:-$build/app/torva}
sim=${TORVA_SIM:-$build/tools/modulesim/torva-sim}
work=$build/demo
rm -rf "$work"
mkdir -p "$work"
source "$(dirname "$0")/xdrive.sh"
trap xdrive_cleanup EXIT

die() { echo "demo: $*" >&2; exit 1; }

start_display || die "Xvfb did not start"
start_simulator --verbose || die "the module simulator did not start"
start_console || die "the console's window did not appear (see $work/torva.log)"
echo "demo: console running under Xvfb on $DISPLAY, Com1 = $device (module simulator)"
click opencom
sleep 0.3
click go
wait_for 5 grep -q ": read" "$work/sim.err" || die "the console sent no read request"
echo "demo: OpenCom and GO clicked; polling for $seconds s"
sleep "$seconds"
shot "$work/torva-demo.png"
reads=$(requests ": read")
heading=$(read_display "$work/torva-demo.png" heading)
pitch=$(read_display "$work/torva-demo.png" pitch)
roll=$(read_display "$work/torva-demo.png" roll)

# The live plot beside the console (Ctrl+L), after a few more seconds of readings.
xdotool windowfocus "$window" 2>/dev/null || true
xdotool key ctrl+l
plot=""
wait_for 10 bash -c "xdotool search --onlyvisible --name 'Live plot' >/dev/null 2>&1" ||
    die "the live plot did not open on Ctrl+L"
plot=$(xdotool search --onlyvisible --name 'Live plot' | head -n 1)
sleep 2
$import -window "$plot" "$work/torva-plot.png"
xdotool windowfocus "$plot" 2>/dev/null || true
xdotool key Escape
wait_for 5 bash -c "! xdotool search --onlyvisible --name 'Live plot' >/dev/null 2>&1" ||
    die "the live plot did not close on Escape"

xdotool windowfocus "$window" 2>/dev/null || true
xdotool key Escape
wait_for 5 bash -c "! kill -0 $torva_pid 2>/dev/null" || die "the console did not end on Escape"

echo "demo: $reads read requests answered"
if [ -n "$heading$pitch$roll" ]; then
    echo "demo: readings shown (read from the screenshot): heading $heading, pitch $pitch, roll $roll"
fi
echo "demo: screenshot $work/torva-demo.png"
echo "demo: live plot $work/torva-plot.png"
if [ -n "$keep" ]; then
    mkdir -p "$keep"
    for picture in console:torva-demo plot:torva-plot; do
        $convert "$work/${picture#*:}.png" -strip -define png:exclude-chunks=date,time +dither \
            -colors 64 "PNG8:$keep/torva-${picture%%:*}.png"
        echo "demo: kept as $keep/torva-${picture%%:*}.png ($(stat -c %s "$keep/torva-${picture%%:*}.png") bytes)"
    done
fi
