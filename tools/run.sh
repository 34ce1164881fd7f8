#!/usr/bin/env bash
# Sets up what is missing, builds Tintora and starts it. Without arguments it
# opens a demo project (made under the build folder, again when its maker
# changes) so a first run has something to show; arguments (a project file)
# are passed on.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/setup.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DTINTORA_BUILD_TESTS=OFF \
  -DTINTORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build" -j2 --target tintora tintora-cli
if (($# == 0)); then
  demo="$root/build/demo"
  # Made again whenever the demo's maker is newer than the demo.
  [ "$demo/demo.project" -nt "$root/src/cli/demo_project.cpp" ] ||
    "$root/build/tintora-cli" demo --force "$demo" >/dev/null
  set -- "$demo/demo.project"
fi
exec "$root/build/tintora" "$@"
