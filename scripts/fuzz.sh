#!/usr/bin/env bash
# Fuzzes the plug-in: builds the libFuzzer harnesses of tests/fuzz with clang
# and the address and undefined-behaviour sanitizers, then runs each harness
# for SECONDS (default 600) from the committed seed corpora. New inputs go to
# DIR/fuzz-corpus/ (the committed corpora stay as they are); a crash leaves
# its input as DIR/fuzz-HARNESS-crash-* and the run fails.
#   scripts/fuzz.sh [SECONDS]        DIR is $KV_FUZZ_DIR or build-fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
dir=${KV_FUZZ_DIR:-build-fuzz}
KV_WITH_CLANG=1 scripts/setup.sh

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DKV_FUZZ=ON -DKV_WERROR=OFF \
  -DKV_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$dir" --target fuzzers -- -j"$(nproc)"

total=0
failed=0
for harness in dispatcher set_chunk process palette_png; do
  work="$dir/fuzz-corpus/$harness"
  log="$dir/fuzz-$harness.log"
  mkdir -p "$work"
  status=ok
  if ! "$dir/tests/fuzz/fuzz_$harness" -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="$dir/fuzz-$harness-" "$work" "tests/fuzz/corpus/$harness" >"$log" 2>&1; then
    status=FAILED
    failed=$((failed + 1))
  fi
  runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -1 | awk '{print $2}')
  runs=${runs:-0}
  echo "fuzz_$harness: $runs executions in ${seconds} s, $status"
  if [ "$status" = FAILED ]; then tail -40 "$log"; fi
  total=$((total + runs))
done
echo "fuzzing: $total executions in total, $failed harness(es) failed"
[ "$failed" -eq 0 ]
