# Sourced by the package tests. start_display starts Xvfb on the first free display number, sets
# display and xvfb_pid and returns once it answers; its output goes to $work/xvfb.log.
start_display() {
    for display in $(seq 90 199); do
        [ -e "/tmp/.X$display-lock" ] || [ -e "/tmp/.X11-unix/X$display" ] || break
    done
    Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        xdpyinfo -display ":$display" >/dev/null 2>&1 && return
        sleep 0.1
    done
    fail "Xvfb :$display did not come up: $(cat "$work/xvfb.log")"
}
