#!/usr/bin/env bash
# Builds the Windows DLL (and the Windows test programs) with MinGW-w64 into
# build-win/, installing the cross compiler first when it is missing:
#   scripts/windows.sh [BUILD_DIR]
# The result: BUILD_DIR/KV23-T-ZuDiz.dll, a 64-bit VST 2.4 plug-in that
# exports VSTPluginMain and main and imports only system libraries.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-win}

packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64 cmake ninja-build libstb-dev
  googletest)
if [ "${KV_WINDOWS_TESTS:-0}" = 1 ]; then
  # Running the Windows suite needs Wine and a display server as well.
  packages+=(wine wine64 fonts-wine fonts-liberation xvfb x11-utils xdotool imagemagick python3)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: packages are missing and this is not root; run: sudo $0" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  # Another package manager may hold the lock for a while: wait for it.
  for attempt in 1 2 3 4 5 6 7 8 9 10; do
    if apt-get update -qq && apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
      break
    fi
    [ "$attempt" = 10 ] && exit 1
    sleep 15
  done
fi

cmake -S platform/win32 -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64.cmake" >/dev/null
cmake --build "$dir" -- -j"$(nproc)"
echo "Windows plug-in: $(cd "$dir" && pwd)/KV23-T-ZuDiz.dll"
