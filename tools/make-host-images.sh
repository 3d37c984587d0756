#!/bin/sh
# Draws the installer window's images and the program icon (no fonts needed):
#   make-host-images.sh CONVERT OUTPUT_DIR
# CONVERT is ImageMagick's convert (Debian's convert-im6.q16). Metadata and time chunks are
# left out so that a rebuild gives the same bytes.
set -eu
convert=$1
out=$2
mkdir -p "$out"
strip="-strip -define png:exclude-chunks=date,time"
# The window background (JPG, 139): a soft vertical gradient.
"$convert" -size 640x480 gradient:'#ffffff-#dfe7f4' -strip -quality 90 "$out/background.jpg"
# The logo (PNG with alpha, 140): a red ring around a "V".
"$convert" -size 96x96 xc:none -fill '#ff1b2c' -draw 'circle 48,48 48,4' \
  -fill white -draw 'circle 48,48 48,14' \
  -fill '#ff1b2c' -draw 'polygon 26,28 39,28 48,56 57,28 70,28 54,72 42,72' \
  $strip "PNG32:$out/logo.png"
# The error badge (PNG with alpha, 141): a red disc with an exclamation mark.
"$convert" -size 32x32 xc:none -fill '#d32f2f' -draw 'circle 16,16 16,1' \
  -fill white -draw 'rectangle 14,7 18,19' -draw 'rectangle 14,22 18,26' \
  $strip "PNG32:$out/error_badge.png"
# The program icon (1), from the logo in the sizes Windows asks for.
"$convert" "PNG32:$out/logo.png" -define icon:auto-resize=48,32,16 "$out/velum.ico"
