#!/usr/bin/env bash
# Takes PNG screenshots of Burnwise's window under Xvfb: the window's typical states
# (start, Edit mode of each family, Program mode, a scan, a finished run, About) drawn by
# burnwise-screens, the production line window drawn by burnwise-production-screens, and
# the plain program as the X server shows it.
#   tools/screenshot.sh [OUTDIR]     (default: burnwise/help/images)
#   tools/screenshot.sh --screens [OUTDIR]   the program on 1024x768 and 1280x1024 screens at
#                                            scale 1 and 1.5 (default: build/screens)
set -euo pipefail
cd "$(dirname "$0")/.."
bin=build/default/burnwise/ui/view

# The program on a screen of the given size and scale: the main window as it opens, after a
# run (with the results window placed beside or below it), and the production line window.
if [[ ${1:-} == --screen-inside ]]; then
  out=$2 name=$3
  "$bin/burnwise" "$PWD/examples/templates/KR2S-Serial-Cable.ept" &
  pid=$!
  window=$(xdotool search --sync --name 'Burnwise - Multi Device EEPROM Programmer' | head -1)
  sleep 1
  import -window root "$out/$name-start.png"
  xdotool windowfocus --sync "$window" key ctrl+p
  sleep 2
  import -window root "$out/$name-run.png"
  # Keys given while the run goes on are thrown away: wait for its end.
  sleep 8
  xdotool windowfocus --sync "$window" key ctrl+l
  sleep 1.5
  import -window root "$out/$name-line.png"
  echo "wrote $out/$name-*.png"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  exit 0
fi

if [[ ${1:-} == --screens ]]; then
  out=${2:-build/screens}
  cmake --build --preset default --target burnwise
  mkdir -p "$out"
  scratch=$(mktemp -d)
  trap 'rm -rf "$scratch"' EXIT
  export XDG_RUNTIME_DIR=$scratch/runtime XDG_DATA_HOME=$scratch/data
  export XDG_CONFIG_HOME=$scratch/config XDG_STATE_HOME=$scratch/state
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  for size in 1024x768 1280x1024; do
    for scale in 1 1.5; do
      # A bench and settings of its own for each: three blank cables.
      export VQPIPEX_BENCH=$scratch/bench-$size-$scale.txt
      rm -rf "$XDG_CONFIG_HOME" "$XDG_STATE_HOME"
      for i in 1 2 3; do build/default/vqpipex/vqbench add KR2S >/dev/null; done
      QT_SCALE_FACTOR=$scale xvfb-run -a -s "-screen 0 ${size}x24 -nolisten tcp" \
        "$0" --screen-inside "$out" "screen-$size-x$scale"
    done
  done
  exit 0
fi

if [[ ${1:-} == --inside-display ]]; then
  out=$2
  "$bin/burnwise-screens" "$out"
  "$bin/burnwise-production-screens" "$out"
  # The program itself, as the X server shows it (no window manager, so no frame).
  "$bin/burnwise" &
  pid=$!
  window=$(xdotool search --sync --name 'Burnwise - Multi Device EEPROM Programmer' | head -1)
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
