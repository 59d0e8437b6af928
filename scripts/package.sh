#!/usr/bin/env bash
# Builds the release packages of one version into dist/:
#   kv23-t-zudiz_VERSION_amd64.deb            /usr/lib/vst/KV23-T-ZuDiz.so, /usr/lib/lv2/KV23-T-ZuDiz.lv2/,
#                                             /usr/lib/clap/KV23-T-ZuDiz.clap, /usr/lib/vst3/KV23-T-ZuDiz.vst3/,
#                                             /usr/bin/kv23 and its man page
#   KV23-T-ZuDiz-VERSION-linux-x86_64.tar.gz  the plug-in, the LV2 bundle, the CLAP plug-in, the VST3
#                                             bundle, kv23, INSTALL and LICENSE
#   KV23-T-ZuDiz-VERSION-windows-x64.zip      the DLL, the CLAP plug-in, the VST3 bundle, INSTALL.txt and
#                                             LICENSE.txt
#
#   scripts/package.sh [--build DIR] [--windows-build DIR] [--out DIR]
#
# Without --build it makes a Release build in build-release with Debian's
# hardening flags; without --windows-build it runs scripts/windows.sh into
# build-win. A build directory given is packaged as it is (the test suite
# passes its own builds), but a sanitizer build is refused.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

build=
windows_build=
out=dist
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --windows-build) windows_build=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    *) echo "usage: scripts/package.sh [--build DIR] [--windows-build DIR] [--out DIR]" >&2; exit 2 ;;
  esac
done

if [ -n "$build" ]; then
  [ -f "$build/CMakeCache.txt" ] || { echo "error: $build is not a build directory" >&2; exit 1; }
  if grep -q '^KV_SANITIZE:STRING=.' "$build/CMakeCache.txt"; then
    echo "error: $build is a sanitizer build; it cannot be released" >&2
    exit 1
  fi
fi

scripts/setup.sh

if [ -z "$build" ]; then
  build="build-release"
  # Debian's compiler and linker flags: stack protector, fortified C library
  # calls, read-only relocations, and its optimisation level -O2 (GCC 12 at
  # -O3 reports false overlaps in std::string's operator+).
  cppflags=$(dpkg-buildflags --get CPPFLAGS)
  scripts/build.sh "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_C_FLAGS_RELEASE=-DNDEBUG \
    -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
    -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    --target kv_release_files
else
  cmake --build "$build" --target kv_release_files
fi
build=$(cd "$build" && pwd)

if [ -z "$windows_build" ]; then
  windows_build="build-win"
  scripts/windows.sh "$windows_build"
fi
windows_build=$(cd "$windows_build" && pwd)

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
windows_version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$windows_build/CMakeCache.txt")
if [ -z "$version" ] || [ "$version" != "$windows_version" ]; then
  echo "error: the Linux build is version '$version', the Windows build '$windows_version'" >&2
  exit 1
fi

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The Debian package: cpack installs the "release" component of the build.
cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" ||
  { cat "$work/cpack.log" >&2; exit 1; }
deb=$(find "$work/cpack" -maxdepth 1 -name "*_${version}_*.deb")
[ -n "$deb" ] || { echo "error: cpack made no .deb" >&2; cat "$work/cpack.log" >&2; exit 1; }
mv "$deb" "$out/"

# Text files as the platform expects them, with the version filled in.
put_text() { # SOURCE DEST [crlf]
  sed "s/@VERSION@/$version/g" "$1" >"$2"
  if [ "${3:-}" = crlf ]; then sed -i 's/$/\r/' "$2"; fi
}

# The Linux tarball: one folder, the binaries without their debugging symbols.
name=KV23-T-ZuDiz-$version-linux-x86_64
mkdir "$work/$name"
install -m 0644 "$build/KV23-T-ZuDiz.so" "$work/$name/"
install -m 0755 "$build/host/kv23" "$work/$name/"
strip --strip-unneeded "$work/$name/KV23-T-ZuDiz.so"
strip "$work/$name/kv23"
cp -r "$build/KV23-T-ZuDiz.lv2" "$work/$name/"
strip --strip-unneeded "$work/$name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_dsp.so" \
  "$work/$name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_ui.so"
install -m 0644 "$build/KV23-T-ZuDiz.clap" "$work/$name/"
strip --strip-unneeded "$work/$name/KV23-T-ZuDiz.clap"
cp -r "$build/KV23-T-ZuDiz.vst3" "$work/$name/"
strip --strip-unneeded "$work/$name/KV23-T-ZuDiz.vst3/Contents/x86_64-linux/KV23-T-ZuDiz.so"
put_text docs/INSTALL-linux.txt "$work/$name/INSTALL"
cp LICENSE "$work/$name/LICENSE"
tar -C "$work" --owner=0 --group=0 --numeric-owner --sort=name -czf "$out/$name.tar.gz" "$name"

# The Windows zip: the DLL and the texts with Windows line ends.
name=KV23-T-ZuDiz-$version-windows-x64
mkdir "$work/$name"
cp "$windows_build/KV23-T-ZuDiz.dll" "$work/$name/"
x86_64-w64-mingw32-strip --strip-unneeded "$work/$name/KV23-T-ZuDiz.dll"
cp "$windows_build/KV23-T-ZuDiz.clap" "$work/$name/"
x86_64-w64-mingw32-strip --strip-unneeded "$work/$name/KV23-T-ZuDiz.clap"
cp -r "$windows_build/KV23-T-ZuDiz.vst3" "$work/$name/"
x86_64-w64-mingw32-strip --strip-unneeded "$work/$name/KV23-T-ZuDiz.vst3/Contents/x86_64-win/KV23-T-ZuDiz.vst3"
put_text docs/INSTALL-windows.txt "$work/$name/INSTALL.txt" crlf
put_text LICENSE "$work/$name/LICENSE.txt" crlf
rm -f "$out/$name.zip"
(cd "$work" && zip -qrX "$out/$name.zip" "$name")

echo "Release $version in $out:"
(cd "$out" && ls -1 ./*"$version"* | sed 's|^\./|  |')
cd "$root"
