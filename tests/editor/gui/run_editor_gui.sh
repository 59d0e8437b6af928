#!/bin/bash
# End-to-end run of the panel: kv23 gui opens the real plug-in file in a
# private Xvfb, xdotool plays the user, kv23's output shows what the host
# hears, and screenshots of the window are compared with the panel images.
# Exits 77 (skipped) without Xvfb, xdotool or ImageMagick's import.
#
#   run_editor_gui.sh KV23 PLUGIN.so PANEL_PIXELS
set -u
kv23="$1"
plugin="$2"
pixels="$3"
# shellcheck source=tests/support/gui_harness.sh
. "$(dirname "$0")/../../support/gui_harness.sh"
harness_start Xvfb xdotool import
start_private_xvfb 640x480x24 "$work/xvfb.log" || { echo "skip: Xvfb did not start"; exit 77; }
start_kv23_gui "$kv23" gui --plugin "$plugin"
sleep 0.5
kv23_window
shot() { import -window root "$work/shot.png"; }
# A checksum of the gain field's pixels in the last screenshot.
field_sum() { convert "$work/shot.png" -crop "30x14+$((wx + 30))+$((wy + 174))" +repage rgb:- | md5sum; }
# Image NUMBER with source offset OY at panel rectangle L T R B.
looks() { "$pixels" "$work/shot.png" "$wx" "$wy" "$1" "$2" "$3" "$4" "$5" 0 "$6" >/dev/null; }
knob_offset() { awk -v v="$1" 'BEGIN { p = int(7680 * v); print (p >= 7680 ? 7680 : int(p / 80) * 80) }'; }

# At rest: knobs at 0 dB, switches off, LED dark.
shot
check "gain knob at 0 dB" looks 102 80 90 160 170 "$(knob_offset 0.25)"
check "pad 1 off" looks 103 55 24 95 54 0
check "LED dark" looks 104 180 307 208 335 0
field_at_rest=$(field_sum)

# Drag the gain knob 96 pixels up in steps: +0.15 of the range.
before=$(lines)
drag_up 120 130 12 8
drag=$(since "$before")
check "drag opens with beginEdit 0" test "$(echo "$drag" | head -1)" = "beginEdit 0"
check "drag closes with endEdit 0" test "$(echo "$drag" | tail -1)" = "endEdit 0"
check "several automate 0 lines" test "$(echo "$drag" | grep -c '^automate 0 ')" -ge 3
last=$(echo "$drag" | grep '^automate 0 ' | tail -1 | cut -d' ' -f3)
v=$(param 0)
check "gain after the drag ($v) is the last automated value and 0.4" \
    awk -v v="$v" -v l="$last" 'BEGIN { exit !(v == l && v > 0.3999 && v < 0.4001) }'
shot
check "gain knob shows the image for $v" looks 102 80 90 160 170 "$(knob_offset "$v")"
# The field beside DRIVE now shows 32 v - 8 = 4.80 dB instead of 0.00.
check "gain field redrawn" test "$(field_sum)" != "$field_at_rest"

# Each switch toggles its parameter inside the edit bracket.
for pad in 1 2; do
    x=$([ $pad = 1 ] && echo 75 || echo 157)
    before=$(lines)
    press "$x" 39
    check "pad $pad click: bracket and automate $pad 1" \
        test "$(since "$before" | tr '\n' '|')" = "beginEdit $pad|automate $pad 1.000000|endEdit $pad|"
    check "pad $pad is on" test "$(param $pad)" = "1.000000"
done
shot
check "pad 1 shows on" looks 103 55 24 95 54 30
check "pad 2 shows on" looks 103 137 24 177 54 30
press 75 39
press 157 39
check "pads off again" test "$(param 1) $(param 2)" = "0.000000 0.000000"

# Type 6 and Return in the gain field: 6 dB, and no automation.
before=$(lines)
press 45 181
xdotool key 6 Return
sleep 0.4
check "typed 6 dB gives 0.4375" test "$(param 0)" = "0.437500"
check "typing sends no automate" test "$(since "$before" | grep -c '^automate')" -eq 0
shot
check "gain knob shows image 42" looks 102 80 90 160 170 3360

# Control-click resets the knob to 0 dB.
xdotool mousemove $((wx + 120)) $((wy + 130))
xdotool keydown ctrl
xdotool mousedown 1
sleep 0.15
xdotool mouseup 1
xdotool keyup ctrl
sleep 0.3
check "control-click resets the gain" test "$(param 0)" = "0.250000"

# Overs from an audio thread light the LED: every 100 ms, as loud music
# would, so the LED is still lit however long the screenshot takes to
# start. After the last one and the hold it is dark again.
before=$(lines)
(for _ in $(seq 40); do echo over >&3; sleep 0.1; done) &
overs_pid=$!
for _ in $(seq 100); do
    since "$before" | grep -q '^over' && break
    sleep 0.02
done
sleep 0.1
shot
check "LED lit while overs arrive" looks 104 180 307 208 335 28
wait "$overs_pid"
sleep 0.6
shot
check "LED dark after the hold" looks 104 180 307 208 335 0

quit_kv23
check "editor closed" grep -q '^closed' "$out"
harness_end
