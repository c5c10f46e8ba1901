#!/usr/bin/env bash
# The Windows binaries as the file manager sees them: export tables of both plug-ins,
# and imports of every shipped binary limited to DLLs that every Windows has.
#   windows_exports_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_DIST_ROOT/win32, win64)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

[ -n "${KYRZBK_DIST_ROOT:-}" ] || skip "KYRZBK_DIST_ROOT not set: Windows builds not part of this configuration"
win32="$KYRZBK_DIST_ROOT/win32"
win64="$KYRZBK_DIST_ROOT/win64"

# Name and bytes of arguments on the stack, which the stdcall decoration carries.
functions=(
    "CanYouHandleThisFile 4" "CloseArchive 4" "ConfigurePacker 8" "DeleteFiles 8"
    "GetPackerCaps 0" "OpenArchive 4" "PackFiles 20" "PackSetDefaultParams 4"
    "ProcessFile 16" "ReadHeader 8" "SetChangeVolProc 8" "SetProcessDataProc 8"
)

for f in "$win32/kyrzbk.wcx" "$win32/kyrzbk.exe" "$win64/kyrzbk.wcx64" "$win64/kyrzbk.exe"; do
    [ -f "$f" ] || fail "missing $f"
done
[ "$failures" -eq 0 ] || finish

# 32-bit: plain names 1-12, decorated names 13-24, a decorated name at the same address
# as its plain twin.
expected=""
ordinal=1
for entry in "${functions[@]}"; do
    set -- $entry
    expected+="$ordinal $1"$'\n'
    ordinal=$((ordinal + 1))
done
for entry in "${functions[@]}"; do
    set -- $entry
    expected+="$ordinal _$1@$2"$'\n'
    ordinal=$((ordinal + 1))
done
exports32="$(pe_named_exports "$win32/kyrzbk.wcx")"
expect_same "32-bit plug-in exports plain and decorated names as ordinals 1-24" \
    "${expected%$'\n'}" "$(awk '{ print $1, $2 }' <<<"$exports32")"
expect_same "32-bit export table has no further entries" 24 "$(pe_export_count "$win32/kyrzbk.wcx")"
twins="$(awk '{ rva[$1] = $3 } END { for (i = 1; i <= 12; i++) if (rva[i] == "" || rva[i] != rva[i + 12]) print i }' <<<"$exports32")"
expect_same "each decorated name leads to the code of its plain name" "" "$twins"
expect_same "32-bit module name" "kyrzbk.dll" "$(pe_export_module_name "$win32/kyrzbk.wcx")"
[[ "$(pe_objdump "$win32/kyrzbk.wcx")" == *"file format pei-i386"* ]] || fail "kyrzbk.wcx is not a 32-bit x86 binary"

# 64-bit: the plain names only.
expected=""
ordinal=1
for entry in "${functions[@]}"; do
    set -- $entry
    expected+="$ordinal $1"$'\n'
    ordinal=$((ordinal + 1))
done
expect_same "64-bit plug-in exports the plain names" \
    "${expected%$'\n'}" "$(pe_named_exports "$win64/kyrzbk.wcx64" | awk '{ print $1, $2 }')"
expect_same "64-bit export table has no further entries" 12 "$(pe_export_count "$win64/kyrzbk.wcx64")"
[[ "$(pe_objdump "$win64/kyrzbk.wcx64")" == *"file format pei-x86-64"* ]] || fail "kyrzbk.wcx64 is not a 64-bit x86 binary"

# Only DLLs that ship with Windows: the compiler's runtime must be linked in.
system_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll comdlg32.dll comctl32.dll
  ole32.dll oleaut32.dll shlwapi.dll version.dll msvcrt.dll ntdll.dll ws2_32.dll "
for f in "$win32/kyrzbk.wcx" "$win32/kyrzbk.exe" "$win64/kyrzbk.wcx64" "$win64/kyrzbk.exe"; do
    imports="$(pe_imported_dlls "$f")"
    [ -n "$imports" ] || fail "$f: no imports found"
    foreign=""
    for dll in $imports; do
        [[ "$system_dlls" == *" $dll "* ]] || foreign+="$dll "
    done
    expect_same "$(basename "$(dirname "$f")")/$(basename "$f") imports only system DLLs ($(echo $imports))" "" "$foreign"
done

finish
