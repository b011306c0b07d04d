#!/usr/bin/env bash
# Draws the application icon (a white shield with a "T" on a blue rounded
# square) and writes app.ico with 16, 32, 48 and 256 px images; the 256 px
# one is stored as PNG, as Windows expects for that size. Needs ImageMagick
# (scripts/setup.sh installs it). The result is committed; rerun this only
# to change the artwork.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

convert -size 256x256 xc:none \
  -fill '#1f4e79' -draw 'roundrectangle 8,8 247,247 40,40' \
  -fill white \
  -draw 'path "M 128,36 L 204,64 L 204,128 C 204,176 170,206 128,222 C 86,206 52,176 52,128 L 52,64 Z"' \
  -fill '#1f4e79' -draw 'rectangle 116,92 140,170' -draw 'rectangle 84,92 172,116' \
  -depth 8 "PNG32:$tmp/master.png"

# Timestamps left out so that rerunning gives the same bytes.
convert "$tmp/master.png" -strip -define png:exclude-chunks=date,time \
  -define icon:auto-resize=256,48,32,16 "$here/app.ico"
identify "$here/app.ico"
