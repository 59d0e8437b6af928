#!/bin/bash
# End-to-end run of the controls in a real X server: drag the panel's knob
# with the pointer, type into the text field and commit with Return, then
# edit again, press Escape (which must not end the edit) and end it by
# clicking elsewhere in the window. Exits 77 (skipped) without Xvfb/xdotool.
set -u
probe="$1"
# shellcheck source=tests/support/gui_harness.sh
. "$(dirname "$0")/../../support/gui_harness.sh"
harness_start Xvfb xdotool
start_private_xvfb 800x600x24 "$work/xvfb.log" ||
    { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }

out="$work/probe.out"
"$probe" 60 >"$out" 2>"$work/probe.err" &
probe_pid=$!
stop_on_exit probe_pid
for _ in $(seq 100); do
    grep -q '^ready' "$out" && break
    sleep 0.05
done
grep -q '^ready' "$out" || { echo "probe did not start"; cat "$work/probe.err"; exit 1; }
sleep 0.3

count() { grep -c "$1" "$out"; }
# A click as a hand makes it: the button stays down for a moment, so the
# press is still held when the window reads the live button state.
click_at() {
    xdotool mousemove "$1" "$2"
    xdotool mousedown 1
    sleep 0.15
    xdotool mouseup 1
}

# The host window is at (50, 40); the knob spans (80..160, 100..180) in it.
# Press in the knob, travel 160 right and 160 up in steps, release:
# 320 pixels of travel over a 640-pixel range from 0 gives 0.5.
xdotool mousemove 170 210
sleep 0.1
xdotool mousedown 1
for i in $(seq 1 16); do
    xdotool mousemove $((170 + 10 * i)) $((210 - 10 * i))
    sleep 0.03
done
sleep 0.2
xdotool mouseup 1
sleep 0.3
last_value=$(grep '^value 0 ' "$out" | tail -1 | cut -d' ' -f3)
check "knob dragged to 0.5 (last report $last_value)" \
    awk -v v="$last_value" 'BEGIN { exit !(v > 0.499 && v < 0.501) }'
check "one edit bracket for the drag" \
    test "$(count '^begin 0$')" -eq 1 -a "$(count '^end 0$')" -eq 1

# First edit: click into the field (80..160, 300..318), type, Return.
click_at 170 349
sleep 0.4
xdotool type --delay 60 "12.5"
sleep 0.2
xdotool key Return
sleep 0.4
check "Return commits the typed text once" test "$(count '^text 9 12.5$')" -eq 1
check "one change for the first edit" test "$(count '^text 9 ')" -eq 1
check "one LooseFocus for the first edit" test "$(count '^loosefocus$')" -eq 1

# Second edit: type, Escape (keeps editing), then click elsewhere.
click_at 170 349
sleep 0.4
xdotool type --delay 60 "7"
sleep 0.1
xdotool key Escape
sleep 0.4
check "Escape does not end the edit" test "$(count '^text 9 ')" -eq 1 -a "$(count '^loosefocus$')" -eq 1
click_at 70 420
sleep 0.4
check "a click elsewhere commits the second edit" test "$(count '^text 9 7$')" -eq 1
check "one change for the second edit" test "$(count '^text 9 ')" -eq 2
check "one LooseFocus per edit" test "$(count '^loosefocus$')" -eq 2
check "edit brackets balanced" test "$(count '^begin 9$')" -eq 2 -a "$(count '^end 9$')" -eq 2

# The editing keys: Backspace, Home, End, Left, Delete.
click_at 170 349
sleep 0.4
xdotool type --delay 60 "45"
xdotool key --delay 60 BackSpace Home 9 End 1 Left Left Delete Return
sleep 0.4
check "editing keys give 91" test "$(count '^text 9 91$')" -eq 1
# Right leaves the selection at its end; Ctrl+A selects all again.
click_at 170 349
sleep 0.4
xdotool key --delay 60 Right 5
sleep 0.2
xdotool key --delay 60 ctrl+a 2 Return
sleep 0.4
check "Ctrl+A then typing replaces everything" test "$(count '^text 9 2$')" -eq 1
check "still one change per edit" test "$(count '^text 9 ')" -eq 4

# The host closes the editor while the user is still typing: the open
# field goes with the window, without a crash and without a commit.
click_at 170 349
sleep 0.4
xdotool type --delay 60 "3"
kill -TERM "$probe_pid"
wait "$probe_pid"
status=$?
probe_pid=""
check "closing the editor with an open field exits cleanly (status $status)" \
    test "$status" -eq 0 -a "$(count '^bye$')" -eq 1
check "nothing committed by the close" test "$(count '^text 9 3$')" -eq 0

if [ "$fail" -ne 0 ]; then
    echo "--- probe output"; cat "$out"; echo "--- probe errors"; cat "$work/probe.err"
fi
exit "$fail"
