#!/bin/bash
# kv23 validate's allocation failures on a private X server of its own (the
# editor's open needs one; a shared one may go away while the checks run).
#   run_allocation.sh KV23 PLUGIN.so
set -u
kv23="$1"
plugin="$2"
# shellcheck source=tests/support/gui_harness.sh
. "$(dirname "$0")/../support/gui_harness.sh"
harness_start Xvfb
start_private_xvfb 640x480x24 "$work/xvfb.log" || { echo "skip: Xvfb did not start"; exit 77; }

"$kv23" validate --plugin "$plugin" --strictness 10 --group allocation
