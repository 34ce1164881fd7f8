#!/usr/bin/env bash
# Sets up what is missing, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, runs every test through ctest, then runs the
# fuzz targets briefly.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-sanitize"
bash "$root/tools/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DTINTORA_SANITIZE=ON >/dev/null
cmake --build "$build" -j2
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$root/tools/lsan.supp:print_suppressions=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
ctest --test-dir "$build" -j2 --output-on-failure
# Then each libFuzzer target for ten seconds, built with clang in build-fuzz.
bash "$root/tests/fuzz/run_fuzzers.sh" 10
