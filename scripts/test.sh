#!/usr/bin/env bash
# Builds everything and runs every test: the native tests, the sanitizer build's tests,
# the 64-bit Windows tests under wine64 and the checks of the shipped binaries, all
# counted in one CTest summary, which is the last thing printed.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/build.sh"
cd "$root/build/native"
exec ctest -j "${KYRZBK_JOBS:-2}" --output-on-failure
