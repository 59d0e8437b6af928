#!/bin/bash
# kv23 validate's allocation failures on a private X server of its own (the
# editor's open needs one; a shared one may go away while the checks run).
#   run_allocation.sh KV23 PLUGIN.so
set -u
kv23="$1"
plugin="$2"
command -v Xvfb >/dev/null 2>&1 || { echo "skip: Xvfb missing"; exit 77; }

work=$(mktemp -d)
xvfb_pid=""
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

. "$(dirname "$0")/../support/xvfb.sh"
start_private_xvfb 361 420 640x480x24 "$work/xvfb.log" || { echo "skip: Xvfb did not start"; exit 77; }

"$kv23" validate --plugin "$plugin" --strictness 10 --group allocation
