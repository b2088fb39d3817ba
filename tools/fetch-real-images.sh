#!/bin/sh
# Real pictures: downloads Debian game packages that ship PCX and PNG
# pictures, finds every picture in them by its content (the PCX
# manufacturer byte and a known version and encoding, or the PNG
# signature), whatever its name, and makes a 24-bit PCX of each PNG with
# ImageMagick, since the games ship few. Jump'n'Bump's levels keep their
# pictures in .dat archives (a little-endian count, then a 12-byte name,
# an offset and a size per member): their level and menu pictures are
# taken out (not their masks, which are index data). Lists them, one path a line with
# its kind, in BUILD_DIR/real-images/images.txt. Not part of the test
# suite: it needs the package archive. tools/compare-images.sh measures
# the engine on them.
#
#   tools/fetch-real-images.sh [BUILD_DIR]
#
# apt-get's package lists must be current (apt-get update).
set -eu

BUILD=${1:-build}
IMAGES=$BUILD/real-images
PACKAGES="supertransball2-data mirrormagic-data asc-data liquidwar-data njam-data heroes-data
          mazeofgalious-data jumpnbump-levels"
command -v convert >/dev/null || { echo "fetch-real-images: convert (imagemagick) is missing" >&2; exit 2; }
mkdir -p "$IMAGES/debs"
IMAGES=$(cd "$IMAGES" && pwd)

for package in $PACKAGES; do
    if ! ls "$IMAGES/debs/${package}"_*.deb >/dev/null 2>&1; then
        (cd "$IMAGES/debs" && apt-get download "$package")
    fi
    rm -rf "$IMAGES/$package"
    dpkg-deb -x "$IMAGES/debs/${package}"_*.deb "$IMAGES/$package"
done

# Members of Jump'n'Bump's archives, as files of their own beside them.
find "$IMAGES/jumpnbump-levels" -type f -name '*.dat' | sort | while IFS= read -r dat; do
    count=$(od -An -tu4 -N4 "$dat" | tr -d ' ')
    i=0
    while [ "$i" -lt "$count" ]; do
        entry=$((4 + 20 * i))
        name=$(dd if="$dat" bs=1 skip=$entry count=12 2>/dev/null | tr -d '\000')
        set -- $(od -An -tu4 -j $((entry + 12)) -N8 "$dat")
        case $name in
        *mask.pcx) ;;
        *.pcx) tail -c +$(($1 + 1)) "$dat" | head -c "$2" > "${dat%.dat}-$name" ;;
        esac
        i=$((i + 1))
    done
done

list="$IMAGES/images.txt"
: > "$list"
rm -rf "$IMAGES/pcx24"
mkdir -p "$IMAGES/pcx24"
n=0
for package in $PACKAGES; do
    find "$IMAGES/$package" -type f | sort | while IFS= read -r file; do
        start=$(head -c 8 "$file" | od -An -tx1 | tr -d ' \n')
        case $start in
        89504e470d0a1a0a*)
            echo "png $file" >> "$list"
            n=$((n + 1))
            # The same picture as ImageMagick's 24-bit PCX (3 planes of 8 bits).
            pcx="$IMAGES/pcx24/$package-$n.pcx"
            convert "$file" -background black -alpha remove -alpha off -type truecolor "$pcx" 2>/dev/null &&
                echo "pcx24 $pcx" >> "$list"
            ;;
        0a0[0-5]01*) echo "pcx $file" >> "$list" ;;
        esac
    done
done
for kind in pcx pcx24 png; do
    echo "$kind: $(grep -c "^$kind " "$list") pictures"
done
