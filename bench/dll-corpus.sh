# shellcheck shell=sh
# The DLL corpus of the benchmarks, for bench/run.sh and bench/wine-install.sh
# to source: qv_dll_corpus DIR copies wine32's 32-bit Windows DLLs into DIR,
# in sorted order, up to QV_BENCH_DLL_MB (default 64) MB; 0 takes all of
# them (about 550 MB).
qv_dll_corpus() {
    mkdir -p "$1" || return 1
    ls /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll | LC_ALL=C sort | {
        cap_mb=${QV_BENCH_DLL_MB:-64}
        total=0
        while read -r f; do
            s=$(wc -c <"$f")
            if [ "$cap_mb" -gt 0 ] && [ $((total + s)) -gt $((cap_mb * 1048576)) ]; then break; fi
            cp "$f" "$1/" || return 1
            total=$((total + s))
        done
    }
}
