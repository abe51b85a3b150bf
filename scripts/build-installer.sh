#!/usr/bin/env bash
# Builds the single-file installer: qvpack natively, setup.exe and QRVNL.EXE
# for Windows, then packs a staging copy of the product behind setup.exe.
#
#   build-installer.sh [--arch i686|x86_64] [-o OUT]
#
# i686 (the default) is the installer we ship, build/quorvanel-setup.exe;
# x86_64 builds the same sources for fast tests under 64-bit Wine,
# build/quorvanel-setup-x86_64.exe. The staged product, which the installed
# tree must equal, stays in build/stage-ARCH.
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

arch=i686
out=
while [ $# -gt 0 ]; do
    case $1 in
        --arch) arch=${2:?--arch needs i686 or x86_64}; shift 2 ;;
        -o) out=${2:?-o needs a file name}; shift 2 ;;
        -h | --help) sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "build-installer: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
case $arch in
    i686) out=${out:-build/quorvanel-setup.exe} ;;
    x86_64) out=${out:-build/quorvanel-setup-x86_64.exe} ;;
    *) echo "build-installer: unknown architecture $arch" >&2; exit 2 ;;
esac
jobs=2
mkdir -p build

configure() {  # configure DIR [cmake options...]
    local dir=$1
    shift
    [ -f "$dir/CMakeCache.txt" ] && return 0
    cmake -S . -B "$dir" "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log" >&2; return 1; }
}

compile() {  # compile DIR TARGET...
    local dir=$1
    shift
    cmake --build "$dir" -j "$jobs" --target "$@" >"$dir.installer-build.log" 2>&1 ||
        { tail -n 40 "$dir.installer-build.log" >&2; return 1; }
}

echo "build-installer: building qvpack and qvinstall (native)"
configure build/native -DCMAKE_BUILD_TYPE=Release
compile build/native qvpack qvinstall
echo "build-installer: building setup.exe and QRVNL.EXE ($arch)"
win=build/win-$arch
configure "$win" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake"
compile "$win" setup qrvnl

# The installer must run on a bare system, Windows 95 included: it may import
# nothing but the system's own DLLs, and no C runtime (the Windows builds'
# tests audit every imported function).
objdump=$arch-w64-mingw32-objdump
if command -v "$objdump" >/dev/null; then
    foreign=$("$objdump" -p "$win/ui/setup.exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
        grep -viE '^(kernel32|user32|gdi32|advapi32)\.dll$' || true)
    if [ -n "$foreign" ]; then
        echo "build-installer: setup.exe needs DLLs that a bare system lacks: $foreign" >&2
        exit 1
    fi
fi

# The staging copy: the product's files, the program just built, every file
# with its own fixed release time (even seconds, as the archive stores them)
# and the licence read-only, so that times and attributes travel too.
stage=build/stage-$arch
rm -rf "$stage"
mkdir -p "$stage"
cp -R product/files/. "$stage/"
cp "$win/product/QRVNL.EXE" "$stage/QRVNL.EXE"
release=$(date -d '1999-11-19 02:21:00' +%s)
i=0
while IFS= read -r name; do
    name=${name%$'\r'}
    [ -n "$name" ] || continue
    if [ ! -f "$stage/$name" ]; then
        echo "build-installer: $name is listed in product/files.lst but missing" >&2
        exit 1
    fi
    touch -d "@$((release + 62 * i))" "$stage/$name"
    i=$((i + 1))
done <product/files.lst
listed=$i
present=$(find "$stage" -type f | wc -l)
if [ "$listed" -ne "$present" ]; then
    echo "build-installer: product/files.lst names $listed files, the product has $present" >&2
    exit 1
fi
chmod a-w "$stage/LICENSE.TXT"

echo "build-installer: packing $listed files"
rm -f "$out"
build/native/tools/qvpack --stub "$win/ui/setup.exe" --list product/files.lst -o "$out" "$stage"
echo "build-installer: setup.exe $(stat -c %s "$win/ui/setup.exe") bytes," \
    "installer $out $(stat -c %s "$out") bytes"
