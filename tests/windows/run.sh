#!/usr/bin/env bash
# The Windows suite: runs the cross-built DLL and test programs under Wine
# on a private Xvfb display, and compares with the Linux build.
#   tests/windows/run.sh [WIN_BUILD_DIR] [LINUX_BUILD_DIR]
# Prints one line per check and "N passed, N failed"; exit status 1 when
# anything failed.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
win=${1:-$root/build-win}
linux=${2:-$root/build}
dll=$win/KV23-T-ZuDiz.dll
host=$win/kv23w.exe
work=$(mktemp -d /tmp/kv-windows.XXXXXX)
passed=0
failed=0

pass() { echo "PASS  $1  ${2:-}"; passed=$((passed + 1)); }
fail() { echo "FAIL  $1  ${2:-}"; failed=$((failed + 1)); }
check() { if [ "$1" = 0 ]; then pass "$2" "${3:-}"; else fail "$2" "${3:-}"; fi; }

# A display of our own (kv23's launcher, from the Linux build), started
# before the first Wine program: Wine binds to the display of the first
# program that talks to its server.
# shellcheck source=tests/support/xvfb.sh
. "$root/tests/support/xvfb.sh"
KV_PRIVATE_X="$linux/tests/support/kv_private_x" start_private_xvfb 1024x1024x24 "$work/xvfb.log" ||
    { echo "FAIL  xvfb  no private X server"; exit 1; }
export WINEPREFIX=$work/prefix WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
cleanup() {
    wineserver -k >/dev/null 2>&1
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
wine cmd /c exit >/dev/null 2>&1  # creates the prefix
wineserver -p

# --- the DLL's exports and imports -------------------------------------------
exports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    grep -E '^\s+\[ *[0-9]+\] +[A-Za-z_][A-Za-z0-9_]*$' | awk '{print $NF}' | sort | tr '\n' ' ')
[ "$exports" = "VSTPluginMain main " ]; check $? dll.exports "$exports"
imports=$(x86_64-w64-mingw32-objdump -p "$dll" | awk '/DLL Name:/{print $3}' | sort | tr '\n' ' ')
extra=$(echo "$imports" | tr ' ' '\n' | grep -v -i -x -E 'KERNEL32.dll|USER32.dll|GDI32.dll|msvcrt.dll|ole32.dll|SHELL32.dll|' || true)
[ -z "$extra" ]; check $? dll.system-imports-only "$imports"

# --- loading and the host-like checks ----------------------------------------
out=$(wine "$host" info "$dll" 2>&1)
echo "$out" | grep -q '^name KV23-T ZuDiz' && echo "$out" | grep -q '^flags 0x1031'
check $? dll.loads "$(echo "$out" | tr '\n' ' ')"
wine "$host" validate "$dll" >"$work/validate.txt" 2>&1
status=$?
sed 's/^/    /' "$work/validate.txt"
check $status host.validate "$(tail -1 "$work/validate.txt")"

# --- the back end's own tests --------------------------------------------------
wine "$win/kv_win32_tests.exe" >"$work/backend.txt" 2>&1
status=$?
sed 's/^/    /' "$work/backend.txt"
check $status backend.tests "$(tail -1 "$work/backend.txt")"

# --- the same audio through the Linux .so and the DLL --------------------------
if [ -x "$linux/host/kv23" ] && [ -f "$linux/KV23-T-ZuDiz.so" ]; then
    python3 "$root/tests/windows/wav_tools.py" make "$work/in.wav"
    for setting in "0=0.25 3=0.5" "0=1 1=1 3=0.7" "0=0 2=1 3=0.2"; do
        largs=() wargs=()
        for p in $setting; do largs+=(--param "$p"); wargs+=(--param "$p"); done
        "$linux/host/kv23" process "$work/in.wav" "$work/linux.wav" --plugin "$linux/KV23-T-ZuDiz.so" "${largs[@]}" >/dev/null 2>&1
        wine "$host" process "$dll" "$work/in.wav" "$work/win.wav" "${wargs[@]}" >/dev/null 2>&1
        result=$(python3 "$root/tests/windows/wav_tools.py" compare "$work/linux.wav" "$work/win.wav")
        check $? "audio.same-as-linux[$setting]" "$result"
    done
else
    fail audio.same-as-linux "no Linux build at $linux (kv23 and the .so)"
fi

# --- the panel on screen ---------------------------------------------------------
# Starts kv23w at (10, 10) with the panel of $panel (the DLL's editor, or
# the CLAP plug-in's gui) and waits until it is open.
panel=(gui "$dll")
start_gui() {
    : >"$work/gui.txt"
    wine "$host" "${panel[@]}" --at 10 10 "$@" >"$work/gui.txt" 2>&1 &
    gui=$!
    for _ in $(seq 100); do grep -q '^ready' "$work/gui.txt" && break; sleep 0.1; done
    sleep 1  # the first paint
}
stop_gui() { wait "$gui"; }

# The Linux picture first, on a private server of kv23's own.
if [ -x "$linux/host/kv23" ]; then
    DISPLAY= "$linux/host/kv23" snapshot "$work/linux.png" --plugin "$linux/KV23-T-ZuDiz.so" \
        >"$work/snapshot.txt" 2>&1 || sed 's/^/    /' "$work/snapshot.txt"
fi
# The open panel's pixels against the Linux picture. Text is drawn by each
# system's font renderer: the two decibel fields are left out, every other
# pixel (the bitmaps) must be equal. A slow first paint gets up to three looks.
panel_matches_linux() {
    if [ ! -f "$work/linux.png" ]; then
        fail "$1" "no Linux snapshot (kv23 snapshot of $linux)"
        return
    fi
    convert "$work/linux.png" -fill black -draw "rectangle 30,174 59,187" \
        -draw "rectangle 30,314 59,327" "$work/linux-masked.png"
    for _ in 1 2 3; do
        import -window root -crop 240x400+10+10 +repage "$work/wine.png"
        convert "$work/wine.png" -fill black -draw "rectangle 30,174 59,187" \
            -draw "rectangle 30,314 59,327" "$work/wine-masked.png"
        diff=$(compare -metric AE "$work/linux-masked.png" "$work/wine-masked.png" null: 2>&1)
        [ "$diff" = 0 ] && break
        sleep 1
    done
    [ "$diff" = 0 ]; check $? "$1" "differing pixels outside the text: $diff"
    all=$(compare -metric AE "$work/linux.png" "$work/wine.png" null: 2>&1)
    echo "    (with the text fields: $all pixels differ)"
}
start_gui --seconds 8
grep -q 'child yes 240x400' "$work/gui.txt"; check $? gui.child-window "$(head -1 "$work/gui.txt")"
panel_matches_linux gui.panel-matches-linux
stop_gui

# A knob drag: press on the gain knob, move up 30 pixels, release. In
# about one run of thirty Wine loses the first click after a pointer move:
# each pointer scenario gets a second try.
knob_drag() {
    start_gui --seconds 6
    xdotool mousemove 130 140; sleep 0.3
    xdotool mousedown 1
    for y in 135 130 125 120 115 110; do sleep 0.1; xdotool mousemove 130 $y; done
    sleep 0.3; xdotool mouseup 1
    stop_gui
}
knob_drag
grep -q '^beginEdit 0' "$work/gui.txt" || knob_drag
grep -q '^beginEdit 0' "$work/gui.txt" && grep -q '^automate 0 ' "$work/gui.txt" &&
    grep -q '^endEdit 0' "$work/gui.txt"
check $? gui.knob-drag-edits "$(grep -c '^automate 0' "$work/gui.txt") automations, $(grep '^param 0' "$work/gui.txt")"
# 30 pixels of travel at 1/640 of the range each.
final=$(awk '/^param 0/{print $3}' "$work/gui.txt")
awk -v v="$final" 'BEGIN{exit !(v > 0.25 + 25/640 && v < 0.25 + 35/640)}'
check $? gui.knob-drag-distance "gain $final after about 30 pixels up from 0.25"

# Typing into the gain field: a click opens it, "6" and Return set 6 dB.
type_gain() {
    start_gui --seconds 6
    xdotool mousemove 55 191; sleep 0.2; xdotool click 1; sleep 0.8
    xdotool type --delay 50 "6"; xdotool key Return
    stop_gui
}
type_gain
grep -q '^param 0 0.4375' "$work/gui.txt" || type_gain
grep -q '^param 0 0.4375' "$work/gui.txt"
check $? gui.text-field-return "$(grep '^param 0' "$work/gui.txt") (6 dB is 0.4375)"

# Three files dragged over the panel from a second thread of the host.
start_gui --seconds 8 --drag-files 3 --drag-after 500
stop_gui
line=$(grep '^drag' "$work/gui.txt")
# DRAGDROP_S_DROP, nothing taken (effect 0), and the move offered while over the panel.
echo "$line" | grep -q 'result 0x40100 effect 0 feedback 0x[0-9A-F]*[2367ABEF] '
check $? gui.drag-three-files "$line"

# --- the CLAP plug-in's panel -----------------------------------------------------
# The same panel behind the gui extension: the same pixels, and a drag that
# reaches the host as gesture and value events (the plain value in dB).
clap=$win/KV23-T-ZuDiz.clap
exports=$(x86_64-w64-mingw32-objdump -p "$clap" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    grep -E '^\s+\[ *[0-9]+\] +[A-Za-z_][A-Za-z0-9_]*$' | awk '{print $NF}' | tr '\n' ' ')
[ "$exports" = "clap_entry " ]; check $? clap.exports "$exports"
panel=(clapgui "$clap")
start_gui --seconds 8
grep -q 'opened 1 child yes 240x400' "$work/gui.txt"
check $? clap.gui.child-window "$(head -1 "$work/gui.txt")"
panel_matches_linux clap.gui.panel-matches-linux
stop_gui
knob_drag
grep -q '^beginEdit 0' "$work/gui.txt" || knob_drag
grep -q '^beginEdit 0' "$work/gui.txt" && grep -q '^automate 0 ' "$work/gui.txt" &&
    grep -q '^endEdit 0' "$work/gui.txt"
check $? clap.gui.knob-drag-edits "$(grep -c '^automate 0' "$work/gui.txt") value events, $(grep '^param 0' "$work/gui.txt")"
# 30 pixels of travel from 0 dB at 32 dB over 640 pixels.
final=$(awk '/^param 0/{print $3}' "$work/gui.txt")
awk -v v="$final" 'BEGIN{exit !(v > 25 * 32 / 640 && v < 35 * 32 / 640)}'
check $? clap.gui.knob-drag-distance "gain $final dB after about 30 pixels up from 0 dB"
panel=(gui "$dll")

# --- the VST3 bundle --------------------------------------------------------------
# The module a Windows host loads from the bundle: its entry points, a render
# through its processor bit for bit the Linux VST3's, its view in a host
# window through IPlugFrame and attached(HWND) with the same pixels, and a
# drag that reaches the host through the component handler.
vst3=$win/KV23-T-ZuDiz.vst3
module=$vst3/Contents/x86_64-win/KV23-T-ZuDiz.vst3
exports=$(x86_64-w64-mingw32-objdump -p "$module" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    grep -E '^\s+\[ *[0-9]+\] +[A-Za-z_][A-Za-z0-9_]*$' | awk '{print $NF}' | sort | tr '\n' ' ')
imports=$(x86_64-w64-mingw32-objdump -p "$module" | awk '/DLL Name:/{print $3}' | sort | tr '\n' ' ')
extra=$(echo "$imports" | tr ' ' '\n' | grep -v -i -x -E 'KERNEL32.dll|USER32.dll|GDI32.dll|msvcrt.dll|ole32.dll|SHELL32.dll|' || true)
[ "$exports" = "ExitDll GetPluginFactory InitDll " ] && [ -z "$extra" ]
check $? vst3.exports "$exports; imports $imports"

# Settings in the parameters' own units (dB, a switch's 0 or 1), which each
# build's controller turns into its normalised value; none is the default
# setting, and the last one is in the Clean quality.
if [ -x "$linux/host/kv23" ] && [ -d "$linux/KV23-T-ZuDiz.vst3" ]; then
    for setting in "0=3.5 3=-6.5" "0=24 1=1 3=12.8" "0=-8 2=1 3=-19.2" "0=6 3=-3 4=1"; do
        args=()
        for p in $setting; do args+=(--param "$p"); done
        rm -f "$work/linux.wav" "$work/win.wav"  # a render that fails leaves no file to compare
        "$linux/host/kv23" process "$work/in.wav" "$work/linux.wav" --plugin "$linux/KV23-T-ZuDiz.vst3" "${args[@]}" >/dev/null 2>&1
        wine "$host" vst3process "$vst3" "$work/in.wav" "$work/win.wav" "${args[@]}" >/dev/null 2>&1
        result=$(python3 "$root/tests/windows/wav_tools.py" compare "$work/linux.wav" "$work/win.wav")
        check $? "vst3.audio.same-as-linux[$setting]" "$result"
    done
else
    fail vst3.audio.same-as-linux "no Linux build at $linux (kv23 and KV23-T-ZuDiz.vst3)"
fi

panel=(vst3gui "$vst3")
start_gui --seconds 4
grep -q 'opened 1 child yes 240x400' "$work/gui.txt"
check $? vst3.gui.child-window "$(head -1 "$work/gui.txt")"
panel_matches_linux vst3.gui.panel-matches-linux
stop_gui
knob_drag
grep -q '^beginEdit 0' "$work/gui.txt" || knob_drag
# begin_edit, then every perform_edit (at least one while the button is
# held), then end_edit. Wine's lines end in CR LF: the flag is read as a number.
awk '/^beginEdit 0/{b=NR} /^automate 0 /{n++; if(!b||e) bad=1; if(int($5)==1) held++} /^endEdit 0/{e=NR}
     END{exit !(b && e && n && held && !bad)}' "$work/gui.txt"
check $? vst3.gui.knob-drag-edits "$(grep -c '^automate 0' "$work/gui.txt") perform_edit, $(grep -c '^automate 0 .* held 1' "$work/gui.txt") while held, $(grep '^param 0' "$work/gui.txt")"
final=$(awk '/^param 0/{print $3}' "$work/gui.txt")
awk -v v="$final" 'BEGIN{exit !(v > 0.25 + 25/640 && v < 0.25 + 35/640)}'
check $? vst3.gui.knob-drag-distance "gain $final after about 30 pixels up from 0.25"
panel=(gui "$dll")

# --- the panel on a dense screen ------------------------------------------------
# Windows at 200 % (LogPixels 192): a DPI-aware host gets a 480 x 800 panel,
# drawn from the dense artwork as the Linux panel at the host's factor 2.
if [ -x "$linux/host/kv23" ]; then
    DISPLAY= "$linux/host/kv23" snapshot "$work/linux2.png" --plugin "$linux/KV23-T-ZuDiz.so" \
        --scale 2 >"$work/snapshot2.txt" 2>&1 || sed 's/^/    /' "$work/snapshot2.txt"
fi
# The desktop's density, read back: a reg call that loses a race with the
# wine server's start leaves the old value and the dense checks measure 1x.
set_dpi() {
    for _ in 1 2 3 4 5; do
        wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
        wine reg query 'HKCU\Control Panel\Desktop' /v LogPixels 2>/dev/null |
            grep -qi "$(printf '0x%x' "$1")" && return 0
        sleep 1
    done
    return 1
}
set_dpi 192 || echo "    (LogPixels could not be set to 192)"
# The open panel's pixels against the Linux picture at factor 2, the text
# fields left out.
dense_matches_linux() {
    if [ ! -f "$work/linux2.png" ]; then
        fail "$1" "no Linux snapshot at factor 2"
        return
    fi
    mask() { convert "$1" -fill black -draw "rectangle 60,348 119,375" \
        -draw "rectangle 60,628 119,655" "$2"; }
    mask "$work/linux2.png" "$work/linux2-masked.png"
    for _ in 1 2 3; do
        import -window root -crop 480x800+10+10 +repage "$work/wine2.png"
        mask "$work/wine2.png" "$work/wine2-masked.png"
        diff=$(compare -metric AE "$work/linux2-masked.png" "$work/wine2-masked.png" null: 2>&1)
        [ "$diff" = 0 ] && break
        sleep 1
    done
    [ "$diff" = 0 ]; check $? "$1" "differing pixels outside the text: $diff"
}
start_gui --seconds 8
grep -q 'child yes 480x800' "$work/gui.txt"; check $? dense.child-window "$(head -1 "$work/gui.txt")"
dense_matches_linux dense.panel-matches-linux
stop_gui
# The VST3 and CLAP hosts size their window from get_size before the panel
# is in it (attached, set_parent), when the panel does not know its screen:
# one that opens at 200 % asks for its size (IPlugFrame's resize_view, the
# gui extension's request_resize).
for format in vst3 clap; do
    if [ $format = vst3 ]; then panel=(vst3gui "$vst3"); else panel=(clapgui "$clap"); fi
    start_gui --seconds 4
    grep -q '^ready 10 10 480 800 opened 1 child yes 480x800' "$work/gui.txt" &&
        grep -q '^sizeWindow 480 800' "$work/gui.txt"
    check $? $format.dense.window-follows-panel "$(grep -E '^(sizeWindow|ready)' "$work/gui.txt" | tr -d '\r' | tr '\n' ' ')"
    dense_matches_linux $format.dense.panel-matches-linux
    stop_gui
done
panel=(gui "$dll")
set_dpi 96 || echo "    (LogPixels could not be set back to 96)"

echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
