#!/usr/bin/env bash
# End-to-end runs of the installer under Wine in a private X server, driven
# with xdotool as a user would drive it.
#
#   e2e.sh [--happy-arch i686|x86_64] [--no-build] [--only NAME,...]
#
# The happy path (default target, Enter, success box, installed tree,
# registry, Start Menu, screenshots, backdrop pixels) runs with the shipped
# 32-bit installer, as do the signed installer (the 64-bit one is signed
# too: signed64), one packed at level 5, the
# planted DLLs and the journeys under Windows version labels; every other
# scenario runs with the 64-bit build of the same sources, which starts in
# seconds also where 32-bit code runs only under qemu (about a minute per
# start).
# --happy-arch x86_64 runs everything 64-bit (for quick iterations).
# --no-build uses the installers already in build/; --only runs the named
# scenarios (see all_scenarios below), e.g. --only happy,win95-9x.
#
# One line per check ("ok   ..." or "FAIL ...: why"), screenshots in
# build/e2e/*.png, and a last line "e2e: N passed, M failed". Exits 1 when
# any check failed.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

happy_arch=i686
build=1
only=
while [ $# -gt 0 ]; do
    case $1 in
        --happy-arch) happy_arch=${2:?--happy-arch needs i686 or x86_64}; shift 2 ;;
        --no-build) build=0; shift ;;
        --only) only=${2:?--only needs scenario names}; shift 2 ;;
        -h | --help) sed -n '2,19p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "e2e: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
case $happy_arch in i686 | x86_64) ;; *) echo "e2e: unknown architecture $happy_arch" >&2; exit 2 ;; esac

out=$root/build/e2e
mkdir -p "$out"
rm -f "$out"/*.png "$out"/*.log

qv_checks_name=e2e
# shellcheck source=lib/checks.sh
source scripts/lib/checks.sh

installer() {  # the installer file of an architecture
    if [ "$1" = i686 ]; then echo "$root/build/quorvanel-setup.exe"; else echo "$root/build/quorvanel-setup-x86_64.exe"; fi
}

# --- Build -----------------------------------------------------------------
if [ "$build" = 1 ]; then
    for arch in x86_64 $([ "$happy_arch" = i686 ] && echo i686); do
        if bash scripts/build-installer.sh --arch "$arch" >"$out/build-$arch.log" 2>&1; then
            qv_pass "installer built ($arch, $(stat -c %s "$(installer "$arch")") bytes)"
        else
            tail -n 20 "$out/build-$arch.log"
            qv_fail "installer built ($arch)" "see $out/build-$arch.log"
            qv_finish
        fi
    done
fi
for arch in x86_64 "$happy_arch"; do
    [ -f "$(installer "$arch")" ] || { qv_fail "installer present ($arch)" "$(installer "$arch") is missing"; qv_finish; }
done
stage_x64=$root/build/stage-x86_64
stage_happy=$root/build/stage-$happy_arch

# shellcheck source=lib/wine-env.sh
source scripts/lib/wine-env.sh
# shellcheck source=lib/xvfb.sh
source scripts/lib/xvfb.sh
qv_wine_env x86_64 || { qv_fail "wine set up" "see above"; qv_finish; }
# shellcheck source=lib/installer-lib.sh
source scripts/lib/installer-lib.sh
# shellcheck source=lib/tree-lib.sh
source scripts/lib/tree-lib.sh
qv_build_probe || { qv_fail "probe program built" "see above"; qv_finish; }

cleanup() {
    [ -n "${QV_PROGRAM_PID:-}" ] && kill "$QV_PROGRAM_PID" 2>/dev/null
    "$WINESERVER" -k >/dev/null 2>&1
    qv_stop_xvfb
}
trap cleanup EXIT
# QV_KEEP_DISPLAY=1 with a working DISPLAY (a bare X server of 1024x768) runs there.
qv_start_xvfb || { qv_fail "X server started" "Xvfb did not start"; qv_finish; }
qv_private_prefix "$out/prefix" || { qv_fail "Wine prefix ready" "wineboot failed"; qv_finish; }
drive_c=$WINEPREFIX/drive_c
default_target='C:\Program Files\Quorvanel'
default_dir="$drive_c/Program Files/Quorvanel"

# --- Helpers ---------------------------------------------------------------
# Forgets everything an earlier scenario installed or remembered, in a
# new Wine session.
reset_state() {
    qv_fresh_session
    qv_registry_forget
    chmod -R u+w "$drive_c"/qv-* "$default_dir" 2>/dev/null
    rm -rf "$drive_c"/qv-* "$default_dir"
    local menu
    menu=$(qv_start_menu) && rm -rf "$menu/Quorvanel"
}

# Wine's shell answers the program-group request by opening the group in a
# window; a user closes it. Checks that it appeared, then closes it.
close_group_window() {
    if qv_wait_window Quorvanel 10 >/dev/null; then
        qv_pass "the shell opened the program group Quorvanel"
        qv_close_window Quorvanel
    else
        qv_fail "the shell opened the program group Quorvanel" "no window Quorvanel"
    fi
}

# Waits for an error box, checks its text, keeps a screenshot, closes it.
expect_error_box() {  # expect_error_box CAPTION TEXT WHAT-CAPTION-IS SHOT-NAME SECONDS
    local check="\"$2\" with $3 as caption"
    if qv_wait_window "$1" "$5" "$QV_PROGRAM_PID" >/dev/null; then
        sleep 0.5
        qv_screenshot "$out/$4.png"
        qv_expect "$check" "$2" "$(qv_box_text "$1")"
        qv_confirm_box "$1" || qv_fail "error box closes" "still there"
    else
        qv_fail "$check" "no window titled $1"
    fi
}

# Checks an installed tree against the staged product (qv_compare_tree)
# under the result's name CHECK; the first differences are told.
expect_tree() {  # expect_tree CHECK STAGE DIR [NAME-TO-SKIP]
    local check=$1 problems
    shift
    if problems=$(qv_compare_tree product/files.lst "$@"); then
        qv_pass "$check"
    else
        qv_fail "$check" "$(echo "$problems" | head -n 5 | tr '\n' ';')"
    fi
}

# Checks that Program Manager (Wine's shell) made the group Quorvanel with a
# link to the installed QRVNL.EXE; WHAT qualifies the result's name.
expect_group() {  # expect_group WHAT
    local menu link check="Start Menu group Quorvanel with a link to QRVNL.EXE${1:+ $1}"
    if menu=$(qv_start_menu) && [ -d "$menu/Quorvanel" ]; then
        link=$(find "$menu/Quorvanel" -name '*.lnk' -print -quit)
        if [ -n "$link" ] && grep -aq 'QRVNL.EXE' "$link"; then
            qv_pass "$check ($(basename "$link"))"
        else
            qv_fail "$check" "no link to QRVNL.EXE in $menu/Quorvanel"
        fi
    else
        qv_fail "$check" "no group directory"
    fi
}

# --- The happy path: default target, Enter, success ------------------------
scenario_happy() {
    local arch=$happy_arch tag="($happy_arch)"
    echo "--- happy path $tag"
    reset_state
    if ! qv_start_installer "$arch" "$(installer "$arch")" "$out/happy.log"; then
        qv_fail "dialog opens $tag" "no window '$qv_dialog_title'"
        qv_program_exit 1
        return
    fi
    qv_pass "dialog opens $tag"
    qv_expect "dialog proposes the default target" "$default_target" "$(qv_control_text "$qv_dialog_title" "$qv_id_target")"
    qv_expect "target field has the keyboard focus" "$qv_id_target" "$(qv_focus_id "$qv_dialog_title")"
    local rect x y w h
    rect=$(qv_control_rect "$qv_dialog_title" 0)
    read -r x y w h <<<"$rect"
    qv_expect "dialog centred on the 1024x768 desktop" "$(((1024 - w) >> 1)),$(((768 - h) >> 1))" "$x,$y"

    qv_screenshot "$out/backdrop-dialog.png"
    local line
    while IFS= read -r line; do
        case $line in
            "ok "*) qv_pass "backdrop: ${line#ok }" ;;
            "FAIL "*) qv_fail "backdrop: ${line#FAIL }" "pixels of $out/backdrop-dialog.png" ;;
            *) qv_fail "backdrop pixel check" "$line" ;;
        esac
    done < <(python3 scripts/e2e-tools.py backdrop "$out/backdrop-dialog.png" "$x" "$y" "$w" "$h" 2>&1)

    qv_keys_to "$QV_DIALOG" Return
    if qv_wait_window "$qv_box_title" 300 "$QV_PROGRAM_PID" >/dev/null; then
        sleep 1
        qv_pass "Enter installs and the success box appears"
        qv_screenshot "$out/success.png"
        qv_expect "success box text" "$qv_success_text" "$(qv_box_text "$qv_box_title")"
        qv_expect "status line cleared after the installation" "" "$(qv_control_text "$qv_dialog_title" "$qv_id_status")"
        qv_confirm_box "$qv_box_title" || qv_fail "success box closes" "still there"
    else
        qv_fail "Enter installs and the success box appears" "no window '$qv_box_title'"
    fi
    qv_program_exit 60
    qv_expect "program ends with exit code 0 after success" 0 "$QV_EXIT_CODE"
    close_group_window

    expect_tree "installed tree equals the product (bytes, times, attributes)" "$stage_happy" "$default_dir"
    qv_expect "registry Dir holds the target" "$default_target" "$(qv_registry_dir)"
    expect_group ""
}

# --- Exit: ends with 0, installs nothing ------------------------------------
scenario_exit() {
    echo "--- Exit button"
    reset_state
    qv_start_installer x86_64 "$(installer x86_64)" "$out/exit.log" || { qv_fail "dialog opens" "no dialog"; qv_program_exit 1; return; }
    local rect
    rect=$(qv_control_rect "$qv_dialog_title" 2)
    # shellcheck disable=SC2086
    [ -n "$rect" ] && qv_click $rect
    qv_program_exit 20
    qv_expect "Exit ends the program with exit code 0" 0 "$QV_EXIT_CODE"
    if [ -e "$default_dir" ]; then qv_fail "Exit installs nothing" "$default_dir exists"; else qv_pass "Exit installs nothing"; fi
    qv_expect "Exit leaves the registry alone" "" "$(qv_registry_dir)"
}

# --- Empty target: nothing happens; then Escape -----------------------------
scenario_empty() {
    echo "--- empty target"
    reset_state
    qv_start_installer x86_64 "$(installer x86_64)" "$out/empty.log" || { qv_fail "dialog opens" "no dialog"; qv_program_exit 1; return; }
    qv_type_target ""
    qv_expect "target field emptied by typing" "" "$(qv_control_text "$qv_dialog_title" "$qv_id_target")"
    qv_keys_to "$QV_DIALOG" Return
    sleep 2
    local why=
    qv_dialog_present || why="the dialog went"
    qv_window_absent "$qv_box_title" || why="$why; a success box appeared"
    [ -z "$(qv_registry_dir)" ] || why="$why; the registry holds '$(qv_registry_dir)'"
    [ ! -e "$default_dir" ] || why="$why; $default_dir was made"
    if [ -z "$why" ]; then
        qv_pass "OK with an empty target does nothing, the dialog stays"
    else
        qv_fail "OK with an empty target does nothing, the dialog stays" "${why#; }"
    fi
    qv_keys_to "$QV_DIALOG" Escape
    qv_program_exit 20
    qv_expect "Escape ends the program with exit code 0" 0 "$QV_EXIT_CODE"
}

# --- A target below an existing file ----------------------------------------
scenario_cannot_create() {
    echo "--- target below a file"
    reset_state
    echo "a file, not a directory" >"$drive_c/qv-file"
    local target='C:\qv-file\sub'
    qv_start_installer x86_64 "$(installer x86_64)" "$out/create.log" || { qv_fail "dialog opens" "no dialog"; qv_program_exit 1; return; }
    qv_type_target "$target"
    qv_keys_to "$QV_DIALOG" Return
    expect_error_box "$target" "Cannot create path." "the path" cannot-create-path 20
    if qv_dialog_present; then qv_pass "dialog stays after \"Cannot create path.\""; else qv_fail "dialog stays after \"Cannot create path.\"" "it went"; fi
    # The file itself, and a relative path, are refused the same way; the
    # relative one is made nowhere.
    local refused
    for refused in 'C:\qv-file' 'qv-rel\sub'; do
        qv_type_target "$refused"
        qv_keys_to "$QV_DIALOG" Return
        expect_error_box "$refused" "Cannot create path." "the path" cannot-create-path 20
    done
    local made
    made=$(find "$drive_c" "$PWD" -maxdepth 4 -name qv-rel 2>/dev/null | head -n 1)
    qv_expect "a relative target is made nowhere" "" "$made"
    qv_expect "registry untouched when the path cannot be created" "" "$(qv_registry_dir)"
    qv_keys_to "$QV_DIALOG" Escape
    qv_program_exit 20
    qv_expect "exit code 0 after the failed attempt" 0 "$QV_EXIT_CODE"
}

# --- An existing settings file keeps its content ----------------------------
scenario_keep_settings() {
    echo "--- existing settings file"
    reset_state
    local target='C:\qv-keep' dir=$drive_c/qv-keep
    mkdir -p "$dir"
    printf 'The user'"'"'s own settings\r\n' >"$dir/QUORZIP.SET"
    qv_start_installer x86_64 "$(installer x86_64)" "$out/keep.log" || { qv_fail "dialog opens" "no dialog"; qv_program_exit 1; return; }
    qv_type_target "$target"
    qv_keys_to "$QV_DIALOG" Return
    if qv_wait_window "$qv_box_title" 60 "$QV_PROGRAM_PID" >/dev/null; then
        sleep 0.5
        qv_confirm_box "$qv_box_title" || qv_fail "success box closes" "still there"
        qv_pass "installation into a typed target succeeds"
    else
        qv_fail "installation into a typed target succeeds" "no success box"
    fi
    qv_program_exit 30
    qv_expect "exit code 0 after success" 0 "$QV_EXIT_CODE"
    qv_close_window Quorvanel
    qv_expect "existing QUORZIP.SET keeps its content" "The user's own settings" "$(tr -d '\r' <"$dir/QUORZIP.SET")"
    expect_tree "the other files are installed beside the kept settings" "$stage_x64" "$dir" QUORZIP.SET
    qv_expect "registry Dir holds the target as typed" "$target" "$(qv_registry_dir)"

    # The delivered program runs and names the product and its version.
    local caption='ZT Quorvanel Lite 2.21'
    if [ -f "$dir/QRVNL.EXE" ]; then
        qv_start_program x86_64 "$out/qrvnl.log" "$dir/QRVNL.EXE"
        if qv_wait_window "$caption" 30 "$QV_PROGRAM_PID" >/dev/null; then
            sleep 0.5
            case $(qv_box_text "$caption") in
                "ZT Quorvanel Lite Version 2.21 "*) qv_pass "installed QRVNL.EXE shows the product name and version" ;;
                *) qv_fail "installed QRVNL.EXE shows the product name and version" "text '$(qv_box_text "$caption")'" ;;
            esac
            qv_confirm_box "$caption"
        else
            qv_fail "installed QRVNL.EXE shows the product name and version" "no window '$caption'"
        fi
        qv_program_exit 10
    fi
}

# --- A damaged or cut installer ---------------------------------------------
# Runs after scenario_keep_settings, whose target the registry remembers.
# Either is told at start-up, before any window: the box, no dialog, and the
# program ends with the check's result; nothing is remembered.
scenario_corrupt() {
    echo "--- damaged and cut installers"
    local damaged=$out/damaged-x86_64.exe cut=$out/cut-x86_64.exe name=QRVNL.EXE
    if ! python3 scripts/e2e-tools.py corrupt build/native/tools/qvinstall "$(installer x86_64)" "$damaged" "$name"; then
        qv_fail "damaged installer made" "e2e-tools corrupt failed"
        return
    fi
    # A download that ends with the program image: no archive at all.
    cp build/win-x86_64/ui/setup.exe "$cut"
    chmod -R u+w "$drive_c/qv-keep"
    rm -rf "$drive_c/qv-keep"
    local file code caption
    for file in "$damaged:3" "$cut:2"; do
        code=${file##*:}
        file=${file%:*}
        qv_fresh_session
        qv_start_program x86_64 "$out/$(basename "$file" .exe).log" "$file"
        caption="Z:$(printf '%s' "$file" | tr / '\\')"
        expect_error_box "$caption" "The installer is damaged or incomplete. Please get a new copy." \
            "the installer's path" "$(basename "$file" .exe)-box" 120
        qv_program_exit 20
        qv_expect "$(basename "$file"): exit code $code after the box" "$code" "$QV_EXIT_CODE"
        if qv_window_absent "$qv_dialog_title"; then qv_pass "$(basename "$file"): no dialog"; else qv_fail "$(basename "$file"): no dialog" "the dialog opened"; fi
        qv_expect "$(basename "$file"): the registry keeps the earlier target" 'C:\qv-keep' "$(qv_registry_dir)"
    done
}

# --- Installers cut short over an earlier installation ------------------------
# A download that stopped behind one file's data (an entry boundary: the
# next block is missing) or in the middle of one. Each must be told at
# start-up, before the dialog, and must leave the earlier installation as it
# was, the user's change included: an installer that wrote the files before
# the cut would have taken it away.
scenario_cut() {
    echo "--- installers cut short over an earlier installation"
    local target='C:\qv-cut' dir=$drive_c/qv-cut
    reset_state
    install_once x86_64 "$(installer x86_64)" "$target" "complete installer before the cut ones" \
        "$out/cut-whole.log" || return
    echo "a line of the user's" >>"$dir/README.TXT"
    local before after
    before=$(qv_tree_state "$dir")
    # The shipped 32-bit build once, where 32-bit code starts quickly.
    local runs="x86_64:QRVNL.EXE:end x86_64:QRVNL.HLP:middle" run arch name where file tag caption seen
    [ "$happy_arch" = i686 ] && qv_native_i386 && runs="$runs i686:QRVNL.EXE:end"
    for run in $runs; do
        IFS=: read -r arch name where <<<"$run"
        file=$out/cut-$where-$arch.exe
        if [ "$where" = end ]; then tag="cut behind $name's data ($arch)"; else tag="cut in $name's data ($arch)"; fi
        if ! python3 scripts/e2e-tools.py cut "$root/build/native/tools/qvinstall" "$(installer "$arch")" \
                "$file" "$name" "$where"; then
            qv_fail "$tag: installer cut" "e2e-tools cut failed"
            continue
        fi
        qv_fresh_session
        qv_start_program "$arch" "$out/cut-$where-$arch.log" "$file"
        caption="Z:$(printf '%s' "$file" | tr / '\\')"
        seen=
        for _ in $(seq 1 200); do
            qv_window_absent "$caption" || { seen=box; break; }
            qv_window_absent "$qv_dialog_title" || { seen=dialog; break; }
            kill -0 "$QV_PROGRAM_PID" 2>/dev/null || break
            sleep 0.3
        done
        if [ "$seen" = box ]; then
            if qv_window_absent "$qv_dialog_title"; then qv_pass "$tag: no dialog beside the box"; else qv_fail "$tag: no dialog beside the box" "the dialog opened"; fi
            expect_error_box "$caption" "The installer is damaged or incomplete. Please get a new copy." \
                "the installer's path" "cut-$where-$arch-box" 5
        elif [ "$seen" = dialog ]; then
            qv_fail "$tag: the box at start-up" "the dialog opened"
            # Pressed as a user would, over the earlier target it proposes:
            # what this writes shows in the tree below.
            qv_keys_to "$(qv_wait_window "$qv_dialog_title" 5)" Return
            sleep 10
            qv_screenshot "$out/cut-$where-$arch-dialog.png"
        else
            qv_fail "$tag: the box at start-up" "no window titled $caption"
        fi
        qv_program_exit 10
        qv_expect "$tag: exit code 3 after the box" 3 "$QV_EXIT_CODE"
        after=$(qv_tree_state "$dir")
        if [ "$before" = "$after" ]; then
            qv_pass "$tag: the earlier installation is unchanged"
        else
            qv_fail "$tag: the earlier installation is unchanged" \
                "$(diff <(echo "$before") <(echo "$after") | grep '^[<>]' | head -n 4 | tr '\n' ';')"
        fi
        qv_expect "$tag: the registry keeps the earlier target" "$target" "$(qv_registry_dir)"
    done
}

# --- A reinstallation over a file another program holds --------------------
# Another process has a product file open without sharing (a viewer showing
# it): the file cannot be replaced. The reinstallation says so with the
# file's path and stops; the held file keeps what it had, no temporary file
# stays behind, and once the file is free again a rerun delivers every file.
scenario_held() {
    echo "--- reinstallation over a held file"
    local target='C:\qv-held' dir=$drive_c/qv-held name=QRVNL.HLP
    local holder=$root/build/win-x86_64/tests/holdfile.exe stop='C:\qv-held.stop'
    if ! cmake --build "$root/build/win-x86_64" --target holdfile >"$out/holdfile-build.log" 2>&1; then
        qv_fail "holder program built" "see $out/holdfile-build.log"
        return
    fi
    reset_state
    install_once x86_64 "$(installer x86_64)" "$target" "installation before the held one" \
        "$out/held-first.log" || return
    echo "a line of the user's" >>"$dir/$name"
    local held_before
    held_before=$(md5sum <"$dir/$name")
    qv_fresh_session
    qv_start_program x86_64 "$out/holdfile.log" "$holder" "$target\\$name" "$stop"
    local holder_pid=$QV_PROGRAM_PID
    for _ in $(seq 1 100); do
        grep -q '^holding' "$out/holdfile.log" 2>/dev/null && break
        kill -0 "$holder_pid" 2>/dev/null || break
        sleep 0.3
    done
    if ! grep -q '^holding' "$out/holdfile.log"; then
        qv_fail "another program holds $name" "$(tr '\n' ' ' <"$out/holdfile.log")"
        kill "$holder_pid" 2>/dev/null
        return
    fi
    qv_pass "another program holds $name with no sharing"
    qv_start_installer x86_64 "$(installer x86_64)" "$out/held.log" || { qv_fail "dialog opens" "no dialog"; qv_program_exit 1; kill "$holder_pid"; return; }
    qv_type_target "$target"
    qv_keys_to "$QV_DIALOG" Return
    expect_error_box "$target\\$name" "Cannot install file." "the held file's path" held-box 60
    if qv_dialog_present; then qv_pass "dialog stays after \"Cannot install file.\""; else qv_fail "dialog stays after \"Cannot install file.\"" "it went"; fi
    qv_keys_to "$QV_DIALOG" Escape
    qv_program_exit 20
    qv_expect "exit code 0 after the failed reinstallation" 0 "$QV_EXIT_CODE"
    qv_expect "the held $name keeps its content" "$held_before" "$(md5sum <"$dir/$name")"
    qv_expect "no temporary file left after the failed reinstallation" "" \
        "$(qv_temporary_files "$dir")"
    expect_tree "every other file as delivered, the held one aside" "$stage_x64" "$dir" "$name"
    touch "$drive_c/qv-held.stop"
    qv_wait_exit "$holder_pid" 20 >"$out/exit-code"
    qv_expect "the holder ends once told" 0 "$(cat "$out/exit-code")"
    install_once x86_64 "$(installer x86_64)" "$target" "rerun once the file is free" "$out/held-rerun.log" || return
    expect_tree "the rerun delivers every file" "$stage_x64" "$dir"
    qv_expect "no temporary file left after the rerun" "" "$(qv_temporary_files "$dir")"
    qv_expect "the registry holds the target" "$target" "$(qv_registry_dir)"
}

# --- Targets too long for a path ----------------------------------------------
# Typing stops at 259 characters, but another program can put a longer text
# into the field; and a target that fits may still be too deep for the
# product's files. Each is refused with "Cannot create path." before
# anything is made or remembered, and the dialog stays for a correction.
scenario_refused_targets() {
    echo "--- targets too long for a path"
    reset_state
    qv_start_installer x86_64 "$(installer x86_64)" "$out/refused.log" || { qv_fail "dialog opens" "no dialog"; qv_program_exit 1; return; }
    local set typed fits shown deepest
    set=$(qv_long_target 'C:\qv-set' 275)
    qv_wine_output "$qv_probe" settext "$qv_dialog_title" "$qv_id_target" "$set"
    shown=$(qv_control_text "$qv_dialog_title" "$qv_id_target")
    qv_expect "another program put 275 characters into the target field" 275 "${#shown}"
    qv_keys_to "$QV_DIALOG" Return
    # The caption is what the field gave: the first 260 characters.
    expect_error_box "${set:0:260}" "Cannot create path." "the text's first 260 characters" refused-275 20
    if qv_dialog_present; then qv_pass "dialog stays after the 275-character target"; else qv_fail "dialog stays after the 275-character target" "it went"; fi
    # The product's deepest file, as the installer names it.
    deepest=$(tr -d '\r' <product/files.lst | awk 'length > length(best) { best = $0 } END { print best }' | tr / '\\')
    # 259 characters, the most the field takes: the files would pass 259.
    # 242: every directory fits (C:\...\LANG is 247), DOCS\KEYBOARD.TXT does not.
    for typed in "$(qv_long_target 'C:\qv-typed' 259)" "$(qv_long_target 'C:\qv-fit' 242)"; do
        qv_type_target "$typed"
        shown=$(qv_control_text "$qv_dialog_title" "$qv_id_target")
        qv_expect "${#typed} characters typed into the target field" "$typed" "$shown"
        qv_keys_to "$QV_DIALOG" Return
        expect_error_box "$typed\\$deepest" "Cannot create path." "the deepest file's path" "refused-${#typed}" 20
        if qv_dialog_present; then qv_pass "dialog stays after the ${#typed}-character target"; else qv_fail "dialog stays after the ${#typed}-character target" "it went"; fi
    done
    local made= made_dir
    for made_dir in qv-set qv-typed qv-fit; do [ -e "$drive_c/$made_dir" ] && made="$made $made_dir"; done
    qv_expect "no directory made for a refused target" "" "${made# }"
    qv_expect "registry untouched by refused targets" "" "$(qv_registry_dir)"
    qv_keys_to "$QV_DIALOG" Escape
    qv_program_exit 20
    qv_expect "exit code 0 after the refused targets" 0 "$QV_EXIT_CODE"
}

# Runs FILE, installs into TARGET as typed, and checks the success box and
# the exit code; WHAT names the run in the results. Fails when no success
# box came.
install_once() {  # install_once ARCH FILE TARGET WHAT LOG
    local arch=$1 file=$2 target=$3 what=$4 log=$5 ok=0
    qv_start_installer "$arch" "$file" "$log" || { qv_fail "dialog opens ($what)" "no dialog"; qv_program_exit 1; return 1; }
    qv_type_target "$target"
    qv_keys_to "$QV_DIALOG" Return
    if qv_wait_window "$qv_box_title" 120 "$QV_PROGRAM_PID" >/dev/null; then
        sleep 0.5
        qv_expect "the $what shows the success box" "$qv_success_text" \
            "$(qv_box_text "$qv_box_title")"
        qv_confirm_box "$qv_box_title" || qv_fail "success box closes" "still there"
    else
        qv_fail "the $what shows the success box" "no window '$qv_box_title'"
        ok=1
    fi
    qv_program_exit 60
    qv_expect "exit code 0 after the $what" 0 "$QV_EXIT_CODE"
    qv_close_window Quorvanel
    return $ok
}

# Installs FILE into TARGET (DIR on the host side) from a fresh state and
# checks the success box, the exit code and the installed tree; WHAT names
# the installer in the results.
install_and_compare() {  # install_and_compare ARCH FILE TARGET DIR WHAT LOG
    local arch=$1 file=$2 target=$3 dir=$4 what=$5 log=$6
    reset_state
    install_once "$arch" "$file" "$target" "$what" "$log" || return
    expect_tree "the $what installs the identical tree" "$root/build/stage-$arch" "$dir"
}

# --- A signed installer: the signature behind the archive changes nothing ----
# The shipped 32-bit installer (PE32), and with "signed64" the 64-bit build,
# whose PE32+ header keeps the certificate table at other offsets.
scenario_signed() {  # scenario_signed [ARCH]
    local arch=${1:-$happy_arch}
    local tag="($arch)"
    echo "--- signed installer $tag"
    local signed=$out/signed-$arch.exe key=$out/sign.key cert=$out/sign.crt
    rm -f "$signed"  # osslsigncode does not overwrite its output
    if ! openssl req -x509 -newkey rsa:2048 -nodes -keyout "$key" -out "$cert" -days 30 \
            -subj "/CN=Quorvanel end-to-end" >"$out/sign.log" 2>&1 ||
        ! osslsigncode sign -certs "$cert" -key "$key" -n "ZT Quorvanel Lite" -in "$(installer "$arch")" \
            -out "$signed" >>"$out/sign.log" 2>&1; then
        qv_fail "installer signed with osslsigncode $tag" "see $out/sign.log"
        return
    fi
    qv_pass "installer signed with osslsigncode $tag ($(stat -c %s "$signed") bytes)"
    install_and_compare "$arch" "$signed" 'C:\qv-signed' "$drive_c/qv-signed" "signed installer" "$out/signed.log"
}

# --- The best level: what the optimal parse writes, the real installer reads ---
scenario_best_level() {
    local arch=$happy_arch tag="($happy_arch)"
    echo "--- installer packed at level 5 $tag"
    local best=$out/best-$arch.exe
    rm -f "$best"
    if ! "$root/build/native/tools/qvpack" -5 -q --stub "$root/build/win-$arch/ui/setup.exe" \
            --list product/files.lst -o "$best" "$stage_happy" >"$out/best.log" 2>&1; then
        qv_fail "installer packed at level 5 $tag" "see $out/best.log"
        return
    fi
    qv_pass "installer packed at level 5 $tag ($(stat -c %s "$best") bytes)"
    install_and_compare "$arch" "$best" 'C:\qv-best' "$drive_c/qv-best" "level-5 installer" "$out/best-run.log"
}

# --- Names with accents: stored in code page 1252, created right ------------
# A tree with German, French and Polish names in UTF-8 is packed for Western
# European Windows (the Polish letter that code page lacks is refused); the
# installer hands the stored names to the 8-bit file calls, and Wine, whose
# ANSI code page here is 1252, must create every name as it was.
scenario_names() {
    echo "--- accented names (x86_64)"
    local tree=$out/names-tree exe=$out/names-x86_64.exe qvpack=$root/build/native/tools/qvpack
    rm -rf "$tree" "$exe"
    mkdir -p "$tree/Fran$(printf '\xc3\xa7')ais" "$tree/Deutsch" "$tree/Polski"
    echo "unicode" >"$tree/$(printf '\xc3\x9cn\xc3\xaf')code.txt"
    echo "eleve" >"$tree/Fran$(printf '\xc3\xa7')ais/$(printf '\xc3\x89l\xc3\xa8')ve.txt"
    echo "groesse" >"$tree/Deutsch/Gr$(printf '\xc3\xb6\xc3\x9f')e.txt"
    echo "wozek" >"$tree/Polski/W$(printf '\xc3\xb3')zek.txt"
    local lodz
    lodz="$tree/Polski/$(printf '\xc5\x81\xc3\xb3')d$(printf '\xc5\xba').txt"
    echo "lodz" >"$lodz"
    if "$qvpack" -q --stub "$root/build/win-x86_64/ui/setup.exe" -o "$exe" "$tree" >"$out/names-pack.log" 2>&1; then
        qv_fail "qvpack refuses the name code page 1252 cannot hold" "it packed"
    else
        qv_expect "qvpack refuses the name code page 1252 cannot hold" 1 \
            "$(grep -c "code page 1252 has no character" "$out/names-pack.log")"
    fi
    rm -f "$lodz"
    if ! "$qvpack" -q --stub "$root/build/win-x86_64/ui/setup.exe" -o "$exe" "$tree" >"$out/names-pack.log" 2>&1; then
        qv_fail "tree with accented names packed" "see $out/names-pack.log"
        return
    fi
    qv_pass "tree with accented names packed"
    reset_state
    install_once x86_64 "$exe" 'C:\qv-names' "installer of accented names" "$out/names.log" || return
    local problems
    if problems=$(diff -r "$tree" "$drive_c/qv-names" 2>&1); then
        qv_pass "every accented name installed as it was, with its content"
    else
        qv_fail "every accented name installed as it was, with its content" "$(echo "$problems" | head -n 4 | tr '\n' ';')"
    fi
}

# --- Keys pressed while the installation runs ---------------------------------
# The program is held still (SIGSTOP) while Enter is pressed four times:
# the first press installs, the other three wait in the queue as keys
# pressed during a long installation would. They must not answer the
# success box: it stays until it is clicked.
scenario_stale_keys() {
    echo "--- keys pressed during the installation"
    reset_state
    qv_start_installer x86_64 "$(installer x86_64)" "$out/keys.log" || { qv_fail "dialog opens" "no dialog"; qv_program_exit 1; return; }
    qv_type_target 'C:\qv-keys'
    kill -STOP "$QV_PROGRAM_PID"
    qv_keys_to "$QV_DIALOG" Return Return Return Return
    kill -CONT "$QV_PROGRAM_PID"
    if qv_wait_window "$qv_box_title" 120 "$QV_PROGRAM_PID" >/dev/null; then
        sleep 2
        if qv_window_absent "$qv_box_title"; then
            qv_fail "the success box outlives keys pressed before it appeared" "it went at once"
        else
            qv_pass "the success box outlives keys pressed before it appeared"
            qv_confirm_box "$qv_box_title" || qv_fail "success box closes" "still there"
        fi
    else
        qv_fail "the success box outlives keys pressed before it appeared" "no success box"
    fi
    qv_program_exit 30
    qv_expect "exit code 0 after the installation with keys pressed" 0 "$QV_EXIT_CODE"
    qv_close_window Quorvanel
}

# --- DLLs planted beside the installer ---------------------------------------
# A download folder may hold DLLs named like those Windows loads on demand.
# Each marker DLL leaves NAME.dll.LOADED beside itself when a process loads
# it; Wine is told to prefer such files to its own (Windows does so for
# DLLs that are not KnownDLLs), and the folder is also the current one.
# (Wine's own user32 loads version.dll at start-up, which Windows' does
# not; that name says nothing about the program and is left out.)
scenario_planted_dlls() {
    local arch=$happy_arch tag="($happy_arch)"
    echo "--- DLLs planted beside the installer $tag"
    local dir=$out/planted-$arch planted=$root/build/win-$arch/tests/planted names=
    rm -rf "$dir"
    mkdir -p "$dir"
    [ -d "$planted" ] || cmake --build "$root/build/win-$arch" --target \
        $(printf 'planted_%s ' uxtheme dwmapi cryptbase profapi userenv comctl32 msimg32 riched20 shfolder winmm shell32) \
        >"$dir/build.log" 2>&1
    cp "$planted"/*.dll "$dir/" 2>/dev/null
    local dll
    for dll in "$dir"/*.dll; do names="$names${names:+,}$(basename "$dll" .dll)"; done
    if [ -z "$names" ]; then
        qv_fail "marker DLLs planted $tag" "none built in $planted"
        return
    fi
    cp "$(installer "$arch")" "$dir/setup.exe"
    reset_state
    pushd "$dir" >/dev/null
    WINEDLLOVERRIDES="$WINEDLLOVERRIDES;$names=n,b" \
        install_once "$arch" "$dir/setup.exe" 'C:\qv-planted' "installer beside planted DLLs $tag" "$dir/run.log"
    popd >/dev/null
    qv_expect "no planted DLL loaded ($names)" "" "$(cd "$dir" && ls ./*.LOADED 2>/dev/null | tr '\n' ' ')"
    expect_tree "beside planted DLLs: the identical tree" "$stage_happy" "$drive_c/qv-planted"
}

# --- Windows versions: install, then reinstall over a changed tree ----------
# Wine answers every call the same way whatever Windows it claims to be; the
# label (set for the program alone) changes what GetVersion says, and with
# it the installer's choice between the NT and the 95/98 file calls. With
# "9x" the program's kernel imports go through KERNEL9X.DLL, a stand-in that
# fails, as Windows 95/98 do, the calls their kernel exports without
# implementing, notes any such call in KERNEL9X.LOG, and hides from
# GetProcAddress what they lack. The 32-bit installer only: a 64-bit
# program cannot claim to run on those versions.
scenario_windows_version() {  # scenario_windows_version LABEL [9x]
    local label=$1 kernel=${2:-} tag
    tag="$label${kernel:+ with the 95/98 kernel stand-in}"
    echo "--- install and reinstall as $tag"
    if [ "$happy_arch" != i686 ]; then
        echo "skip: the 32-bit installer is not built (--happy-arch $happy_arch)"
        return
    fi
    # Where 32-bit code runs only under qemu (a minute per start), the
    # versions whose file calls another run already takes are left out:
    # 98 (as 95, through the stand-in), XP and 7 (as NT 4.0 and 10).
    if ! qv_native_i386; then
        case $label${kernel:+-9x} in
            win98 | winxp | win7)
                echo "skip: 32-bit code runs under emulation here; $label takes the calls of another run"
                return ;;
        esac
    fi
    local dir=$out/version-$label${kernel:+-9x} name=qv-$label.exe
    local exe=$dir/$name target="C:\\qv-$label" host=$drive_c/qv-$label
    rm -rf "$dir"
    mkdir -p "$dir"
    if [ -n "$kernel" ]; then
        local k9x=$root/build/win-i686/tests/KERNEL9X.dll
        [ -f "$k9x" ] || cmake --build "$root/build/win-i686" --target kernel9x >"$dir/build.log" 2>&1
        if ! python3 scripts/e2e-tools.py kernel9x "$(installer i686)" "$exe" ||
            ! cp "$k9x" "$dir/"; then
            qv_fail "installer importing the 95/98 kernel stand-in ($label)" "see above"
            return
        fi
    else
        cp "$(installer i686)" "$exe"
    fi
    reset_state
    qv_windows_version_for "$name" "$label"
    install_once i686 "$exe" "$target" "installation as $tag" "$dir/first.log" || return
    expect_tree "installed as $tag: the identical tree" "$stage_happy" "$host"
    expect_group "(as $tag)"
    # The user changes the installation: own settings, an edited and a
    # deleted file, one made read-only.
    printf 'The user'"'"'s own settings\r\n' >"$host/QUORZIP.SET"
    echo "a line of the user's" >>"$host/README.TXT"
    rm -f "$host/DOCS/TIPS.TXT"
    chmod a-w "$host/KEYS.CFG"
    qv_fresh_session
    install_once i686 "$exe" "$target" "reinstallation as $tag" "$dir/second.log" || return
    expect_tree "reinstalled as $tag: every file as delivered again" "$stage_happy" "$host" QUORZIP.SET
    qv_expect "reinstalled as $tag: QUORZIP.SET keeps the user's settings" "The user's own settings" \
        "$(tr -d '\r' <"$host/QUORZIP.SET")"
    qv_expect "as $tag: no temporary file left" "" "$(qv_temporary_files "$host")"
    qv_expect "as $tag: the registry holds the target" "$target" "$(qv_registry_dir)"
    if [ -n "$kernel" ]; then
        qv_expect "as $tag: no call the 95/98 kernel does not implement" "" \
            "$(cat "$dir/KERNEL9X.LOG" 2>/dev/null | tr -d '\r' | sort -u | tr '\n' ' ')"
    fi
}

# --- Windows NT: a reinstallation over read-only files ----------------------
# NT refuses to move a file over a read-only one (ERROR_ACCESS_DENIED); Wine
# replaces it at once, so the installer's answer to the refusal (clear the
# attribute, move again) is seen only through KERNELNT.DLL, a stand-in for
# KERNEL32 that refuses such moves as NT does and notes each in KERNELNT.LOG.
# The reinstallation finds changed files read-only (LICENSE.TXT by its own
# attribute); each must be refused once and then be replaced. The 32-bit
# installer under the nt40 label; where 32-bit code runs only under qemu,
# the 64-bit build of the same sources, which takes the same NT file calls
# and starts in seconds.
scenario_nt_read_only() {
    local arch=i686
    if [ "$happy_arch" != i686 ] || ! qv_native_i386; then arch=x86_64; fi
    local tag="nt40 with the NT kernel stand-in ($arch)"
    echo "--- reinstall over read-only files as $tag"
    local dir=$out/version-nt40-nt name=qv-nt40-nt.exe
    local exe=$dir/$name target='C:\qv-nt40-nt' host=$drive_c/qv-nt40-nt
    local knt=$root/build/win-$arch/tests/KERNELNT.dll file
    rm -rf "$dir"
    mkdir -p "$dir"
    [ -f "$knt" ] || cmake --build "$root/build/win-$arch" --target kernelnt >"$dir/build.log" 2>&1
    if ! python3 scripts/e2e-tools.py kernelnt "$(installer "$arch")" "$exe" || ! cp "$knt" "$dir/"; then
        qv_fail "installer importing the NT kernel stand-in ($arch)" "see above and $dir/build.log"
        return
    fi
    # The names of the targets whose move the stand-in refused, sorted.
    nt_refused_moves() { tr -d '\r' 2>/dev/null <"$dir/KERNELNT.LOG" | sed 's/.*\\//' | sort | tr '\n' ' '; }
    reset_state
    qv_windows_version_for "$name" nt40
    install_once "$arch" "$exe" "$target" "installation as $tag" "$dir/first.log" || return
    qv_expect "as $tag: a fresh installation meets no refused move" "" "$(nt_refused_moves)"
    for file in LICENSE.TXT README.TXT KEYS.CFG QRVNL.EXE; do
        chmod u+w "$host/$file"
        echo "a line of the user's" >>"$host/$file"
        chmod a-w "$host/$file"
    done
    qv_fresh_session
    install_once "$arch" "$exe" "$target" "reinstallation over read-only files as $tag" "$dir/second.log" || return
    qv_expect "as $tag: the move over each read-only file was refused once" \
        "KEYS.CFG LICENSE.TXT QRVNL.EXE README.TXT " "$(nt_refused_moves)"
    expect_tree "reinstalled over read-only files as $tag: every file as delivered" "$root/build/stage-$arch" "$host"
    qv_expect "as $tag: no temporary file left" "" "$(qv_temporary_files "$host")"
}

# Every scenario, in order; --only picks some (a version scenario by its
# label, "win95-9x" for the stand-in runs).
all_scenarios="happy exit empty cannot_create keep_settings corrupt cut held refused_targets signed signed64
    best_level names stale_keys planted_dlls win95-9x win98-9x win98 nt40 nt40-nt winxp win7 win10"
for name in $all_scenarios; do
    if [ -n "$only" ] && ! printf ',%s,' "$only" | grep -q ",$name,"; then continue; fi
    case $name in
        *-9x) scenario_windows_version "${name%-9x}" 9x ;;
        signed64) scenario_signed x86_64 ;;
        nt40-nt) scenario_nt_read_only ;;
        win* | nt*) scenario_windows_version "$name" ;;
        *) "scenario_$name" ;;
    esac
done
echo "screenshots: $(ls "$out"/*.png 2>/dev/null | tr '\n' ' ')"
qv_finish
