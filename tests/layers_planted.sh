#!/bin/sh
# Usage: layers_planted.sh <check-layers.sh>
# Plants one include at a time in compose/ of a small tree of the layer folders and
# runs the layer check on it: each upward include, however spelled, must fail it;
# each include of the same or a lower layer must pass.
set -u
check=$1
tree=$(mktemp -d "${TMPDIR:-/tmp}/kestrovia-layers.XXXXXX")
trap 'rm -rf "$tree"' EXIT INT TERM
for folder in platform compose export batch joblist preview app; do
    mkdir -p "$tree/$folder"
    : >"$tree/$folder/$folder.h"
    echo "add_library(kestrovia_$folder STATIC)" >"$tree/$folder/CMakeLists.txt"
done

passed=0 failed=0
# exit status, the include planted in compose/planted.cpp
while IFS='|' read -r status include; do
    printf '%s\n' "$include" >"$tree/compose/planted.cpp"
    sh "$check" "$tree" >/dev/null 2>&1
    code=$?
    if [ "$code" = "$status" ]; then
        passed=$((passed + 1))
    else
        echo "FAIL: $include: exit $code, not $status" >&2
        failed=$((failed + 1))
    fi
done <<'CASES'
1|#include "batch/batch.h"
1|#include "../app/app.h"
1|#include "compose/../batch/batch.h"
1|#include <compose/./../preview/preview.h>
1|#  include "preview/../app/app.h"
1|#include "./../export/export.h"
0|#include "platform/platform.h"
0|#include "compose/../platform/platform.h"
0|#include "batch/../compose/compose.h"
0|#include <QString>
0|#include "compose.h"
CASES
echo "layers planted: $passed passed, $failed failed"
[ "$failed" = 0 ]
