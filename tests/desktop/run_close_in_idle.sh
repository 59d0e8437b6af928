#!/bin/bash
# A host that runs its event loop inside audioMasterIdle and closes the
# editor there (kv23 gui --close-in-idle, which opens it again right after),
# hit during a knob drag, a switch click and a text commit, each of which
# calls the host's idle from inside its handler. Nothing may reach the host
# between the close and the next open, and kv23 must end cleanly; built with
# the address sanitizer, any use of the freed panel ends kv23 with a report.
# Exits 77 (skipped) without Xvfb or xdotool.
#
#   run_close_in_idle.sh KV23 PLUGIN.so
set -u
kv23="$1"
plugin="$2"
# shellcheck source=tests/support/gui_harness.sh
. "$(dirname "$0")/../support/gui_harness.sh"
harness_start Xvfb xdotool
start_private_xvfb 640x480x24 "$work/xvfb.log" || { echo "skip: Xvfb did not start"; exit 77; }
start_kv23_gui "$kv23" gui --close-in-idle --plugin "$plugin"
sleep 0.5
kv23_window
# After a gesture: the editor was closed from inside the idle callback,
# nothing reached the host until it was open again, and it is open again.
closed_in_idle() {  # description, line count before the gesture
    local what="$1" after
    for _ in $(seq 100); do
        since "$2" | grep -q '^open ' && break
        sleep 0.05
    done
    after=$(since "$2")
    check "$what: closed inside audioMasterIdle" test "$(echo "$after" | grep -c '^closed in idle$')" -eq 1
    check "$what: no host call between the close and the next open" \
        test "$(echo "$after" | sed -n '/^closed in idle$/,/^open /p' | grep -cv '^closed in idle$\|^open ')" -eq 0
    check "$what: the editor is open again" test "$(echo "$after" | tail -1 | cut -d' ' -f1)" = open
}

# A knob drag: its loop pumps the host's idle every 100 ms.
before=$(lines)
xdotool mousemove $((wx + 120)) $((wy + 130))
sleep 0.1
xdotool mousedown 1
for i in $(seq 1 10); do
    xdotool mousemove $((wx + 120)) $((wy + 130 - 4 * i))
    sleep 0.04
done
xdotool mouseup 1
closed_in_idle "knob drag" "$before"
check "knob drag: the gain was automated before the close" \
    test "$(since "$before" | sed -n '1,/^closed in idle$/p' | grep -c '^automate 0 ')" -ge 1
sleep 0.3

# A switch click pumps once before it reports the new value.
before=$(lines)
xdotool mousemove $((wx + 75)) $((wy + 39))
xdotool mousedown 1
sleep 0.15
xdotool mouseup 1
closed_in_idle "switch click" "$before"
sleep 0.3

# A text commit pumps after telling the editor.
xdotool mousemove $((wx + 45)) $((wy + 181))
xdotool mousedown 1
sleep 0.15
xdotool mouseup 1
sleep 0.4
before=$(lines)
xdotool key 6 Return
closed_in_idle "text commit" "$before"
echo params >&3
sleep 0.3
check "the typed gain was set (6 dB)" grep -q '^param 0 0.437500$' "$out"

quit_kv23
check "kv23 ends cleanly ($status)" test "$status" -eq 0
check "no sanitizer report" bash -c "! grep -q 'ERROR: AddressSanitizer\|runtime error' '$work/gui.err'"
harness_end
