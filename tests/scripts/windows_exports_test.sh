#!/usr/bin/env bash
# The Windows binaries as the file manager sees them: export tables of both plug-ins,
# and imports of every shipped binary limited to DLLs that every Windows has.
#   windows_exports_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_DIST_ROOT/win32, win64)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

[ -n "${KYRZBK_DIST_ROOT:-}" ] || skip "KYRZBK_DIST_ROOT not set: Windows builds not part of this configuration"
win32="$KYRZBK_DIST_ROOT/win32"
win64="$KYRZBK_DIST_ROOT/win64"

check_windows_exports "$win32/kyrzbk.wcx" "$win64/kyrzbk.wcx64"
check_windows_imports "$win32/kyrzbk.wcx" "$win32/kyrzbk.exe" "$win64/kyrzbk.wcx64" "$win64/kyrzbk.exe"

finish
