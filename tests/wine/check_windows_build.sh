#!/usr/bin/env bash
# shellcheck disable=SC2317  # the clean-up functions run from traps
# Checks the Windows build from the folder of the unpacked zip:
#  0. each program's resources, read back with icoutils (no Wine needed): our
#     icon in the usual sizes, and the version information (product Kestrava,
#     version 3.0, the program's own description);
# then runs it under Wine:
#  1. kestrava-cli.exe, with the data folder beside it: an update of the
#     simulated module (flash kept in a file), a verify and a read-back in later
#     runs that agree with the image, and an image without its marker (24);
#     Ctrl-C in the middle of an update ends it (130) within the exit bound;
#  2. KestravaDemo.exe on a virtual display (Xvfb, no window manager): its
#     450 x 185 window, found by title and size, a screenshot that OCR
#     (tesseract) reads as a connected module, and its close button, after
#     which the process ends within the exit bound.
#
#   check_windows_build.sh <folder with the .exe files> [folder for screenshots and logs]
#
# Wine gets a fresh prefix in a temporary folder. Every wait is bounded, every
# X tool runs under timeout, and everything started here is ended on every way out.
set -uo pipefail

app=${1:?usage: check_windows_build.sh <folder with the .exe files> [artifact folder]}
out=${2:-$(pwd)/wine-artifacts}
title_regex='^Kestrava\(V3\.00\)$'
want_w=450
want_h=185
connect_wait=${KESTRAVA_WINE_CONNECT_WAIT:-60}   # seconds until OCR must read "connected"
exit_bound_ms=${KESTRAVA_WINE_EXIT_BOUND_MS:-2000}   # from the close (or Ctrl-C) to the end of the process

mkdir -p "$out"
app=$(cd "$app" && pwd)
work=$(mktemp -d)
demo_pid=
cli_pid=
xvfb_pid=
export WINEPREFIX="$work/prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8   # file names and arguments as UTF-8, whatever the caller's locale

fail() {
    echo "FAIL: $*"
    for f in "$work"/*.log; do
        [ -s "$f" ] && { echo "---- $(basename "$f") (last 20 lines)"; tail -n 20 "$f"; }
    done
    exit 1
}

source "$(dirname "${BASH_SOURCE[0]}")/../lib/display.sh"

cleanup() {
    stop_pid "$demo_pid"
    stop_pid "$cli_pid"
    timeout 30 wineserver -k >/dev/null 2>&1
    stop_pid "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

win_path() { timeout 30 winepath -w "$1" 2>/dev/null; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# ended_within <pid> <start ms> <what>: waits (bounded) for a process started
# here to end; fails when it takes longer than the exit bound. Sets $status.
ended_within() {
    local pid=$1 start=$2 what=$3 took
    for _ in $(seq 1 300); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    took=$(($(now_ms) - start))
    if kill -0 "$pid" 2>/dev/null; then
        fail "$what: the process still runs ${took} ms later"
    fi
    wait "$pid"
    status=$?
    [ "$took" -le "$exit_bound_ms" ] || fail "$what: the process ended only after ${took} ms (bound ${exit_bound_ms} ms)"
    echo "$what: the process ended after ${took} ms"
}

for tool in wine wineserver winepath Xvfb xdotool import convert tesseract wrestool icotool; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (run scripts/install-deps.sh)"
done
for exe in kestrava-cli.exe KestravaDemo.exe Kestrava.exe; do
    [ -f "$app/$exe" ] || fail "no $exe in $app"
done

# ---- 0. Icon and version information of each program
# version_value <raw version resource> <name>: the string after a name of the
# StringFileInfo block (the resource's texts are UTF-16).
version_value() { strings -e l -n 3 "$1" | sed -n "/^$2\$/{n;p;q}"; }
for entry in "Kestrava.exe|Sound module flash programmer" \
             "KestravaDemo.exe|Sound module flash programmer (demo)" \
             "kestrava-cli.exe|Sound module flash programmer (command line)"; do
    exe=${entry%%|*}
    description=${entry#*|}
    rm -f "$work/icon.ico" "$work/version.res"
    wrestool -x -t 14 -o "$work/icon.ico" "$app/$exe" 2>/dev/null && [ -s "$work/icon.ico" ] \
        || fail "$exe carries no icon"
    sizes=$(icotool -l "$work/icon.ico" | sed -n 's/.*--width=\([0-9]*\) --height=\([0-9]*\) --bit-depth=32.*/\1x\2/p' | sort -n | tr '\n' ' ')
    for size in 16x16 32x32 48x48 256x256; do
        grep -qw "$size" <<<"$sizes" || fail "the icon of $exe has no 32-bit $size image (it has: $sizes)"
    done
    wrestool -x --raw -t 16 -o "$work/version.res" "$app/$exe" 2>/dev/null && [ -s "$work/version.res" ] \
        || fail "$exe carries no version information"
    for pair in "ProductName|Kestrava" "ProductVersion|3.0" "FileVersion|3.0" "FileDescription|$description" \
                "OriginalFilename|$exe"; do
        got=$(version_value "$work/version.res" "${pair%%|*}")
        [ "$got" = "${pair#*|}" ] || fail "$exe: ${pair%%|*} is \"$got\", not \"${pair#*|}\""
    done
    # The fixed part: file and product version 3.0.0.0 (0xFEEF04BD starts it).
    fixed=$(od -An -v -tx4 -w4 "$work/version.res" | tr -d ' ' | grep -A4 -x feef04bd | tr '\n' ' ')
    [ "$fixed" = "feef04bd 00010000 00030000 00000000 00030000 " ] \
        || fail "$exe: the fixed version information reads \"$fixed\", not version 3.0.0.0"
    echo "$exe: icon ${sizes% }, version 3.0, \"$description\""
done

started=$SECONDS
timeout 180 wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot could not make a prefix"
echo "wine prefix made in $((SECONDS - started)) s ($(wine --version 2>/dev/null))"

# ---- 1. The command line, with no display at all (Wine's null display driver)
timeout 30 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >"$work/reg.log" 2>&1 \
    || fail "cannot choose Wine's null display driver"
restart_wine() {   # the desktop process takes the display driver when it starts
    timeout 30 wineserver -k >/dev/null 2>&1
    timeout 30 wineserver -w >/dev/null 2>&1
}
restart_wine
flash="$work/module.flash"
cli() {   # cli <log name> <arguments...>: kestrava-cli.exe in the program's folder
    local name=$1
    shift
    (cd "$app" && timeout 120 wine kestrava-cli.exe "$@") >"$work/$name.log" 2>&1
    local status=$?
    sed -i 's/\r$//' "$work/$name.log"   # Windows' line ends
    return $status
}
image="$app/Sample.bin"
cli update --simulate-flash "$(win_path "$flash")" update Sample.bin
status=$?
[ "$status" -eq 0 ] || fail "update exited with $status"
grep -q '^It is Completed,Please Restart Device$' "$work/update.log" || fail "update did not complete"
grep -q '^NameWrite=[A-Z]:\\.*\\Sample\.bin.$' "$app/QvDoc/config.ini" 2>/dev/null \
    || fail "the settings file beside the program does not name the image by its Windows path"
echo "update: exit 0, settings in QvDoc\\config.ini"

# The verify takes a copy of the data folder whose name is not ASCII: wide paths.
other="$work/Daten äöü 日本"
mkdir -p "$other"
cp -r "$app/Drivers" "$app/QvDoc" "$app/Sample.bin" "$other/"
rm -f "$other/QvDoc/config.ini"
cli verify --simulate-flash "$(win_path "$flash")" --data "$(win_path "$other")" verify "$(win_path "$other/Sample.bin")"
status=$?
[ "$status" -eq 0 ] || fail "verify after the update exited with $status"
grep -q '^The module holds the image\.$' "$work/verify.log" || fail "verify did not find the image in the flash"
[ -f "$other/QvDoc/config.ini" ] || fail "verify wrote no settings into the data folder named by --data"

length=$(printf '%x' "$(stat -c %s "$image")")
cli read --simulate-flash "$(win_path "$flash")" read "$(win_path "$work/back.bin")" --offset 0 --length "$length"
status=$?
[ "$status" -eq 0 ] || fail "read exited with $status"
cmp -s "$work/back.bin" "$image" || fail "the flash read back differs from the image"
echo "verify (data folder \"$(basename "$other")\") and read in later runs: the flash holds the image"

cli nomarker --simulate update Help.pdf
status=$?
[ "$status" -eq 24 ] || fail "an image without its marker exited with $status, not 24"
echo "image without its marker: exit 24"

# Ctrl-C while the update writes: the ports are closed and the program ends.
(cd "$app" && exec wine kestrava-cli.exe --simulate update Sample.bin) >"$work/interrupt.log" 2>&1 </dev/null &
cli_pid=$!
for _ in $(seq 1 600); do
    grep -q '^Updating' "$work/interrupt.log" 2>/dev/null && break
    kill -0 "$cli_pid" 2>/dev/null || break
    sleep 0.1
done
grep -q '^Updating' "$work/interrupt.log" || fail "the update to interrupt did not start writing"
started_ms=$(now_ms)
kill -INT "$cli_pid"
ended_within "$cli_pid" "$started_ms" "Ctrl-C in kestrava-cli.exe"
cli_pid=
[ "$status" -eq 130 ] || fail "the interrupted update exited with $status, not 130"

timeout 30 wine reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f >>"$work/reg.log" 2>&1
restart_wine

# ---- 2. The demo's window, on a virtual display of our own
start_xvfb
x xdotool mousemove 0 0 2>/dev/null   # no tooltip over the window in the screenshot

(cd "$app" && exec wine KestravaDemo.exe) >"$work/demo.log" 2>&1 </dev/null &
demo_pid=$!

# Its window: the title and the size of the content area.
win=
deadline=$((SECONDS + 90))
while [ -z "$win" ] && [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$demo_pid" 2>/dev/null || fail "KestravaDemo.exe ended before its window appeared"
    for w in $(x xdotool search --onlyvisible --name "$title_regex" 2>/dev/null); do
        geometry=$(x xdotool getwindowgeometry --shell "$w" 2>/dev/null) || continue
        if [ "$(sed -n 's/^WIDTH=//p' <<<"$geometry")x$(sed -n 's/^HEIGHT=//p' <<<"$geometry")" = "${want_w}x${want_h}" ]; then
            win=$w
            break
        fi
    done
    [ -n "$win" ] || sleep 0.5
done
[ -n "$win" ] || fail "no visible ${want_w}x${want_h} window titled Kestrava(V3.00) within 90 s"
echo "window: $win, ${want_w}x${want_h}"

# The status line, read from the screen: the window must have been repainted
# after the connection.
shot="$out/wine_demo_window.png"
text=
deadline=$((SECONDS + connect_wait))
while [ "$SECONDS" -lt "$deadline" ]; do
    kill -0 "$demo_pid" 2>/dev/null || fail "KestravaDemo.exe ended while waiting for the connection"
    if x import -window "$win" "$shot" 2>>"$work/import.log"; then
        x convert "$shot" -colorspace Gray -resize 300% "$work/ocr.png" 2>>"$work/import.log"
        text=$(timeout 60 tesseract "$work/ocr.png" stdout 2>/dev/null | tr '\n' ' ')
        grep -qi 'module connected' <<<"$text" && break
    fi
    sleep 1
done
grep -qi 'module connected' <<<"$text" || fail "OCR of the window does not read \"module connected\": \"$text\""
echo "OCR: $(grep -io '[a-z]* *module connected[^ ]*' <<<"$text" | head -n1)"

# The close button, at the right end of the 26-pixel title bar: the program
# closes its ports at the device link's next tick (700 ms at most) and ends.
started_ms=$(now_ms)
x xdotool mousemove --window "$win" $((want_w - 13)) 13 click 1
ended_within "$demo_pid" "$started_ms" "the demo's close button"
demo_pid=
[ "$status" -eq 0 ] || fail "the demo ended with status $status after its close button"
echo "PASS: the Windows build runs under Wine (screenshot: $shot)"
exit 0
