#!/usr/bin/env bash
# Real X input during a slow Read DL: the window under Xvfb, clicks sent through the X
# server while the read runs (Read DL twice, Write DL, Test DL). Afterwards the simulated
# keyer's log must show one connect and one dump, and no write: input made during a
# command is dropped, not queued and run once the command is over.
#   busy-input-x11.sh DL2MGR DAHLO2_SIM DEMO_IMAGE
set -euo pipefail
if [[ ${4:-} != --inside-display ]]; then
  for tool in xvfb-run xdotool; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
  exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$1" "$2" "$3" --inside-display
fi
dl2mgr=$1 sim=$2 demo=$3
work=$(mktemp -d)
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null; rm -rf "$work"' EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb QT_FONT_DPI=96
mkdir -m 700 "$XDG_RUNTIME_DIR"
cp "$demo" "$work/keyer.eep"
# Each answer 300 ms late: the read takes about 2 s with --fast, long enough to click into.
"$sim" --com 1 --fast --slow 300 --image "$work/keyer.eep" --log "$work/wire.log" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 50); do [[ -L $XDG_CONFIG_HOME/dl2mgr/ports/COM1 ]] && break; sleep 0.1; done
# Under AddressSanitizer: libxkbcommon-x11 hands strndup a keymap name that is not
# terminated, which strict string checks report from inside Qt's xcb start-up.
[[ -z ${ASAN_OPTIONS:-} ]] || export ASAN_OPTIONS=$ASAN_OPTIONS:strict_string_checks=0
"$dl2mgr" >"$work/dl2mgr.log" 2>&1 &
pids+=($!)
window=
for _ in $(seq 200); do
  window=$(xdotool search --name '^Dahlo2 Standalone Editor$' 2>/dev/null | head -1) && [[ -n $window ]] && break
  kill -0 "${pids[1]}" 2>/dev/null || break
  sleep 0.1
done
if [[ -z $window ]]; then
  echo "FAIL: the dl2mgr window did not appear"
  tail -20 "$work/dl2mgr.log"
  exit 1
fi
xdotool windowfocus --sync "$window"
sleep 0.5
# Button middles at 96 dpi with the Fusion style: Read DL, Write DL, Test DL.
xdotool mousemove --window "$window" 378 342 click 1
sleep 0.8 # the read is now waiting on the keyer
xdotool mousemove --window "$window" 378 342 click 1 click 1
xdotool mousemove --window "$window" 441 342 click 1
xdotool mousemove --window "$window" 506 342 click 1
sleep 6 # the read, and whatever would follow it

# The command byte after each 0x00 the keyer received.
commands=$(awk '$2 == "RX" { if (intro && $3 != "00") printf "%s ", $3; intro = ($3 == "00" && !intro) }' \
  "$work/wire.log")
echo "commands the keyer received: $commands"
if [[ $commands != "04 03 09 06 05 0C " ]]; then
  echo "FAIL: expected one connect and one dump (04 03 09 06 05 0C)"
  exit 1
fi
echo "PASS"
