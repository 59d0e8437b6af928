#!/usr/bin/env bash
# Runs every test: installs what is missing, builds, checks the format and
# lints the sources, runs ctest on the normal build, then again under the
# address and undefined-behaviour sanitizers, and the threading tests under
# the thread sanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
echo "== build (RelWithDebInfo)"
scripts/build.sh build
echo "== format (.clang-format) and lint (.clang-tidy)"
scripts/lint.sh build
echo "== ctest"
(cd build && ctest --output-on-failure -j"$jobs" --timeout 600 --repeat until-pass:2)

echo "== build (address + undefined sanitizers)"
scripts/build.sh build-asan -DKV_SANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug
echo "== ctest under address + undefined sanitizers"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions=$PWD/../tests/lsan.supp:print_suppressions=0 ctest --output-on-failure -j"$jobs" --timeout 900 --repeat until-pass:2 -LE 'bench|nosan')

echo "== build (thread sanitizer)"
# Only what the threading tests run: the rest of the suite gains nothing here.
scripts/build.sh build-tsan -DKV_SANITIZE=thread -DCMAKE_BUILD_TYPE=Debug \
  --target test_effect_threads test_editor_threads test_controls test_graphics kv23 KV23-T-ZuDiz \
  KV23-T-ZuDiz-clap kv_private_x KV23-T-ZuDiz-vst3 kv_vst3_plugin_test
echo "== ctest -L threads under the thread sanitizer"
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j"$jobs" --timeout 900 -L threads)

echo "== fuzzing: clang, address + undefined sanitizers, 40 s per harness"
scripts/fuzz.sh 40

echo "== Windows: cross-built DLL under Wine (compared with the Linux build)"
KV_WINDOWS_TESTS=1 scripts/windows.sh build-win
tests/windows/run.sh "$PWD/build-win" "$PWD/build"

echo "== release packages (.deb, tarball, zip) made from the builds above"
tests/package/check_release.sh "$PWD/build" "$PWD/build-win"
