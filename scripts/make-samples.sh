#!/usr/bin/env bash
# Makes the sample pictures in samples/ and the two test pictures in tests/data/ that Qt
# cannot write itself (a two-page TIFF, a CMYK JPEG). Needs ImageMagick 6 (`convert`) built
# with OpenJPEG, as Debian's imagemagick package is. Output is deterministic (fixed seeds).
# Names are numbered without zero padding so that natural order (1, 2, ..., 9, 10) differs
# from plain text order (1, 10, 2, ...).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
out="$root/samples"
data="$root/tests/data"
mkdir -p "$out" "$data"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# Photo-like landscape: a sky gradient over a fractal "sea", softened so it compresses.
landscape() {  # width height seed file
    local w=$1 h=$2 seed=$3 file=$4 sky=$(($2 * 2 / 5))
    convert -size "${w}x${sky}" gradient:'#5d8fc9'-'#e9d9b8' \
        \( -seed "$seed" -size "${w}x$((h - sky))" plasma:'#1d4e6b'-'#6b8f7a' -blur 0x1.2 \) \
        -append -attenuate 0.3 +noise Gaussian -quality 82 -sampling-factor 2x2 -strip "$file"
}

landscape 1600 1200 11 "$out/1-harbour.jpg"
landscape 900 1200 23 "$out/2-lighthouse.jpg"

# Drawn upright (900 x 1200, an arrow pointing up), stored turned a quarter counter-clockwise
# (1200 x 900) with EXIF orientation 6: the viewer turns it back and shows it upright.
landscape 900 1200 37 "$tmp/upright.jpg"
convert "$tmp/upright.jpg" -fill '#f4f1e8' -stroke '#222' -strokewidth 6 \
    -draw 'polygon 450,150 700,450 550,450 550,1000 350,1000 350,450 200,450' \
    -rotate -90 -quality 82 -strip "$tmp/arrow.jpg"
# APP1 "Exif": little-endian TIFF header, one IFD entry Orientation (0x0112, SHORT) = 6.
{
    head -c 2 "$tmp/arrow.jpg"
    printf '\xff\xe1\x00\x22Exif\x00\x00II*\x00\x08\x00\x00\x00'
    printf '\x01\x00\x12\x01\x03\x00\x01\x00\x00\x00\x06\x00\x00\x00\x00\x00\x00\x00'
    tail -c +3 "$tmp/arrow.jpg"
} > "$out/3-turned-by-exif.jpg"

# Transparency: a half-transparent disc and a fully transparent ring on a clear ground.
convert -size 640x480 xc:none \
    -fill '#2a7ab0c0' -draw 'circle 320,240 320,60' \
    -fill '#f0a03080' -draw 'circle 220,180 220,110' \
    -fill none -stroke '#1b1b1bff' -strokewidth 8 -draw 'rectangle 40,40 600,440' \
    -define png:exclude-chunk=date,time "PNG32:$out/4-glass.png"

# Palette GIF with a transparent index and two frames; the viewer shows the first.
convert -size 320x240 xc:none -fill '#d33' -draw 'circle 160,120 160,30' \
    \( -size 320x240 xc:none -fill '#33d' -draw 'rectangle 60,40 260,200' \) \
    -set delay 50 -loop 0 -colors 16 "$out/5-beacon.gif"

# Uncompressed 24-bit BMP.
convert -size 320x240 gradient:'#ffcc00'-'#0044aa' -fill '#ffffff' \
    -draw 'rectangle 20,20 120,220' -draw 'rectangle 200,20 300,120' -type TrueColor \
    "BMP3:$out/6-chart.bmp"

# Deflate-compressed RGB TIFF.
convert -size 640x480 gradient:'#8fbf5a'-'#3c5a2a' -fill '#e8d36a' -draw 'circle 480,120 480,60' \
    -alpha off -depth 8 -compress zip "$out/7-field.tiff"

# JPEG 2000: a JP2 file and a bare J2K codestream.
convert -seed 5 -size 1024x768 plasma:'#10002a'-'#b04070' -blur 0x2 -quality 40 \
    "$out/8-nebula.jp2"
convert -seed 9 -size 800x600 plasma:'#e0c090'-'#a07040' -blur 0x2 -colorspace Gray \
    -quality 40 "$out/9-dunes.j2k"

# Grey PNG.
convert -seed 13 -size 800x600 plasma:'#303030'-'#d0d0d0' -blur 0x1.5 -colorspace Gray \
    -depth 8 "PNG8:$tmp/grey.png"
convert "$tmp/grey.png" -type Grayscale -define png:exclude-chunk=date,time "$out/10-tide.png"

# Test pictures Qt cannot write: a two-page TIFF (red, then blue) and a CMYK JPEG (red).
convert -size 8x8 xc:'#FF0000' xc:'#0000FF' "$data/two-pages.tiff"
convert -size 8x8 xc:'#FF0000' -colorspace CMYK -quality 95 "$data/cmyk-red.jpg"

ls -l "$out" "$data"
