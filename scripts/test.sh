#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test:
#   1. the dispatcher and threading tests under ThreadSanitizer,
#   2. the whole suite under AddressSanitizer + UndefinedBehaviorSanitizer (last, so
#      ctest's summary closes the output).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build/tsan -G Ninja -DORVI_SANITIZER=thread -DORVI_GUI=OFF -DORVI_BENCHMARKS=OFF >/dev/null
cmake --build build/tsan -j "$jobs"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    ctest --test-dir build/tsan -L threads -j "$jobs" --output-on-failure

cmake -S . -B build/asan -G Ninja -DORVI_SANITIZER=address >/dev/null
cmake --build build/asan -j "$jobs"
ASAN_OPTIONS="detect_leaks=1" UBSAN_OPTIONS="print_stacktrace=1" \
    ctest --test-dir build/asan -j "$jobs" --output-on-failure
