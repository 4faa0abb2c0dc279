#!/usr/bin/env bash
# shellcheck disable=SC2317  # the clean-up functions run from traps
# GUI check of a whole update in KestravaDemo, done as a person would: start
# the program, wait for the connected module, choose the demo's Sample.bin
# through the real "Browse..." dialog (JUCE's own file chooser: the full path
# is typed into its file name box), press "Program", wait for the box at the
# end of the update, close it, and check that the program then ends by itself.
#
#   check_demo_update.sh <path to KestravaDemo> [folder for screenshots and logs]
#
# The program runs from a copy of itself and its data folder in a temporary
# folder: the update writes its settings and scratch files beside the program,
# and the build's data folder must stay as the build made it.
# Uses $DISPLAY when it is set, otherwise starts an Xvfb of its own. Every wait
# is bounded; the program and any Xvfb started here are ended on every way out.
set -uo pipefail

demo=${1:?usage: check_demo_update.sh <KestravaDemo> [artifact folder]}
out=${2:-$(pwd)/gui-artifacts}
title_regex='^Kestrava\(V3\.00\)$'
chooser_regex='^Choose a bin file to save sound bank\.\.\.$'
window_wait=${KESTRAVA_GUI_WINDOW_WAIT:-30}     # seconds, each
update_wait=${KESTRAVA_GUI_UPDATE_WAIT:-120}    # seconds for the whole update
exit_wait=${KESTRAVA_GUI_EXIT_WAIT:-20}         # seconds for the program to end

mkdir -p "$out"
work=$(mktemp -d)
app_pid=
xvfb_pid=
log="$out/demo_update.log"

fail() {
    echo "FAIL: $*"
    if [ -n "$app_pid" ] && ! kill -0 "$app_pid" 2>/dev/null; then
        wait "$app_pid"
        echo "the program had ended, with status $?"
        app_pid=
    fi
    local w
    for w in $(x xdotool search --onlyvisible --pid "${app_pid:-0}" 2>/dev/null); do
        echo "window of the program: $w \"$(x xdotool getwindowname "$w" 2>/dev/null)\""
    done
    [ -n "${DISPLAY:-}" ] && x import -window root "$out/demo_update_failure_screen.png" 2>/dev/null
    if [ -s "$log" ]; then
        echo "---- program output (last 40 lines) ----"
        tail -n 40 "$log"
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

# wait_for <seconds> <command...>: runs the command every 0.25 s until it succeeds.
wait_for() {
    local seconds=$1
    shift
    for _ in $(seq 1 $((seconds * 4))); do
        "$@" && return 0
        kill -0 "$app_pid" 2>/dev/null || return 1
        sleep 0.25
    done
    "$@"
}

# Windows of the program, by title or (for the untitled box) by process.
find_main()    { win=$(x xdotool search --onlyvisible --name "$title_regex" 2>/dev/null | head -n1); [ -n "$win" ]; }
find_chooser() { chooser=$(x xdotool search --onlyvisible --name "$chooser_regex" 2>/dev/null | head -n1); [ -n "$chooser" ]; }
no_chooser()   { ! x xdotool search --onlyvisible --name "$chooser_regex" >/dev/null 2>&1; }
find_box() {
    box=
    local w
    for w in $(x xdotool search --onlyvisible --pid "$app_pid" 2>/dev/null); do
        [ "$w" != "$win" ] && [ -z "$(x xdotool getwindowname "$w" 2>/dev/null)" ] && box=$w
    done
    [ -n "$box" ]
}
connected() { grep -qi 'connected' "$KESTRAVA_STATUS_FILE" 2>/dev/null; }
ended()     { ! kill -0 "$app_pid" 2>/dev/null; }

# x <command...>: an X client call, bounded in time.

# click <window> <x> <y>: a left click at a point of a window.
click() { x xdotool mousemove --window "$1" "$2" "$3" click 1; }

# shot <window> <name>: a screenshot for a person to look at.
shot() { x import -window "$1" "$out/$2.png" 2>/dev/null || fail "screenshot $2 failed"; echo "screenshot: $out/$2.png"; }

for tool in xdotool import; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/install-deps.sh)"
done
[ -x "$demo" ] || fail "no program at $demo"

# The program and its data folder, copied (without settings of earlier runs).
built=$(cd "$(dirname "$demo")" && pwd)
[ -f "$built/Sample.bin" ] || fail "no sample image in $built (build kestrava_demo_data)"
data="$work/program"
mkdir -p "$data"
cp -r "$built/Drivers" "$built/QvDoc" "$built/Help.pdf" "$built/Sample.bin" "$data/" || fail "cannot copy the data folder"
cp "$demo" "$data/KestravaDemo" || fail "cannot copy the program"
rm -f "$data/QvDoc/config.ini"
sample="$data/Sample.bin"

# A display: the caller's, or a virtual one of our own.
if [ -z "${DISPLAY:-}" ]; then
    start_xvfb
fi
echo "display: $DISPLAY"

export KESTRAVA_STATUS_FILE="$work/status.txt"
"$data/KestravaDemo" >"$log" 2>&1 </dev/null &
app_pid=$!
started=$SECONDS

# 1. The window, and the module connected.
wait_for "$window_wait" find_main || fail "no window titled Kestrava(V3.00) within ${window_wait} s (is another instance running?)"
wait_for "$window_wait" connected || fail "status line is \"$(cat "$KESTRAVA_STATUS_FILE" 2>/dev/null)\", not connected"
echo "window: $win, status: $(cat "$KESTRAVA_STATUS_FILE")"

# The buttons, in window coordinates: the panel sits below the 26-pixel title
# bar; "Browse..." and "Program" are 96 x 34 at x 348, y 51 and y 90 of the panel.
browse_x=396; browse_y=$((26 + 68))
program_x=396; program_y=$((26 + 107))

# 2. "Browse...": the program's own file dialog, titled as the program names it.
click "$win" "$browse_x" "$browse_y"
wait_for "$window_wait" find_chooser || fail "\"Browse...\" opened no dialog titled \"Choose a bin file to save sound bank...\""
eval "$(x xdotool getwindowgeometry --shell "$chooser")"
echo "file dialog: $chooser (${WIDTH}x${HEIGHT})"
# Its file name box runs along the bottom, above "Cancel" and "Open" (bottom right).
click "$chooser" $((WIDTH / 2)) $((HEIGHT - 64))
sleep 0.3
x xdotool type --window "$chooser" --delay 10 "$sample"
sleep 0.5
shot "$chooser" demo_update_1_file_dialog
click "$chooser" $((WIDTH - 56)) $((HEIGHT - 24))
wait_for 10 no_chooser || fail "the file dialog did not close on \"Open\""
sleep 0.5
shot "$win" demo_update_2_file_chosen

# 3. "Program": the switch into the loader, the driver search and the update with its progress bar.
click "$win" "$program_x" "$program_y"
sleep 6
ended && fail "the program ended before the update finished"
shot "$win" demo_update_3_programming

# 4. The box at the end of the update.
wait_for "$update_wait" find_box || fail "no box within ${update_wait} s of \"Program\" (or the program ended without one)"
sleep 0.5
shot "$box" demo_update_4_completed
eval "$(x xdotool getwindowgeometry --shell "$box")"
echo "box: $box (${WIDTH}x${HEIGHT}) after $((SECONDS - started)) s"

# 5. Closing it ends the program, with exit status 0. An error box would leave it running.
click "$box" $((WIDTH / 2)) $((HEIGHT - 38))
wait_for "$exit_wait" ended || fail "the program still runs ${exit_wait} s after the box was closed (an error box, or the quit was lost)"
wait "$app_pid"
status=$?
app_pid=
[ "$status" -eq 0 ] || fail "the program ended with status $status"

# 6. The scratch files of the update are gone from its data folder.
for f in QvDoc/Comparetemp.rom flashpgm.rom SEC0.rom SEC1.rom; do
    [ ! -e "$data/$f" ] || fail "scratch file $f is left in $data"
done

# 7. It ended through its own shutdown, which writes the settings with the image last used.
grep -qF "NameWrite=$sample" "$data/QvDoc/config.ini" 2>/dev/null \
    || fail "the settings file was not written with the chosen image on the way out"

echo "PASS: KestravaDemo programmed Sample.bin, showed the completion box and ended ($((SECONDS - started)) s)"
exit 0
