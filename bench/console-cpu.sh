#!/usr/bin/env bash
# The real console's CPU under a virtual X server (the X11 path a user's desktop takes), each
# case against the module simulator on a pseudo-terminal, and, when it is installed, a generic
# serial terminal (Debian's cutecom, hex view) on the same stream for comparison:
#   - 823 reading frames/s (a 115200 bit/s line full), port open, Received pane live;
#   - polling at 10 Hz, the simulator answering every request;
#   - 823 frames/s with the window minimised (unmapped, as a window manager does when it
#     iconifies a window) and with it wholly covered by another window.
# Each figure is the median of RUNS (3) runs of SECONDS_PER_RUN (20) seconds: the process's
# share of one core, all threads, user and system, taken after the case has settled. CASES
# ("line poll minimised covered") chooses the console's cases; the comparison runs with "line".
#   bench/console-cpu.sh BUILD_DIR [OTHER_TORVA...]
# Each OTHER_TORVA, another build of the console (an older one, say), is measured in the same
# run, case by case, taking turns with BUILD_DIR's run by run.
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: bench/console-cpu.sh BUILD_DIR [OTHER_TORVA...]" >&2
    exit 2
fi
build=$1
shift
others=("$@")
runs=${RUNS:-3}
seconds=${SECONDS_PER_RUN:-20}
settle=3
sim=$build/tools/modulesim/torva-sim
ours=$build/app/torva
for program in "$sim" "$ours" "${others[@]}"; do
    [ -x "$program" ] || { echo "console-cpu.sh: $program is missing" >&2; exit 1; }
done
for tool in Xvfb xdotool xlogo; do
    command -v "$tool" >/dev/null || { echo "console-cpu: skipped (needs $tool)"; exit 0; }
done

work=$(mktemp -d)
source "$(dirname "$0")/../scripts/xdrive.sh"
trap 'xdrive_cleanup; rm -rf "$work"' EXIT
start_display || { echo "console-cpu.sh: Xvfb did not start" >&2; exit 1; }
display_pid=${xdrive_pids[0]}
ticks=$(getconf CLK_TCK)

# cpu_of PID: user + system clock ticks of the process so far, its ended threads included.
cpu_of() { awk '{print $14 + $15}' "/proc/$1/stat"; }

# measure PID: sets `figure` to the process's share of one core over $seconds, in per cent.
measure() {
    local before after
    before=$(cpu_of "$1")
    sleep "$seconds"
    after=$(cpu_of "$1")
    figure=$(awk -v t=$((after - before)) -v hz="$ticks" -v s="$seconds" \
        'BEGIN {printf "%.2f", 100 * t / hz / s}')
}

# end_run: ends what one run started; the display stays.
end_run() {
    local p
    for p in "${xdrive_pids[@]}"; do [ "$p" = "$display_pid" ] || kill "$p" 2>/dev/null || true; done
    for p in "${xdrive_pids[@]}"; do [ "$p" = "$display_pid" ] || wait "$p" 2>/dev/null || true; done
    xdrive_pids=("$display_pid")
    rm -f "$work/sim.out" # the next simulator names its own device
}

# console_run PROGRAM CASE: one run of the console; sets `figure`.
console_run() {
    local program=$1 case=$2
    if [ "$case" = poll ]; then
        start_simulator || return 1
    else
        start_simulator --auto 823 || return 1
    fi
    torva=$program start_console || return 1
    click opencom
    if [ "$case" = poll ]; then
        sleep 0.3
        click go
    fi
    case $case in
    minimised) xdotool windowunmap --sync "$window" ;;
    covered)
        xlogo -geometry 1280x1024+0+0 2>/dev/null &
        xdrive_pids+=($!)
        ;;
    esac
    sleep "$settle"
    measure "$torva_pid"
    end_run
}

# cutecom_run: one run of the serial terminal at 823 frames/s with its hex view on; sets
# `figure`.
cutecom_run() {
    local home=$work/cutecom main pid
    start_simulator --auto 823 || return 1
    rm -rf "$home"
    mkdir -p "$home/.config/CuteCom"
    printf '%s\n' '[sessions]' '1\BaudRate=115200' '1\DataBits=8' "1\\Device=$device" \
        '1\FlowControl=0' '1\OpenMode=3' '1\Parity=0' '1\StopBits=1' '1\autoReconnect=false' \
        '1\name=Default' '1\showCtrlCharacters=false' '1\showTimestamp=false' 'size=1' \
        >"$home/.config/CuteCom/CuteCom5.conf"
    # On the virtual X server, whatever platform the caller's environment names (the benchmarks
    # run the window offscreen).
    HOME=$home QT_QPA_PLATFORM=xcb cutecom >"$work/cutecom.log" 2>&1 &
    pid=$!
    xdrive_pids+=($pid)
    wait_for 20 bash -c "xdotool search --onlyvisible --name '^CuteCom' >/dev/null 2>&1" || return 1
    main=$(xdotool search --onlyvisible --name '^CuteCom' | head -n 1)
    sleep 0.5
    xdotool mousemove --window "$main" 101 640 click 1 # Hex output
    sleep 0.3
    xdotool mousemove --window "$main" 50 43 click 1 # Open
    # It reports in a box that a pseudo-terminal has no modem lines, and closes the port once
    # the box is answered: the box stays open, and the stream goes on under it.
    wait_for 5 bash -c "xdotool search --onlyvisible --name '^Device Error$' >/dev/null 2>&1" || true
    sleep "$settle"
    measure "$pid"
    end_run
}

# print_median LABEL FIGURE...: prints the median with every run, and leaves it in `median`.
print_median() {
    local label=$1
    shift
    median=$(printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}')
    printf '%s: %s %% of one core (median of %d x %d s: %s)\n' "$label" "$median" "$#" \
        "$seconds" "$*"
}

# report LABEL COMMAND...: runs COMMAND $runs times and prints the median.
report() {
    local label=$1 figures=() run
    shift
    for run in $(seq "$runs"); do
        if ! "$@"; then
            echo "$label: run $run failed" >&2
            end_run
            return 1
        fi
        figures+=("$figure")
    done
    print_median "$label" "${figures[@]}"
}

echo "console-cpu: load average at start $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
line=""
programs=("$ours" "${others[@]}")
for case in ${CASES:-line poll minimised covered}; do
    case $case in
    line) what="823 frames/s, port open, Received pane live" ;;
    poll) what="polling at 10 Hz with answers" ;;
    minimised) what="823 frames/s, window minimised" ;;
    covered) what="823 frames/s, window wholly covered" ;;
    esac
    # The builds take turns run by run, so that a machine growing busier or quieter during the
    # case weighs on all of them alike.
    figures=()
    failed=()
    for run in $(seq "$runs"); do
        for i in "${!programs[@]}"; do
            [ -z "${failed[$i]:-}" ] || continue
            if console_run "${programs[$i]}" "$case"; then
                figures[$i]+="$figure "
            else
                echo "console-cpu: ${programs[$i]} $what: run $run failed" >&2
                end_run
                failed[$i]=1
                status=1
            fi
        done
    done
    for i in "${!programs[@]}"; do
        [ -z "${failed[$i]:-}" ] || continue
        name=${programs[$i]}
        [ "$i" -eq 0 ] && name=torva
        # shellcheck disable=SC2086 # the figures are words
        print_median "console-cpu: $name $what" ${figures[$i]}
        [ "$i" -eq 0 ] && [ "$case" = line ] && line=$median
    done
done
if [ -z "$line" ]; then
    : # no figure of ours at 823 frames/s to compare
elif command -v cutecom >/dev/null; then
    if report "console-cpu: cutecom 823 frames/s, hex view" cutecom_run; then
        awk -v t="$line" -v c="$median" 'BEGIN {
            if (t != "" && c > 0) printf "console-cpu: torva / cutecom at 823 frames/s: %.2f\n", t / c }'
    else
        status=1
    fi
else
    echo "console-cpu: cutecom not installed: no comparison (apt-get install cutecom)"
fi
echo "console-cpu: load average at end $(cut -d' ' -f1-3 /proc/loadavg)"
exit $status
