#!/usr/bin/env bash
# Builds the Debian package from a configured build tree, checks it with Debian's own tools,
# unpacks it into a temporary root and runs the programs from there as an installed copy: the
# versions, the per-user database, and the first custom entry making the per-user directory.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR. Exits 77 (skipped) without the tools.
set -uo pipefail
BUILD="$1" SOURCE="$2"
for tool in cpack dpkg-deb dpkg-shlibdeps lintian; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done
TMP="$(mktemp -d)"
# The unpacked bin directory is made read-only below; it must be opened again to be removed.
trap 'chmod -R u+w "$TMP"; rm -rf "$TMP"' EXIT
chmod 0755 "$TMP"  # the unprivileged user below must reach into it
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect() { [[ "$2" == "$3" ]] || fail "$1: got [$2], expected [$3]"; }

cpack --config "$BUILD/CPackConfig.cmake" -B "$TMP/out" >"$TMP/cpack.log" 2>&1 ||
    { cat "$TMP/cpack.log" >&2; exit 1; }
deb="$(echo "$TMP"/out/chipsight_*.deb)"
[[ -f "$deb" ]] || { echo "no single package in $TMP/out" >&2; exit 1; }
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libc6 libstdc++6 libqt6widgets6; do
    [[ "$depends" == *"$library "* ]] || fail "Depends lacks $library: $depends"
done
# No lintian error or warning (the man pages' groff messages and NAME lines among them), and
# the hardening of Debian's builds.
lintian --info --pedantic "$deb" 2>&1 | grep -E '^[EW]: |hardening' && fail "lintian"

root="$TMP/root"
dpkg-deb -x "$deb" "$root"
for file in bin/chipsight bin/chipsight-cli share/applications/chipsight.desktop \
    share/icons/hicolor/{16x16,32x32}/apps/chipsight.png share/icons/hicolor/scalable/apps/chipsight.svg \
    share/man/man1/chipsight{,-cli}.1.gz share/doc/chipsight/{copyright,changelog.gz}; do
    [[ -f "$root/usr/$file" ]] || fail "the package lacks /usr/$file"
done
[[ ! -e "$root/usr/bin/chipsight-screenshot" ]] || fail "the screenshot renderer is packaged"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/chipsight.desktop" || fail "desktop entry"
fi

# The programs run from the unpacked root, whose bin directory is read-only and holds no
# database, as /usr/bin does; as root, for whom nothing is read-only, they run as nobody.
chmod 0555 "$root/usr/bin"
runner=() owner="$(id -u):$(id -g)"
if [[ $(id -u) -eq 0 ]]; then
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups --) owner=65534:65534
fi
run() {  # run HOME XDG_DATA_HOME PROGRAM ARGUMENT...: prints "stdout|stderr|status"
    local home="$1" data="$2" program="$3" status
    shift 3
    "${runner[@]}" env -i PATH=/usr/bin:/bin HOME="$home" ${data:+XDG_DATA_HOME="$data"} \
        "$root/usr/bin/$program" "$@" >"$TMP/stdout" 2>"$TMP/stderr"
    status=$?
    echo "$(cat "$TMP/stdout")|$(cat "$TMP/stderr")|$status"
}
mkdir -p "$TMP/images" "$TMP/data/chipsight" "$TMP/home"
chown "$owner" "$TMP/home"
cp "$SOURCE/examples/roms/space_raiders_u7u8.bin" "$TMP/images/"
printf '\x00\x01\x02\x03' >"$TMP/images/test.bin"
cp "$SOURCE"/examples/db/CHIPLORE.* "$TMP/data/chipsight/"
chmod -R a+rX "$TMP/images" "$TMP/data"
home="$TMP/home" dat="$TMP/home/.local/share/chipsight/Chipsight.dat"

expect "--version" "$(run "$TMP" "" chipsight-cli --version) $(run "$TMP" "" chipsight --version)" \
    "chipsight-cli 1.05||0 chipsight 1.05||0"
# The tables in the per-user data directory of $XDG_DATA_HOME are found and used.
result="$(run "$TMP" "$TMP/data" chipsight-cli --split-level 2 "$TMP/images/space_raiders_u7u8.bin")"
[[ "$result" == *"(1/2)"*"- sr-u7.bin : Space Raiders"*"- sr-u8.bin : Space Raiders"*"||0" ]] ||
    fail "identification from the data directory: $result"
# Without XDG_DATA_HOME the directory is under the home directory; nothing is made before the
# first custom entry, which then makes the directory, private to the user.
result="$(run "$home" "" chipsight-cli "$TMP/images/test.bin")"
expect "identification with no database" "${result##*|}" 1
[[ ! -e "$home/.local" ]] || fail "reading made $home/.local"
result="$(run "$home" "" chipsight-cli --add 8BB98613 4 EPROM1 "My board")"
expect "--add" "${result#*|} $(stat -c %s "$dat") $(stat -c %a "${dat%/*}")" "|0 108 700"
[[ ! -e "$root/usr/bin/Chipsight.dat" ]] || fail "--add wrote into the program directory"
expect "identification of the added entry" "$(run "$home" "" chipsight-cli "$TMP/images/test.bin")" \
    "============================
test.bin: (1/1) [8BB98613]
	- EPROM1 : My board||0"

((failures == 0)) || { echo "$failures check(s) failed" >&2; exit 1; }
echo "package $(basename "$deb"): all checks passed"
