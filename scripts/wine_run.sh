#!/usr/bin/env bash
# Runs a Windows program under wine64 in the project's own wine prefix:
#   scripts/wine_run.sh PROGRAM.exe [ARGS...]
# Environment variables named KYRZBK_TEST_* that hold absolute POSIX paths are handed
# over as Windows paths on drive Z:, which wine maps to the POSIX root. Programs run without
# an X display unless KYRZBK_WINE_DISPLAY names one; KYRZBK_WINEPREFIX chooses another prefix.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WINE="${KYRZBK_WINE:-/usr/lib/wine/wine64}"
export WINEPREFIX="${KYRZBK_WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG=-all
# No Mono or Gecko installer prompts, no window needed.
export WINEDLLOVERRIDES="mscoree,mshtml="
# A test that shows windows names its virtual X display; everything else runs without one.
if [ -n "${KYRZBK_WINE_DISPLAY:-}" ]; then
    export DISPLAY="$KYRZBK_WINE_DISPLAY"
else
    unset DISPLAY
fi
unset WAYLAND_DISPLAY

[ $# -ge 1 ] || { echo "usage: $0 PROGRAM.exe [ARGS...]" >&2; exit 2; }
[ -x "$WINE" ] || { echo "wine_run: $WINE not found (scripts/deps.sh installs wine64)" >&2; exit 127; }

to_windows_path() {
    local p="$1"
    printf 'Z:%s' "${p//\//\\}"
}

# Creating a prefix takes several seconds and must happen once, even when tests start
# side by side.
mkdir -p "$(dirname "$WINEPREFIX")"
(
    flock 9
    if [ ! -f "$WINEPREFIX/.kyrzbk-ready" ]; then
        rm -rf "$WINEPREFIX"
        "$WINE" wineboot -i >/dev/null 2>&1 || true
        "${WINE%/*}/wineserver" -w >/dev/null 2>&1 || true
        [ -f "$WINEPREFIX/system.reg" ] || { echo "wine_run: could not create $WINEPREFIX" >&2; exit 1; }
        touch "$WINEPREFIX/.kyrzbk-ready"
    fi
) 9>"$WINEPREFIX.lock"

while IFS='=' read -r name value; do
    case "$name" in
        KYRZBK_TEST_*) [[ "$value" == /* ]] && export "$name=$(to_windows_path "$value")" ;;
    esac
done < <(env)

exec "$WINE" "$@"
