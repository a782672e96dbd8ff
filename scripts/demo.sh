#!/usr/bin/env bash
# The demo on a machine without a display: the console under Xvfb against the module simulator,
# driven through OpenCom and GO by real clicks; after a few seconds of polling it saves a
# screenshot, opens the live plot with Ctrl+L and saves a second one of it, prints their paths
# and the readings the three displays showed, and ends the console. Then a compass swing: the
# console again, against the simulator on a turntable with a compass deviation; the swing window
# (Ctrl+K) with a dwell of 2 s takes its eight stops by itself, and a third screenshot shows
# the fit, the card and the chart.
# usage: scripts/demo.sh BUILD_DIR [SECONDS [KEEP_DIR]]
# KEEP_DIR: also keep the screenshots there as torva-console.png, torva-plot.png and
# torva-swing.png, stripped of metadata and with their colours reduced so that they stay small
# (the README's pictures are made so). TORVA and TORVA_SIM name other programs to run than the
# build's, for example the installed ones.
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
open_port || die "the port did not open"
click go
wait_for 30 grep -q ": read" "$work/sim.err" || die "the console sent no read request"
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
wait_for 30 bash -c "xdotool search --onlyvisible --name 'Live plot' >/dev/null 2>&1" ||
    die "the live plot did not open on Ctrl+L"
plot=$(xdotool search --onlyvisible --name 'Live plot' | head -n 1)
sleep 2
$import -window "$plot" "$work/torva-plot.png"
xdotool windowfocus "$plot" 2>/dev/null || true
xdotool key Escape
wait_for 30 bash -c "! xdotool search --onlyvisible --name 'Live plot' >/dev/null 2>&1" ||
    die "the live plot did not close on Escape"

xdotool windowfocus "$window" 2>/dev/null || true
xdotool key Escape
wait_for 30 bash -c "! kill -0 $torva_pid 2>/dev/null" || die "the console did not end on Escape"

# The swing: a turntable stepping 45 degrees and holding each stop 3 s, a compass off by a
# known deviation; the window's dwell set to 2 s by keys (Alt+W focuses it).
kill "$sim_pid" 2>/dev/null || true
start_simulator --deviation 1.5,-3,2,0.8,-0.6 --turntable 45,3,0.05 ||
    die "the module simulator did not start for the swing"
start_console || die "the console's window did not appear for the swing (see $work/torva.log)"
open_port || die "the port did not open"
click go
open_swing || die "the swing window did not open on Ctrl+K"
xdotool windowfocus --sync "$swing" 2>/dev/null || true
xdotool key alt+w ctrl+a
xdotool type 2
xdotool key Return
echo "demo: the swing window takes its stops from the turntable"
wait_for 60 swing_taken 8 || die "the swing took $(swing_count) of 8 stops in 60 s"
sleep 0.5
shot_window "$swing" "$work/torva-swing.png"
xdotool key Escape
xdotool windowfocus "$window" 2>/dev/null || true
xdotool key Escape
wait_for 30 bash -c "! kill -0 $torva_pid 2>/dev/null" || die "the console did not end on Escape"

echo "demo: $reads read requests answered"
if [ -n "$heading$pitch$roll" ]; then
    echo "demo: readings shown (read from the screenshot): heading $heading, pitch $pitch, roll $roll"
fi
echo "demo: screenshot $work/torva-demo.png"
echo "demo: live plot $work/torva-plot.png"
echo "demo: compass swing $work/torva-swing.png"
if [ -n "$keep" ]; then
    mkdir -p "$keep"
    for picture in console:torva-demo plot:torva-plot swing:torva-swing; do
        $convert "$work/${picture#*:}.png" -strip -define png:exclude-chunks=date,time +dither \
            -colors 64 "PNG8:$keep/torva-${picture%%:*}.png"
        echo "demo: kept as $keep/torva-${picture%%:*}.png ($(stat -c %s "$keep/torva-${picture%%:*}.png") bytes)"
    done
fi
