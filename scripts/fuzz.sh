#!/usr/bin/env bash
# Runs the fuzz targets of a build, starting from the kept corpus
# (fuzz/corpus/TARGET) and the generated seeds, and fails when a target
# finds a crash, a sanitizer report, a leak or a hang.
#
#   scripts/fuzz.sh [--seconds N] [--jobs N] [--keep] BUILD_DIR [TARGET...]
#
#   --seconds N   time per target (default QV_FUZZ_SECONDS or 60)
#   --jobs N      parallel fuzzing processes per target (default 1); a
#                 campaign on this 2-core machine: --jobs 2 --seconds 1800
#   --keep        afterwards merge what the run found into fuzz/corpus/TARGET
#                 (minimised: only inputs that add coverage), and copy crash
#                 inputs into fuzz/regressions/TARGET, where the unit tests
#                 replay them
# TARGET is install, walk, decode, packlist or roundtrip (default: all).
#
# The build must be configured with clang and -DQV_FUZZ=ON (and
# -DQV_SANITIZE=ON for the address and undefined-behaviour checks).
# Crashing inputs are kept in BUILD_DIR/fuzz-run/artifacts/. Prints one line
# per target: runs, exec/s, coverage, corpus size.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${QV_FUZZ_SECONDS:-60}
jobs=1
keep=0
while [ $# -gt 0 ]; do
    case $1 in
        --seconds) seconds=${2:?--seconds needs a number}; shift 2 ;;
        --jobs) jobs=${2:?--jobs needs a number}; shift 2 ;;
        --keep) keep=1; shift ;;
        -h | --help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        -*) echo "fuzz.sh: unknown option $1 (see --help)" >&2; exit 64 ;;
        *) break ;;
    esac
done
build=${1:?usage: fuzz.sh [--seconds N] [--jobs N] [--keep] BUILD_DIR [TARGET...]}
shift
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(install walk decode packlist roundtrip)
bin=$build/fuzz

for t in "${targets[@]}" seeds; do
    if [ ! -x "$bin/fuzz_$t" ]; then
        echo "fuzz.sh: $bin/fuzz_$t is missing (configure with clang and -DQV_FUZZ=ON)" >&2
        exit 2
    fi
done

work=$build/fuzz-run
rm -rf "$work"
mkdir -p "$work/artifacts"
"$bin/fuzz_seeds" "$work/seeds" || { echo "fuzz.sh: cannot write the seed corpus" >&2; exit 2; }

failed=0
for t in "${targets[@]}"; do
    corpus=$work/corpus-$t
    mkdir -p "$corpus"
    cp "$work/seeds/$t"/* "$corpus/" 2>/dev/null
    cp "$root/fuzz/corpus/$t"/* "$corpus/" 2>/dev/null
    cp "$root/fuzz/regressions/$t"/* "$corpus/" 2>/dev/null
    log=$work/$t.log
    max_len=65536
    [ "$t" = roundtrip ] && max_len=16384  # the best levels take long on large inputs
    opts=(-max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 -max_len="$max_len"
          -print_final_stats=1 -artifact_prefix="$work/artifacts/$t-")
    if [ "$jobs" -gt 1 ]; then
        # Workers share the corpus directory; their logs go to fuzz-N.log.
        (cd "$work" && "$bin/fuzz_$t" "$corpus" "${opts[@]}" -jobs="$jobs" -workers="$jobs" \
            >"$log" 2>&1)
        rc=$?
        cat "$work"/fuzz-*.log >>"$log" 2>/dev/null
        rm -f "$work"/fuzz-*.log
    else
        "$bin/fuzz_$t" "$corpus" "${opts[@]}" >"$log" 2>&1
        rc=$?
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | awk '{ s += $1 } END { print s + 0 }')
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | awk '{ s += $1 } END { print s + 0 }')
    cov=$(grep -o 'cov: [0-9]*' "$log" | awk '{ if ($2 > m) m = $2 } END { print m + 0 }')
    found=$(ls "$work/artifacts" | grep -c "^$t-")
    if [ "$rc" -eq 0 ] && [ "$found" -eq 0 ]; then
        echo "fuzz $t: ok, $runs runs in $seconds s ($jobs jobs), $speed exec/s, cov: $cov, corpus $(ls "$corpus" | wc -l) inputs"
    else
        failed=$((failed + 1))
        echo "fuzz $t: FAILED (exit $rc, $found inputs found); inputs in $work/artifacts/"
        grep -E 'ERROR|SUMMARY|runtime error|Test unit written|timeout' "$log" | head -n 20
        tail -n 40 "$log"
    fi
    if [ "$keep" = 1 ]; then
        kept=$root/fuzz/corpus/$t
        mkdir -p "$kept" "$work/merged-$t"
        "$bin/fuzz_$t" -merge=1 -max_len="$max_len" "$work/merged-$t" "$kept" "$corpus" >"$work/merge-$t.log" 2>&1
        rm -f "$kept"/*
        cp "$work/merged-$t"/* "$kept/" 2>/dev/null
        for a in "$work/artifacts/$t-"*; do
            [ -e "$a" ] || continue
            mkdir -p "$root/fuzz/regressions/$t"
            cp "$a" "$root/fuzz/regressions/$t/$(basename "$a" | sed "s/^$t-//")"
        done
        echo "fuzz $t: kept $(ls "$kept" | wc -l) corpus inputs ($(cat "$kept"/* 2>/dev/null | wc -c) bytes)"
    fi
done
echo "fuzz targets: $((${#targets[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
