# Driving the installer under Wine in an X server, as a person would: shared
# by run-installer.sh and e2e.sh. Source it after wine-env.sh and xvfb.sh.
# Windows are found with xdotool by their exact title; their controls are
# read with the probe program winprobe.exe (64-bit, fast to start).

qv_dialog_title='  Setup ZT Quorvanel Lite'
qv_box_title='ZT Quorvanel Lite'
qv_success_text='ZT Quorvanel Lite has been successfully installed.'
# The dialog's controls, as resources/resource.h numbers them, and the text
# of a message box (its static control).
qv_id_target=$(awk '$1 == "#define" && $2 == "IDC_TARGET" { print $3 }' "$qv_root/resources/resource.h")
qv_id_status=$(awk '$1 == "#define" && $2 == "IDC_STATUS" { print $3 }' "$qv_root/resources/resource.h")
qv_id_box_text=65535
qv_probe=$qv_root/build/win-x86_64/tests/winprobe.exe

# Builds the probe program (64-bit Windows build, tests/win/programs).
qv_build_probe() {
    local dir=$qv_root/build/win-x86_64
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        cmake -S "$qv_root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$qv_root/cmake/mingw-x86_64.cmake" \
            >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log" >&2; return 1; }
    fi
    cmake --build "$dir" -j 2 --target winprobe >"$dir.probe-build.log" 2>&1 ||
        { tail -n 30 "$dir.probe-build.log" >&2; return 1; }
}

# A Wine prefix of our own for these runs, with Wine drawing the window
# frames itself (a bare X server has no window manager to do it). Menu
# entries are not copied to the host's desktop.
qv_private_prefix() {  # qv_private_prefix DIR [decorated]
    export WINEPREFIX=$1
    export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winemenubuilder.exe=d}
    qv_wine_prefix || return 1
    local decorated=N
    [ "${2:-}" = decorated ] && decorated=Y
    "$qv_root/build/winebin/wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated \
        /d "$decorated" /f >/dev/null 2>&1
}

# Starts a Windows program in the background; its output goes to LOG.
# Sets QV_PROGRAM_PID.
qv_start_program() {  # qv_start_program ARCH LOG PROGRAM [ARGS...]
    local arch=$1 log=$2
    shift 2
    local loader=$qv_root/build/winebin/wine64
    [ "$arch" = i686 ] && loader=$qv_root/build/winebin/wine
    "$loader" "$@" >"$log" 2>&1 </dev/null &
    QV_PROGRAM_PID=$!
}

# Ends what a driving script started: the program (QV_PROGRAM_PID), the
# prefix's Wine session and the private X server. For its exit trap.
qv_end_session() {
    [ -n "${QV_PROGRAM_PID:-}" ] && kill "$QV_PROGRAM_PID" 2>/dev/null
    "$WINESERVER" -k >/dev/null 2>&1
    qv_stop_xvfb
}

# Waits until the program ends; prints its exit code. 124 on time-out.
qv_wait_exit() {  # qv_wait_exit PID SECONDS
    local pid=$1 end=$((SECONDS + $2))
    while kill -0 "$pid" 2>/dev/null; do
        if [ $SECONDS -ge $end ]; then
            echo 124
            return 1
        fi
        sleep 0.3
    done
    local rc=0
    wait "$pid" || rc=$?
    echo "$rc"
}

qv_title_pattern() {  # a regular expression that matches exactly this title
    printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\.*^$+?(){}|]/\\&/g')"
}

# Prints the X window id of the visible window with exactly this title,
# waiting up to SECONDS for it; fails when it does not appear. A PID makes
# the wait give up early when that program has ended.
qv_wait_window() {  # qv_wait_window TITLE SECONDS [PID]
    local pattern end=$((SECONDS + $2)) id
    pattern=$(qv_title_pattern "$1")
    while :; do
        id=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        [ $SECONDS -ge $end ] && return 1
        [ -n "${3:-}" ] && ! kill -0 "$3" 2>/dev/null && return 1
        sleep 0.3
    done
}

# Succeeds when no visible window has this title (now).
qv_window_absent() {
    ! xdotool search --onlyvisible --name "$(qv_title_pattern "$1")" >/dev/null 2>&1
}

# Runs a 64-bit Windows program and prints its standard output without
# carriage returns. The output goes through a file: Wine's helper processes
# may inherit a pipe and hold it open long after the program has ended.
# Error output is kept in $QV_WINE_ERRORS when that is set.
qv_wine_output() {  # qv_wine_output PROGRAM [ARGS...]
    local file rc=0
    file=$(mktemp "${TMPDIR:-/tmp}/qv-wine.XXXXXX")
    "$qv_root/build/winebin/wine64" "$@" >"$file" 2>>"${QV_WINE_ERRORS:-/dev/null}" </dev/null || rc=$?
    tr -d '\r' <"$file"
    rm -f "$file"
    return $rc
}

# The window with this title and its controls, one per line:
# handle, class, control id, x,y,width,height, text (tab-separated).
# A probe that starts while Wine is busy may come back empty; it is asked
# again a few times before the window counts as unreadable.
qv_probe_window() {  # qv_probe_window TITLE
    local text i
    for i in 1 2 3 4; do
        text=$(qv_wine_output "$qv_probe" show "$1") && [ -n "$text" ] && break
        sleep 1
    done
    printf '%s\n' "$text"
}

# Text of the control with this id in the window with this title.
qv_control_text() {  # qv_control_text TITLE ID
    qv_probe_window "$1" | awk -F '\t' -v id="$2" '$3 == id { print $5; exit }'
}

# Screen rectangle "x y width height" of the window or one of its controls.
qv_control_rect() {  # qv_control_rect TITLE ID  (ID 0: the window itself)
    qv_probe_window "$1" | awk -F '\t' -v id="$2" '$3 == id { gsub(",", " ", $4); print $4; exit }'
}

# Puts the pointer in the middle of the window and sends keys. Without a
# window manager the keyboard follows the pointer.
qv_keys_to() {  # qv_keys_to XWINDOW KEY...
    local window=$1
    shift
    eval "$(xdotool getwindowgeometry --shell "$window" 2>/dev/null)"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2)) 2>/dev/null
    sleep 0.2
    xdotool key --delay 60 "$@" 2>/dev/null
}

# Clicks the middle of a screen rectangle "x y width height".
qv_click() {  # qv_click X Y WIDTH HEIGHT
    xdotool mousemove $(($1 + $3 / 2)) $(($2 + $4 / 2)) 2>/dev/null
    sleep 0.2
    xdotool click 1 2>/dev/null
}

# Replaces the text of the dialog's target field by typing, as a user would.
qv_type_target() {  # qv_type_target TEXT
    local rect
    rect=$(qv_control_rect "$qv_dialog_title" "$qv_id_target") || return 1
    [ -n "$rect" ] || return 1
    # shellcheck disable=SC2086
    qv_click $rect
    xdotool key --delay 40 End shift+Home BackSpace 2>/dev/null
    [ -n "$1" ] && xdotool type --delay 30 -- "$1" 2>/dev/null
    sleep 0.3
}

qv_screenshot() {  # qv_screenshot FILE.png
    import -window root "$1" 2>/dev/null
}

# The Linux path of a Windows path in the current prefix.
qv_unix_path() {
    qv_wine_output winepath -u "$1"
}

# The value "Dir" under HKCU\Software\Quorvanel, or nothing (fails) when absent.
qv_registry_dir() {
    local out
    out=$(qv_wine_output reg query 'HKCU\Software\Quorvanel' /v Dir) || return 1
    printf '%s\n' "$out" | sed -n 's/^ *Dir *REG_SZ *//p' | head -n 1
}

# The Start Menu's programs folder of the prefix's user.
qv_start_menu() {
    local d
    for d in "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/Microsoft/Windows/"Start Menu"/Programs \
        "$WINEPREFIX"/drive_c/ProgramData/Microsoft/Windows/"Start Menu"/Programs; do
        [ -d "$d" ] && { echo "$d"; return 0; }
    done
    return 1
}

# The control id that holds the keyboard focus in the window with this title.
qv_focus_id() {  # qv_focus_id TITLE
    qv_wine_output "$qv_probe" focus "$1"
}

# Asks the window with this title to close (WM_CLOSE), as its close button would.
qv_close_window() {  # qv_close_window TITLE
    qv_wine_output "$qv_probe" close "$1" >/dev/null
}

# Clicks the OK button of a message box found by its caption and waits for
# the box to go. A click, not Return: Wine's shell opens the new program
# group in a window of its own, which takes the keyboard from the box.
qv_confirm_box() {  # qv_confirm_box CAPTION
    local box rect i
    box=$(qv_wait_window "$1" 5) || return 1
    xdotool windowraise "$box" 2>/dev/null
    rect=$(qv_control_rect "$1" 1)
    [ -n "$rect" ] || return 1
    # shellcheck disable=SC2086
    qv_click $rect
    for i in $(seq 1 30); do
        qv_window_absent "$1" && return 0
        sleep 0.3
    done
    return 1
}

# Message box text (its static control) of the box with this caption.
qv_box_text() { qv_control_text "$1" "$qv_id_box_text"; }

# Succeeds while the install dialog is open.
qv_dialog_present() { ! qv_window_absent "$qv_dialog_title"; }

# Ends every Wine process of the prefix. Wine's desktop process may go away
# when the last program ends; a program started then can land on a
# desktop that the probe no longer sees. A new session avoids that.
qv_fresh_session() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    return 0
}

# Starts an installer and waits for its dialog (a 32-bit one may take
# minutes where it runs under emulation); prints nothing, sets
# QV_PROGRAM_PID and QV_DIALOG (the X window).
qv_start_installer() {  # qv_start_installer ARCH FILE LOG
    local limit=60
    [ "$1" = i686 ] && limit=400
    qv_start_program "$1" "$3" "$2"
    QV_DIALOG=$(qv_wait_window "$qv_dialog_title" "$limit" "$QV_PROGRAM_PID") || return 1
    # Let the dialog finish its first paint before anyone looks at it.
    sleep 1.5
}

# Waits for the program started last to end, killing it after SECONDS;
# sets QV_EXIT_CODE (124 when it had to be killed). Not in a subshell: only
# the shell that started the program can collect its exit code.
qv_program_exit() {  # qv_program_exit SECONDS
    local file
    file=$(mktemp "${TMPDIR:-/tmp}/qv-exit.XXXXXX")
    if ! qv_wait_exit "$QV_PROGRAM_PID" "$1" >"$file"; then
        kill "$QV_PROGRAM_PID" 2>/dev/null
        sleep 1
    fi
    QV_EXIT_CODE=$(cat "$file")
    rm -f "$file"
}

# Forgets the target the installer remembered (HKCU\Software\Quorvanel).
qv_registry_forget() {
    qv_wine_output reg delete 'HKCU\Software\Quorvanel' /f >/dev/null
}

# The Windows version Wine claims to the program of this file name alone
# (win95, nt40, win10, ...).
qv_windows_version_for() {  # qv_windows_version_for EXE-NAME LABEL
    qv_wine_output reg add "HKCU\\Software\\Wine\\AppDefaults\\$1" /v Version /d "$2" /f >/dev/null
}

# A full target of LENGTH characters below PREFIX, in parts of 60
# characters (no part ends in a backslash).
qv_long_target() {  # qv_long_target PREFIX LENGTH
    local t=$1
    while [ ${#t} -lt "$2" ]; do t="$t\\abcdefghijklmnopqrstuvwxyz0123456789abcdefghijklmnopqrstuvw"; done
    t=${t:0:$2}
    [ "${t: -1}" = '\' ] && t="${t%?}x"
    printf '%s' "$t"
}
