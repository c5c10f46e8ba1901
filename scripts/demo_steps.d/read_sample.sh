#!/usr/bin/env bash
# Demo steps for reading archives: lists, verifies and extracts examples/sample.zbk, which the
# project's own test support writes (KYRZBK_WRITE_SAMPLE=1 kyrzbk_tests --gtest_filter=SampleArchive.*).
# usage: read_sample.sh KYRZBK_HOST [REPOSITORY_ROOT]
set -euo pipefail
host=$1
root=${2:-$(cd "$(dirname "$0")/../.." && pwd)}
sample="$root/examples/sample.zbk"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

echo "== kyrzbk list $sample"
"$host" list "$sample"
echo "== kyrzbk list --json $sample"
"$host" list --json "$sample"
echo "== kyrzbk verify $sample"
"$host" verify "$sample"
echo "== kyrzbk extract $sample -C $scratch"
"$host" extract "$sample" -C "$scratch"
(cd "$scratch" && find . -type f | sort | while read -r f; do printf '%8d  %s\n' "$(wc -c <"$f")" "$f"; done)
