# Installs Debian packages when they are missing. Sourced by the scripts:
#   source "$(dirname "$0")/lib/apt.sh"
#   apt_install_missing PACKAGE...
# Does nothing when every package is installed. Otherwise, as root, installs
# the missing ones without questions and without recommended packages; another
# package manager (an unattended upgrade on a fresh machine) may hold apt's
# lock for a while, so a failed attempt is retried for up to about two
# minutes. Returns non-zero with a message naming the packages when it is not
# root or when apt-get keeps failing.
apt_install_missing() {
  local missing=() p attempt
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0

  if [ "$(id -u)" -ne 0 ]; then
    echo "error: missing packages: ${missing[*]}" >&2
    echo "  install them as root: apt-get install --no-install-recommends ${missing[*]}" >&2
    return 1
  fi
  echo "Installing: ${missing[*]}"
  for attempt in 1 2 3 4 5 6 7 8 9; do
    if DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
       DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
         "${missing[@]}" >/dev/null; then
      return 0
    fi
    [ "$attempt" = 9 ] || { echo "apt-get failed (attempt $attempt); trying again in 15 s" >&2; sleep 15; }
  done
  echo "error: apt-get could not install: ${missing[*]}" >&2
  return 1
}
