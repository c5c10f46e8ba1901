#!/usr/bin/env bash
# Every operation on an entry of 384 MiB runs in less address space than the entry takes:
# the host and plug-in run under prlimit --as, set to what a tiny operation of the same kind
# needs (libraries, thread stacks, malloc's arenas) plus 64 MiB, and 40 MiB more per
# compression thread. Pack (stored, compressed on one and two threads), extract, verify,
# update (add a file, replace the entry) and delete; every result is read back and compared
# with its source.
#   bounded_memory_test.sh SOURCE_DIR BINARY_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

binary_dir="$2"
command -v prlimit >/dev/null || skip "no prlimit here"
# The sanitizers reserve terabytes of address space for their shadow memory.
grep -Eq '^KYRZBK_(SANITIZE|TSAN):BOOL=ON' "$binary_dir/CMakeCache.txt" 2>/dev/null &&
    skip "a sanitizer build cannot run under an address-space limit"
host_program="${KYRZBK_TEST_HOST:?}" plugin="${KYRZBK_TEST_PLUGIN:?}"
unset KYRZBK_INI # the built-in settings: .dat files are stored, .txt files compressed

entry_mib=384
one_thread_mib=64
per_thread_mib=40

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

host() { "$host_program" --plugin "$plugin" --quiet "$@"; }
limited() {
    local mib="$1"
    shift
    prlimit --as=$((mib << 20)) "$host_program" --plugin "$plugin" --quiet "$@"
}

# A tiny operation of each kind, checked against its result without a limit: short of
# memory, the plug-in stores a file it would compress, and the pool packs on fewer threads.
mkdir -p tiny/src && cd tiny || exit 1
seq 1 20000 >src/a.txt
seq 2 20001 >src/c.txt
seq 1 20000 >src/a.dat
seq 1 9 >src/b.txt
host pack packed.zbk src a.txt c.txt a.dat --threads 2 >/dev/null || fail "tiny pack"
cp packed.zbk updated.zbk
host pack updated.zbk src b.txt --threads 1 >/dev/null || fail "tiny update"
cp updated.zbk deleted.zbk
host delete deleted.zbk b.txt >/dev/null || fail "tiny delete"
tiny_pack() { rm -f t.zbk && limited "$1" pack t.zbk src a.txt c.txt a.dat --threads 2 && cmp -s t.zbk packed.zbk; }
tiny_extract() {
    rm -rf out && limited "$1" extract packed.zbk -C out && cmp -s out/a.txt src/a.txt && cmp -s out/c.txt src/c.txt
}
tiny_verify() { limited "$1" verify packed.zbk; }
tiny_update() { cp packed.zbk t.zbk && limited "$1" pack t.zbk src b.txt --threads 1 && cmp -s t.zbk updated.zbk; }
tiny_delete() { cp updated.zbk t.zbk && limited "$1" delete t.zbk b.txt && cmp -s t.zbk deleted.zbk; }

# The least address space, in MiB, in which the step gives its result; 0 when 4 GiB are not enough.
least_space() {
    local step="$1" low=1 high=4096 middle
    "$step" "$high" >/dev/null 2>&1 || { echo 0; return; }
    while [ "$low" -lt "$high" ]; do
        middle=$(((low + high) / 2))
        if "$step" "$middle" >/dev/null 2>&1; then high="$middle"; else low=$((middle + 1)); fi
    done
    echo "$high"
}

base=0
for step in tiny_pack tiny_extract tiny_verify tiny_update tiny_delete; do
    need="$(least_space "$step")"
    [ "$need" -gt 0 ] || fail "$step: fails even in 4 GiB of address space"
    echo "$step needs $need MiB"
    [ "$need" -gt "$base" ] && base="$need"
done
cd "$work" && rm -rf tiny
one=$((base + one_thread_mib))
two=$((base + one_thread_mib + 2 * per_thread_mib))
echo "limits: $one MiB, $two MiB on two threads"
[ "$two" -lt "$entry_mib" ] || fail "the limit of $two MiB is not below the entry's $entry_mib MiB: the test cannot tell"

# Text that compresses, and one entry of it under a name that is stored.
mkdir -p src
seq -f 'row %.0f: height 12.5, texture ground_near, scope 2' 1 8000000 | head -c $((entry_mib << 20)) >src/big.txt
ln src/big.txt src/big.dat
seq 1 1000 >src/small.txt
cp src/small.txt src/small.dat
seq 1 3000 >src/added.txt
[ "$(stat -c %s src/big.txt)" -eq $((entry_mib << 20)) ] || fail "the entry's source is not $entry_mib MiB"

# Runs one step under its limit and reports it.
step() {
    local what="$1" mib="$2"
    shift 2
    local out
    if out="$(limited "$mib" "$@" 2>&1)"; then pass "$what within $mib MiB"; else fail "$what within $mib MiB: $out"; fi
}

# Extracts the archive without a limit and compares every entry with its source.
check_entries() {
    local what="$1" archive="$2"
    shift 2
    rm -rf check
    host extract "$archive" -C check >/dev/null 2>&1 || { fail "$what: $archive cannot be extracted"; return; }
    expect_same "$what: entries" "$(printf '%s\n' "$@" | sort)" "$(cd check && find . -type f | sed 's|^\./||' | sort)"
    local name
    for name in "$@"; do cmp -s "check/$name" "src/$name" || fail "$what: $name differs from its source"; done
    rm -rf check
}

# Short of memory the plug-in would store a file it should compress, and the bytes would
# still come back whole.
expect_compressed() {
    local what="$1" archive="$2" name="$3" line
    line="$(host list --json "$archive" | grep -F "\"name\": \"$name\"")"
    local packed="${line#*\"packSize\": }" unpacked="${line#*\"unpSize\": }"
    packed="${packed%%,*}" unpacked="${unpacked%%,*}"
    [ -n "$line" ] && [ "$packed" -lt "$unpacked" ] || fail "$what: $name is not stored compressed: $line"
}

# Extracts under the limit and compares.
extract_step() {
    local what="$1" archive="$2" name="$3"
    rm -rf out
    step "$what" "$one" extract "$archive" -C out "$name"
    cmp -s "out/$name" "src/$name" || fail "$what: the extracted $name differs from its source"
    rm -rf out
}

step "pack, stored" "$one" pack stored.zbk src big.dat small.dat --threads 1
check_entries "pack, stored" stored.zbk big.dat small.dat
extract_step "extract, stored" stored.zbk big.dat
step "verify, stored" "$one" verify stored.zbk
step "update, stored: add a file" "$one" pack stored.zbk src added.txt --threads 1
step "update, stored: replace the entry" "$one" pack stored.zbk src big.dat --threads 1
check_entries "update, stored" stored.zbk big.dat small.dat added.txt
step "delete beside a stored entry" "$one" delete stored.zbk small.dat
check_entries "delete beside a stored entry" stored.zbk big.dat added.txt
rm -f stored.zbk

# The archive as packed without a limit, which the limited packs must write byte for byte.
host pack compressed.zbk src big.txt small.txt --threads 1 >/dev/null || fail "pack, compressed, without a limit"
expect_compressed "pack, compressed, without a limit" compressed.zbk big.txt
check_entries "pack, compressed, without a limit" compressed.zbk big.txt small.txt
for threads in 1 2; do
    rm -f limited.zbk
    mib="$one"
    [ "$threads" -eq 1 ] || mib="$two"
    step "pack, compressed on $threads thread(s)" "$mib" pack limited.zbk src big.txt small.txt --threads "$threads"
    cmp -s limited.zbk compressed.zbk || fail "pack, compressed on $threads thread(s): another archive than without a limit"
done
rm -f limited.zbk
extract_step "extract, compressed" compressed.zbk big.txt
step "verify, compressed" "$one" verify compressed.zbk
step "update, compressed: add a file" "$one" pack compressed.zbk src added.txt --threads 1
step "update, compressed: replace the entry" "$one" pack compressed.zbk src big.txt --threads 1
check_entries "update, compressed" compressed.zbk big.txt small.txt added.txt
expect_compressed "update, compressed" compressed.zbk big.txt
step "delete beside a compressed entry" "$one" delete compressed.zbk small.txt
check_entries "delete beside a compressed entry" compressed.zbk big.txt added.txt
finish
