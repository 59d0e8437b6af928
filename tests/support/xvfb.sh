# shellcheck shell=bash
# shellcheck disable=SC2034  # xvfb_server_pid is for the caller
# Sourced by the end-to-end test scripts: a private X server for one test
# run, started by kv_private_x (kv23's own launcher, built in tests/support
# of the build; KV_PRIVATE_X names another copy).
#
#   start_private_xvfb SCREEN LOG
# starts a server with screen SCREEN (e.g. 640x480x24) on a display number
# the server picks itself, the launcher's messages in LOG; sets xvfb_pid
# (the launcher's process, which stops the server when it is stopped) and
# xvfb_server_pid (the server's own), and exports DISPLAY. Answers non-zero
# when the server does not start within ten seconds; ends the script
# (status 1) when the launcher is not built.
# The caller stops it (kill "$xvfb_pid") in its own clean-up.
start_private_xvfb() {
    local screen=$1 log=$2 launcher=${KV_PRIVATE_X:-$PWD/../support/kv_private_x} disp=""
    [ -x "$launcher" ] || { echo "FAILED: $launcher is not built"; exit 1; }
    : >"$log.display"  # there before the first read, whenever the launcher starts
    "$launcher" --screen "$screen" >"$log.display" 2>"$log" &
    xvfb_pid=$!
    for _ in $(seq 200); do
        read -r disp xvfb_server_pid <"$log.display"
        [ -n "$disp" ] && { export DISPLAY="$disp"; return 0; }
        kill -0 "$xvfb_pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}
