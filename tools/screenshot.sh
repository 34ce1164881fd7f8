#!/usr/bin/env bash
# Refreshes docs/demo.png: the demo project in the main window and the
# colour palette window, taken on a virtual screen.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
bash "$root/tools/setup.sh"
for package in xvfb imagemagick xdotool; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    apt-get install -y -qq --no-install-recommends "$package" >/dev/null
done
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release -DTINTORA_BUILD_TESTS=OFF \
  -DTINTORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build" -j2 --target tintora tintora-cli
demo="$root/build/demo"
[ -f "$demo/demo.project" ] || "$root/build/tintora-cli" demo --force "$demo" >/dev/null

display=":57"
Xvfb "$display" -screen 0 1600x900x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$tintora" "$xvfb" 2>/dev/null || true' EXIT
export DISPLAY="$display"
sleep 1
"$root/build/tintora" "$demo/demo.project" >/dev/null 2>&1 &
tintora=$!
# The project opens the video window over the main window; the clip is
# imported meanwhile.
for _ in $(seq 1 60); do
  xdotool search --name "^Video - " >/dev/null 2>&1 && break
  sleep 0.5
done
sleep 3
main=$(xdotool search --name "^Tintora for Video in Panorama$" | head -1)
video=$(xdotool search --name "^Video - " | head -1)
xdotool windowunmap "$video"
xdotool windowmove "$main" 0 0
# Edit > Color palette, by the menu's place on the window.
xdotool mousemove 54 8 click 1
sleep 0.5
xdotool mousemove 90 48 click 1
sleep 1.5
palette=$(xdotool search --name "^Color palette$" | head -1)
xdotool windowmove "$palette" 740 0
sleep 1
mkdir -p "$root/docs"
import -window root -crop 1600x780+0+0 "$root/docs/demo.png"
echo "$root/docs/demo.png"
