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
check "Usage: chipsight [OPTION]... [--] [FILE]..." --help
# Files named before the option do not open a window either.
check "Usage: chipsight [OPTION]... [--] [FILE]..." dump.bin --help

# After "--" every argument is a file: neither the program nor Qt reads one as its option. The
# window then waits for its user, so each run is ended after a while; an abort or a printed
# help would come at once.
for args in "-- --help" "-- -platform x.bin" "-platform offscreen -- -style nonesuch -platform"; do
    out="$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen timeout 3 "$program" $args 2>&1)"
    status=$?
    if [[ $status -ne 124 || "$out" == *Usage* ]]; then
        echo "FAIL: chipsight $args gave status $status and: $out" >&2
        failures=$((failures + 1))
    fi
done
# A -platform value that no platform answers to (a file name, most likely) is refused with a
# hint, where Qt would abort.
out="$(env -u DISPLAY -u WAYLAND_DISPLAY timeout 10 "$program" -platform x.bin 2>&1)"
status=$?
if [[ $status -ne 2 || "$out" != *'no display platform is called "x.bin"'* ]]; then
    echo "FAIL: chipsight -platform x.bin gave status $status and: $out" >&2
    failures=$((failures + 1))
fi
exit $((failures > 0))
