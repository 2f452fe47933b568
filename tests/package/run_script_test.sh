#!/usr/bin/env bash
# scripts/run without a display: the demo on the built programs, two images of it rightly Not
# Found, and a status of 0. Usage: run_script_test.sh SOURCE_DIR BIN_DIR
set -uo pipefail
out="$(env -u DISPLAY -u WAYLAND_DISPLAY CHIPSIGHT_BIN_DIR="$2" "$1/scripts/run" 2>&1)"
status=$?
[[ $status -eq 0 && "$out" == *"space_raiders_u7u8.bin: (1/2)"* && "$out" == *"Not Found!"* ]] && exit 0
echo "FAIL: scripts/run gave status $status and: $out" >&2
exit 1
