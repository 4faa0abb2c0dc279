#!/usr/bin/env bash
# Every include points down: no C or C++ file includes from a folder on a
# higher floor than its own. The floors below are the one place where the
# order is written; a folder counts by its top-level name (store/shared/ is on
# store/'s floor), and folders on one floor may include each other.
#
#   check-includes.sh     (from anywhere in the checkout)
#
# Quoted includes are resolved as the compiler does: beside the including file
# first, then from the repository root (the include path of every target).
# Includes that resolve to neither (system, JUCE, generated headers) are not
# ours and are skipped. Prints each include that points up, with its file and
# line, and exits 1 if there is any; a source file or an included file in a
# folder that has no floor fails too, so that a new folder gets its place.
set -euo pipefail
cd "$(dirname "$0")/.."

# Lowest first. app/ and jobs/ share a floor: the panel's class spans both.
floors=(
    "platform"
    "store"
    "link"
    "app jobs sim"
    "demo"
    "bench fuzz packaging gadget tests"
    "cli"
)
# Folders whose own includes may reach any floor: the tests test every floor
# (kestrava-cli's among them). What they hold counts on their floor above: the
# benchmarks drive the panel through the tests' harness.
unbound=" tests "

declare -A floor_of=()
for i in "${!floors[@]}"; do
    for folder in ${floors[i]}; do floor_of[$folder]=$i; done
done

# The tracked files and the new ones not ignored.
mapfile -t sources < <(git ls-files --cached --others --exclude-standard \
    | grep -E '\.(h|hh|hpp|c|cc|cpp|cxx|mm|inc|ipp)$' || true)

problems=0
checked=0
report() {
    echo "$1"
    problems=$((problems + 1))
}

for file in "${sources[@]}"; do
    [ -f "$file" ] || continue   # deleted but not yet staged
    checked=$((checked + 1))
    own=${file%%/*}
    if [ "$own" = "$file" ] || [ -z "${floor_of[$own]+x}" ]; then
        report "$file: its folder ($own) has no floor in scripts/check-includes.sh"
        continue
    fi
    [[ "$unbound" == *" $own "* ]] && continue
    dir=$(dirname "$file")
    while IFS= read -r hit; do
        line=${hit%%:*}
        inc=${hit#*\"}
        inc=${inc%%\"*}
        if [ -e "$dir/$inc" ]; then
            target="$dir/$inc"
        elif [ -e "$inc" ]; then
            target=$inc
        else
            continue
        fi
        case "$target" in
            *..*) target=$(realpath -m --relative-to=. "$target") ;;
        esac
        theirs=${target%%/*}
        if [ "$theirs" = "$target" ] || [ -z "${floor_of[$theirs]+x}" ]; then
            report "$file:$line: includes \"$inc\" from a folder ($theirs) that has no floor"
        elif [ "${floor_of[$theirs]}" -gt "${floor_of[$own]}" ]; then
            report "$file:$line: includes \"$inc\": $theirs/ is on a floor above $own/"
        fi
    done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+"' "$file" || true)
done

if [ "$problems" -ne 0 ]; then
    echo "check-includes: $problems include(s) point up or out of the floors (of $checked files)"
    echo "The floors, lowest first:"
    printf '  %s\n' "${floors[@]}"
    exit 1
fi
echo "check-includes: every include of $checked files points down or across its floor"
