#!/bin/sh
# Runs the tests of an existing build whose programs start SDL against
# sdl12-compat (SDL 1.2's interface over SDL 2), the SDL 1.2 that Debian 13, Fedora and Arch ship:
# the same binaries, with only the dynamic loader's search path changed.
#
# Debian's libsdl1.2-compat and libsdl2-2.0-0 packages are downloaded with
# apt-get download into BUILD_DIR/sdl12-compat (kept there for the next
# run) and unpacked with dpkg-deb; SDL 2's own dependencies must be
# installed (tools/deps/platform.txt). Before the tests, ldd must show every
# program and test of the build loading SDL 1.2 from the unpacked
# sdl12-compat, and SDL 2 finding all it needs; otherwise the run fails.
#   tools/test-sdl12-compat.sh [BUILD_DIR [JOBS]]   (default build, nproc)
set -eu
build=$(cd "${1:-build}" && pwd)
jobs=${2:-$(nproc)}
cache="$build/sdl12-compat"
packages="libsdl1.2-compat libsdl2-2.0-0"

fail() {
    echo "COMPAT: $*" >&2
    exit 1
}

# The packages, once: the download is cached beside the build.
mkdir -p "$cache/debs"
download() {
    (cd "$cache/debs" && apt-get download "$1") > "$cache/download.log" 2>&1
}
for pkg in $packages; do
    ls "$cache/debs/${pkg}_"*.deb > /dev/null 2>&1 && continue
    if ! download "$pkg"; then
        # A machine whose package lists were never fetched (or were
        # cleaned) knows no packages: fetch them once and try again.
        if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
        $sudo apt-get update -qq > /dev/null 2>&1 || true
        download "$pkg" || fail "cannot download the Debian package $pkg: $(tail -n 1 "$cache/download.log")"
    fi
done

# Unpacked afresh each run (it takes no time), so what runs is what the
# cached packages hold.
rm -rf "$cache/root"
for deb in "$cache/debs/"*.deb; do
    if ! dpkg-deb -x "$deb" "$cache/root"; then
        rm -f "$deb"  # a download cut short: the next run fetches it again
        fail "cannot unpack $deb"
    fi
done
compat_lib=$(find "$cache/root" -name 'libSDL-1.2.so.0' | head -n 1)
sdl2_lib=$(find "$cache/root" -name 'libSDL2-2.0.so.0' | head -n 1)
[ -n "$compat_lib" ] || fail "libsdl1.2-compat holds no libSDL-1.2.so.0"
[ -n "$sdl2_lib" ] || fail "libsdl2-2.0-0 holds no libSDL2-2.0.so.0"
compat_dir=$(dirname "$compat_lib")
sdl2_dir=$(dirname "$sdl2_lib")
LD_LIBRARY_PATH="$compat_dir:$sdl2_dir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
export LD_LIBRARY_PATH

# sdl12-compat loads SDL 2 when SDL starts, so ldd of the programs does not
# show it: SDL 2's own libraries are checked on it directly.
missing=$(ldd "$sdl2_lib" | grep 'not found' || true)
[ -z "$missing" ] || fail "SDL 2 lacks libraries (install the packages of tools/deps/platform.txt):
$missing"

# Every executable of the build that loads SDL 1.2 must load it from here.
checked=0
for program in "$build"/*; do
    if [ ! -f "$program" ] || [ ! -x "$program" ]; then continue; fi
    sdl=$(ldd "$program" 2> /dev/null | awk '$1 == "libSDL-1.2.so.0" { print $3 }')
    [ -n "$sdl" ] || continue
    [ "$sdl" = "$compat_lib" ] || fail "$(basename "$program") loads $sdl, not $compat_lib"
    checked=$((checked + 1))
done
[ "$checked" -gt 0 ] || fail "no program in $build loads SDL 1.2: is it built?"

versions=$(for deb in "$cache/debs/"*.deb; do basename "$deb"; done | sed 's/_[^_]*\.deb$//; s/_/ /' |
    paste -s -d, - | sed 's/,/, /g')
# The tests whose programs start SDL: the platform's, the demo's and the
# examples' (the libraries below the platform never call SDL, so their
# tests would run the same code again).
sdl_tests='^(platform|demo|examples|render3d_examples)_'
echo "COMPAT: the SDL tests of $build against $versions ($checked executables, each loading $compat_lib)"
cd "$build"
ctest --output-on-failure -j "$jobs" -L "$sdl_tests"
