#!/usr/bin/env bash
# Runs every receive-path benchmark of a build and prints each figure with its unit, one a line.
#   bench/run-all.sh BUILD_DIR
# The window figures come from the whole console against the module simulator; they measure
# this process's share of one core, so run them on an otherwise quiet machine.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: bench/run-all.sh BUILD_DIR" >&2
    exit 2
fi
bench_dir="$1/bench"
for program in bench_assembler bench_ports bench_window bench_soak bench_decode_memory bench_plot \
    bench_scan; do
    if [ ! -x "$bench_dir/$program" ]; then
        echo "run-all.sh: $bench_dir/$program is missing: build with -DTORVA_BUILD_BENCH=ON" >&2
        exit 1
    fi
done
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"

# Assembler and logs alone. CSV columns: name, iterations, real_time, cpu_time, time_unit,
# bytes_per_second, items_per_second, label, error_occurred, error_message, counters.
# Its context block (CPU, caches, load) goes to stderr and is left out.
"$bench_dir/bench_assembler" --benchmark_format=csv 2>/dev/null | awk -F, '
    NR == 1 { next }
    {
        name = $1
        gsub(/"/, "", name)
        sub(/\/.*/, "", name)
        if (name == "BM_AssemblerAndLogs") label = "assembler+logs"
        else if (name == "BM_AssemblerAndLogsNoisy") label = "assembler+logs, stream with noise and bad checksums"
        else if (name == "BM_AssemblerAndLogsRecording") label = "assembler+logs, recording to a file"
        else label = name
        if ($9 == "true") {
            msg = $10
            gsub(/"/, "", msg)
            printf "%s: failed (%s)\n", label, msg
            failed = 1
            next
        }
        printf "%s: %.1f MB/s\n", label, $6 / 1e6
        seen++
    }
    END { if (failed || seen == 0) exit 1 }'

# Watching the machine's serial devices: the look the window takes once a second, and the
# inventory a listing takes on demand (it reads every process's open files). CSV as above.
"$bench_dir/bench_ports" --benchmark_format=csv 2>/dev/null | awk -F, '
    NR == 1 { next }
    {
        name = $1
        gsub(/"/, "", name)
        if ($9 == "true") {
            printf "%s: failed\n", name
            failed = 1
            next
        }
        if (name == "BM_WatcherLook")
            printf "port watcher, one look at Com1-Com20 and the serial devices: %.0f us of CPU (%.3f%% of one core at one look a second)\n", $4, $4 / 1e4
        else if (name == "BM_Inventory")
            printf "port inventory, every serial device and who holds it: %.1f ms of CPU\n", $4
        seen++
    }
    END { if (failed || seen == 0) exit 1 }'

# The whole window at the full 115200 bit/s line rate, then at rising rates.
# Qt's note about XDG_RUNTIME_DIR is left out; any other message goes through.
quiet_qt() { grep -v '^QStandardPaths: ' >&2 || true; }
"$bench_dir/bench_window" --rate 823 --seconds 10 2> >(quiet_qt)
"$bench_dir/bench_window" --max 2> >(quiet_qt) | tee "$bench_dir/max.txt"
# The number after "rate:", whatever follows it ("frames/s", or "(the highest rate tried)").
max_rate=$(sed -n 's/.*max sustained rate: \([0-9]*\).*/\1/p' "$bench_dir/max.txt")

# A million frames through the window at the highest rate just found to hold (SOAK_RATE
# overrides it): memory growth and losses.
"$bench_dir/bench_soak" --frames 1000000 --rate "${SOAK_RATE:-${max_rate:-80000}}" 2> >(quiet_qt)

# torva-decode's peak resident memory on a large generated record, CSV only and with the plot.
"$bench_dir/bench_decode_memory" --megabytes 105 2> >(quiet_qt)

# The live plot: the history kept with the plot closed against the history off, in turns; then
# the plot open on its 10-minute span with a full history.
"$bench_dir/bench_plot" --closed --seconds 10 --pairs 3 2> >(quiet_qt)
"$bench_dir/bench_plot" --open --seconds 60 2> >(quiet_qt)

# The search for a module: answer times beyond the wire at each speed, the time to find the
# simulator at 4800 bit/s and address 37, and a full search where nothing answers.
"$bench_dir/bench_scan" 2> >(quiet_qt)

# The real program's CPU on a virtual X server: the full line, polling, minimised and covered,
# and a generic serial terminal on the same stream when cutecom is installed.
if command -v Xvfb >/dev/null && [ -x "$1/app/torva" ]; then
    # A failed case is reported at the end: the start-up figure below still comes.
    "$(dirname "$0")/console-cpu.sh" "$1" 2> >(quiet_qt) || cpu_status=$?
else
    echo "console-cpu: skipped (needs Xvfb and $1/app/torva)"
fi

# Start-up of the real program to its window mapped and painted, on a virtual X server.
if command -v xvfb-run >/dev/null && [ -x "$1/app/torva" ]; then
    QT_QPA_PLATFORM=xcb xvfb-run -a -s '-screen 0 1280x1024x24' "$bench_dir/bench_soak" \
        --startup "$1/app/torva" --runs 7 2> >(quiet_qt)
else
    echo "startup: skipped (needs xvfb-run and $1/app/torva)"
fi
exit "${cpu_status:-0}"
