#!/bin/sh
# Real models: downloads OBJ models from Debian game packages, loads each
# from its own folder with the engine's loader (tools/obj_triangles.cpp) and
# compares its triangles with a triangulation of the polygons counted here
# by awk (n - 2 triangles per face line of n corners). Not part of the test
# suite: it needs the package archive and takes a minute.
#
#   tools/fetch-real-models.sh [BUILD_DIR] [MODELS_DIR]
#
# BUILD_DIR (default "build") holds the built obj_triangles; the packages
# and models go to MODELS_DIR (default BUILD_DIR/real-models), which is
# never committed. apt-get's package lists must be current (apt-get update).
# Prints a line per model, a line per package and the total; exits 1 when
# the loaded models give less than 99% of the triangles their polygons make.
set -eu

BUILD=${1:-build}
MODELS=${2:-$BUILD/real-models}
PACKAGES="bouncy brutalchess gltron neverball-common minetest-data minetest-mod-homedecor
minetest-mod-pipeworks minetest-mod-moreblocks"
# Lowest share of the polygons' triangles the loaded models must give, in
# hundredths of a percent.
REQUIRED_BASIS_POINTS=9900

TOOL=$(cd "$BUILD" && pwd)/obj_triangles
if [ ! -x "$TOOL" ]; then
    echo "fetch-real-models: build obj_triangles first (cmake --build $BUILD --target kevo_obj_triangles)" >&2
    exit 2
fi
mkdir -p "$MODELS/debs"
MODELS=$(cd "$MODELS" && pwd)

for package in $PACKAGES; do
    if ! ls "$MODELS/debs/${package}"_*.deb >/dev/null 2>&1; then
        (cd "$MODELS/debs" && apt-get download "$package")
    fi
    rm -rf "$MODELS/$package"
    dpkg-deb -x "$MODELS/debs/${package}"_*.deb "$MODELS/$package"
done

# Triangles of the polygons of one OBJ file: n - 2 for each "f" line of n
# corners (tabs and spaces separate, carriage returns dropped).
expected_triangles() {
    awk '{ gsub(/\r/, "") } $1 == "f" && NF >= 4 { t += NF - 3 } END { print t + 0 }' "$1"
}

report="$MODELS/report.txt"
: > "$report"
all_loaded=0
all_expected=0
for package in $PACKAGES; do
    models=0 loaded=0 got_sum=0 want_sum=0
    # One path a line, so folder and file names may hold spaces.
    find "$MODELS/$package" -name '*.obj' | sort > "$MODELS/list.txt"
    while IFS= read -r model; do
        models=$((models + 1))
        want=$(expected_triangles "$model")
        # From the model's own folder, as the game that ships it would.
        result=$(cd "$(dirname "$model")" && "$TOOL" "$(basename "$model")" </dev/null 2>"$MODELS/why.txt" || true)
        got=$(printf '%s\n' "$result" | cut -f1)
        if [ "$got" = failed ] || [ -z "$got" ]; then
            echo "$package ${model#"$MODELS/$package"/}: not loaded: $(head -n 1 "$MODELS/why.txt")" >> "$report"
            continue
        fi
        loaded=$((loaded + 1))
        got_sum=$((got_sum + got))
        want_sum=$((want_sum + want))
        echo "$package ${model#"$MODELS/$package"/}: $got of $want triangles" >> "$report"
    done < "$MODELS/list.txt"
    echo "$package: $loaded of $models models loaded, $got_sum of $want_sum triangles"
    all_loaded=$((all_loaded + got_sum))
    all_expected=$((all_expected + want_sum))
done
rm -f "$MODELS/why.txt" "$MODELS/list.txt"

if [ "$all_expected" -eq 0 ]; then
    echo "fetch-real-models: no triangles to compare" >&2
    exit 1
fi
basis_points=$((all_loaded * 10000 / all_expected))
echo "total: $all_loaded of $all_expected triangles ($((basis_points / 100)).$(printf '%02d' $((basis_points % 100)))%); per model: $report"
[ "$basis_points" -ge "$REQUIRED_BASIS_POINTS" ]
