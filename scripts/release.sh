#!/usr/bin/env bash
# Makes the release packages in dist/packages/:
#   kyrzbk-VERSION-windows.zip           installer file, 32- and 64-bit plug-ins and hosts
#   kyrzbk-VERSION-linux-x86_64.tar.gz   Linux plug-in and host
# both with the user guide, the licence and the examples. It builds every configuration
# first (scripts/build.sh), then packs from the build folders with CPack.
#   release.sh [--no-build] [--build-dir DIR] [--output DIR]
#     --no-build   pack what is already built (the build folders must exist)
#     --build-dir  the Linux build folder that holds the CPack set-up (default build/native)
#     --output     where the packages go (default dist/packages)
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build_dir="$root/build/native"
output="$root/dist/packages"
build=1
while [ $# -gt 0 ]; do
    case "$1" in
        --no-build) build=0 ;;
        --build-dir) build_dir="$2"; shift ;;
        --output) output="$2"; shift ;;
        *) echo "usage: $0 [--no-build] [--build-dir DIR] [--output DIR]" >&2; exit 2 ;;
    esac
    shift
done

[ "$build" -eq 0 ] || bash "$root/scripts/build.sh"
[ -f "$build_dir/CPackConfig.cmake" ] || { echo "release: no CPack set-up in $build_dir (run scripts/build.sh)" >&2; exit 1; }

mkdir -p "$output"
output="$(cd "$output" && pwd)"
# cpack stages its files below the output folder; a staging folder of our own keeps the
# output folder holding nothing but the packages.
staging="$(mktemp -d)"
trap 'rm -rf "$staging"' EXIT
(cd "$build_dir" && cpack --config CPackConfig.cmake -B "$staging" >"$staging/cpack.log" 2>&1) ||
    { cat "$staging/cpack.log" >&2; exit 1; }
shopt -s nullglob
packages=("$staging"/kyrzbk-*.zip "$staging"/kyrzbk-*.tar.gz)
[ ${#packages[@]} -gt 0 ] || { cat "$staging/cpack.log" >&2; echo "release: cpack made no package" >&2; exit 1; }
for package in "${packages[@]}"; do
    mv -f "$package" "$output/"
    echo "$output/$(basename "$package")"
done
