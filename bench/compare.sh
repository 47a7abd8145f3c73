#!/bin/sh
# Times the same jobs three ways - our compose and export at level 5 (quality 82),
# vipsthumbnail and ImageMagick's convert -resize at quality 80 - on photo-like
# pictures made here; and a batch of 20 photos against vipsthumbnail and the
# codec floor. Usage: bench/compare.sh [build-dir]   (default: build)
#
# Standard output: two preview lines first (unless PREVIEW=0 or case a is not
# run), then one line per case, and nothing after the last:
#   case=a ours_ms=… vips_ms=… magick_ms=… ours_vs_vips=… ours_vs_magick=… ours_peak_mb=…
#   case=batch ours_ms=… vips_par_ms=… floor_ms=… ours_vs_floor=… ours_vs_vips=… ours_peak_mb=…
#   case=batch_stall longest_stall_ms=…
#   case=batch_rows rows=… ours_ms=… ours_peak_mb=… peak_vs_batch=…   (only with BATCH_ROWS)
#   case=mixed200 rows=200 ours_ms=… ours_peak_mb=… vips_par_ms=… vips_peak_mb=…
#   case=huge300mp ours_ms=… vips_ms=… ours_vs_vips=… ours_peak_mb=… vips_peak_mb=…
#   case=floor420 / case=floor444 ours_ms=… floor_ms=… ours_vs_floor=… ours_peak_mb=…
#   case=levels format=… level=… <settings> ours_kb=… ours_ssim=… step=… vips_kb=… vips_ssim=… ours_vs_vips_size=…
#   case=formats format=… level=… ours_ms=… vips_par_ms=… ours_vs_vips=… ours_peak_mb=… ours_kb=… ours_ssim=… vips_kb=… vips_ssim=… ours_vs_vips_size=…
#   case=preview_click mp=… chroma=… first_ms=… first_shown=…/… exact_ms=… batch_ms=… exact_vs_batch=… first_alone_ms=… longest_gap_ms=…
#   case=preview_return mp=… rows=8 returns=… exact_ms=… slowest_ms=… longest_gap_ms=…
#   case=preview_drag mp=24 steps=30 longest_gap_ms=… final_ms=…
#   case=preview_floor mp=… djpeg_quarter_ms=… djpeg_eighth_ms=…
#   case=preview_memory mp=50 rows=20 peak_mb=… kept_mb=…
#   case=cli rows=20 cli_ms=… vips_par_ms=… cli_vs_vips=… cli_peak_mb=…
#   case=batch_window rows=20 window_ms=… pipeline_ms=… window_vs_pipeline=… window_longest_gap_ms=… pipeline_longest_gap_ms=…
#   case=drop build=<ours|base> rows=… drop_ms=… longest_gap_ms=… longest_turn_cpu_ms=… idle_gap_ms=…
# Cases: (a) 4000x3000 JPEG to 1600*1200 "OFF" "Center"; (b) the same turned "+90°";
# (c) 6000x4000 JPEG to 800*600; (d) 4000x3000 BMP to 1600*1200. The preview lines
# time the quick (unturned) and complete (+90°) preview of case a's picture,
# composed into a separate preview surface without export.
# batch: 20 photo-like 4000x3000 JPEGs of about 3.6 MB (made once, in
# BATCH_PICTURES, default <build-dir>/bench-batch) to 1600x1200 at level 5 (its
# quality, Q): ours as one process running them as one batch; vipsthumbnail, one
# process a file, as many at a time as there are cores (xargs -P); the floor,
# djpeg -scale 1/2 | cjpeg -quality Q a file, as many at a time. batch_stall is
# the longest gap of a 10 ms timer on our event loop during one more such batch.
# BATCH_ROWS=200 adds one run of that many rows (the 20 pictures again, into other
# folders), to show that peak memory does not grow with the row count.
# mixed200: 200 rows over JPEG, PNG, TIFF, WebP and BMP pictures up to 48 MP and a
# 12 MP HEIC (made once in <build-dir>/bench-mixed), one run, to 1600*1200 level 5.
# huge300mp: a 20000x15000 JPEG (made once in <build-dir>/bench-huge) to 1600*1200
# as case a, against vipsthumbnail. floor420 / floor444: the batch's 20 photos
# stored 4:2:0 and 4:4:4 against the codec floor of the same quality: a full-size
# djpeg of each source plus a cjpeg of a 1600x1200 picture, as many at a time as
# there are cores.
# levels (not run by default: CASES=levels): the batch's photos at each of the 11
# compression levels, ours as the batch writes them beside vipsthumbnail at the
# level's settings (JPEG: the quality, with optimised tables as ours; WebP, AVIF,
# PNG: the quality, libaom speed or zlib level of our table, kestrovia_bench
# vipsoptions); per level the mean output size in KB, the mean SSIM (luma, 11x11
# Gaussian window) of each tool's file against its own lossless rendering (ours:
# the composed canvas; vips: vipsthumbnail to PNG), and step, the size's ratio to
# the level before. FORMATS="jpeg webp avif png" picks the formats (default jpeg).
# formats (not run by default: CASES=formats): the batch's 20 photos in each of
# FORMATS (default all four) at each of FORMAT_LEVELS (default "0 5 8"): our batch
# (one process) against vipsthumbnail writing the same format at the same settings
# (one process a file, as many at a time as there are cores), timed as the batch
# case; then each tool's mean size and SSIM against its own lossless rendering.
# preview: the preview through the real main window on the offscreen platform
# (preview_bench; photo-like 12, 24 and 50 MP JPEGs made once in PREVIEW_PICTURES,
# default <build-dir>/bench-preview, and the same with full chroma in
# <that>-444, each row to 1600*1200): a click on a row, from the click to the
# painted first look and exact picture, against the batch's route for the same row
# alone; a return to each of the last 8 rows shown (12 to 50 MP); a drag of the
# preview's border in 30 steps over a second; the peak memory of clicking through
# 20 rows of 50 MP. window: the batch's 20 photos through 処理実行 with the preview
# showing, against the same rows through the pipeline alone, turn about.
# bombs: each hostile file the decoder tests refuse (kestrovia_bench bombs makes them:
# a huge file that is no picture, WebP, TIFF, RLE bitmap, JPEG and PNG headers that
# declare far more than their data holds, a PNG chunk claiming gigabytes), run as
# a batch row: one line each, case=bombs file=… ours_ms=… ours_peak_mb=….
# drop (CASES=drop): a folder of 10,000 small JPEGs (made once in DROP_PICTURES,
# default <build-dir>/bench-drop) dropped on the real window on the offscreen platform
# through bench/drivewindow.cpp, ours and BASE's turn about: the time to the rows in,
# the longest gap of a 10 ms timer on the window's event loop, the window thread's
# longest processor time between two ticks, and the timer's longest gap in the idle
# second before the drop (what the machine's load alone makes).
# cli: the batch's 20 photos through the program itself, `kestrovia --batch --size
# 1600x1200 --level 5 --overwrite` (no window, one process), against vipsthumbnail as
# in batch, $(nproc) at a time.
# CASES picks cases (default "a b c d batch preview window"; CASES=batch runs only
# the batch; the others are named: "cli mixed200 huge300mp floor420 floor444 drop bombs levels formats").
# OLD=<build-dir> times another build's kestrovia_bench (e.g. of an earlier commit)
# on the same pictures in the same invocation, for cases a-d, batch, mixed200,
# floor420 and floor444: their lines gain old_ms=… new_vs_old=… old_peak_mb=….
# Times are medians over RUNS runs (default and minimum 5) of whole processes, so
# start-up counts for every tool alike; ours_peak_mb is the largest resident size
# of our process over its runs. Progress and installation go to standard error.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-build}
case $build in /*) ;; *) build=$here/$build ;; esac
runs=${RUNS:-5}
[ "$runs" -ge 5 ] || runs=5
preview=${PREVIEW:-1}
cases=" ${CASES:-a b c d batch preview window} "
has() { case $cases in *" $1 "*) return 0 ;; esac; return 1; }

log() { echo "$@" >&2; }

missing=
command -v vipsthumbnail >/dev/null 2>&1 || missing="$missing libvips-tools"
[ -x /usr/bin/convert ] || command -v convert >/dev/null 2>&1 || missing="$missing imagemagick"
command -v djpeg >/dev/null 2>&1 && command -v cjpeg >/dev/null 2>&1 || missing="$missing libjpeg-turbo-progs"
if [ -n "$missing" ]; then
    log "installing:$missing"
    sudo=
    [ "$(id -u)" = 0 ] || sudo=sudo
    $sudo apt-get update -qq >&2
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $missing >&2
fi
# The packaged convert itself, not a wrapper that may stand before it in PATH.
magick=/usr/bin/convert
[ -x "$magick" ] || magick=$(command -v convert)

bench=$build/bench/kestrovia_bench
preview_bench=$build/bench/preview_bench
old=
if [ -n "${OLD:-}" ]; then
    case $OLD in /*) old=$OLD/bench/kestrovia_bench ;; *) old=$here/$OLD/bench/kestrovia_bench ;; esac
    [ -x "$old" ] || { log "no kestrovia_bench in $OLD"; exit 1; }
fi
if [ ! -x "$bench" ] || [ ! -x "$preview_bench" ]; then
    log "building kestrovia_bench and preview_bench in $build"
    # Benchmarks are off unless asked for, also in a build folder made before.
    cmake -S "$here" -B "$build" -DKESTROVIA_BENCH=ON >&2
    cmake --build "$build" --target kestrovia_bench preview_bench -j2 >&2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/kestrovia-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
if has a || has b || has c || has d; then
    log "making test pictures in $work"
    "$bench" make "$work" >&2
fi
# The old build's outputs go elsewhere: they lack the mark, so ours would not replace them.
mkdir -p "$work/ours" "$work/old" "$work/vips" "$work/magick"

# "<median ms> <peak MB>" of a command run $runs times.
timed() { "$bench" time "$runs" -- "$@"; }
ms() { echo "${1% *}"; }
mb() { echo "${1#* }"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
# " old_ms=… new_vs_old=… old_peak_mb=…" for our time $1 and the old build's
# "<ms> <MB>" in $2; nothing without OLD.
versus_old() { [ -z "$old" ] || echo " old_ms=$(ms "$2") new_vs_old=$(ratio "$1" "$(ms "$2")") old_peak_mb=$(mb "$2")"; }
# Times `kestrovia_bench <args...> <folder>` into o, and the old build's into oo
# (empty without OLD): ours_and_old <case> <our folder> <old build's folder> <args...>
ours_and_old() {
    label=$1 ours_out=$2 old_out=$3
    shift 3
    log "case $label: ours"
    o=$(timed "$bench" "$@" "$ours_out")
    oo=
    if [ -n "$old" ]; then
        log "case $label: old build"
        oo=$(timed "$old" "$@" "$old_out")
    fi
}

# Turned +90° and fitted into 1600x1200 on grey: vipsthumbnail cannot turn, so
# thumbnail to 1200x900, turn and embed, through vips' own fast format.
vips_b='vipsthumbnail "$1/photo4000.jpg" -s 1200x900 -o "$1/vips/b0.v" &&
 vips rot "$1/vips/b0.v" "$1/vips/b1.v" d90 &&
 vips embed "$1/vips/b1.v" "$1/vips/b.jpg[Q=80]" 350 0 1600 1200 --extend background --background "128 128 128"'

lines=
measure() { # name picture ours-case vips-size magick-args...
    name=$1 picture=$2 ours_case=$3 vips_size=$4
    shift 4
    ours_and_old "$name" "$work/ours" "$work/old" run "$ours_case" "$work/$picture"
    log "case $name: vipsthumbnail"
    if [ "$name" = b ]; then
        v=$(timed sh -c "$vips_b" sh "$work")
    else
        v=$(timed vipsthumbnail "$work/$picture" -s "$vips_size" -o "$work/vips/$name.jpg[Q=80]")
    fi
    log "case $name: convert"
    m=$(timed "$magick" "$work/$picture" "$@" -quality 80 "$work/magick/$name.jpg")
    eval "ours_$name=$(ms "$o")"
    lines="${lines}case=$name ours_ms=$(ms "$o") vips_ms=$(ms "$v") magick_ms=$(ms "$m") ours_vs_vips=$(ratio "$(ms "$o")" "$(ms "$v")") ours_vs_magick=$(ratio "$(ms "$o")" "$(ms "$m")") ours_peak_mb=$(mb "$o")$(versus_old "$(ms "$o")" "$oo")
"
}

! has a || measure a photo4000.jpg a 1600x1200 -resize 1600x1200
! has b || measure b photo4000.jpg b 1600x1200 -rotate 90 -resize 1600x1200 -background gray50 -gravity center -extent 1600x1200
! has c || measure c photo6000.jpg c 800x600 -resize 800x600 -background gray50 -gravity center -extent 800x600
! has d || measure d photo4000.bmp d 1600x1200 -resize 1600x1200

cores=$(nproc)
# The quality of each level, 0 to 10.
qualities=$("$bench" qualities)
q5=$(echo $qualities | cut -d' ' -f6) # level 5, the batch's
if has batch; then
    pictures=${BATCH_PICTURES:-$build/bench-batch}
    log "batch: pictures in $pictures"
    "$bench" batchpictures "$pictures" >&2
    ls "$pictures"/*.jpg >"$work/batch.list"
    mkdir -p "$work/batch/ours" "$work/batch/old" "$work/batch/vips" "$work/batch/floor" "$work/batch/rows"
    ours_and_old batch "$work/batch/ours" "$work/batch/old" batch "$pictures"
    log "case batch: vipsthumbnail, $cores at a time"
    v=$(timed xargs -a "$work/batch.list" -d '\n' -P "$cores" -n 1 vipsthumbnail -s 1600x1200 -o "$work/batch/vips/%s.jpg[Q=$q5]")
    log "case batch: djpeg | cjpeg, $cores at a time"
    f=$(timed xargs -a "$work/batch.list" -d '\n' -P "$cores" -n 1 sh -c 'djpeg -scale 1/2 "$3" | cjpeg -quality "$2" >"$1/${3##*/}"' sh "$work/batch/floor" "$q5")
    lines="${lines}case=batch ours_ms=$(ms "$o") vips_par_ms=$(ms "$v") floor_ms=$(ms "$f") ours_vs_floor=$(ratio "$(ms "$o")" "$(ms "$f")") ours_vs_vips=$(ratio "$(ms "$o")" "$(ms "$v")") ours_peak_mb=$(mb "$o")$(versus_old "$(ms "$o")" "$oo")
"
    log "case batch: event-loop stall"
    lines="${lines}case=batch_stall longest_stall_ms=$("$bench" stall "$pictures" "$work/batch/ours")
"
    if [ -n "${BATCH_ROWS:-}" ]; then
        # One run: it shows memory, and a median of 200-row runs takes minutes.
        log "case batch: $BATCH_ROWS rows"
        r=$("$bench" time 1 -- "$bench" batch "$pictures" "$work/batch/rows" "$BATCH_ROWS")
        lines="${lines}case=batch_rows rows=$BATCH_ROWS ours_ms=$(ms "$r") ours_peak_mb=$(mb "$r") peak_vs_batch=$(ratio "$(mb "$r")" "$(mb "$o")")
"
    fi
fi

if has cli; then
    pictures=${BATCH_PICTURES:-$build/bench-batch}
    "$bench" batchpictures "$pictures" >&2
    ls "$pictures"/*.jpg >"$work/cli.list"
    mkdir -p "$work/cli/ours" "$work/cli/vips"
    [ -x "$build/kestrovia" ] || cmake --build "$build" --target kestrovia -j2 >&2
    log "case cli: kestrovia --batch"
    o=$(timed env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$build/kestrovia" --batch --size 1600x1200 \
        --level 5 --overwrite --output "$work/cli/ours" "$pictures"/*.jpg)
    log "case cli: vipsthumbnail, $(nproc) at a time"
    v=$(timed xargs -a "$work/cli.list" -d '\n' -P "$(nproc)" -n 1 vipsthumbnail -s 1600x1200 -o "$work/cli/vips/%s.jpg[Q=$q5]")
    lines="${lines}case=cli rows=$(wc -l <"$work/cli.list") cli_ms=$(ms "$o") vips_par_ms=$(ms "$v") cli_vs_vips=$(ratio "$(ms "$o")" "$(ms "$v")") cli_peak_mb=$(mb "$o")
"
fi

if has mixed200; then
    pictures=$build/bench-mixed
    log "mixed200: pictures in $pictures"
    "$bench" mixedpictures "$pictures" >&2
    mkdir -p "$work/mixed"
    log "case mixed200: ours"
    r=$("$bench" time 1 -- "$bench" batch "$pictures" "$work/mixed" 200)
    rr=
    if [ -n "$old" ]; then
        log "case mixed200: old build"
        mkdir -p "$work/mixed-old"
        rr=$("$bench" time 1 -- "$old" batch "$pictures" "$work/mixed-old" 200)
    fi
    # vipsthumbnail on the same 200 rows, one process a row, as many at a time as
    # there are cores; its peak is its largest process's. A picture it cannot read
    # does not end the run.
    mkdir -p "$work/mixed-vips"
    ls "$pictures"/m*.* >"$work/mixed.names"
    i=0
    while [ "$i" -lt 200 ]; do
        sed -n "$((i % $(wc -l <"$work/mixed.names") + 1))p" "$work/mixed.names"
        i=$((i + 1))
    done >"$work/mixed.list"
    log "case mixed200: vipsthumbnail, $(nproc) at a time"
    v=$("$bench" time 1 -- xargs -a "$work/mixed.list" -d '\n' -P "$(nproc)" -n 1 sh -c 'vipsthumbnail -s 1600x1200 -o "$1/%s.jpg[Q=$2]" "$3" 2>/dev/null || true' sh "$work/mixed-vips" "$q5")
    lines="${lines}case=mixed200 rows=200 ours_ms=$(ms "$r") ours_peak_mb=$(mb "$r") vips_par_ms=$(ms "$v") vips_peak_mb=$(mb "$v")$(versus_old "$(ms "$r")" "$rr")
"
fi

if has huge300mp; then
    pictures=$build/bench-huge
    log "huge300mp: picture in $pictures"
    "$bench" hugepicture "$pictures" >&2
    log "case huge300mp: ours"
    o=$(timed "$bench" run a "$pictures/huge.jpg" "$work/ours")
    log "case huge300mp: vipsthumbnail"
    v=$(timed vipsthumbnail "$pictures/huge.jpg" -s 1600x1200 -o "$work/vips/huge.jpg[Q=80]")
    lines="${lines}case=huge300mp ours_ms=$(ms "$o") vips_ms=$(ms "$v") ours_vs_vips=$(ratio "$(ms "$o")" "$(ms "$v")") ours_peak_mb=$(mb "$o") vips_peak_mb=$(mb "$v")
"
fi

for sub in 420 444; do
    has "floor$sub" || continue
    cores=$(nproc)
    if [ "$sub" = 420 ]; then
        pictures=${BATCH_PICTURES:-$build/bench-batch}
        "$bench" batchpictures "$pictures" >&2
    else
        pictures=$build/bench-batch444
        "$bench" batchpictures444 "$pictures" >&2
    fi
    [ -f "$work/floor1600.ppm" ] || "$bench" ppm "$work/floor1600.ppm" 1600 1200
    ls "$pictures"/*.jpg >"$work/floor$sub.list"
    mkdir -p "$work/floor$sub/ours" "$work/floor$sub/old" "$work/floor$sub/floor"
    ours_and_old "floor$sub" "$work/floor$sub/ours" "$work/floor$sub/old" batch "$pictures"
    log "case floor$sub: djpeg (full size) + cjpeg (1600x1200), $cores at a time"
    f=$(timed xargs -a "$work/floor$sub.list" -d '\n' -P "$cores" -n 1 sh -c 'djpeg -outfile /dev/null "$4" && cjpeg -quality "$3" -outfile "$1/${4##*/}" "$2"' sh "$work/floor$sub/floor" "$work/floor1600.ppm" "$q5")
    lines="${lines}case=floor$sub ours_ms=$(ms "$o") floor_ms=$(ms "$f") ours_vs_floor=$(ratio "$(ms "$o")" "$(ms "$f")") ours_peak_mb=$(mb "$o")$(versus_old "$(ms "$o")" "$oo")
"
done

if has bombs; then
    mkdir -p "$work/bombs/out"
    "$bench" bombs "$work/bombs" >&2
    for f in "$work"/bombs/*; do
        [ -f "$f" ] || continue
        log "case bombs: ${f##*/}"
        r=$(timed "$bench" refuse "$f" "$work/bombs/out")
        lines="${lines}case=bombs file=${f##*/} ours_ms=$(ms "$r") ours_peak_mb=$(mb "$r")
"
    done
fi

# The extension of a format's files.
extension() { case $1 in jpeg) echo jpg ;; *) echo "$1" ;; esac; }

if has levels; then
    pictures=${BATCH_PICTURES:-$build/bench-batch}
    log "levels: pictures in $pictures"
    "$bench" batchpictures "$pictures" >&2
    ls "$pictures"/*.jpg >"$work/levels.list"
    mkdir -p "$work/levels/vips/ref"
    log "case levels: vipsthumbnail, lossless"
    xargs -a "$work/levels.list" -d '\n' -P "$cores" -n 1 vipsthumbnail -s 1600x1200 -o "$work/levels/vips/ref/%s.png"
    for format in ${FORMATS:-jpeg}; do
        log "case levels: vipsthumbnail, $format at each level's settings"
        level=0
        for options in $("$bench" vipsoptions "$format"); do
            mkdir -p "$work/levels/vips/$format/$level"
            xargs -a "$work/levels.list" -d '\n' -P "$cores" -n 1 vipsthumbnail -s 1600x1200 \
                -o "$work/levels/vips/$format/$level/%s.$(extension "$format")[$options]"
            level=$((level + 1))
        done
        log "case levels: ours in $format, and the scores"
        lines="${lines}$("$bench" levels "$pictures" "$work/levels" "$format")
"
    done
fi

if has formats; then
    pictures=${BATCH_PICTURES:-$build/bench-batch}
    log "formats: pictures in $pictures"
    "$bench" batchpictures "$pictures" >&2
    ls "$pictures"/*.jpg >"$work/formats.list"
    mkdir -p "$work/formats/ref"
    xargs -a "$work/formats.list" -d '\n' -P "$cores" -n 1 vipsthumbnail -s 1600x1200 -o "$work/formats/ref/%s.png"
    for format in ${FORMATS:-jpeg webp avif png}; do
        for level in ${FORMAT_LEVELS:-0 5 8}; do
            options=$("$bench" vipsoptions "$format" | sed -n "$((level + 1))p")
            ours=$work/formats/$format-$level/ours vips=$work/formats/$format-$level/vips
            mkdir -p "$ours" "$vips"
            log "case formats: $format level $level, ours"
            o=$(timed "$bench" --format "$format" --level "$level" batch "$pictures" "$ours")
            log "case formats: $format level $level, vipsthumbnail [$options], $cores at a time"
            v=$(timed xargs -a "$work/formats.list" -d '\n' -P "$cores" -n 1 vipsthumbnail -s 1600x1200 \
                -o "$vips/%s.$(extension "$format")[$options]")
            score=$("$bench" formatscore "$pictures" "$ours" "$vips" "$work/formats/ref" "$format")
            lines="${lines}case=formats format=$format level=$level ours_ms=$(ms "$o") vips_par_ms=$(ms "$v") ours_vs_vips=$(ratio "$(ms "$o")" "$(ms "$v")") ours_peak_mb=$(mb "$o") $score
"
        done
    done
fi

if has preview; then
    previews=${PREVIEW_PICTURES:-$build/bench-preview}
    log "preview: pictures in $previews"
    QT_QPA_PLATFORM=offscreen "$preview_bench" pictures "$previews" >&2
    QT_QPA_PLATFORM=offscreen "$preview_bench" pictures "$previews-444" 444 >&2
    log "preview: click, 4:4:4"
    lines="${lines}$(QT_QPA_PLATFORM=offscreen "$preview_bench" click "$previews-444")
"
    for what in click return drag memory; do
        log "preview: $what"
        lines="${lines}$(QT_QPA_PLATFORM=offscreen "$preview_bench" "$what" "$previews")
"
    done
    # What a first look cannot beat: libjpeg-turbo's own reduced decode of the file.
    for mp in 12 24 50; do
        log "preview: djpeg -scale 1/4 and 1/8, $mp MP"
        q4=$(timed djpeg -scale 1/4 -outfile /dev/null "$previews/preview-${mp}mp.jpg")
        q8=$(timed djpeg -scale 1/8 -outfile /dev/null "$previews/preview-${mp}mp.jpg")
        lines="${lines}case=preview_floor mp=$mp djpeg_quarter_ms=$(ms "$q4") djpeg_eighth_ms=$(ms "$q8")
"
    done
fi

if has window; then
    pictures=${BATCH_PICTURES:-$build/bench-batch}
    "$bench" batchpictures "$pictures" >&2
    mkdir -p "$work/batch/window"
    log "batch: through the window and through the pipeline"
    lines="${lines}$(QT_QPA_PLATFORM=offscreen "$preview_bench" batch "$pictures" "$work/batch/window")
"
fi

if has drop; then
    # A folder of 10,000 small JPEGs dropped on the real window, ours and BASE's
    # (BASE=<build-dir>, e.g. of an earlier commit; ours alone without it) turn
    # about, 3 times each.
    drive=$build/bench/libkestrovia_drive.so
    if [ ! -x "$build/kestrovia" ] || [ ! -f "$drive" ]; then
        cmake --build "$build" --target kestrovia kestrovia_drive -j2 >&2
    fi
    folder=${DROP_PICTURES:-$build/bench-drop}
    if [ ! -f "$folder/p10000.jpg" ]; then
        mkdir -p "$folder"
        "$magick" -size 64x48 xc:skyblue "$folder/p00001.jpg"
        i=2
        while [ $i -le 10000 ]; do cp "$folder/p00001.jpg" "$folder/$(printf 'p%05d.jpg' $i)"; i=$((i + 1)); done
    fi
    base=${BASE-}
    for round in 1 2 3; do
        for which in ours base; do
            program=$build/kestrovia
            [ "$which" = ours ] || program=$base/kestrovia
            [ -n "$base" ] || [ "$which" = ours ] || continue
            log "drop: $which, round $round"
            conf=$work/drop-conf && rm -rf "$conf" && mkdir -p "$conf"
            line=$(XDG_CONFIG_HOME=$conf QT_QPA_PLATFORM=offscreen KESTROVIA_DRIVE_DROP=$folder \
                LD_PRELOAD=$drive timeout 600 "$program" 2>/dev/null) || line="drop result=failed"
            lines="${lines}case=drop build=$which ${line#drop }
"
        done
    done
fi

if [ "$preview" = 1 ] && has a; then
    log "preview: quick"
    q=$(timed "$bench" run preview_quick "$work/photo4000.jpg" "$work/ours")
    log "preview: complete"
    c=$(timed "$bench" run preview_complete "$work/photo4000.jpg" "$work/ours")
    echo "case=preview_quick ours_ms=$(ms "$q") quick_vs_compose=$(ratio "$(ms "$q")" "$ours_a") ours_peak_mb=$(mb "$q")"
    echo "case=preview_complete ours_ms=$(ms "$c") complete_vs_quick=$(ratio "$(ms "$c")" "$(ms "$q")") ours_peak_mb=$(mb "$c")"
fi
printf '%s' "$lines"
