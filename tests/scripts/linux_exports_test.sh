#!/usr/bin/env bash
# The built Linux plug-in exports the host functions and nothing else.
#   linux_exports_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_TEST_PLUGIN)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

check_linux_exports "${KYRZBK_TEST_PLUGIN:-$2/kyrzbk.wcx}" "plug-in"

finish
