#!/bin/bash
# The panel on a dense desktop: a private Xvfb whose resource database says
# Xft.dpi: 192 (as GNOME, KDE and Xfce write it when the desktop scales by
# 200 %, here with xrdb), under openbox, with kv23 gui and the real plug-in:
# - the desktop's factor: a 480 x 800 panel; the host's factor 2 as well is
#   still 480 x 800 (never applied twice); KV23_SCALE=1.5 gives 360 x 600;
# - gestures through the real window at 2x with XTest: a click at the centre
#   of a pad's scaled rectangle toggles it, 200 device pixels up on a knob
#   move it as 100 pixels do at 1x, "-3.5" typed into the volume field gives
#   what it gives at 1x, a sideways scroll does nothing;
# - the host's factor changed while open (1, 2, 1.5): the window is resized
#   each time and the host asked to resize its own (sizeWindow).
# Exits 77 (skipped) when a program it needs is missing.
#
#   run_density.sh KV23 PLUGIN.so
set -u
kv23="$1"
plugin="$2"
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=tests/support/gui_harness.sh
. "$here/../support/gui_harness.sh"
harness_start Xvfb xdotool openbox xwininfo xrdb xprop

start_private_xvfb 1280x1024x24 "$work/xvfb.log" || { echo "skip: Xvfb did not start"; exit 77; }
echo "Xft.dpi: 192" | xrdb -merge
start_openbox

position() { xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 } END { print x, y }'; }
# The size of the plug-in's window inside kv23's (the host's) window.
panel_size() {
    local host
    host=$(xdotool search --name '^kv23 - ' | head -1)
    xwininfo -id "$host" -children | awk '/^ +0x/ { print $(NF - 1) }' | cut -d+ -f1 | head -1
}
# One kv23 gui run that only looks at the size: started, measured, quit.
size_of_run() {  # expected "W H", command...
    local want=$1
    shift
    open_size=$want start_kv23_gui "$@"
    sleep 0.3
    check "$* opens a panel of $want" test "$(panel_size)" = "${want/ /x}"
    quit_kv23
    check "... and ends cleanly ($status)" test "$status" -eq 0
}

size_of_run "480 800" "$kv23" gui --plugin "$plugin"
size_of_run "480 800" "$kv23" gui --plugin "$plugin" --scale 2
size_of_run "360 600" env KV23_SCALE=1.5 "$kv23" gui --plugin "$plugin"

# Gestures at 2x.
open_size="480 800" start_kv23_gui "$kv23" gui --plugin "$plugin"
host=$(xdotool search --name '^kv23 - ' | head -1)
xdotool windowmove "$host" 100 40
sleep 0.4
read -r wx wy < <(position "$host")
press 150 78  # the centre of pad 1's rectangle (55, 24, 95, 54), twice
check "a click at the scaled centre of pad 1 turns it on" test "$(param 1)" = "1.000000"
drag_up 240 260 10 20  # the gain knob's centre, 200 device pixels up
check "200 device pixels up on the gain knob move it 100 units (0.25 + 100 / 640)" \
    test "$(param 0)" = "0.406250"
press 90 642  # the volume field (30, 314, 60, 328), twice
xdotool key --delay 40 minus 3 period 5 Return
sleep 0.4
check "'-3.5' typed into the volume field gives 0.4453125" test "$(param 3)" = "0.445312"
before=$(lines)
xdotool mousemove $((wx + 240)) $((wy + 540))
xdotool click --repeat 3 --delay 50 6
xdotool click --repeat 3 --delay 50 7
sleep 0.4
check "a sideways scroll over the volume knob automates nothing" \
    test "$(since "$before" | grep -c '^automate')" -eq 0

# The host's factor changed while the panel is open.
for step in "1 240 400" "2 480 800" "1.5 360 600"; do
    set -- $step
    before=$(lines)
    echo "scale $1" >&3
    for _ in $(seq 100); do
        since "$before" | grep -q "^sizeWindow $2 $3$" && break
        sleep 0.05
    done
    sleep 0.3
    check "factor $1 while open: the host is asked for $2 x $3" \
        bash -c "tail -n +$((before + 1)) '$out' | grep -q '^sizeWindow $2 $3$'"
    check "factor $1 while open: the panel is $2 x $3" test "$(panel_size)" = "${2}x$3"
done
quit_kv23
check "kv23 ends cleanly ($status)" test "$status" -eq 0
check "no sanitizer report" bash -c "! grep -q 'ERROR: AddressSanitizer\|runtime error' '$work/gui.err'"
harness_end
