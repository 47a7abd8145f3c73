#!/bin/sh
# Usage: package.sh <cpack> <build folder> <application id> <version>
# Builds the Debian package from the build with CPack, unpacks it into a temporary
# root as dpkg would install it, and checks its fields and every file in it.
# Needs dpkg-deb and dpkg-shlibdeps (dpkg-dev), file (CPack finds the programs
# with it), desktop-file-validate (desktop-file-utils) and appstreamcli
# (appstream); exits 77 (skipped) without the first three, as on a system that is
# not Debian's.
set -u
cpack=$1 build=$2 id=$3 version=$4
for tool in dpkg-deb dpkg-shlibdeps file; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: no $tool here; the Debian package cannot be built"
        exit 77
    fi
done
work=$(mktemp -d "${TMPDIR:-/tmp}/kestrovia-package.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
. "$(dirname "$0")/checks.sh"

if ! "$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    echo "FAIL: cpack" >&2
    exit 1
fi
set -- "$work"/out/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || { echo "FAIL: one .deb expected, found: $*" >&2; exit 1; }
deb=$1
root=$work/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x" >&2; exit 1; }
field() { dpkg-deb -f "$deb" "$1"; }
# Whether the comma-separated relation list $1 names package $2 (alone or in an alternative).
names() { echo "$1" | tr ',|' '\n\n' | sed 's/(.*//; s/[[:space:]]//g' | grep -qx "$2"; }

check "Package and Version" test "$(field Package) $(field Version)" = "kestrovia $version"
check "Architecture is this machine's" test "$(field Architecture)" = "$(dpkg --print-architecture)"
check "Section graphics" test "$(field Section)" = graphics
check "Priority optional" test "$(field Priority)" = optional
check "Maintainer with an address" sh -c 'echo "$1" | grep -q "^[^<]\+ <[^>]\+@[^>]\+>$"' - "$(field Maintainer)"
depends=$(field Depends)
# From dpkg-shlibdeps (the libraries the program links), and the data it opens.
for package in libqt6widgets6 libturbojpeg0 libexiv2-27 liblcms2-2 libheif1 libc6 \
        fonts-ipafont-gothic qt6-image-formats-plugins qt6-translations-l10n libgs-common; do
    check "Depends names $package" names "$depends" "$package"
done
check "every file belongs to root" sh -c '! dpkg-deb -c "$1" | awk "{ print \$2 }" | grep -qv "^root/root$"' - "$deb"
check "only /usr is touched" test "$(ls -A "$root")" = usr
check "nothing in /usr/local" test ! -e "$root/usr/local"

bin=$root/usr/bin/kestrovia
share=$root/usr/share
desktop=$share/applications/$id.desktop
metainfo=$share/metainfo/$id.metainfo.xml
doc=$share/doc/kestrovia
check "the program runs" sh -c '"$1" --version >/dev/null' - "$bin"
check "the program is stripped" sh -c '! readelf -S "$1" | grep -q "\.symtab"' - "$bin"
check "the program has no RPATH or RUNPATH" sh -c '! readelf -d "$1" | grep -q "R\(UN\)\?PATH"' - "$bin"
check "desktop-file-validate" desktop-file-validate "$desktop"
check "the launcher names the packaged icon" grep -qx "Icon=$id" "$desktop"
check "appstreamcli validate" appstreamcli validate --no-net "$metainfo"
for size in 16 22 24 32 48 64 128 256; do
    check "${size}x$size icon" test -s "$share/icons/hicolor/${size}x$size/apps/$id.png"
done
check "scalable icon" grep -q '<svg' "$share/icons/hicolor/scalable/apps/$id.svg"
for page in "$share/man/man1/kestrovia.1.gz" "$share/man/ja/man1/kestrovia.1.gz"; do
    check "$page is a gzipped manual page" sh -c 'gzip -dc "$1" | grep -q "^\.TH KESTROVIA 1"' - "$page"
done
check "copyright" grep -q '^Copyright: ' "$doc/copyright"
# A version bumped without a change log entry is caught here.
check "the change log starts with this version" \
    sh -c 'gzip -dc "$1" | head -n 1 | grep -q "^kestrovia ($2) "' - "$doc/changelog.gz" "$version"
check "the README, the About dialog's support page" test -s "$doc/README.md"
file_manager_checks "$share" "$bin"
# The program, 2 data files, 9 icons, 2 manual pages, README, copyright, changelog,
# the service menu and 2 Nemo actions.
count=$(find "$root" -type f | wc -l)
check "20 files packaged, not $count" test "$count" -eq 20

checks_done package
