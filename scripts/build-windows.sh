#!/usr/bin/env bash
# Cross-builds Kestrava for Windows x86-64 on Debian with MinGW-w64:
# Kestrava.exe, KestravaDemo.exe and kestrava-cli.exe, linked statically (no
# DLL beyond Windows' own), in build-windows/, and packs them with the demo's
# data folder, the README and the licence into dist/Kestrava-windows-x64.zip.
# Installs missing Debian packages first; libpng and libjpeg, which Debian
# does not package for MinGW, are built from Debian's source packages once
# (build-windows/deps/). The demo's data folder and the programs' icon come
# from the build machine's MakeDemoData and MakeIcons (built in build/).
#
# Options: --skip-install   do not check the Debian packages
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-common.sh
source scripts/windows-deps.sh

install_unless_skipped build-windows "$@"

toolchain=$PWD/packaging/windows-x64-mingw.cmake
tree=build-windows
deps=$PWD/$tree/deps
build_windows_deps "$deps" "$toolchain"

# The generators of the demo's data folder, of the guide's tables and of the
# programs' icon, for the build machine.
configure_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
build_tree build MakeDemoData MakeHelpTables MakeIcons

configure_tree "$tree" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DKESTRAVA_WINDOWS_DEPS="$deps/prefix" \
    -DCMAKE_BUILD_TYPE=Release -DKESTRAVA_BUILD_TESTS=OFF -DKESTRAVA_BUILD_BENCH=OFF \
    -DKESTRAVA_HOST_MAKEDEMODATA="$PWD/build/demo/MakeDemoData" \
    -DKESTRAVA_HOST_MAKEHELPTABLES="$PWD/build/demo/MakeHelpTables" \
    -DKESTRAVA_HOST_MAKEICONS="$PWD/build/packaging/MakeIcons"
build_tree "$tree" Kestrava KestravaDemo kestrava-cli kestrava_demo_data

# The zip: one folder with the programs and the demo's data folder beside them.
stage=$tree/zip/Kestrava
rm -rf "$tree/zip"
mkdir -p "$stage" dist
cp "$tree/Kestrava.exe" "$tree/kestrava-cli.exe" "$tree/demo/KestravaDemo.exe" "$stage/"
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.exe
cp -r "$tree/demo/Drivers" "$tree/demo/QvDoc" "$tree/demo/Help.pdf" "$tree/demo/Sample.bin" "$stage/"
rm -f "$stage/QvDoc/config.ini" "$stage/QvDoc/Comparetemp.rom" "$stage/QvDoc/kestrava.log"
cp README.md "$stage/README.md"
cp LICENSE "$stage/LICENSE.txt"
rm -f dist/Kestrava-windows-x64.zip
(cd "$tree/zip" && zip -q -r -X ../../dist/Kestrava-windows-x64.zip Kestrava)
echo "build-windows: dist/Kestrava-windows-x64.zip"
unzip -l dist/Kestrava-windows-x64.zip | tail -n 1
