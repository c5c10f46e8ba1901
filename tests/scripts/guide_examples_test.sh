#!/usr/bin/env bash
# The user guide's examples run as written. A fenced sh block after a "<!-- test -->" line
# is run, in order, in one scratch folder that holds a copy of examples/ (as the unpacked
# package does) with the built host on PATH; a fenced block after "<!-- output -->" that
# follows it is its expected standard output. CR LF in the output counts as a line end,
# since the guide cannot show the difference.
#   guide_examples_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_DIST_ROOT or $KYRZBK_TEST_HOST)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

guide="$1/docs/user-guide.md"
if [ -n "${KYRZBK_DIST_ROOT:-}" ]; then
    bin="$KYRZBK_DIST_ROOT/linux-x86_64"
else
    bin="$(dirname "${KYRZBK_TEST_HOST:-$2/kyrzbk}")"
fi
[ -x "$bin/kyrzbk" ] || { fail "no host in $bin"; finish; }
bin="$(cd "$bin" && pwd)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
blocks="$work/blocks"
mkdir -p "$blocks" "$work/run"
cp -r "$1/examples" "$work/run/examples"

awk -v dir="$blocks" '
    /^<!-- test -->$/ { pending = "sh"; next }
    /^<!-- output -->$/ { pending = "out"; next }
    /^```/ {
        if (file != "") { close(file); file = ""; next }
        if (skipping) { skipping = 0; next }
        if (pending == "sh") { n++; file = sprintf("%s/%02d.sh", dir, n) }
        else if (pending == "out") { file = sprintf("%s/%02d.out", dir, n) }
        else { skipping = 1 }
        pending = ""
        if (file != "") printf "" > file
        next
    }
    /^[^ \t]/ && !/^<!--/ && file == "" && !skipping { pending = "" }
    file != "" { print > file }
' "$guide"

count=0
for script in "$blocks"/*.sh; do
    [ -f "$script" ] || continue
    count=$((count + 1))
    name="example $(basename "$script" .sh): $(head -n 1 "$script")"
    actual="$(cd "$work/run" && PATH="$bin:$PATH" bash -e -o pipefail "$script" 2>"$work/stderr")"
    status=$?
    if [ "$status" -ne 0 ]; then
        fail "$name exits with $status"
        sed 's/^/    /' "$work/stderr"
        continue
    fi
    expected_file="${script%.sh}.out"
    if [ -f "$expected_file" ]; then
        expect_same "$name" "$(cat "$expected_file")" "$(tr -d '\r' <<<"$actual")"
    else
        pass "$name"
    fi
done
# A guide whose markers were lost would otherwise pass with nothing run.
[ "$count" -ge 5 ] || fail "only $count tested examples found in $guide"

finish
