#!/usr/bin/env bash
# shellcheck source-path=SCRIPTDIR/..
# Installing speed of setup.exe itself under Wine, with the decoder (unpack/)
# compiled at two optimisation levels inside the same program.
#
#   bench/wine-install.sh [--runs N] [--arch i686|x86_64] [--levels "-Os -O2"]
#
# Builds setup.exe once per level (QV_UNPACK_OPT, ui/CMakeLists.txt), packs
# the DLL corpus of bench/run.sh (the first QV_BENCH_DLL_MB, default 64, MB
# of wine32's DLLs in sorted order) behind each at the default level, and
# installs it N times (default 5) per build in a private Xvfb, OK pressed
# with xdotool as a user would, the builds taking turns (ABBA order). Timed
# is the install itself: from OK to the success box (decoding, writing the
# files, registry, program group). The start (process start, the check of
# the whole archive) is printed apart. Every install is compared with the
# corpus. Prints each build's times, best and median, their ratios to the
# first level's, and each setup.exe's size against the 28,672-byte limit.
#
# i686 is the installer we ship; where 32-bit code runs only under qemu
# (scripts/lib/wine-env.sh tells) it is timed under emulation, which tells
# instruction counts more than a real processor would. x86_64 builds the
# same sources and runs at full speed. Slow (minutes): not part of the tests.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1

runs=5
arch=i686
levels="-Os -O2"
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=${2:?--runs needs a number}; shift 2 ;;
        --arch) arch=${2:?--arch needs i686 or x86_64}; shift 2 ;;
        --levels) levels=${2:?--levels needs a list such as "-Os -O2"}; shift 2 ;;
        -h | --help) sed -n '2,21p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "wine-install: unknown argument $1 (see --help)" >&2; exit 2 ;;
    esac
done
case $arch in i686 | x86_64) ;; *) echo "wine-install: unknown architecture $arch" >&2; exit 2 ;; esac
limit_bytes=28672
out=$root/build/wine-bench
mkdir -p "$out"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# --- Builds and installers ---------------------------------------------------
echo "wine-install: building qvpack (native)"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release >"$out/native.configure.log" 2>&1 &&
    cmake --build build/native -j 2 --target qvpack >"$out/native.build.log" 2>&1 ||
    { tail -n 20 "$out/native.build.log" >&2; exit 1; }

source bench/dll-corpus.sh
qv_dll_corpus "$work/corpus" || exit 1
corpus_bytes=$(du -sb "$work/corpus" | cut -f1)
echo "wine-install: corpus $(find "$work/corpus" -type f | wc -l) files, $corpus_bytes bytes"

names=()
declare -A level_of stub_of wall_of cpu_of starts_of
for level in $levels; do
    name=$arch${level#-}
    dir=$out/$name
    echo "wine-install: building setup.exe ($arch, unpack/ at $level)"
    # Configured anew each time: the level is a cache entry.
    cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DQV_TESTS=OFF \
        -DQV_UNPACK_OPT="$level" >"$dir.configure.log" 2>&1 &&
        cmake --build "$dir" -j 2 --target setup >"$dir.build.log" 2>&1 ||
        { tail -n 20 "$dir.build.log" >&2; exit 1; }
    build/native/tools/qvpack -q --stub "$dir/ui/setup.exe" -o "$out/$name-setup.exe" "$work/corpus" ||
        exit 1
    names+=("$name")
    level_of[$name]=$level
    stub_of[$name]=$(stat -c %s "$dir/ui/setup.exe")
done

# --- Wine --------------------------------------------------------------------
source scripts/lib/wine-env.sh
source scripts/lib/xvfb.sh
qv_wine_env x86_64 || exit 1
source scripts/lib/installer-lib.sh
qv_build_probe || exit 1

trap 'qv_end_session; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
qv_start_xvfb || exit 1
qv_private_prefix "$out/prefix" || { echo "wine-install: the Wine prefix could not be made" >&2; exit 1; }
target_dir="$WINEPREFIX/drive_c/Program Files/Quorvanel"
start_limit=60
[ "$arch" = i686 ] && ! qv_native_i386 && start_limit=600
qv_native_i386 || [ "$arch" = x86_64 ] || echo "wine-install: 32-bit code runs under qemu here: timings are emulated"

# Forgets the last install: a new Wine session, no remembered target, no
# installed files, no program group.
reset_state() {
    "$WINESERVER" -k >/dev/null 2>&1
    "$WINESERVER" -w >/dev/null 2>&1
    qv_wine_output reg delete 'HKCU\Software\Quorvanel' /f >/dev/null 2>&1
    chmod -R u+w "$target_dir" 2>/dev/null
    rm -rf "$target_dir"
    local menu
    menu=$(qv_start_menu) && rm -rf "$menu/Quorvanel"
    return 0
}

now() { date +%s%N; }
# Processor time (user and system, in clock ticks) a process has used.
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat" 2>/dev/null; }
tick_hz=$(getconf CLK_TCK)
seconds() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b - a) / 1e9 }'; }

# One install with the installer NAME; sets start, took (wall-clock
# seconds) and cpu (the installer process's processor seconds, which other
# work on a shared machine disturbs far less), or fails with the reason in why.
install_once() {
    local name=$1 t0 t1 t2 c2 box
    reset_state
    t0=$(now)
    qv_start_program "$arch" "$out/$name.log" "$out/$name-setup.exe"
    dialog=$(qv_wait_window "$qv_dialog_title" "$start_limit" "$QV_PROGRAM_PID") ||
        { why="no install dialog (see $out/$name.log)"; return 1; }
    t1=$(now)
    sleep 1.5
    qv_keys_to "$dialog" Return
    t2=$(now) c2=$(ticks "$QV_PROGRAM_PID")
    # The success box, looked for often: its appearance ends the timing.
    local pattern end=$((SECONDS + 3600))
    pattern=$(qv_title_pattern "$qv_box_title")
    while ! box=$(xdotool search --onlyvisible --name "$pattern" 2>/dev/null | head -n 1) || [ -z "$box" ]; do
        kill -0 "$QV_PROGRAM_PID" 2>/dev/null && [ $SECONDS -lt $end ] ||
            { why="no success box (see $out/$name.log)"; return 1; }
        sleep 0.05
    done
    took=$(seconds "$t2" "$(now)")
    cpu=$(awk -v a="$c2" -v b="$(ticks "$QV_PROGRAM_PID")" -v hz="$tick_hz" 'BEGIN { printf "%.2f", (b - a) / hz }')
    start=$(seconds "$t0" "$t1")
    local text
    text=$(qv_control_text "$qv_box_title" "$qv_id_box_text")
    [ "$text" = "$qv_success_text" ] || { why="the box says: $text"; return 1; }
    qv_confirm_box "$qv_box_title" || true
    qv_wait_exit "$QV_PROGRAM_PID" 120 >/dev/null || kill "$QV_PROGRAM_PID" 2>/dev/null
    QV_PROGRAM_PID=
    diff -r -q "$work/corpus" "$target_dir" >"$work/diff" 2>&1 ||
        { why="the installed tree differs from the corpus: $(head -n 3 "$work/diff")"; return 1; }
}

# --- Runs --------------------------------------------------------------------
for run in $(seq 1 "$runs"); do
    order=("${names[@]}")
    # ABBA: every second round the other way round, against drift.
    if [ $((run % 2)) -eq 0 ]; then
        order=()
        for ((i = ${#names[@]} - 1; i >= 0; i--)); do order+=("${names[$i]}"); done
    fi
    for name in "${order[@]}"; do
        why=
        install_once "$name" || { echo "wine-install: round $run, $name: $why" >&2; exit 1; }
        echo "round $run: $name installed in $took s, $cpu s of processor (started in $start s)"
        wall_of[$name]+=" $took"
        cpu_of[$name]+=" $cpu"
        starts_of[$name]+=" $start"
    done
done

# --- Figures -----------------------------------------------------------------
best() { printf '%s\n' "$@" | sort -g | head -n 1; }
median() {
    printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { printf "%.2f", NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
table() {  # table TITLE ARRAY-NAME
    local -n of=$2
    local ref_best ref_median name b m
    echo
    echo "== $1"
    printf '%-10s %-6s %9s %8s %8s %9s %10s  %s\n' build level "stub B" best median "best/1st" "median/1st" all
    # shellcheck disable=SC2086
    ref_best=$(best ${of[${names[0]}]}) ref_median=$(median ${of[${names[0]}]})
    for name in "${names[@]}"; do
        # shellcheck disable=SC2086
        b=$(best ${of[$name]}) m=$(median ${of[$name]})
        printf '%-10s %-6s %9s %8s %8s %9s %10s  %s\n' "$name" "${level_of[$name]}" "${stub_of[$name]}" "$b" "$m" \
            "$(ratio "$b" "$ref_best")" "$(ratio "$m" "$ref_median")" "${of[$name]# }"
    done
}
what="setup.exe ($arch) installing $corpus_bytes bytes, $runs runs per build, from OK to the success box"
table "$what: wall-clock seconds" wall_of
table "$what: processor seconds of the installer process" cpu_of
echo "(ratios: a build's seconds over ${names[0]}'s, measured in this run; below 1 is faster)"
for name in "${names[@]}"; do
    stub=${stub_of[$name]}
    if [ "$stub" -le "$limit_bytes" ]; then fits="fits"; else fits="over by $((stub - limit_bytes))"; fi
    # shellcheck disable=SC2086
    echo "setup.exe $name: $stub bytes of at most $limit_bytes ($fits); start (process, archive check) median $(median ${starts_of[$name]}) s"
done
