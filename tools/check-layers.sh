#!/bin/sh
# Usage: tools/check-layers.sh [source-dir]
# The folders are layers, each allowed to include only itself and the folders
# listed before it; nothing includes app/. The build holds most of this (each
# library exports only its own folder to the libraries that link it); this check
# also catches what a compiler lets through: a path relative to the file
# ("../app/form1.h", "compose/../app/form1.h"), however it is spelled (angle
# brackets, blanks after "#").
# The engine, the export and the batch also link no Qt Widgets. Prints every
# include that breaks the order and exits 1.
set -eu
cd "${1:-$(dirname "$0")/..}"
layers="platform compose export batch joblist preview app"

status=0
rank() { i=0; for l in $layers; do [ "$l" = "$1" ] && { echo $i; return; }; i=$((i + 1)); done; echo -1; }

for folder in $layers; do
    own=$(rank "$folder")
    for file in "$folder"/*.cpp "$folder"/*.h; do
        [ -e "$file" ] || continue
        # "N:path" for every include, whatever its spelling.
        grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' "$file" |
            sed -E 's/^([0-9]+):[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^>"]+)[>"].*/\1:\2/' |
            while IFS=: read -r line path; do
                # A relative path names a folder as seen from this file's own folder;
                # "." and ".." inside a path ("compose/../batch/x.h") are folded first.
                case $path in
                    ./* | ../*) path=$folder/$path ;;
                    */*) ;;
                    *) continue ;;
                esac
                target=$(echo "$path" | awk -F/ '{
                    n = 0
                    for (i = 1; i <= NF; i++) {
                        if ($i == "" || $i == ".") continue
                        if ($i == "..") { if (n > 0) n--; continue }
                        part[++n] = $i
                    }
                    print (n > 1 ? part[1] : "")
                }')
                [ -n "$target" ] || continue
                other=$(rank "$target")
                if [ "$other" -gt "$own" ]; then
                    echo "$file:$line: $folder/ includes $target/ ($path), a layer above it"
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
