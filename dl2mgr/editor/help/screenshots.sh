#!/usr/bin/env bash
# Takes the help's screenshots of the dl2mgr window under Xvfb, after a Read DL from the
# simulated keyer holding the demo image: dl2mgr-window.png at 96 dpi (556 by 455) and
# dl2mgr-window-120dpi.png at 120 dpi (738 by 568).
#   dl2mgr/editor/help/screenshots.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../../build/default}" && pwd)
if [[ ${2:-} != --inside-display ]]; then
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$build" --inside-display
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
for dpi in 96 120; do
  export XDG_CONFIG_HOME=$work/config$dpi
  cp "$here/../../keyersim/demo-keyer.eep" "$work/keyer$dpi.eep"
  "$build/dl2mgr/keyersim/dahlo2-sim" --com 1 --image "$work/keyer$dpi.eep" >/dev/null 2>&1 &
  sim=$!
  for _ in $(seq 50); do [[ -L $XDG_CONFIG_HOME/dl2mgr/ports/COM1 ]] && break; sleep 0.1; done
  QT_FONT_DPI=$dpi "$build/dl2mgr/editor/dl2mgr" &
  app=$!
  window=$(xdotool search --sync --name '^Dahlo2 Standalone Editor$' | head -1)
  xdotool windowfocus --sync "$window"
  # The middle of Read DL, as the Fusion style and Liberation Sans place it.
  if [[ $dpi == 96 ]]; then at=(378 342); else at=(472 427); fi
  xdotool mousemove --window "$window" "${at[@]}" click 1
  sleep 7 # the connect and the 256-byte dump at 1200 baud
  xdotool mousemove --window "$window" 5 300
  sleep 0.5
  name=dl2mgr-window.png
  [[ $dpi == 96 ]] || name=dl2mgr-window-${dpi}dpi.png
  import -window "$window" "$here/$name"
  kill "$app" "$sim"
  wait "$app" "$sim" 2>/dev/null || true
done
