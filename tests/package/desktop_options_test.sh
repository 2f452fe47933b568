#!/usr/bin/env bash
# The desktop program's --help and --version: printed, status 0, and no window, so they work with
# no display at all; after "--" every argument is a file. Usage: desktop_options_test.sh PROGRAM
set -uo pipefail
program="$1"
failures=0
check() {  # check STATUS PATTERN PLATFORM ARGUMENT...: the exit status and what was printed
    local status="$1" pattern="$2" platform="$3" out code
    shift 3
    out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM ${platform:+QT_QPA_PLATFORM=$platform} \
        timeout 3 "$program" "$@" 2>&1)"
    code=$?
    [[ $code -eq $status && "$out" == $pattern ]] && return
    echo "FAIL: chipsight $* gave status $code and: $out" >&2
    failures=$((failures + 1))
}
usage='Usage: chipsight \[OPTION\]... \[--\] \[FILE\]...*'
check 0 "chipsight 1.05*" "" --version
check 0 "$usage" "" --help
check 0 "$usage" "" dump.bin --help  # files named before the option open no window either
# Neither the program nor Qt reads an argument after "--" as its option: the window opens and
# waits for its user until the run is ended (status 124).
for args in "-- --help" "-- -platform x.bin" "-platform offscreen -- -style nonesuch -platform"; do
    check 124 '!(*Usage*)' offscreen $args
done
# A -platform value that no platform answers to (a file name, most likely) is refused with a
# hint, where Qt would abort.
check 2 '*no display platform is called "x.bin"*' "" -platform x.bin
exit $((failures > 0))
