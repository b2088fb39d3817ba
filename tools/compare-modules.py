#!/usr/bin/python3
"""Plays the real modules that tools/fetch-real-modules.sh listed with the
engine's modrender and with two outside players, openmpt123 and xmp, and
compares what they make. Not part of the test suite.

  tools/compare-modules.py [options] [BUILD_DIR] [DIR]

BUILD_DIR (default "build") holds the built modrender; DIR (default
BUILD_DIR/real-modules) holds modules.txt. Each module is rendered by all
three to 44100 Hz stereo 16-bit WAV, the whole song once from its first
order (openmpt123's first subsong), at most --cap seconds (default 600;
longer songs are cut there and marked "cap"). Per module it prints the
song length openmpt123 reports (--info, the reference), the length from
the engine's scan (modrender's listing), the length of each render, and how
well the loudness envelopes agree by two measures, each as Pearson's
correlation of ours with openmpt123's and of xmp's with openmpt123's (the
two references), on the RMS of the mono mix:
 - whole song ("r ours", "r xmp"): 50 ms windows over the whole renders,
   each render first moved by the constant lag that fits it best to
   openmpt123's on 10 ms windows (within a second; the engine starts its
   song one row late, 120 ms at the default speed, shown as "lag ms"), the
   shorter envelope padded with silence;
 - fine ("f ours", "f xmp"): --window-ms windows (default 20) over the
   first --span seconds (default 60) of each render, at the constant lag
   within 2 s that gives the highest correlation. A song's repeats hide
   less here: a note that starts, swells or stops at another moment shows.
A module passes on length when the scan is within 1% of the reference, and
on each envelope measure when its correlation is at least the references'
less 0.03. Modules the engine refuses count as misses, with its one-line
reason. The table also goes to DIR/compare.txt. Exits 0 when at least 90%
of the modules pass each, else 1. The references' renders are kept as 10 ms
energies in DIR/renders/cache (by the module's SHA-1, the cap and the
player), so a second run renders only the engine's.

--where TEXT shows where the engine's render of the first module whose path
holds TEXT (or of the module file TEXT) parts from the references'. It keeps the three renders in
DIR/renders/where (ours.wav, openmpt.wav, xmp.wav, for listening and sox)
with ours.timeline (modrender --timeline: the frame at which each row
starts), prints per second of the span the local correlations (ours and
xmp's with openmpt123's) and then, per window from --from to --to seconds
(default: the two seconds where ours falls furthest below xmp's), the
three envelopes side by side, each over its own mean, with the order, row
and tick the engine plays there. --plot PNG draws the envelopes and the
spectrograms of ours and openmpt123's over that stretch (matplotlib).

--speed N instead counts instructions with callgrind, for up to N modules of
each format that the engine plays: (modrender --loop --seconds 60 minus
--seconds 1) over the audio seconds between the two renders, over the
channel count openmpt123 reports; the same for xmp (linear interpolation
as the engine's, 44100 Hz, looping), and the ratio ours / xmp; then the
highest ratio of each format.

Options: --formats MOD-4,XM,IT (only these formats of the list), --match
TEXT[,TEXT...] (only paths holding one of the texts), --cap SECONDS,
--window-ms MS (a multiple of 10), --span SECONDS, --speed N, --where TEXT
with --from S, --to S and --plot PNG.

Needs Debian's openmpt123, xmp and python3-numpy, valgrind for --speed and
python3-matplotlib for --plot.
"""
import argparse
import bisect
import hashlib
import json
import math
import os
import re
import shutil
import signal
import subprocess
import sys

RATE = 44100
# Every envelope is built from the energies of blocks of 49 frames (1/900
# s), and every lag counts whole blocks: windows of whole 10 ms are whole
# blocks, and a lag can match a player's late start to about a
# millisecond (at a 20 ms step a constant lag alone could cost a
# rhythmic song 0.05 of its correlation).
BLOCK_FRAMES = 49
BLOCKS_PER_SECOND = RATE // BLOCK_FRAMES
BLOCKS_PER_10_MS = BLOCKS_PER_SECOND // 100
WHOLE_WINDOW_BLOCKS = 5 * BLOCKS_PER_10_MS  # 50 ms
WHOLE_LAG_STEPS = 100  # a second either way in 10 ms steps
FINE_WINDOW_MS = 20
FINE_SPAN_SECONDS = 60
FINE_LAG_BLOCKS = 2 * BLOCKS_PER_SECOND
LOCAL_SECONDS = 1  # the stretch of --where's local correlations
LENGTH_TOLERANCE = 0.01
ENVELOPE_MARGIN = 0.03
REQUIRED_SHARE = 0.90
SPEED_LONG_SECONDS = 60
SPEED_SHORT_SECONDS = 1

def fail(message, status=2):
    print("compare-modules: " + message, file=sys.stderr)
    sys.exit(status)


try:
    import numpy
except ImportError:
    fail("needs numpy for Debian's python3 (apt-get install python3-numpy)")


def run(command, timeout=1800):
    """(exit status, standard output, standard error) of a command; a
    command that cannot start or runs past the timeout gives status -1."""
    try:
        done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                              timeout=timeout)
    except (OSError, subprocess.TimeoutExpired) as error:
        return -1, "", str(error)
    return (done.returncode, done.stdout.decode("utf-8", "replace"),
            done.stderr.decode("utf-8", "replace"))


def read_wav_frames(path):
    """The frames of a 16-bit PCM WAV as an (n, channels) int16 array, or
    None. Walks the RIFF chunks, so a LIST chunk before the data is fine,
    and takes a data size past the end of the file as "up to the end"."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return None
    if len(data) < 12 or data[0:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None
    at, channels, bits, tag = 12, 0, 0, 0
    while at + 8 <= len(data):
        chunk, size = data[at:at + 4], int.from_bytes(data[at + 4:at + 8], "little")
        body = at + 8
        if chunk == b"fmt " and size >= 16:
            tag = int.from_bytes(data[body:body + 2], "little")
            channels = int.from_bytes(data[body + 2:body + 4], "little")
            bits = int.from_bytes(data[body + 14:body + 16], "little")
        elif chunk == b"data":
            if tag not in (1, 0xFFFE) or bits != 16 or channels < 1:
                return None
            end = min(len(data), body + size) if size else len(data)
            usable = (end - body) // (2 * channels) * (2 * channels)
            samples = numpy.frombuffer(data, dtype="<i2", count=usable // 2, offset=body)
            return samples.reshape(-1, channels)
        at = body + size + (size & 1)
    return None


def mono(path):
    """The mono mix of a WAV as float32, or None."""
    frames = read_wav_frames(path)
    if frames is None:
        return None
    return frames.astype(numpy.float32).mean(axis=1)


def block_energies(signal):
    """The sum of squares of a mono signal over each 10 ms block (a last
    partial block left out), float64; None for None."""
    if signal is None:
        return None
    whole = len(signal) // BLOCK_FRAMES * BLOCK_FRAMES
    blocks = signal[:whole].astype(numpy.float64).reshape(-1, BLOCK_FRAMES)
    return (blocks * blocks).sum(axis=1)


def envelope(energies, per_window, shift=0, count=None):
    """The RMS over windows of `per_window` blocks of a render whose block
    energies are given, its first block moved to block `shift` (a negative
    shift puts that many blocks of silence first): `count` windows, padded
    with silence, or as many whole windows as it has."""
    if shift >= 0:
        moved = energies[shift:]
    else:
        moved = numpy.concatenate((numpy.zeros(-shift), energies))
    whole = len(moved) // per_window
    if count is None:
        count = whole
    used = min(whole, count)
    rms = numpy.zeros(count)
    if used > 0:
        sums = moved[:used * per_window].reshape(-1, per_window).sum(axis=1)
        rms[:used] = numpy.sqrt(sums / (per_window * BLOCK_FRAMES))
    return rms


def correlation(a, b):
    """Pearson's correlation of two envelopes of one length; NaN when
    either has no variation."""
    if len(a) < 2 or a.std() == 0 or b.std() == 0:
        return math.nan
    return float(numpy.corrcoef(a, b)[0, 1])


def padded_correlation(a, b):
    """Pearson's correlation of two envelopes, the shorter padded with
    silence."""
    n = max(len(a), len(b))
    return correlation(numpy.pad(a, (0, n - len(a))), numpy.pad(b, (0, n - len(b))))


def best_lag(a, b, most):
    """The shift in windows, -most to most, by which envelope a runs late
    against envelope b, judged by their correlation where they overlap."""
    best, best_r = 0, -2.0
    for lag in range(-most, most + 1):
        x = a[lag:] if lag >= 0 else a
        y = b if lag >= 0 else b[-lag:]
        n = min(len(x), len(y))
        if n < 2 or x[:n].std() == 0 or y[:n].std() == 0:
            continue
        r = numpy.corrcoef(x[:n], y[:n])[0, 1]
        if r > best_r:
            best, best_r = lag, r
    return best


def whole_correlation(energies, reference):
    """(correlation of the 50 ms loudness envelopes over the whole songs,
    lag in ms) of a render against the reference render, after moving it
    by the constant lag, within a second either way, that fits best on
    10 ms envelopes: a player that starts its song a little late, as the
    engine does by one row, is judged on the song rather than on the
    start. NaN and None without both."""
    if energies is None or reference is None:
        return math.nan, None
    lag = BLOCKS_PER_10_MS * best_lag(envelope(energies, BLOCKS_PER_10_MS),
                                      envelope(reference, BLOCKS_PER_10_MS), WHOLE_LAG_STEPS)
    return (padded_correlation(envelope(energies, WHOLE_WINDOW_BLOCKS, lag),
                               envelope(reference, WHOLE_WINDOW_BLOCKS)),
            lag * BLOCK_FRAMES * 1000 // RATE)


def fine_correlation(energies, reference, per_window, span_blocks):
    """(correlation, lag in blocks) of a render's loudness envelope in
    windows of `per_window` blocks over the reference's first `span_blocks`
    blocks, at the constant lag within 2 s either way that gives the
    highest correlation, tried block by block (a player's lag can be
    anything, and the peak is narrow for a rhythmic song). NaN and 0
    without both."""
    if energies is None or reference is None:
        return math.nan, 0
    count = min(len(reference), span_blocks) // per_window
    target = envelope(reference, per_window, 0, count)
    if count < 2 or target.std() == 0:
        return math.nan, 0
    # Silence before and after, so that every lag has `count` windows.
    most = FINE_LAG_BLOCKS
    padded = numpy.concatenate((numpy.zeros(most), energies[:most + (count + 1) * per_window],
                                numpy.zeros(2 * most + (count + 1) * per_window)))
    sums = numpy.concatenate(([0.0], numpy.cumsum(padded)))
    centred = target - target.mean()
    best, best_lag = math.nan, 0
    # The lags with one remainder modulo the window share their windows'
    # sums: window q of lag r + k x per_window is window q + k of lag r.
    for r in range(per_window):
        edges = sums[r::per_window]
        rms = numpy.sqrt(numpy.maximum(edges[1:] - edges[:-1], 0) / (per_window * BLOCK_FRAMES))
        # As envelope(): a window the render ends within counts as silence.
        ends = r + per_window * numpy.arange(1, len(rms) + 1) - most
        rms[ends > len(energies)] = 0
        lags = numpy.arange(r, 2 * most + 1, per_window)
        views = numpy.lib.stride_tricks.sliding_window_view(rms, count)[lags // per_window]
        deviations = views - views.mean(axis=1, keepdims=True)
        norms = numpy.sqrt((deviations * deviations).sum(axis=1)) * numpy.sqrt((centred * centred).sum())
        with numpy.errstate(invalid="ignore", divide="ignore"):
            r_all = (deviations @ centred) / norms
        r_all[norms == 0] = numpy.nan
        if numpy.all(numpy.isnan(r_all)):
            continue
        k = int(numpy.nanargmax(r_all))
        if math.isnan(best) or r_all[k] > best:
            best, best_lag = float(r_all[k]), int(lags[k]) - most
    return best, best_lag


def seconds_text(text):
    """Seconds of "[[H:]M:]S.mmm", or None."""
    try:
        value = 0.0
        for part in text.strip().split(":"):
            value = value * 60 + float(part)
        return value
    except ValueError:
        return None


def openmpt_info(path):
    """(song length in seconds, channels) as openmpt123 --info reports them
    for the song played from its first order (its first subsong: openmpt123
    would otherwise add up the parts a game jumps into as songs of their
    own); None for what it does not say."""
    status, out, err = run(["openmpt123", "--info", "--subsong", "0", "--", path], timeout=120)
    text = out + err
    length = re.search(r"^Duration\.*:\s*(\S+)", text, re.M)
    channels = re.search(r"^Channels\.*:\s*(\d+)", text, re.M)
    return (seconds_text(length.group(1)) if length else None,
            int(channels.group(1)) if channels else None)


def render_ours(modrender, path, out, cap, timeline=None):
    """(scan length in seconds or None, reason refused or None). With
    `timeline`, modrender also writes its rows' start frames there."""
    extra = ["--timeline", timeline] if timeline else []
    status, text, err = run([modrender, "--seconds", "%g" % cap, *extra, "--", path, out])
    if status != 0:
        lines = [line for line in err.splitlines() if line.strip()]
        if not lines:
            return None, "modrender exited with status %d" % status
        # The reason without the program's name and the module's folders.
        reason = lines[0].replace(path, os.path.basename(path))
        return None, reason[len("modrender: "):] if reason.startswith("modrender: ") else reason
    scan = re.search(r"\((\d+) frames at (\d+) Hz\)", text)
    if not scan:
        return None, "no song length in modrender's listing"
    return int(scan.group(1)) / int(scan.group(2)), None


def render_openmpt(path, out, cap):
    return run(["openmpt123", "--batch", "--quiet", "--samplerate", str(RATE), "--channels", "2",
                "--no-float", "--subsong", "0", "--end-time", "%g" % cap, "--force", "-o", out, "--",
                path])[0] == 0


def render_xmp(path, out, cap):
    # xmp takes whole seconds.
    return run(["xmp", "--norc", "--nocmd", "--quiet", "-f", str(RATE), "-t", str(math.ceil(cap)),
                "-o", out, path])[0] == 0


def file_digest(path):
    """The SHA-1 of a file's bytes in hex, or None."""
    try:
        with open(path, "rb") as f:
            return hashlib.sha1(f.read()).hexdigest()
    except OSError:
        return None


def replace_whole(path, mode, write):
    """Writes a file through write(open file) to a temporary file beside it
    and renames that into place, so that `path` is never left half
    written."""
    temp = path + ".part"
    with open(temp, mode) as f:
        write(f)
    os.replace(temp, path)


class ReferenceCache:
    """The references' renders as block energies, and openmpt123's song
    information, kept in DIR/renders/cache by the module's SHA-1 and the
    cap: the outside players and the corpus do not change between runs."""

    def __init__(self, top, cap):
        self.folder = os.path.join(top, "renders", "cache")
        self.cap = cap
        os.makedirs(self.folder, exist_ok=True)

    def _key(self, full, what):
        digest = file_digest(full)
        return os.path.join(self.folder, "%s-%g-b%d-%s" % (digest, self.cap, BLOCK_FRAMES, what)) if digest else None

    def info(self, full):
        key = self._key(full, "info.json")
        if key and os.path.exists(key):
            with open(key) as f:
                return tuple(json.load(f))
        found = openmpt_info(full)
        if key:
            replace_whole(key, "w", lambda f: json.dump(list(found), f))
        return found

    def energies(self, full, player, wav):
        """The block energies of `player`'s render ("openmpt" or "xmp"),
        rendering into `wav` when they are not kept yet; None when the
        player made nothing."""
        key = self._key(full, player + ".npy")
        if key and os.path.exists(key):
            return numpy.load(key).astype(numpy.float64)
        render = render_openmpt if player == "openmpt" else render_xmp
        if os.path.exists(wav):
            os.remove(wav)
        render(full, wav, self.cap)
        energies = block_energies(mono(wav))
        if energies is not None and key:
            replace_whole(key, "wb", lambda f: numpy.save(f, energies.astype(numpy.float32)))
        return energies


def short_name(path):
    """A module's path without the folders every package has."""
    name = path[len("packages/"):] if path.startswith("packages/") else path
    return re.sub(r"/usr/share/(games/|doc/)?", "/", name, count=1)


def load_list(top, formats, match):
    listing = os.path.join(top, "modules.txt")
    try:
        with open(listing) as f:
            rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    except OSError as error:
        fail("cannot read %s (%s): run tools/fetch-real-modules.sh first" % (listing, error.strerror))
    modules = []
    for row in rows:
        if len(row) != 3:
            fail("%s: a line is not format, detail and path separated by tabs" % listing)
        form, detail, path = row
        if formats and form not in formats:
            continue
        if match and not any(text in path for text in match.split(",")):
            continue
        modules.append((form, detail, path))
    return modules


def number(value, form="%.1f"):
    return "-" if value is None or (isinstance(value, float) and math.isnan(value)) else form % value


ROW = "%-7s %-5s %7s %7s %6s %7s %7s %7s %6s %6s %6s %6s %6s  %-13s %s"


class Measure:
    """The fine measure's settings: windows of `window` blocks over the
    first `span` blocks."""

    def __init__(self, window_ms, span_seconds):
        self.window = window_ms * BLOCKS_PER_SECOND // 1000
        self.span = int(span_seconds * BLOCKS_PER_SECOND)


def compare(modrender, top, modules, cap, measure, report):
    work = os.path.join(top, "renders")
    cache = ReferenceCache(top, cap)
    wavs = [os.path.join(work, name) for name in ("ours.wav", "openmpt.wav", "xmp.wav")]
    report(ROW % ("format", "sig", "ref s", "scan s", "diff%", "ours s", "mpt s", "xmp s", "lag ms",
                  "r ours", "r xmp", "f ours", "f xmp", "result", "module"))
    results = []
    for form, detail, path in modules:
        full = os.path.join(top, path)
        reference, _ = cache.info(full)
        if os.path.exists(wavs[0]):
            os.remove(wavs[0])
        scan, refused = render_ours(modrender, full, wavs[0], cap)
        ours = None if refused else block_energies(mono(wavs[0]))
        mpt = cache.energies(full, "openmpt", wavs[1])
        xmp = cache.energies(full, "xmp", wavs[2])
        for old in wavs:
            if os.path.exists(old):
                os.remove(old)
        r_ours, lag = whole_correlation(ours, mpt)
        r_xmp, _ = whole_correlation(xmp, mpt)
        f_ours, _ = fine_correlation(ours, mpt, measure.window, measure.span)
        f_xmp, _ = fine_correlation(xmp, mpt, measure.window, measure.span)
        capped = reference is not None and reference > cap
        misses = []
        diff = None
        if refused:
            misses.append("refused: " + refused)
        elif reference is None:
            misses.append("openmpt123 reports no song length")
        else:
            expected = min(reference, cap)
            diff = (scan - expected) / expected * 100 if expected > 0 else math.nan
            if not abs(scan - expected) <= LENGTH_TOLERANCE * expected:
                xmp_seconds = len(xmp) / BLOCKS_PER_SECOND if xmp is not None else None
                why = "length: scan %.2f s, openmpt123 %.2f s (%+.1f%%, xmp's render %s s)" % (
                    scan, expected, diff, number(xmp_seconds, "%.2f"))
                # The render's constant lag (its late start) is part of its length.
                if lag and abs(scan - lag / 1000 - expected) <= LENGTH_TOLERANCE * expected:
                    why += ", the render's start %d ms late" % lag
                misses.append(why)
        length_ok = not misses
        passes = {}
        for name, mine, theirs in (("envelope", r_ours, r_xmp), ("fine", f_ours, f_xmp)):
            passes[name] = False
            if refused:
                continue
            if math.isnan(mine) or math.isnan(theirs):
                misses.append("%s: no correlation (ours %s, the references %s)" %
                              (name, number(mine, "%.3f"), number(theirs, "%.3f")))
            elif mine < theirs - ENVELOPE_MARGIN:
                misses.append("%s: %.3f with openmpt123, the references %.3f" % (name, mine, theirs))
            else:
                passes[name] = True
        if refused:
            result = "refused"
        else:
            failed = [name for name, ok in (("len", length_ok), ("env", passes["envelope"]),
                                            ("fine", passes["fine"])) if not ok]
            result = "miss " + ",".join(failed) if failed else "ok"
        if capped:
            result += " cap"
        report(ROW % (
            form, detail if detail != "-" else "", number(reference), number(scan), number(diff),
            *(number(len(x) / BLOCKS_PER_SECOND if x is not None else None) for x in (ours, mpt, xmp)),
            number(lag, "%d"), number(r_ours, "%.3f"), number(r_xmp, "%.3f"),
            number(f_ours, "%.3f"), number(f_xmp, "%.3f"), result, short_name(path)))
        results.append({"form": form, "path": path, "refused": refused, "length": length_ok,
                        "envelope": passes["envelope"], "fine": passes["fine"], "capped": capped,
                        "misses": misses, "r_xmp": r_xmp, "f_xmp": f_xmp})
    return results


def summarise(results, measure, report):
    total = len(results)
    if total == 0:
        report("no modules to compare")
        return False
    played = sum(1 for r in results if not r["refused"])
    report("")
    report("per format:  modules  played  length ok  envelope ok  fine ok  capped  references' median r, f")
    for form in sorted({r["form"] for r in results}):
        rows = [r for r in results if r["form"] == form]
        medians = []
        for key in ("r_xmp", "f_xmp"):
            values = [r[key] for r in rows if not math.isnan(r[key])]
            medians.append(number(float(numpy.median(values)) if values else None, "%.3f"))
        report("  %-10s %7d %7d %10d %12d %8d %7d  %s, %s" % (
            form, len(rows), sum(1 for r in rows if not r["refused"]), sum(1 for r in rows if r["length"]),
            sum(1 for r in rows if r["envelope"]), sum(1 for r in rows if r["fine"]),
            sum(1 for r in rows if r["capped"]), *medians))
    shares = []
    for key, what in (("length", "length within %g%% of openmpt123's" % (LENGTH_TOLERANCE * 100)),
                      ("envelope", "whole-song envelope at least the references' less %g" % ENVELOPE_MARGIN),
                      ("fine", "fine envelope (%d ms windows, first %g s) at least the references' less %g" % (
                          measure.window * 1000 // BLOCKS_PER_SECOND, measure.span / BLOCKS_PER_SECOND,
                          ENVELOPE_MARGIN))):
        passed = sum(1 for r in results if r[key])
        shares.append(passed >= REQUIRED_SHARE * total)
        report("%s: %d of %d modules (%.1f%%), %d of the %d played" % (
            what, passed, total, 100.0 * passed / total, passed, played))
    misses = [r for r in results if r["misses"]]
    if misses:
        report("")
        report("misses:")
        for r in misses:
            report("  %s (%s): %s" % (short_name(r["path"]), r["form"], "; ".join(r["misses"])))
    return all(shares)


def callgrind_instructions(command, out_file):
    """Instructions callgrind counted for a command, or None."""
    stats = out_file + ".callgrind"
    if os.path.exists(stats):
        os.remove(stats)
    status, _, err = run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + stats, *command],
                         timeout=3600)
    total = None
    try:
        with open(stats) as f:
            for line in f:
                if line.startswith("summary:") or line.startswith("totals:"):
                    total = int(line.split()[1])
        os.remove(stats)
    except (OSError, ValueError, IndexError):
        return None
    return total if status == 0 else None


def per_second_per_channel(render, channels, out):
    """Instructions per audio second per channel: render(seconds) is the
    command for that many seconds into out; the counts at the long and the
    short length are subtracted so that start-up and loading cancel."""
    counts, frames = [], []
    for seconds in (SPEED_LONG_SECONDS, SPEED_SHORT_SECONDS):
        count = callgrind_instructions(render(seconds), out)
        wav = read_wav_frames(out)
        if count is None or wav is None:
            return None
        counts.append(count)
        frames.append(len(wav))
        os.remove(out)
    audio = (frames[0] - frames[1]) / RATE
    return (counts[0] - counts[1]) / audio / channels if audio > 0 else None


def speed(modrender, top, modules, per_format, report):
    if not shutil.which("valgrind"):
        fail("--speed needs valgrind (apt-get install valgrind)")
    work = os.path.join(top, "renders")
    os.makedirs(work, exist_ok=True)
    out = os.path.join(work, "speed.wav")
    chosen = {}
    for form, detail, path in modules:
        if len(chosen.get(form, [])) >= per_format:
            continue
        full = os.path.join(top, path)
        # Only what the engine plays: a millisecond of it, thrown away.
        if run([modrender, "--seconds", "0.001", "--", full, os.devnull])[0] == 0:
            chosen.setdefault(form, []).append(path)
    report("instructions per audio second per channel (callgrind, %d s less %d s)" %
           (SPEED_LONG_SECONDS, SPEED_SHORT_SECONDS))
    report("%-7s %8s %12s %12s %7s  %s" % ("format", "channels", "ours", "xmp", "ratio", "module"))
    worst = {}
    for form in sorted(chosen):
        for path in chosen[form]:
            full = os.path.join(top, path)
            _, channels = openmpt_info(full)
            if not channels:
                report("%-7s %s: openmpt123 reports no channel count" % (form, short_name(path)))
                continue
            ours = per_second_per_channel(
                lambda s: [modrender, "--loop", "--seconds", str(s), "--", full, out], channels, out)
            theirs = per_second_per_channel(
                lambda s: ["xmp", "--norc", "--nocmd", "--quiet", "-f", str(RATE), "-i", "linear",
                           "--loop", "-t", str(s), "-o", out, full], channels, out)
            ratio = ours / theirs if ours and theirs else None
            report("%-7s %8d %12s %12s %7s  %s" % (
                form, channels, number(ours, "%.0f"), number(theirs, "%.0f"),
                number(ratio, "%.3f"), short_name(path)))
            if ratio is not None and (form not in worst or ratio > worst[form][0]):
                worst[form] = (ratio, path)
    for form in sorted(worst):
        report("highest ratio of %s: %.3f, %s" % (form, worst[form][0], short_name(worst[form][1])))


def read_timeline(path):
    """modrender's timeline: per row (start frame, order, row, speed,
    tempo), in order; empty when it cannot be read."""
    rows = []
    try:
        with open(path) as f:
            for line in f:
                fields = line.split()
                if len(fields) == 5 and all(x.isdigit() for x in fields):
                    rows.append(tuple(int(x) for x in fields))
    except OSError:
        pass
    return rows


def position_at(timeline, starts, frame):
    """"order.row tick" the engine plays at `frame` of its render, "-"
    before its first row."""
    at = bisect.bisect_right(starts, frame) - 1
    if at < 0:
        return "-"
    start, order, row, _, tempo = timeline[at]
    tick_frames = RATE * 5 // (2 * max(tempo, 1))
    return "%3d.%-3d t%d" % (order, row, (frame - start) // tick_frames)


def where(modrender, top, modules, cap, measure, stretch, plot, report):
    """Shows where the engine's render of the first module parts from the
    references' (see --where at the top)."""
    form, _, path = modules[0]
    full = path if os.path.isabs(path) else os.path.join(top, path)
    folder = os.path.join(top, "renders", "where")
    os.makedirs(folder, exist_ok=True)
    wavs = [os.path.join(folder, name) for name in ("ours.wav", "openmpt.wav", "xmp.wav")]
    timeline_path = os.path.join(folder, "ours.timeline")
    _, refused = render_ours(modrender, full, wavs[0], cap, timeline_path)
    if refused:
        fail("the engine refuses %s: %s" % (short_name(path), refused), 1)
    render_openmpt(full, wavs[1], cap)
    render_xmp(full, wavs[2], cap)
    signals = [mono(wav) for wav in wavs]
    if any(x is None for x in signals):
        fail("a player made no render of %s" % short_name(path), 1)
    ours, mpt, xmp = (block_energies(x) for x in signals)
    f_ours, lag = fine_correlation(ours, mpt, measure.window, measure.span)
    f_xmp, lag_xmp = fine_correlation(xmp, mpt, measure.window, measure.span)
    report("%s (%s): fine correlation with openmpt123 %.3f (ours, lag %d ms), %.3f (xmp, lag %d ms)" % (
        short_name(path), form, f_ours, lag * 1000 // BLOCKS_PER_SECOND, f_xmp,
        lag_xmp * 1000 // BLOCKS_PER_SECOND))
    report("renders in %s" % folder)
    window = measure.window
    count = min(len(mpt), measure.span) // window
    envelopes = [envelope(ours, window, lag, count), envelope(mpt, window, 0, count),
                 envelope(xmp, window, lag_xmp, count)]
    # Each over its own mean: the players' output levels differ.
    envelopes = [e / e.mean() if e.mean() > 0 else e for e in envelopes]
    per_local = LOCAL_SECONDS * BLOCKS_PER_SECOND // window
    report("")
    report("second   r ours  r xmp   (local correlation with openmpt123's; << ours 0.1 or more below)")
    worst, worst_gap = 0, -2.0
    for first in range(0, count - per_local + 1, per_local):
        part = slice(first, first + per_local)
        r_ours = correlation(envelopes[0][part], envelopes[1][part])
        r_xmp = correlation(envelopes[2][part], envelopes[1][part])
        gap = r_xmp - r_ours if not (math.isnan(r_ours) or math.isnan(r_xmp)) else math.nan
        if not math.isnan(gap) and gap > worst_gap:
            worst, worst_gap = first, gap
        report("%6.1f   %6s %6s %s" % (first * window / BLOCKS_PER_SECOND, number(r_ours, "%.3f"),
                                        number(r_xmp, "%.3f"), "<<" if gap >= 0.1 else ""))
    if stretch[0] is None:
        begin = max(0, worst - per_local // 2)
        end = min(count, begin + 2 * per_local)
    else:
        begin = max(0, int(stretch[0] * BLOCKS_PER_SECOND) // window)
        end = min(count, int(stretch[1] * BLOCKS_PER_SECOND) // window if stretch[1] else begin + 2 * per_local)
    timeline = read_timeline(timeline_path)
    starts = [row[0] for row in timeline]
    report("")
    report("%8s %6s %6s %6s %7s  %s" % ("second", "ours", "mpt", "xmp", "ours-mpt", "engine's order.row tick"))
    for i in range(begin, end):
        frame = (i * window + lag) * BLOCK_FRAMES
        report("%8.2f %6.2f %6.2f %6.2f %+7.2f  %s" % (
            i * window / BLOCKS_PER_SECOND, envelopes[0][i], envelopes[1][i], envelopes[2][i],
            envelopes[0][i] - envelopes[1][i], position_at(timeline, starts, frame)))
    if plot:
        draw(plot, signals, envelopes, lag, window, (begin, end), timeline, short_name(path))
        report("")
        report("plot in %s" % plot)


def draw(out, signals, envelopes, lag, window, stretch, timeline, title):
    """The three envelopes over the stretch (windows begin .. end) with
    the engine's row starts marked, and the spectrograms of ours and
    openmpt123's below, as a PNG."""
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        fail("--plot needs matplotlib (apt-get install python3-matplotlib)")
    begin, end = stretch
    seconds = numpy.arange(begin, end) * window / BLOCKS_PER_SECOND
    figure, axes = plt.subplots(3, 1, figsize=(14, 10), sharex=True)
    for e, name in zip(envelopes, ("ours", "openmpt123", "xmp")):
        axes[0].step(seconds, e[begin:end], where="post", label=name)
    for start, order, row, _, _ in timeline:
        t = (start / BLOCK_FRAMES - lag) / BLOCKS_PER_SECOND
        if seconds[0] <= t <= seconds[-1] + window / BLOCKS_PER_SECOND:
            axes[0].axvline(t, color="grey", linewidth=0.5)
            axes[0].text(t, axes[0].get_ylim()[1], "%d.%d" % (order, row), fontsize=6, rotation=90,
                         va="top")
    axes[0].set_ylabel("RMS / mean")
    axes[0].legend(loc="upper right")
    axes[0].set_title(title)
    low, high = begin * window * BLOCK_FRAMES, end * window * BLOCK_FRAMES
    for axis, signal, shift, name in ((axes[1], signals[0], lag * BLOCK_FRAMES, "ours"),
                                      (axes[2], signals[1], 0, "openmpt123")):
        part = signal[max(0, low + shift):max(0, high + shift)]
        if len(part) > 1024:
            axis.specgram(part, NFFT=1024, Fs=RATE, noverlap=768, xextent=(seconds[0], seconds[-1]),
                          cmap="magma")
        axis.set_ylim(0, 8000)
        axis.set_ylabel(name + " Hz")
    axes[2].set_xlabel("seconds of openmpt123's render")
    figure.tight_layout()
    temp = out + ".part.png"
    figure.savefig(temp, dpi=100)
    os.replace(temp, out)


def main():
    # Piped into head, stop quietly when it has read enough.
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)
    parser = argparse.ArgumentParser(
        prog="compare-modules",
        description="Compares the engine's renders of real modules with openmpt123's and xmp's.")
    parser.add_argument("build", nargs="?", default="build", metavar="BUILD_DIR")
    parser.add_argument("dir", nargs="?", metavar="DIR", help="default BUILD_DIR/real-modules")
    parser.add_argument("--formats", help="only these formats, comma-separated (MOD-4,XM,...)")
    parser.add_argument("--match", help="only modules whose path holds one of these texts, comma-separated")
    parser.add_argument("--cap", type=float, default=600.0,
                        help="longest render in seconds (default 600)")
    parser.add_argument("--window-ms", type=int, default=FINE_WINDOW_MS,
                        help="the fine measure's window in ms, a multiple of 10 (default 20)")
    parser.add_argument("--span", type=float, default=FINE_SPAN_SECONDS,
                        help="the fine measure's span from the start in seconds (default 60)")
    parser.add_argument("--speed", type=int, metavar="N",
                        help="count instructions for up to N modules per format instead")
    parser.add_argument("--where", metavar="TEXT",
                        help="show where the first module whose path holds TEXT parts from the references")
    parser.add_argument("--from", dest="begin", type=float, metavar="S", help="--where: from second S")
    parser.add_argument("--to", dest="end", type=float, metavar="S", help="--where: to second S")
    parser.add_argument("--plot", metavar="PNG", help="--where: draw the envelopes and spectrograms")
    args = parser.parse_args()
    if not args.cap > 0:
        fail("--cap wants a positive number of seconds")
    if args.window_ms < 10 or args.window_ms % 10:
        fail("--window-ms wants a multiple of 10")
    if not args.span > 0:
        fail("--span wants a positive number of seconds")
    measure = Measure(args.window_ms, args.span)
    top = args.dir or os.path.join(args.build, "real-modules")
    modrender = os.path.join(os.path.abspath(args.build), "modrender")
    if not os.access(modrender, os.X_OK):
        fail("build modrender first (cmake --build %s --target kevo_modrender)" % args.build)
    missing = [tool for tool in ("openmpt123", "xmp") if not shutil.which(tool)]
    if missing:
        fail("needs %s (apt-get install %s)" % (" and ".join(missing), " ".join(missing)))
    formats = set(args.formats.split(",")) if args.formats else None
    if args.where and os.path.isfile(args.where):
        # A module file of one's own (a channel taken alone, say).
        modules = [("-", "-", os.path.abspath(args.where))]
    else:
        modules = load_list(top, formats, args.where or args.match)
    if not modules:
        fail("no module in the list matches")
    if args.where:
        where(modrender, top, modules, args.cap, measure, (args.begin, args.end), args.plot,
              lambda line: print(line, flush=True))
        return 0
    if args.speed is not None:
        speed(modrender, top, modules, max(args.speed, 1), lambda line: print(line, flush=True))
        return 0
    with open(os.path.join(top, "compare.txt"), "w") as saved:
        def report(line):
            print(line, flush=True)
            saved.write(line + "\n")
        results = compare(modrender, top, modules, args.cap, measure, report)
        return 0 if summarise(results, measure, report) else 1


if __name__ == "__main__":
    sys.exit(main())
