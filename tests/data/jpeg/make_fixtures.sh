#!/bin/sh
# Makes the JPEG fixtures with ImageMagick, an encoder independent of ours.
set -eu
cd "$(dirname "$0")"

# Progressive (several scans), with a comment segment, 48 x 32.
convert -size 48x32 gradient:red-blue -interlace JPEG -quality 85 -set comment "pellavo fixture" \
  progressive-with-comment.jpg

# Four 8-pixel bars, cyan, magenta, yellow and black, stored as Adobe YCCK (inverted CMYK).
convert -size 32x16 xc:white \
  \( -size 8x16 xc:cyan \) -geometry +0+0 -composite \
  \( -size 8x16 xc:magenta \) -geometry +8+0 -composite \
  \( -size 8x16 xc:yellow \) -geometry +16+0 -composite \
  \( -size 8x16 xc:black \) -geometry +24+0 -composite \
  -colorspace CMYK -quality 100 adobe-ycck-bars.jpg

# chroma-beyond-16-bit-transform-420.jpg is not made here: a 40 x 24 4:2:0 file found by
# jpeg_dc_scan_fuzz, whose damaged data gives chroma coefficients so large that libjpeg's vector
# 2 x 2 transform overflows where its plain code does not.
