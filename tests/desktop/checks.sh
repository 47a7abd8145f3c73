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
