#!/usr/bin/env bash
# The real console under Xvfb, recording while polling, ended by a signal: SIGTERM and SIGHUP
# sent to it, and SIGINT sent to the simulator that started it with --run (Ctrl-C in its
# terminal), which passes it on. Each closes the window as Escape does: the record file holds
# every frame received, between its header and its end line, and the console's status is 128
# plus the signal's number. Last, the X server goes away under it: Qt ends the program with
# status 1, and the record is completed all the same.
# usage: signal_e2e.sh TORVA_BINARY SIMULATOR TORVA_DECODE (the decoder is not used here)
set -euo pipefail

torva=$1
sim=$2
work=$(mktemp -d)
source "$(dirname "$0")/../../scripts/xdrive.sh"
trap 'xdrive_cleanup; rm -rf "$work"' EXIT

reading='^68 0D 00 84 00 01 25 10 02 50 00 90 00 '
start_display || fail "Xvfb did not start"
start_simulator --verbose --fixed 1.25,-2.5,90 || fail "simulator printed no device"

n=0
for signal in TERM HUP INT XGONE; do
    what=SIG$signal
    [ "$signal" = XGONE ] && what="the X server's loss"
    if [ "$signal" = INT ]; then
        # The simulator logs its requests to the console's log here.
        start_console "$sim" --verbose --fixed 1.25,-2.5,90 --run ||
            fail "no window under the simulator's --run"
        log=$work/torva.log
    else
        start_console || fail "no window titled MIRT QTX V1.8"
        log=$work/sim.err
    fi
    before=$(grep -c ": read" "$log" || true)
    open_port || fail "the port did not open"
    click go
    click record # Save: start recording
    record=$work/home/COMDATA/Rec0$n.txt
    wait_for 30 test -s "$record" || fail "no record file $record"
    # Some seconds of frames, fewer than a block: none of them is in the file yet.
    wait_for 30 bash -c "[ \$(grep -c ': read' '$log') -ge $((before + 25)) ]" ||
        fail "too few read requests"
    [ "$(grep -c "$reading" "$record" || true)" -eq 0 ] || fail "a block was written early"

    if [ "$signal" = XGONE ]; then
        kill "${xdrive_pids[0]}" # the display
        expected=1
    else
        kill -s "$signal" "$torva_pid"
        expected=$((128 + $(kill -l "$signal")))
    fi
    wait_for 30 bash -c "! kill -0 $torva_pid 2>/dev/null" || fail "$what did not end the console"
    status=0
    wait "$torva_pid" || status=$?
    [ "$status" -eq "$expected" ] || { cat "$work/torva.log" >&2; fail "$what: status $status, not $expected"; }

    reads=$(($(grep -c ": read" "$log" || true) - before))
    lines=$(grep -c "$reading" "$record" || true)
    tail -n 1 "$record" | grep -Eq '^End Date: [0-9]{4}-[0-9]{2}-[0-9]{2}  Time:[0-9]{2}:[0-9]{2}:[0-9]{2}'$'\r''$' ||
        fail "$what: no end line; the file ends with $(tail -n 1 "$record")"
    # The answer to the last request may still have been on the line at the signal.
    [ "$lines" -ge $((reads - 1)) ] && [ "$lines" -le "$reads" ] ||
        fail "$what: $lines frame lines recorded for $reads answered requests"
    pass "$what closed the console with status $status; $(basename "$record") holds its $lines frame lines and the end line"
    n=$((n + 1))
done

# A signal while a box waits for the operator: the box goes, and the console ends.
start_display || fail "Xvfb did not start again"
start_console || fail "no window titled MIRT QTX V1.8"
click cal_start # with the port closed: the adapter's error box
wait_for 30 box_open TORVA || fail "no box for Start with the port closed"
kill -s TERM "$torva_pid"
wait_for 30 bash -c "! kill -0 $torva_pid 2>/dev/null" || fail "SIGTERM under an open box did not end the console"
status=0
wait "$torva_pid" || status=$?
[ "$status" -eq 143 ] || fail "SIGTERM under an open box: status $status, not 143"
pass "SIGTERM under an open box closed the console with status 143"
echo "e2e: all checks passed"
