#!/usr/bin/env bash
# shellcheck disable=SC2317  # the clean-up functions run from traps
# GUI check of KestravaDemo: starts the program on a display, finds its window
# by its title, checks the window's size, waits until the status line says the
# module is connected, and takes a screenshot for a person to look at.
#
#   check_demo_window.sh <path to KestravaDemo> [folder for the screenshot and logs]
#
# Uses $DISPLAY when it is set, otherwise starts an Xvfb of its own. The
# program reports its status-line text through the file named by
# KESTRAVA_STATUS_FILE (rewritten whenever the text changes); this script sets
# that variable. Every wait is bounded; the program and any Xvfb started here
# are ended on every way out.
set -uo pipefail

demo=${1:?usage: check_demo_window.sh <KestravaDemo> [artifact folder]}
out=${2:-$(pwd)/gui-artifacts}
title='Kestrava(V3.00)'
title_regex='^Kestrava\(V3\.00\)$'   # xdotool takes a regular expression
want_w=450
want_h=185
window_wait=${KESTRAVA_GUI_WINDOW_WAIT:-30}     # seconds
connect_wait=${KESTRAVA_GUI_CONNECT_WAIT:-30}   # seconds

mkdir -p "$out"
work=$(mktemp -d)
app_pid=
xvfb_pid=

fail() {
    echo "FAIL: $*"
    if [ -s "$out/demo_window.log" ]; then
        echo "---- program output (last 40 lines) ----"
        tail -n 40 "$out/demo_window.log"
    fi
    exit 1
}

source "$(dirname "${BASH_SOURCE[0]}")/../lib/display.sh"

cleanup() {
    stop_pid "$app_pid"
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

for tool in xdotool import identify; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/install-deps.sh)"
done
[ -x "$demo" ] || fail "no program at $demo"

# A display: the caller's, or a virtual one of our own.
if [ -z "${DISPLAY:-}" ]; then
    start_xvfb
fi
echo "display: $DISPLAY"

# Start the program with its status-line report switched on.
export KESTRAVA_STATUS_FILE="$work/status.txt"
"$demo" >"$out/demo_window.log" 2>&1 </dev/null &
app_pid=$!

# 1. Its window, found by its title.
win=
for _ in $(seq 1 $((window_wait * 4))); do
    kill -0 "$app_pid" 2>/dev/null || fail "KestravaDemo ended before its window appeared (is another instance running?)"
    win=$(x xdotool search --onlyvisible --name "$title_regex" 2>/dev/null | head -n1)
    [ -n "$win" ] && break
    sleep 0.25
done
[ -n "$win" ] || fail "no visible window titled \"$title\" within ${window_wait} s"
echo "window: $win \"$(x xdotool getwindowname "$win")\""

# 2. Its size: the whole window, title bar included.
geometry=$(x xdotool getwindowgeometry --shell "$win") || fail "cannot read the window's geometry"
w=$(sed -n 's/^WIDTH=//p' <<<"$geometry")
h=$(sed -n 's/^HEIGHT=//p' <<<"$geometry")
echo "size: ${w}x${h}"
if [ "$w" != "$want_w" ] || [ "$h" != "$want_h" ]; then
    fail "window is ${w}x${h}, expected ${want_w}x${want_h}"
fi

# 3. The status line says the module is connected.
status=
for _ in $(seq 1 $((connect_wait * 4))); do
    kill -0 "$app_pid" 2>/dev/null || fail "KestravaDemo ended while waiting for the connection"
    status=$(cat "$KESTRAVA_STATUS_FILE" 2>/dev/null || true)
    grep -qi 'connected' <<<"$status" && break
    sleep 0.25
done
if ! grep -qi 'connected' <<<"$status"; then
    [ -e "$KESTRAVA_STATUS_FILE" ] || fail "the program never wrote KESTRAVA_STATUS_FILE within ${connect_wait} s"
    fail "status line is \"$status\", not connected, after ${connect_wait} s"
fi
echo "status: $status"

# 4. A screenshot of the window, for a person to look at.
sleep 0.5   # let the repaint that follows the status change reach the screen
shot="$out/demo_window.png"
x import -window "$win" "$shot" 2>"$work/import.log" || fail "screenshot failed: $(cat "$work/import.log")"
size=$(x identify -format '%wx%h' "$shot" 2>/dev/null) || fail "screenshot is not a readable image"
[ "$size" = "${want_w}x${want_h}" ] || fail "screenshot is $size, expected ${want_w}x${want_h}"
colours=$(x identify -format '%k' "$shot")
[ "$colours" -ge 16 ] || fail "screenshot has only $colours colours: the window looks blank"
echo "screenshot: $shot ($size, $colours colours)"

echo "PASS: KestravaDemo shows its ${want_w}x${want_h} window and a connected module"
exit 0
