#!/bin/sh
# Real modules: downloads Debian packages that ship tracker modules (games'
# music, a few library examples), unpacks them and lists every module file
# found by its content, whatever its name (powermanga names its XM files
# .zik), with its format. tools/compare-modules.py then plays the list with
# the engine and with two outside players. Not part of the test suite: it
# needs the package archive.
#
#   tools/fetch-real-modules.sh [BUILD_DIR] [DIR]
#
# The packages and their files go to DIR (default BUILD_DIR/real-modules,
# BUILD_DIR defaulting to "build"), which is never committed. apt-get's
# package lists must be current (apt-get update). Every package is in
# Debian main, so its music may be redistributed; about 100 MB in all.
#
# Writes DIR/modules.txt, one module a line: format, detail, path (relative
# to DIR), separated by tabs. Formats: MOD-4 (signature M.K., M!K!, 4CHN,
# FLT4 or M&K! in the detail), MOD-N for N channels (2CHN to 9CHN, 10CH to
# 32CH, FLT8, CD81, OKTA, OCTA, TDZ1 to TDZ3), MOD-15 (a 15-sample
# Soundtracker module: no signature, taken only when its whole 600-byte
# header is plausible and the file's size fits it), XM, S3M, IT, and other
# (MTM, MED, OKT, STM, PTM, ULT, FAR, MO3, UMX: the kind in the detail).
# A file whose bytes repeat one listed before is left out. Prints the count
# of each format; exits 1 when no module was found.
set -eu

BUILD=${1:-build}
DIR=${2:-$BUILD/real-modules}
# What each brings, as found when the list was made:
#   XM:  pekka-kana-2-data 15, heroes-sound-tracks 13, flobopuyo 7,
#        rafkill-data 5, bomberclone-data 5, powermanga-data 3 (.zik),
#        vodovod 3, and 1 or 2 from each of the rest;
#   S3M: gl-117-data 8, pachi-data 6, bb 3, penguin-command 3, and 1 each
#        from pingus-data, gweled, madbomber-data, monsterz-data, njam-data,
#        pathogen, vectoroids;
#   MOD with 6 or 8 channels: ironseed-data 25, freedroid-data, clanlib-doc,
#        libplib-doc;
#   4-channel MOD: tecnoballz-data 14, freedroid-data 7, circuslinux-data 5,
#        rockdodger 5, open-invaders-data 4, tuxtype-data 3, madbomber-data 3
#        and more;
#   IT:  pingus-data 19, biniax2-data 8, cuyo-data, gltron, madbomber-data.
PACKAGES="ballz-data bb biniax2-data black-box bomberclone-data bugsquish ceferino-data
circuslinux-data clanlib-doc criticalmass-data cuyo-data dodgindiamond2 fb-music-high flobopuyo
freedroid-data gemdropx gl-117-data gltron gweled heroes-sound-tracks ironseed-data
libplib-doc madbomber-data monsterz-data njam-data open-invaders-data pachi-data pathogen
pekka-kana-2-data penguin-command pingus-data powermanga-data rafkill-data rockdodger sdlbasic
solarwolf tecnoballz-data tuxtype-data vectoroids vodovod vor"

if ! command -v python3 >/dev/null 2>&1; then
    echo "fetch-real-modules: needs python3 to recognise the modules (apt-get install python3)" >&2
    exit 2
fi
mkdir -p "$DIR/debs" "$DIR/packages"
DIR=$(cd "$DIR" && pwd)

for package in $PACKAGES; do
    if ! ls "$DIR/debs/${package}"_*.deb >/dev/null 2>&1; then
        (cd "$DIR/debs" && apt-get download "$package")
    fi
    rm -rf "${DIR:?}/packages/$package"
    dpkg-deb -x "$DIR/debs/${package}"_*.deb "$DIR/packages/$package"
done
download_bytes=$(cat "$DIR"/debs/*.deb | wc -c)
echo "fetch-real-modules: $(echo "$PACKAGES" | wc -w) packages, $((download_bytes / 1048576)) MB downloaded in $DIR/debs"

python3 - "$DIR" <<'EOF'
import hashlib
import os
import sys

FIXED_SIGNATURES = {b"M.K.": 4, b"M!K!": 4, b"M&K!": 4, b"4CHN": 4, b"FLT4": 4, b"FLT8": 8,
                    b"CD81": 8, b"OKTA": 8, b"OCTA": 8, b"TDZ1": 1, b"TDZ2": 2, b"TDZ3": 3}


def mod_channels(signature):
    """The channel count a 31-sample MOD's signature at 1080 gives, or 0."""
    if signature in FIXED_SIGNATURES:
        return FIXED_SIGNATURES[signature]
    if signature[1:] == b"CHN" and 0x31 <= signature[0] <= 0x39:
        return signature[0] - 0x30
    if signature[2:] == b"CH" and signature[:2].isdigit() and 10 <= int(signature[:2]) <= 32:
        return int(signature[:2])
    return 0


def printable(text):
    """A name field: printable ASCII or Latin-1 up to its first zero byte."""
    return all(32 <= c < 127 or c >= 160 for c in text.split(b"\0", 1)[0])


def soundtracker_plausible(head, size):
    """A 15-sample module: a 20-byte title, 15 sample headers of 30 bytes,
    the song length, a restart byte and 128 orders, then 1024-byte patterns
    and the sample data. Names must be text, volumes at most 64, loops
    inside their samples, orders below 64, and the file about as long as
    the header says (some are cut inside their last sample)."""
    if size < 600 + 1024 or not printable(head[0:20]):
        return False
    sample_bytes = 0
    named = 0
    for i in range(15):
        h = head[20 + 30 * i:50 + 30 * i]
        length = int.from_bytes(h[22:24], "big") * 2
        loop_start = int.from_bytes(h[26:28], "big")
        loop_length = int.from_bytes(h[28:30], "big") * 2
        if not printable(h[0:22]) or h[24] > 15 or h[25] > 64:
            return False
        # Soundtracker counts the loop start in bytes, later trackers in words.
        if length and loop_length > 2 and loop_start + loop_length > length + 2:
            return False
        named += h[0] != 0
        sample_bytes += length
    song_length = head[470]
    orders = head[472:600]
    if not 1 <= song_length <= 128 or max(orders) >= 64 or named == 0:
        return False
    needed = 600 + (max(orders) + 1) * 1024
    return needed + sample_bytes // 2 <= size <= needed + sample_bytes + 4096


OTHER_AT_START = [(b"MMD0", "MED"), (b"MMD1", "MED"), (b"MMD2", "MED"), (b"MMD3", "MED"),
                  (b"OKTASONG", "OKT"), (b"MAS_UTrack_V00", "ULT"), (b"FAR\xfe", "FAR"),
                  (b"MO3", "MO3"), (b"\xc1\x83\x2a\x9e", "UMX"), (b"MTM\x10", "MTM")]


def sniff(head, size):
    """(format, detail) of a file from its first 1084 bytes, or None."""
    if head.startswith(b"Extended Module: "):
        return "XM", "-"
    if head[44:48] == b"SCRM":
        return "S3M", "-"
    if head.startswith(b"IMPM"):
        return "IT", "-"
    if head[44:48] == b"PTMF":
        return "other", "PTM"
    if head[20:28] in (b"!Scream!", b"BMOD2STM") and len(head) > 29 and head[29] == 2:
        return "other", "STM"
    for magic, kind in OTHER_AT_START:
        if head.startswith(magic):
            return "other", kind
    if len(head) >= 1084:
        channels = mod_channels(head[1080:1084])
        if channels:
            return "MOD-%d" % channels, head[1080:1084].decode("latin-1")
    if len(head) >= 600 and soundtracker_plausible(head, size):
        return "MOD-15", "-"
    return None


top = sys.argv[1]
root = os.path.join(top, "packages")
found = []
for folder, subfolders, names in os.walk(root):
    subfolders.sort()
    for name in sorted(names):
        path = os.path.join(folder, name)
        if os.path.islink(path) or not os.path.isfile(path):
            continue
        with open(path, "rb") as f:
            head = f.read(1084)
        kind = sniff(head, os.path.getsize(path))
        if kind:
            found.append((kind, path))

seen = {}
counts = {}
duplicates = 0
with open(os.path.join(top, "modules.txt"), "w") as listing:
    for (form, detail), path in found:
        with open(path, "rb") as f:
            digest = hashlib.sha1(f.read()).hexdigest()
        relative = os.path.relpath(path, top)
        if digest in seen:
            duplicates += 1
            continue
        seen[digest] = relative
        listing.write("%s\t%s\t%s\n" % (form, detail, relative))
        counts[form] = counts.get(form, 0) + 1


def order(form):
    ranks = {"MOD-4": 0, "MOD-15": 2, "XM": 3, "S3M": 4, "IT": 5, "other": 6}
    return (ranks.get(form, 1), int(form[4:]) if form.startswith("MOD-") else 0, form)


print("format   modules")
for form in sorted(counts, key=order):
    print("%-8s %7d" % (form, counts[form]))
print("%-8s %7d  (%d duplicates left out) in %s" % ("total", sum(counts.values()), duplicates,
                                                   os.path.join(top, "modules.txt")))
sys.exit(0 if counts else 1)
EOF
