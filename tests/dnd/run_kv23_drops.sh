#!/bin/bash
# Real XDND drags onto the plug-in's editor in kv23 gui (the real plug-in
# file and panel, embedded in kv23's top-level window) under a private Xvfb:
# the test drag source finds kv23's window, which the editor marked as a
# drop target pointing at its own child window; every position over the
# panel is answered with the copy action; no view takes a drop, so the
# source is told nothing moved. Sources that send garbage, never answer or
# die mid-drag leave the editor working: a knob drag with xdotool afterwards
# still reaches the host as beginEdit / automate / endEdit.
# Exits 77 (skipped) without Xvfb or xdotool.
#
#   run_kv23_drops.sh KV23 PLUGIN.so XDND_SOURCE
set -u
kv23="$1"
plugin="$2"
source_tool="$3"
# shellcheck source=tests/support/gui_harness.sh
. "$(dirname "$0")/../support/gui_harness.sh"
harness_start Xvfb xdotool
start_private_xvfb 640x480x24 "$work/xvfb.log" || { echo "skip: Xvfb did not start"; exit 77; }
start_kv23_gui "$kv23" gui --plugin "$plugin"
sleep 0.3
kv23_window
# One drag; its lines in $work/drag.out.
drag() { "$source_tool" "$@" >"$work/drag.out" 2>&1; }
has() { grep -qx "$1" "$work/drag.out"; }
count() { grep -c "^$1" "$work/drag.out"; }

# kv23's window has no WM_STATE (no window manager): the editor marks the
# top-level window itself, with a proxy to its own child.
drag $((wx + 60)) $((wy + 300)) --text "dropped words" --moves 6 --end drop
check "the source finds kv23's window" grep -q "^target $(printf '0x%x' "$top") " "$work/drag.out"
proxy=$(sed -n 's/^target .* proxy \(0x[0-9a-f]*\)$/\1/p' "$work/drag.out")
check "... which sends it on to a window of its own ($proxy)" \
    test -n "$proxy" -a "$proxy" != 0x0 -a "$proxy" != "$(printf '0x%x' "$top")"
check "... a child of kv23's window" \
    bash -c "xwininfo -id $top -children 2>/dev/null | grep -q '^ *$proxy '"
check "six positions, six copy answers" test "$(count 'status accept=1 action=XdndActionCopy$')" -eq 6
check "the drop is finished without a move" has "finished accepted=0 action=None"

drag $((wx + 60)) $((wy + 300)) --uris 3 --end drop
check "a file list is read and the drop finished" has "finished accepted=0 action=None"
check "a file list is served on request" grep -q '^served text/uri-list ' "$work/drag.out"

for bad in "--malformed --end drop" "--huge 3 --end drop" "--incr --end drop" \
    "--silent --end drop" "--uris 2 --die"; do
    # shellcheck disable=SC2086
    drag $((wx + 60)) $((wy + 300)) $bad
    check "moves answered for a source with $bad" \
        test "$(count 'status accept=1 action=XdndActionCopy$')" -eq 4
    case "$bad" in
    *drop) check "drop with $bad finished" has "finished accepted=0 action=None" ;;
    esac
done
check "kv23 is still running" kill -0 "$gui_pid"

# The editor still answers the mouse: drag the gain knob up.
before=$(lines)
drag_up 120 130 8 8
knob=$(since "$before")
check "knob drag opens with beginEdit 0" test "$(echo "$knob" | head -1)" = "beginEdit 0"
check "knob drag automates the gain" test "$(echo "$knob" | grep -c '^automate 0 ')" -ge 3
check "knob drag closes with endEdit 0" test "$(echo "$knob" | tail -1)" = "endEdit 0"

# Closing ends kv23 cleanly after all this.
quit_kv23
check "kv23 ends cleanly ($status)" test "$status" -eq 0
[ "$fail" -ne 0 ] && { echo "--- last drag"; cat "$work/drag.out"; }
harness_end
