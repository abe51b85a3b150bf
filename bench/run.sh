#!/bin/sh
# Packer and decoder benchmarks, measured side by side in one run.
#
#   bench/run.sh [BUILD_DIR]
#
# Builds qvpack, qvbench and qvinstall (Release) and prints, for each corpus,
# packed size, CPU seconds and peak memory of every level against gzip -9,
# xz -9 and zstd -19 on a tar of the same tree (one thread each), with the
# ratios to gzip -9 and zstd -19 (qvpack with -T1); then level 5 on one
# thread and on every core against zstd -19 -T0 (size, wall and CPU seconds,
# peak memory) with whether the two archives are the same bytes, and what
# every core gains levels 1-3 in wall time; decoding speed of the installer's decoder
# against zlib's inflate and libdeflate (MB/s of output, best of five),
# decoding peak memory above the process baseline, and installing speed
# (decode, write the files, their times and attributes) of qvinstall against
# tar -xzf of the same files (wall clock, best of five, tar with its gzip).
# Last, the size of the 32-bit installer program when its build is there
# (build/win-i686, or QV_STUB_BUILD).
#
# Corpora, from Debian packages: the 32-bit Windows DLLs of wine32 and the
# C++ headers of g++ 12. QV_BENCH_DLL_MB (default 64) caps the DLL corpus to
# the first files in sorted order; 0 takes all of them (about 550 MB, slow).
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}
hdr_dir=/usr/include/c++/12
. "$here/bench/dll-corpus.sh"

for tool in gzip xz zstd tar; do
    command -v $tool >/dev/null || { echo "bench: $tool is missing" >&2; exit 2; }
done
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
make -C "$build" -j2 qvpack qvbench qvinstall >/dev/null
qvpack=$build/tools/qvpack
qvbench=$build/bench/qvbench
qvinstall=$build/tools/qvinstall

cores=$(nproc)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT INT TERM

# Runs a command, its output discarded; sets t (CPU seconds, user + system),
# kb (peak resident memory in KB) and wall (wall-clock seconds).
measure() {
    /usr/bin/time -f '%U %S %M %e' -o "$work/time" "$@" >/dev/null 2>&1
    t=$(awk '{ printf "%.2f", $1 + $2 }' "$work/time")
    kb=$(awk '{ print $3 }' "$work/time")
    wall=$(awk '{ print $4 }' "$work/time")
}
size() { wc -c <"$1" | tr -d ' '; }
# Best wall-clock seconds of five runs of a command that installs into
# $work/into, which starts empty each time.
best_install() {
    best=
    for run in 1 2 3 4 5; do
        rm -rf "$work/into" && mkdir "$work/into"
        t0=$(date +%s%N)
        "$@" >/dev/null 2>&1
        t1=$(date +%s%N)
        t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
        best=$(awk -v a="$t" -v b="${best:-1e9}" 'BEGIN { print (a < b) ? a : b }')
    done
    rm -rf "$work/into"
    echo "$best"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }

bench_corpus() {
    name=$1 tree=$2
    tar cf "$work/$name.tar" -C "$tree" .
    raw=$(size "$work/$name.tar")
    echo
    echo "== $name: $(find "$tree" -type f | wc -l) files, $raw bytes as tar"
    printf '%-10s %12s %8s %8s %9s %9s %9s\n' packer bytes "/gzip-9" "/zstd-19" "CPU s" "speed/z19" "peak KB"
    # The references, one thread each, on the tar.
    measure sh -c "gzip -9 -c '$work/$name.tar' >'$work/$name.gz'"
    gz=$(size "$work/$name.gz") gz_t=$t gz_kb=$kb
    measure sh -c "xz -9 -T1 -c '$work/$name.tar' >'$work/$name.xz'"
    xz=$(size "$work/$name.xz") xz_t=$t xz_kb=$kb
    measure sh -c "zstd -q -19 -T1 -c '$work/$name.tar' >'$work/$name.zst'"
    zs=$(size "$work/$name.zst") zs_t=$t zs_kb=$kb
    row() {
        printf '%-10s %12s %8s %8s %9s %9s %9s\n' "$1" "$2" "$(ratio "$2" "$gz")" "$(ratio "$2" "$zs")" "$3" \
            "$(ratio "$zs_t" "$3")" "$4"
    }
    row "gzip -9" "$gz" "$gz_t" "$gz_kb"
    row "xz -9" "$xz" "$xz_t" "$xz_kb"
    row "zstd -19" "$zs" "$zs_t" "$zs_kb"
    for l in 1 2 3 4 5; do
        measure "$qvpack" -$l -T1 -q --no-verify --archive-only -o "$work/$name.$l.rar" "$tree"
        eval "cpu_$l=$t"
        row "qvpack -$l" "$(size "$work/$name.$l.rar")" "$t" "$kb"
    done
    echo "(speed/z19: zstd -19's CPU seconds over the row's; sizes and speeds are ratios from this run)"
    echo "packing speed, default level (-3) vs gzip -9: $(ratio "$gz_t" "$cpu_3")x;" \
        "best level (-5) vs zstd -19: $(ratio "$zs_t" "$cpu_5")x"
    # Every core: level 5 against zstd -19 with as many threads.
    echo
    printf '%-14s %12s %8s %8s %9s %9s\n' "all $cores cores" bytes "wall s" "CPU s" "peak KB" "wall/z19T0"
    measure sh -c "zstd -q -19 -T0 -c '$work/$name.tar' >'$work/$name.t0.zst'"
    zw=$wall
    wrow() { printf '%-14s %12s %8s %8s %9s %9s\n' "$1" "$2" "$wall" "$t" "$kb" "$(ratio "$zw" "$wall")"; }
    wrow "zstd -19 -T0" "$(size "$work/$name.t0.zst")"
    for n in 1 $cores; do
        measure "$qvpack" -5 -T$n -q --no-verify --archive-only -o "$work/$name.5.T$n.rar" "$tree"
        wrow "qvpack -5 -T$n" "$(size "$work/$name.5.T$n.rar")"
    done
    if cmp -s "$work/$name.5.T1.rar" "$work/$name.5.T$cores.rar"; then same=identical; else same=DIFFERENT; fi
    echo "(wall/z19T0: zstd -19 -T0's wall seconds over the row's; -5 -T$cores against -T1: $same bytes)"
    for l in 1 2 3; do
        measure "$qvpack" -$l -T$cores -q --no-verify --archive-only -o "$work/$name.$l.all.rar" "$tree"
        eval "all_$l=$wall"
        measure "$qvpack" -$l -T1 -q --no-verify --archive-only -o "$work/$name.$l.one.rar" "$tree"
        echo "level $l on $cores threads: $(ratio "$wall" "$(eval echo \$all_$l)")x the wall speed of one"
    done
    "$qvbench" speed "$work/$name.3.rar" "$work/$name.tar" >"$work/speed"
    ours=$(awk '/ours_mbs/ { print $2 }' "$work/speed")
    zl=$(awk '/zlib_mbs/ { print $2 }' "$work/speed")
    ld=$(awk '/libdeflate_mbs/ { print $2 }' "$work/speed")
    echo "decoding MB/s: ours $ours, zlib inflate $zl, libdeflate $ld;" \
        "ours vs zlib $(ratio "$ours" "$zl")x, vs libdeflate $(ratio "$ours" "$ld")x"
    share=$(awk '/check_share/ { printf "%.1f", $2 * 100 }' "$work/speed")
    echo "check before writing (headers and CRC-32 of the whole archive): ${share:-?}% of decoding time"
    echo "decoding peak memory above baseline: $("$qvbench" memory "$work/$name.3.rar" | awk '{ print $2 }') KB"
    qi=$(best_install "$qvinstall" install "$work/$name.3.rar" "$work/into")
    ti=$(best_install tar -xzf "$work/$name.gz" -C "$work/into")
    mb=$(awk -v r="$raw" 'BEGIN { printf "%.4f", r / 1e6 }')
    echo "installing MB/s: qvinstall $(awk -v m="$mb" -v t="$qi" 'BEGIN { printf "%.1f", m / t }')," \
        "tar -xzf $(awk -v m="$mb" -v t="$ti" 'BEGIN { printf "%.1f", m / t }');" \
        "qvinstall vs tar $(ratio "$ti" "$qi")x"
}

qv_dll_corpus "$work/dlls"
bench_corpus wine-dlls "$work/dlls"
bench_corpus cxx-headers "$hdr_dir"

stub=${QV_STUB_BUILD:-$here/build/win-i686}/ui/setup.exe
echo
if [ -f "$stub" ]; then
    echo "installer program (i686 setup.exe, before the archive): $(size "$stub") bytes"
else
    echo "installer program: not built ($stub)"
fi
