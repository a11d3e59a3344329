#!/usr/bin/env bash
# Installs what the build needs, then configures, builds and runs every test.
#   tools/test.sh              the normal build (build/default)
#   tools/test.sh --sanitize   the same suite under AddressSanitizer + UBSan (build/sanitize)
#   tools/test.sh --tsan       the suite without the windows under ThreadSanitizer (build/tsan)
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
preset=default
[[ ${1:-} == --sanitize ]] && preset=sanitize
[[ ${1:-} == --tsan ]] && preset=tsan
# The database tests must not skip here: the server was installed above.
export BW_REQUIRE_POSTGRES=1
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
chmod 700 "$XDG_RUNTIME_DIR"
cmake --workflow --preset "$preset"
