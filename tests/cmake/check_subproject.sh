#!/usr/bin/env bash
# The project as part of another CMake project: a tiny parent project adds it
# with add_subdirectory, and the configure step, the generated build files and
# a dry run of the whole build (every source and generated input accounted
# for) must succeed. Nothing is compiled.
#
#   check_subproject.sh <source dir> [cmake options for the project...]
set -uo pipefail

src=$(cd "${1:?usage: check_subproject.sh <source dir> [cmake options...]}" && pwd)
shift
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAIL: $*"
    [ -s "$work/log" ] && tail -n 40 "$work/log"
    exit 1
}

mkdir -p "$work/parent"
cat >"$work/parent/CMakeLists.txt" <<CMAKE
cmake_minimum_required(VERSION 3.22)
project(Parent LANGUAGES C CXX)
add_subdirectory("$src" kestrava)
foreach(t Kestrava KestravaDemo kestrava-cli)
    if(NOT TARGET \${t})
        message(FATAL_ERROR "the parent does not see the target \${t}")
    endif()
endforeach()
CMAKE

cmake -S "$work/parent" -B "$work/build" -G Ninja "$@" >"$work/log" 2>&1 \
    || fail "configuring the project inside a parent project failed"
cmake --build "$work/build" -- -n >>"$work/log" 2>&1 \
    || fail "the build files of the parent project name inputs that do not exist"
# The project's outputs stay in its own binary folder.
[ -d "$work/build/kestrava/demo" ] || fail "the demo's build folder is not under the project's binary folder"
echo "PASS: configured and generated as a subdirectory of a parent project"
