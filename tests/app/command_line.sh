#!/bin/sh
# Usage: command_line.sh <kestrovia binary>
# --help and --version print and exit 0 with no window system reachable: no
# display, no Wayland socket, no platform plugin chosen. Reaching for a display
# there would abort instead.
set -u
bin=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin" "$@"; }

out=$(run --version) || fail "--version exited with $?"
echo "$out" | grep -Eq '^Kestrovia [0-9]+\.[0-9]+' || fail "--version printed: $out"

out=$(run --help) || fail "--help exited with $?"
for option in --help --version; do
    echo "$out" | grep -q -- "$option" || fail "--help does not name $option: $out"
done
echo "command line: 2 passed, 0 failed"
