#!/bin/sh
# Usage: tools/check-layers.sh [source-dir]
# The folders are layers, each allowed to include only itself and the folders
# listed before it; nothing includes app/. The engine, the export and the batch
# also link no Qt Widgets. Prints every include that breaks the order and exits 1.
set -eu
cd "${1:-$(dirname "$0")/..}"
layers="platform compose export batch joblist preview app"

status=0
rank() { i=0; for l in $layers; do [ "$l" = "$1" ] && { echo $i; return; }; i=$((i + 1)); done; echo -1; }

for folder in $layers; do
    own=$(rank "$folder")
    for file in "$folder"/*.cpp "$folder"/*.h; do
        [ -e "$file" ] || continue
        grep -n '^#include "[a-z]*/' "$file" | while IFS= read -r line; do
            target=$(echo "$line" | sed 's/^[0-9]*:#include "\([a-z]*\)\/.*/\1/')
            other=$(rank "$target")
            if [ "$other" -gt "$own" ]; then
                echo "$file:${line%%:*}: $folder/ includes $target/, a layer above it"
                exit 1
            fi
        done || status=1
    done
done
for folder in platform compose export batch; do
    if grep -q 'Widgets' "$folder/CMakeLists.txt"; then
        echo "$folder/CMakeLists.txt: $folder/ links Qt Widgets"
        status=1
    fi
done
exit $status
