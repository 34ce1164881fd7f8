#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz (core sources only),
# writes a fresh seed corpus and runs each target for a bounded time. Fails
# when any target finds a crash, a leak, a timeout or a broken check; the
# input that did it is kept under build-fuzz/findings.
#
#   bash tests/fuzz/run_fuzzers.sh [SECONDS [TARGET...]]
#
# SECONDS per target (default 10); TARGET is fuzz_settings, fuzz_project,
# fuzz_video_info, fuzz_jpeg or fuzz_container (default all five).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
build="$root/build-fuzz"
seconds="${1:-10}"
if (($# > 0)); then shift; fi
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(fuzz_settings fuzz_project fuzz_video_info fuzz_jpeg fuzz_container)
fi

cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DTINTORA_FUZZ=ON \
  -DTINTORA_BUILD_TESTS=OFF -DTINTORA_BUILD_BENCH=OFF >/dev/null
# In this build folder everything is the core, the targets and the seed maker.
cmake --build "$build" -j2

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/tests/fuzz/make_fuzz_seeds" "$work/seeds"
findings="$build/findings"
mkdir -p "$findings"

# Leaks count as findings; a sanitizer report ends the run at once.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"

failed=()
for target in "${targets[@]}"; do
  kind="${target#fuzz_}"
  corpus="$work/corpus/$kind"
  log="$work/$target.log"
  mkdir -p "$corpus"
  # New inputs go to the first folder; the seeds are only read.
  if "$build/tests/fuzz/$target" -max_total_time="$seconds" -timeout=25 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/$target-" -print_final_stats=1 \
      "$corpus" "$work/seeds/$kind" >"$log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "$target: ${runs:-?} inputs in ${seconds} s, no finding"
  else
    tail -n 80 "$log"
    echo "$target: FINDING (input kept under $findings)"
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "Fuzzing found problems in: ${failed[*]}" >&2
  exit 1
fi
