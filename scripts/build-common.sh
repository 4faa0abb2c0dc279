# shellcheck shell=bash
# Shared by run-demo.sh and run-tests.sh (sourced, not run).

# Build jobs: the machines have 2 cores.
KESTRAVA_JOBS=${KESTRAVA_JOBS:-2}

# The compiler cache (when ccache is installed) takes paths relative to the
# checkout, so clones and worktrees of the repository share cached objects.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}
export CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

# install_unless_skipped <script name> [arguments...]: the one option of the
# build scripts, --skip-install; without it, missing Debian packages are installed.
install_unless_skipped() {
    local name=$1 skip=0 arg
    shift
    for arg in "$@"; do
        case "$arg" in
            --skip-install) skip=1 ;;
            *) echo "$name: unknown option $arg" >&2; exit 2 ;;
        esac
    done
    [ "$skip" -eq 1 ] || bash scripts/install-deps.sh
}

# configure_tree <build dir> [cmake options...]
# Configures a build tree with Ninja; an existing tree keeps its generator.
configure_tree() {
    local dir=$1
    shift
    local generator=()
    [ -f "$dir/CMakeCache.txt" ] || generator=(-G Ninja)
    cmake -S . -B "$dir" "${generator[@]}" "$@"
}

# build_tree <build dir> [targets...]  (no target: everything)
build_tree() {
    local dir=$1
    shift
    if [ $# -eq 0 ]; then
        cmake --build "$dir" -j "$KESTRAVA_JOBS"
    else
        cmake --build "$dir" -j "$KESTRAVA_JOBS" --target "$@"
    fi
}

# The display server options for GUI runs under Xvfb.
# -noreset: by default Xvfb resets itself when its last client leaves, and a
# program that connects during the reset is refused (GUI checks run side by side).
export KESTRAVA_XVFB_ARGS="-screen 0 1280x1024x24 -nolisten tcp -noreset"
