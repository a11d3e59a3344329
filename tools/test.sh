#!/usr/bin/env bash
# Installs what the build needs, then configures, builds and runs every test.
#   tools/test.sh              the normal build (build/default)
#   tools/test.sh --sanitize   the same suite under AddressSanitizer + UBSan (build/sanitize)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
preset=default
[[ ${1:-} == --sanitize ]] && preset=sanitize
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
cmake --workflow --preset "$preset"
