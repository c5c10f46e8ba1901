#!/usr/bin/env bash
# The options dialog's template as compiled into both Windows plug-ins, read back from the
# binaries' resource section: style, size, title, font, and each control's id, class, style,
# rectangle and text, in tab order.
#   options_dialog_resource_test.sh SOURCE_DIR BINARY_DIR   (reads $KYRZBK_DIST_ROOT/win32, win64)
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/check_lib.sh"

[ -n "${KYRZBK_DIST_ROOT:-}" ] || skip "KYRZBK_DIST_ROOT not set: Windows builds not part of this configuration"
command -v python3 >/dev/null || fail "python3 is needed to read the resource section"
dump="$(dirname "${BASH_SOURCE[0]}")/pe_dialog.py"

expected='language 0x0409
style 0x10C00048 exstyle 0x00000000 help 0
rect 0,0,265,199
menu ""
class ""
title "KYRZBK plugin options"
font 8 "MS Shell Dlg" weight 400 italic 0 charset 1
controls 18
control 1015 BUTTON 0x50000007 exstyle 0x00000000 help 0 rect 7,3,251,51 extra 0 text "Compression settings"
control 1016 BUTTON 0x50000007 exstyle 0x00000000 help 0 rect 7,60,251,83 extra 0 text "ZBK signature settings"
control 1017 BUTTON 0x50000007 exstyle 0x00000000 help 0 rect 7,148,251,29 extra 0 text "BIN decoding settings"
control 1 BUTTON 0x50010000 exstyle 0x00000000 help 0 rect 11,182,50,14 extra 0 text "&OK -> Save"
control 2 BUTTON 0x50010000 exstyle 0x00000000 help 0 rect 153,182,50,14 extra 0 text "&Cancel"
control 1019 BUTTON 0x50010000 exstyle 0x00000000 help 0 rect 203,182,50,14 extra 0 text "&Load defaults"
control 1004 BUTTON 0x50010003 exstyle 0x00000000 help 0 rect 14,14,69,10 extra 0 text "&Use compression"
control 1006 BUTTON 0x50010003 exstyle 0x00000000 help 0 rect 94,14,71,10 extra 0 text "Compress &all files"
control 1008 STATIC 0x50020000 exstyle 0x00000000 help 0 rect 14,26,59,8 extra 0 text "Compress &formats"
control 1007 EDIT 0x50810080 exstyle 0x00000000 help 0 rect 14,36,235,14 extra 0 text ""
control 1009 BUTTON 0x50010003 exstyle 0x00000000 help 0 rect 14,70,81,10 extra 0 text "Force &ZBK signature"
control 1010 BUTTON 0x50010003 exstyle 0x00000000 help 0 rect 114,70,109,10 extra 0 text "Keep ori&ginal signature suffix"
control 1011 STATIC 0x50020000 exstyle 0x00000000 help 0 rect 15,84,65,8 extra 0 text "Signature suffix &key"
control 1012 EDIT 0x50810080 exstyle 0x00000000 help 0 rect 14,94,235,14 extra 0 text ""
control 1013 STATIC 0x50020000 exstyle 0x00000000 help 0 rect 15,115,71,8 extra 0 text "Signature suffix &value"
control 1014 EDIT 0x50810080 exstyle 0x00000000 help 0 rect 14,124,235,14 extra 0 text ""
control 1018 BUTTON 0x50010003 exstyle 0x00000000 help 0 rect 14,160,158,10 extra 0 text "&Write comments to decoded BIN -> CPP files"
control 1020 BUTTON 0x50010000 exstyle 0x00000000 help 0 rect 61,182,92,14 extra 0 text "OK -> For this &session only"'

for plugin in "$KYRZBK_DIST_ROOT/win32/kyrzbk.wcx" "$KYRZBK_DIST_ROOT/win64/kyrzbk.wcx64"; do
    if [ ! -f "$plugin" ]; then
        fail "missing $plugin"
        continue
    fi
    expect_same "$(basename "$plugin"): dialog 106 as compiled" "$expected" "$(python3 "$dump" "$plugin" 106 2>&1)"
done

# The template ships in the plug-in, where ConfigurePacker loads it from; the host has none.
for host in "$KYRZBK_DIST_ROOT/win32/kyrzbk.exe" "$KYRZBK_DIST_ROOT/win64/kyrzbk.exe"; do
    [ -f "$host" ] || continue
    expect_same "$(basename "$(dirname "$host")")/kyrzbk.exe carries no dialog 106" \
        "$host: no dialog 106" "$(python3 "$dump" "$host" 106 2>&1)"
done

finish
