#!/bin/sh
# Runs the ThreadSanitizer build of the real demo headless, with the music
# playing on SDL's audio thread (captured by the disk audio driver), for a
# few seconds, then ends it with SIGTERM. Fails on any ThreadSanitizer
# report or an exit status other than 0.
#   tools/run-tsan-demo.sh PATH/TO/demo
set -eu
demo=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" \
SDL_DISKAUDIODELAY=10 TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
    "$demo" 2> "$work/stderr" &
pid=$!
sleep 4
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
if grep -q "ThreadSanitizer" "$work/stderr"; then
    tr '\r' '\n' < "$work/stderr" | grep -v '^FPS' | head -n 80
    echo "TSAN: the demo reported a data race"
    exit 1
fi
if [ "$status" -ne 0 ]; then
    tr '\r' '\n' < "$work/stderr" | grep -v '^FPS' | tail -n 20
    echo "TSAN: the demo exited with status $status"
    exit 1
fi
bytes=0
[ -f "$work/audio.raw" ] && bytes=$(wc -c < "$work/audio.raw")
echo "TSAN: clean; $bytes bytes of audio captured"
