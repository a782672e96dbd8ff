#!/usr/bin/env bash
# The real console recording a line full of readings (823 frames/s from the module simulator in
# automatic output, switched on with AutoOut once the record is on) onto a small disk of its
# own, a tmpfs that fills up for a while and is then freed; under a virtual X server, with real
# clicks. Needs root: the tmpfs is mounted in a mount namespace of the script's own, so nothing
# outside sees it and it goes when the script ends.
#   bench/record-disk.sh BUILD_DIR [SIZE [FULL_SECONDS]]
# SIZE is the tmpfs's size (default 4m) and FULL_SECONDS how long it stays full (default 8);
# "2m 90" is a long full disk. TORVA names another build of the console to measure against the
# same simulator (an older one, say). The record runs 5 s before the fill and 5 s after it is
# freed; then the module is frozen (SIGSTOP), every box is closed and Stop is clicked, and only
# then does the simulator end, so that no frame is in flight when it goes.
# Prints, one a line: frames the simulator sent, frames in the record, lines holding more than
# one frame, frames the record marks as not recorded, whether it has its end line, the boxes
# closed, and the console's resident memory before the fill and at its peak.
set -euo pipefail

if [ $# -lt 1 ] || [ $# -gt 3 ]; then
    echo "usage: bench/record-disk.sh BUILD_DIR [SIZE [FULL_SECONDS]]" >&2
    exit 2
fi
build=$1
size=${2:-4m}
full=${3:-8}
sim=$build/tools/modulesim/torva-sim
torva=${TORVA:-$build/app/torva}
for program in "$sim" "$torva"; do
    [ -x "$program" ] || { echo "record-disk.sh: $program is missing" >&2; exit 1; }
done
for tool in Xvfb xdotool unshare; do
    command -v "$tool" >/dev/null || { echo "record-disk.sh: skipped (needs $tool)"; exit 0; }
done
if [ -z "${TORVA_RECORD_DISK_NAMESPACE:-}" ]; then
    [ "$(id -u)" -eq 0 ] || { echo "record-disk.sh: needs root to mount a tmpfs" >&2; exit 1; }
    TORVA_RECORD_DISK_NAMESPACE=1 exec unshare --mount --propagation private "$0" "$@"
fi

work=$(mktemp -d)
source "$(dirname "$0")/../scripts/xdrive.sh"
disk=$work/home/COMDATA
mkdir -p "$disk"
mount -t tmpfs -o "size=$size" torva-record-disk "$disk"
trap 'xdrive_cleanup; umount "$disk" 2>/dev/null || true; rm -rf "$work"' EXIT

start_display || fail "Xvfb did not start"
start_simulator --rate 823 --stats || fail "the simulator printed no device"
start_console || fail "no window titled MIRT QTX V1.8"
click opencom
sleep 0.3
click record
wait_for 5 test -s "$disk/Rec00.txt" || fail "no record file Rec00.txt"
# Automatic output only once the record is on: every frame the module sends belongs in it.
click autoout
record_size() { stat -c %s "$disk/Rec00.txt"; }
header_size=$(record_size)
wait_for 5 bash -c "[ \$(stat -c %s '$disk/Rec00.txt') -gt $header_size ]" ||
    fail "no frames reached the record after AutoOut"
sleep 5

status_kb() { awk -v key="$1:" '$1 == key {print $2}' "/proc/$torva_pid/status"; }
rss_before=$(status_kb VmRSS)
cat /dev/zero >"$disk/filler" 2>/dev/null || true
sleep "$full"
rm -f "$disk/filler"
sleep 5

# The module is frozen (its line stays open) and the console takes the rest; the simulator ends
# after the stop, saying what it sent.
kill -STOP "$sim_pid"
sleep 3
boxes=0
# close_all_boxes: presses OK in every box until none is left (a box may open behind another).
close_all_boxes() {
    local pressed=0
    while box_open TORVA; do
        [ $pressed -lt 500 ] || fail "boxes kept opening"
        xdotool windowfocus --sync "$box" 2>/dev/null || true
        xdotool key --window "$box" space
        pressed=$((pressed + 1))
        wait_for 2 bash -c \
            "! xdotool search --onlyvisible --name '^TORVA\$' 2>/dev/null | grep -qx '$box'" || true
    done
    boxes=$((boxes + pressed))
}
close_all_boxes
rss_peak=$(status_kb VmHWM)
click record
sleep 2
close_all_boxes
kill -TERM "$sim_pid"
kill -CONT "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sleep 1
close_all_boxes  # the device has gone away
end_console

sent=$(sed -n 's/^frames sent: //p' "$work/sim.err")
awk -v sent="$sent" -v before="$rss_before" -v peak="$rss_peak" -v boxes="$boxes" '
    BEGIN { for (i = 0; i < 16; i++) hex[substr("0123456789ABCDEF", i + 1, 1)] = i }
    { sub(/\r$/, "") }
    NR == 1 && /^Date: / { next }
    /End Date: / { ended = 1; sub(/End Date: .*/, "") }
    /Not recorded: [0-9]+ frames?$/ { missing += $3; next }
    {
        # Frames by their length bytes; anything else on the line is a rejected piece.
        n = split($0, g, " ")
        on_line = 0
        for (i = 1; i < n;) {
            if (g[i] != "68") { i++; continue }
            length_byte = hex[substr(g[i + 1], 1, 1)] * 16 + hex[substr(g[i + 1], 2, 1)]
            if (i + length_byte > n) break
            on_line++
            i += length_byte + 1
        }
        frames += on_line
        if (on_line > 1) joined++
    }
    END {
        printf "frames sent: %d\n", sent
        printf "frames recorded: %d\n", frames
        printf "lines with more than one frame: %d\n", joined
        printf "frames marked as not recorded: %d\n", missing
        printf "end line: %s\n", ended ? "yes" : "no"
        printf "boxes closed: %d\n", boxes
        printf "resident memory before the fill: %.1f MB\n", before / 1024
        printf "peak resident memory: %.1f MB\n", peak / 1024
    }' "$disk/Rec00.txt"
