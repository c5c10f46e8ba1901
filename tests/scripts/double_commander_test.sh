#!/usr/bin/env bash
# The Linux plug-in in a real file manager: Double Commander runs on a virtual X display
# with a private configuration that registers the built plug-in for .zbk, and is driven
# with the keyboard the way a user works: open an archive, check the dates it shows, copy
# everything out, delete an entry, copy a file in, pack a folder with the zbk packer, view
# a configuration file's text, and edit it in place so that the file manager packs it back.
# Every result is checked against the command-line host. Screenshots of each step are kept
# in BINARY_DIR/artifacts/double_commander/.
#   double_commander_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_TEST_PLUGIN, $KYRZBK_TEST_HOST)
#
# Everything waits by polling for windows, files and clipboard contents, never for a fixed
# time. With no window manager on the display, a GTK window takes keys reliably only after
# a click, and the main window loses the focus when a dialog closes: the steps click before
# they type.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

source_dir="$1"
binary_dir="$2"
plugin="${KYRZBK_TEST_PLUGIN:-$binary_dir/kyrzbk.wcx}"
host="${KYRZBK_TEST_HOST:-$binary_dir/kyrzbk}"
for tool in doublecmd Xvfb xdotool xclip import; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/deps.sh installs it)"
done
[ -f "$plugin" ] && [ -x "$host" ] || { fail "plug-in $plugin or host $host not built"; finish; }

work="$(mktemp -d "${TMPDIR:-/tmp}/kyrzbk-dc.XXXXXX")"
artifacts="$binary_dir/artifacts/double_commander"
rm -rf "$artifacts"
mkdir -p "$artifacts"
xvfb_pid=""
dc_pid=""

cleanup() {
    [ -n "$dc_pid" ] && kill "$dc_pid" 2>/dev/null && wait "$dc_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# Polls until the command succeeds; false after the timeout (seconds).
wait_for() {
    local timeout="$1" end
    shift
    end=$((SECONDS + timeout))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.05
    done
}

window_named() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1; }
# No dialog or progress window left: only the main window is shown.
idle() { [ "$(xdotool search --onlyvisible --classname doublecmd 2>/dev/null | wc -l)" -eq 1 ]; }
# Waits for an operation's windows to close; then a click gives the panel the keyboard back.
settle() { wait_for 30 idle || fail "a window of the file manager stays open after $1"; }
has_window() { [ -n "$(window_named "$1")" ]; }
no_window() { [ -z "$(window_named "$1")" ]; }

shot_number=0
shot() {
    shot_number=$((shot_number + 1))
    import -window root "$artifacts/$(printf '%02d' "$shot_number")-$1.png" 2>/dev/null || fail "no screenshot of $1"
}

# A click into the empty lower part of a panel gives it the keyboard without moving its cursor.
focus_panel() {
    case "$1" in
    left) xdotool mousemove 300 660 click 1 ;;
    right) xdotool mousemove 950 660 click 1 ;;
    esac
}

# What the file manager puts on the clipboard after the keys, once it differs from a
# marker: written to standard output byte for byte.
clipboard_after() {
    local marker="kyrzbk-clipboard-marker-$RANDOM" end=$((SECONDS + 10))
    printf '%s' "$marker" | xclip -selection clipboard -i >/dev/null 2>&1
    xdotool key "$@"
    while [ "$SECONDS" -lt "$end" ]; do
        if timeout 2 xclip -selection clipboard -o >"$work/clipboard" 2>/dev/null && [ -s "$work/clipboard" ] &&
            [ "$(cat "$work/clipboard")" != "$marker" ]; then
            cat "$work/clipboard"
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# Puts the panel's cursor on the entry NAME by quick search (typed text goes there) and
# checks where it landed through the clipboard: the entry's full path.
cursor_to() {
    local name="$1" attempt path
    for attempt in 1 2 3; do
        xdotool type --delay 30 "$name"
        xdotool key Escape
        path="$(clipboard_after ctrl+shift+c)"
        [ "${path##*/}" == "$name" ] && return 0
    done
    fail "the cursor did not reach $name (it is on ${path:-nothing})"
    return 1
}

# Confirms the dialog whose title matches with Enter, and waits until it is gone.
confirm_dialog() {
    local title="$1" what="$2" dialog
    wait_for 20 has_window "$title" || { fail "no \"$title\" dialog for $what"; return 1; }
    dialog="$(window_named "$title")"
    shot "$what-dialog"
    xdotool windowfocus --sync "$dialog" 2>/dev/null
    xdotool key Return
    wait_for 30 no_window "$title" || { fail "the \"$title\" dialog for $what did not close"; return 1; }
}

# Entries of an archive as the host lists them: "DATE TIME NAME" per file.
host_listing() { "$host" --quiet --plugin "$plugin" list "$1" | awk 'NR > 1 && $3 ~ /-/ { print $3, $4, $5 }'; }

# --- The scene: an archive with files of known times, a configuration file, a folder to
# pack, and a file to copy in. Some times have odd seconds, which the file manager shows
# as the archive holds them. The archive carries a header block and ends with an integrity
# block, as the second game's archives do: the changes made in the file manager keep both.
mkdir -p "$work/seed/sub" "$work/arc" "$work/right" "$work/config" "$work/home" "$work/tmp"
printf 'first file\n' >"$work/seed/alpha.txt"
head -c 70000 /dev/urandom >"$work/seed/beta.dat"
for i in $(seq 400); do echo "$i,row $i,$((i * 7))"; done >"$work/seed/gamma.csv"
printf 'below a folder\n' >"$work/seed/sub/delta.txt"
touch -d '2001-02-03 04:05:07 UTC' "$work/seed/alpha.txt"
touch -d '2023-11-14 22:13:20 UTC' "$work/seed/beta.dat"
touch -d '2037-12-31 23:59:58 UTC' "$work/seed/gamma.csv"
touch -d '2015-06-07 08:09:11 UTC' "$work/seed/sub/delta.txt"
"$host" --quiet --plugin "$plugin" pack "$work/arc/test.zbk" "$work/seed" --property 'prefix=game\data' >/dev/null &&
    python3 -c 'import hashlib, sys
data = open(sys.argv[1], "rb").read()
open(sys.argv[1], "ab").write(b"\0" + hashlib.sha1(data).digest())' "$work/arc/test.zbk" ||
    { fail "could not make the test archive"; finish; }
# What a change must keep: the header block, and an integrity block that matches.
kept_blocks='"properties": [{"key": "prefix", "value": "game\\data"}]'
blocks_kept() {
    local info
    info="$("$host" --quiet --plugin "$plugin" info --json "$work/arc/test.zbk")"
    [[ "$info" == *"$kept_blocks"* && "$info" == *'"integrity": "valid"'* ]] && pass "$1 keeps the header and integrity blocks" ||
        fail "$1 lost the header or integrity block: $info"
}
cp "$source_dir/examples/tesk_config.bin" "$work/arc/"
cp -r "$source_dir/examples/demo" "$work/arc/demo"
printf 'copied in\n' >"$work/right/added.txt"
# The editor that F4 starts: one change, saved with a time the file manager cannot take for
# the time it extracted the entry, and a copy of the text kept for the check. It stays open
# longer than the file manager's EditWaitTime (2 s), within which an editor that ends is
# taken for one that handed the file to an instance already running.
cat >"$work/editor.sh" <<EOF
#!/usr/bin/env bash
file="\${!#}"
sed -i 's/WHEELS\t4/WHEELS\t6/' "\$file"
touch -d "@\$((\$(date +%s) + 10))" "\$file"
cp "\$file" "$work/edited.cpp"
sleep 3
EOF
chmod +x "$work/editor.sh"

cat >"$work/config/doublecmd.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<doublecmd DCVersion="1.0.10" ConfigVersion="13">
  <Behaviours>
    <ShowCurDirTitleBar>True</ShowCurDirTitleBar>
    <DateTimeFormat>yyyy-mm-dd hh:nn:ss</DateTimeFormat>
  </Behaviours>
  <FileOperations>
    <UseTrash>False</UseTrash>
  </FileOperations>
  <Tools>
    <Editor Enabled="True">
      <Path>$work/editor.sh</Path>
      <RunInTerminal>False</RunInTerminal>
      <KeepTerminalOpen>False</KeepTerminalOpen>
    </Editor>
  </Tools>
  <Plugins>
    <WcxPlugins>
      <WcxPlugin Enabled="True"><ArchiveExt>zbk</ArchiveExt><Path>$plugin</Path><Flags>95</Flags></WcxPlugin>
    </WcxPlugins>
  </Plugins>
</doublecmd>
EOF
# Only the keys the test uses; Ctrl+Shift+F9 copies the panel's details (name, size, date).
hotkey() { printf '      <Hotkey><Shortcut>%s</Shortcut><Command>%s</Command>%s</Hotkey>\n' "$1" "$2" "${3:-}"; }
{
    echo '<?xml version="1.0" encoding="UTF-8"?>'
    echo '<doublecmd DCVersion="1.0.10">'
    echo '  <Hotkeys Version="53">'
    echo '    <Form Name="Main">'
    hotkey F3 cm_View
    hotkey F4 cm_Edit
    hotkey F5 cm_Copy
    hotkey F8 cm_Delete
    hotkey Alt+F5 cm_PackFiles
    hotkey Alt+X cm_Exit
    hotkey Ctrl+PgDn cm_OpenArchive
    hotkey Ctrl+Shift+C cm_CopyFullNamesToClip
    hotkey Ctrl+Shift+F9 cm_CopyFileDetailsToClip
    hotkey Ctrl+A cm_MarkMarkAll '<Control>Files Panel</Control>'
    echo '    </Form>'
    echo '    <Form Name="Viewer">'
    hotkey Ctrl+A cm_SelectAll
    hotkey Ctrl+C cm_CopyToClipboard
    hotkey Esc cm_ExitViewer
    echo '    </Form>'
    echo '  </Hotkeys>'
    echo '</doublecmd>'
} >"$work/config/shortcuts.scf"

# --- Display and file manager.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
display_up() { [ -s "$work/display" ]; }
wait_for 20 display_up || { fail "Xvfb did not start: $(cat "$work/xvfb.log")"; finish; }
export DISPLAY=":$(head -n1 "$work/display")"

# A home and a temporary folder of its own keep the file manager's traces in the scene.
HOME="$work/home" TMPDIR="$work/tmp" doublecmd --no-splash --config-dir="$work/config" \
    -L "$work/arc" -R "$work/right" >"$work/dc.log" 2>&1 &
dc_pid=$!
main_title=' - Double Commander'
if ! wait_for 60 has_window "$main_title"; then
    fail "Double Commander did not open a window: $(tail -n 5 "$work/dc.log")"
    finish
fi
main="$(window_named "$main_title")"
# The clicks that give a panel the keyboard aim at fixed places of the screen.
main_placed() {
    xdotool windowmove "$main" 0 0 windowsize "$main" 1270 790 2>/dev/null
    xdotool getwindowgeometry "$main" 2>/dev/null | tr '\n' ' ' | grep -q 'Position: 0,0 .*Geometry: 1270x790'
}
wait_for 20 main_placed || fail "the main window could not be placed"
title_is() { [[ "$(xdotool getwindowname "$main" 2>/dev/null)" == "$1"* ]]; }
wait_for 20 title_is "arc (" || fail "the left panel does not show the scene"
focus_panel left

# --- Open the archive (Enter on it) and compare the dates shown with the host's listing.
if cursor_to test.zbk; then
    xdotool key Return
    details_shown() {
        details="$(clipboard_after ctrl+a ctrl+shift+F9)" && [[ "$details" == *alpha* ]]
    }
    if wait_for 20 details_shown; then
        pass "the archive opens in the file manager"
        shot open-archive
        # Details lines: name, extension, size, date and time, attributes (tab-separated).
        shown="$(awk -F'\t' '$3 != "<DIR>" { print $4, ($2 == "" ? $1 : $1 "." $2) }' <<<"$details" | sort)"
        listed="$(host_listing "$work/arc/test.zbk" | awk '$3 !~ /\// { print $1, $2, $3 }' | sort)"
        expect_same "the file manager shows the dates kyrzbk list prints" "$listed" "$shown"
        [[ "$listed" == *"2001-02-03 04:05:07 alpha.txt"* ]] || fail "unexpected listing: $listed"
    else
        fail "the archive did not open: clipboard holds ${details:-nothing}"
    fi
fi

# --- Copy everything out (all marked, F5) and compare with the host's extraction.
xdotool key ctrl+a F5
if confirm_dialog "^Copy file" "copy-out"; then
    mkdir -p "$work/expected"
    "$host" --quiet --plugin "$plugin" extract "$work/arc/test.zbk" -C "$work/expected" >/dev/null
    all_out() { [ -f "$work/right/sub/delta.txt" ] && cmp -s "$work/right/beta.dat" "$work/expected/beta.dat"; }
    wait_for 30 all_out || fail "the copied files did not all arrive"
    for f in alpha.txt beta.dat gamma.csv sub/delta.txt; do
        cmp -s "$work/expected/$f" "$work/right/$f" || fail "$f copied out differs from kyrzbk extract's"
        [ "$(stat -c %Y "$work/right/$f")" == "$(stat -c %Y "$work/seed/$f")" ] ||
            fail "$f copied out has not its entry's time"
    done
    pass "copied out: every file equals kyrzbk extract's, with its entry's time"
    settle "copying out"
    shot copied-out
fi

# --- Delete one entry (F8) inside the open archive.
focus_panel left
if cursor_to alpha.txt; then
    xdotool key F8
    if confirm_dialog "^Double Commander\$" "delete"; then
        deleted() { ! host_listing "$work/arc/test.zbk" | grep -q ' alpha.txt$'; }
        wait_for 30 deleted || fail "alpha.txt is still in the archive"
        expect_same "after the deletion the archive holds the rest" \
            "$(printf '%s\n' beta.dat gamma.csv sub/delta.txt)" \
            "$(host_listing "$work/arc/test.zbk" | awk '{ print $3 }')"
        expect_same "no temporary file is left beside the archive" "demo tesk_config.bin test.zbk" \
            "$(ls "$work/arc" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
        blocks_kept "the deletion"
        settle "deleting"
        shot deleted
    fi
fi

# --- Copy a file from the other panel into the open archive (F5).
focus_panel right
if cursor_to added.txt; then
    xdotool key F5
    if confirm_dialog "^Copy file" "copy-in"; then
        added() { host_listing "$work/arc/test.zbk" | grep -q ' added.txt$'; }
        if wait_for 30 added; then
            mkdir -p "$work/check"
            "$host" --quiet --plugin "$plugin" extract "$work/arc/test.zbk" -C "$work/check" added.txt >/dev/null
            cmp -s "$work/right/added.txt" "$work/check/added.txt" && pass "a file copied into the archive" ||
                fail "the file copied in differs"
            blocks_kept "copying in"
        else
            fail "added.txt did not reach the archive"
        fi
        settle "copying in"
        shot copied-in
    fi
fi

# --- Pack a folder into a new archive with the zbk packer (Alt+F5): the left panel leaves
# the archive for its folder, and the archive goes to the other panel's folder.
focus_panel left
xdotool key BackSpace
wait_for 20 title_is "arc (" || fail "the left panel did not leave the archive"
if cursor_to demo; then
    xdotool key alt+F5
    if confirm_dialog "^Pack files\$" "pack"; then
        packed() { [ -f "$work/right/demo.zbk" ]; }
        if wait_for 60 packed; then
            verify="$("$host" --quiet --plugin "$plugin" verify "$work/right/demo.zbk" 2>&1)"
            expect_same "the packed archive verifies" "$work/right/demo.zbk: 4 entries verified, 0 failed" "$verify"
            expect_same "the packed archive holds the folder" \
                "$(cd "$work/arc" && find demo -type f | LC_ALL=C sort)" \
                "$(host_listing "$work/right/demo.zbk" | awk '{ print $3 }' | LC_ALL=C sort)"
        else
            fail "no demo.zbk was packed"
        fi
        settle "packing"
        shot packed
    fi
fi

# --- View a configuration file's text: open the file as an archive (Ctrl+PgDn, the
# plug-in recognises it by content), then F3 on its one entry.
focus_panel left
if cursor_to tesk_config.bin; then
    xdotool key ctrl+Next
    in_config() { path="$(clipboard_after End ctrl+shift+c)" && [[ "$path" == *tesk_config.cpp ]]; }
    if wait_for 20 in_config; then
        xdotool key F3
        if wait_for 30 has_window "tesk_config.cpp\$"; then
            # The viewer opens where it likes, possibly below the main window: it is
            # moved into view and raised, and only then clicked. Windows of that name come
            # and go while the entry is extracted for it, so it is looked up each time.
            placed() { xdotool getwindowgeometry "$viewer" 2>/dev/null | grep -q 'Position: 100,100 '; }
            focus_viewer() {
                viewer="$(window_named "tesk_config.cpp\$")"
                [ -n "$viewer" ] || return 1
                xdotool windowmove "$viewer" 100 100 windowsize "$viewer" 900 600 windowraise "$viewer" 2>/dev/null
                wait_for 10 placed || return 1
                xdotool mousemove 500 400 click 1
                xdotool windowfocus --sync "$viewer" 2>/dev/null
            }
            "$host" --quiet --plugin "$plugin" decode "$work/arc/tesk_config.bin" -o "$work/decoded.cpp"
            viewed() {
                focus_viewer && clipboard_after ctrl+a ctrl+c >"$work/viewed.cpp" && cmp -s "$work/viewed.cpp" "$work/decoded.cpp"
            }
            if wait_for 20 viewed; then
                pass "the viewer shows the configuration's text, as kyrzbk decode writes it"
            else
                fail "the viewer's text differs from kyrzbk decode's"
                diff "$work/decoded.cpp" "$work/viewed.cpp" | head -n 10 | sed 's/^/    /'
            fi
            shot view-config
            focus_viewer
            xdotool key Escape
            wait_for 20 no_window "tesk_config.cpp\$" || fail "the viewer did not close"
            settle "viewing"
        else
            fail "no viewer window for tesk_config.cpp"
        fi
    else
        fail "the configuration file did not open as an archive: ${path:-nothing}"
    fi
fi

# --- Edit the configuration's text in place (F4, still inside the file): once the editor
# has saved, the file manager asks whether to copy the changed file back, and packs it
# into the configuration, which encodes it in its own layout.
focus_panel left
if cursor_to tesk_config.cpp; then
    cp "$work/arc/tesk_config.bin" "$work/before-edit.bin"
    xdotool key F4
    if confirm_dialog "^Double Commander\$" "edit-back"; then
        edited_back() { ! cmp -s "$work/arc/tesk_config.bin" "$work/before-edit.bin"; }
        if wait_for 30 edited_back; then
            "$host" --quiet --plugin "$plugin" encode "$work/edited.cpp" -o "$work/expected-edit.bin"
            cmp -s "$work/arc/tesk_config.bin" "$work/expected-edit.bin" &&
                pass "an edited configuration entry packs back, encoded as kyrzbk encode encodes it" ||
                fail "the configuration packed back differs from kyrzbk encode's"
            expect_same "the edit reached the configuration" "#define WHEELS	6" \
                "$("$host" --quiet --plugin "$plugin" decode "$work/arc/tesk_config.bin" | tr -d '\r' | grep WHEELS)"
            expect_same "no temporary file is left beside the configuration" "demo tesk_config.bin test.zbk" \
                "$(ls "$work/arc" | LC_ALL=C sort | tr '\n' ' ' | sed 's/ $//')"
        else
            fail "the configuration file was not changed by the edit"
        fi
        settle "editing"
        shot edited-config
    fi
fi

# --- Leave the file manager the way a user does.
focus_panel left
xdotool key alt+x
dc_gone() { ! kill -0 "$dc_pid" 2>/dev/null; }
if wait_for 30 dc_gone; then
    wait "$dc_pid" 2>/dev/null
    dc_pid=""
else
    fail "Double Commander did not quit"
fi
pass "screenshots in $artifacts"
finish
