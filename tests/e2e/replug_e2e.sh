#!/usr/bin/env bash
# The real console under Xvfb on the simulator behind a stable link, recording while polling,
# with "Reopen when the adapter returns" switched on from the window menu. The simulator's
# device goes away and comes back as another pseudo-terminal under the same link: one message
# while it is away, polling resumes within 2 s of its return, and the record file is one file
# holding every frame the simulator sent, once each, one a line.
# usage: replug_e2e.sh TORVA_BINARY SIMULATOR TORVA_DECODE
set -euo pipefail

torva=$1
sim=$2
work=$(mktemp -d)
source "$(dirname "$0")/../../scripts/xdrive.sh"
trap 'xdrive_cleanup; rm -rf "$work"' EXIT

link=$work/module
frame='68 0D 00 84 00 01 25 10 02 50 00 90 00 '
away_after=40 # seconds from the simulator's start: time enough for a loaded machine to set up
away_for=2

now_ms() { echo $(($(date +%s%N) / 1000000)); }
reads_beyond() { [ "$(requests ": read")" -gt "$1" ]; }
link_to() { readlink "$link" 2>/dev/null || true; }
link_moved() { [ -n "$(link_to)" ] && [ "$(link_to)" != "$1" ]; }
# reads_settled: no new read request for a second.
reads_settled() {
    local before
    before=$(requests ": read")
    sleep 1
    [ "$(requests ": read")" -eq "$before" ]
}
# choose_reopen: the window menu opened by a right click on the window, and its item "Reopen
# when the adapter returns" (second from the bottom, above the About item) taken by keyboard.
choose_reopen() {
    local before
    before=$(xdotool search --onlyvisible --pid "$console_pid" 2>/dev/null | wc -l)
    xdotool mousemove --window "$window" 300 400 click 3
    wait_for 10 bash -c "[ \$(xdotool search --onlyvisible --pid $console_pid 2>/dev/null | wc -l) -gt $before ]" ||
        return 1
    xdotool key Up Up Return
}

start_display || fail "Xvfb did not start"
mkdir -p "$work/home"
HOME=$work/home QT_QPA_PLATFORM=offscreen "$sim" --link "$link" \
    --replug-after "$away_after,$away_for" --fixed 1.25,-2.5,90 --verbose --stats \
    --run "$torva" -platform xcb >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
xdrive_pids+=($sim_pid)
torva_pid=$sim_pid # the simulator ends with the console
wait_for 60 find_window || fail "no window titled MIRT QTX V1.8"
console_pid=$(xdotool getwindowpid "$window")
first=$(link_to)
[ -n "$first" ] || fail "no link $link"

open_port || fail "the port did not open"
choose_reopen || fail "the window menu did not open"
click record # Save: start recording before the first request
wait_for 30 test -s "$work/home/COMDATA/Rec00.txt" || fail "no record file Rec00.txt"
click go
wait_for 30 reads_beyond 10 || fail "no polling after OpenCom and GO"
[ "$(link_to)" = "$first" ] || fail "the device went away before the set-up was done (over ${away_after} s)"
pass "polling and recording on $link ($first), Reopen chosen from the window menu"

wait_for $((away_after + 30)) bash -c "[ -z \"\$(readlink '$link' 2>/dev/null)\" ]" ||
    fail "the simulator's device never went away"
wait_for 30 box_open TORVA || fail "no message when the device went away"
[ "$(xdotool search --onlyvisible --name '^TORVA$' | wc -l)" -eq 1 ] || fail "more than one message"
shot "$work/away.png"
[ "$(colour_pixels "$work/away.png" port_state FF0000)" -eq 0 ] ||
    fail "the port indicator is still red while the device is away"
pass "one message while the device is away, the indicator white"

wait_for 30 link_moved "$first" ||
    fail "the device did not come back under $link (link: '$(link_to)'; the simulator said: $(grep -E 'device |--link' "$work/sim.err" | tr '\n' ' '))"
back_ms=$(now_ms)
reads_at_return=$(requests ": read")
wait_for 30 reads_beyond "$reads_at_return" || fail "polling did not resume"
resumed_ms=$(($(now_ms) - back_ms))
echo "polling resumed ${resumed_ms} ms after the device came back as $(link_to)"
[ "$resumed_ms" -le 2000 ] || fail "polling resumed only ${resumed_ms} ms after the return"
wait_for 30 bash -c "! xdotool search --onlyvisible --name '^TORVA\$' >/dev/null 2>&1" ||
    fail "the message stayed after the return"
wait_for 30 port_open || fail "the port indicator is not red again"
pass "reopened: polling resumed within 2 s, the message gone, the indicator red"

wait_for 30 reads_beyond "$((reads_at_return + 20))" || fail "polling stopped after the return"
click go # STOP
wait_for 30 reads_settled || fail "polling did not stop"
click record # Stop: end the recording
record=$work/home/COMDATA/Rec00.txt
wait_for 30 grep -q "^End Date: " "$record" || fail "no end line in the record file"
end_console
sent=$(sed -n 's/^frames sent: \([0-9]*\)$/\1/p' "$work/sim.err")
[ -n "$sent" ] || fail "the simulator gave no frame count"
[ ! -e "$work/home/COMDATA/Rec01.txt" ] || fail "a second record file was made"
line="^$frame[0-9A-F]{2} "$'\r''$' # the frame, its checksum, CR LF
lines=$(grep -Ec "$line" "$record" || true)
others=$(grep -Evc -e '^Date: ' -e '^End Date: ' -e "$line" "$record" || true)
[ "$others" -eq 0 ] ||
    fail "$others lines in the record are neither a frame, header nor end: $(grep -Ev -e '^Date: ' -e '^End Date: ' -e "$line" "$record" | head -3)"
[ "$(grep -c '^Date: ' "$record")" -eq 1 ] && [ "$(grep -c '^End Date: ' "$record")" -eq 1 ] ||
    fail "the record is not one header, frames and one end line"
[ "$lines" -eq "$sent" ] || fail "the record holds $lines frame lines; the simulator sent $sent frames"
pass "one record file: $lines frame lines, one a line, for the $sent frames the simulator sent"
