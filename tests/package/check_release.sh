#!/usr/bin/env bash
# The release packages as a musician gets them, made by scripts/package.sh
# from existing builds:
#   tests/package/check_release.sh LINUX_BUILD WINDOWS_BUILD
# The .deb: its fields, its files, a Depends that names the package of every
# library the binaries need, no lintian error, and the installed kv23
# running the installed plug-in from a scratch root. The tarball and the zip:
# their files, the binaries in them, the DLL's two exports.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: tests/package/check_release.sh LINUX_BUILD WINDOWS_BUILD (both built)" >&2
  exit 2
fi
build=$(cd "$1" && pwd)
windows_build=$(cd "$2" && pwd)

fail=0
ok() { echo "ok: $*"; }
bad() { echo "FAILED: $*"; fail=1; }
check() { # DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then ok "$what"; else bad "$what"; fi
}

# The version as the top-level CMakeLists.txt states it.
version=$(sed -n 's/^project(KV23TZuDiz VERSION \([0-9.]*\) .*/\1/p' "$root/CMakeLists.txt")
[ -n "$version" ] || { echo "FAILED: no version in CMakeLists.txt"; exit 1; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/home"
# kv23 must find the plug-in it was shipped with, not one in ~/.vst.
run_kv23() { env -u KV23_PLUGIN HOME="$scratch/home" "$@"; }

# A sanitizer build is no release.
mkdir "$scratch/asan"
echo 'KV_SANITIZE:STRING=address,undefined' >"$scratch/asan/CMakeCache.txt"
if "$root/scripts/package.sh" --build "$scratch/asan" --windows-build "$windows_build" \
  --out "$scratch/none" >"$scratch/asan.log" 2>&1; then
  bad "a sanitizer build is refused"
else
  check "a sanitizer build is refused" grep -q 'sanitizer build' "$scratch/asan.log"
fi

dist=$scratch/dist
if ! "$root/scripts/package.sh" --build "$build" --windows-build "$windows_build" \
  --out "$dist" >"$scratch/package.log" 2>&1; then
  cat "$scratch/package.log"
  echo "FAILED: scripts/package.sh"
  exit 1
fi
expected="KV23-T-ZuDiz-$version-linux-x86_64.tar.gz KV23-T-ZuDiz-$version-windows-x64.zip kv23-t-zudiz_${version}_amd64.deb"
check "dist/ holds exactly: $expected" test "$(cd "$dist" && ls | sort | tr '\n' ' ')" = "$expected "

# --- the Debian package ---
deb=$dist/kv23-t-zudiz_${version}_amd64.deb
field() { dpkg-deb -f "$deb" "$1"; }
check "Package kv23-t-zudiz" test "$(field Package)" = kv23-t-zudiz
check "Version $version" test "$(field Version)" = "$version"
check "Architecture amd64" test "$(field Architecture)" = amd64
check "Section sound" test "$(field Section)" = sound
check "a description beyond its first line" test "$(field Description | wc -l)" -gt 3

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort | tr '\n' ' ')
check "the .deb's files: $files" test "$files" = "./usr/bin/kv23 ./usr/lib/clap/KV23-T-ZuDiz.clap \
./usr/lib/lv2/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz.ttl ./usr/lib/lv2/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_dsp.so \
./usr/lib/lv2/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_ui.so ./usr/lib/lv2/KV23-T-ZuDiz.lv2/manifest.ttl ./usr/lib/vst/KV23-T-ZuDiz.so \
./usr/lib/vst3/KV23-T-ZuDiz.vst3/Contents/x86_64-linux/KV23-T-ZuDiz.so \
./usr/share/doc/kv23-t-zudiz/changelog.gz ./usr/share/doc/kv23-t-zudiz/copyright \
./usr/share/man/man1/kv23.1.gz "

unpacked=$scratch/root
dpkg-deb -x "$deb" "$unpacked"
depends=$(field Depends)
# Every library the two binaries link comes from a package that Depends names.
# A library is registered under the path the loader finds or under the file
# it points to (merged /usr); one dpkg -S asks for all of them.
needed=$(for binary in usr/bin/kv23 usr/lib/vst/KV23-T-ZuDiz.so usr/lib/lv2/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_dsp.so \
  usr/lib/lv2/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_ui.so usr/lib/clap/KV23-T-ZuDiz.clap \
  usr/lib/vst3/KV23-T-ZuDiz.vst3/Contents/x86_64-linux/KV23-T-ZuDiz.so; do
  for soname in $(objdump -p "$unpacked/$binary" | awk '$1 == "NEEDED" { print $2 }'); do
    # "libm.so.6 => /lib/.../libm.so.6 (0x...)", but the loader as "/lib64/ld-linux...".
    ldd "$unpacked/$binary" |
      awk -v n="$soname" '$1 == n && $2 == "=>" { print $3 } $1 ~ ("/" n "$") { print $1 }'
  done
done | sort -u)
# shellcheck disable=SC2046,SC2086 # library paths, one word each
owners=$(dpkg -S $needed $(realpath $needed) 2>/dev/null)
for path in $needed; do
  real=$(realpath "$path")
  package=$(awk -v p="$path" -v r="$real" '$2 == p || $2 == r { sub(/:.*/, "", $1); print $1 }' \
    <<<"$owners" | head -1)
  if [ -z "$package" ]; then
    bad "the binaries link $path, which no installed package provides"
  elif [[ ", $depends," != *", $package "* && ", $depends," != *", $package,"* ]]; then
    bad "the binaries link $path from $package, which Depends lacks"
  fi
done
ok "Depends: $depends"

info=$(run_kv23 "$unpacked/usr/bin/kv23" info 2>&1)
check "the installed kv23 info loads the installed plug-in" \
  grep -qx "Plug-in file    $unpacked/usr/lib/vst/KV23-T-ZuDiz.so" <<<"$info"
check "... and reads its identity" grep -q "Vendor version  1110" <<<"$info"
check "the installed kv23 --version says $version" \
  test "$(run_kv23 "$unpacked/usr/bin/kv23" --version)" = "kv23 (KV23-T ZuDiz) $version"
commands=$(run_kv23 "$unpacked/usr/bin/kv23" --help | sed -n '/^commands:/,/^$/s/^  \([a-z]\)/\1/p' | wc -l)
check "the man page is kv23(1) and explains each of the $commands commands" \
  bash -c "zcat '$unpacked/usr/share/man/man1/kv23.1.gz' | grep -q '^\.TH KV23 \"1\"' &&
           zcat '$unpacked/usr/share/man/man1/kv23.1.gz' | grep -c '^\.SS \"kv23 ' | grep -qx $commands &&
           zcat '$unpacked/usr/share/man/man1/kv23.1.gz' | groff -ww -man -Tutf8 >/dev/null"
check "the copyright file carries the licence" \
  grep -qF " $(head -1 "$root/LICENSE")" "$unpacked/usr/share/doc/kv23-t-zudiz/copyright"

if lintian --fail-on error "$deb" >"$scratch/lintian.log" 2>&1; then
  ok "lintian: no error"
else
  bad "lintian reports errors"
fi
sed 's/^/  lintian: /' "$scratch/lintian.log"

# --- the Linux tarball ---
name=KV23-T-ZuDiz-$version-linux-x86_64
tar -C "$scratch" -xzf "$dist/$name.tar.gz"
listing=$(tar -tzf "$dist/$name.tar.gz" | sort | tr '\n' ' ')
check "the tarball's files: $listing" test "$listing" = \
  "$name/ $name/INSTALL $name/KV23-T-ZuDiz.clap $name/KV23-T-ZuDiz.lv2/ $name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz.ttl \
$name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_dsp.so $name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_ui.so $name/KV23-T-ZuDiz.lv2/manifest.ttl \
$name/KV23-T-ZuDiz.so $name/KV23-T-ZuDiz.vst3/ $name/KV23-T-ZuDiz.vst3/Contents/ \
$name/KV23-T-ZuDiz.vst3/Contents/x86_64-linux/ $name/KV23-T-ZuDiz.vst3/Contents/x86_64-linux/KV23-T-ZuDiz.so \
$name/LICENSE $name/kv23 "
check "the tarball's plug-in exports exactly VSTPluginMain and main" test \
  "$(nm -D --defined-only "$scratch/$name/KV23-T-ZuDiz.so" | awk '{ print $3 }' | sort | tr '\n' ' ')" \
  = "VSTPluginMain main "
check "the tarball's binaries are stripped" \
  bash -c "file '$scratch/$name/kv23' '$scratch/$name/KV23-T-ZuDiz.so' | grep -c ', stripped' | grep -qx 2"
info=$(run_kv23 "$scratch/$name/kv23" info 2>&1)
check "the tarball's kv23 info loads the plug-in beside it" \
  grep -qx "Plug-in file    $scratch/$name/KV23-T-ZuDiz.so" <<<"$info"
check "the tarball's LV2 bundle exports only lv2_descriptor and is stripped" \
  bash -c "test \"\$(nm -D --defined-only '$scratch/$name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_dsp.so' |
           awk '{ print \$3 }')\" = lv2_descriptor &&
           file '$scratch/$name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_dsp.so' | grep -q ', stripped'"
check "the tarball's LV2 UI exports only lv2ui_descriptor and is stripped" \
  bash -c "test \"\$(nm -D --defined-only '$scratch/$name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_ui.so' |
           awk '{ print \$3 }')\" = lv2ui_descriptor &&
           file '$scratch/$name/KV23-T-ZuDiz.lv2/KV23-T-ZuDiz_ui.so' | grep -q ', stripped'"
check "the tarball's CLAP plug-in exports only clap_entry and is stripped" \
  bash -c "test \"\$(nm -D --defined-only '$scratch/$name/KV23-T-ZuDiz.clap' | awk '{ print \$3 }')\" = clap_entry &&
           file '$scratch/$name/KV23-T-ZuDiz.clap' | grep -q ', stripped'"
vst3_module=$scratch/$name/KV23-T-ZuDiz.vst3/Contents/x86_64-linux/KV23-T-ZuDiz.so
check "the tarball's VST3 module exports exactly GetPluginFactory, ModuleEntry, ModuleExit and is stripped" \
  bash -c "test \"\$(nm -D --defined-only '$vst3_module' | awk '{ print \$3 }' | sort | tr '\n' ' ')\" = \
           'GetPluginFactory ModuleEntry ModuleExit ' && file '$vst3_module' | grep -q ', stripped'"
check "the tarball's INSTALL names ~/.vst, ~/.lv2, ~/.clap, ~/.vst3 and the version" \
  bash -c "grep -q 'cp KV23-T-ZuDiz.so ~/.vst/' '$scratch/$name/INSTALL' &&
           grep -q 'cp -r KV23-T-ZuDiz.lv2 ~/.lv2/' '$scratch/$name/INSTALL' &&
           grep -q 'cp KV23-T-ZuDiz.clap ~/.clap/' '$scratch/$name/INSTALL' &&
           grep -q 'cp -r KV23-T-ZuDiz.vst3 ~/.vst3/' '$scratch/$name/INSTALL' &&
           grep -q '^KV23-T ZuDiz $version for Linux' '$scratch/$name/INSTALL'"

# --- the Windows zip ---
name=KV23-T-ZuDiz-$version-windows-x64
listing=$(unzip -Z1 "$dist/$name.zip" | sort | tr '\n' ' ')
check "the zip's files: $listing" test "$listing" = \
  "$name/ $name/INSTALL.txt $name/KV23-T-ZuDiz.clap $name/KV23-T-ZuDiz.dll $name/KV23-T-ZuDiz.vst3/ \
$name/KV23-T-ZuDiz.vst3/Contents/ $name/KV23-T-ZuDiz.vst3/Contents/x86_64-win/ \
$name/KV23-T-ZuDiz.vst3/Contents/x86_64-win/KV23-T-ZuDiz.vst3 $name/LICENSE.txt "
unzip -q "$dist/$name.zip" -d "$scratch"
dll=$scratch/$name/KV23-T-ZuDiz.dll
check "the zip's DLL is a 64-bit Windows DLL" \
  bash -c "file '$dll' | grep -q 'PE32+ executable (DLL).*x86-64'"
exports=$(x86_64-w64-mingw32-objdump -p "$dll" |
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '/^\t\[/ { print $3 }' | sort | tr '\n' ' ')
check "the zip's DLL exports exactly VSTPluginMain and main ($exports)" \
  test "$exports" = "VSTPluginMain main "
clap=$scratch/$name/KV23-T-ZuDiz.clap
check "the zip's CLAP plug-in is a 64-bit Windows DLL exporting exactly clap_entry" \
  bash -c "file '$clap' | grep -q 'PE32+ executable (DLL).*x86-64' &&
           x86_64-w64-mingw32-objdump -p '$clap' | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^\$/p' |
           awk '/^\t\[/ { print \$3 }' | tr '\n' ' ' | grep -qx 'clap_entry '"
vst3_dll=$scratch/$name/KV23-T-ZuDiz.vst3/Contents/x86_64-win/KV23-T-ZuDiz.vst3
check "the zip's VST3 module is a 64-bit Windows DLL exporting exactly GetPluginFactory, InitDll, ExitDll" \
  bash -c "file '$vst3_dll' | grep -q 'PE32+ executable (DLL).*x86-64' &&
           x86_64-w64-mingw32-objdump -p '$vst3_dll' | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^\$/p' |
           awk '/^\t\[/ { print \$3 }' | sort | tr '\n' ' ' | grep -qx 'ExitDll GetPluginFactory InitDll '"
check "the zip's texts have Windows line ends" \
  bash -c "head -1 '$scratch/$name/INSTALL.txt' | grep -q $'$version for Windows.*\r\$' &&
           head -1 '$scratch/$name/LICENSE.txt' | grep -q $'\r\$'"

exit $fail
