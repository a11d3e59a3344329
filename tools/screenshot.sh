#!/usr/bin/env bash
# Takes PNG screenshots of Burnwise's window under Xvfb: the window's typical states
# (start, Edit mode of each family, Program mode, a scan, a finished run, About) drawn by
# burnwise-screens, the production line window drawn by burnwise-production-screens, and
# the plain program as the X server shows it.
#   tools/screenshot.sh [OUTDIR]     (default: burnwise/help/images)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/default/burnwise/ui/view

if [[ ${1:-} == --inside-display ]]; then
  out=$2
  "$bin/burnwise-screens" "$out"
  "$bin/burnwise-production-screens" "$out"
  # The program itself, as the X server shows it (no window manager, so no frame).
  "$bin/burnwise" &
  pid=$!
  window=$(xdotool search --sync --name '^Burnwise - Multi Device EEPROM Programmer' | head -1)
  sleep 0.5
  import -window "$window" "$out/window.png"
  echo "wrote $out/window.png"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  # The window has few colours: a palette image is a quarter of the size.
  for png in "$out"/*.png; do convert "$png" -strip "PNG8:$png"; done
  exit 0
fi

out=${1:-burnwise/help/images}
bash tools/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target burnwise burnwise-screens burnwise-production-screens
mkdir -p "$out"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR=$scratch/runtime XDG_DATA_HOME=$scratch/data
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
# A bench of its own, so the shots never touch the user's simulated devices.
export VQPIPEX_BENCH=$scratch/bench.txt

xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" --inside-display "$out"
