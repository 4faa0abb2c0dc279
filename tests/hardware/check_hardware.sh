#!/usr/bin/env bash
# Kestrava on a real Linux MIDI stack: boots the guest of run-in-guest.sh with
# a USB-MIDI card whose device side is the simulated module
# (kestrava-gadget-module) and runs the scenarios of guest-scenarios.sh on its
# host side, one boot per group:
#   cli       kestrava-cli: ports; update from application mode, verify, read;
#             the update with the card's port held by aseqdump, through the
#             sequencer backend (a second reader refused by the program's
#             port), with the module away 6 s, unplugged in the middle of
#             programming, and behind an interface that loses bytes at full
#             speed (without pacing, paced 256:90 and --pace auto, with
#             the ratios of auto to 256:90); a read reply 1.5 s late (then
#             verify); the same image again with
#             --only-changed, both times and their ratio; a card that takes
#             nothing closed and opened again (kestrava_tests)
#   programs  Kestrava's window under Xvfb; kestrava-cli.exe under Wine (WinMM)
#   modules   four cards: update --all with the fourth module unplugged in the
#             middle of programming, then verify --all on the other three
#
#   check_hardware.sh [--groups cli,programs,modules] [--only SCENARIO] [build dir] [artifact dir]
#
# --only runs the one scenario of that function name (such as
# same_image_again_only_changed) in the groups given.
#
# The build dir (default build/) must hold kestrava-cli, Kestrava,
# kestrava-gadget-module, tests/kestrava_tests and the demo's data folder; the Windows scenario
# takes dist/Kestrava-windows-x64.zip (scripts/build-windows.sh). Prints one
# line per scenario and the update rates; exits 0 only when every scenario
# passed.
set -uo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/../.."
groups=cli,programs,modules
if [ "${1:-}" = "--groups" ]; then
    groups=$2
    shift 2
fi
only=
if [ "${1:-}" = "--only" ]; then
    only=$2
    shift 2
fi
build=$(cd "${1:-build}" && pwd)
out=${2:-$build/hardware-artifacts}
zip=dist/Kestrava-windows-x64.zip

for f in kestrava-cli Kestrava kestrava-gadget-module demo/Sample.bin; do
    [ -e "$build/$f" ] || { echo "FAIL: no $build/$f (build it first)"; exit 1; }
done
rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The Windows programs, unpacked here; Wine's prefix is made here too, where
# it takes seconds (the guest's CPU is emulated), and kept beside the build.
windows=
if [[ ",$groups," == *,programs,* ]] && [ -f "$zip" ]; then
    unzip -q "$zip" -d "$out/windows" && windows=$out/windows/Kestrava
    prefix=$build/hardware-wine-prefix
    if [ ! -f "$prefix/system.reg" ] && command -v wineboot >/dev/null; then
        started=$SECONDS
        rm -rf "$prefix"
        (
            export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
            timeout 300 wineboot -i && timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
            timeout 60 wineserver -k
        ) >"$out/wineboot.log" 2>&1 || echo "note: the Wine prefix could not be made here (see $out/wineboot.log)"
        echo "Wine prefix made in $((SECONDS - started)) s"
    fi
    [ -f "$prefix/system.reg" ] && export KESTRAVA_WINE_PREFIX=$prefix
fi

expected=0
status=0
for group in ${groups//,/ }; do
    case "$group" in
        cli) count=11 memory=768 cards=1 cpus=1 ;;
        programs) count=2 memory=1536 cards=1 cpus=1 ;;
        # Four modules, four processes that program them and the one above:
        # a second CPU makes the emulated guest's updates a third faster.
        modules) count=2 memory=1024 cards=4 cpus=2 ;;
        *) echo "check_hardware: unknown group $group" >&2; exit 2 ;;
    esac
    [ -z "$only" ] || count=1
    expected=$((expected + count))
    started=$SECONDS
    echo "---- $group: booting the guest"
    tests/hardware/run-in-guest.sh --cards "$cards" --cpus "$cpus" --memory "$memory" --time-limit 1500 --share "$out" -- \
        bash tests/hardware/guest-scenarios.sh "$group" "$build" "$out" "$windows" "$only" 2>&1 | tee -a "$out/guest-$group.log"
    [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
    echo "---- $group: $((SECONDS - started)) s, boot included"
done

echo "==== Real MIDI hardware (QEMU guest):"
cat "$out/results.txt" 2>/dev/null
ran=$(grep -c -E '^(PASS|FAIL)' "$out/results.txt" 2>/dev/null)
if [ "${ran:-0}" -ne "$expected" ]; then
    echo "FAIL: $((expected - ${ran:-0})) of $expected scenarios did not report (see $out/guest-*.log)"
    status=1
fi
if [ -s "$out/rates.txt" ]; then
    echo "Update rates over the card:"
    sed 's/^/  /' "$out/rates.txt"
fi
passed=$(grep -c '^PASS' "$out/results.txt" 2>/dev/null)
echo "${passed:-0} passed, $((expected - ${passed:-0})) failed"
exit "$status"
