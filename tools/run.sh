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
cli=$bin/burnwise/cli/burnwise-cli
show() {
  echo
  echo "\$ burnwise-cli $*"
  "$cli" "$@"
}
show template check examples/templates/KR2S-Serial-Cable.ept && echo "(template is valid)"
show encode --template examples/templates/KR2S-Serial-Cable.ept --device-number 0 --format dump
show encode examples/kr2s-worked.settings
