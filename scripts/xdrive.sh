# Shell helpers that drive the real console under a display of its own (Xvfb) with real input
# events. Sourced by the demo and the end-to-end tests; the caller sets `work` (a scratch
# folder) before sourcing and calls xdrive_cleanup when done (or traps it on EXIT).

convert=/usr/bin/convert
compare=/usr/bin/compare
import=/usr/bin/import
xdrive_pids=()

# Test verdicts: a failure shows the end of the simulator's log and ends the script.
fail() {
    echo "FAIL: $*" >&2
    echo "--- simulator log" >&2
    tail -20 "$work/sim.err" >&2 || true
    exit 1
}
pass() { echo "ok: $*"; }

xdrive_cleanup() {
    local p
    for p in "${xdrive_pids[@]}"; do kill "$p" 2>/dev/null || true; done
    for p in "${xdrive_pids[@]}"; do wait "$p" 2>/dev/null || true; done
    xdrive_pids=()
}

# wait_for SECONDS COMMAND...: retry COMMAND every 0.1 s until it succeeds.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        [ $SECONDS -ge $deadline ] && return 1
        sleep 0.1
    done
}

# start_display: an Xvfb of our own; exports DISPLAY. It does not reset when its last client
# goes: a console started while it resets cannot connect.
start_display() {
    rm -f "$work/display"
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset 5>"$work/display" 2>/dev/null &
    xdrive_pids+=($!)
    wait_for 10 test -s "$work/display" || return 1
    export DISPLAY=":$(cat "$work/display")"
}

# start_simulator ARGS...: the module simulator, logging to $work/sim.err; sets `device`.
start_simulator() {
    "$sim" "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    xdrive_pids+=($sim_pid)
    wait_for 5 test -s "$work/sim.out" || return 1
    device=$(head -n 1 "$work/sim.out")
}

# start_console [WRAPPER ARGS...]: the console with Com1 on the simulator's device and its own
# HOME (so record files land in $work/home/COMDATA), run through WRAPPER when one is given (such
# as a simulator's --run, which sets Com1 itself); sets `torva_pid` (the wrapper's when given)
# and `window`. The display platform is chosen with Qt's own -platform option against an
# environment that names another: the window appears only if the console hands Qt its options
# untouched.
start_console() {
    mkdir -p "$work/home"
    HOME=$work/home TORVA_COM1=${device:-} QT_QPA_PLATFORM=offscreen "$@" "$torva" -platform xcb \
        >"$work/torva.log" 2>&1 &
    torva_pid=$!
    xdrive_pids+=($torva_pid)
    window=""
    wait_for 20 find_window || return 1
    sleep 0.5
}
find_window() {
    window=$(xdotool search --onlyvisible --name '^MIRT QTX V1\.8$' 2>/dev/null | head -n 1)
    [ -n "$window" ]
}

# click X Y W H: a click in the middle of a control given in dialog units (1.75 px a unit).
click() {
    local x=$((($1 * 2 + $3) * 7 / 8)) y=$((($2 * 2 + $4) * 7 / 8))
    xdotool mousemove --window "$window" "$x" "$y" click 1
}
shot() { $import -window "$window" "$1"; }

# crop IMAGE X Y W H OUT: the control's rectangle (dialog units) cut out of a screenshot.
crop() {
    $convert "$1" -crop "$(($4 * 7 / 4))x$(($5 * 7 / 4))+$(($2 * 7 / 4))+$(($3 * 7 / 4))" +repage "$6"
}
# region_differs A B X Y W H: the two screenshots differ inside the control's rectangle.
region_differs() {
    crop "$1" "$3" "$4" "$5" "$6" "$work/a.png"
    crop "$2" "$3" "$4" "$5" "$6" "$work/b.png"
    local diff
    diff=$($compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1 || true)
    [ "${diff%% *}" != "0" ]
}
# colour_pixels IMAGE X Y W H HEX: how many pixels of exactly that colour (#RRGGBB) the control's
# rectangle holds.
colour_pixels() {
    crop "$1" "$2" "$3" "$4" "$5" "$work/c.png"
    $convert "$work/c.png" -depth 8 txt:- | grep -ci "#$6" || true
}

# box_open TITLE: a message box with that caption is shown; sets `box`.
box_open() {
    box=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
    [ -n "$box" ]
}
# close_box TITLE: presses the box's OK button (Space on the focused button) and waits until it is
# gone.
close_box() {
    box_open "$1" || return 1
    xdotool windowfocus --sync "$box" 2>/dev/null || true
    xdotool key --window "$box" space
    wait_for 5 bash -c "! xdotool search --onlyvisible --name '^$1\$' >/dev/null 2>&1"
}

# requests PATTERN: how many requests the simulator logged that match.
requests() { grep -c "$1" "$work/sim.err" || true; }

# read_display IMAGE X Y W H: the text of a display read back from a screenshot (OCR), limited to
# the characters a reading can hold; prints nothing when tesseract is missing.
read_display() {
    command -v tesseract >/dev/null || return 0
    crop "$1" "$2" "$3" "$4" "$5" "$work/r.png"
    # Dark text on a light ground reads best: turn light-on-dark displays over first.
    local mean negate=()
    mean=$($convert "$work/r.png" -colorspace gray -format '%[fx:mean<0.5?1:0]' info:)
    [ "$mean" = 1 ] && negate=(-negate)
    $convert "$work/r.png" -colorspace gray "${negate[@]}" -normalize -resize x80 \
        -bordercolor white -border 20 \
        "$work/r.png"
    tesseract "$work/r.png" - --psm 7 -c tessedit_char_whitelist=0123456789.+-XYZ:% 2>/dev/null |
        tr -d ' \n'
}

# end_console: Escape closes the window; the console must end by itself with status 0.
end_console() {
    xdotool windowfocus "$window" 2>/dev/null || true
    xdotool key Escape
    wait_for 5 bash -c "! kill -0 $torva_pid 2>/dev/null" || fail "the console did not end on Escape"
    local status=0
    wait "$torva_pid" || status=$?
    [ "$status" -eq 0 ] || { cat "$work/torva.log" >&2; fail "the console exited with status $status"; }
}
