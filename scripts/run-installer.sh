#!/usr/bin/env bash
# Builds the installer and runs it under Wine.
#
#   run-installer.sh [--arch i686|x86_64] [--headless] [--no-build]
#
# With a usable DISPLAY the installer opens there and you drive it yourself;
# otherwise (or with --headless) it runs in a private Xvfb and OK is pressed
# for you. Afterwards the script prints what was installed where (the
# target remembered in the registry, its files, the Start Menu group) and
# the paths of the screenshots. The Wine prefix is build/run/prefix; delete
# it to start from a fresh machine.
# i686, the installer we ship, is the default; where 32-bit code runs only
# under emulation its start takes about a minute. x86_64 runs the same
# sources at full speed everywhere.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

arch=i686
headless=0
build=1
while [ $# -gt 0 ]; do
    case $1 in
        --arch) arch=${2:?--arch needs i686 or x86_64}; shift 2 ;;
        --headless) headless=1; shift ;;
        --no-build) build=0; shift ;;
        -h | --help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "run-installer: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
case $arch in
    i686) installer=$root/build/quorvanel-setup.exe ;;
    x86_64) installer=$root/build/quorvanel-setup-x86_64.exe ;;
    *) echo "run-installer: unknown architecture $arch" >&2; exit 2 ;;
esac

if [ "$build" = 1 ]; then
    bash scripts/build-installer.sh --arch "$arch" || exit 1
fi
[ -f "$installer" ] || { echo "run-installer: $installer is missing" >&2; exit 1; }

out=$root/build/run
mkdir -p "$out"
rm -f "$out"/*.png

# shellcheck source=lib/wine-env.sh
source scripts/lib/wine-env.sh
# shellcheck source=lib/xvfb.sh
source scripts/lib/xvfb.sh
qv_wine_env x86_64 || exit 1
# shellcheck source=lib/installer-lib.sh
source scripts/lib/installer-lib.sh
qv_build_probe || exit 1

trap qv_end_session EXIT

if [ "$headless" = 0 ] && [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
    mode=window
    echo "run-installer: the installer opens on display $DISPLAY"
else
    mode=headless
    qv_start_xvfb || exit 1
    echo "run-installer: running headless on X display $DISPLAY, OK is pressed for you"
fi
# A window manager on the user's display draws the frames; Xvfb has none,
# so there Wine draws them itself.
qv_private_prefix "$out/prefix" $([ "$mode" = window ] && echo decorated) ||
    { echo "run-installer: the Wine prefix could not be made" >&2; exit 1; }

if [ "$arch" = i686 ] && ! qv_native_i386; then
    echo "run-installer: starting the 32-bit installer (about a minute: 32-bit code runs under emulation here)"
fi
qv_start_program "$arch" "$out/installer.log" "$installer"
if ! dialog=$(qv_wait_window "$qv_dialog_title" 400 "$QV_PROGRAM_PID"); then
    echo "run-installer: the install dialog did not appear (see $out/installer.log)" >&2
    exit 1
fi
sleep 1.5
shots=()
if [ "$mode" = headless ]; then
    qv_screenshot "$out/backdrop-dialog.png" && shots+=("$out/backdrop-dialog.png")
    echo "run-installer: dialog proposes $(qv_control_text "$qv_dialog_title" "$qv_id_target"); pressing OK"
    qv_keys_to "$dialog" Return
    if qv_wait_window "$qv_box_title" 300 "$QV_PROGRAM_PID" >/dev/null; then
        sleep 1
        qv_screenshot "$out/success.png" && shots+=("$out/success.png")
        echo "run-installer: $(qv_box_text "$qv_box_title")"
        qv_confirm_box "$qv_box_title"
    else
        echo "run-installer: no success message; the dialog shows:" >&2
        qv_probe_window "$qv_dialog_title" | cut -f2- >&2
        qv_screenshot "$out/failure.png" && shots+=("$out/failure.png")
        exit 1
    fi
    qv_wait_exit "$QV_PROGRAM_PID" 60 >"$out/exit-code" || true
else
    import -window "$dialog" "$out/dialog.png" 2>/dev/null && shots+=("$out/dialog.png")
    echo "run-installer: waiting for you to finish the installer"
    qv_wait_exit "$QV_PROGRAM_PID" 86400 >"$out/exit-code" || true
fi
echo "run-installer: the installer ended with exit code $(cat "$out/exit-code")"
QV_PROGRAM_PID=

# What was installed where.
if target=$(qv_registry_dir) && [ -n "$target" ]; then
    dir=$(qv_unix_path "$target")
    echo "installed to $target (registry HKCU\\Software\\Quorvanel Dir), on this machine $dir:"
    if [ -d "$dir" ]; then
        (cd "$dir" && find . -type f -printf '%TY-%Tm-%Td %TH:%TM  %8s  %M  %P\n' | sort -k5)
        echo "$(find "$dir" -type f | wc -l) files"
    else
        echo "  (the directory does not exist)"
    fi
else
    echo "nothing installed: no target in the registry"
fi
if menu=$(qv_start_menu) && [ -d "$menu/Quorvanel" ]; then
    echo "Start Menu group: $menu/Quorvanel"
    find "$menu/Quorvanel" -type f -printf '  %P\n'
fi
if [ ${#shots[@]} -gt 0 ]; then
    echo "screenshots:"
    printf '  %s\n' "${shots[@]}"
fi
