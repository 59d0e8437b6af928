# shellcheck shell=bash
# Sourced by the end-to-end scripts that play the user with xdotool in a
# private X server, most of them against kv23 gui, which reads its commands
# from a pipe and prints what the host hears.
#
#   need_tools TOOL...         exit 77 (skipped) unless every TOOL is on PATH
#   harness_start [TOOL...]    need_tools TOOL...; then makes $work and stops,
#                              on exit, what the run started (last started,
#                              first stopped; the X server last) and removes
#                              $work
#   stop_on_exit VARIABLE      stop the process whose id VARIABLE holds on
#                              exit (a script that reaps it itself empties it);
#                              one that ignores SIGTERM for 5 s is killed
#   start_private_xvfb ...     see xvfb.sh
#   start_openbox              openbox on that server, stopped on exit; waits
#                              (up to 5 s) until it manages the screen
#   start_kv23_gui COMMAND...  runs COMMAND (kv23 gui ...) reading from a pipe
#                              held open on descriptor 3, its output in $out
#                              and its errors in $work/gui.err, and waits for
#                              the editor (open 240 400, or the size in
#                              $open_size); exits 1 without it
#   quit_kv23                  sends quit and waits; the exit status in $status
#   check WHAT COMMAND...      prints ok or FAILED; a failure sets fail=1
#   lines, since N             lines of kv23's output; the output after line N
#   param N                    parameter N as kv23 reads it from the plug-in
#   kv23_window                kv23's window in $top, its corner in $wx $wy
#                              (as placed without a window manager)
#   press X Y                  a click as a hand makes it, at panel coordinates
#   drag_up X Y STEPS STEP     presses at X Y of the panel, moves STEP pixels
#                              up STEPS times and lets go
#   harness_end                prints the host's output ($out) and errors
#                              ($work/gui.err) after a failure; exits with $fail

# shellcheck source=tests/support/xvfb.sh
. "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || { echo "skip: $tool missing"; exit 77; }
    done
}

xvfb_pid=""
gui_pid=""
harness_stops=()
fail=0

stop_on_exit() { harness_stops+=("$1"); }

# Stops a child of this script: SIGTERM, and SIGKILL when it is still there
# after 5 s, so that a hung program cannot hold the run until ctest's timeout.
stop_child() {
    kill "$1" 2>/dev/null || return 0
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.05
    done
    kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
}

harness_cleanup() {
    local i pid
    exec 3>&- 2>/dev/null
    for ((i = ${#harness_stops[@]} - 1; i >= 0; i--)); do
        pid=${!harness_stops[i]}
        [ -n "$pid" ] && stop_child "$pid"
    done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}

harness_start() {
    need_tools "$@"
    work=$(mktemp -d)
    trap harness_cleanup EXIT
}

# shellcheck disable=SC2034  # stopped on exit
start_openbox() {
    openbox --sm-disable >"$work/openbox.log" 2>&1 &
    wm_pid=$!
    stop_on_exit wm_pid
    for _ in $(seq 100); do
        xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
        sleep 0.05
    done
}

start_kv23_gui() {
    # A script may run kv23 several times: each run starts on an empty output.
    [ -p "$work/in" ] || mkfifo "$work/in"
    out="$work/gui.out"
    : >"$out"
    "$@" <"$work/in" >"$out" 2>"$work/gui.err" &
    gui_pid=$!
    stop_on_exit gui_pid
    exec 3>"$work/in"
    for _ in $(seq 200); do
        grep -q '^open ' "$out" && break
        sleep 0.05
    done
    grep -q "^open ${open_size:-240 400} " "$out" ||
        { echo "FAILED: no editor of ${open_size:-240 400}"; cat "$out" "$work/gui.err"; exit 1; }
}

# shellcheck disable=SC2034  # status, top, wx and wy are for the caller
quit_kv23() {
    echo quit >&3
    wait "$gui_pid"
    status=$?
    gui_pid=""
}

check() {  # description, command...
    local what="$1"
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}

lines() { wc -l <"$out"; }
since() { tail -n +"$(($1 + 1))" "$out"; }

param() {
    local before
    before=$(lines)
    echo params >&3
    for _ in $(seq 100); do
        since "$before" | grep -q "^param $1 " && break
        sleep 0.02
    done
    since "$before" | grep "^param $1 " | tail -1 | cut -d' ' -f3
}

# shellcheck disable=SC2034
kv23_window() {
    eval "$(xdotool search --name '^kv23 - ' getwindowgeometry --shell | head -6)"
    top=$WINDOW
    wx=$X
    wy=$Y
}

press() {
    xdotool mousemove $((wx + $1)) $((wy + $2))
    xdotool mousedown 1
    sleep 0.15
    xdotool mouseup 1
    sleep 0.3
}

drag_up() {
    local i
    xdotool mousemove $((wx + $1)) $((wy + $2))
    sleep 0.1
    xdotool mousedown 1
    for i in $(seq 1 "$3"); do
        xdotool mousemove $((wx + $1)) $((wy + $2 - $4 * i))
        sleep 0.03
    done
    sleep 0.2
    xdotool mouseup 1
    sleep 0.4
}

harness_end() {
    if [ "$fail" -ne 0 ]; then
        echo "--- host output"; cat "$out"; echo "--- host errors"; cat "$work/gui.err"
    fi
    exit "$fail"
}
