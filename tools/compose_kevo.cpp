// Composes the demo's own module, "res/kevo.mod": synthesizes its eight
// instruments as signed 8-bit samples, writes its ten patterns from a small
// tracker-like text notation, and stores the result as a four-channel "M.K."
// module. Everything comes from this file, so the output is the same bytes
// on every run (a test checks the committed module against it).
//
//   compose_kevo OUT.mod
//
// Exit status 0 when OUT.mod was written; 2 with the usage line for a wrong
// command line; 1 with one "compose_kevo: ..." line on standard error
// otherwise (then OUT.mod is not left behind).
//
// The song: A minor, tempo 125 and speed 6 (16 rows to a bar, 4 bars to a
// pattern, about 86 seconds before it loops). Channel 0 (left) plays the
// bass, channel 1 (right) the drums, channel 2 (right) the lead and the
// intro's plucked arpeggio, channel 3 (left) the chords: arpeggio chords on
// the pad, plucked arpeggios in the chorus, a tremolo-gated pad in the
// breakdown.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "music/mod_player.h"     // MOD_CHANNELS, MOD_ROWS, MOD_SAMPLES, ...
#include "music/mod_tables_internal.h"     // period_table, PAULA_CLOCK_HZ
#include "music/module_format_internal.h"  // file offsets
#include "platform/program_args.h"
#include "util/std_fds.h"

// ---------------------------------------------------------------------------
// The module being built

constexpr int SONG_PATTERNS = 10;
constexpr uint32_t MAX_SAMPLE_BYTES = 65535 * 2;  // a 16-bit word count
constexpr uint32_t SAMPLE_POOL_BYTES = 1 << 17;   // all instruments together
constexpr int ROWS_PER_BAR = 16;
constexpr uint8_t ORDER_RESTART_BYTE = 127;       // byte 951, unread by the player
constexpr double PI = 3.14159265358979323846;

struct Cell {
    uint16_t period;  // 0 = no note
    uint8_t sample;   // 0 = none
    uint16_t effect;  // command word, 0 = none
};

struct Instrument {
    char name[MOD_SAMPLE_NAME_BYTES + 1];
    int8_t *data;               // inside Composition.pool
    uint32_t length_bytes;      // even
    uint32_t loop_start_bytes;  // even
    uint32_t loop_length_bytes; // even; 0 = one-shot
    uint8_t volume;             // default volume 0..64
};

struct Composition {
    char title[MOD_TITLE_BYTES + 1];
    Instrument samples[MOD_SAMPLES];  // sample n at index n - 1
    uint8_t orders[MOD_ORDER_ENTRIES];
    int song_length;
    Cell patterns[SONG_PATTERNS][MOD_ROWS][MOD_CHANNELS];
    int8_t pool[SAMPLE_POOL_BYTES];
    uint32_t pool_used_bytes;
};

// The composition is this program's own data: a mistake in it is a bug of
// the program, reported and fatal.
static void fail(const char *what, const char *detail) {
    fprintf(stderr, "compose_kevo: %s: '%s'\n", what, detail);
    exit(1);
}

// ---------------------------------------------------------------------------
// Instruments. Each is synthesized in double precision into a scratch
// buffer, normalized to a peak of PEAK and rounded to signed 8 bits.

// Sample numbers (1-based, as in the patterns).
enum {
    SMP_BASS = 1,
    SMP_LEAD,
    SMP_PAD,
    SMP_PLUCK,
    SMP_KICK,
    SMP_SNARE,
    SMP_HAT,
    SMP_OPEN_HAT,
    SMP_CREDIT_FIRST
};

constexpr double PEAK = 0.95;
constexpr int SCRATCH_BYTES = 1 << 16;

// Playback rates of the notes the instruments are designed for: a sample of
// a melodic instrument holds one cycle (or whole cycles) of `cycle` bytes,
// so its note sounds at rate(period) / cycle Hz; the drums are recorded at
// the rate of the one note they are always played at.
static double period_rate_hz(int period) { return static_cast<double>(PAULA_CLOCK_HZ) / period; }
constexpr int PERIOD_C3 = 214;  // drums' kick and snare note
constexpr int PERIOD_B3 = 113;  // hi-hats' note, the highest rate

// A reproducible noise source (xorshift32); its sequence is part of the
// module, so it must never change.
struct Noise {
    uint32_t state;
};

static double noise_next(Noise *noise) {
    uint32_t x = noise->state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    noise->state = x;
    return static_cast<double>(x) / 2147483648.0 - 1.0;  // -1 .. 1
}

static Instrument *instrument_begin(Composition *song, int number, const char *name,
                                    uint32_t length_bytes, uint8_t volume) {
    if (length_bytes % 2 || length_bytes > MAX_SAMPLE_BYTES ||
        song->pool_used_bytes + length_bytes > SAMPLE_POOL_BYTES)
        fail("sample does not fit", name);
    Instrument *in = &song->samples[number - 1];
    snprintf(in->name, sizeof in->name, "%s", name);
    in->data = song->pool + song->pool_used_bytes;
    in->length_bytes = length_bytes;
    in->volume = volume;
    song->pool_used_bytes += length_bytes;
    return in;
}

static void instrument_set_loop(Instrument *in, uint32_t start_bytes, uint32_t length_bytes) {
    if (start_bytes % 2 || length_bytes % 2 || start_bytes + length_bytes > in->length_bytes)
        fail("loop outside its sample", in->name);
    in->loop_start_bytes = start_bytes;
    in->loop_length_bytes = length_bytes;
}

// Scales `wave` to a peak of PEAK and rounds it into the instrument's bytes.
static void instrument_store(Instrument *in, const double *wave) {
    double peak = 0.0;
    for (uint32_t i = 0; i < in->length_bytes; i++)
        if (fabs(wave[i]) > peak) peak = fabs(wave[i]);
    double scale = peak > 0.0 ? PEAK * 127.0 / peak : 0.0;
    for (uint32_t i = 0; i < in->length_bytes; i++) {
        double v = floor(wave[i] * scale + 0.5);
        if (v > 127.0) v = 127.0;
        if (v < -127.0) v = -127.0;
        in->data[i] = static_cast<int8_t>(v);
    }
}

// Linear fade of the last `bytes` of a one-shot sample down to 0, so that
// its end never clicks.
static void fade_tail(double *wave, uint32_t length, uint32_t bytes) {
    for (uint32_t i = 0; i < bytes; i++) wave[length - 1 - i] *= static_cast<double>(i) / bytes;
}

// Sum of sine harmonics h = 1 .. count (odd ones only if odd_only) of a
// tone with `cycles` periods per `span` samples, harmonic h weighted
// 1 / h^rolloff; every harmonic starts at phase 0, so the tone starts at 0
// and repeats exactly after `span`.
static double harmonic_sum(int t, double cycles, double span, int count, double rolloff,
                           int odd_only) {
    double sum = 0.0;
    for (int h = 1; h <= count; h++) {
        if (odd_only && h % 2 == 0) continue;
        sum += sin(2.0 * PI * h * cycles * t / span) / pow(h, rolloff);
    }
    return sum;
}

// Bass: a sawtooth of 64-byte cycles (C-1 sounds at 65 Hz) whose brightness
// falls over 12 attack cycles, then one warm cycle looped. Every cycle
// starts at the zero crossing in the middle of the saw's ramp (harmonic h
// shifted by h half turns), so cycles join without a step and a note starts
// from 0 rather than from the saw's jump.
static void make_bass(Composition *song, double *wave) {
    const int cycle = 64, attack_cycles = 12;
    Instrument *in = instrument_begin(song, SMP_BASS, "kevo bass", (attack_cycles + 1) * cycle, 40);
    for (int k = 0; k <= attack_cycles; k++) {
        double age = static_cast<double>(k) / attack_cycles;    // 0 at the attack, 1 in the loop
        double decay = 0.18 + 0.42 * age;          // per-harmonic damping
        double gain = 1.0 + 0.35 * (1.0 - age);
        for (int t = 0; t < cycle; t++) {
            double v = 0.0;
            for (int h = 1; h <= 20; h++)
                v += (h % 2 ? -1.0 : 1.0) * sin(2.0 * PI * h * t / cycle) / h *
                     exp(-(h - 1) * decay);
            wave[k * cycle + t] = gain * v;
        }
    }
    instrument_store(in, wave);
    instrument_set_loop(in, attack_cycles * cycle, cycle);
}

// Detuned oscillators for the lead and the pad: `count` voices of cycles
// base - 1, base, base + 1 per loop of `span` bytes (a gentle chorus that
// beats once per loop), band-limited below half the rate, preceded by a
// raised-cosine fade-in of `attack` bytes so notes start without a click.
static void make_chorus(Instrument *in, double *wave, int base_cycles, int span, int attack,
                        double rolloff, double octave_mix) {
    const double detune_weight[3] = {0.8, 1.0, 0.8};
    for (int t = 0; t < attack + span; t++) {
        double v = 0.0;
        for (int o = 0; o < 3; o++) {
            int cycles = base_cycles - 1 + o;
            int harmonics = (span / 2 - 1) / (cycles + 1);
            v += detune_weight[o] * harmonic_sum(t, cycles, span, harmonics, rolloff, 0);
        }
        if (octave_mix > 0.0)
            v += octave_mix * harmonic_sum(t, 2 * base_cycles, span, 3, 2.0, 0);
        if (t < attack) v *= 0.5 - 0.5 * cos(PI * t / attack);
        wave[t] = v;
    }
    instrument_store(in, wave);
    instrument_set_loop(in, attack, span);
}

// Lead: three detuned sawtooths of 32-byte cycles (C-2 sounds at 259 Hz),
// looped over 4096 bytes.
static void make_lead(Composition *song, double *wave) {
    const int span = 4096, attack = 128;
    Instrument *in = instrument_begin(song, SMP_LEAD, "kevo lead", attack + span, 52);
    make_chorus(in, wave, span / 32, span, attack, 1.15, 0.0);
}

// Pad: three detuned soft (1/h^2) tones of 64-byte cycles plus a little of
// the octave, looped over 8192 bytes, with a slow fade-in.
static void make_pad(Composition *song, double *wave) {
    const int span = 8192, attack = 1024;
    Instrument *in = instrument_begin(song, SMP_PAD, "kevo pad", attack + span, 44);
    make_chorus(in, wave, span / 64, span, attack, 2.0, 0.3);
}

// Pluck: a square-ish tone of 32-byte cycles whose upper harmonics die
// faster than the note itself, opened by a 24-byte ramp (a square starts
// on its jump); one-shot.
static void make_pluck(Composition *song, double *wave) {
    const int cycle = 32, length = 3072;
    Instrument *in = instrument_begin(song, SMP_PLUCK, "kevo pluck", length, 44);
    for (int t = 0; t < length; t++) {
        double v = 0.0;
        for (int h = 1; h <= 15; h += 2)
            v += sin(2.0 * PI * h * t / cycle) / h * exp(-(h - 1) * t / 2400.0);
        wave[t] = v * exp(-t / 380.0) * (t < 24 ? t / 24.0 : 1.0);
    }
    fade_tail(wave, length, 64);
    instrument_store(in, wave);
}

// Kick, recorded for C-3: a sine falling from 178 Hz to 48 Hz, a short
// noise click at its start, a soft saturation for punch.
static void make_kick(Composition *song, double *wave) {
    const double rate = period_rate_hz(PERIOD_C3);
    const uint32_t length = 5964;  // 0.36 s
    Instrument *in = instrument_begin(song, SMP_KICK, "kevo kick", length, 64);
    Noise noise = {0x6b69636bu};
    double phase = 0.0;
    for (uint32_t i = 0; i < length; i++) {
        double t = i / rate;
        double hz = 48.0 + 130.0 * exp(-t / 0.025);
        double v = sin(phase) * exp(-t / 0.16);
        if (t < 0.003) v += 0.3 * noise_next(&noise) * (1.0 - t / 0.003);
        wave[i] = tanh(1.8 * v);
        phase += 2.0 * PI * hz / rate;
    }
    fade_tail(wave, length, 160);
    instrument_store(in, wave);
}

// Snare, recorded for C-3: two drum-head tones and a brighter noise burst
// (the noise's first difference) that outlasts them.
static void make_snare(Composition *song, double *wave) {
    const double rate = period_rate_hz(PERIOD_C3);
    const uint32_t length = 4972;  // 0.30 s
    Instrument *in = instrument_begin(song, SMP_SNARE, "kevo snare", length, 52);
    Noise noise = {0x736e6172u};
    double last = 0.0;
    for (uint32_t i = 0; i < length; i++) {
        double t = i / rate;
        double n = noise_next(&noise);
        double bright = n - 0.6 * last;
        last = n;
        wave[i] = 0.6 * sin(2.0 * PI * 190.0 * t) * exp(-t / 0.04) +
                  0.3 * sin(2.0 * PI * 330.0 * t) * exp(-t / 0.03) +
                  0.7 * bright * exp(-t / 0.085);
    }
    fade_tail(wave, length, 160);
    instrument_store(in, wave);
}

// Hi-hat, recorded for B-3 (the highest rate, 31388 Hz): noise through two
// first differences (a steep high-pass), decaying with `decay_s`.
static void make_hat(Composition *song, double *wave, int number, const char *name, uint32_t length,
                     double decay_s, uint8_t volume, uint32_t seed) {
    const double rate = period_rate_hz(PERIOD_B3);
    Instrument *in = instrument_begin(song, number, name, length, volume);
    Noise noise = {seed};
    double last = 0.0, last_diff = 0.0;
    for (uint32_t i = 0; i < length; i++) {
        double n = noise_next(&noise);
        double diff = n - last;
        wave[i] = (diff - last_diff) * exp(-(i / rate) / decay_s);
        last = n;
        last_diff = diff;
    }
    fade_tail(wave, length, 128);
    instrument_store(in, wave);
}

// The unused sample slots carry the credits, as trackers' modules do.
static void name_credits(Composition *song) {
    const char *lines[] = {"kevo demo theme", "composed in code by", "tools/compose_kevo",
                           "8-bit synthesized", "A minor, 125 bpm"};
    for (size_t i = 0; i < sizeof lines / sizeof lines[0]; i++)
        snprintf(song->samples[SMP_CREDIT_FIRST - 1 + i].name, MOD_SAMPLE_NAME_BYTES + 1, "%s",
                 lines[i]);
}

static void make_instruments(Composition *song) {
    double *wave = static_cast<double *>(calloc(SCRATCH_BYTES, sizeof(double)));
    if (!wave) fail("out of memory", "scratch");
    make_bass(song, wave);
    make_lead(song, wave);
    make_pad(song, wave);
    make_pluck(song, wave);
    make_kick(song, wave);
    make_snare(song, wave);
    make_hat(song, wave, SMP_HAT, "kevo closed hat", 2510, 0.02, 34, 0x68617431u);
    make_hat(song, wave, SMP_OPEN_HAT, "kevo open hat", 15694, 0.16, 26, 0x68617432u);
    free(wave);
    name_credits(song);
}

// ---------------------------------------------------------------------------
// Notation. Notes are named as in a tracker: letter, '-' or '#', octave 1..3
// ("A-1", "C#3"), and stand for period_table entries. Command words are
// three hex digits ("037", "EC3", "F7D").

// Index 0..35 into period_table of a note name, or -1.
static int note_index(const char *name) {
    static const int semitone[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (name[0] < 'A' || name[0] > 'G' || (name[1] != '-' && name[1] != '#') ||
        name[2] < '1' || name[2] > '3')
        return -1;
    int index = (name[2] - '1') * 12 + semitone[name[0] - 'A'] + (name[1] == '#');
    return index < PERIOD_TABLE_NOTES ? index : -1;
}

static int parse_hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Command word of three hex digits at `text`, or -1.
static int parse_effect(const char *text) {
    int word = 0;
    for (int i = 0; i < 3; i++) {
        int d = parse_hex_digit(text[i]);
        if (d < 0) return -1;
        word = word * 16 + d;
    }
    return word;
}

static Cell *cell_at(Composition *song, int pattern, int row, int channel) {
    if (pattern < 0 || pattern >= SONG_PATTERNS || row < 0 || row >= MOD_ROWS || channel < 0 ||
        channel >= MOD_CHANNELS)
        fail("cell outside the song", "pattern/row/channel");
    return &song->patterns[pattern][row][channel];
}

static void put_note(Composition *song, int pattern, int row, int channel, int index, int sample) {
    Cell *cell = cell_at(song, pattern, row, channel);
    if (index < 0 || index >= static_cast<int>(sizeof period_table / sizeof period_table[0]))
        fail("note outside the period table", "note");
    cell->period = period_table[index];
    cell->sample = static_cast<uint8_t>(sample);
}

// Adds a command to a cell; one command per cell, so a second one is a
// mistake in the composition.
static void put_effect(Composition *song, int pattern, int row, int channel, int effect) {
    Cell *cell = cell_at(song, pattern, row, channel);
    if (cell->effect != 0) fail("two commands in one cell", "put_effect");
    cell->effect = static_cast<uint16_t>(effect);
}

// A melody line from `row` on. Items are separated by spaces ('|' marks
// bars and is skipped):
//   NOTE[*rows][:CMD][~CMD]  a note held for `rows` rows (default 1) with
//                            CMD on its first row and ~CMD on the others
//   -[*rows]                 a rest: the sounding note fades out (A0F)
//   .[*rows][~CMD]           rows with no note (CMD on each of them)
// Returns the row after the line.
static int put_melody(Composition *song, int pattern, int channel, int row, int sample,
                      const char *text) {
    const char *p = text;
    while (*p) {
        if (*p == ' ' || *p == '|') {
            p++;
            continue;
        }
        const char *item = p;
        int index = -1, rows = 1, first = 0, hold = 0;
        char kind = *p;
        if (kind == '-' || kind == '.') {
            p++;
        } else {
            index = note_index(p);
            if (index < 0) fail("bad note", item);
            p += 3;
        }
        if (*p == '*') {
            rows = static_cast<int>(strtol(p + 1, const_cast<char **>(&p), 10));
            if (rows < 1) fail("bad length", item);
        }
        if (*p == ':') {
            first = parse_effect(p + 1);
            if (first < 0) fail("bad command", item);
            p += 4;
        }
        if (*p == '~') {
            hold = parse_effect(p + 1);
            if (hold < 0) fail("bad command", item);
            p += 4;
        }
        if (*p != ' ' && *p != '|' && *p != '\0') fail("bad melody item", item);
        for (int r = 0; r < rows; r++, row++) {
            int effect = r == 0 ? first : hold;
            if (r == 0 && index >= 0) put_note(song, pattern, row, channel, index, sample);
            if (r == 0 && kind == '-') effect = 0xA0F;
            if (kind == '.') effect = hold;
            if (effect) put_effect(song, pattern, row, channel, effect);
        }
    }
    return row;
}

// Drums: one character per row, '|' and ' ' skipped.
//   k kick   s snare   g ghost snare (starts 2048 bytes in: its quiet tail)
//   r snare roll, two hits a row (E93)   t snare roll, three a row (E92)
//   h soft closed hat (C16)   H closed hat   f closed hat late by 3 ticks (ED3)
//   o open hat   c open hat choked on tick 3 (EC3)   . nothing
static int put_drums(Composition *song, int pattern, int channel, int row, const char *text) {
    const int c3 = note_index("C-3"), b3 = note_index("B-3");
    for (const char *p = text; *p; p++) {
        int index = c3, sample = 0, effect = 0;
        switch (*p) {
        case ' ': case '|': continue;
        case '.': row++; continue;
        case 'k': sample = SMP_KICK; break;
        case 's': sample = SMP_SNARE; break;
        case 'g': sample = SMP_SNARE; effect = 0x908; break;
        case 'r': sample = SMP_SNARE; effect = 0xE93; break;
        case 't': sample = SMP_SNARE; effect = 0xE92; break;
        case 'h': sample = SMP_HAT; index = b3; effect = 0xC16; break;
        case 'H': sample = SMP_HAT; index = b3; break;
        case 'f': sample = SMP_HAT; index = b3; effect = 0xED3; break;
        case 'o': sample = SMP_OPEN_HAT; index = b3; break;
        case 'c': sample = SMP_OPEN_HAT; index = b3; effect = 0xEC3; break;
        default: fail("bad drum", p);
        }
        put_note(song, pattern, row, channel, index, sample);
        if (effect) put_effect(song, pattern, row, channel, effect);
        row++;
    }
    return row;
}

// A chord: its root in octave 2 and its quality.
struct Chord {
    const char *root;  // e.g. "A-2"
    int minor;
};

static const Chord AM = {"A-2", 1}, FM = {"F-2", 0}, CM = {"C-2", 0}, GM = {"G-2", 0},
                   EM = {"E-2", 1}, DM = {"D-2", 1}, E_MAJOR = {"E-2", 0};

static int chord_third(const Chord &c) { return c.minor ? 3 : 4; }

// Bass for one bar over `chord`: one character per row.
//   r root (octave 1)   o root an octave up   f fifth   . hold   - fade out
static void put_bass(Composition *song, int pattern, int channel, int bar, const Chord &chord,
                     const char *rhythm) {
    int root = note_index(chord.root) - 12;
    int row = bar * ROWS_PER_BAR;
    for (const char *p = rhythm; *p; p++, row++) {
        switch (*p) {
        case 'r': put_note(song, pattern, row, channel, root, SMP_BASS); break;
        case 'o': put_note(song, pattern, row, channel, root + 12, SMP_BASS); break;
        case 'f': put_note(song, pattern, row, channel, root + 7, SMP_BASS); break;
        case '-': put_effect(song, pattern, row, channel, 0xA0F); break;
        case '.': break;
        default: fail("bad bass", p);
        }
    }
}

// Arpeggio chord for one bar: the pad plays the root with command 0 (third
// and fifth on the following ticks) on every row, struck on row 0.
static void put_pad_chord(Composition *song, int pattern, int channel, int bar, const Chord &chord) {
    int row = bar * ROWS_PER_BAR;
    int arpeggio = chord_third(chord) << 4 | 7;  // 0xy: tick 1 the fifth, tick 2 the third
    put_note(song, pattern, row, channel, note_index(chord.root), SMP_PAD);
    for (int r = 0; r < ROWS_PER_BAR; r++) put_effect(song, pattern, row + r, channel, arpeggio);
}

// Plucked arpeggio for one bar: sixteenth notes over the chord's root,
// third, fifth and octave in a rising and falling figure.
static void put_pluck_bar(Composition *song, int pattern, int channel, int bar, const Chord &chord) {
    static const int figure[ROWS_PER_BAR] = {0, 1, 2, 3, 2, 1, 0, 1, 2, 3, 2, 3, 4, 3, 2, 1};
    int root = note_index(chord.root);
    int steps[5] = {0, chord_third(chord), 7, 12, 12 + chord_third(chord)};
    for (int r = 0; r < ROWS_PER_BAR; r++)
        put_note(song, pattern, bar * ROWS_PER_BAR + r, channel, root + steps[figure[r]],
                 SMP_PLUCK);
}

// Tremolo-gated pad for one bar: four chord tones of four rows each, every
// row gated once by the tremolo (7C4: one cycle a row; deeper, its
// tick-by-tick volume steps would click).
static void put_gated_pad(Composition *song, int pattern, int channel, int bar, const Chord &chord) {
    int root = note_index(chord.root);
    int steps[4] = {0, 7, chord_third(chord), 7};
    for (int r = 0; r < ROWS_PER_BAR; r++) {
        int row = bar * ROWS_PER_BAR + r;
        if (r % 4 == 0) put_note(song, pattern, row, channel, root + steps[r / 4], SMP_PAD);
        put_effect(song, pattern, row, channel, 0x7C4);
    }
}

// ---------------------------------------------------------------------------
// The patterns

enum { CH_BASS = 0, CH_DRUMS = 1, CH_LEAD = 2, CH_CHORDS = 3 };

enum {
    PAT_INTRO,
    PAT_INTRO_2,
    PAT_VERSE,
    PAT_VERSE_2,
    PAT_CHORUS,
    PAT_CHORUS_BREAK,
    PAT_BREAKDOWN,
    PAT_BUILD,
    PAT_CHORUS_LAST,
    PAT_OUTRO
};

static const char BASS_PEDAL[] = "r...............";
static const char BASS_PULSE[] = "r.r.o.r.r.r.o.r.";
static const char BASS_DRIVE[] = "r..r..o.r..r.of.";
static const char BASS_SIXTEENTHS[] = "rrrrrrrrrrrrrrrr";

// Intro: the pad fades in on A minor, the chords start, hats and a plucked
// arpeggio join in the second half; the bass holds long roots.
static void compose_intro(Composition *song) {
    const int p = PAT_INTRO;
    const Chord chords[4] = {AM, FM, CM, GM};
    // The song's speed and tempo, set again on every pass.
    put_effect(song, p, 0, CH_DRUMS, 0xF06);
    put_effect(song, p, 0, CH_LEAD, 0xF7D);
    // Bar 1: the pad swells from volume 8 (A10: +1 a tick).
    put_melody(song, p, CH_CHORDS, 0, SMP_PAD, "A-2*8:C08~A10 .*8~037");
    for (int bar = 1; bar < 4; bar++) put_pad_chord(song, p, CH_CHORDS, bar, chords[bar]);
    for (int bar = 0; bar < 4; bar++) put_bass(song, p, CH_BASS, bar, chords[bar], BASS_PEDAL);
    put_pluck_bar(song, p, CH_LEAD, 2, chords[2]);
    put_pluck_bar(song, p, CH_LEAD, 3, chords[3]);
    put_drums(song, p, CH_DRUMS, 32, "h.h.h.h.h.h.h.h.|h.H.h.H.h.H.c.rr");
}

// Intro 2: four-on-the-floor kick, the bass pulses, the plucks go on.
static void compose_intro_2(Composition *song) {
    const int p = PAT_INTRO_2;
    const Chord chords[4] = {AM, FM, CM, GM};
    for (int bar = 0; bar < 4; bar++) {
        put_pad_chord(song, p, CH_CHORDS, bar, chords[bar]);
        put_bass(song, p, CH_BASS, bar, chords[bar], BASS_PULSE);
        put_pluck_bar(song, p, CH_LEAD, bar, chords[bar]);
    }
    put_drums(song, p, CH_DRUMS, 0,
              "k.H.k.H.k.H.k.Ho|k.H.k.H.k.H.k.Hh|k.H.k.H.k.H.k.Ho|k.H.k.H.k.s.r.tt");
}

// Verse: the tune. Hats swing (ED3), ghost snares (908) fill the gaps.
static const char VERSE_DRUMS[] =
    "k.H.s.Hfk.Hks.Ho|k.H.s.Hgk.Hks.Hc|k.H.s.Hfk.Hks.Ho|k.H.s.Hgk.Hks.gs";

static void compose_verse(Composition *song) {
    const int p = PAT_VERSE;
    const Chord chords[4] = {AM, FM, CM, GM};
    for (int bar = 0; bar < 4; bar++) {
        put_pad_chord(song, p, CH_CHORDS, bar, chords[bar]);
        put_bass(song, p, CH_BASS, bar, chords[bar], BASS_PULSE);
    }
    put_drums(song, p, CH_DRUMS, 0, VERSE_DRUMS);
    put_melody(song, p, CH_LEAD, 0, SMP_LEAD,
               "A-2*4 C-3*2 E-3*4 D-3*2 C-3*2 B-2*2 |"
               "C-3*6~4C2 A-2*2 F-2*4 A-2*4 |"
               "G-2*4 C-3*2 E-3*4 G-3*2 E-3*2 D-3*2 |"
               "D-3*8~4C2 B-2*4 -*4");
}

// Verse 2: the tune answered, now with glides (3xx) and a higher climb.
static void compose_verse_2(Composition *song) {
    const int p = PAT_VERSE_2;
    const Chord chords[4] = {AM, FM, CM, GM};
    for (int bar = 0; bar < 4; bar++) {
        put_pad_chord(song, p, CH_CHORDS, bar, chords[bar]);
        put_bass(song, p, CH_BASS, bar, chords[bar], bar == 3 ? BASS_DRIVE : BASS_PULSE);
    }
    put_drums(song, p, CH_DRUMS, 0, VERSE_DRUMS);
    put_melody(song, p, CH_LEAD, 0, SMP_LEAD,
               "A-2*4 C-3*2 E-3*4 A-3*6~4C2 |"
               "G-3*2 F-3*2 E-3*2 C-3*6~4C3 A-2*2 C-3*2 |"
               "E-3*4 G-3*4:308~300 E-3*4:308~300 C-3*4 |"
               "D-3*4 B-2*2 G-2*2 B-2*6~4C2 -*2");
}

// Chorus: F G Em Am; plucked sixteenths on the chord channel, the lead
// sings long notes over a syncopated bass.
static const char CHORUS_DRUMS[] =
    "k.HfsgH.k.Hks.Ho|k.HfsgH.k.Hks.Hc|k.HfsgH.k.Hks.Ho|k.HfsgH.k.Hks.ss";

static void compose_chorus(Composition *song, int p, const char *melody) {
    const Chord chords[4] = {FM, GM, EM, AM};
    for (int bar = 0; bar < 4; bar++) {
        put_pluck_bar(song, p, CH_CHORDS, bar, chords[bar]);
        put_bass(song, p, CH_BASS, bar, chords[bar], BASS_DRIVE);
    }
    put_drums(song, p, CH_DRUMS, 0, CHORUS_DRUMS);
    put_melody(song, p, CH_LEAD, 0, SMP_LEAD, melody);
}

// Chorus break: three bars (F G E) of staccato lead (EC3), a snare run, and
// a pattern break (D00) after the third bar into the breakdown.
static void compose_chorus_break(Composition *song) {
    const int p = PAT_CHORUS_BREAK;
    const Chord chords[3] = {FM, GM, E_MAJOR};
    for (int bar = 0; bar < 3; bar++) {
        put_pluck_bar(song, p, CH_CHORDS, bar, chords[bar]);
        put_bass(song, p, CH_BASS, bar, chords[bar], bar == 2 ? BASS_PULSE : BASS_DRIVE);
    }
    put_drums(song, p, CH_DRUMS, 0,
              "k.HfsgH.k.Hks.Ho|k.HfsgH.k.Hks.Hc|k.s.k.sgr.rrrttt");
    put_melody(song, p, CH_LEAD, 0, SMP_LEAD,
               "A-3*2:EC3 A-3*2:EC3 G-3*2:EC3 F-3*2 E-3*4~4C2 C-3*4 |"
               "D-3*2:EC3 D-3*2:EC3 E-3*2:EC3 G-3*2 B-3*4~4C2 A-3*2 G-3*2 |"
               "G#3*8~4C3 -*2 E-3*2:EC3 G#3*2:EC3 B-3*2:EC3");
    put_effect(song, p, 47, CH_BASS, 0xD00);
}

// Breakdown: no kick or snare. The pad is gated by tremolo, the bass holds
// roots and drops at each bar's end (2xx) into the next bar's root, the
// lead sings slowly; soft hats return in the second half.
static void compose_breakdown(Composition *song) {
    const int p = PAT_BREAKDOWN;
    const Chord chords[4] = {DM, AM, FM, E_MAJOR};
    for (int bar = 0; bar < 4; bar++) {
        put_gated_pad(song, p, CH_CHORDS, bar, chords[bar]);
        put_bass(song, p, CH_BASS, bar, chords[bar], "r...........o...");
        put_effect(song, p, bar * ROWS_PER_BAR + 13, CH_BASS, 0x203);
        put_effect(song, p, bar * ROWS_PER_BAR + 14, CH_BASS, 0x206);
    }
    put_drums(song, p, CH_DRUMS, 32, "h...h...h...h...|h.h.h.h.h.h.h.hc");
    put_melody(song, p, CH_LEAD, 0, SMP_LEAD,
               "F-3*8~4C2 E-3*4 D-3*4 |"
               "C-3*8~4C2 E-3*8~4C3 |"
               "A-3*12~4C2 G-3*4 |"
               "G#3*8~4C2 B-3*4~4C2 -*4");
}

// Build: the first bar repeats three times (E60 .. E63), the snare doubles
// up into rolls (E93, then E92), and the lead rises through a long slide up
// (1xx) into the last chorus.
static void compose_build(Composition *song) {
    const int p = PAT_BUILD;
    const Chord chords[4] = {AM, FM, GM, E_MAJOR};
    for (int bar = 0; bar < 4; bar++) {
        put_pad_chord(song, p, CH_CHORDS, bar, chords[bar]);
        put_bass(song, p, CH_BASS, bar, chords[bar], bar < 2 ? BASS_PULSE : BASS_SIXTEENTHS);
    }
    put_drums(song, p, CH_DRUMS, 0,
              "k...s...k...s...|k.s.k.s.k.s.k.s.|k.r.k.r.k.r.k.r.|rrrrrrrrtttttttt");
    // The loop marks go on the bass channel, whose first bar has no command.
    put_effect(song, p, 0, CH_BASS, 0xE60);
    put_effect(song, p, 15, CH_BASS, 0xE63);
    put_melody(song, p, CH_LEAD, 0, SMP_LEAD,
               "E-3*4:C20 .*12 | A-2*8:C20~A10 .*8 | B-2*8 D-3*8~4C2 |"
               "E-2*16:C18~102");
}

// Outro: the tune once more over Am F G Am, then the tempo slows (F78 ..
// F5A) over the last bar and the song jumps back to its start (B00).
static void compose_outro(Composition *song) {
    const int p = PAT_OUTRO;
    const Chord chords[4] = {AM, FM, GM, AM};
    for (int bar = 0; bar < 3; bar++) {
        put_pad_chord(song, p, CH_CHORDS, bar, chords[bar]);
        put_bass(song, p, CH_BASS, bar, chords[bar], BASS_PULSE);
    }
    put_bass(song, p, CH_BASS, 3, chords[3], "r.......o.......");
    put_melody(song, p, CH_CHORDS, 48, SMP_PAD, "A-2*8~037 .*8~A01");
    put_drums(song, p, CH_DRUMS, 0,
              "k.H.s.Hfk.Hks.Ho|k.H.s.Hgk.Hks.Hc|k.H.s.Hfk.Hks.tt|k.......o.......");
    put_melody(song, p, CH_LEAD, 0, SMP_LEAD,
               "A-2*4 C-3*2 E-3*4 D-3*2 C-3*2 B-2*2 |"
               "C-3*6~4C2 A-2*2 F-2*4 A-2*4 |"
               "G-2*4 B-2*2 D-3*4 G-3*4~4C2 B-2*2 |"
               "A-2*4 .*12~A01");
    // Ritardando on the drum channel's empty rows, then the jump home.
    const int slowdown[6][2] = {{49, 0xF78}, {51, 0xF70}, {53, 0xF69}, {55, 0xF64},
                                {57, 0xF5F}, {59, 0xF5A}};
    for (int i = 0; i < 6; i++) put_effect(song, p, slowdown[i][0], CH_DRUMS, slowdown[i][1]);
    put_effect(song, p, 63, CH_DRUMS, 0xB00);
}

static void compose_song(Composition *song) {
    snprintf(song->title, sizeof song->title, "kevo");
    make_instruments(song);
    compose_intro(song);
    compose_intro_2(song);
    compose_verse(song);
    compose_verse_2(song);
    compose_chorus(song, PAT_CHORUS,
                   "A-3*6~4C2 G-3*2 F-3*2 E-3*2 C-3*4 |"
                   "D-3*6~4C2 E-3*2 D-3*2 B-2*2 G-2*4 |"
                   "G-3*6~4C2 D-3*2 E-3*4 B-2*4 |"
                   "C-3*4 B-2*2 A-2*8~4C2 -*2");
    compose_chorus_break(song);
    compose_breakdown(song);
    compose_build(song);
    compose_chorus(song, PAT_CHORUS_LAST,
                   "A-3*6~4C2 C-3*2:EC3 A-3*2:EC3 G-3*2 F-3*4:308~300 |"
                   "D-3*6~4C2 G-3*2:EC3 D-3*2:EC3 B-2*2 G-2*4:308~300 |"
                   "B-2*4 E-3*2 G-3*4:308~300 B-3*6~4C3 |"
                   "A-3*4 E-3*2 C-3*2 A-2*6~4C2 -*2");
    compose_outro(song);
    const uint8_t orders[] = {PAT_INTRO,  PAT_INTRO_2,     PAT_VERSE,     PAT_VERSE_2,
                              PAT_CHORUS, PAT_CHORUS_BREAK, PAT_BREAKDOWN, PAT_BUILD,
                              PAT_CHORUS, PAT_CHORUS_LAST,  PAT_OUTRO};
    song->song_length = static_cast<int>(sizeof orders);
    memcpy(song->orders, orders, sizeof orders);
}

// ---------------------------------------------------------------------------
// Writing the module

static void put_u16_be(uint8_t *at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

// Lays the song out as module bytes into `out` (large enough); returns the
// module's size in bytes.
static size_t song_to_module(const Composition *song, uint8_t *out) {
    size_t pattern_count = 0;
    for (int i = 0; i < MOD_ORDER_ENTRIES; i++)
        if (song->orders[i] + 1u > pattern_count) pattern_count = song->orders[i] + 1u;
    memcpy(out + MOD_TITLE_OFFSET, song->title, strlen(song->title));
    for (int n = 0; n < MOD_SAMPLES; n++) {
        const Instrument *in = &song->samples[n];
        uint8_t *header = out + MOD_SAMPLE_HEADERS_OFFSET + n * MOD_SAMPLE_HEADER_BYTES;
        memcpy(header + MOD_SAMPLE_NAME_OFFSET, in->name, strlen(in->name));
        put_u16_be(header + MOD_SAMPLE_LENGTH_OFFSET, in->length_bytes / 2);
        header[MOD_SAMPLE_VOLUME_OFFSET] = in->volume;
        put_u16_be(header + MOD_SAMPLE_LOOP_START_OFFSET, in->loop_start_bytes / 2);
        // An unlooped sample has loop length 1 word (2 bytes) at 0.
        put_u16_be(header + MOD_SAMPLE_LOOP_LENGTH_OFFSET,
                   in->loop_length_bytes ? in->loop_length_bytes / 2 : 1);
    }
    out[MOD_SONG_LENGTH_OFFSET] = static_cast<uint8_t>(song->song_length);
    out[MOD_SONG_LENGTH_OFFSET + 1] = ORDER_RESTART_BYTE;
    memcpy(out + MOD_ORDER_TABLE_OFFSET, song->orders, MOD_ORDER_ENTRIES);
    memcpy(out + MOD_SIGNATURE_OFFSET, "M.K.", 4);
    size_t at = MOD_PATTERNS_OFFSET;
    for (size_t p = 0; p < pattern_count; p++)
        for (int r = 0; r < MOD_ROWS; r++)
            for (int c = 0; c < MOD_CHANNELS; c++, at += MOD_CELL_BYTES) {
                const Cell *cell = &song->patterns[p][r][c];
                out[at] = static_cast<uint8_t>((cell->sample & 0xF0) | (cell->period >> 8));
                out[at + 1] = static_cast<uint8_t>(cell->period);
                out[at + 2] = static_cast<uint8_t>(((cell->sample & 0x0F) << 4) | (cell->effect >> 8));
                out[at + 3] = static_cast<uint8_t>(cell->effect);
            }
    for (int n = 0; n < MOD_SAMPLES; n++) {
        const Instrument *in = &song->samples[n];
        if (in->length_bytes) memcpy(out + at, in->data, in->length_bytes);
        at += in->length_bytes;
    }
    return at;
}

static const char USAGE[] =
    "usage: compose_kevo OUT.mod\n"
    "Composes the demo's module and writes it to OUT.mod (res/kevo.mod in the tree).\n";

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 1, 1, USAGE)) return USAGE_ERROR_STATUS;
    Composition *song = static_cast<Composition *>(calloc(1, sizeof(Composition)));
    size_t capacity = MOD_PATTERNS_OFFSET + SONG_PATTERNS * MOD_PATTERN_BYTES + SAMPLE_POOL_BYTES;
    uint8_t *module = static_cast<uint8_t *>(calloc(1, capacity));
    if (!song || !module) fail("out of memory", argv[1]);
    compose_song(song);
    size_t size = song_to_module(song, module);
    FILE *file = fopen(argv[1], "wb");
    if (!file) {
        fprintf(stderr, "compose_kevo: cannot create '%s': %s\n", argv[1], strerror(errno));
        return 1;
    }
    int ok = fwrite(module, 1, size, file) == size;
    ok = (fclose(file) == 0) && ok;
    if (!ok) {
        fprintf(stderr, "compose_kevo: cannot write '%s': %s\n", argv[1], strerror(errno));
        // A partial module is removed; a device given as the output is not.
        struct stat st;
        if (lstat(argv[1], &st) == 0 && S_ISREG(st.st_mode)) remove(argv[1]);
        return 1;
    }
    free(module);
    free(song);
    return 0;
}
