#!/bin/sh
# Usage: command_line.sh <kestrovia binary>
# With no window system reachable (no display, no Wayland socket, no platform
# plugin chosen), --help and --version print and exit 0; an unknown option is a
# usage error (2) and a file to open says that no window can open (1), both in
# Japanese; so does a named display with no server behind it. Reaching for a
# display there would abort instead.
set -u
bin=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin" "$@"; }

out=$(run --version) || fail "--version exited with $?"
echo "$out" | grep -Eq '^Kestrovia [0-9]+\.[0-9]+' || fail "--version printed: $out"

out=$(run --help) || fail "--help exited with $?"
# Scripts and the manual pages rely on the batch's option names.
manuals=$(dirname "$0")/../../desktop
for option in --help --version --batch --preset --size --long-edge --percent --shrink-only --stretch \
    --background --center --turn --level --format --keep-transparency --metadata --output --name \
    --overwrite --skip --jobs --convert --last --choose-preset; do
    echo "$out" | grep -q -- "$option" || fail "--help does not name $option: $out"
    for page in kestrovia.1 kestrovia.ja.1; do
        sed 's/\\-/-/g' "$manuals/$page" | grep -q -- "$option" || fail "$page does not name $option"
    done
done

# exit status, argument, a word the Japanese message must hold
while read -r status argument word; do
    err=$(run "$argument" 2>&1 >/dev/null)
    code=$?
    [ "$code" = "$status" ] || fail "$argument exited with $code, not $status: $err"
    echo "$err" | grep -q "$word" || fail "$argument said: $err"
done <<'CASES'
2 --no-such-option 不明なオプション
2 -x 使い方
2 --batch ファイルまたはフォルダ
2 --convert 画像を指定
2 --last 一緒に
1 photo.jpg ディスプレイ
CASES
# A display that is named but has no server (a stale DISPLAY, X11 chosen outright):
# the Japanese reason naming it and exit status 1, not Qt's abort.
stale=:$(( ($$ % 500) + 500 ))
[ -e "/tmp/.X11-unix/X${stale#:}" ] && stale=:999
for platform in "" xcb; do
    err=$(env -u WAYLAND_DISPLAY DISPLAY=$stale QT_QPA_PLATFORM=$platform "$bin" photo.jpg 2>&1 >/dev/null)
    code=$?
    [ "$code" = 1 ] || fail "DISPLAY=$stale QT_QPA_PLATFORM=$platform exited with $code: $err"
    echo "$err" | grep -q "ディスプレイ.*$stale" || fail "DISPLAY=$stale said: $err"
done
echo "command line: 10 passed, 0 failed"
