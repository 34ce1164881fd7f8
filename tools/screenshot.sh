#!/usr/bin/env bash
# Refreshes the pictures of the demo project, taken on a virtual screen as a
# first start lays the windows out (side by side, the palette open):
# docs/demo.png (the three windows once "Match colours" has matched the
# clip) and the guide's pictures docs/guide/guide_{en,ru}_*.png, in each
# interface language: the main window before matching (main) and after it
# (matched), the colour palette window after it (palette) and the video
# window's Parameters tab (video). TINTORA_SCREENSHOT_DISPLAY names the
# virtual screen's display (default: a free one); TINTORA_BUILD_DIR the build
# folder (default build, made here as a Release build).
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${TINTORA_BUILD_DIR:-$root/build}"
bash "$root/tools/setup.sh"
for package in xvfb imagemagick xdotool; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    apt-get install -y -qq --no-install-recommends "$package" >/dev/null
done
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DTINTORA_BUILD_TESTS=OFF \
  -DTINTORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j2 --target tintora tintora-cli
# Made again whenever the demo's maker is newer than the demo.
demo="$build/demo"
[ "$demo/demo.project" -nt "$root/src/cli/demo_project.cpp" ] ||
  "$build/tintora-cli" demo --force "$demo" >/dev/null

tintora=""
scratch="$(mktemp -d)"
# A virtual screen of its own, wide enough for the three windows side by
# side: on a free display the server picks (it names it on descriptor 3),
# so that a screen someone else uses is never taken for it.
if [ -n "${TINTORA_SCREENSHOT_DISPLAY:-}" ]; then
  Xvfb "$TINTORA_SCREENSHOT_DISPLAY" -screen 0 2600x1000x24 >/dev/null 2>&1 &
else
  Xvfb -displayfd 3 -screen 0 2600x1000x24 3>"$scratch/display" >/dev/null 2>&1 &
fi
xvfb=$!
trap 'kill $tintora $xvfb 2>/dev/null || true; rm -rf "$scratch"' EXIT
for _ in $(seq 1 40); do
  [ -n "${TINTORA_SCREENSHOT_DISPLAY:-}" ] || [ -s "$scratch/display" ] && break
  sleep 0.25
done
display="${TINTORA_SCREENSHOT_DISPLAY:-:$(cat "$scratch/display" 2>/dev/null)}"
export DISPLAY="$display"
for _ in $(seq 1 20); do
  xdotool getmouselocation >/dev/null 2>&1 && break
  sleep 0.5
done
# A display already taken makes the server end at once: stop rather than
# work on someone else's screen.
if ! kill -0 "$xvfb" 2>/dev/null; then
  echo "No virtual screen on display ${display}; name a free one in TINTORA_SCREENSHOT_DISPLAY" >&2
  exit 1
fi

# Starts the program on the demo project from a folder of its own, whose
# settings file chooses the interface language: the settings beside the
# build's program stay as they are.
start_in() {
  local language=$1
  local folder="$scratch/$language"
  mkdir -p "$folder"
  cp "$build/tintora" "$folder/"
  printf 'LANG=%s\nTEMP=%s\nFFMPEG=%s\nFFPLAY=%s\n' "$language" "$folder/Temp" \
    "$(command -v ffmpeg)" "$(command -v ffplay || echo ffplay)" >"$folder/Tintora.ini"
  # The virtual screen now and then refuses a new client for a moment: the
  # program is started again when it could not open its windows.
  for _ in 1 2 3; do
    "$folder/tintora" "$demo/demo.project" >"$folder/output.log" 2>&1 &
    tintora=$!
    # The project shows the video window; the clip is imported meanwhile.
    for _ in $(seq 1 60); do
      xdotool search --name "^Video - " >/dev/null 2>&1 && break
      kill -0 "$tintora" 2>/dev/null || break
      sleep 0.5
    done
    kill -0 "$tintora" 2>/dev/null && break
    wait "$tintora" 2>/dev/null || true
    sleep 1
  done
  sleep 3
}

stop_program() {
  kill "$tintora" 2>/dev/null || true
  wait "$tintora" 2>/dev/null || true
  tintora=""
}

# A window as the screen shows it, with few colours and no more pixels than
# a page needs, so the picture stays small.
shoot_window() {
  local window=$1 scale=$2 output=$3
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" "$scratch/window.png"
  convert "$scratch/window.png" -resize "$scale" -colors 192 "PNG8:$output"
}

# The pointer out of every picture: the screen's bottom right corner.
rest_pointer() { xdotool mousemove 2590 990; }

# Tab places differ with the texts of each language.
declare -A parameters_tab_x=([eng]=184 [rus]=262)
declare -A guide_name=([eng]=en [rus]=ru)

mkdir -p "$root/docs/guide"
for language in eng rus; do
  start_in "$language"
  main=$(xdotool search --name "^Tintora for Video in Panorama$" | head -1)
  video=$(xdotool search --name "^Video - " | head -1)
  palette=$(xdotool search --name "^(Color palette|Коррекция яркости)$" | head -1)
  rest_pointer
  sleep 1
  name="${guide_name[$language]}"
  shoot_window "$main" 80% "$root/docs/guide/guide_${name}_main.png"
  # Edit > Match colours, reached by keys whatever the texts' widths: the
  # File menu opened, Right to Edit (its first item lit), down to the fourth.
  eval "$(xdotool getwindowgeometry --shell "$main")"
  xdotool mousemove $((X + 14)) $((Y + 7)) click 1
  sleep 0.5
  xdotool key Right Down Down Down Return
  rest_pointer
  sleep 5
  shoot_window "$main" 80% "$root/docs/guide/guide_${name}_matched.png"
  shoot_window "$palette" 75% "$root/docs/guide/guide_${name}_palette.png"
  if [ "$language" = eng ]; then
    # The three windows as they stand side by side, the video window's frame
    # as the clip shows it beside the matched one in the panorama.
    eval "$(xdotool getwindowgeometry --shell "$main")"
    bottom=$((Y + HEIGHT))
    eval "$(xdotool getwindowgeometry --shell "$palette")"
    # The bare screen under the palette, greyed like a desktop.
    bare="$((X + 2)),$((bottom - 2))"
    eval "$(xdotool getwindowgeometry --shell "$video")"
    bottom=$((bottom > Y + HEIGHT ? bottom : Y + HEIGHT))
    import -window root -crop "$((X + WIDTH))x${bottom}+0+0" "$scratch/screen.png"
    convert "$scratch/screen.png" -fill '#9aa0a6' -draw "color $bare floodfill" \
      -resize 1800x "$root/docs/demo.png"
  fi
  # The video window's Parameters tab.
  eval "$(xdotool getwindowgeometry --shell "$video")"
  xdotool mousemove $((X + ${parameters_tab_x[$language]})) $((Y + 27)) click 1
  rest_pointer
  sleep 1
  shoot_window "$video" 75% "$root/docs/guide/guide_${name}_video.png"
  stop_program
done
echo "$root/docs/demo.png"
ls "$root"/docs/guide/*.png
