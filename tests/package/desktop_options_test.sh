#!/usr/bin/env bash
# The desktop program's --help and --version: printed, status 0, and no window, so they work
# with no display at all. Usage: desktop_options_test.sh PATH_TO_CHIPSIGHT
set -uo pipefail
program="$1"
failures=0
check() {  # check EXPECTED_START ARGUMENT...
    local expected="$1" out status
    shift
    out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" "$@" 2>&1)"
    status=$?
    if [[ $status -ne 0 || "$out" != "$expected"* ]]; then
        echo "FAIL: chipsight $* gave status $status and: $out" >&2
        failures=$((failures + 1))
    fi
}
check "chipsight 1.05" --version
check "Usage: chipsight [FILE]..." --help
# Files named before the option do not open a window either.
check "Usage: chipsight [FILE]..." dump.bin --help
exit $((failures > 0))
