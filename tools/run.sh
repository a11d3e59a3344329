#!/usr/bin/env bash
# Installs what the build needs, builds what is missing, and starts Burnwise on the
# simulated device bench. Without a display it says so and runs a headless
# demonstration instead: burnwise-cli scans, programs and reads back the same bench.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
targets=(burnwise burnwise-cli)
# vqbench comes with the simulated bench's tool set.
if cmake --build --preset default --target help 2>/dev/null | grep -q '^vqbench:'; then
  targets+=(vqbench)
fi
cmake --build --preset default --target "${targets[@]}"
bin=build/default
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
  exec "$bin/burnwise/ui/view/burnwise"
fi

echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): a headless demonstration instead."
cli=$bin/burnwise/cli/burnwise-cli
vqbench=$bin/vqpipex/vqbench
template=examples/templates/KR2S-Serial-Cable.ept
show() {
  echo
  echo "\$ $(basename "$1") ${*:2}"
  "$@"
}
has_command() { "$cli" --help 2>/dev/null | grep -Eq "^ +$1( |\$)"; }

if has_command scan && has_command program && has_command read; then
  show "$cli" scan
  show "$cli" program "$template"
  show "$cli" read
  if [[ -x $vqbench ]]; then show "$vqbench" list; fi
else
  echo "(this build of burnwise-cli has no device commands yet: showing the template and its image)"
  show "$cli" template check "$template" && echo "(template is valid)"
  show "$cli" encode --template "$template" --device-number 0 --format dump
fi
