#!/bin/bash
# The LV2 panel in a real host: jalv.gtk3 (suil embeds our X11 UI in GTK)
# under a real JACK server (the dummy driver, a server name of our own so
# that it never meets another JACK), on a private Xvfb with openbox:
# - jalv set volume to -16 dB at its start (-c): the panel shows the picture
#   of the background, both switches off, gain at 0 dB, volume at -16 dB,
#   the LED dark;
# - a click on pad 1 and 100 pixels up on the gain knob (XTest) reach jalv:
#   the state it saves (File > Save) holds pad1 1 and gain +5 dB;
# - a preset chosen from jalv's Presets menu while the panel is open sets
#   gain 16 dB, volume 8 dB and the pads the other way round: jalv prints
#   the values and the panel shows them, pixel for pixel as kv23 snapshot
#   shows the VST 2 panel at the same values (decibel fields included);
# - a full-scale tone from JACK's metronome drives the output over full
#   scale: jalv prints it from the peak port and the LED lights;
# - jalv passes no scale factor: on a desktop at Xft.dpi 192 the panel is
#   480 x 800 device pixels from the 2x artwork, and a click there works.
# Exits 77 (skipped) when a program it needs is missing.
#
#   run_jalv.sh BUNDLE PANEL_PIXELS KV23 VST2_PLUGIN.so
# shellcheck disable=SC2317  # the checks call some functions through check
set -u
bundle=$(cd "$1" && pwd)
pixels="$2"
kv23="$3"
plugin="$4"
uri=urn:harrowquill:kv23-t-zudiz
# shellcheck source=tests/support/gui_harness.sh
. "$(dirname "$0")/../support/gui_harness.sh"
harness_start Xvfb openbox xdotool xwininfo xprop xrdb import stdbuf jackd jack_wait jack_metro jack_connect jalv.gtk3 lv2info convert compare

# Only our bundle and our preset on the LV2 path; jalv and the menus' GTK
# settings read nothing of the user's.
mkdir -p "$work/lv2/kv23-test.preset.lv2" "$work/home"
ln -s "$bundle" "$work/lv2/"
export LV2_PATH="$work/lv2" HOME="$work/home" XDG_CONFIG_HOME="$work/home" XDG_RUNTIME_DIR="$work" \
    GSETTINGS_BACKEND=memory
# A preset of our own for jalv's Presets menu.
preset="<$uri:test-preset> a pset:Preset ; lv2:appliesTo <$uri>"
prefixes='@prefix lv2: <http://lv2plug.in/ns/lv2core#> .
@prefix pset: <http://lv2plug.in/ns/ext/presets#> .
@prefix rdfs: <http://www.w3.org/2000/01/rdf-schema#> .'
cat >"$work/lv2/kv23-test.preset.lv2/manifest.ttl" <<EOF
$prefixes
$preset ; rdfs:seeAlso <preset.ttl> .
EOF
cat >"$work/lv2/kv23-test.preset.lv2/preset.ttl" <<EOF
$prefixes
$preset ; rdfs:label "kv23 test" ; lv2:port
    [ lv2:symbol "gain" ; pset:value 16.0 ] , [ lv2:symbol "volume" ; pset:value 8.0 ] ,
    [ lv2:symbol "pad1" ; pset:value 0.0 ] , [ lv2:symbol "pad2" ; pset:value 1.0 ] .
EOF
lv2info "$uri" | grep -q 'ui#X11UI' || { echo "FAILED: lv2info finds no X11 UI in the bundle"; exit 1; }

start_private_xvfb 800x900x24 "$work/xvfb.log" || { echo "skip: Xvfb did not start"; exit 77; }
start_openbox

export JACK_DEFAULT_SERVER="kv23-jalv-$$" JACK_NO_START_SERVER=1 JACK_NO_AUDIO_RESERVATION=1
jackd --name "$JACK_DEFAULT_SERVER" --no-realtime -d dummy -r 48000 -p 256 >"$work/jackd.log" 2>&1 &
# shellcheck disable=SC2034  # stopped on exit
jack_pid=$!
stop_on_exit jack_pid
jack_wait --wait --timeout 10 >/dev/null 2>&1 || { echo "FAILED: jackd did not start"; cat "$work/jackd.log"; exit 1; }

out="$work/jalv.out"
: >"$out"
jalv_pid=""
stop_on_exit jalv_pid
# jalv with OPTIONS... on our plug-in, its output appended to $out.
start_jalv() {
    (cd "$work" && exec stdbuf -oL jalv.gtk3 --print-controls --exact-jack-name --jack-name=kv23-jalv \
        "$@" "$uri" </dev/null >>"$out" 2>>"$work/gui.err") &
    jalv_pid=$!
}

# The panel: the innermost window of W x H inside jalv's (its frame and
# GTK's socket may have that size too); its absolute corner in wx wy.
find_panel() {
    wx=""
    top=$(xdotool search --name '^KV23-T ZuDiz$' 2>/dev/null | head -1)
    [ -n "$top" ] || return 1
    read -r wx wy < <(xwininfo -id "$top" -tree | awk -v size=" $1x$2+" '
        index($0, size) { match($0, /^ */); if (RLENGTH > depth) { depth = RLENGTH; at = $NF } }
        END { if (at == "") exit 1; split(at, p, "+"); print p[2], p[3] }')
    [ -n "$wx" ]
}
# Waits up to 10 s for the panel of W x H and then for its first frame.
wait_for_panel() {
    for _ in $(seq 200); do
        find_panel "$1" "$2" && break
        kill -0 "$jalv_pid" 2>/dev/null || break
        sleep 0.05
    done
    find_panel "$1" "$2" || { echo "FAILED: jalv shows no $1 x $2 panel"; fail=1; harness_end; }
    # Until the first frame is presented the screen shows what was there before.
    for _ in $(seq 100); do
        shot
        background && break
        sleep 0.05
    done
}
shot() { import -window root "$work/shot.png"; }
# Image NUMBER with source offset OY at panel rectangle L T R B in the last
# screenshot, drawn at $density device pixels a unit.
density=1
looks() { "$pixels" "$work/shot.png" "$wx" "$wy" "$1" "$2" "$3" "$4" "$5" 0 "$6" "$density" >/dev/null 2>&1; }
background() { looks 101 0 0 240 24 0 && looks 101 0 54 240 90 54 && looks 101 0 188 240 230 188 &&
    looks 101 0 335 240 400 335; }
pads() { looks 103 55 24 95 54 "$1" && looks 103 137 24 177 54 "$2"; }
knob_offset() { awk -v v="$1" 'BEGIN { p = int(7680 * v); print (p >= 7680 ? 7680 : int(p / 80) * 80) }'; }
# The value jalv holds for port SYMBOL in the state it saved into DIR.
saved() { awk -v s="\"$2\"" '/lv2:symbol/ { at = $2 } /pset:value/ && at == s { print $2 }' "$1/state.ttl"; }
near() { [ -n "$1" ] && awk -v a="$1" -v b="$2" 'BEGIN { exit !(a - b < 0.001 && b - a < 0.001) }'; }

# jalv's File > Save (Ctrl+S) into the folder NAME beside its working
# directory. The first Return can go to the file chooser's completion.
save_state() {
    xdotool windowactivate --sync "$top" key ctrl+s
    for _ in $(seq 100); do
        xdotool search --name '^Save State$' >/dev/null 2>&1 && break
        sleep 0.05
    done
    sleep 0.3
    xdotool type --delay 30 "$1"
    for _ in 1 2 3; do
        sleep 0.3
        xdotool key Return
        for _ in $(seq 40); do
            [ -s "$work/$1/state.ttl" ] && sleep 0.2 && return 0
            sleep 0.05
        done
    done
    return 1
}

start_jalv -c volume=-16
wait_for_panel 240 400
check "jalv embeds the panel: the background picture around the controls" background
check "both switches off" pads 0 0
check "gain knob at its default, 0 dB" looks 102 80 90 160 170 "$(knob_offset 0.25)"
check "volume knob at -16 dB, as jalv was told at its start" looks 102 80 230 160 310 "$(knob_offset 0.25)"
check "LED dark without a signal" looks 104 180 307 208 335 0

press 75 39         # pad 1
drag_up 120 130 10 10  # the gain knob, 100 pixels up: 100 / 640 of 32 dB
shot
check "pad 1 shows on" looks 103 55 24 95 54 30
check "gain knob shows +5 dB" looks 102 80 90 160 170 "$(knob_offset 0.40625)"
if save_state state1; then
    check "jalv holds pad1 = 1 from the click" near "$(saved "$work/state1" pad1)" 1
    check "jalv holds gain = +5 dB from the drag ($(saved "$work/state1" gain))" \
        near "$(saved "$work/state1" gain)" 5
    check "... pad2 = 0 as it was" near "$(saved "$work/state1" pad2)" 0
    check "... volume = -16 dB as it was" near "$(saved "$work/state1" volume)" -16
else
    check "jalv saves its state" false
fi

# The preset, the only item below Save and Delete in jalv's Presets menu.
before=$(lines)
xdotool windowactivate --sync "$top" key alt+p
sleep 0.4
xdotool key Up Return
for _ in $(seq 60); do
    since "$before" | grep -q '^volume = ' && break
    sleep 0.05
done
sleep 0.3
check "jalv applies the preset: gain 16, volume 8, pad1 0, pad2 1" test "$(since "$before" |
    grep -E '^(gain|volume|pad1|pad2) = ' | sort | tr '\n' ' ')" = \
    "gain = 16.000000 pad1 = 0.000000 pad2 = 1.000000 volume = 8.000000 "
shot
check "the gain knob moves to 16 dB" looks 102 80 90 160 170 "$(knob_offset 0.75)"
check "the volume knob moves to 8 dB" looks 102 80 230 160 310 "$(knob_offset 0.625)"
check "pad 1 off, pad 2 on" pads 0 30
convert "$work/shot.png" -crop "240x400+$wx+$wy" +repage "$work/panel.png"
"$kv23" snapshot "$work/vst2.png" --plugin "$plugin" --param 0=0.75 --param 2=1 --param 3=0.625 >/dev/null
check "the panel in jalv has the pixels of kv23's snapshot of the VST 2 panel at these values" \
    test "$(compare -metric AE "$work/panel.png" "$work/vst2.png" null: 2>&1)" = 0

# A full-scale tone (1 kHz, 95 ms of every 100) into both inputs: at the
# preset's settings the output goes over full scale.
before=$(lines)
jack_metro --name kv23-metro --bpm 600 --duration 95 --frequency 1000 --amplitude 1 >/dev/null 2>&1 &
# shellcheck disable=SC2034  # stopped on exit
metro_pid=$!
stop_on_exit metro_pid
for _ in $(seq 100); do
    jack_connect kv23-metro:600_bpm kv23-jalv:in_l 2>/dev/null && break
    sleep 0.05
done
jack_connect kv23-metro:600_bpm kv23-jalv:in_r
over() { since "$before" | awk '/^peak = / && $3 > 1 { found = 1 } END { exit !found }'; }
for _ in $(seq 60); do
    over && break
    sleep 0.05
done
check "jalv reports a peak over full scale from the port (up to $(since "$before" |
    awk '/^peak = / && $3 > m { m = $3 } END { print m + 0 }'))" over
for _ in $(seq 40); do
    shot
    looks 104 180 307 208 335 28 && break
    sleep 0.05
done
check "the LED lights" looks 104 180 307 208 335 28
check "jalv is still running" kill -0 "$jalv_pid"

# jalv passes no scale factor: on a desktop at Xft.dpi 192 the panel follows
# the desktop, asks jalv for 480 x 800 device pixels and takes clicks there.
stop_child "$metro_pid"
stop_child "$jalv_pid"
echo "Xft.dpi: 192" | xrdb -merge
density=2
start_jalv
wait_for_panel 480 800
check "at Xft.dpi 192 jalv shows the panel at 480 x 800 from the 2x artwork" background
check "both switches off at 2x" pads 0 0
press 314 78  # the centre of pad 2, in device pixels
shot
check "a click at the centre of pad 2 at 2x turns it on" pads 0 30
check "jalv is still running" kill -0 "$jalv_pid"
harness_end
