#!/usr/bin/env bash
# Builds Kestrava and runs every test: the whole suite in build/, the Windows
# build under Wine and the Debian package (both in dist/), the programs on a
# real Linux MIDI stack (a USB-MIDI card in a QEMU guest), then the suite again
# under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer in
# build-asan/ (clang; the fuzz targets are built in the same tree and each
# runs for a short while), and the tests of the MIDI input thread, the bus and
# the whole updates under ThreadSanitizer in build-tsan/ (any sanitizer report
# fails the run). Tests
# labelled "gui" run on a virtual display (Xvfb); all others run with no
# display at all. First of all, scripts/check-includes.sh checks that every
# include points down the folders' floors. Prints the time of every stage at the end.
# Installs missing Debian packages first. Exits non-zero on any failure.
#
# Options (for developers; the plain command runs everything):
#   --skip-install   do not check the Debian packages
#   --main-only      only build/ (no Windows, package, sanitizer, benchmark or fuzz stages)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/build-common.sh

skip_install=0
main_only=0
for arg in "$@"; do
    case "$arg" in
        --skip-install) skip_install=1 ;;
        --main-only) main_only=1 ;;
        *) echo "run-tests: unknown option $arg" >&2; exit 2 ;;
    esac
done

started=$SECONDS
failed_stages=()
total_passed=0
total_failed=0
logs=$(mktemp -d)
trap 'rm -rf "$logs"' EXIT

stage_names=()
stage_starts=()
stage() {
    local t=$((SECONDS - started))
    stage_names+=("$*")
    stage_starts+=("$SECONDS")
    printf '\n==== %s  [%02d:%02d elapsed]\n' "$*" $((t / 60)) $((t % 60))
}

# The time each stage took, up to the start of the next one.
print_stage_times() {
    local i end d
    echo "Stage times:"
    for i in "${!stage_names[@]}"; do
        end=${stage_starts[$((i + 1))]:-$SECONDS}
        d=$((end - stage_starts[i]))
        printf '  %3d:%02d  %s\n' $((d / 60)) $((d % 60)) "${stage_names[i]}"
    done
}

# Adds one ctest run's counts (from its log) to the totals, and the names of
# its failed tests (ctest's list at its end) to those the summary repeats, so
# that a failure deep in a long log is named again at the end.
failed_tests=()
count_results() {
    local line
    while IFS= read -r line; do
        failed_tests+=("$(basename "$1" .log): ${line#"${line%%[![:space:]]*}"}")
    done < <(sed -n '/^The following tests FAILED:/,/^[^[:space:]]/{/^[[:space:]]/p}' "$1")
    line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n1 || true)
    [ -n "$line" ] || return 0
    local failed total
    failed=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    total_failed=$((total_failed + failed))
    total_passed=$((total_passed + total - failed))
}

# run_suite <build dir> <name>: every test of the tree; "gui" tests on Xvfb.
run_suite() {
    local dir=$1 name=$2 log
    local common=(--test-dir "$dir" --output-on-failure -j "$KESTRAVA_JOBS" --timeout 900)

    log="$logs/$name-headless.log"
    if ! env -u DISPLAY -u WAYLAND_DISPLAY ctest "${common[@]}" -LE '^gui$' 2>&1 | tee "$log"; then
        failed_stages+=("$name: tests")
    fi
    count_results "$log"

    log="$logs/$name-gui.log"
    if ! xvfb-run -a -s "$KESTRAVA_XVFB_ARGS" ctest "${common[@]}" -L '^gui$' 2>&1 | tee "$log"; then
        failed_stages+=("$name: GUI tests")
    fi
    count_results "$log"
}

# ---- 0. Every include points down -------------------------------------------------
# No file includes from a folder on a higher floor (the floors are written in
# the script); each include that does is printed with its file and line.
stage "include check (scripts/check-includes.sh)"
if ! bash scripts/check-includes.sh; then
    failed_stages+=("include check")
fi

if [ "$skip_install" -eq 0 ]; then
    stage "Debian packages"
    bash scripts/install-deps.sh
fi

# ---- 1. The whole suite, as shipped -----------------------------------------
stage "build/ (RelWithDebInfo)"
configure_tree build -DCMAKE_BUILD_TYPE=RelWithDebInfo
build_tree build
stage "tests in build/"
run_suite build main

if [ "$main_only" -eq 0 ]; then

# ---- 2. Benchmark smoke run ----------------------------------------------------
# Keeps the benchmark program building and running; its figures are not
# checked here. KESTRAVA_BENCH_SMOKE=1 asks the program for tiny sizes.
bench=build/bench/kestrava_bench
if [ -x "$bench" ]; then
    stage "benchmark smoke run"
    if ! KESTRAVA_BENCH_SMOKE=1 timeout 600 "$bench" --benchmark_min_time=0.01 >"$logs/bench.log" 2>&1; then
        cat "$logs/bench.log"
        failed_stages+=("benchmark smoke run")
    else
        tail -n 20 "$logs/bench.log"
    fi
else
    stage "benchmark smoke run: no benchmark program yet, skipped"
fi

# ---- 3. Windows build, proven under Wine ------------------------------------------
# scripts/build-windows.sh cross-compiles the three programs with MinGW-w64
# and packs the zip; the programs then run from the unpacked zip under Wine
# (fresh prefix): the command line against the simulated module, and the
# demo's window on a virtual display, read back by OCR.
stage "Windows build (MinGW-w64, build-windows/)"
if bash scripts/build-windows.sh --skip-install; then
    stage "Windows programs under Wine"
    unpacked=$(mktemp -d)
    if ! unzip -q dist/Kestrava-windows-x64.zip -d "$unpacked" \
            || ! timeout 900 bash tests/wine/check_windows_build.sh "$unpacked/Kestrava" build-windows/wine-artifacts; then
        failed_stages+=("Windows programs under Wine")
    fi
    rm -rf "$unpacked"
else
    failed_stages+=("Windows build")
fi

# ---- 4. Debian package ----------------------------------------------------------
# scripts/package-deb.sh packs build/'s programs; the package is unpacked into
# a scratch root and its kestrava-cli updates the simulated module from there.
stage "Debian package (dist/)"
if bash scripts/package-deb.sh --skip-install; then
    stage "Debian package: unpacked and run"
    if ! timeout 600 bash tests/package/check_deb_package.sh dist/kestrava_3.0_amd64.deb; then
        failed_stages+=("Debian package: unpacked and run")
    fi
else
    failed_stages+=("Debian package")
fi

# ---- 4b. Real MIDI hardware ------------------------------------------------------
# A Linux guest under QEMU with a USB-MIDI card (dummy_hcd and a gadget's MIDI
# function, snd-usb-audio on the host side): kestrava-cli, Kestrava's window
# and the Windows build under Wine on the card, the simulated module on its
# device side (tests/hardware/). Skipped only where QEMU cannot run at all.
# qemu_runs: QEMU starts here with its TCG accelerator (and quits at once).
qemu_runs() {
    command -v qemu-system-x86_64 >/dev/null \
        && echo quit | timeout 30 qemu-system-x86_64 -machine none -accel tcg -nodefaults -display none -monitor stdio >/dev/null 2>&1
}
if ! qemu_runs; then
    stage "real MIDI hardware (QEMU guest): QEMU cannot run here, skipped"
else
    stage "real MIDI hardware (QEMU guest)"
    log="$logs/hardware.log"
    if ! timeout 2400 bash tests/hardware/check_hardware.sh build build/hardware-artifacts 2>&1 | tee "$log"; then
        failed_stages+=("real MIDI hardware (QEMU guest)")
    fi
    # Its closing line: "N passed, N failed".
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n1 || true)
    if [ -n "$line" ]; then
        total_passed=$((total_passed + ${line%% passed*}))
        line=${line#*, }
        total_failed=$((total_failed + ${line%% failed}))
    fi
fi

# ---- 5. AddressSanitizer + UndefinedBehaviorSanitizer ------------------------
# The sanitizer trees build with -O1 and line tables only (-g1), enough for
# symbolised reports, to keep their builds and runs short.
sanitizer_flags=("-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g1 -DNDEBUG")
# Every report fails: ASan and UBSan stop the process with a non-zero exit, and so does a leak
# (LeakSanitizer runs inside ASan; set KESTRAVA_ASAN_DETECT_LEAKS=0 to look
# at other reports first). The environment also covers the build itself,
# since the build runs our generator and the test discovery.
stage "build-asan/ (clang, ASan + UBSan, -O1)"
lsan_supp="$PWD/tests/sanitizers/lsan.supp"
export ASAN_OPTIONS="halt_on_error=1:detect_leaks=${KESTRAVA_ASAN_DETECT_LEAKS:-1}:print_summary=1"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:print_summary=1"
if [ -f "$lsan_supp" ]; then
    export LSAN_OPTIONS="suppressions=$lsan_supp:print_suppressions=0"
fi
# The tree is built with clang so that the fuzz targets (clang's libFuzzer)
# come out of the same build: one more tree of the whole program would cost
# as much time as this one.
fuzz_args=()
if [ -f fuzz/CMakeLists.txt ]; then fuzz_args=(-DKESTRAVA_BUILD_FUZZ=ON); fi
if [ -f build-asan/CMakeCache.txt ] && ! grep -q '^CMAKE_CXX_COMPILER:[A-Z]*=.*clang++' build-asan/CMakeCache.txt; then
    rm -rf build-asan/CMakeCache.txt build-asan/CMakeFiles   # made with another compiler: configure afresh
fi
configure_tree build-asan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRAVA_SANITIZE=ON -DKESTRAVA_BUILD_BENCH=OFF \
    "${fuzz_args[@]}" "${sanitizer_flags[@]}"
build_tree build-asan
stage "tests in build-asan/"
run_suite build-asan asan

# ---- 6. LeakSanitizer ------------------------------------------------------------
# Leaks are checked in the ASan run above (detect_leaks=1: LeakSanitizer runs
# when each test process ends and a leak makes it fail). Where LeakSanitizer
# cannot work (some containers forbid what it needs) it would find nothing
# and say little, so a program that leaks on purpose must be caught here.
stage "LeakSanitizer check"
canary="$logs/leak-canary"
printf '#include <cstdlib>\nvoid* volatile p;\nint main() { p = std::malloc (64); p = nullptr; return 0; }\n' >"$canary.cpp"
if ! c++ -fsanitize=address -O0 "$canary.cpp" -o "$canary"; then
    failed_stages+=("LeakSanitizer check: the canary does not build")
elif ASAN_OPTIONS="detect_leaks=1" "$canary" >"$canary.log" 2>&1 || ! grep -q 'LeakSanitizer: detected memory leaks' "$canary.log"; then
    cat "$canary.log"
    failed_stages+=("LeakSanitizer check: a leak went unreported, so the ASan run proves nothing about leaks")
else
    echo "LeakSanitizer reports leaks here; ASAN_OPTIONS=$ASAN_OPTIONS"
fi

# ---- 7. ThreadSanitizer ---------------------------------------------------------
# A clang build of the tests that involve the MIDI input thread, the bus and
# the end-to-end scenarios (the suites named below, kestrava-cli's among them);
# only the test program (with kestrava-cli, which its tests run) and the
# demo's data folder (the panel tests read it) are built. Any report
# stops the test process (halt_on_error), which fails it.
tsan_ctest_args=(-R '^(Link|Sim|UpdateFlow|Panel|JobRunner|BadInput|Cli)[A-Za-z]*\.')
if [ ${#tsan_ctest_args[@]} -gt 0 ]; then
    stage "build-tsan/ (ThreadSanitizer, -O1)"
    export TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1"
    configure_tree build-tsan -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRAVA_TSAN=ON -DKESTRAVA_BUILD_BENCH=OFF \
        "${sanitizer_flags[@]}"
    build_tree build-tsan kestrava_tests kestrava_demo_data
    stage "tests in build-tsan/"
    log="$logs/tsan.log"
    if ! env -u DISPLAY -u WAYLAND_DISPLAY ctest --test-dir build-tsan --output-on-failure -j "$KESTRAVA_JOBS" \
            --timeout 900 "${tsan_ctest_args[@]}" 2>&1 | tee "$log"; then
        failed_stages+=("tsan: tests")
    fi
    count_results "$log"
else
    stage "ThreadSanitizer build: not set up yet, skipped"
fi

# ---- 8. Fuzz smoke runs -------------------------------------------------------
# Each libFuzzer target (an executable named fuzz_* in build-asan/fuzz/) runs
# for KESTRAVA_FUZZ_SECONDS (30) on a scratch copy of its seeds: those that
# kestrava_fuzz_seeds writes (from the demo's data folder and captured wire
# traffic) and those kept in fuzz/corpus/<target>/, when either exists. The
# targets run KESTRAVA_JOBS at a time.
fuzz_targets=()
for target in build-asan/fuzz/fuzz_*; do
    if [ -f "$target" ] && [ -x "$target" ]; then fuzz_targets+=("$target"); fi
done
if [ -f fuzz/CMakeLists.txt ] && [ ${#fuzz_targets[@]} -eq 0 ]; then
    stage "fuzz smoke runs"
    echo "no fuzz targets were built"
    failed_stages+=("fuzz: no targets")
elif [ ${#fuzz_targets[@]} -eq 0 ]; then
    stage "fuzz smoke runs: no fuzz targets yet, skipped"
else
    stage "fuzz smoke runs (${KESTRAVA_FUZZ_SECONDS:-30} s each)"
    corpora="$logs/corpus"
    mkdir -p "$corpora"
    if [ -x build-asan/fuzz/kestrava_fuzz_seeds ]; then
        build-asan/fuzz/kestrava_fuzz_seeds "$corpora" build/demo >"$logs/seeds.log" 2>&1 \
            || { cat "$logs/seeds.log"; failed_stages+=("fuzz: seeds"); }
    fi
    # fuzz_batch <targets...>: runs them side by side and reports each.
    fuzz_batch() {
        local target name pids=() names=() i
        for target in "$@"; do
            name=$(basename "$target")
            mkdir -p "$corpora/$name"
            if [ -d "fuzz/corpus/$name" ]; then cp -r "fuzz/corpus/$name/." "$corpora/$name/"; fi
            "$target" -seed=1 -max_total_time="${KESTRAVA_FUZZ_SECONDS:-30}" -timeout=10 -rss_limit_mb=2048 \
                -print_final_stats=1 "$corpora/$name" >"$logs/$name.log" 2>&1 &
            pids+=($!)
            names+=("$name")
        done
        for i in "${!pids[@]}"; do
            name=${names[i]}
            if wait "${pids[i]}"; then
                echo "$name: $(grep -E '^stat::number_of_executed_units' "$logs/$name.log" || echo 'no stats')"
            else
                echo "---- $name failed:"
                tail -n 60 "$logs/$name.log"
                failed_stages+=("fuzz: $name")
            fi
        done
    }
    for ((i = 0; i < ${#fuzz_targets[@]}; i += KESTRAVA_JOBS)); do
        fuzz_batch "${fuzz_targets[@]:i:KESTRAVA_JOBS}"
    done
fi

fi   # main_only

# ---- Summary ----------------------------------------------------------------------
t=$((SECONDS - started))
stage "done in $((t / 60)) min $((t % 60)) s"
print_stage_times
if [ ${#failed_stages[@]} -ne 0 ]; then
    echo "Failed stages:"
    printf '  %s\n' "${failed_stages[@]}"
fi
if [ ${#failed_tests[@]} -ne 0 ]; then
    echo "Failed tests (their output is in the stage's log above):"
    printf '  %s\n' "${failed_tests[@]}"
fi
echo "Summary: $total_passed passed, $total_failed failed"
[ ${#failed_stages[@]} -eq 0 ]
