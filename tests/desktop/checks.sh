# Sourced by the desktop tests: check <description> <command...> counts a check
# that passed or failed; checks_done <name> says how many and fails if any failed.
passed=0 failed=0
check() {
    what=$1; shift
    if "$@"; then passed=$((passed + 1)); else echo "FAIL: $what" >&2; failed=$((failed + 1)); fi
}
checks_done() {
    echo "$1: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

# The value of key in a desktop-style file ($1), first group that has it.
desktop_value() { sed -n "s/^$2=//p" "$1" | head -n 1; }
# Whether a file manager's Exec line ($2, from $1) names options the program
# accepts: run with a picture for %F and no display, it gets as far as wanting a
# window (status 1, the display named) instead of a usage error (2).
exec_accepted() {
    bin=$1 line=$2
    set -- $(echo "$line" | sed 's/%[FfUu]/photo.jpg/g')
    shift
    err=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$bin" "$@" 2>&1 >/dev/null)
    [ $? -eq 1 ] && echo "$err" | grep -q ディスプレイ
}
# The Nemo action $1 (no validator in Debian): its group, the keys Nemo needs, an
# Exec line on the selected files and the picture types.
nemo_action_ok() {
    [ "$(head -n 1 "$1")" = "[Nemo Action]" ] &&
    [ "$(desktop_value "$1" Active)" = true ] &&
    [ -n "$(desktop_value "$1" Name)" ] &&
    [ "$(desktop_value "$1" Selection)" = notnone ] &&
    desktop_value "$1" Exec | grep -q '^kestrovia .*%F$' &&
    desktop_value "$1" Mimetypes | grep -q 'image/jpeg;' &&
    ! grep -v '^\(\[Nemo Action\]\|[A-Za-z-]\+\(\[[a-zA-Z_]\+\]\)\?=.*\|\)$' "$1" | grep -q .
}
# desktop-file-validate on Dolphin's service menu ($1): the validator knows only
# applications' keys, and a service menu of Type=Service needs two of them
# (MimeType, Actions); every other error counts.
servicemenu_valid() {
    desktop-file-validate "$1" | grep 'error:' |
        grep -v 'key "\(MimeType\|Actions\)" is present in group "Desktop Entry", but the type is "Service"' |
        { ! grep .; }
}
# Every file manager entry of the program installed under $1/share ($2: the program).
file_manager_checks() {
    share=$1 bin=$2
    servicemenu=$share/kio/servicemenus/$id.desktop
    check "Dolphin service menu" test -s "$servicemenu"
    check "the service menu is executable" test -x "$servicemenu"
    check "desktop-file-validate on the service menu" servicemenu_valid "$servicemenu"
    check "the service menu is one of Dolphin's" grep -qx 'X-KDE-ServiceTypes=KonqPopupMenu/Plugin' "$servicemenu"
    check "the launcher has two actions" test "$(desktop_value "$share/applications/$id.desktop" Actions)" = \
        "ConvertLast;ConvertPreset;"
    for action in "$share"/nemo/actions/kestrovia-last.nemo_action "$share"/nemo/actions/kestrovia-preset.nemo_action; do
        check "Nemo action $action" nemo_action_ok "$action"
    done
    for file in "$share/applications/$id.desktop" "$servicemenu" "$share"/nemo/actions/*.nemo_action; do
        for line in $(grep '^Exec=' "$file" | sed 's/^Exec=//; s/ /|/g'); do
            line=$(echo "$line" | tr '|' ' ')
            check "$file: the program accepts $line" exec_accepted "$bin" "$line"
        done
    done
}
