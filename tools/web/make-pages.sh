#!/bin/sh
# The pages of the browser build: per program NAME.html (page.html with its
# name and keys), the shared page.js and page.css, and index.html linking
# every program with a picture of it. The pictures are the native
# programs' own frames (--shot, demo_shot for the demo), which the
# browser's equal (make web-test compares the demo's).
#
#   tools/web/make-pages.sh WEB_BUILD NATIVE_BUILD
set -eu
web=$(cd "$1" && pwd)
native=$(cd "$2" && pwd)
top=$(cd "$(dirname "$0")/../.." && pwd)
here=$top/tools/web

cp "$here/page.js" "$here/page.css" "$web/"
mkdir -p "$web/shots"

# name|keys|what it shows|the frame pictured
programs="demo||The demo scene with its music.|240
showcase|Escape ends it|One pass of the engine's module, the pictures driven by what is heard.|400
scene_viewer|W or Space: wireframe. Escape ends it|A textured model spinning in a small scene graph.|60
particle_fountain|Escape ends it|A fountain of particles over a picture.|120
text_showcase|Escape ends it|Glyph sets, fonts and text effects.|120
starter|Escape ends it|The starter template, where a demo of your own begins.|120
sync_tracks|Escape ends it|Camera, colours and scene cuts from sync tracks; ?sync=ws://127.0.0.1:1339 edits them live.|290"

{
    echo '<!doctype html>'
    echo '<html lang="en"><head><meta charset="utf-8"><title>kevo in the browser</title>'
    echo '<link rel="stylesheet" href="page.css"><link rel="icon" href="data:,"></head><body class="index">'
    echo '<h1>kevo in the browser</h1><p>Each program runs in its page; click it to start (with sound).</p><ul>'
} >"$web/index.html"
echo "$programs" | while IFS='|' read -r name keys about frames; do
    sed -e "s|@NAME@|$name|g" -e "s|@KEYS@|$keys|g" "$here/page.html" >"$web/$name.html"
    # The picture, the program's complaint kept to say why should it fail
    # (its rate lines, carriage-return separated, are dropped then).
    if [ "$name" = demo ]; then
        set -- "$native/demo_shot" "$web/shots/$name.png" "$frames"
    else
        set -- "$native/$name" --frames "$frames" --shot "$web/shots/$name.png"
    fi
    if ! (cd "$top" && SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy "$@") >/dev/null 2>"$web/shots/$name.err"; then
        echo "make-pages: no picture of $name: $(tr '\r' '\n' <"$web/shots/$name.err" | grep -v '^FPS' | tail -n 1)" >&2
        exit 1
    fi
    rm -f "$web/shots/$name.err"
    printf '<li><a href="%s.html"><img src="shots/%s.png" alt="%s"><br>%s</a><br>%s</li>\n' \
        "$name" "$name" "$name" "$name" "$about" >>"$web/index.html"
done
echo '</ul></body></html>' >>"$web/index.html"
