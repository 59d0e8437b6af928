#!/bin/bash
# The editor on a desktop as users have it: kv23 gui (the real plug-in file)
# in a German locale, under a real window manager (openbox reparents the
# host window and sets WM_STATE), with drags from real GTK 3 and Qt 5
# applications, driven with xdotool in a private Xvfb:
# - three file URIs and then a text dragged from GTK and from Qt: the toolkit
#   finds the panel, the drop is finished, GTK deletes nothing and Qt's
#   QDrag.exec does not answer a move; the knobs work afterwards;
# - sideways scrolling over each knob changes no parameter;
# - "-3.5" and "-3,5" typed in the volume field both give 0.4453125 and the
#   field shows "-3.50" (compared with the panel drawn in the C locale);
# - moving or minimising the host window during an edit commits the edit.
# Exits 77 (skipped) when a program it needs is missing.
#
#   run_desktop.sh KV23 PLUGIN.so
set -u
kv23="$1"
plugin="$2"
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3
# shellcheck source=tests/support/gui_harness.sh
. "$here/../support/gui_harness.sh"
need_tools Xvfb xdotool openbox xwininfo import convert compare "$python"
"$python" -c 'import gi; gi.require_version("Gtk", "3.0"); from gi.repository import Gtk' 2>/dev/null ||
    { echo "skip: python3-gi with GTK 3 missing"; exit 77; }
"$python" -c 'import PyQt5.QtWidgets' 2>/dev/null || { echo "skip: python3-pyqt5 missing"; exit 77; }
locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$' || { echo "skip: locale de_DE.UTF-8 missing"; exit 77; }

harness_start
start_private_xvfb 800x600x24 "$work/xvfb.log" || { echo "skip: Xvfb did not start"; exit 77; }
export XDG_RUNTIME_DIR="$work"  # Qt asks for one
start_openbox

start_kv23_gui env LC_ALL=de_DE.UTF-8 "$kv23" gui --plugin "$plugin"

# Absolute top-left corner of a window (xdotool's geometry is off by the
# frame under a window manager).
position() { xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 } END { print x, y }'; }

host=$(xdotool search --name '^kv23 - ' | head -1)
# openbox may take its time to manage the window on a busy machine.
for _ in $(seq 60); do
    xprop -id "$host" WM_STATE 2>/dev/null | grep -q Normal && break
    sleep 0.05
done
check "the window manager manages kv23's window (WM_STATE)" \
    bash -c "xprop -id $host WM_STATE | grep -q Normal"
xdotool windowmove "$host" 300 60
sleep 0.3
read -r wx wy < <(position "$host")

# One drag from a toolkit's source window onto the empty part of the panel
# beside the volume scale; the source's lines in $work/source.out.
drag_from() {  # gtk|qt, uris|text
    "$python" "$here/$1_drag_source.py" "$2" >"$work/source.out" 2>"$work/source.err" &
    local pid=$! sx sy source
    for _ in $(seq 100); do
        grep -q '^ready' "$work/source.out" && break
        sleep 0.05
    done
    source=$(xdotool search --name "^kv23 $1 source\$" | head -1)
    xdotool windowmove "$source" 20 60
    sleep 0.3
    read -r sx sy < <(position "$source")
    xdotool mousemove $((sx + 60)) $((sy + 50))
    sleep 0.1
    xdotool mousedown 1
    for i in 1 2 3 4; do
        xdotool mousemove $((sx + 60 + 10 * i)) $((sy + 50))
        sleep 0.05
    done
    for i in 1 2 3 4 5 6; do
        xdotool mousemove $((wx + 30 + 5 * i)) $((wy + 370))
        sleep 0.1
    done
    xdotool mouseup 1
    for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
}
has() { grep -q "$1" "$work/source.out"; }
for kind in uris text; do
    drag_from gtk "$kind"
    check "GTK ($kind): the panel is a target" bash -c "! grep -q '^failed no-target' '$work/source.out'"
    check "GTK ($kind): the drag ends on our window, as a copy" has '^end 0x[1-9a-f][0-9a-f]* copy$'
    check "GTK ($kind): nothing deleted" bash -c "! grep -q '^delete' '$work/source.out'"
    [ "$kind" = uris ] && check "GTK: the file list was read" has '^data-get text/uri-list$'
    drag_from qt "$kind"
    check "Qt ($kind): QDrag.exec answers copy (a target, no move)" has '^exec copy$'
done
check "kv23 is still running" kill -0 "$gui_pid"
[ "$fail" -ne 0 ] && { echo "--- last source"; cat "$work/source.out" "$work/source.err"; }

# The knobs still work: drag the volume knob up.
before=$(lines)
drag_up 120 270 8 8
check "after the drags a knob drag automates the volume" \
    test "$(since "$before" | grep -c '^automate 3 ')" -ge 3

# Sideways scrolling (buttons 6 and 7) over each knob changes nothing; the
# vertical wheel does.
for knob in "0 130" "3 270"; do
    set -- $knob
    was=$(param "$1")
    before=$(lines)
    xdotool mousemove $((wx + 120)) $((wy + $2))
    xdotool click --repeat 3 --delay 50 6
    xdotool click --repeat 3 --delay 50 7
    sleep 0.4
    check "sideways scroll over knob $1: no automation" test "$(since "$before" | grep -c '^automate')" -eq 0
    check "sideways scroll over knob $1: the value stays ($was)" test "$(param "$1")" = "$was"
    xdotool click 4
    sleep 0.4
    check "the vertical wheel still turns knob $1" test "$(param "$1")" != "$was"
done

# Typed in a German locale: a point or a comma, and the field shows a point.
for typed in "minus 3 period 5" "minus 3 comma 5"; do
    press 45 321  # first something else in the volume field: 2 dB
    xdotool key --delay 40 ctrl+a 2 Return
    sleep 0.3
    press 45 321
    # shellcheck disable=SC2086
    xdotool key --delay 40 $typed Return
    sleep 0.4
    check "'$typed' in the volume field gives 0.4453125" test "$(param 3)" = "0.445312"
done
LC_ALL=C "$kv23" snapshot "$work/reference.png" --plugin "$plugin" --param 3=0.4453125 >/dev/null 2>&1
sleep 0.3
import -window root "$work/shot.png"
convert "$work/shot.png" -crop "30x14+$((wx + 30))+$((wy + 314))" +repage "$work/field.png"
convert "$work/reference.png" -crop 30x14+30+314 +repage "$work/reference-field.png"
check "the field shows -3.50 as in the C locale" \
    test "$(compare -metric AE "$work/field.png" "$work/reference-field.png" null: 2>&1)" = 0

# The field is placed once on the screen: moving or minimising the host
# window while typing ends the edit, as leaving the field does.
press 45 181
xdotool key 6
sleep 0.2
xdotool windowmove "$host" 320 80
sleep 0.5
check "moving the host window commits the edit (6 dB)" test "$(param 0)" = "0.437500"
check "... and the field is gone" test "$(xwininfo -root -children | grep -c ' 30x14+')" -eq 0
read -r wx wy < <(position "$host")
press 45 321
xdotool key 1 2
sleep 0.2
xdotool windowminimize "$host"
sleep 0.5
check "minimising the host window commits the edit (12 dB)" test "$(param 3)" = "0.687500"
check "... and the field is gone" test "$(xwininfo -root -children | grep -c ' 30x14+')" -eq 0
xdotool windowactivate "$host" 2>/dev/null
sleep 0.3

quit_kv23
check "kv23 ends cleanly ($status)" test "$status" -eq 0
harness_end
