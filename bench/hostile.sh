#!/bin/sh
# Hostile and heavy files through the real program, one process a file: each file
# is named on the command line (it becomes a row as a drop makes it), 処理実行 is
# pressed in the window on the offscreen platform, and the run is waited for; the
# process is timed by /usr/bin/time -v. The base build and ours run turn about in
# the same invocation.
#
#   bench/hostile.sh [build-dir]          (default: build)
#   BASE=<build-dir> the other build (e.g. of an earlier commit; ours alone without it)
#   ONLY=<pattern>   only the rows whose file name contains it
#
# One line a file and build on standard output:
#   file=<name> size=<rule> build=<base|ours> peak_mb=… wall_s=… add_ms=… run_ms=…
#   longest_gap_ms=… [cancel_ms=…] rows=… result="<the strip's note or the message>"
# add_ms runs from the program's start to the first turn of its event loop, with
# the row added (the window is frozen meanwhile); run_ms from 処理実行 to the end;
# cancel_ms from 中止 to the end, for rows run with a stop. Each row's size rule is
# the panel's: 長辺 1600, or the picture's own size ("own"). The files are made by
# kestrovia_bench hostile (sparse where large: 1.9 GB costs nothing on disk).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$here/$build ;; esac
base=${BASE-}
only=${ONLY:-}

bench=$build/bench/kestrovia_bench
drive=$build/bench/libkestrovia_drive.so
if [ ! -x "$bench" ] || [ ! -f "$drive" ] || [ ! -x "$build/kestrovia" ]; then
    echo "building kestrovia, kestrovia_bench and the window driver in $build" >&2
    cmake -S "$here" -B "$build" -DKESTROVIA_BENCH=ON >&2
    cmake --build "$build" --target kestrovia kestrovia_bench kestrovia_drive -j2 >&2
fi
[ -x /usr/bin/time ] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrovia-hostile.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
files=${HOSTILE_FILES:-$build/bench-hostile}
echo "making the files in $files" >&2
"$bench" hostile "$files" >&2

# run <build name> <program> <file> <size rule> [stop after ms]
run() {
    name=$1 program=$2 file=$3 rule=$4 stop=${5:-}
    out=$work/out-$name && conf=$work/conf-$name
    rm -rf "$out" "$conf" && mkdir -p "$out" "$conf/kestrovia"
    {
        echo "[panel]"
        echo "sameFolder=false"
        echo "saveFolder=$out/"
        if [ "$rule" = own ]; then echo "sizeMode=0"; else echo "sizeMode=1"; echo "longEdge=$rule"; fi
    } >"$conf/kestrovia/kestrovia.conf"
    line=$(cd "$work" && XDG_CONFIG_HOME=$conf QT_QPA_PLATFORM=offscreen KESTROVIA_DRIVE_CANCEL_MS=$stop \
        /usr/bin/time -v -o "$work/time" env LD_PRELOAD="$drive" timeout 900 "$program" "$files/$file" 2>/dev/null) ||
        line="drive result=\"the program ended without a report\""
    peak=$(awk -F': ' '/Maximum resident set size/ { printf "%.0f", $2 / 1024 }' "$work/time")
    wall=$(awk -F': ' '/Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; i++) s = s * 60 + t[i]; printf "%.1f", s }' "$work/time")
    label=$rule
    [ -z "$stop" ] || label="$rule,stop@${stop}ms"
    echo "file=$file size=$label build=$name peak_mb=$peak wall_s=$wall ${line#drive }"
}

# file, size rule, stop after ms (empty: none)
rows='g4-32767x12207.tif 1600 -
g4-32767x12207.tif own -
deflate-20000x20000.tif 1600 -
lzw-50mp-one-strip.tif 1600 -
lzw-50mp-one-strip.tif 1600 1000
lzw-50mp-128-rows.tif 1600 -
png-50mp-interlaced.png 1600 -
jpeg-50mp-progressive.jpg 1600 -
gif-screen-11333x21804.gif 1600 -
gif-frame-past-screen.gif 1600 -
gif-padded-1900mb.gif 1600 -
png-text-after-pixels.png 1600 -
heic-ftyp-zeros-1900mb.heic 1600 -
heic-grid-100mp.heic 1600 -
heic-grid-100mp-padded.heic 1600 -
heic-grid-100mp-padded.heic 1600 1000
jpeg-repeated-scans.jpg 1600 -
jpeg-100-scans.jpg 1600 -
webp-empty-chunks.webp 1600 -
jpeg-frameless-600mb.jpg 1600 -
float-2000x1500.tif 1600 -'
echo "$rows" | while read -r file rule stop; do
    case $file in *"$only"*) ;; *) continue ;; esac
    [ -e "$files/$file" ] || continue
    [ "$stop" != - ] || stop=
    if [ -n "$base" ]; then
        run base "$base/kestrovia" "$file" "$rule" "$stop"
    fi
    run ours "$build/kestrovia" "$file" "$rule" "$stop"
done
