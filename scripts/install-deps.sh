#!/usr/bin/env bash
# Installs every Debian package the station needs to build, run, test and benchmark.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  qtbase5-dev qtbase5-dev-tools libqt5svg5-dev libqt5opengl5-dev libqwt-qt5-dev
  qttranslations5-l10n
  libpoppler-glib-dev libcairo2-dev
  xvfb xauth xdotool libxcb1-dev fonts-dejavu-core
  ghostscript poppler-utils
  libfftw3-dev valgrind
  python3 help2man file dpkg-dev lintian desktop-file-utils appstream
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
fi
