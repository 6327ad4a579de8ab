#!/usr/bin/env bash
# Writes the fuzzers' seed inputs into CORPUS/TARGET/: our own writers' files (fuzz_seeds of
# the fuzz build) and the kinds ImageMagick writes that we do not (masked and V4/V5 BMPs,
# palette, grey, 16-bit and interlaced PNGs, progressive, grey and CMYK JPEGs).
#   scripts/fuzz-seeds.sh FUZZ_SEEDS_PROGRAM CORPUS
set -euo pipefail
seeds=$(realpath "$1")
mkdir -p "$2"
corpus=$(realpath "$2")
"$seeds" "$corpus"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
picture() {  # picture SIZE FILE EXTRA... : a small gradient with an edge, written by ImageMagick
  local size=$1 file=$2
  shift 2
  convert -size "$size" gradient:'#2060c0-#f0a010' -fill '#10e040' -draw 'rectangle 1,1 2,2' \
    "$@" "$file"
}
# ImageMagick picks the file kind from a FORMAT: prefix; the names keep that prefix's meaning.
mk() {  # mk TARGET NAME SIZE IM_OUTPUT EXTRA...
  local target=$1 name=$2 size=$3 output=$4
  shift 4
  mkdir -p "$corpus/$target"
  if picture "$size" "$output" "$@" 2>/dev/null && [ -s "${output#*:}" ]; then
    cp "${output#*:}" "$corpus/$target/im-$name"
  else
    echo "fuzz-seeds: ImageMagick could not write $name" >&2
  fi
}
cd "$work"
mk bmp bmp3-24.bmp 5x3 BMP3:a.bmp -type TrueColor
mk bmp v5-alpha.bmp 4x4 BMP:b.bmp -alpha set -channel A -evaluate set 50% +channel
mk bmp v4-alpha.bmp 3x5 BMP:c.bmp -alpha set -define bmp:format=bmp4
mk bmp rgb565.bmp 6x2 BMP:d.bmp -define bmp:subtype=RGB565
mk bmp argb4444.bmp 3x3 BMP:e.bmp -alpha set -define bmp:subtype=ARGB4444
mk bmp palette.bmp 4x4 BMP3:f.bmp -type Palette
mk bmp rle8.bmp 8x4 BMP3:g.bmp -type Palette -compress RLE
mk png grey.png 5x4 PNG:h.png -type Grayscale
mk png grey1.png 9x3 PNG:i.png -monochrome
mk png palette.png 4x4 PNG8:j.png
mk png rgba.png 3x3 PNG32:k.png -alpha set -channel A -evaluate set 40% +channel
mk png rgb16.png 3x2 PNG48:l.png -depth 16
mk png interlaced.png 9x9 PNG24:m.png -interlace PNG
mk jpeg progressive.jpg 16x12 JPEG:n.jpg -interlace JPEG
mk jpeg grey.jpg 9x7 JPEG:o.jpg -colorspace Gray
mk jpeg cmyk.jpg 8x8 JPEG:p.jpg -colorspace CMYK
mk jpeg sampling444.jpg 11x5 JPEG:q.jpg -sampling-factor 1x1 -quality 60
mk jpeg restarts.jpg 24x8 JPEG:r.jpg -define jpeg:restart-interval=1
mk jpeg arithmetic.jpg 8x8 JPEG:s.jpg -define jpeg:arithmetic-coding=true

# ombrix-filter's path: three bytes of choices before a few of these pictures.
for file in "$corpus"/bmp/im-v5-alpha.bmp "$corpus"/png/im-palette.png "$corpus"/jpeg/im-cmyk.jpg; do
  [ -f "$file" ] || continue
  { printf '\x05\x11\x01'; cat "$file"; } > "$corpus/filter/$(basename "$file")"
done
