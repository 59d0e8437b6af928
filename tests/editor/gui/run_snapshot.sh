#!/bin/bash
# kv23 snapshot without a display (it starts and stops its own Xvfb): the
# picture shows the parameters given and the LED lit by --over; wrong
# arguments are refused with status 2 and leave no file.
#   run_snapshot.sh KV23 PLUGIN.so PANEL_PIXELS
set -u
kv23="$1"
plugin="$2"
pixels="$3"
command -v Xvfb >/dev/null 2>&1 || { echo "skip: Xvfb missing"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail=0
check() {
    local what="$1"
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; fail=1; fi
}
looks() { "$pixels" "$work/panel.png" 0 0 "$1" "$2" "$3" "$4" "$5" 0 "$6" >/dev/null; }

# Other tests start and stop servers of their own at the same time, so only
# a server that kv23 left behind counts: one that was not there before and
# has been handed to init (its parent, kv23, is gone).
servers_before=" $(pgrep -x Xvfb | tr '\n' ' ') "
orphaned_server() {
    local pid
    for pid in $(pgrep -x Xvfb); do
        case "$servers_before" in *" $pid "*) continue ;; esac
        [ "$(ps -o ppid= -p "$pid" | tr -d ' ')" = 1 ] && return 0
    done
    return 1
}
no_orphaned_server() { ! orphaned_server; }

env -u DISPLAY "$kv23" snapshot "$work/panel.png" --plugin "$plugin" \
    --param 0=0.75 --param 2=1 --param 3=0 --over >"$work/out" 2>&1
check "snapshot succeeds without a display" test $? -eq 0
check "a 240 x 400 picture" grep -q ': 240 x 400$' "$work/out"
check "gain knob at 0.75 (image 72)" looks 102 80 90 160 170 5760
check "volume knob at 0 (image 0)" looks 102 80 230 160 310 0
check "pad 1 off" looks 103 55 24 95 54 0
check "pad 2 on" looks 103 137 24 177 54 30
# Volume at -32 dB: the over is fed after the parameters, and twice full
# scale still falls short; the LED stays dark.
check "LED dark when the over is turned down" looks 104 180 307 208 335 0
check "its own Xvfb is gone" no_orphaned_server

env -u DISPLAY "$kv23" snapshot "$work/lit.png" --plugin "$plugin" --over >/dev/null 2>&1
"$pixels" "$work/lit.png" 0 0 104 180 307 208 335 0 28 >/dev/null
check "LED lit by --over at 0 dB" test $? -eq 0

# With the host's factor 2: twice the size, drawn from the dense artwork.
env -u DISPLAY "$kv23" snapshot "$work/panel.png" --plugin "$plugin" --scale 2 \
    --param 0=0.75 --param 2=1 --param 3=0 --over >"$work/out" 2>&1
check "--scale 2: a 480 x 800 picture" grep -q ': 480 x 800$' "$work/out"
dense() { "$pixels" "$work/panel.png" 0 0 "$1" "$2" "$3" "$4" "$5" 0 "$6" 2 >/dev/null; }
check "--scale 2: gain knob at 0.75" dense 102 80 90 160 170 5760
check "--scale 2: volume knob at 0" dense 102 80 230 160 310 0
check "--scale 2: pad 1 off" dense 103 55 24 95 54 0
check "--scale 2: pad 2 on" dense 103 137 24 177 54 30
check "--scale 2: LED dark" dense 104 180 307 208 335 0
check "--scale 2: the faceplate below the volume field" dense 101 0 340 240 400 340

"$kv23" snapshot "$work/bad.png" --plugin "$plugin" --param 7=0.5 >/dev/null 2>&1
check "a parameter that does not exist is refused" test $? -eq 2
"$kv23" snapshot "$work/bad.png" --plugin "$plugin" --param gain >/dev/null 2>&1
check "--param without N=V is refused" test $? -eq 2
check "no file for refused runs" test ! -e "$work/bad.png"
exit $fail
