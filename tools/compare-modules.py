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
well the loudness envelopes agree: the RMS of the mono mix over 50 ms
windows, Pearson's correlation of ours with openmpt123's and of xmp's with
openmpt123's (the two references). Each render is first moved by the
constant lag that fits it best to openmpt123's (within a second; the
engine starts its song one row late, 120 ms at the default speed, shown as
"lag ms"), and the shorter envelope is padded with silence. A module
passes on length when the scan is within 1% of the reference, and on
envelope when its correlation is at least the references' less 0.03.
Modules the engine refuses count as misses, with its one-line reason.
The table also goes to DIR/compare.txt. Exits 0 when at least 90% of the
modules pass each, else 1.

--speed N instead counts instructions with callgrind, for up to N modules of
each format that the engine plays: (modrender --loop --seconds 60 minus
--seconds 1) over the audio seconds between the two renders, over the
channel count openmpt123 reports; the same for xmp (linear interpolation
as the engine's, 44100 Hz, looping), and the ratio ours / xmp.

Options: --formats MOD-4,XM,IT (only these formats of the list), --match
TEXT[,TEXT...] (only paths holding one of the texts), --cap SECONDS, --speed N.

Needs Debian's openmpt123, xmp and python3-numpy, and valgrind for --speed.
"""
import argparse
import math
import os
import re
import shutil
import signal
import subprocess
import sys

RATE = 44100
WINDOW_FRAMES = RATE // 20  # 50 ms
FINE_WINDOW_FRAMES = RATE // 100  # 10 ms, for aligning
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


def envelope(signal, window):
    """RMS of a signal over consecutive windows of `window` frames."""
    whole = len(signal) // window * window
    windows = signal[:whole].reshape(-1, window)
    return numpy.sqrt((windows * windows).mean(axis=1, dtype=numpy.float64))


def padded_correlation(a, b):
    """Pearson's correlation of two envelopes, the shorter padded with
    silence; NaN when either has no variation."""
    n = max(len(a), len(b))
    a = numpy.pad(a, (0, n - len(a)))
    b = numpy.pad(b, (0, n - len(b)))
    if n < 2 or a.std() == 0 or b.std() == 0:
        return math.nan
    return float(numpy.corrcoef(a, b)[0, 1])


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


def aligned_correlation(signal, reference):
    """(correlation of the 50 ms loudness envelopes, lag in ms) of a render
    against the reference render, after moving it by the constant lag,
    within a second either way, that fits best on 10 ms envelopes: a player
    that starts its song a little late, as the engine does by one row, is
    judged on the song rather than on the start. NaN and None without
    both."""
    if signal is None or reference is None:
        return math.nan, None
    lag = best_lag(envelope(signal, FINE_WINDOW_FRAMES), envelope(reference, FINE_WINDOW_FRAMES),
                   RATE // FINE_WINDOW_FRAMES)
    shift = lag * FINE_WINDOW_FRAMES
    moved = signal[shift:] if shift >= 0 else numpy.concatenate(
        (numpy.zeros(-shift, dtype=signal.dtype), signal))
    return (padded_correlation(envelope(moved, WINDOW_FRAMES), envelope(reference, WINDOW_FRAMES)),
            shift * 1000 // RATE)


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


def render_ours(modrender, path, out, cap):
    """(scan length in seconds or None, reason refused or None)."""
    status, text, err = run([modrender, "--seconds", "%g" % cap, "--", path, out])
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


ROW = "%-7s %-5s %7s %7s %6s %7s %7s %7s %6s %6s %6s  %-10s %s"


def compare(modrender, top, modules, cap, report):
    work = os.path.join(top, "renders")
    os.makedirs(work, exist_ok=True)
    wavs = [os.path.join(work, name) for name in ("ours.wav", "openmpt.wav", "xmp.wav")]
    report(ROW % ("format", "sig", "ref s", "scan s", "diff%", "ours s", "mpt s", "xmp s", "lag ms",
                  "r ours", "r xmp", "result", "module"))
    results = []
    for form, detail, path in modules:
        full = os.path.join(top, path)
        for old in wavs:
            if os.path.exists(old):
                os.remove(old)
        reference, _ = openmpt_info(full)
        scan, refused = render_ours(modrender, full, wavs[0], cap)
        render_openmpt(full, wavs[1], cap)
        render_xmp(full, wavs[2], cap)
        ours, mpt, xmp = (mono(wav) for wav in wavs)
        if refused:
            ours = None
        for old in wavs:
            if os.path.exists(old):
                os.remove(old)
        r_ours, lag = aligned_correlation(ours, mpt)
        r_xmp, _ = aligned_correlation(xmp, mpt)
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
                why = "length: scan %.2f s, openmpt123 %.2f s (%+.1f%%, xmp's render %s s)" % (
                    scan, expected, diff, number(len(xmp) / RATE if xmp is not None else None, "%.2f"))
                # The render's constant lag (its late start) is part of its length.
                if lag and abs(scan - lag / 1000 - expected) <= LENGTH_TOLERANCE * expected:
                    why += ", the render's start %d ms late" % lag
                misses.append(why)
        length_ok = not misses
        envelope_ok = False
        if not refused:
            if math.isnan(r_ours) or math.isnan(r_xmp):
                misses.append("envelope: no correlation (ours %s, the references %s)" %
                              (number(r_ours, "%.3f"), number(r_xmp, "%.3f")))
            elif r_ours < r_xmp - ENVELOPE_MARGIN:
                misses.append("envelope: %.3f with openmpt123, the references %.3f" % (r_ours, r_xmp))
            else:
                envelope_ok = True
        if refused:
            result = "refused"
        elif length_ok and envelope_ok:
            result = "ok"
        else:
            result = "miss " + ("env" if length_ok else "len" if envelope_ok else "both")
        if capped:
            result += " cap"
        report(ROW % (
            form, detail if detail != "-" else "", number(reference), number(scan), number(diff),
            *(number(len(x) / RATE if x is not None else None) for x in (ours, mpt, xmp)),
            number(lag, "%d"), number(r_ours, "%.3f"), number(r_xmp, "%.3f"), result,
            short_name(path)))
        results.append((form, path, refused, length_ok, envelope_ok, capped, misses, r_xmp))
    return results


def summarise(results, report):
    total = len(results)
    if total == 0:
        report("no modules to compare")
        return False
    played = [r for r in results if not r[2]]
    length_pass = sum(1 for r in results if r[3])
    envelope_pass = sum(1 for r in results if r[4])
    report("")
    report("per format:  modules  played  length ok  envelope ok  capped  references' median r")
    for form in sorted({r[0] for r in results}):
        rows = [r for r in results if r[0] == form]
        agreements = [r[7] for r in rows if not math.isnan(r[7])]
        report("  %-10s %7d %7d %10d %12d %7d  %s" % (
            form, len(rows), sum(1 for r in rows if not r[2]), sum(1 for r in rows if r[3]),
            sum(1 for r in rows if r[4]), sum(1 for r in rows if r[5]),
            number(float(numpy.median(agreements)) if agreements else None, "%.3f")))
    report("length within %g%% of openmpt123's: %d of %d modules (%.1f%%), %d of the %d played" % (
        LENGTH_TOLERANCE * 100, length_pass, total, 100.0 * length_pass / total, length_pass,
        len(played)))
    report("envelope at least the references' less %g: %d of %d modules (%.1f%%), %d of the %d played" % (
        ENVELOPE_MARGIN, envelope_pass, total, 100.0 * envelope_pass / total, envelope_pass,
        len(played)))
    misses = [r for r in results if r[6]]
    if misses:
        report("")
        report("misses:")
        for form, path, _, _, _, _, why, _ in misses:
            report("  %s (%s): %s" % (short_name(path), form, "; ".join(why)))
    return length_pass >= REQUIRED_SHARE * total and envelope_pass >= REQUIRED_SHARE * total


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
    parser.add_argument("--speed", type=int, metavar="N",
                        help="count instructions for up to N modules per format instead")
    args = parser.parse_args()
    if not args.cap > 0:
        fail("--cap wants a positive number of seconds")
    top = args.dir or os.path.join(args.build, "real-modules")
    modrender = os.path.join(os.path.abspath(args.build), "modrender")
    if not os.access(modrender, os.X_OK):
        fail("build modrender first (cmake --build %s --target kevo_modrender)" % args.build)
    missing = [tool for tool in ("openmpt123", "xmp") if not shutil.which(tool)]
    if missing:
        fail("needs %s (apt-get install %s)" % (" and ".join(missing), " ".join(missing)))
    formats = set(args.formats.split(",")) if args.formats else None
    modules = load_list(top, formats, args.match)
    if args.speed is not None:
        speed(modrender, top, modules, max(args.speed, 1), lambda line: print(line, flush=True))
        return 0
    with open(os.path.join(top, "compare.txt"), "w") as saved:
        def report(line):
            print(line, flush=True)
            saved.write(line + "\n")
        results = compare(modrender, top, modules, args.cap, report)
        return 0 if summarise(results, report) else 1


if __name__ == "__main__":
    sys.exit(main())
