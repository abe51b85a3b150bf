#!/usr/bin/env bash
# Damaged and signed installers: every verdict must be right.
#
#   scripts/sweep.sh [--full] [--no-build]
#
# Builds the shipped installer (scripts/build-installer.sh) and the native
# qvsweep, then
#  - damages single bytes of the installer's archive and of its image, each
#    variant installed into a fresh directory: the identical tree and exit 0,
#    or a failure exit with every present file byte-identical to a clean
#    installation, nothing left behind, no crash, no hang. By default a sample
#    (every 3rd byte of the archive, two masks); --full takes every byte with
#    each single-bit mask and ff, and every 16th byte of the image
#    (QV_SWEEP_VALUES=all: all 255 masks, about an hour);
#  - appends 3000 random signature-shaped certificate tables, each of which
#    must install identically;
#  - signs the installer with osslsigncode under several keys (RSA 2048 and
#    4096, EC P-256, and a second, nested signature) and installs each: the
#    tree must equal the staged product;
#  - checks that qvpack refuses a signed program image as its stub;
#  - cuts the installer and the RSA-signed one short (a download that stopped
#    early) at every 4th byte of the archive and the signature and around
#    every entry boundary: qvinstall test and the installation must refuse
#    each cut, and the target must stay empty.
# One summary line per part; exits 1 when any part fails.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
full=0
build=1
while [ $# -gt 0 ]; do
    case $1 in
        --full) full=1; shift ;;
        --no-build) build=0; shift ;;
        -h | --help) sed -n '2,26p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "sweep: unknown argument $1 (see --help)" >&2; exit 64 ;;
    esac
done
installer=$root/build/quorvanel-setup.exe
stage=$root/build/stage-i686
if [ "$build" = 1 ]; then
    bash scripts/build-installer.sh --arch i686 >build/sweep-build.log 2>&1 ||
        { tail -n 30 build/sweep-build.log; exit 1; }
    cmake --build build/native -j 2 --target qvsweep qvinstall >build/sweep-tools.log 2>&1 ||
        { tail -n 30 build/sweep-tools.log; exit 1; }
fi
qvsweep=$root/build/native/tools/qvsweep
qvinstall=$root/build/native/tools/qvinstall
failed=0
part() {  # part NAME COMMAND...
    local name=$1
    shift
    if "$@"; then echo "sweep $name: ok"; else echo "sweep $name: FAILED"; failed=$((failed + 1)); fi
}

if [ "$full" = 1 ]; then
    part "single-byte damage (full)" "$qvsweep" corrupt "$installer" \
        --values "${QV_SWEEP_VALUES:-01,02,04,08,10,20,40,80,ff}" --image-every 16
else
    part "single-byte damage (sample)" "$qvsweep" corrupt "$installer" --every 3 --values 01,ff --image-every 256
fi
part "random signatures" "$qvsweep" sign "$installer" --count 3000

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
signed_installs() {
    command -v osslsigncode >/dev/null && command -v openssl >/dev/null ||
        { echo "osslsigncode or openssl is missing"; return 1; }
    local key ok=0
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/rsa2048.key" -out "$work/rsa2048.crt" -days 30 \
        -subj "/CN=Quorvanel RSA 2048" 2>/dev/null &&
    openssl req -x509 -newkey rsa:4096 -nodes -keyout "$work/rsa4096.key" -out "$work/rsa4096.crt" -days 30 \
        -subj "/CN=Quorvanel RSA 4096" 2>/dev/null &&
    openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$work/ec256.key" \
        -out "$work/ec256.crt" -days 30 -subj "/CN=Quorvanel EC P-256" 2>/dev/null ||
        { echo "cannot make the test keys"; return 1; }
    for key in rsa2048 rsa4096 ec256 nested; do
        local out=$work/signed-$key.exe
        if [ "$key" = nested ]; then
            osslsigncode sign -certs "$work/rsa2048.crt" -key "$work/rsa2048.key" -in "$installer" \
                -out "$work/once.exe" >/dev/null 2>&1 &&
            osslsigncode sign -nest -h sha256 -certs "$work/ec256.crt" -key "$work/ec256.key" \
                -in "$work/once.exe" -out "$out" >/dev/null 2>&1
        else
            osslsigncode sign -certs "$work/$key.crt" -key "$work/$key.key" -n "ZT Quorvanel Lite" \
                -in "$installer" -out "$out" >/dev/null 2>&1
        fi || { echo "  signing with $key failed"; ok=1; continue; }
        local target=$work/target-$key
        if "$qvinstall" install "$out" "$target" >/dev/null 2>"$work/$key.err" && diff -r "$stage" "$target" >/dev/null; then
            echo "  $key: $(stat -c %s "$out") bytes, installs the identical tree"
        else
            echo "  $key: does not install identically: $(tail -n 1 "$work/$key.err")"
            ok=1
        fi
    done
    cp "$work/signed-rsa2048.exe" "$root/build/quorvanel-setup-signed.exe"
    # A signed program cannot take an archive behind it.
    if "$root/build/native/tools/qvpack" -q --stub "$work/signed-rsa2048.exe" -o "$work/x" product/files \
        >/dev/null 2>&1; then
        echo "  qvpack took a signed stub"
        ok=1
    else
        [ $? -eq 2 ] && [ ! -e "$work/x" ] || { echo "  qvpack refused a signed stub without exit 2"; ok=1; }
    fi
    return $ok
}
part "osslsigncode signatures" signed_installs
# The two cut sweeps run side by side, one a core.
finished() {  # finished PID OUTPUT: the sweep's output and its status
    local rc=0
    wait "$1" || rc=$?
    cat "$2"
    return $rc
}
"$qvsweep" truncate "$installer" >"$work/cut.out" 2>&1 &
cut=$!
if [ -f "$work/signed-rsa2048.exe" ]; then
    "$qvsweep" truncate "$work/signed-rsa2048.exe" >"$work/cut-signed.out" 2>&1 &
    cut_signed=$!
fi
part "cut short" finished "$cut" "$work/cut.out"
if [ -n "${cut_signed:-}" ]; then
    part "cut short, signed" finished "$cut_signed" "$work/cut-signed.out"
else
    part "cut short, signed (no signed installer was made)" false
fi
echo "sweep: $failed parts failed"
[ "$failed" -eq 0 ]
