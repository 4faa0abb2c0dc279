#!/usr/bin/env bash
# Checks the Debian package: unpacks it into a scratch root (dpkg -x), looks
# for what it must hold, and runs the unpacked kestrava-cli on the simulated
# module with the demo's image: it must find its drivers in
# ../share/kestrava, write its settings to $XDG_CONFIG_HOME/kestrava and its
# scratch files to $XDG_CACHE_HOME/kestrava, and change nothing in the package's folders.
#
#   check_deb_package.sh <kestrava_VERSION_ARCH.deb>
set -uo pipefail

deb=${1:?usage: check_deb_package.sh <package.deb>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    [ -s "$work/cli.log" ] && { echo "---- kestrava-cli output (last 20 lines)"; tail -n 20 "$work/cli.log"; }
    exit 1
}

root=$work/root
dpkg -x "$deb" "$root" || fail "dpkg -x could not unpack $deb"
depends=$(dpkg-deb --field "$deb" Depends)
for lib in libc6 libasound2 libstdc++6 libx11-6; do
    grep -q "\b$lib\b" <<<"$depends" || fail "Depends does not name $lib: $depends"
done
for path in usr/bin/Kestrava usr/bin/KestravaDemo usr/bin/kestrava-cli \
            usr/share/kestrava/Drivers usr/share/kestrava/QvDoc/Logo.PNG usr/share/kestrava/Help.pdf \
            usr/share/kestrava/Sample.bin usr/share/applications/org.kestrava.Kestrava.desktop \
            usr/share/metainfo/org.kestrava.Kestrava.metainfo.xml usr/share/man/man1/kestrava-cli.1.gz \
            usr/share/icons/hicolor/48x48/apps/kestrava.png usr/share/icons/hicolor/scalable/apps/kestrava.svg; do
    [ -e "$root/$path" ] || fail "the package has no /$path"
done
[ -z "$(find "$root/usr/share/kestrava" -name config.ini)" ] || fail "the package holds a settings file"
for entry in "$root"/usr/share/applications/*.desktop; do
    desktop-file-validate "$entry" >"$work/validate.log" 2>&1 || fail "$(basename "$entry") is not a valid desktop entry: $(cat "$work/validate.log")"
done
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml >"$work/validate.log" 2>&1 \
    || fail "the metainfo is not valid: $(cat "$work/validate.log")"
echo "contents: the programs, the data folder, desktop entries and metainfo (both valid), icons, the manual page"
echo "Depends: $depends"

before=$(cd "$root" && find . -printf '%p %s %T@\n' | sort)
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CACHE_HOME="$work/cache"
unset XDG_STATE_HOME   # the log goes to the default, ~/.local/state
mkdir -p "$HOME"
(cd "$work" && timeout 300 "$root/usr/bin/kestrava-cli" --simulate update "$root/usr/share/kestrava/Sample.bin") >"$work/cli.log" 2>&1
status=$?
[ "$status" -eq 0 ] || fail "the unpacked kestrava-cli --simulate update exited with $status"
grep -q '^It is Completed,Please Restart Device$' "$work/cli.log" || fail "the update did not complete"
grep -q "^NameWrite=$root/usr/share/kestrava/Sample.bin.\\?\$" "$XDG_CONFIG_HOME/kestrava/config.ini" 2>/dev/null \
    || fail "no settings in \$XDG_CONFIG_HOME/kestrava/config.ini"
[ -d "$XDG_CACHE_HOME/kestrava" ] || fail "no scratch folder \$XDG_CACHE_HOME/kestrava"
grep -q '^\[box\] It is Completed,Please Restart Device$' "$HOME/.local/state/kestrava/kestrava.log" 2>/dev/null \
    || fail "no log of the run in ~/.local/state/kestrava/kestrava.log"
after=$(cd "$root" && find . -printf '%p %s %T@\n' | sort)
[ "$before" = "$after" ] || fail "the run changed the package's folders: $(diff <(echo "$before") <(echo "$after") | head -n 5)"
echo "PASS: the unpacked kestrava-cli updates the simulated module from /usr/share/kestrava, settings in \$XDG_CONFIG_HOME/kestrava, its log in ~/.local/state/kestrava"
