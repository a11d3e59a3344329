#!/usr/bin/env bash
# Starts the simulated keyer on COM1, then the dl2mgr window against it. Without a display
# it shows the same with dl2mgr-cli: read the keyer, edit the image, write it back, test a
# message. The keyer's EEPROM is kept in ~/.local/share/dl2mgr/simulated-keyer.eep.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake --preset default >/dev/null
targets=(dahlo2-sim dl2mgr-cli)
gui=0
if [[ -n ${DISPLAY:-}${WAYLAND_DISPLAY:-} ]]; then
  gui=1
  targets+=(dl2mgr)
fi
cmake --build --preset default --target "${targets[@]}"
bin=build/default/dl2mgr

data=${XDG_DATA_HOME:-$HOME/.local/share}/dl2mgr
mkdir -p "$data"
eeprom=$data/simulated-keyer.eep
[[ -e $eeprom ]] || cp dl2mgr/keyersim/demo-keyer.eep "$eeprom"

# The simulator prints its terminal's path once it listens; COM1 then points at it.
coproc SIM { exec "$bin/keyersim/dahlo2-sim" --com 1 --image "$eeprom" 2>/dev/null; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
read -r -t 10 tty <&"${SIM[0]}"
echo "dahlo2-sim answers on $tty (COM1), keeping its EEPROM in $eeprom"

if ((gui)); then
  echo "Starting dl2mgr: choose Comm > Com1 if another port is checked, then Read DL."
  "$bin/editor/dl2mgr"
  exit
fi

echo "No display (DISPLAY and WAYLAND_DISPLAY are unset): showing dl2mgr-cli instead."
cli=$bin/cli/dl2mgr-cli
work=$(mktemp -d)
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -rf "$work"' EXIT
show() {
  echo
  echo "\$ dl2mgr-cli $*"
  "$cli" "$@"
}
show --port 1 info
show --port 1 read "$work/keyer.eep"
show show "$work/keyer.eep"
echo
echo "\$ # edit: Weight (byte 4) to 60"
printf '\x3c' | dd of="$work/keyer.eep" bs=1 seek=4 conv=notrunc status=none
show show "$work/keyer.eep" | grep -E '^(\$|Weight)'
show --port 1 write "$work/keyer.eep"
show --port 1 test 1
