#!/usr/bin/env bash
# The release packages as a user receives them: packs the finished build folders with the
# release command (without building again), unpacks both packages and checks what they
# hold, the installer file, the exports of every plug-in and the version of the hosts.
#   release_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_DIST_ROOT, $KYRZBK_VERSION)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

source_dir="$(cd "$1" && pwd)"
binary_dir="$(cd "$2" && pwd)"
[ -n "${KYRZBK_DIST_ROOT:-}" ] || skip "KYRZBK_DIST_ROOT not set: the Windows builds are not part of this configuration"
[ -n "${KYRZBK_VERSION:-}" ] || { fail "KYRZBK_VERSION not set"; finish; }
version="$KYRZBK_VERSION"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
if ! bash "$source_dir/scripts/release.sh" --no-build --build-dir "$binary_dir" --output "$work/packages" >"$work/release.log" 2>&1; then
    cat "$work/release.log"
    fail "release.sh --no-build"
    finish
fi
zip="kyrzbk-$version-windows.zip"
tgz="kyrzbk-$version-linux-x86_64.tar.gz"
expect_same "packages made" "$(printf '%s\n' "$zip" "$tgz" | LC_ALL=C sort)" "$(ls "$work/packages" | LC_ALL=C sort)"

# cmake unpacks both kinds, so no archiver beyond the build's own tools is needed.
unpack() {
    mkdir -p "$2" && (cd "$2" && cmake -E tar xf "$1")
}
files_below() {
    (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
}
# Both packages carry the examples that the user guide works on.
examples="$(cd "$source_dir" && find examples -type f | LC_ALL=C sort)"

# The Windows zip: everything at its root, as the file manager's installer expects.
windows="$work/windows"
if unpack "$work/packages/$zip" "$windows"; then
    expect_same "$zip contents" "$(printf '%s\n' LICENSE.txt USER-GUIDE.md $examples kyrzbk.exe kyrzbk.wcx \
        kyrzbk.wcx64 kyrzbk32.exe pluginst.inf | LC_ALL=C sort)" "$(files_below "$windows")"

    inf="$windows/pluginst.inf"
    lines="$(wc -l <"$inf")"
    expect_same "pluginst.inf ends every line with CR LF" "$lines" "$(grep -c $'\r$' "$inf")"
    keys="$(tr -d '\r' <"$inf")"
    expect_same "pluginst.inf section and keys" \
        "$(printf '%s\n' '[plugininstall]' description type=wcx file=kyrzbk.wcx defaultdir=kyrzbk defaultextension=zbk)" \
        "$(sed 's/^description=.*/description/' <<<"$keys")"
    [[ "$keys" == *"description="*[A-Za-z]*"$version"* ]] || fail "pluginst.inf description names the version: $keys"

    check_windows_exports "$windows/kyrzbk.wcx" "$windows/kyrzbk.wcx64"
    check_windows_imports "$windows/kyrzbk.wcx" "$windows/kyrzbk32.exe" "$windows/kyrzbk.wcx64" "$windows/kyrzbk.exe"
    [[ "$(pe_objdump "$windows/kyrzbk32.exe")" == *"file format pei-i386"* ]] || fail "kyrzbk32.exe is not a 32-bit x86 program"
    [[ "$(pe_objdump "$windows/kyrzbk.exe")" == *"file format pei-x86-64"* ]] || fail "kyrzbk.exe is not a 64-bit x86 program"
    # The 64-bit host finds the 64-bit plug-in beside it; only wine64 is at hand, so the
    # 32-bit host is checked by its headers alone.
    expect_same "kyrzbk.exe --version under wine64" "kyrzbk $version" \
        "$(cd "$work" && bash "$source_dir/scripts/wine_run.sh" "$windows/kyrzbk.exe" --version 2>&1 | tr -d '\r')"
    expect_same "kyrzbk.exe caps under wine64" 95 \
        "$(cd "$work" && bash "$source_dir/scripts/wine_run.sh" "$windows/kyrzbk.exe" caps 2>&1 | tr -d '\r')"
    expect_same "user guide in the zip" "$(cat "$source_dir/docs/user-guide.md")" "$(cat "$windows/USER-GUIDE.md")"
else
    fail "cannot unpack $zip"
fi

# The Linux tarball: one folder named like the package.
linux="$work/linux"
top="kyrzbk-$version-linux-x86_64"
if unpack "$work/packages/$tgz" "$linux"; then
    expect_same "$tgz contents" "$(printf "$top/%s\n" LICENSE.txt USER-GUIDE.md $examples kyrzbk kyrzbk.wcx |
        LC_ALL=C sort)" "$(files_below "$linux")"
    check_linux_exports "$linux/$top/kyrzbk.wcx" "packaged kyrzbk.wcx"
    [ -x "$linux/$top/kyrzbk" ] || fail "packaged host is not executable"
    for f in kyrzbk kyrzbk.wcx; do
        if readelf -S "$linux/$top/$f" | grep -q '\.symtab'; then fail "packaged $f carries a symbol table"; else pass "packaged $f is stripped"; fi
    done
    # From another folder, so that only the plug-in beside the host can serve.
    expect_same "kyrzbk --version" "kyrzbk $version" "$(cd "$work" && "$linux/$top/kyrzbk" --version 2>&1)"
    expect_same "kyrzbk caps" 95 "$(cd "$work" && "$linux/$top/kyrzbk" caps 2>&1)"
    expect_same "packaged examples verify" "examples/sample.zbk: 4 entries verified, 0 failed" \
        "$(cd "$linux/$top" && ./kyrzbk --quiet verify examples/sample.zbk 2>&1)"
else
    fail "cannot unpack $tgz"
fi

finish
