# Results of a checking script, one line a check: "ok   NAME" or
# "FAIL NAME: why", then a count. Source it, set qv_checks_name (the
# count's label) and end with qv_finish.

qv_checks_name=${qv_checks_name:-checks}
qv_passed=0
qv_failed=0

qv_pass() { echo "ok   $1"; qv_passed=$((qv_passed + 1)); }
qv_fail() { echo "FAIL $1: $2"; qv_failed=$((qv_failed + 1)); }
# qv_expect NAME EXPECTED ACTUAL
qv_expect() {
    if [ "$2" = "$3" ]; then qv_pass "$1"; else qv_fail "$1" "expected '$2', got '$3'"; fi
}
# Prints the count and ends the script: status 1 when any check failed.
qv_finish() {
    echo "$qv_checks_name: $qv_passed passed, $qv_failed failed"
    [ "$qv_failed" -eq 0 ]
    exit
}
