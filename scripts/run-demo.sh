#!/usr/bin/env bash
# Builds KestravaDemo (the program wired to a simulated sound module, with its
# data folder beside it) and starts it. Installs missing Debian packages first.
# Without a display it runs on a virtual one (Xvfb) until stopped with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-common.sh

bash scripts/install-deps.sh
configure_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
build_tree build KestravaDemo

demo=build/demo/KestravaDemo
[ -x "$demo" ] || { echo "run-demo: $demo was not built" >&2; exit 1; }

echo "run-demo: starting $demo"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    exec "$demo"
fi
echo "run-demo: no display (DISPLAY is not set); running on a virtual display, stop with Ctrl-C"
exec xvfb-run -a -s "$KESTRAVA_XVFB_ARGS" "$demo"
