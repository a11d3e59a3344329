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
# A command that fails says so and the demonstration goes on.
show() {
  echo
  echo "\$ $(basename "$1") ${*:2}"
  "$@" || { local status=$?; echo "(exit status $status)"; return "$status"; }
}
has_command() { "$cli" --help 2>/dev/null | grep -Eq "^ +$1( |\$)"; }

set +e
if has_command scan && has_command program && has_command read && [[ -x $vqbench ]]; then
  # The default bench in a file of its own, so the window's bench stays as it was.
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  export VQPIPEX_BENCH=$scratch/bench.txt
  echo "Bench file: $VQPIPEX_BENCH (a fresh copy of the default bench)"
  show "$vqbench" reset --default
  show "$vqbench" list
  show "$cli" scan
  # The demonstration's records stay with its bench, not in the user's state folder.
  records=$scratch/production.sqlite
  show "$cli" program --template "$template" --log "$scratch/production.csv" --db "sqlite:$records"
  show "$cli" scan
  show "$cli" verify --template "$template" --db "$records"
  show "$cli" read --template "$template" | head -n 12
  echo "(... every device's EEPROM follows)"
  show "$vqbench" list
  echo
  echo "\$ cat production.csv"
  cat "$scratch/production.csv"
  show "$cli" history --db "$records"
else
  echo "(this build of burnwise-cli has no device commands yet: showing the template and its image)"
  show "$cli" template check "$template" && echo "(template is valid)"
  show "$cli" encode --template "$template" --device-number 0 --format dump
fi
