# shellcheck shell=bash
# Shared by the GUI and Wine checks (sourced, not run). The caller defines
# fail() and a scratch folder $work before it calls start_xvfb.

# x <tool> [args...]: every X tool runs under a time limit; one that waits on
# a window that has just gone can hold the server.
x() { timeout 10 "$@"; }

# stop_pid <pid>: ends one process we started: TERM, a bounded wait, then KILL.
stop_pid() {
    local pid=$1
    [ -n "$pid" ] || return 0
    kill -TERM "$pid" 2>/dev/null || return 0
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null; return 0; }
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

# start_xvfb: a virtual display of our own, on a number the server picks
# (never assumed free), without resets (a program that connects while the
# server resets after its last client left is refused). Sets xvfb_pid and
# exports DISPLAY.
start_xvfb() {
    command -v Xvfb >/dev/null || fail "Xvfb is not installed"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 1 100); do
        [ -s "$work/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
        sleep 0.1
    done
    [ -s "$work/display" ] || fail "Xvfb gave no display number within 10 s"
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
}
