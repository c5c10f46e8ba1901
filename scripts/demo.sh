#!/usr/bin/env bash
# Builds everything, then shows the plug-in at work through the command-line host, once
# with the Linux build and once with the 64-bit Windows build under wine64.
# To show more, add a `step` line at the end: step "what it shows" COMMAND ARGS...
# where COMMAND is `linux` or `win64` (the host of that build) or any program.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/scripts/build.sh"

dist="$root/dist"
# Scratch folder for files that the steps make; emptied on every run.
demo="$root/build/demo"
rm -rf "$demo"
mkdir -p "$demo"
cd "$demo"

linux() { "$dist/linux-x86_64/kyrzbk" "$@"; }
win64() { bash "$root/scripts/wine_run.sh" "$dist/win64/kyrzbk.exe" "$@"; }

step() {
    local title="$1"
    shift
    echo
    echo "### $title"
    local shown="$*"
    case "$1" in
        linux) shown="dist/linux-x86_64/kyrzbk ${*:2}" ;;
        win64) shown="/usr/lib/wine/wine64 dist/win64/kyrzbk.exe ${*:2}" ;;
    esac
    echo "\$ $shown"
    "$@"
}

echo "kyrzbk demo; binaries from $dist, scratch files in $demo"
step "Capability flags of the Linux plug-in (95: new, modify, multiple, delete, options, by content)" \
    linux caps
step "Capability flags of the 64-bit Windows plug-in, through its own host under wine64" \
    win64 caps

# Further demos, one file per subsystem.
for steps in "$root"/scripts/demo_steps.d/*.sh; do
    # shellcheck source=/dev/null
    source "$steps"
done
echo
echo "demo finished"
