#!/bin/sh
# Measures the running demo's share of one CPU core from /proc/PID/stat:
# the demo starts, runs WARMUP seconds, then its user + system time over
# SECONDS seconds of wall time is reported as a percentage of one core
# (threads included: the audio thread's mixing counts).
#   tools/demo-cpu.sh [headless|xvfb] [SECONDS]     (default: headless 10)
# headless: SDL_VIDEODRIVER=dummy. xvfb: a real window on an Xvfb display
# this script starts itself. The music plays in both, captured by SDL's
# disk audio driver into a scratch file. Run from the repository root
# after building (DEMO=path overrides build/demo).
set -eu
mode=${1:-headless}
seconds=${2:-10}
warmup=1
demo=${DEMO:-build/demo}
[ -x "$demo" ] || { echo "demo-cpu: no demo at $demo (build it first)" >&2; exit 1; }
work=$(mktemp -d)
xvfb_pid=""
demo_pid=""
cleanup() {
    [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
case "$mode" in
    headless) video="SDL_VIDEODRIVER=dummy" ;;
    xvfb)
        command -v Xvfb >/dev/null || { echo "demo-cpu: Xvfb is missing (Debian package xvfb)" >&2; exit 1; }
        # Xvfb picks a free display and writes its number once it is ready.
        mkfifo "$work/displayfd"
        Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp 3>"$work/displayfd" 2>/dev/null &
        xvfb_pid=$!
        read -r number < "$work/displayfd" || true
        [ -n "$number" ] || { echo "demo-cpu: Xvfb did not start" >&2; exit 1; }
        video="DISPLAY=:$number"
        ;;
    *) echo "usage: tools/demo-cpu.sh [headless|xvfb] [SECONDS]" >&2; exit 2 ;;
esac
# One 1024-frame buffer every 23 ms: the pace of a real device.
env -u SDL_VIDEODRIVER $video SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/audio.raw" SDL_DISKAUDIODELAY=23 \
    "$demo" 2>/dev/null &
demo_pid=$!
sleep "$warmup"
# A demo that could not start would otherwise be measured as an idle one.
kill -0 "$demo_pid" 2>/dev/null || { echo "demo-cpu: the demo ended during start-up (run it alone to see why)" >&2; exit 1; }
ticks() { awk '{ print $14 + $15 }' "/proc/$demo_pid/stat"; }
hz=$(getconf CLK_TCK)
t0=$(ticks)
s0=$(date +%s.%N)
sleep "$seconds"
t1=$(ticks)
s1=$(date +%s.%N)
awk -v t="$((t1 - t0))" -v hz="$hz" -v s0="$s0" -v s1="$s1" -v mode="$mode" \
    'BEGIN { printf "demo-cpu: %s: %.2f%% of one core over %.1f s\n", mode, 100 * t / hz / (s1 - s0), s1 - s0 }'
