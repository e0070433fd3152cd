# Sourced by the package tests, which set test_name first and keep their scratch folder in work
# (their virtual display comes from tools/lib/display.sh).

say() { echo "$test_name: $*"; }
fail() {
    echo "$test_name: FAIL: $*" >&2
    exit 1
}

stop_pid() { if [ -n "$1" ]; then kill "$1" 2>/dev/null || true; fi; }

# logged <log name> <what> <command...>: runs the command with its output in $work/<log name>;
# when it fails, shows the end of that log and fails with <what>.
logged() {
    local log="$work/$1" what=$2
    shift 2
    "$@" >"$log" 2>&1 || { tail -50 "$log"; fail "$what"; }
}

# The last step of a test's clean-up: removes work and exits with the test's status.
end_cleanup() {
    local status=$1
    [ -n "$work" ] && rm -rf "$work"
    [ "$status" -eq 0 ] || say "cleaned up after the failure"
    exit "$status"
}
