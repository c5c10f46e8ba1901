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

# Reads a result back: an archive is extracted without a limit, a folder taken as it is.
# It must hold the files named and nothing else, each equal to its source; a big.txt in an
# archive must be stored compressed (short of memory the plug-in would store it whole).
check() {
    local what="$1" from="$2" folder="$2" name
    shift 2
    if [[ "$from" == *.zbk ]]; then
        folder=check
        host extract "$from" -C check >/dev/null 2>&1 || { fail "$what: $from cannot be extracted"; return; }
        local line packed unpacked
        line="$(host list --json "$from" | grep -F '"name": "big.txt"')"
        packed="${line#*\"packSize\": }" unpacked="${line#*\"unpSize\": }"
        [ -z "$line" ] || [ "${packed%%,*}" -lt "${unpacked%%,*}" ] || fail "$what: big.txt is not stored compressed"
    fi
    expect_same "$what: files" "$(printf '%s\n' "$@" | sort)" "$(cd "$folder" && find . -type f | sed 's|^\./||' | sort)"
    for name in "$@"; do cmp -s "$folder/$name" "src/$name" || fail "$what: $name differs from its source"; done
}

# what | compression threads (0: no limit) | host arguments | result: an archive or a folder
# and the files it holds, or =ARCHIVE, which the result must equal byte for byte
while IFS='|' read -r what threads arguments result; do
    rm -rf check out limited.zbk
    if [ "$threads" -eq 0 ]; then
        out="$(host $arguments 2>&1)" || fail "$what: $out"
    else
        mib=$((base + one_thread_mib))
        [ "$threads" -eq 1 ] || mib=$((mib + threads * per_thread_mib))
        if out="$(limited "$mib" $arguments 2>&1)"; then pass "$what within $mib MiB"; else fail "$what within $mib MiB: $out"; fi
    fi
    if [[ "$result" == =* ]]; then
        cmp -s limited.zbk "${result#=}" || fail "$what: another archive than ${result#=}"
    elif [ -n "$result" ]; then
        check "$what" $result
    fi
done <<'STEPS'
pack, stored|1|pack stored.zbk src big.dat small.dat --threads 1|stored.zbk big.dat small.dat
extract, stored|1|extract stored.zbk -C out big.dat|out big.dat
verify, stored|1|verify stored.zbk|
update, stored: add a file|1|pack stored.zbk src added.txt --threads 1|stored.zbk big.dat small.dat added.txt
update, stored: replace the entry|1|pack stored.zbk src big.dat --threads 1|stored.zbk big.dat small.dat added.txt
delete beside a stored entry|1|delete stored.zbk small.dat|stored.zbk big.dat added.txt
pack, compressed, without a limit|0|pack compressed.zbk src big.txt small.txt --threads 1|compressed.zbk big.txt small.txt
pack, compressed|1|pack limited.zbk src big.txt small.txt --threads 1|=compressed.zbk
pack, compressed on two threads|2|pack limited.zbk src big.txt small.txt --threads 2|=compressed.zbk
extract, compressed|1|extract compressed.zbk -C out big.txt|out big.txt
verify, compressed|1|verify compressed.zbk|
update, compressed: add a file|1|pack compressed.zbk src added.txt --threads 1|compressed.zbk big.txt small.txt added.txt
update, compressed: replace the entry|1|pack compressed.zbk src big.txt --threads 1|compressed.zbk big.txt small.txt added.txt
delete beside a compressed entry|1|delete compressed.zbk small.txt|compressed.zbk big.txt added.txt
STEPS
finish
