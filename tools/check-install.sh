#!/bin/sh
# The engine as others use it: installs the build into a temporary prefix
# whose path holds a space, through `make install PREFIX=...`, moves it,
# then, outside the repository,
#   - builds templates/starter through find_package and runs it headless
#     (ended by SIGTERM, status 0, music playing into a file: its own, then
#     an XM, an S3M and an IT), then through its frame loop's
#     --frames N --shot FILE, KEVO_MUSIC against its module argument, and a
#     bad option (status 2);
#   - builds it through pkg-config (its Makefile) and runs it in a real
#     window under Xvfb: it must draw, and Escape must end it with status 0;
#   - builds a module renderer on kevo::music alone, through find_package
#     and through kevo-music.pc: neither may mention or link SDL or libpng,
#     and its output must equal the installed kevo-modrender's, for a MOD,
#     an XM, an S3M and an IT;
#   - builds a track player on kevo::sync alone, through find_package and
#     through kevo-sync.pc: it must link expat and neither may mention or
#     link SDL or libpng, and it must read a .rocket project and the track
#     files it exports to the same values;
#   - builds a picture converter on kevo::assets alone, through
#     find_package and through kevo-assets.pc: both must link libpng and
#     neither may mention or link SDL, and its output must equal the
#     installed kevo-image's;
#   - builds the starter with the engine added by add_subdirectory beside
#     its own target named demo: none of the engine's tests, benchmarks or
#     their dependencies may come along;
#   - installs again and `make uninstall` removes every file it put there.
#   tools/check-install.sh [BUILD_DIR]     (default build, already built)
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
work=$(mktemp -d)
# The starter while it runs, and our Xvfb: however the check ends, neither
# outlives it.
pid=""
xvfb_pid=""
cleanup() {
    [ -z "$pid" ] || kill -KILL "$pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# A signal ends the check through exit, so the clean-up runs then too.
trap 'exit 1' HUP INT TERM
fail() {
    echo "CHECK-INSTALL: $*" >&2
    exit 1
}
for tool in Xvfb xdotool xwd convert readelf; do
    command -v "$tool" >/dev/null || fail "$tool is missing (tools/install-deps.sh installs it)"
done
step() { echo "== $*"; }
jobs=$(nproc)
prefix="$work/install prefix"
launcher=""
command -v ccache >/dev/null && launcher="-DCMAKE_CXX_COMPILER_LAUNCHER=ccache"

step "make install into a temporary prefix with a space"
# The Makefile's own install (its build step finds everything built).
make -s -C "$repo" install BUILD="$build" PREFIX="$prefix" >/dev/null || fail "make install PREFIX='$prefix' failed"
for f in include/kevo/kevo.h include/kevo/music/music.h lib/cmake/kevo/kevoConfig.cmake \
         lib/cmake/kevo/kevoConfigVersion.cmake lib/cmake/kevo/kevoTargets.cmake \
         lib/pkgconfig/kevo.pc lib/pkgconfig/kevo-music.pc lib/pkgconfig/kevo-assets.pc lib/pkgconfig/kevo-sync.pc \
         lib/libkevo_music.a lib/libkevo_sync.a include/kevo/sync/sync.h \
         lib/libkevo_assets.a bin/kevo-image share/kevo/res/kevo.mod \
         share/kevo/res/NOTICE share/doc/kevo/LICENSE; do
    [ -f "$prefix/$f" ] || fail "the install lacks $f"
done
# The installed tree is moved before use: both packages must find
# themselves wherever they are.
mv "$prefix" "$work/moved"
prefix=$work/moved
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"

# Runs PROGRAM headless from DIR for two seconds with the audio going to a
# file (the module MUSIC names through KEVO_MUSIC, when given), ends it with
# SIGTERM and expects status 0, frames presented and music captured.
run_headless() {
    dir=$1 program=$2 music=${3:-}
    (cd "$dir" && KEVO_MUSIC="$music" SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" \
        exec "$program" 2> "$work/stderr") &
    pid=$!
    sleep 2
    kill -TERM "$pid"
    status=0
    wait "$pid" || status=$?
    pid=""
    [ "$status" -eq 0 ] || fail "$program ended with status $status on SIGTERM"
    tr '\r' '\n' < "$work/stderr" | grep -q '^FPS: ' || fail "$program presented no frame"
    # A failure to start the music; a module's notice (its packed or Adlib
    # samples stay silent) is no failure.
    if grep 'MUSIC:' "$work/stderr" | grep -qv 'stay silent$'; then fail "$program: $(grep 'MUSIC:' "$work/stderr")"; fi
    # Non-silent audio: more than one distinct byte value in what was played.
    [ "$(od -An -v -tx1 "$work/audio.raw" | tr -s ' ' '\n' | sort -u | wc -l)" -gt 2 ] ||
        fail "$program played no music"
    rm -f "$work/audio.raw"
}

# XM, S3M and IT modules, made by the build's own tool.
mkdir "$work/modules"
"$build/make_test_modules" "$work/modules" || fail "make_test_modules could not write the XM, S3M and IT modules"

step "starter through find_package"
cp -r "$repo/templates/starter" "$work/starter"
cmake -S "$work/starter" -B "$work/starter-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/starter-cmake" -j "$jobs" >/dev/null
run_headless "$work/starter-cmake" ./demo
run_headless "$work/starter-cmake" ./demo "$work/modules/showcase.xm"
run_headless "$work/starter-cmake" ./demo "$work/modules/signed.s3m"
run_headless "$work/starter-cmake" ./demo "$work/modules/showcase.it"
# The installed frame loop from outside: --frames N --shot FILE saves the
# last frame, and an option the starter does not take is the usage status.
(cd "$work/starter-cmake" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy ./demo --frames 5 --shot "$work/shot.png" \
    >/dev/null 2>&1) || fail "the starter's --frames 5 --shot failed"
shot=$(convert "$work/shot.png" -format '%wx%h %k' info: 2>/dev/null) || fail "the starter's shot is not a picture"
[ "${shot%% *}" = "400x240" ] && [ "${shot#* }" -gt 8 ] || fail "the starter's shot is '$shot', not the drawn screen"
# KEVO_MUSIC is what it plays, unless a module is named on its command line.
(cd "$work/starter-cmake" && KEVO_MUSIC="$work/none.xm" SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy \
    ./demo --frames 3 2>&1 | tr '\r' '\n' | grep '^MUSIC:' > "$work/music.txt") || true
grep -q "^MUSIC: cannot open '$work/none.xm'" "$work/music.txt" || fail "the starter did not take KEVO_MUSIC: $(cat "$work/music.txt")"
(cd "$work/starter-cmake" && KEVO_MUSIC="$work/none.xm" SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy \
    ./demo "$work/modules/showcase.xm" --frames 3 2>&1 | tr '\r' '\n' | grep '^MUSIC:' > "$work/music.txt") || true
[ ! -s "$work/music.txt" ] || fail "the starter's module argument did not win over KEVO_MUSIC: $(cat "$work/music.txt")"
status=0
(cd "$work/starter-cmake" && ./demo --bogus >/dev/null 2>&1) || status=$?
[ "$status" -eq 2 ] || fail "the starter ended with status $status for an option it does not take, not 2"

step "starter through pkg-config, in a window under Xvfb"
(cd "$work/starter" && make -s >/dev/null)
# Starts Xvfb on a display it picks itself and waits until a client can
# connect to it; sets display and xvfb_pid.
start_display() {
    rm -f "$work/display"
    Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3> "$work/display" >/dev/null 2>&1 &
    xvfb_pid=$!
    waited=0
    until [ -s "$work/display" ] && DISPLAY=":$(cat "$work/display")" xdotool getdisplaygeometry >/dev/null 2>&1; do
        kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended before it took a display"
        sleep 0.1
        waited=$((waited + 1))
        [ "$waited" -lt 100 ] || fail "Xvfb did not start"
    done
    display=$(cat "$work/display")
}
# The machine's X displays are shared: should another server take the
# display from under us before the window opens, try a fresh one.
for attempt in 1 2 3; do
    start_display
    (cd "$work/starter" && DISPLAY=":$display" SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy exec ./demo 2> "$work/stderr") &
    pid=$!
    sleep 0.5
    if kill -0 "$pid" 2>/dev/null || ! grep -q "VIDEO: .*X11 display" "$work/stderr" || [ "$attempt" -eq 3 ]; then
        break
    fi
    wait "$pid" || true
    pid=""
    kill "$xvfb_pid"
    echo "   (display :$display was lost; another)"
done
# The window is placed at the top left; more than the background and a
# handful of colours on screen means the scene is drawn.
waited=0
colors=0
while [ "$colors" -le 8 ]; do
    if [ "$waited" -ge 20 ] || ! kill -0 "$pid" 2>/dev/null; then
        tr '\r' '\n' < "$work/stderr" | grep -v '^FPS' | tail -n 5 >&2
        fail "the starter's window shows $colors colours: nothing drawn"
    fi
    sleep 0.25
    waited=$((waited + 1))
    colors=$(xwd -root -silent -display ":$display" | convert xwd:- -format '%k' info:)
done
DISPLAY=":$display" xdotool mousemove 200 120 key Escape
waited=0
while kill -0 "$pid" 2>/dev/null; do
    sleep 0.1
    waited=$((waited + 1))
    [ "$waited" -lt 50 ] || { kill -KILL "$pid"; fail "Escape did not end the starter"; }
done
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "the starter ended with status $status on Escape"
kill "$xvfb_pid"
xvfb_pid=""

# Builds $work/NAME/main.cpp on the kevo::COMPONENT library alone: through
# find_package(kevo COMPONENTS COMPONENT) into $work/NAME-cmake/NAME, and
# through kevo-COMPONENT.pc into $work/NAME-pc.
build_on_component() {
    name=$1 component=$2
    cat > "$work/$name/CMakeLists.txt" <<EOF
cmake_minimum_required(VERSION 3.16)
project($name CXX)
find_package(kevo REQUIRED COMPONENTS $component)
add_executable($name main.cpp)
target_link_libraries($name PRIVATE kevo::$component)
EOF
    cmake -S "$work/$name" -B "$work/$name-cmake" -DCMAKE_PREFIX_PATH="$prefix" \
        -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
    cmake --build "$work/$name-cmake" >/dev/null
    g++ -std=c++17 -o "$work/$name-pc" "$work/$name/main.cpp" $(pkg-config --cflags --libs "kevo-$component")
}
# Whether the CMake build of NAME names PATTERN (grep, any case) in its
# cache, its compile commands or its link line.
cmake_build_names() {
    grep -qi "$2" "$work/$1-cmake/CMakeCache.txt" "$work/$1-cmake/compile_commands.json" \
        "$work/$1-cmake/CMakeFiles/$1.dir/link.txt"
}

step "a module renderer on the music library alone"
mkdir "$work/modtool"
cat > "$work/modtool/main.cpp" <<'EOF'
// Renders the first two seconds of a module as raw 44100 Hz stereo signed
// 16-bit samples, in uneven slices.
#include <kevo/music/module_file.h>
#include <kevo/music/music.h>
#include <kevo/util/alloc.h>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    long size = 0;
    char reason[200];
    uint8_t *bytes = mod_file_read(argv[1], &size, reason, sizeof reason);
    if (bytes == nullptr) { std::fprintf(stderr, "%s\n", reason); return 1; }
    ModPlayer *player = mod_player_create(44100, bytes, size);
    if (player == nullptr) return 1;
    mod_player_set_loop(player, 0);
    FILE *out = std::fopen(argv[2], "wb");
    if (out == nullptr) return 1;
    static int16_t samples[2 * 1500];
    for (long left = 2 * 44100; left > 0;) {
        int frames = static_cast<int>(left < 1237 ? left : 1237 - left % 200);
        mod_player_render_s16(player, samples, frames);
        std::fwrite(samples, 4, frames, out);
        left -= frames;
    }
    std::fclose(out);
    mod_player_destroy(player);
    engine_free(bytes);
    return 0;
}
EOF
build_on_component modtool music
! cmake_build_names modtool 'sdl\|png' ||
    fail "find_package(kevo COMPONENTS music) brought SDL or libpng into the build"
! pkg-config --cflags --libs --static kevo-music | grep -qi 'sdl\|png' || fail "kevo-music.pc names SDL or libpng"
for tool in "$work/modtool-cmake/modtool" "$work/modtool-pc"; do
    if readelf -d "$tool" | grep NEEDED | grep -qi 'sdl\|png'; then fail "$tool links SDL or libpng"; fi
    if ldd "$tool" | grep -qi 'sdl\|png'; then fail "$tool loads SDL or libpng"; fi
done
for module in "$prefix/share/kevo/res/kevo.mod" "$work/modules/showcase.xm" "$work/modules/showcase.s3m" \
    "$work/modules/showcase.it"; do
    "$prefix/bin/kevo-modrender" --seconds 2 "$module" "$work/reference.wav" >/dev/null 2>&1 ||
        fail "the installed kevo-modrender failed on $module"
    tail -c +45 "$work/reference.wav" > "$work/reference.raw"
    for tool in "$work/modtool-cmake/modtool" "$work/modtool-pc"; do
        "$tool" "$module" "$work/tool.raw" || fail "$tool failed on $module"
        cmp -s "$work/tool.raw" "$work/reference.raw" || fail "$tool renders other samples than kevo-modrender for $module"
    done
done

step "a track player on the sync library alone"
mkdir "$work/tracktool"
cat > "$work/tracktool/main.cpp" <<'EOF'
// Prints a track's values at fractional rows from a .rocket project or
// from BASE_NAME.track files, and with --export writes the track files.
#include <kevo/sync/sync.h>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    if (argc < 2) return 2;
    SyncDevice *device = sync_open(argv[1]);
    if (device == nullptr) return 1;
    const SyncTrack *track = sync_track(device, "cam:pos.x");
    for (double row = -1.0; row < 20.0; row += 0.25) std::printf("%.9g\n", sync_value(track, row));
    const int status = argc > 2 && std::strcmp(argv[2], "--export") == 0 ? sync_save(device) : 0;
    sync_close(device);
    return status == 0 ? 0 : 1;
}
EOF
cat > "$work/tracks.rocket" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<sync rows="10000"><tracks><track name="cam:pos.x">
<key row="0" value="0" interpolation="0"/><key row="4" value="1" interpolation="1"/>
<key row="8" value="-2.5" interpolation="2"/><key row="16" value="3" interpolation="3"/>
</track></tracks></sync>
EOF
build_on_component tracktool sync
! cmake_build_names tracktool 'sdl\|png' || fail "find_package(kevo COMPONENTS sync) brought SDL or libpng into the build"
! pkg-config --cflags --libs --static kevo-sync | grep -qi 'sdl\|png' || fail "kevo-sync.pc names SDL or libpng"
for tool in "$work/tracktool-cmake/tracktool" "$work/tracktool-pc"; do
    readelf -d "$tool" | grep NEEDED | grep -qi 'expat' || fail "$tool does not link expat"
    if ldd "$tool" | grep -qi 'sdl\|png'; then fail "$tool loads SDL or libpng"; fi
    "$tool" "$work/tracks.rocket" --export > "$work/from-rocket.txt" 2>/dev/null || fail "$tool cannot read a .rocket"
    [ -f "$work/tracks_cam-3Apos.x.track" ] || fail "$tool did not export tracks_cam-3Apos.x.track"
    "$tool" "$work/tracks" > "$work/from-files.txt" 2>/dev/null || fail "$tool cannot read track files"
    cmp -s "$work/from-rocket.txt" "$work/from-files.txt" || fail "$tool reads other values from the track files"
    # Row 5.5: linear from 1 at row 4 towards -2.5 at row 8.
    [ "$(sed -n 27p "$work/from-rocket.txt")" = "-0.3125" ] || fail "$tool's value at row 5.5 is not -0.3125"
    rm "$work/tracks_cam-3Apos.x.track"
done

step "a picture converter on the assets library alone"
mkdir "$work/picturetool"
cat > "$work/picturetool/main.cpp" <<'EOF'
// Shows a picture file as the engine would, with error diffusion, as an
// 8-bit PNG in the engine's palette.
#include <kevo/assets/image.h>
#include <kevo/assets/pcx.h>

#include <cstdio>

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    ImageOptions options = IMAGE_OPTIONS_DEFAULT;
    options.dither = PALETTE_DITHER_DIFFUSION;
    ImageWhy why;
    Texture *texture = image_load_texture_why(argv[1], &options, &why);
    if (texture == nullptr) { std::fprintf(stderr, "%s\n", why.text); return 1; }
    const int status = image_save_png(argv[2], texture->width, texture->height, texture->pixels) == 0 ? 0 : 1;
    texture_destroy(texture);
    return status;
}
EOF
build_on_component picturetool assets
! cmake_build_names picturetool 'sdl' || fail "find_package(kevo COMPONENTS assets) brought SDL into the build"
grep -qi 'png' "$work/picturetool-cmake/CMakeFiles/picturetool.dir/link.txt" ||
    fail "find_package(kevo COMPONENTS assets) does not link libpng"
! pkg-config --cflags --libs --static kevo-assets | grep -qi 'sdl' || fail "kevo-assets.pc names SDL"
pkg-config --libs kevo-assets | grep -q -- '-lpng' || fail "kevo-assets.pc does not link libpng"
# A true-colour picture: every pixel through the mapping and the diffusion.
convert -size 96x64 gradient:'#ff8020-#2040c0' -define png:color-type=2 "$work/gradient.png" ||
    fail "convert could not make a picture"
"$prefix/bin/kevo-image" --dither diffusion "$work/gradient.png" --preview "$work/reference.png" >/dev/null ||
    fail "the installed kevo-image failed"
for tool in "$work/picturetool-cmake/picturetool" "$work/picturetool-pc"; do
    readelf -d "$tool" | grep NEEDED | grep -qi 'png' || fail "$tool does not link libpng"
    if readelf -d "$tool" | grep NEEDED | grep -qi 'sdl'; then fail "$tool links SDL"; fi
    if ldd "$tool" | grep -qi 'sdl'; then fail "$tool loads SDL"; fi
    "$tool" "$work/gradient.png" "$work/tool.png" || fail "$tool failed"
    cmp -s "$work/tool.png" "$work/reference.png" || fail "$tool shows the picture otherwise than kevo-image"
done

step "only the libraries' faces are installed"
# A folder's *_internal.h headers stay behind, and no installed header
# names one.
internal=$(cd "$prefix/include" && find kevo -name '*_internal.h')
[ -z "$internal" ] || fail "internal headers installed: $internal"
! grep -rlE '#include "kevo/[a-z0-9_/]*_internal\.h"' "$prefix/include/kevo" || fail "installed headers include internal ones"

step "add_subdirectory beside a target named demo"
cmake -S "$work/starter" -B "$work/sub" -DKEVO_SOURCE_DIR="$repo" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    $launcher >/dev/null
! grep -iE '^(__pkg_config_checked_)?(GTest|benchmark|FREETYPE|X11|ZLIB)' "$work/sub/CMakeCache.txt" ||
    fail "add_subdirectory looked up the engine's test, benchmark or tool dependencies"
tests=$(cd "$work/sub" && ctest -N | sed -n 's/^Total Tests: //p')
[ "$tests" = "0" ] || fail "add_subdirectory brought $tests tests into the consumer"
cmake --build "$work/sub" --target help > "$work/targets"
! grep -qE '_test$|_bench$|_fuzz$|kevo_demo$' "$work/targets" ||
    fail "add_subdirectory brought the engine's programs, tests or benchmarks along"
cmake --build "$work/sub" -j "$jobs" >/dev/null
run_headless "$work/sub" ./demo
# With the engine's own programs asked for, its demo stays apart from ours.
cmake -S "$work/starter" -B "$work/sub" -DENGINE_BUILD_PROGRAMS=ON >/dev/null
cmake --build "$work/sub" --target help > "$work/targets"
grep -qx '\.\.\. kevo_demo' "$work/targets" || fail "the engine's demo target is missing"
grep -qx '\.\.\. demo' "$work/targets" || fail "the consumer's demo target is missing"

step "make uninstall removes what make install put there"
# Into a prefix of its own that already holds a file of someone else's:
# afterwards only that file and the shared folders it sits in are left.
again="$work/again prefix"
mkdir -p "$again/bin"
touch "$again/bin/other-program"
make -s -C "$repo" install BUILD="$build" PREFIX="$again" >/dev/null || fail "make install PREFIX='$again' failed"
make -s -C "$repo" uninstall BUILD="$build" >/dev/null || fail "make uninstall failed"
left=$(cd "$again" && find . -mindepth 1 | sort | tr '\n' ' ')
case "$left" in
    "./bin ./bin/other-program "*) ;;
    *) fail "make uninstall left: $left" ;;
esac
[ -z "$(cd "$again" && find . -path '*kevo*')" ] || fail "make uninstall left the engine's folders: $left"
! make -s -C "$repo" uninstall BUILD="$build" 2>/dev/null || fail "a second make uninstall found a manifest"

echo "CHECK-INSTALL: all passed"
