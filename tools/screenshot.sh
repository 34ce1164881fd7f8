#!/usr/bin/env bash
# Refreshes the pictures of the demo project, taken on a virtual screen:
# docs/demo.png (the main window and the colour palette window) and the
# guide's pictures docs/guide/guide_{en,ru}_{main,palette,video}.png (the
# main window, the colour palette window and the video window's Parameters
# tab, in each interface language). TINTORA_SCREENSHOT_DISPLAY names the
# virtual screen (default :57).
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

display="${TINTORA_SCREENSHOT_DISPLAY:-:57}"
Xvfb "$display" -screen 0 1600x900x24 >/dev/null 2>&1 &
xvfb=$!
tintora=""
scratch="$(mktemp -d)"
trap 'kill $tintora $xvfb 2>/dev/null || true; rm -rf "$scratch"' EXIT
export DISPLAY="$display"
for _ in $(seq 1 20); do
  xdotool getmouselocation >/dev/null 2>&1 && break
  sleep 0.5
done

# Starts the program on the demo project from a folder of its own, whose
# settings file chooses the interface language: the settings beside the
# build's program stay as they are.
start_in() {
  local language=$1
  local folder="$scratch/$language"
  mkdir -p "$folder"
  cp "$root/build/tintora" "$folder/"
  printf 'LANG=%s\nTEMP=%s\nFFMPEG=%s\nFFPLAY=%s\n' "$language" "$folder/Temp" \
    "$(command -v ffmpeg)" "$(command -v ffplay || echo ffplay)" >"$folder/Tintora.ini"
  # The virtual screen now and then refuses a new client for a moment: the
  # program is started again when it could not open its windows.
  for _ in 1 2 3; do
    "$folder/tintora" "$demo/demo.project" >"$folder/output.log" 2>&1 &
    tintora=$!
    # The project opens the video window over the main window; the clip is
    # imported meanwhile.
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

# Menu and tab places differ with the texts of each language.
declare -A edit_menu_x=([eng]=54 [rus]=93)
declare -A parameters_tab_x=([eng]=184 [rus]=262)
declare -A guide_name=([eng]=en [rus]=ru)

mkdir -p "$root/docs/guide"
for language in eng rus; do
  start_in "$language"
  main=$(xdotool search --name "^Tintora for Video in Panorama$" | head -1)
  video=$(xdotool search --name "^Video - " | head -1)
  xdotool windowunmap "$video"
  xdotool windowmove "$main" 0 0
  # Edit > Color palette, by the menu's place on the window.
  xdotool mousemove "${edit_menu_x[$language]}" 8 click 1
  sleep 0.5
  xdotool mousemove 120 46 click 1
  sleep 1.5
  palette=$(xdotool search --name "^(Color palette|Коррекция яркости)$" | head -1)
  xdotool windowmove "$palette" 740 0
  xdotool mousemove 1590 890
  sleep 1
  if [ "$language" = eng ]; then
    import -window root -crop 1600x780+0+0 "$root/docs/demo.png"
  fi
  name="${guide_name[$language]}"
  shoot_window "$main" 80% "$root/docs/guide/guide_${name}_main.png"
  shoot_window "$palette" 75% "$root/docs/guide/guide_${name}_palette.png"
  # The video window's Parameters tab, over the others.
  xdotool windowunmap "$palette"
  xdotool windowmap "$video"
  sleep 0.5
  xdotool windowmove "$video" 0 0
  xdotool windowraise "$video"
  sleep 0.5
  xdotool mousemove "${parameters_tab_x[$language]}" 27 click 1
  xdotool mousemove 1590 890
  sleep 1
  shoot_window "$video" 75% "$root/docs/guide/guide_${name}_video.png"
  stop_program
done
echo "$root/docs/demo.png"
ls "$root"/docs/guide/*.png
