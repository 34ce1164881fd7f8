#!/usr/bin/env bash
# Renders the icon's PNG sizes from tintora.svg; run it after changing the
# picture and commit the PNGs (the build installs them as they are, so it
# needs no SVG renderer). Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
for size in 16 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" "$here/tintora.svg" --output "$here/tintora_$size.png"
done
