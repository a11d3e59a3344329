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
  libsqlite3-dev sqlite3 libpq-dev postgresql-15 openssl
  libzint-dev librsvg2-dev libcairo2-dev libxml2-dev libcups2-dev
  cups-daemon cups-client cups-core-drivers poppler-utils zbar-tools dmtx-utils
  ccache git
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
  # The PostgreSQL server and the print service are only there for the tests, which start servers of their own in
  # temporary folders. Installed plainly it makes a cluster of the machine's and starts it
  # (without systemd, through its init script): so no service may start while we install,
  # and postgresql-common, which decides whether a first cluster is made, comes first and
  # is told to make none.
  policy=/usr/sbin/policy-rc.d
  if [[ ! -e $policy ]]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
    "${sudo_cmd[@]}" chmod 755 "$policy"
    trap '"${sudo_cmd[@]}" rm -f "$policy"' EXIT
  fi
  if [[ " ${missing[*]} " == *" postgresql-15 "* ]]; then
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends postgresql-common
    "${sudo_cmd[@]}" sed -ri 's/^#?[[:space:]]*create_main_cluster[[:space:]]*=.*/create_main_cluster = false/' \
      /etc/postgresql-common/createcluster.conf
  fi
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
