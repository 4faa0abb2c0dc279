# shellcheck shell=bash
# Sourced by build-windows.sh: static libpng and libjpeg for MinGW-w64, built
# from Debian's own source packages (Debian packages zlib for MinGW, but not
# these two). The pinned versions are tried first; when the archive no longer
# has one, the newest version it lists is taken instead.

KESTRAVA_LIBPNG_SOURCE="libpng1.6=1.6.39-2+deb12u5"
KESTRAVA_LIBJPEG_SOURCE="libjpeg-turbo=1:2.1.5-2"

# Adds deb-src entries beside the system's "deb" entries (once), so that
# apt-get source works, and refreshes the package lists.
ensure_deb_src() {
    # (grep reads all: with -q, apt-cache could fail on the closed pipe under pipefail)
    if apt-cache showsrc "${KESTRAVA_LIBPNG_SOURCE%%=*}" 2>/dev/null | grep '^Package:' >/dev/null; then
        return 0
    fi
    local as_root=() f dir=/etc/apt/sources.list.d
    [ "$(id -u)" -eq 0 ] || as_root=(sudo)
    echo "windows-deps: adding source package entries ($dir/kestrava-deb-src.*)"
    for f in "$dir"/*.sources; do
        [ -f "$f" ] && [ "$f" != "$dir/kestrava-deb-src.sources" ] || continue
        sed -E 's/^Types:.*/Types: deb-src/' "$f"
        echo
    done | "${as_root[@]}" tee "$dir/kestrava-deb-src.sources" >/dev/null
    for f in /etc/apt/sources.list "$dir"/*.list; do
        [ -f "$f" ] && [ "$f" != "$dir/kestrava-deb-src.list" ] || continue
        sed -nE 's/^deb[[:space:]]/deb-src /p' "$f"
    done | "${as_root[@]}" tee "$dir/kestrava-deb-src.list" >/dev/null
    "${as_root[@]}" apt-get update -q
}

# fetch_source <package=version> <into folder>: unpacks the source package
# (Debian's patches applied) into a fresh folder and prints its path.
fetch_source() {
    local pinned=$1 into=$2 name=${1%%=*} version tried=()
    rm -rf "$into" && mkdir -p "$into"
    local candidates=("${pinned#*=}")
    while read -r version; do
        [ "$version" = "${pinned#*=}" ] || candidates+=("$version")
    done < <(apt-cache showsrc "$name" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV | uniq)
    for version in "${candidates[@]}"; do
        if (cd "$into" && apt-get source -q "$name=$version" >"$into/fetch.log" 2>&1); then
            [ "$version" = "${pinned#*=}" ] || echo "windows-deps: $pinned is gone from the archive; using $name $version" >&2
            find "$into" -mindepth 1 -maxdepth 1 -type d | head -n1
            return 0
        fi
        tried+=("$version")
        rm -rf "${into:?}"/*
    done
    echo "windows-deps: no source of $name could be fetched (tried: ${tried[*]:-none})" >&2
    return 1
}

# logged <log file> <command...>: runs the command with its output appended to
# the log, which is shown when it fails.
logged() {
    local log=$1
    shift
    "$@" >>"$log" 2>&1 || { echo "windows-deps: failed: $* (last lines of $log):" >&2; tail -n 30 "$log" >&2; return 1; }
}

# build_windows_deps <deps folder> <toolchain file>: installs static libpng and
# libjpeg into <deps folder>/prefix unless they are there already.
build_windows_deps() {
    local deps=$1 toolchain=$2 prefix=$1/prefix stamp
    stamp="$prefix/.built-$KESTRAVA_LIBPNG_SOURCE-$KESTRAVA_LIBJPEG_SOURCE"
    stamp=${stamp//:/_}
    if [ -f "$stamp" ]; then
        echo "windows-deps: libpng and libjpeg are built ($prefix)"
        return 0
    fi
    ensure_deb_src
    rm -rf "$prefix" "$deps/build" "$deps"/*.log
    mkdir -p "$prefix"
    local cross=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release
                 -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_POSITION_INDEPENDENT_CODE=OFF)

    local jpeg
    jpeg=$(fetch_source "$KESTRAVA_LIBJPEG_SOURCE" "$deps/src/libjpeg")
    # Windows' rpcndr.h declares "boolean" as unsigned char too, and libjpeg's
    # Windows configuration then leaves out its own typedef: a program that
    # includes windows.h first and libjpeg inside a namespace (as JUCE does)
    # finds no boolean there. The same typedef again is harmless, so declare it always.
    sed -i -e '/^#ifndef __RPCNDR_H__/,/^#endif/c\typedef unsigned char boolean;' "$jpeg/win/jconfig.h.in"
    grep -q '^typedef unsigned char boolean;' "$jpeg/win/jconfig.h.in" \
        || { echo "windows-deps: the boolean fix did not apply to $jpeg/win/jconfig.h.in" >&2; return 1; }
    logged "$deps/libjpeg.log" cmake -S "$jpeg" -B "$deps/build/libjpeg" "${cross[@]}" \
        -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF -DWITH_SIMD=OFF -DWITH_JAVA=OFF
    logged "$deps/libjpeg.log" cmake --build "$deps/build/libjpeg" -j "$KESTRAVA_JOBS" --target jpeg-static
    mkdir -p "$prefix/lib" "$prefix/include"
    cp "$deps/build/libjpeg/libjpeg.a" "$prefix/lib/"
    # JUCE's loader reads libjpeg's internal header as well.
    cp "$jpeg/jpeglib.h" "$jpeg/jmorecfg.h" "$jpeg/jerror.h" "$jpeg/jpegint.h" \
       "$deps/build/libjpeg/jconfig.h" "$prefix/include/"

    local png
    png=$(fetch_source "$KESTRAVA_LIBPNG_SOURCE" "$deps/src/libpng")
    logged "$deps/libpng.log" cmake -S "$png" -B "$deps/build/libpng" "${cross[@]}" \
        -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DCMAKE_PREFIX_PATH="$prefix"
    logged "$deps/libpng.log" cmake --build "$deps/build/libpng" -j "$KESTRAVA_JOBS"
    logged "$deps/libpng.log" cmake --install "$deps/build/libpng"
    touch "$stamp"
    echo "windows-deps: libpng and libjpeg built into $prefix"
}
