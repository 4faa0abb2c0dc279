#!/usr/bin/env bash
# Installs every Debian package that building, testing, the sanitizer and fuzz
# builds, the benchmarks and the GUI checks of Kestrava need. Packages that are
# already installed are skipped; with nothing missing this does nothing at all
# (no apt-get update, no sudo). Runs non-interactively; uses sudo when not root.
set -euo pipefail

packages=(
    # Build
    cmake ninja-build g++ pkg-config ccache
    # JUCE 7 from Debian and what its Linux modules compile and link against
    juce-modules-source
    libasound2-dev libfreetype-dev libfontconfig1-dev
    libx11-dev libxrandr-dev libxinerama-dev libxcursor-dev libxext-dev
    libpng-dev libjpeg-dev zlib1g-dev
    # Tests and benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev
    # Sanitizer and fuzz builds (clang's libFuzzer and runtimes, symbolizer)
    clang libclang-rt-14-dev llvm
    # The user's guide, Help.pdf: pandoc turns the text into HTML, WeasyPrint
    # lays it out as PDF with its fonts embedded; poppler-utils checks the result
    pandoc weasyprint poppler-utils fonts-dejavu-core
    # GUI checks: virtual display, window lookup, screenshots, a font for text
    xvfb xauth xdotool imagemagick fonts-dejavu-core
    # Windows build: MinGW-w64 (POSIX threads) and zlib for it; dpkg-dev
    # unpacks the libpng and libjpeg source packages; zip packs the programs
    g++-mingw-w64-x86-64-posix libz-mingw-w64-dev dpkg-dev zip unzip
    # Windows checks: Wine runs the programs, tesseract reads a screenshot,
    # icoutils reads the programs' icon and version information back
    wine wine64 tesseract-ocr tesseract-ocr-eng icoutils
    # Debian package check: the desktop entries and the metainfo are validated
    desktop-file-utils appstream
    # Real MIDI hardware: a Linux guest under QEMU with USB-MIDI cards
    # (tests/hardware/; the guest's kernel is downloaded by apt-get, not installed)
    qemu-system-x86 busybox-static kmod alsa-utils xz-utils
)

is_installed() {
    [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = "installed" ]
}

missing=()
for p in "${packages[@]}"; do
    is_installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all ${#packages[@]} packages are installed."
    exit 0
fi

echo "install-deps: installing ${missing[*]}"

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "install-deps: not root and sudo is not available; install as root: ${missing[*]}" >&2
        exit 1
    fi
    as_root=(sudo -n)
    # Ask for a password only when one is needed and a terminal can answer.
    if ! sudo -n true 2>/dev/null; then
        if [ -t 0 ]; then as_root=(sudo); else
            echo "install-deps: sudo needs a password but there is no terminal; install as root: ${missing[*]}" >&2
            exit 1
        fi
    fi
fi

export DEBIAN_FRONTEND=noninteractive
apt_get=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -y -q
         -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)

"${apt_get[@]}" update
if ! "${apt_get[@]}" install --no-install-recommends "${missing[@]}" </dev/null; then
    echo "install-deps: install failed; refreshing the package lists once more and retrying" >&2
    "${apt_get[@]}" update
    "${apt_get[@]}" install --no-install-recommends "${missing[@]}" </dev/null
fi

still=()
for p in "${missing[@]}"; do
    is_installed "$p" || still+=("$p")
done
if [ ${#still[@]} -ne 0 ]; then
    echo "install-deps: still missing after install: ${still[*]}" >&2
    exit 1
fi
echo "install-deps: done."
