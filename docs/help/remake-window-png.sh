#!/usr/bin/env bash
# Remakes docs/help/window.png, the picture of the window in the user's guide:
# the GUI check of a whole update in KestravaDemo (tests/gui/check_demo_update.sh)
# runs on a virtual display of its own, and its picture of the window while
# the update writes is taken, its metadata stripped.
#
#   bash docs/help/remake-window-png.sh [path to KestravaDemo]   (default: build/demo/KestravaDemo)
#
# Needs Xvfb, xdotool and ImageMagick (scripts/install-deps.sh installs them).
set -euo pipefail
cd "$(dirname "$0")/../.."
demo=${1:-build/demo/KestravaDemo}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
[ -x "$demo" ] || { echo "remake-window-png: no program at $demo (build it first)" >&2; exit 1; }
env -u DISPLAY bash tests/gui/check_demo_update.sh "$demo" "$work" >"$work/check.log" 2>&1 \
    || { cat "$work/check.log" >&2; exit 1; }
timeout 30 convert "$work/demo_update_3_programming.png" -strip docs/help/window.png
echo "remake-window-png: docs/help/window.png ($(timeout 10 identify -format '%wx%h' docs/help/window.png))"
