#!/usr/bin/env bash
# The Linux plug-in exports the twelve host functions and not one symbol more, so that
# it cannot clash with whatever else the file manager has loaded.
#   linux_exports_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_TEST_PLUGIN)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

plugin="${KYRZBK_TEST_PLUGIN:-$2/kyrzbk.wcx}"
[ -f "$plugin" ] || { fail "missing $plugin"; finish; }

expected="CanYouHandleThisFile CloseArchive ConfigurePacker DeleteFiles GetPackerCaps OpenArchive
PackFiles PackSetDefaultParams ProcessFile ReadHeader SetChangeVolProc SetProcessDataProc"
expected="$(tr ' ' '\n' <<<"$expected" | LC_ALL=C sort)"

symbols="$(nm -D --defined-only "$plugin")"
expect_same "plug-in exports exactly the host functions" "$expected" "$(awk '{ print $NF }' <<<"$symbols" | LC_ALL=C sort)"
expect_same "every export is a function in the text section" "$expected" \
    "$(awk '$2 == "T" { print $NF }' <<<"$symbols" | LC_ALL=C sort)"

finish
