#!/usr/bin/env bash
# Runs every fuzz target of a build for QV_FUZZ_SECONDS seconds each
# (default 60), starting from the generated seed corpus, and fails when a
# target finds a crash, a sanitizer report, a leak or a hang.
#
#   scripts/fuzz.sh BUILD_DIR
#
# The build must be configured with clang and -DQV_FUZZ=ON (and
# -DQV_SANITIZE=ON for the address and undefined-behaviour checks).
# Crashing inputs are kept in BUILD_DIR/fuzz-run/artifacts/.
set -u
build=${1:?usage: fuzz.sh BUILD_DIR}
seconds=${QV_FUZZ_SECONDS:-60}
bin=$build/fuzz
targets=(install walk decode)

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
    cp "$work/seeds/$t"/* "$corpus/"
    log=$work/$t.log
    "$bin/fuzz_$t" "$corpus" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2560 \
        -max_len=65536 -print_final_stats=1 -artifact_prefix="$work/artifacts/$t-" \
        >"$log" 2>&1
    rc=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
    if [ "$rc" -eq 0 ]; then
        echo "fuzz $t: ok, ${runs:-?} runs in ${seconds} s, ${speed:-?} exec/s, ${cov:-cov: ?}"
    else
        failed=$((failed + 1))
        echo "fuzz $t: FAILED (exit $rc); inputs in $work/artifacts/"
        grep -E 'ERROR|SUMMARY|runtime error|Test unit written|timeout' "$log" | head -n 20
        tail -n 40 "$log"
    fi
done
echo "fuzz targets: $((${#targets[@]} - failed)) passed, $failed failed"
[ "$failed" -eq 0 ]
