#!/usr/bin/env bash
# Draws the program's icon (a receiver box with a download arrow) at 32x32 and 16x16 in at most
# 16 colours. Run once with ImageMagick; the PNGs are kept in the tree.
set -euo pipefail
cd "$(dirname "$0")"

convert -size 32x32 xc:none \
  -fill '#f0b000' -stroke '#6a4a00' -strokewidth 1 \
  -draw 'polygon 12,1 19,1 19,8 25,8 15.5,16 6,8 12,8' \
  -fill '#1f4f8f' -stroke '#0a1a33' -draw 'roundrectangle 1,17 30,29 2,2' \
  -fill '#0a1a33' -stroke none -draw 'rectangle 4,20 19,21' \
  -fill '#0a1a33' -draw 'rectangle 4,24 19,25' \
  -fill '#30e030' -draw 'rectangle 24,21 26,23' \
  -fill '#9fc2f0' -draw 'line 2,18 29,18' \
  -colors 16 PNG8:irdload-32.png

convert -size 16x16 xc:none \
  -fill '#f0b000' -stroke '#6a4a00' -strokewidth 1 \
  -draw 'polygon 6,0 9,0 9,3 12,3 7.5,7 3,3 6,3' \
  -fill '#1f4f8f' -stroke '#0a1a33' -draw 'rectangle 0,8 15,14' \
  -fill '#0a1a33' -stroke none -draw 'rectangle 2,10 9,10' \
  -fill '#0a1a33' -draw 'rectangle 2,12 9,12' \
  -fill '#30e030' -draw 'rectangle 12,10 13,11' \
  -colors 16 PNG8:irdload-16.png

# The Windows program's icon 128: both pictures in one .ico, 16 colours each.
convert irdload-32.png irdload-16.png -colors 16 ../../win/irdload.ico
