#!/usr/bin/env bash
# Installs what the build needs, builds, and starts Burnwise on the simulated bench.
# Without a display it says so and shows what the codec makes of an example template.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default
bin=build/default
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} && -x $bin/burnwise/ui/burnwise ]]; then
  exec "$bin/burnwise/ui/burnwise"
fi
if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
  echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): showing burnwise-cli instead."
else
  echo "The Burnwise window is not built yet: showing burnwise-cli instead."
fi
echo
echo "\$ burnwise-cli encode examples/kr2s-worked.settings"
"$bin/burnwise/cli/burnwise-cli" encode examples/kr2s-worked.settings
echo
echo "\$ burnwise-cli encode examples/kr2s-worked.settings --format dump"
"$bin/burnwise/cli/burnwise-cli" encode examples/kr2s-worked.settings --format dump
