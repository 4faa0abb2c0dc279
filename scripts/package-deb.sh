#!/usr/bin/env bash
# Makes the Debian package dist/kestrava_3.0_amd64.deb from build/ (built here
# when needed): Kestrava, KestravaDemo and kestrava-cli in /usr/bin, the
# demo's data folder in /usr/share/kestrava, the desktop entries, the icon
# (PNG sizes and SVG, drawn by MakeIcons from our logo), the AppStream
# metainfo and the manual page of kestrava-cli. The runtime dependencies
# are those dpkg-shlibdeps finds in the programs, plus the X11 libraries that
# JUCE opens at run time. Installs missing Debian packages first.
#
# Options: --skip-install   do not check the Debian packages
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-common.sh

install_unless_skipped package-deb "$@"

configure_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
build_tree build Kestrava KestravaDemo kestrava-cli kestrava_demo_data kestrava_manual_page MakeIcons

version=$(sed -n 's/^project(Kestrava VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
arch=$(dpkg --print-architecture)
work=build/deb
root=$work/root
rm -rf "$work"
mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/kestrava" "$root/usr/share/applications" \
         "$root/usr/share/metainfo" "$root/usr/share/icons" "$root/usr/share/man/man1" "$root/usr/share/doc/kestrava"

# The programs, without their debugging information.
for exe in build/Kestrava build/demo/KestravaDemo build/kestrava-cli; do
    install -m 0755 "$exe" "$root/usr/bin/"
    strip --strip-unneeded --remove-section=.comment --remove-section=.note "$root/usr/bin/$(basename "$exe")"
done

# The data folder: drivers and fixed files only (settings and scratch files
# go to the user's folders, platform/ProgramFolder.h).
cp -r build/demo/Drivers "$root/usr/share/kestrava/"
mkdir -p "$root/usr/share/kestrava/QvDoc"
for f in Logo.PNG boot2.bin flashpgm.bin Special.bin Special418.bin; do
    install -m 0644 "build/demo/QvDoc/$f" "$root/usr/share/kestrava/QvDoc/"
done
install -m 0644 build/demo/Help.pdf build/demo/Sample.bin "$root/usr/share/kestrava/"

install -m 0644 packaging/debian/*.desktop "$root/usr/share/applications/"
install -m 0644 packaging/debian/org.kestrava.Kestrava.metainfo.xml "$root/usr/share/metainfo/"
build/packaging/MakeIcons "$root/usr/share/icons"
gzip -9n -c build/docs/kestrava-cli.1 >"$root/usr/share/man/man1/kestrava-cli.1.gz"
{
    echo "Kestrava $version"
    echo
    echo "License: GPL-3.0-or-later (see /usr/share/common-licenses/GPL-3)"
} >"$root/usr/share/doc/kestrava/copyright"
find "$root" -type d -exec chmod 0755 {} +
find "$root/usr/share" -type f -exec chmod 0644 {} +

# Runtime dependencies from what the programs link; JUCE opens the X11
# libraries of the windows itself (dlopen), so they are named here.
mkdir -p "$work/shlibs/debian"
printf 'Source: kestrava\n\nPackage: kestrava\nArchitecture: any\n' >"$work/shlibs/debian/control"
linked=$(cd "$work/shlibs" && dpkg-shlibdeps -O --warnings=0 -e"$OLDPWD/$root/usr/bin/Kestrava" \
             -e"$OLDPWD/$root/usr/bin/KestravaDemo" -e"$OLDPWD/$root/usr/bin/kestrava-cli" | sed -n 's/^shlibs:Depends=//p')
[ -n "$linked" ] || { echo "package-deb: dpkg-shlibdeps found no dependencies" >&2; exit 1; }
depends="$linked, libx11-6, libxext6, libxrandr2, libxinerama1, libxcursor1, libxrender1"

size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
    packaging/debian/control.in >"$root/DEBIAN/control"

mkdir -p dist
deb=dist/kestrava_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "package-deb: $deb"
dpkg-deb --field "$deb" Package Version Depends
