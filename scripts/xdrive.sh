# Shell helpers that drive the real console under a display of its own (Xvfb) with real input
# events. Sourced by the demo and the end-to-end tests; the caller sets `work` (a scratch
# folder) before sourcing and calls xdrive_cleanup when done (or traps it on EXIT).

convert=/usr/bin/convert
compare=/usr/bin/compare
identify=/usr/bin/identify
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

# wait_for SECONDS COMMAND...: retry COMMAND every 0.1 s until it succeeds. The scripts give
# what they wait for a generous deadline (the machine may be busy); a wait ends as soon as the
# condition holds.
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
    wait_for 30 test -s "$work/display" || return 1
    export DISPLAY=":$(cat "$work/display")"
}

# start_simulator ARGS...: the module simulator, logging to $work/sim.err; sets `device`.
start_simulator() {
    rm -f "$work/sim.out"  # a simulator started before must not lend its device
    "$sim" "$@" >"$work/sim.out" 2>"$work/sim.err" &
    sim_pid=$!
    xdrive_pids+=($sim_pid)
    wait_for 30 test -s "$work/sim.out" || return 1
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
    wait_for 60 find_window || return 1
    sleep 0.5
}
# find_window: the main window; sets `window`, and `window_width` and `window_height` in pixels.
find_window() {
    window=$(xdotool search --onlyvisible --name '^MIRT QTX V1\.8$' 2>/dev/null | head -n 1)
    [ -n "$window" ] || return 1
    local WIDTH HEIGHT X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$window")"
    window_width=$WIDTH
    window_height=$HEIGHT
}

# The controls the scripts use, as the window's template places them: x y width height in dialog
# units. The window is 441 x 436 units; its real size in pixels gives the size of a unit.
declare -A control=(
    [opencom]="122 23 40 23" [port_state]="93 22 20 20" [go]="159 66 42 23"
    [setzero]="34 72 39 21" [record]="34 101 39 21" [autoout]="34 188 39 21"
    [heading]="214 73 204 67" [pitch]="215 144 204 66" [roll]="215 211 204 62"
    [cal_start]="55 290 39 14" [mmode]="16 307 33 14" [manual]="55 306 38 16"
    [cal_stop]="101 290 37 16" [cal_save]="101 308 37 14"
    [samples]="29 345 60 62" [coverage_x]="102 350 34 12" [coverage_y]="102 373 34 12"
    [coverage_z]="102 399 34 12"
)
window_width=772
window_height=763

# rect NAME: the control's rectangle in the window's pixels, "X Y W H".
rect() {
    local spec=${control[$1]:-}
    [ -n "$spec" ] || { echo "xdrive: no control named '$1'" >&2; return 1; }
    local x y w h
    read -r x y w h <<<"$spec"
    echo "$((x * window_width / 441)) $((y * window_height / 436))" \
        "$((w * window_width / 441)) $((h * window_height / 436))"
}

# click NAME: a click in the middle of the control.
click() {
    local x y w h
    read -r x y w h <<<"$(rect "$1")" || return 1
    xdotool mousemove --window "$window" $((x + w / 2)) $((y + h / 2)) click 1
}
shot() { $import -window "$window" "$1"; }

# crop IMAGE NAME OUT: the control's rectangle cut out of a screenshot of the window.
crop() {
    local x y w h
    read -r x y w h <<<"$(rect "$2")" || return 1
    $convert "$1" -crop "${w}x${h}+${x}+${y}" +repage "$3"
}
# region_differs A B NAME: the two screenshots differ inside the control's rectangle.
region_differs() {
    crop "$1" "$3" "$work/a.png"
    crop "$2" "$3" "$work/b.png"
    local diff
    diff=$($compare -metric AE "$work/a.png" "$work/b.png" null: 2>&1 || true)
    [ "${diff%% *}" != "0" ]
}
# colour_pixels IMAGE NAME HEX: how many pixels of exactly that colour (#RRGGBB) the control's
# rectangle holds.
colour_pixels() {
    crop "$1" "$2" "$work/c.png"
    $convert "$work/c.png" -depth 8 txt:- | grep -ci "#$3" || true
}

# port_open: the port indicator is red (the port is open), in a fresh screenshot.
port_open() {
    shot "$work/port.png" && [ "$(colour_pixels "$work/port.png" port_state FF0000)" -gt 50 ]
}
# open_port: OpenCom clicked, and the window showing the port open.
open_port() {
    click opencom && wait_for 30 port_open
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
    wait_for 30 bash -c "! xdotool search --onlyvisible --name '^$1\$' >/dev/null 2>&1"
}

# open_swing: Ctrl+K typed into the console opens the compass swing window; sets `swing`. The
# keys go to the focused window, so they are typed again (opening it twice shows the same
# window) until the console has had the focus to take them.
open_swing() {
    local try
    for try in 1 2 3 4 5; do
        xdotool windowfocus --sync "$window" 2>/dev/null || true
        xdotool key ctrl+k
        if wait_for 10 bash -c "xdotool search --onlyvisible --name 'Compass swing' >/dev/null 2>&1"; then
            swing=$(xdotool search --onlyvisible --name 'Compass swing' | head -n 1)
            return 0
        fi
    done
    return 1
}
# swing_count: how many stops the swing window's title says are taken.
swing_count() {
    xdotool getwindowname "$swing" 2>/dev/null | sed -n 's/.*(\([0-9]*\) of [0-9]* stops).*/\1/p'
}
# swing_taken N: the swing window has taken N stops.
swing_taken() { [ "$(swing_count)" = "$1" ]; }
shot_window() { $import -window "$1" "$2"; }

# requests PATTERN: how many requests the simulator logged that match.
requests() { grep -c "$1" "$work/sim.err" || true; }

# read_display IMAGE NAME: the text of a display read back from a screenshot (OCR), limited to
# the characters a reading can hold; prints nothing when tesseract is missing.
read_display() {
    command -v tesseract >/dev/null || return 0
    crop "$1" "$2" "$work/r.png"
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
    wait_for 30 bash -c "! kill -0 $torva_pid 2>/dev/null" || fail "the console did not end on Escape"
    local status=0
    wait "$torva_pid" || status=$?
    [ "$status" -eq 0 ] || { cat "$work/torva.log" >&2; fail "the console exited with status $status"; }
}
