#!/usr/bin/env bash
# The options dialog as a user meets it: the 64-bit host runs `options` under wine64 on a
# virtual X display, the dialog is found by its title and worked with the keyboard through
# its mnemonics, and the settings file is checked afterwards. A screenshot of the edited
# dialog is kept in BINARY_DIR/artifacts/options_dialog.png.
#   options_dialog_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_DIST_ROOT/win64)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

source_dir="$1"
binary_dir="$2"
[ -n "${KYRZBK_DIST_ROOT:-}" ] || skip "KYRZBK_DIST_ROOT not set: Windows builds not part of this configuration"
host="$KYRZBK_DIST_ROOT/win64/kyrzbk.exe"
[ -f "$host" ] || skip "no 64-bit Windows host in $KYRZBK_DIST_ROOT/win64"
for tool in Xvfb xdotool import /usr/lib/wine/wine64 /usr/lib/wine/wineserver; do
    command -v "$tool" >/dev/null || { fail "$tool is missing (scripts/deps.sh installs it)"; finish; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/kyrzbk-dialog.XXXXXX")"
artifacts="$binary_dir/artifacts"
mkdir -p "$artifacts"
# A prefix of its own: its wineserver talks to this test's display and is shut down at the
# end without touching the wine programs of other tests.
export KYRZBK_WINEPREFIX="$binary_dir/wineprefix-dialog"
xvfb_pid=""

cleanup() {
    WINEPREFIX="$KYRZBK_WINEPREFIX" /usr/lib/wine/wineserver -k >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Xvfb picks a free display itself and reports its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x600x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 50); do
    [ -s "$work/display" ] && break
    sleep 0.2
done
[ -s "$work/display" ] || { fail "Xvfb did not start: $(cat "$work/xvfb.log")"; finish; }
export DISPLAY=":$(head -n1 "$work/display")"
export KYRZBK_WINE_DISPLAY="$DISPLAY"

# Creating the prefix can take a minute; it is not part of a dialog's waiting time. With no
# window manager on the display, wine draws the caption itself, so that the screenshot shows
# the title bar (and that it has no close box).
bash "$source_dir/scripts/wine_run.sh" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
    fail "could not prepare the wine prefix"

title="KYRZBK plugin options"
dialog_pid=""
window=""

# Starts `kyrzbk options` on the settings file and waits for its dialog to take the focus.
open_dialog() {
    # wine maps drive Z: to the POSIX root.
    local ini="Z:${1//\//\\}"
    bash "$source_dir/scripts/wine_run.sh" "$host" --ini "$ini" options >"$work/options.out" 2>&1 &
    dialog_pid=$!
    window=""
    for _ in $(seq 120); do
        window="$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n1)"
        [ -n "$window" ] && break
        kill -0 "$dialog_pid" 2>/dev/null || break
        sleep 0.5
    done
    [ -n "$window" ] || { fail "no window titled \"$title\" appeared: $(cat "$work/options.out")"; return 1; }
    # Without a window manager nothing gives the new window the keyboard.
    xdotool windowfocus --sync "$window" || { fail "could not focus the dialog"; return 1; }
    # Wine takes a moment after mapping the window before it handles keys.
    sleep 1
}

keys() {
    local k
    for k in "$@"; do
        xdotool key --clearmodifiers "$k"
        sleep 0.3
    done
}

# Waits for the host to leave after the closing button; its exit status.
wait_closed() {
    local status
    for _ in $(seq 60); do
        kill -0 "$dialog_pid" 2>/dev/null || break
        sleep 0.5
    done
    if kill -0 "$dialog_pid" 2>/dev/null; then
        fail "the dialog did not close"
        kill "$dialog_pid" 2>/dev/null
        return 1
    fi
    wait "$dialog_pid"
    status=$?
    [ "$status" -eq 0 ] || fail "kyrzbk options exited with $status: $(cat "$work/options.out")"
}

start_file=$'[Other]\r\nx=1\r\n[KYRZBK_HLV]\r\nUseCompression=1\r\nCompressAll=0\r\nCompressFormats=txt,cpp\r\nForceZbkSignature=0\r\nKeepOriginalSignatureSuffix=0\r\nZbkSignatureSuffixKey=Packer\r\nZbkSignatureSuffixValue=kyrzbk\r\nWriteCppComments=1\r\n[Last]\r\ny=2\r\n'

# OK -> Save. Use compression off (so Compress all files is disabled and its mnemonic does
# nothing), Force ZBK signature on (so the key edit is enabled), a new key typed over the
# selected old one, comments off.
ini="$work/save.ini"
printf '%s' "$start_file" >"$ini"
if open_dialog "$ini"; then
    keys alt+u alt+a alt+z alt+k
    xdotool type --delay 60 "Tool"
    keys alt+w
    import -window "$window" "$artifacts/options_dialog.png" || fail "no screenshot taken"
    keys alt+o
    if wait_closed; then
        expected=$'[Other]\r\nx=1\r\n[KYRZBK_HLV]\r\nUseCompression=0\r\nCompressAll=0\r\nCompressFormats=txt,cpp\r\nForceZbkSignature=1\r\nKeepOriginalSignatureSuffix=0\r\nZbkSignatureSuffixKey=Tool\r\nZbkSignatureSuffixValue=kyrzbk\r\nWriteCppComments=0\r\n[Last]\r\ny=2\r\n'
        expect_same "OK -> Save writes the edited settings into the section" \
            "$(printf '%s' "$expected" | od -c)" "$(od -c <"$ini")"
    fi
fi
[ -s "$artifacts/options_dialog.png" ] && pass "screenshot in $artifacts/options_dialog.png"

# Cancel, after edits and Load defaults, leaves the file as it was, byte for byte.
ini="$work/cancel.ini"
printf '%s' "$start_file" | sed 's/UseCompression=1/UseCompression=0/' >"$ini"
cp "$ini" "$work/cancel.before"
if open_dialog "$ini"; then
    keys alt+z alt+l alt+w alt+c
    if wait_closed; then
        if cmp -s "$work/cancel.before" "$ini"; then
            pass "Cancel leaves the settings file unchanged"
        else
            fail "Cancel changed the settings file"
            diff <(od -c "$work/cancel.before") <(od -c "$ini") | sed "s/^/    /"
        fi
    fi
fi

finish
