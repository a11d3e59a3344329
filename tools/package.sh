#!/usr/bin/env bash
# Builds the programs and the Debian package of them; prints the package's path.
#   tools/package.sh            build/default, then cpack there
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh >&2
cmake --preset default >&2
cmake --build --preset default >&2
cd build/default
rm -f burnwise_*.deb
cpack -G DEB >&2
ls "$PWD"/burnwise_*.deb
