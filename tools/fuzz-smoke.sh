#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one briefly.
#   tools/fuzz-smoke.sh [SECONDS_PER_TARGET]   (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
seconds=${1:-5}
cmake --workflow --preset fuzz
shopt -s nullglob
targets=(build/fuzz/fuzzers/*)
if ((${#targets[@]} == 0)); then
  echo "fuzz-smoke: no fuzz targets were built" >&2
  exit 1
fi
failed=0
for t in "${targets[@]}"; do
  [[ -x $t ]] || continue
  name=$(basename "$t")
  corpus=$(mktemp -d)
  seeds=()
  [[ -d fuzz/corpus/$name ]] && seeds=("fuzz/corpus/$name")
  echo "== $name: ${seconds}s"
  if "$t" -max_total_time="$seconds" -print_final_stats=1 "$corpus" "${seeds[@]}" \
       >"build/fuzz/$name.log" 2>&1; then
    grep -E 'stat::number_of_executed_units' "build/fuzz/$name.log" || true
  else
    echo "fuzz-smoke: $name failed" >&2
    tail -n 40 "build/fuzz/$name.log" >&2
    failed=1
  fi
  rm -rf "$corpus"
done
exit $failed
