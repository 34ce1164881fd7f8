#!/usr/bin/env bash
# Sets up what is missing, builds Tintora and starts it.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DTINTORA_BUILD_TESTS=OFF \
  -DTINTORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build" -j2 --target tintora
exec "$root/build/tintora" "$@"
