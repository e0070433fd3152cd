# A virtual display of the caller's own, for the scripts that show real windows. Sourced.
#
#   start_display    starts Xvfb and returns once it answers; sets display (the number N of
#                    ":N") and xvfb_pid. On failure: Xvfb's output on stderr, status 1.
#   need_display     keeps a working DISPLAY, otherwise starts one and exports DISPLAY.
#   stop_display     ends the server that start_display started.
#
# Xvfb picks a free number itself (-displayfd) and writes it once it takes clients, so scripts
# and tests side by side never race for one number. -noreset: otherwise it resets when its last
# client leaves and turns away one that connects meanwhile. tst_e2e starts its display the same
# way from C++ (tests/e2e/virtual_display.cpp), for it owns the server's process.

start_display() {
    local out
    out=$(mktemp)
    display="" xvfb_pid=""
    Xvfb -displayfd 3 -noreset -screen 0 1024x768x24 -nolisten tcp 3>"$out.number" >"$out" 2>&1 &
    xvfb_pid=$!
    local _
    for _ in $(seq 150); do
        if [ -s "$out.number" ] && xdpyinfo -display ":$(cat "$out.number")" >/dev/null 2>&1; then
            display=$(cat "$out.number")
            rm -f "$out" "$out.number"
            return 0
        fi
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    echo "Xvfb did not come up: $(cat "$out")" >&2
    stop_display
    rm -f "$out" "$out.number"
    return 1
}

need_display() {
    if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
        return 0
    fi
    start_display || return 1
    export DISPLAY=":$display"
}

stop_display() {
    if [ -n "${xvfb_pid:-}" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    fi
}
