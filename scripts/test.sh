#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the dispatcher and threading tests under ThreadSanitizer,
#   2. the libFuzzer targets of the serial stack, each for a bounded time,
#   3. the serial stack cross-compiled for Windows, its tests under wine,
#   4. the optimised build that the run command makes, with the benchmarks and the tests
#      (some warnings only appear at -O3, in tests too) and a few quick tests run there,
#      and the Debian packages made from it, checked (scripts/package-tests.sh),
#   5. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer (last, so
#      ctest's summary closes the output).
set -euo pipefail

# The whole script is one function, read before it runs, so editing the file during
# a run cannot change what the run does.
main() {
    cd "$(dirname "$0")/.."
    scripts/install-deps.sh --tests

    jobs=$(nproc)
    export QT_QPA_PLATFORM=offscreen

    cmake -S . -B build/tsan -G Ninja -DORVI_SANITIZER=thread -DORVI_GUI=OFF -DORVI_BENCHMARKS=OFF >/dev/null
    cmake --build build/tsan -j "$jobs"
    TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
        ctest --test-dir build/tsan -L threads -j "$jobs" --output-on-failure

    cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DORVI_FUZZ=ON >/dev/null
    cmake --build build/fuzz -j "$jobs"
    for fuzzer in MatchByteFuzz LogRingFuzz LogReplayFuzz LogIndexFuzz; do
        corpus="build/fuzz/corpus/$fuzzer"
        mkdir -p "$corpus"
        echo "fuzzing $fuzzer for ${FUZZ_SECONDS:-20} s"
        "build/fuzz/tests/fuzz/$fuzzer" -max_total_time="${FUZZ_SECONDS:-20}" -print_final_stats=0 \
            "$corpus" 2>build/fuzz/$fuzzer.log || { tail -40 build/fuzz/$fuzzer.log; exit 1; }
    done

    # The serial stack built for Windows with mingw-w64, its tests run under wine.
    JOBS="$jobs" scripts/wine-tests.sh

    cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVI_TESTS=ON \
        -DORVI_BENCHMARKS=ON >/dev/null
    cmake --build build/release -j "$jobs"
    # The whole suite runs under the sanitizers; here a few quick units whose code the
    # optimiser changes most (rings, parsers, conversions, geometry).
    ctest --test-dir build/release -j "$jobs" --output-on-failure \
        -R '^(dispatch_rings|dispatch_tracelog|platform_termios_mapping|error_model|simulator_protocol|app_core|viewer_csv|widgets_geometry)_test$'
    # The Debian packages made from that tree, installed into a scratch root and checked.
    JOBS="$jobs" ORVI_TESTS=ON scripts/package-tests.sh

    cmake -S . -B build/asan -G Ninja -DORVI_SANITIZER=address >/dev/null
    cmake --build build/asan -j "$jobs"
    ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" \
        ctest --test-dir build/asan -j "$jobs" --output-on-failure
}

main "$@"
