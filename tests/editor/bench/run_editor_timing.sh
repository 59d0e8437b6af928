#!/bin/bash
# Runs editor_timing on a private Xvfb (or skips, 77, without one).
#   run_editor_timing.sh EDITOR_TIMING PLUGIN.so [SECONDS]
set -u
command -v Xvfb >/dev/null 2>&1 || { echo "skip: Xvfb missing"; exit 77; }
for n in $(seq 291 350); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { disp=":$n"; break; }
done
Xvfb "$disp" -screen 0 640x480x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill $xvfb_pid 2>/dev/null; wait $xvfb_pid 2>/dev/null' EXIT
export DISPLAY="$disp"
for _ in $(seq 100); do
    [ -e "/tmp/.X11-unix/X${disp#:}" ] && break
    sleep 0.05
done
sleep 0.2
"$1" "$2" "${3:-5}"
