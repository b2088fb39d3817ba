#!/bin/sh
# Measures the engine's pictures on the real ones fetch-real-images.sh
# found: for each, the mean colour error (CIEDE2000, tools/image_error.cpp)
# of the texture shown through the engine's palette against the file's
# true picture (ImageMagick's reading of it, transparency composited onto
# black), for each nearness metric of kevo-image and for ImageMagick's own
# -remap onto the engine's palette without dithering. Prints a line per
# picture and the means; lists the pictures where the engine's default
# (CIELAB) is worse than ImageMagick's remap.
#
#   tools/compare-images.sh [BUILD_DIR]
#
# BUILD_DIR holds the built kevo_image and image_error.
set -eu

BUILD=$(cd "${1:-build}" && pwd)
IMAGES=$BUILD/real-images
list=$IMAGES/images.txt
[ -f "$list" ] || { echo "compare-images: run tools/fetch-real-images.sh first" >&2; exit 2; }
for tool in kevo_image image_error; do
    [ -x "$BUILD/$tool" ] || { echo "compare-images: build $tool first" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The engine's palette as a 256 x 1 picture: grey levels 0 .. 255 kept
# raw, so pixel i is entry i.
{ printf 'P5 256 1 255\n'; i=0; while [ $i -lt 256 ]; do printf "\\$(printf %03o $i)"; i=$((i + 1)); done; } > "$work/levels.pgm"
convert "$work/levels.pgm" "$work/levels.png"
"$BUILD/kevo_image" --raw "$work/levels.png" --preview "$work/palette.png" >/dev/null
convert "$work/palette.png" -type truecolor "$work/palette.png"

report=$IMAGES/comparison.txt
: > "$report"
while read -r kind file; do
    convert "$file" -background black -alpha remove -alpha off -depth 8 "ppm:$work/true.ppm" 2>/dev/null || continue
    line="$kind"
    for metric in oklab cielab rgb; do
        "$BUILD/kevo_image" --metric "$metric" "$file" --preview "$work/ours.png" >/dev/null 2>&1 || continue 2
        convert "$work/ours.png" -depth 8 "ppm:$work/ours.ppm"
        line="$line $("$BUILD/image_error" "$work/true.ppm" "$work/ours.ppm" | cut -d' ' -f1)"
    done
    convert "$work/true.ppm" -dither None -remap "$work/palette.png" -depth 8 "ppm:$work/magick.ppm" 2>/dev/null
    line="$line $("$BUILD/image_error" "$work/true.ppm" "$work/magick.ppm" | cut -d' ' -f1)"
    echo "$line $file" >> "$report"
done < "$list"

echo "kind count oklab cielab rgb imagemagick (mean CIEDE2000)"
for kind in pcx pcx24 png all; do
    awk -v kind="$kind" '$1 == kind || kind == "all" { n++; o += $2; c += $3; r += $4; m += $5 }
        END { if (n) printf "%s %d %.3f %.3f %.3f %.3f\n", kind, n, o / n, c / n, r / n, m / n }' "$report"
done
echo "worse than ImageMagick's remap (cielab, imagemagick, file):"
awk '$3 > $5 + 0.0005 { printf "  %.3f %.3f %s\n", $3, $5, $6 }' "$report"
