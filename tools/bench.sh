#!/usr/bin/env bash
# Sets up what is missing, builds the benchmark program optimised and runs it.
# Extra arguments go to the benchmark (for example --benchmark_filter=Correct).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/setup.sh"
cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=Release -DTINTORA_BUILD_TESTS=OFF \
  -DTINTORA_BUILD_BENCH=ON >/dev/null
cmake --build "$root/build-bench" -j2 --target tintora_bench
exec "$root/build-bench/bench/tintora_bench" "$@"
