#!/usr/bin/env bash
# Checks the Debian package and the desktop files as Debian's own tools do: lintian over the
# package (no errors allowed; the warnings are shown), desktop-file-validate over the
# desktop entries and appstreamcli over the AppStream data. Takes seconds after a build.
#   tools/package-check.sh [BUILD_DIR]    (default build/default; builds the package there)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
bash tools/install-deps.sh

(cd "$build" && rm -f burnwise_*.deb && cpack -G DEB >/dev/null)
deb=$(ls "$build"/burnwise_*.deb)
echo "== lintian $deb"
# Errors fail; warnings and the rest are printed so they stay in sight.
set +e
lintian --fail-on error --display-info "$deb"
status=$?
set -e
((status == 0)) || { echo "package-check: lintian found errors" >&2; exit 1; }

echo "== desktop-file-validate"
desktop-file-validate packaging/burnwise.desktop dl2mgr/editor/dl2mgr.desktop
echo "== appstreamcli validate"
appstreamcli validate --no-net "$build"/packaging/*.metainfo.xml
echo "package-check: lintian, desktop-file-validate and appstreamcli passed"
