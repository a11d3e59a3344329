#!/usr/bin/env bash
# The layer check on small trees: each forbidden include is named and fails the check, and
# the includes the layers allow pass.
set -uo pipefail
check="$(dirname "$0")/../../tools/layer-check.sh"
tree="$(mktemp -d)"
trap 'rm -rf "$tree"' EXIT
failed=0

# file | its include line | whether the check must refuse it
cases=(
  'burnwise/codec/A.h|#include "burnwise/device/DeviceEngine.h"|refuse'
  'burnwise/device/B.cpp|#include "burnwise/app/Station.h"|refuse'
  'burnwise/device/C.cpp|#include "vqpipex/vqpipex.h"|refuse'
  'burnwise/app/D.cpp|#include "burnwise/records/StoreInternals.h"|refuse'
  'burnwise/app/E.cpp|#include <QString>|refuse'
  'burnwise/ui/F.cpp|#include <QtWidgets/QLabel>|refuse'
  'burnwise/cli/G.cpp|#include "burnwise/ui/MainForm.h"|refuse'
  'dl2mgr/link/H.cpp|#include "dl2mgr/editor/KeyerImage.h"|refuse'
  'vqpipex/I.cpp|#include "burnwise/device/PipexUnit.h"|refuse'
  'burnwise/app/J.cpp|#include "burnwise/records/RecordStore.h"|allow'
  'burnwise/ui/view/K.cpp|#include <QLabel>|allow'
  'burnwise/device/PipexUnit.cpp|#include "vqpipex/vqpipex.h"|allow'
  'burnwise/codec/L.h|#include "burnwise/codec/ChipModels.h"|allow'
  'common/M.cpp|#include "burnwise/codec/ChipModels.h"|refuse'
  'common/N.cpp|#include "common/qt/Latin1.h"|refuse'
  'common/O.cpp|#include <QString>|refuse'
  'common/qt/P.cpp|#include "dl2mgr/editor/KeyerImage.h"|refuse'
  'burnwise/device/Q.cpp|#include "common/qt/Latin1.h"|refuse'
  'burnwise/app/R.cpp|#include "common/qt/Latin1.h"|refuse'
  'common/qt/S.cpp|#include "common/FileAccess.h"|allow'
  'common/qt/T.cpp|#include <QString>|allow'
  'dl2mgr/editor/EditorWindow.cpp|#include "common/qt/Latin1.h"|allow'
  'dl2mgr/editor/U.cpp|#include "common/FileAccess.h"|allow'
)
for entry in "${cases[@]}"; do
  IFS='|' read -r file include verdict <<<"$entry"
  rm -rf "${tree:?}"/*
  mkdir -p "$tree/$(dirname "$file")" "$tree/common" "$tree/vqpipex" "$tree/dl2mgr" "$tree/burnwise"
  printf '%s\n' "$include" >"$tree/$file"
  output="$(bash "$check" "$tree" 2>&1)"
  status=$?
  if [[ $verdict == refuse && ($status == 0 || "$output" != *"$file"*) ]]; then
    echo "not refused: $file with $include" >&2
    failed=1
  elif [[ $verdict == allow && $status != 0 ]]; then
    echo "refused: $file with $include: $output" >&2
    failed=1
  fi
done
exit $failed
