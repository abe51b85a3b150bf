#!/usr/bin/env bash
# The whole test suite: installs what is needed, builds the native and both
# Windows targets, and runs every test (unit tests natively, with sanitizers
# and fuzzers, under Wine for 64-bit and 32-bit Windows, and end to end).
# Exits non-zero when any stage fails.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=$(nproc 2>/dev/null || echo 2)
passed=0
failed=0
failures=()

# Runs a stage's script with bash, so that a lost execute bit does not skip
# it; a missing script fails the stage.
run_script() {
    local script=$1
    shift
    [ -f "$script" ] || { echo "$script is missing"; return 1; }
    bash "$script" "$@"
}

stage() {
    local name=$1
    shift
    local start=$SECONDS
    echo "=== $name"
    if "$@"; then
        passed=$((passed + 1))
        echo "=== $name: ok ($((SECONDS - start)) s)"
    else
        failed=$((failed + 1))
        failures+=("$name")
        echo "=== $name: FAILED ($((SECONDS - start)) s)"
    fi
}

build() {  # build DIR [cmake options...]
    local dir=$1
    shift
    cmake -S . -B "$dir" "$@" >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; return 1; }
    cmake --build "$dir" -j "$jobs" >"$dir.build.log" 2>&1 || { tail -n 60 "$dir.build.log"; return 1; }
}

native() {
    build build/native -DCMAKE_BUILD_TYPE=Release &&
        ctest --test-dir build/native -j "$jobs" --output-on-failure
}

sanitized() {
    build build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DQV_SANITIZE=ON -DQV_FUZZ=ON &&
        ctest --test-dir build/sanitize -j "$jobs" --output-on-failure || return 1
    run_script scripts/fuzz.sh build/sanitize
}

# Each Windows run starts with a fresh Wine server, so that nothing left by an
# earlier stage (a desktop on another display, a hung process) is inherited.
# Where 32-bit Wine runs under qemu, it now and then hangs: a run that does
# not finish within its time limit is retried once, and says so.
wine_reset() {
    [ -x build/winebin/wineserver ] && build/winebin/wineserver -k >/dev/null 2>&1
    return 0
}

windows() {  # windows ARCH
    build "build/win-$1" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$1.cmake" || return 1
    wine_reset
    QV_WINE_TIMEOUT=420 ctest --test-dir "build/win-$1" --output-on-failure --timeout 480 && return 0
    [ "$1" = i686 ] && ! qv_native_i386 || return 1
    echo "32-bit Wine runs under emulation here: retrying once"
    wine_reset
    QV_WINE_TIMEOUT=420 ctest --test-dir "build/win-$1" --output-on-failure --timeout 480
}

end_to_end() {
    run_script scripts/e2e.sh
}

stage "install dependencies" run_script scripts/deps.sh || true
mkdir -p build
# shellcheck source=lib/xvfb.sh
source scripts/lib/xvfb.sh
# shellcheck source=lib/wine-env.sh
source scripts/lib/wine-env.sh
cleanup() {
    [ -n "${WINESERVER:-}" ] && "$WINESERVER" -k >/dev/null 2>&1
    qv_stop_xvfb
}
trap cleanup EXIT
stage "X server" qv_start_xvfb

stage "native build and unit tests" native
stage "faults of the field" run_script scripts/faults.sh
stage "sanitizer build, unit tests and fuzzing" sanitized
stage "64-bit Windows build, tests under Wine" windows x86_64
stage "32-bit Windows build, tests under Wine" windows i686
stage "end-to-end runs of the installer" end_to_end
stage "damaged and signed installers" run_script scripts/sweep.sh

echo
if [ "$failed" -gt 0 ]; then
    echo "failed stages: ${failures[*]}"
fi
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
