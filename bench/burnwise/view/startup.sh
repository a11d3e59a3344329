#!/usr/bin/env bash
# Medians of Burnwise's start-up to the first painted window and of its resident memory
# then, over RUNS starts under Xvfb (default 9).
#   bench/burnwise/view/startup.sh [RUNS]
set -euo pipefail
cd "$(dirname "$0")/../../.."
runs=${1:-9}
probe=build/default/bench/burnwise/view/burnwise-startup-probe
if [[ ${2:-} == --inside-display ]]; then
  for ((i = 0; i < runs; i++)); do
    BW_LAUNCH_NS=$(date +%s%N) "$probe"
  done
  exit 0
fi
cmake --build --preset default --target burnwise-startup-probe >/dev/null
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
export XDG_RUNTIME_DIR=$scratch/runtime XDG_DATA_HOME=$scratch/data VQPIPEX_BENCH=$scratch/bench.txt
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$runs" --inside-display |
  tee "$scratch/runs.txt"
median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
echo "runs: $runs"
echo "median first paint: $(awk '{print $2}' "$scratch/runs.txt" | median) ms"
echo "median resident memory: $(awk '{print $4 / 1024}' "$scratch/runs.txt" | median) MB"
