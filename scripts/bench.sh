#!/usr/bin/env bash
# The editor's cost beside a peer's, measured in one run on one private Xvfb:
# our plug-in at 1x and at the host's factor 2 (480 x 800, the dense artwork),
# and DPF's 3BandEQ (an OpenGL/X11 editor from dpf-plugins-vst,
# drawn by Mesa's software renderer under Xvfb), each opened by
# build/bench/editor_bench in a process of its own.
#   scripts/bench.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
seconds=${2:-10}
peer=/usr/lib/vst/3BandEQ-vst.so

# The peer and what its editor needs to draw without a GPU.
source "$root/scripts/lib/apt.sh"
apt_install_missing xvfb xdotool dpf-plugins-vst libgl1-mesa-dri libglx-mesa0

"$root/scripts/setup.sh"
"$root/scripts/build.sh" "$build" --target KV23-T-ZuDiz editor_bench kv_private_x >/dev/null

source "$root/tests/support/xvfb.sh"
log=$(mktemp)
KV_PRIVATE_X="$build/tests/support/kv_private_x" start_private_xvfb 1280x1024x24 "$log" ||
    { cat "$log" >&2; exit 1; }
trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; rm -f "$log" "$log.display"' EXIT

# Each plug-in runs in five processes of its own, taking turns with the
# other, and every figure is the median of the five: one process can land
# on a quieter or busier stretch of the machine than the next, and our
# editor's idle share is small beside the host loop's own, so a single
# process's figure is mostly that stretch's noise.
bench_once() {
  # The server first finishes with the process before (a GL editor's
  # teardown keeps it busy for a while), which would slow this one's open.
  sleep 2
  "$build/bench/editor_bench" "$@" --seconds "$seconds" --server-pid "$xvfb_server_pid"
  # The first open once more, in a host that has set up fontconfig before,
  # as GTK and Qt hosts have.
  sleep 2
  "$build/bench/editor_bench" "$@" --host-fontconfig --opens 2 --seconds 0.1 |
    awk '$1 ~ /^open_first/ { print $1 "_host_fontconfig", $2 }'
}
ours="" dense="" theirs=""
for run in 1 2 3 4 5; do
  ours+=$(bench_once "$build/KV23-T-ZuDiz.so")$'\n'
  dense+=$(bench_once "$build/KV23-T-ZuDiz.so" --scale 2)$'\n'
  theirs+=$(bench_once "$peer")$'\n'
done

# The median of a key's values (the first value for words such as a size).
value() {
  awk -v k="$1" '$1 == k { v[n++] = $2 }
    END { if (n == 0) exit; if (v[0] ~ /x/) { print v[0]; exit }
          for (i = 0; i < n; i++) for (j = i + 1; j < n; j++) if (v[j] + 0 < v[i] + 0) { t = v[i]; v[i] = v[j]; v[j] = t }
          print v[int(n / 2)] }' <<<"$2"
}
printf '%-40s %12s %12s %12s %10s\n' "on $DISPLAY, medians of 5 runs, $seconds s of idle each" "KV23-T" "KV23-T 2x" "3BandEQ" "ours/peer"
for key in editor_size open_first_ms open_first_cpu_ms \
           open_first_ms_host_fontconfig open_first_cpu_ms_host_fontconfig \
           open_later_ms open_later_cpu_ms open_later_min_ms idle_calls \
           idle_process_cpu_pct idle_host_loop_cpu_pct idle_editor_cpu_pct idle_in_calls_cpu_pct idle_server_cpu_pct idle_bytes_per_idle idle_writes_per_idle; do
  a=$(value "$key" "$ours"); d=$(value "$key" "$dense"); b=$(value "$key" "$theirs")
  ratio=$(awk -v a="$a" -v b="$b" 'BEGIN { if (a ~ /x/ || b == "" || b + 0 == 0) print "-"; else printf "%.2f", a / b }')
  printf '%-40s %12s %12s %12s %10s\n' "$key" "$a" "$d" "$b" "$ratio"
done
