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
