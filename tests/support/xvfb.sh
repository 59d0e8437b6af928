# Sourced by the end-to-end test scripts: a private Xvfb for one test run.
#
#   start_private_xvfb FIRST LAST SCREEN LOG
# starts Xvfb on the first display number from FIRST to LAST that has no
# lock file or socket, with screen SCREEN (e.g. 640x480x24), its output in
# LOG; sets xvfb_pid and exports DISPLAY. Answers non-zero when no number is
# free or the server does not take connections within five seconds. The
# caller stops it (kill "$xvfb_pid") in its own clean-up.
start_private_xvfb() {
    local first=$1 last=$2 screen=$3 log=$4 n disp=""
    for n in $(seq "$first" "$last"); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || { disp=":$n"; break; }
    done
    [ -n "$disp" ] || return 1
    Xvfb "$disp" -screen 0 "$screen" -nolisten tcp >"$log" 2>&1 &
    xvfb_pid=$!
    export DISPLAY="$disp"
    for _ in $(seq 100); do
        xdotool getmouselocation >/dev/null 2>&1 && return 0
        sleep 0.05
    done
    return 1
}
