#!/usr/bin/env bash
# Checks the form of the code and lints it; fails on any difference or finding:
#   scripts/lint.sh [BUILD_DIR]      (default build)
# 1. clang-format --dry-run -Werror over every tracked C/C++ file (.clang-format).
#    To fix: git ls-files -z '*.c' '*.cpp' '*.h' | xargs -0 clang-format -i
# 2. clang-tidy with the checks of .clang-tidy (and the folders' own
#    .clang-tidy files) over our sources in BUILD_DIR/compile_commands.json.
#    The build must have been made: some sources include generated files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
status=0

echo "== clang-format --dry-run -Werror"
mapfile -d '' sources < <(git ls-files -z -- '*.c' '*.cpp' '*.h')
if ! clang-format --dry-run -Werror "${sources[@]}"; then
  echo "error: the files above differ from .clang-format" >&2
  status=1
fi

echo "== clang-tidy"
[ -f "$build/compile_commands.json" ] ||
  { echo "error: no $build/compile_commands.json; build first (scripts/build.sh $build)" >&2; exit 1; }
# Our own sources only: files the build generates (under the build folder) are
# not ours to lint.
start=$(date +%s)
if ! run-clang-tidy -quiet -j"$(nproc)" -p "$build" \
    "^$root/(bench|clap|common|dsp|host|lv2|panel|platform|resources|tests|vst2|vst3|vstgui)/" >"$build/clang-tidy.log" 2>&1; then
  # The findings with their source lines, without the commands and counts.
  sed 's/\x1b\[[0-9;]*m//g' "$build/clang-tidy.log" |
    grep -vE '^clang-tidy|warnings? generated|^Suppressed|^Use -header-filter' >&2 || true
  echo "error: clang-tidy found the above (whole output: $build/clang-tidy.log)" >&2
  status=1
fi
echo "clang-tidy: $(( $(date +%s) - start )) s"
exit "$status"
