#!/usr/bin/env bash
# The layers' arrows, checked on every include of the source tree: a folder includes only
# the folders it may depend on, the driver's header is reached through the driver
# interface only, and Qt is included only by the windows' view files, the serial port
# implementation and the programs' main(). Prints each forbidden include and fails on any.
# Usage: layer-check.sh [SOURCE-ROOT]
set -uo pipefail
root="${1:-$(dirname "$0")/..}"
cd "$root" || exit 2

# folder : what its files may include besides the system's headers (prefixes). `common` is
# below everything and includes nothing of ours; its Qt half, `common/qt`, only `common`.
rules=(
  "common:common/"
  "common/qt:common/"
  "burnwise/codec:burnwise/codec/ common/ vqpipex/vqpipex.h"
  "burnwise/device/testing:burnwise/device/ burnwise/codec/ common/ vqpipex/"
  "burnwise/device:burnwise/device/ burnwise/codec/ common/ vqpipex/vqpipex.h"
  "burnwise/records:burnwise/records/ common/"
  "burnwise/app:burnwise/app/ burnwise/device/ burnwise/codec/ common/ burnwise/records/RecordStore.h burnwise/records/RecordText.h"
  "burnwise/labels:burnwise/labels/ burnwise/app/ burnwise/codec/ common/ burnwise/records/RecordStore.h burnwise/records/RecordText.h"
  "burnwise/ui:burnwise/ui/ burnwise/app/ burnwise/device/ burnwise/codec/ common/ burnwise/labels/ burnwise/records/RecordStore.h burnwise/records/RecordText.h"
  "burnwise/cli:burnwise/cli/ burnwise/app/ burnwise/device/ burnwise/codec/ common/ burnwise/labels/ burnwise/records/RecordStore.h burnwise/records/RecordText.h"
  "vqpipex:vqpipex/ common/"
  "dl2mgr/link:dl2mgr/link/ common/"
  "dl2mgr/editor:dl2mgr/editor/ dl2mgr/link/ common/"
  "dl2mgr/keyersim:dl2mgr/keyersim/ dl2mgr/editor/ dl2mgr/link/ common/"
  "dl2mgr/cli:dl2mgr/cli/ dl2mgr/editor/ dl2mgr/link/ common/"
)
# Within a folder, the files that may include the driver's header.
driver_header_users='^burnwise/device/(PipexDriver\.h|PipexUnit\.(h|cpp)|LinkedDriver\.(h|cpp)|testing/)'
# The files that may include Qt, and so the shared Qt helpers of common/qt.
qt_users='^(common/qt/|burnwise/ui/view/|dl2mgr/editor/(EditorWindow|AboutDialog|main)\.|dl2mgr/link/(QtSerialPort|SystemPorts)\.|dl2mgr/cli/main\.cpp$)'

failures=0
fail() {
  echo "$1: $2" >&2
  failures=$((failures + 1))
}

rule_of() { # the rule of the deepest folder holding $1
  local best="" allowed="" entry folder
  for entry in "${rules[@]}"; do
    folder="${entry%%:*}"
    if [[ "$1" == "$folder"/* && ${#folder} -gt ${#best} ]]; then
      best="$folder"
      allowed="${entry#*:}"
    fi
  done
  [[ -n "$best" ]] && echo "$allowed"
}

declare -A allowed_of
while IFS= read -r record; do
  file="${record%%:*}"
  line="${record#*:}"
  if [[ -z "${allowed_of[$file]+set}" ]]; then allowed_of[$file]="$(rule_of "$file")"; fi
  allowed="${allowed_of[$file]}"
  [[ -z "$allowed" ]] && continue
  if [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\"([^\"]+)\" ]]; then
    target="${BASH_REMATCH[1]}"
    [[ "$target" != */* ]] && continue # a header beside the file
    ok=0
    for prefix in $allowed; do
      [[ "$target" == "$prefix"* ]] && ok=1 && break
    done
    [[ $ok == 0 ]] && fail "$file" "includes $target, which its layer may not use"
    if [[ "$target" == vqpipex/vqpipex.h && "$file" == burnwise/device/* &&
          ! "$file" =~ $driver_header_users ]]; then
      fail "$file" "includes the driver's header: reach the driver through PipexDriver.h"
    fi
    if [[ "$target" == common/qt/* && ! "$file" =~ $qt_users ]]; then
      fail "$file" "includes $target, a Qt helper, which only the windows' Qt files may use"
    fi
  elif [[ "$line" =~ ^[[:space:]]*#[[:space:]]*include[[:space:]]*\<(Q[A-Za-z]*|Qt[A-Za-z]*/) ]]; then
    [[ "$file" =~ $qt_users ]] || fail "$file" "includes Qt, which only the windows' view files may"
  fi
done < <(grep -rHE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include' \
           common burnwise vqpipex dl2mgr | sort)

if ((failures > 0)); then
  echo "layer-check: $failures forbidden include(s)" >&2
  exit 1
fi
echo "layer-check: every include keeps to its layer"
