#!/usr/bin/env bash
# check-files.sh SOURCE_DIR BUILD_DIR: the desktop entries, the file types, the AppStream
# data, the manual pages and the completion script are what the desktop, man and bash
# accept, and every program prints the project's one version. Exit 77 (skipped) when a
# checking tool is missing.
set -uo pipefail
src=$1 build=$2
for tool in desktop-file-validate appstreamcli xmllint groff; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
failed=0
fail() { echo "FAIL: $*"; failed=1; }

# Quiet when valid: any output is a complaint (hints included).
for entry in "$src/packaging/burnwise.desktop" "$src/dl2mgr/editor/dl2mgr.desktop"; do
  out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate $entry"
  [[ -z $out ]] || fail "desktop-file-validate $entry: $out"
done
out=$(xmllint --noout "$src/packaging/burnwise-mime.xml" 2>&1) || fail "xmllint: $out"

shopt -s nullglob
metainfo=("$build"/packaging/*.metainfo.xml)
((${#metainfo[@]} == 2)) || fail "expected two metainfo files, found ${#metainfo[@]}"
for file in "${metainfo[@]}"; do
  appstreamcli validate --no-net --pedantic --explain "$file" >"$build/appstream.log" 2>&1 ||
    fail "appstreamcli validate $file: $(cat "$build/appstream.log")"
done

pages=("$build"/packaging/man/*.[15])
((${#pages[@]} == 8)) || fail "expected eight manual pages, found ${#pages[@]}"
for page in "${pages[@]}"; do
  out=$(groff -ww -z -man "$page" 2>&1)
  [[ -z $out ]] || fail "groff warnings in $page: $out"
done
# Each command-line page names the environment, exit statuses and files, and every
# option the program's help lists.
for page in "$build"/packaging/man/{burnwise-cli,vqbench,dl2mgr-cli,dahlo2-sim}.1; do
  for heading in 'EXIT STATUS' ENVIRONMENT FILES; do
    grep -q "^\.SH \"*$heading" "$page" || fail "$page has no $heading section"
  done
done
for variable in VQPIPEX_BENCH VQPIPEX_DELAY_US VQPIPEX_TRACE; do
  grep -q "$variable" "$build/packaging/man/burnwise-cli.1" || fail "burnwise-cli.1 lacks $variable"
done

bash -n "$src/packaging/completion/burnwise.bash" || fail "completion script syntax"

version=$(sed -n 's/.*ProjectVersion = "\(.*\)";/\1/p' "$build/generated/ProjectVersion.h")
for program in burnwise/cli/burnwise-cli vqpipex/vqbench dl2mgr/cli/dl2mgr-cli \
  dl2mgr/keyersim/dahlo2-sim burnwise/ui/view/burnwise dl2mgr/editor/dl2mgr; do
  [[ -x $build/$program ]] || continue
  out=$("$build/$program" --version 2>/dev/null)
  [[ $out == "$(basename "$program") $version" ]] || fail "$program --version: $out"
done

((failed == 0)) && echo "packaging files: all checks passed"
exit $failed
