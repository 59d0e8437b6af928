#!/usr/bin/env bash
# Builds the Windows DLL (and the Windows test programs) with MinGW-w64 into
# build-win/, installing the cross compiler first when it is missing:
#   scripts/windows.sh [BUILD_DIR]
# The result: BUILD_DIR/KV23-T-ZuDiz.dll, a 64-bit VST 2.4 plug-in that
# exports VSTPluginMain and main and imports only system libraries; beside
# it KV23-T-ZuDiz.clap and the VST3 bundle KV23-T-ZuDiz.vst3/.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/apt.sh
dir=${1:-build-win}

packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 cmake ninja-build libstb-dev
  googletest)
if [ "${KV_WINDOWS_TESTS:-0}" = 1 ]; then
  # Running the Windows suite needs Wine and a display server as well.
  packages+=(wine wine64 fonts-wine fonts-liberation xvfb x11-utils xdotool imagemagick python3)
fi
apt_install_missing "${packages[@]}"

cmake -S platform/win32 -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$dir" -- -j"$(nproc)"
echo "Windows plug-in: $(cd "$dir" && pwd)/KV23-T-ZuDiz.dll"
