#!/usr/bin/env bash
# Builds the Debian package from a configured build tree, unpacks it into a temporary root and
# runs the programs from there as an installed copy: the version, an identification against the
# per-user database, the first custom entry making the per-user directory, and --db-dir.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR. Exits 77 (skipped) without the Debian tools.
set -euo pipefail
BUILD="$1"
SOURCE="$2"
for tool in cpack dpkg-deb dpkg-shlibdeps; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is missing"; exit 77; }
done

TMP="$(mktemp -d)"
# The unpacked bin directory is made read-only below; an ordinary user must open it again to
# remove it. What the cleanup meets does not change the test's outcome.
trap 'chmod -R u+w "$TMP" 2>/dev/null; rm -rf "$TMP" || echo "could not remove $TMP" >&2' EXIT
chmod 0755 "$TMP"  # the unprivileged user below must reach into it
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}
# expect_equal WHAT ACTUAL EXPECTED
expect_equal() {
    [[ "$2" == "$3" ]] || fail "$1: got [$2], expected [$3]"
}

cpack --config "$BUILD/CPackConfig.cmake" -B "$TMP/out" >"$TMP/cpack.log" 2>&1 ||
    { cat "$TMP/cpack.log" >&2; exit 1; }
debs=("$TMP"/out/chipsight_*.deb)
[[ ${#debs[@]} -eq 1 && -f "${debs[0]}" ]] || { echo "no single package in $TMP/out" >&2; exit 1; }
deb="${debs[0]}"

# The dependencies come from the libraries the programs link.
depends="$(dpkg-deb -f "$deb" Depends)"
for library in libc6 libstdc++6 libqt6widgets6; do
    [[ "$depends" == *"$library "* ]] || fail "Depends lacks $library: $depends"
done

# Debian's own checks: no error or warning, and the hardening of Debian's builds.
if command -v lintian >/dev/null; then
    lintian --info --pedantic "$deb" >"$TMP/lintian.log" 2>&1
    if grep -E '^[EW]: |hardening' "$TMP/lintian.log" >"$TMP/lintian.bad"; then
        fail "lintian: $(cat "$TMP/lintian.bad")"
    fi
fi

root="$TMP/root"
dpkg-deb -x "$deb" "$root"
for file in usr/bin/chipsight usr/bin/chipsight-cli usr/share/applications/chipsight.desktop \
    usr/share/icons/hicolor/16x16/apps/chipsight.png usr/share/icons/hicolor/32x32/apps/chipsight.png \
    usr/share/icons/hicolor/scalable/apps/chipsight.svg \
    usr/share/man/man1/chipsight.1.gz usr/share/man/man1/chipsight-cli.1.gz \
    usr/share/doc/chipsight/copyright usr/share/doc/chipsight/changelog.gz; do
    [[ -f "$root/$file" ]] || fail "the package lacks /$file"
done
[[ ! -e "$root/usr/bin/chipsight-screenshot" ]] || fail "the screenshot renderer is packaged"
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/chipsight.desktop" || fail "desktop entry"
fi
if command -v man >/dev/null; then
    for page in chipsight chipsight-cli; do
        text="$(MANWIDTH=80 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>"$TMP/man.err")"
        [[ "$text" == *NAME*"$page - identify ROM and EPROM dumps"* ]] || fail "man page $page: $text"
        [[ ! -s "$TMP/man.err" ]] || fail "man page $page warns: $(cat "$TMP/man.err")"
    done
fi

# The programs run from the unpacked root. Its bin directory is made read-only and holds no
# database, as in /usr/bin; as root, for whom nothing is read-only, they run as nobody.
chmod 0555 "$root/usr/bin"
runner=()
owner="$(id -u):$(id -g)"
if [[ $(id -u) -eq 0 ]]; then
    runner=(setpriv --reuid=65534 --regid=65534 --clear-groups --)
    owner="65534:65534"
fi
run() {  # run HOME XDG_DATA_HOME PROGRAM ARGS...: stdout and stderr into $out and $err
    local home="$1" data="$2" program="$3"
    shift 3
    set +e
    "${runner[@]}" env -i PATH=/usr/bin:/bin HOME="$home" ${data:+XDG_DATA_HOME="$data"} \
        "$root/usr/bin/$program" "$@" >"$TMP/stdout" 2>"$TMP/stderr"
    status=$?
    set -e
    out="$(cat "$TMP/stdout")"
    err="$(cat "$TMP/stderr")"
}
private_dir() {  # a directory the programs' user owns
    mkdir -p "$1"
    chown "$owner" "$1"
}

mkdir "$TMP/images"
cp "$SOURCE/examples/roms/space_raiders_u7u8.bin" "$TMP/images/"
printf '\x00\x01\x02\x03' >"$TMP/images/test.bin"
chmod -R a+rX "$TMP/images"

run "$TMP" "" chipsight-cli --version
expect_equal "chipsight-cli --version" "$out" "chipsight-cli 1.05"
# No display: the desktop program answers without setting up a window.
run "$TMP" "" chipsight --version
expect_equal "chipsight --version" "$out|$status" "chipsight 1.05|0"

# The tables in the per-user data directory of $XDG_DATA_HOME are found and used.
mkdir -p "$TMP/data/chipsight"
cp "$SOURCE"/examples/db/CHIPLORE.* "$TMP/data/chipsight/"
chmod -R a+rX "$TMP/data"
run "$TMP" "$TMP/data" chipsight-cli --split-level 2 "$TMP/images/space_raiders_u7u8.bin"
expect_equal "identification from the data directory" "$out|$err|$status" \
    "============================
space_raiders_u7u8.bin: (1/2) [63D6B811]
	- sr-u7.bin : Space Raiders (Morrowlark demo set)
space_raiders_u7u8.bin: (2/2) [FF7805D9]
	- sr-u8.bin : Space Raiders (Morrowlark demo set)||0"

# Without XDG_DATA_HOME the directory is under the home directory; nothing is made before the
# first custom entry, which then makes the directory, private to the user.
home="$TMP/home"
private_dir "$home"
run "$home" "" chipsight-cli "$TMP/images/test.bin"
expect_equal "identification with no database" "$status" "1"
[[ ! -e "$home/.local" ]] || fail "reading made $home/.local"
run "$home" "" chipsight-cli --add 8BB98613 4 EPROM1 "My board"
expect_equal "--add" "$err|$status" "|0"
dat="$home/.local/share/chipsight/Chipsight.dat"
if [[ -f "$dat" ]]; then
    expect_equal "size of Chipsight.dat" "$(stat -c %s "$dat")" "108"
    expect_equal "mode of the data directory" "$(stat -c %a "$home/.local/share/chipsight")" "700"
else
    fail "--add did not write $dat"
fi
[[ ! -e "$root/usr/bin/Chipsight.dat" ]] || fail "--add wrote into the program directory"
run "$home" "" chipsight-cli "$TMP/images/test.bin"
expect_equal "identification of the added entry" "$out|$status" \
    "============================
test.bin: (1/1) [8BB98613]
	- EPROM1 : My board|0"

# --db-dir names the directory outright, for reading and for writing.
named="$TMP/named"
private_dir "$named"
run "$home" "$TMP/data" chipsight-cli --db-dir "$named" --add 8BB98613 4 NAMED "Named directory"
expect_equal "--db-dir --add" "$err|$status" "|0"
expect_equal "size of the named Chipsight.dat" "$(stat -c %s "$named/Chipsight.dat" 2>&1)" "108"
[[ ! -e "$TMP/data/chipsight/Chipsight.dat" ]] || fail "--db-dir --add wrote to the data directory"
run "$home" "$TMP/data" chipsight-cli --db-dir "$named" "$TMP/images/test.bin"
expect_equal "--db-dir identification" "$out" "============================
test.bin: (1/1) [8BB98613]
	- NAMED : Named directory"

if ((failures)); then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "package $(basename "$deb"): all checks passed"
