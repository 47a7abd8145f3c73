#!/bin/sh
# Usage: tools/install-packages.sh PACKAGE...
# Installs the Debian or Ubuntu packages of the list that are missing, with
# apt-get (through sudo unless run as root). A package written "a|b" is one
# whose name differs between distributions: an installed one of them is enough,
# otherwise the first that apt offers is installed.
set -eu

installed() { dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q ' ok installed$'; }
offered() { apt-cache policy "$1" 2>/dev/null | grep -q 'Candidate: [^(]'; }

missing=
for entry in "$@"; do
    found=
    for name in $(echo "$entry" | tr '|' ' '); do
        if installed "$name"; then found=1; break; fi
    done
    [ -n "$found" ] || missing="$missing $entry"
done
[ -n "$missing" ] || exit 0

sudo=
[ "$(id -u)" = 0 ] || sudo=sudo
$sudo apt-get update -qq
chosen=
for entry in $missing; do
    pick=
    for name in $(echo "$entry" | tr '|' ' '); do
        if offered "$name"; then pick=$name; break; fi
    done
    # None offered: name the first, so that apt-get says what is missing.
    chosen="$chosen ${pick:-${entry%%|*}}"
done
echo "Installing:$chosen"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq $chosen
