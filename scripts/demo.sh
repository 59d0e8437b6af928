#!/usr/bin/env bash
# The main job: installs what is missing, builds, renders the demo signal
# through the plug-in with the command-line host, and says where things are.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh build
mkdir -p out
build/host/kv23 process --demo out/demo.wav --plugin build/KV23-T-ZuDiz.so
# The panel as a host shows it, with one over so the peak LED is lit (on
# $DISPLAY, or on a private Xvfb when there is none).
build/host/kv23 snapshot out/panel.png --plugin build/KV23-T-ZuDiz.so --over
echo
echo "Plug-in:  $(pwd)/build/KV23-T-ZuDiz.so   (cmake --install build puts it into ~/.vst)"
echo "Demo:     $(pwd)/out/demo.wav"
echo "Panel:    $(pwd)/out/panel.png"
