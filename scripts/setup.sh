#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
set -euo pipefail
source "$(dirname "$0")/lib/apt.sh"

packages=(
  cmake ninja-build g++ pkg-config
  lv2-dev lilv-utils sordi dpf-source jalv jackd2 calf-plugins
  libcairo2-dev libx11-dev libxext-dev libpng-dev libstb-dev libsndfile1-dev libfftw3-dev
  fontconfig fonts-liberation2 fonts-urw-base35
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth xdotool x11-apps x11-utils x11-xserver-utils imagemagick libxres-dev
  ardour qtractor muse jackd2 libasound2-dev
  openbox python3-gi gir1.2-gtk-3.0 python3-pyqt5 locales
  help2man dpkg-dev file zip unzip lintian
  dpf-plugins-vst lsp-plugins-vst zam-plugins
  clang-format clang-tidy
)
if [ "${KV_WITH_CLANG:-1}" = 1 ]; then
  packages+=(clang libclang-rt-14-dev)
fi

apt_install_missing "${packages[@]}"

# The editor tests type numbers in a German locale (a comma for the point).
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  echo "Generating the locale de_DE.UTF-8"
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: the locale de_DE.UTF-8 is missing and this is not root; run: sudo $0" >&2
    exit 1
  fi
  sed -i 's/^# *\(de_DE\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE\.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' >>/etc/locale.gen
  locale-gen >/dev/null
fi
