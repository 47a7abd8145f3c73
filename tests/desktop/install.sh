#!/bin/sh
# Usage: install.sh <cmake> <build folder> <application id>
# Installs the build into a temporary prefix and checks every installed file.
# Needs desktop-file-validate (desktop-file-utils) and appstreamcli (appstream).
set -u
cmake=$1 build=$2 id=$3
prefix=$(mktemp -d "${TMPDIR:-/tmp}/kestrovia-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT INT TERM
. "$(dirname "$0")/checks.sh"
# The width and height in a PNG's header, as "WxH".
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", (($1*256+$2)*256+$3)*256+$4, (($5*256+$6)*256+$7)*256+$8 }'
}

"$cmake" --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }
share=$prefix/share
desktop=$share/applications/$id.desktop
metainfo=$share/metainfo/$id.metainfo.xml

check "the program is installed and runs" sh -c '"$1" --version >/dev/null' - "$prefix/bin/kestrovia"
check "launcher entry" test -s "$desktop"
check "metainfo" test -s "$metainfo"
check "manual page" test -s "$share/man/man1/kestrovia.1.gz"
check "Japanese manual page" test -s "$share/man/ja/man1/kestrovia.1.gz"
check "copyright" test -s "$share/doc/kestrovia/copyright"
check "the README, the About dialog's support page" test -s "$share/doc/kestrovia/README.md"
for size in 16 22 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x$size/apps/$id.png
    check "icon $png is ${size}x$size" test "$(png_size "$png" 2>/dev/null)" = "${size}x$size"
done
check "scalable icon" grep -q '<svg' "$share/icons/hicolor/scalable/apps/$id.svg"
check "the launcher names the installed icon" grep -qx "Icon=$id" "$desktop"
check "the launcher passes files to the program" grep -qx 'Exec=kestrovia %F' "$desktop"
check "the metainfo names the launcher" grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo"
check "desktop-file-validate" desktop-file-validate "$desktop"
check "appstreamcli validate" appstreamcli validate --no-net "$metainfo"
file_manager_checks "$share" "$prefix/bin/kestrovia"

# No file beyond the expected ones: the binary, 2 data files, 9 icons, 2 manual
# pages, the README, the copyright, the change log, the service menu and 2 Nemo
# actions.
count=$(find "$prefix" -type f | wc -l)
check "20 files installed, not $count" test "$count" -eq 20

checks_done install
