#!/usr/bin/env bash
# The real console under Xvfb: record while polling, then the module vanishes mid-stream. One
# message, the Closed state, no busy loop afterwards, and the record file keeps every frame
# received before the loss, between its header and end lines; the companion decoder reads the
# simulator's values back from it and plots them.
# usage: record_vanish_e2e.sh TORVA_BINARY SIMULATOR TORVA_DECODE
set -euo pipefail

torva=$1
sim=$2
decode=$3
work=$(mktemp -d)
source "$(dirname "$0")/../../scripts/xdrive.sh"
trap 'xdrive_cleanup; rm -rf "$work"' EXIT

# cpu_ticks PID: user plus system time of a process, in clock ticks.
cpu_ticks() { awk '{print $14 + $15}' "/proc/$1/stat"; }
# port_indicator_red IMAGE: red pixels in the port indicator.
port_indicator_red() { colour_pixels "$1" port_state FF0000; }
# reads_beyond N: the simulator has answered more than N read requests.
reads_beyond() { [ "$(requests ": read")" -gt "$1" ]; }

start_display || fail "Xvfb did not start"
start_simulator --verbose --fixed 1.25,-2.5,90 || fail "simulator printed no device"
start_console || fail "no window titled MIRT QTX V1.8"

open_port || fail "the port did not open"
click go
wait_for 30 grep -q ": read" "$work/sim.err" || fail "no read request after OpenCom and GO"
click record # Save: start recording
wait_for 30 test -s "$work/home/COMDATA/Rec00.txt" || fail "no record file Rec00.txt"
pass "recording into Rec00.txt"
shot "$work/open.png"
[ "$(port_indicator_red "$work/open.png")" -gt 50 ] || fail "the port indicator is not red while open"

# Some frames later the module goes: the simulator ends and its side of the line closes. The
# console reports it once and closes the port.
wait_for 30 reads_beyond "$(($(requests ": read") + 10))" || fail "polling stopped while recording"
kill "$sim_pid"
wait_for 30 box_open TORVA || fail "no message when the device vanished"
pass "one message when the device vanished"
before=$(cpu_ticks "$torva_pid")
sleep 2
after=$(cpu_ticks "$torva_pid")
[ $((after - before)) -lt 40 ] || fail "the console used $((after - before)) ticks in 2 s after the loss"
pass "no busy loop after the loss ($((after - before)) clock ticks in 2 s, box open)"
[ "$(xdotool search --onlyvisible --name '^TORVA$' | wc -l)" -eq 1 ] || fail "more than one message"
close_box TORVA || fail "the message did not close"
sleep 0.5
box_open TORVA && fail "a second message followed the first"
shot "$work/closed.png"
[ "$(port_indicator_red "$work/closed.png")" -eq 0 ] || fail "the port indicator is still red"
pass "the window is back in the Closed state"

click record # now "Stop": end the recording
record=$work/home/COMDATA/Rec00.txt
wait_for 30 grep -q "^End Date: " "$record" || fail "no end line in the record file"
head -n 1 "$record" | grep -Eq '^Date: [0-9]{4}-[0-9]{2}-[0-9]{2}  Time:[0-9]{2}:[0-9]{2}:[0-9]{2}'$'\r''$' ||
    fail "header line is $(head -n 1 "$record")"
reads=$(requests ": read")
lines=$(grep -c '^68 0D 00 84 00 01 25 10 02 50 00 90 00 ' "$record" || true)
others=$(grep -vc -e '^Date: ' -e '^End Date: ' -e '^68 0D 00 84 00 01 25 10 02 50 00 90 00 ' "$record" || true)
[ "$others" -eq 0 ] || fail "$others unexpected lines in the record file"
# The answer to the last request may still have been on the line when it went away.
[ "$lines" -ge $((reads - 1)) ] && [ "$lines" -le "$reads" ] ||
    fail "$lines frame lines recorded for $reads answered requests"
pass "the record file holds $lines frame lines for $reads answered requests, header and end line"

# The decoder gives back exactly the values the simulator sent, and plots three curves.
"$decode" -o "$work/run.csv" --plot "$work/run.png" "$record" 2>"$work/decode.err" ||
    fail "torva-decode failed: $(cat "$work/decode.err")"
decoded=$(grep -c ',0x84,1,1.25,-2.50,90.00,' "$work/run.csv" || true)
[ "$decoded" -eq "$lines" ] && [ "$(wc -l <"$work/run.csv")" -eq $((lines + 1)) ] ||
    fail "decoded $decoded readings of 1.25, -2.50, 90.00 from $lines frame lines: $(head -3 "$work/run.csv")"
for colour in 72BF44 00ADEF FF0000; do
    [ "$($convert "$work/run.png" -depth 8 txt:- | grep -ci "#$colour")" -gt 100 ] ||
        fail "no #$colour curve in the plot"
done
pass "torva-decode read $decoded readings of pitch 1.25, roll -2.50, heading 90.00 and plotted them"

end_console
echo "e2e: all checks passed"
