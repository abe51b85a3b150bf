# Wine set-up shared by the scripts: source it, then call qv_wine_env ARCH
# and qv_wine_prefix. Exports WINEPREFIX, WINEDEBUG, WINELOADER, WINESERVER
# and QV_WINE_LOADER (the command that runs a program of that ARCH).

qv_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$qv_root/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
# No menu entries on the host for the shortcuts that programs make in the
# prefix's Start Menu.
export WINEDLLOVERRIDES="winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"

# Can this kernel run 32-bit x86 code? Wine's 32-bit server tells at once.
# QV_FORCE_QEMU=1 answers no, to try the emulated path on a host that has both.
qv_native_i386() {
    [ -z "${QV_FORCE_QEMU:-}" ] && [ -x /usr/lib/wine/wineserver32 ] &&
        /usr/lib/wine/wineserver32 --version >/dev/null 2>&1
}

qv_wine_env() {
    local arch=$1 bin=$qv_root/build/winebin
    mkdir -p "$bin"
    # Never written through: an earlier run may have left a link to the
    # system's own loader here.
    rm -f "$bin/wine"
    if qv_native_i386; then
        ln -sf /usr/lib/wine/wine "$bin/wine"
    else
        if ! command -v qemu-i386 >/dev/null; then
            echo "wine-env: 32-bit code does not run here and qemu-i386 is missing" >&2
            return 1
        fi
        cat >"$bin/wine" <<'EOS'
#!/bin/sh
# Wine's 32-bit loader through qemu-i386 (no preloader: qemu maps for it).
# QV_WINE_EMULATED tells the tests that this Wine cannot start child
# processes.
WINELOADERNOEXEC=1 QV_WINE_EMULATED=1 exec qemu-i386 /usr/lib/wine/wine "$@"
EOS
        chmod +x "$bin/wine"
    fi
    ln -sf /usr/lib/wine/wine64 "$bin/wine64"
    ln -sf /usr/lib/wine/wineserver64 "$bin/wineserver"
    # Either loader finds the other by adding or removing "64" on this name.
    export WINELOADER=$bin/wine
    export WINESERVER=$bin/wineserver
    case $arch in
        i686 | x86 | win32) QV_WINE_LOADER=$bin/wine ;;
        x86_64 | amd64 | win64) QV_WINE_LOADER=$bin/wine64 ;;
        *) echo "wine-env: unknown architecture $arch" >&2; return 1 ;;
    esac
    export QV_WINE_LOADER
}

# Creates the prefix once. The 32-bit system DLLs go into syswow64 by hand:
# Wine's own set-up does that through a 32-bit helper, which cannot start
# when the 32-bit loader runs under emulation.
qv_wine_prefix() {
    if [ ! -f "$WINEPREFIX/.qv-ready" ]; then
        mkdir -p "$WINEPREFIX"
        "$qv_root/build/winebin/wine64" wineboot -i >"$WINEPREFIX/../wineboot.log" 2>&1 </dev/null
        "$WINESERVER" -w
        local wow=$WINEPREFIX/drive_c/windows/syswow64
        if [ -d /usr/lib/i386-linux-gnu/wine/i386-windows ] && [ -d "$wow" ]; then
            for f in /usr/lib/i386-linux-gnu/wine/i386-windows/*; do
                [ -e "$wow/$(basename "$f")" ] || cp "$f" "$wow/"
            done
        fi
        touch "$WINEPREFIX/.qv-ready"
    fi
    # A persistent server that does not hold anybody's output open.
    "$WINESERVER" -p 60 >/dev/null 2>&1 </dev/null
    return 0
}
