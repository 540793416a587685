#!/bin/sh
# Renders the about box's logo (222 x 64, baseline JPEG) with ImageMagick: a dark blue
# band with the vendor's name and a row of signal bars. Run from anywhere; writes logo.jpg
# next to this script. The DejaVu fonts come with ImageMagick's dependencies.
set -e
cd "$(dirname "$0")"
convert -size 222x64 gradient:'#0b2e59'-'#1f6fb5' \
  -fill '#f2b705' -draw 'rectangle 12,40 17,50' -draw 'rectangle 21,34 26,50' \
  -draw 'rectangle 30,28 35,50' -draw 'rectangle 39,22 44,50' -draw 'rectangle 48,16 53,50' \
  -font DejaVu-Sans-Bold -pointsize 20 -fill white -annotate +62+31 'Brightloom' \
  -font DejaVu-Sans -pointsize 11 -fill '#d8e6f5' -annotate +63+49 'Funk & Datenlink' \
  -strip -interlace none -quality 90 -sampling-factor 2x2 logo.jpg
