#!/usr/bin/env bash
# Faults an installation meets in the field, with the native qvinstall:
#
#   scripts/faults.sh [--no-build]
#
# The installer under test packs product/files with an 8 MB file of random
# bytes (DATA.PAK) in the middle of the order, at level 1, as a bare archive.
#  - disk full: a fresh installation onto a file system too small for
#    DATA.PAK fails with result 1, names the system's reason ("No space left
#    on device") and leaves no temporary file (~qv*.tmp);
#  - a reinstallation over a complete earlier one, where the new DATA.PAK no
#    longer fits beside the old: result 1, every earlier file intact byte for
#    byte, no temporary file; with the space freed, the same run succeeds;
#  - qvinstall killed (SIGKILL) in the middle of DATA.PAK, twice, then run
#    again: success, every file right, no temporary file left behind;
#  - a read-only target directory (root's permission override taken away
#    with setpriv): result 1 with the system's reason, nothing lost.
# Needs root for the tmpfs mounts and setpriv; skips, saying so, otherwise.
# One line per check; exits 1 when any fails.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
build=1
while [ $# -gt 0 ]; do
    case $1 in
        --no-build) build=0; shift ;;
        -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "faults: unknown argument $1 (see --help)" >&2; exit 64 ;;
    esac
done
if [ "$(id -u)" -ne 0 ]; then
    echo "faults: skipped: these checks mount file systems and drop root's permission override; run as root"
    exit 0
fi
for tool in mount umount setpriv openssl; do
    command -v "$tool" >/dev/null || { echo "faults: $tool is missing"; exit 1; }
done
if [ "$build" = 1 ]; then
    mkdir -p build
    { [ -f build/native/CMakeCache.txt ] || cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Release; } \
        >build/faults-build.log 2>&1 &&
        cmake --build build/native -j 2 --target qvpack qvinstall >>build/faults-build.log 2>&1 ||
        { tail -n 30 build/faults-build.log; exit 1; }
fi
qvpack=$root/build/native/tools/qvpack
qvinstall=$root/build/native/tools/qvinstall

work=$(mktemp -d)
mounts=()
cleanup() {
    local m
    for m in "${mounts[@]}"; do umount "$m" 2>/dev/null || umount -l "$m"; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM  # so that the mounts go on these too
mount_tmpfs() {  # mount_tmpfs DIR SIZE
    mkdir -p "$1" && mount -t tmpfs -o "size=$2" tmpfs "$1" && mounts+=("$1")
}

# The product and its installer.
product=$work/product
archive=$work/quorvanel.rar
big=8000000
cp -r product/files "$product"
openssl enc -aes-128-ctr -nosalt -K 51756f7276616e656c206661756c7473 -iv 0 -in /dev/zero 2>/dev/null |
    head -c "$big" >"$product/DATA.PAK"
half=$(($(wc -l <product/files.lst) / 2))
{ head -n "$half" product/files.lst; echo DATA.PAK; tail -n "+$((half + 1))" product/files.lst; } |
    while read -r name; do [ -f "$product/$name" ] && echo "$name"; done >"$work/files.lst"
"$qvpack" -1 -q --archive-only --list "$work/files.lst" -o "$archive" "$product" ||
    { echo "faults: cannot pack the test installer"; exit 1; }

failed=0
check() {  # check NAME FUNCTION
    local name=$1
    shift
    if "$@"; then echo "faults $name: ok"; else echo "faults $name: FAILED"; failed=$((failed + 1)); fi
}

temps() { find "$1" -name '~qv*.tmp' 2>/dev/null; }

# install TARGET [PREFIX...]: runs qvinstall; its status in $rc, its errors
# in $work/err.
install() {
    local target=$1
    shift
    rc=0
    "$@" "$qvinstall" install "$archive" "$target" >/dev/null 2>"$work/err" || rc=$?
}

# expect_failure REASON TARGET: the run just made failed with result 1,
# naming REASON, and left no temporary file below TARGET.
expect_failure() {
    local ok=0
    [ "$rc" -eq 1 ] || { echo "  result $rc instead of 1: $(tail -n 1 "$work/err")"; ok=1; }
    grep -q "$1" "$work/err" || { echo "  the errors do not name \"$1\": $(head -n 1 "$work/err")"; ok=1; }
    [ -z "$(temps "$2")" ] || { echo "  temporary files left: $(temps "$2" | tr '\n' ' ')"; ok=1; }
    return $ok
}

# expect_product TARGET WHAT: TARGET holds exactly the product's files.
expect_product() {
    diff -r "$product" "$1" >"$work/diff" 2>&1 && return 0
    echo "  $2: $(head -n 3 "$work/diff" | tr '\n' ' ')"
    return 1
}

disk_full() {
    mount_tmpfs "$work/full" 4m || return 1
    install "$work/full/Quorvanel"
    expect_failure "No space left on device" "$work/full"
}

reinstall_no_room() {
    # The earlier installation fits with 4 MB to spare; the new DATA.PAK,
    # written beside the old before it replaces it, does not.
    local dir=$work/tight target=$work/tight/Quorvanel ok=0
    mount_tmpfs "$dir" 12m || return 1
    install "$target"
    [ "$rc" -eq 0 ] || { echo "  the earlier installation failed ($rc): $(tail -n 1 "$work/err")"; return 1; }
    install "$target"
    expect_failure "No space left on device" "$dir" || ok=1
    expect_product "$target" "earlier files changed or lost" || ok=1
    mount -o remount,size=32m "$dir" || return 1
    install "$target"
    [ "$rc" -eq 0 ] || { echo "  with room again: result $rc: $(tail -n 1 "$work/err")"; ok=1; }
    expect_product "$target" "with room again, not the product" || ok=1
    [ -z "$(temps "$dir")" ] || { echo "  with room again, temporary files left"; ok=1; }
    return $ok
}

# Starts an installation into $1 and kills it once a temporary file newer
# than the start holds more than 64 KB; true when the kill left DATA.PAK
# half written (a temporary file larger than any other product file). The
# installer is held (SIGSTOP) while the watcher looks and let go for a
# moment between looks, so that it cannot write the whole file between two
# looks however the scheduler runs them: a free-running watcher missed all
# 40 tries in the full test run, and nice did not help.
kill_midway() {
    local target=$1 pid caught='' f size
    touch "$work/start"
    "$qvinstall" install "$archive" "$target" >/dev/null 2>&1 &
    pid=$!
    while kill -STOP "$pid" 2>/dev/null; do
        for f in "$target"/~qv*.tmp; do
            size=$(stat -c %s "$f" 2>/dev/null) || continue
            if [ "$size" -gt 65536 ] && [ "$f" -nt "$work/start" ]; then
                kill -KILL "$pid" 2>/dev/null
                caught=$f
                break
            fi
        done
        [ -n "$caught" ] && break
        kill -CONT "$pid" 2>/dev/null
        sleep 0.002
    done
    { wait "$pid"; } 2>/dev/null
    size=$(stat -c %s "$caught" 2>/dev/null) || return 1
    [ "$size" -gt 65536 ] && [ "$size" -lt "$big" ]
}

killed_twice() {
    local dir=$work/kill target=$work/kill/Quorvanel attempts=0 kills=0 ok=0
    mount_tmpfs "$dir" 64m || return 1
    # A kill that comes too early or too late (the scheduler decides) does
    # not count; after a run that finished, the installation starts over.
    while [ "$kills" -lt 2 ] && [ "$attempts" -lt 40 ]; do
        attempts=$((attempts + 1))
        if kill_midway "$target"; then
            kills=$((kills + 1))
        elif [ -e "$target/DATA.PAK" ]; then
            rm -rf "$target"
            kills=0
        fi
    done
    [ "$kills" -eq 2 ] || { echo "  could not kill qvinstall in the middle of DATA.PAK in $attempts runs"; return 1; }
    echo "  killed twice in the middle of DATA.PAK (in $attempts runs), left: $(temps "$dir" | wc -l) temporary files"
    install "$target"
    [ "$rc" -eq 0 ] || { echo "  the run after: result $rc: $(tail -n 1 "$work/err")"; ok=1; }
    expect_product "$target" "the run after, not the product" || ok=1
    [ -z "$(temps "$dir")" ] || { echo "  temporary files left: $(temps "$dir" | tr '\n' ' ')"; ok=1; }
    return $ok
}

read_only_target() {
    local target=$work/ro/Quorvanel ok=0
    local -a unprivileged=(setpriv '--bounding-set=-dac_override,-dac_read_search,-fowner,-linux_immutable')
    mount_tmpfs "$work/ro" 32m || return 1
    install "$target"
    [ "$rc" -eq 0 ] || { echo "  the earlier installation failed ($rc): $(tail -n 1 "$work/err")"; return 1; }
    find "$target" -type d -exec chmod 0555 {} +
    if "${unprivileged[@]}" touch "$target/probe" 2>/dev/null; then
        echo "  setpriv did not take root's permission override away"
        return 1
    fi
    install "$target" "${unprivileged[@]}"
    expect_failure "Permission denied" "$work/ro" || ok=1
    expect_product "$target" "earlier files changed or lost" || ok=1
    return $ok
}

check "disk full" disk_full
check "reinstall without room for the new file" reinstall_no_room
check "killed in the middle of a file" killed_twice
check "read-only target" read_only_target
echo "faults: $failed checks failed"
[ "$failed" -eq 0 ]
