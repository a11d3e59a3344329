#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, fuzz, show its
# windows, and make and check its manual pages and Debian package. Safe to run again:
# apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  clang lld libclang-rt-dev clang-format
  qt6-base-dev qt6-base-dev-tools qt6-serialport-dev libgl-dev
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  xvfb xauth xdotool fonts-liberation
  qt6-svg-dev adwaita-icon-theme imagemagick
  dpkg-dev file desktop-file-utils
  help2man groff-base lintian appstream shared-mime-info libxml2-utils bash-completion
  git
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if ((${#missing[@]})); then
  sudo_cmd=()
  [[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
