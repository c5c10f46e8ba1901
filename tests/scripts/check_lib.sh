# Sourced by the *_test.sh checks: failure counting and the PE table readers.
# Every check runs to the end and reports all failures, then the script exits 1.

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok: $*"; }
finish() {
    if [ "$failures" -ne 0 ]; then echo "$failures check(s) failed"; exit 1; fi
    exit 0
}
skip() { echo "SKIP: $*"; exit 77; }

# Compares two texts; on a difference shows both and fails with the message.
expect_same() {
    local what="$1" expected="$2" actual="$3"
    if [ "$expected" == "$actual" ]; then
        pass "$what"
    else
        fail "$what"
        diff <(printf "%s\n" "$expected") <(printf "%s\n" "$actual") | sed "s/^/    /"
    fi
}

pe_objdump() {
    local tool
    for tool in x86_64-w64-mingw32-objdump i686-w64-mingw32-objdump objdump; do
        command -v "$tool" >/dev/null && { "$tool" -p "$1"; return; }
    done
    echo "no objdump found" >&2
    return 1
}

# "ORDINAL NAME RVA" for each named export, in name-table order.
pe_named_exports() {
    pe_objdump "$1" | awk '
        /^Export Address Table -- Ordinal Base/ { base = $NF; eat = 1; next }
        eat && /^\t\[ *[0-9]+\] \+base\[ *[0-9]+\]/ {
            line = $0; gsub(/[][+]/, " ", line); split(line, f, " ")
            rva[f[3]] = f[4]; next
        }
        eat && /^$/ { eat = 0 }
        /^\[Ordinal\/Name Pointer\] Table/ { names = 1; next }
        names && /^\t\[ *[0-9]+\] / {
            line = $0; sub(/^\t\[ */, "", line); idx = line + 0; sub(/^[0-9]+\] /, "", line)
            ord = idx + base; print ord, line, rva[ord]; next
        }
        names && /^$/ { names = 0 }'
}

# Module name recorded in the export directory.
pe_export_module_name() {
    pe_objdump "$1" | awk '/^Name[ \t]+[0-9a-fA-F]+ / { print $3; exit }'
}

# Imported DLL names, lower case, one per line.
pe_imported_dlls() {
    pe_objdump "$1" | awk '/DLL Name:/ { print tolower($3) }' | sort -u
}

# Number of entries in the export address table, named or not.
pe_export_count() {
    pe_objdump "$1" | awk '/^Export Address Table -- Ordinal Base/ { eat = 1; next }
                           eat && /^\t\[ *[0-9]+\] \+base/ { n++ }
                           eat && /^$/ { eat = 0 }
                           END { print n + 0 }'
}

# The twelve functions of the host interface, each with the bytes of arguments on the
# stack that the 32-bit stdcall decoration carries.
plugin_functions=(
    "CanYouHandleThisFile 4" "CloseArchive 4" "ConfigurePacker 8" "DeleteFiles 8"
    "GetPackerCaps 0" "OpenArchive 4" "PackFiles 20" "PackSetDefaultParams 4"
    "ProcessFile 16" "ReadHeader 8" "SetChangeVolProc 8" "SetProcessDataProc 8"
)
# The wide-character functions and the 64-bit header record, exported after the twelve so
# that the older functions keep their ordinals.
wide_functions=(
    "CanYouHandleThisFileW 4" "DeleteFilesW 8" "OpenArchiveW 4" "PackFilesW 20" "ProcessFileW 16"
    "ReadHeaderEx 8" "ReadHeaderExW 8" "SetChangeVolProcW 8" "SetProcessDataProcW 8"
)

# A Linux plug-in exports the host functions and not one symbol more, so that it cannot
# clash with whatever else the file manager has loaded.
check_linux_exports() {
    local plugin="$1" label="${2:-$1}" expected symbols
    [ -f "$plugin" ] || { fail "missing $plugin"; return; }
    expected="$(for entry in "${plugin_functions[@]}" "${wide_functions[@]}"; do echo "${entry% *}"; done | LC_ALL=C sort)"
    symbols="$(nm -D --defined-only "$plugin")"
    expect_same "$label exports exactly the host functions" "$expected" \
        "$(awk '{ print $NF }' <<<"$symbols" | LC_ALL=C sort)"
    expect_same "$label: every export is a function in the text section" "$expected" \
        "$(awk '$2 == "T" { print $NF }' <<<"$symbols" | LC_ALL=C sort)"
}

# Export tables of the two Windows plug-ins as the file manager sees them.
check_windows_exports() {
    local win32="$1" win64="$2" expected="" ordinal=1 entry exports32 twins
    [ -f "$win32" ] || fail "missing $win32"
    [ -f "$win64" ] || fail "missing $win64"
    [ -f "$win32" ] && [ -f "$win64" ] || return

    # 32-bit: plain names 1-12, decorated names 13-24, then the wide functions' plain
    # names 25-33 and decorated names 34-42; a decorated name at the same address as its
    # plain twin.
    local group
    for group in plugin_functions wide_functions; do
        local -n functions="$group"
        for entry in "${functions[@]}"; do
            expected+="$ordinal ${entry% *}"$'\n'
            ordinal=$((ordinal + 1))
        done
        for entry in "${functions[@]}"; do
            expected+="$ordinal _${entry% *}@${entry#* }"$'\n'
            ordinal=$((ordinal + 1))
        done
    done
    exports32="$(pe_named_exports "$win32")"
    expect_same "32-bit plug-in exports plain and decorated names as ordinals 1-42" \
        "${expected%$'\n'}" "$(awk '{ print $1, $2 }' <<<"$exports32" | sort -n)"
    expect_same "32-bit export table has no further entries" 42 "$(pe_export_count "$win32")"
    twins="$(awk '{ rva[$1] = $3 }
                  END { for (i = 1; i <= 12; i++) if (rva[i] == "" || rva[i] != rva[i + 12]) print i
                        for (i = 25; i <= 33; i++) if (rva[i] == "" || rva[i] != rva[i + 9]) print i }' <<<"$exports32")"
    expect_same "each decorated name leads to the code of its plain name" "" "$twins"
    expect_same "32-bit module name" "kyrzbk.dll" "$(pe_export_module_name "$win32")"
    [[ "$(pe_objdump "$win32")" == *"file format pei-i386"* ]] || fail "$win32 is not a 32-bit x86 binary"

    # 64-bit: the plain names only, the twelve first.
    expected=""
    ordinal=1
    for entry in "${plugin_functions[@]}" "${wide_functions[@]}"; do
        expected+="$ordinal ${entry% *}"$'\n'
        ordinal=$((ordinal + 1))
    done
    expect_same "64-bit plug-in exports the plain names" \
        "${expected%$'\n'}" "$(pe_named_exports "$win64" | awk '{ print $1, $2 }' | sort -n)"
    expect_same "64-bit export table has no further entries" 21 "$(pe_export_count "$win64")"
    [[ "$(pe_objdump "$win64")" == *"file format pei-x86-64"* ]] || fail "$win64 is not a 64-bit x86 binary"
}

# Windows binaries import only DLLs that ship with Windows: the compiler's runtime must be
# linked in, since a plug-in is copied alone into the file manager's folder.
check_windows_imports() {
    local system_dlls=" kernel32.dll user32.dll gdi32.dll advapi32.dll shell32.dll comdlg32.dll comctl32.dll
  ole32.dll oleaut32.dll shlwapi.dll version.dll msvcrt.dll ntdll.dll ws2_32.dll "
    local f imports foreign dll
    for f in "$@"; do
        [ -f "$f" ] || { fail "missing $f"; continue; }
        imports="$(pe_imported_dlls "$f")"
        [ -n "$imports" ] || fail "$f: no imports found"
        foreign=""
        for dll in $imports; do
            [[ "$system_dlls" == *" $dll "* ]] || foreign+="$dll "
        done
        expect_same "$(basename "$(dirname "$f")")/$(basename "$f") imports only system DLLs ($(echo $imports))" "" "$foreign"
    done
}
