#!/usr/bin/env bash
# Archives and folders whose paths hold Cyrillic and Japanese characters, through the
# command-line host and the plug-in's wide-character functions: pack, list, extract,
# verify and delete give what they give in a folder of plain ASCII. Runs the Linux host,
# and the 64-bit Windows host under wine when the Windows builds are collected.
#   unicode_paths_test.sh SOURCE_DIR BINARY_DIR
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

source_dir="$(cd "$1" && pwd)"
hosts=("linux" "$KYRZBK_TEST_HOST")
if [ -n "${KYRZBK_DIST_ROOT:-}" ] && [ -f "$KYRZBK_DIST_ROOT/win64/kyrzbk.exe" ]; then
    hosts+=("win64" "$KYRZBK_DIST_ROOT/win64/kyrzbk.exe")
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Runs one host with relative paths from the work folder; the exit status is kept.
host() {
    local label="$1" program="$2"
    shift 2
    if [ "$label" == "win64" ]; then
        (cd "$work" && bash "$source_dir/scripts/wine_run.sh" "$program" --quiet "$@" 2>&1 | tr -d '\r'; exit "${PIPESTATUS[0]}")
    else
        (cd "$work" && "$program" --quiet "$@" 2>&1)
    fi
}

# The same sources, with the same times, in every folder.
make_sources() {
    mkdir -p "$work/$1/src/docs"
    printf 'plain text\n' >"$work/$1/src/readme.txt"
    printf 'second file, long enough to be worth packing: %s\n' "$(seq 1 200)" >"$work/$1/src/docs/notes.txt"
    touch -d '2021-03-04 05:06:07 UTC' "$work/$1/src/readme.txt" "$work/$1/src/docs/notes.txt"
}

for ((h = 0; h < ${#hosts[@]}; h += 2)); do
    label="${hosts[h]}" program="${hosts[h + 1]}"
    [ -f "$program" ] || { fail "$label: missing host $program"; continue; }
    expect_same "$label host uses the wide-character functions" \
        "$(printf '95\nwide-character functions (any file name)')" "$(host "$label" "$program" caps --functions)"
    reference_list="" reference_after=""
    for folder in "$label-plain" "$label-Моды Пётр" "$label-ゲーム データ"; do
        archive="$folder/архив ゲーム.zbk"
        [ "$folder" == "$label-plain" ] && archive="$folder/archive.zbk"
        make_sources "$folder"
        out="$(host "$label" "$program" pack "$archive" "$folder/src")" || fail "$label: pack in $folder: $out"
        list="$(host "$label" "$program" list "$archive")" || fail "$label: list in $folder: $list"
        out="$(host "$label" "$program" extract "$archive" -C "$folder/выход")" || fail "$label: extract in $folder: $out"
        diff -r "$work/$folder/src" "$work/$folder/выход" >/dev/null || fail "$label: extracted files in $folder differ from the sources"
        out="$(host "$label" "$program" verify "$archive")" || fail "$label: verify in $folder: $out"
        out="$(host "$label" "$program" delete "$archive" readme.txt)" || fail "$label: delete in $folder: $out"
        after="$(host "$label" "$program" list "$archive")" || fail "$label: list after delete in $folder: $after"
        if [ -z "$reference_list" ]; then
            reference_list="$list" reference_after="$after" reference_archive="$work/$archive"
            [[ "$list" == *"readme.txt"* && "$after" != *"readme.txt"* ]] || fail "$label: plain folder lists $list / $after"
        else
            expect_same "$label: listing in $folder" "$reference_list" "$list"
            expect_same "$label: listing after delete in $folder" "$reference_after" "$after"
            cmp -s "$reference_archive" "$work/$archive" || fail "$label: archive in $folder differs from the plain folder's"
        fi
    done

    # No code page holds this name: on Windows it cannot be stored, and the archive stays
    # as it was; on Linux names are stored as UTF-8 and it is packed.
    folder="$label-Моды Пётр"
    mkdir -p "$work/$folder/more"
    printf 'new\n' >"$work/$folder/more/ゲーム 😀.txt"
    cp "$work/$folder/архив ゲーム.zbk" "$work/before.zbk"
    out="$(host "$label" "$program" pack "$folder/архив ゲーム.zbk" "$folder/more")"
    status=$?
    if [ "$label" == "win64" ]; then
        expect_same "$label: a name outside the code page fails with 24" 24 "$status"
        cmp -s "$work/before.zbk" "$work/$folder/архив ゲーム.zbk" || fail "$label: the refused pack changed the archive"
        [[ "$out" == *"ゲーム 😀.txt"* ]] || fail "$label: the message names the refused file: $out"
    else
        expect_same "$label: a name in UTF-8 is packed" 0 "$status"
        [[ "$(host "$label" "$program" list "$folder/архив ゲーム.zbk")" == *"ゲーム 😀.txt"* ]] ||
            fail "$label: the packed name is listed"
    fi
done

finish
