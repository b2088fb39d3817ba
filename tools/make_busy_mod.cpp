// Writes a busy four-channel module for measuring the player: every channel
// sounds a looped instrument all the time, notes change every one to four
// rows over the whole three-octave range, and the running commands
// (arpeggio, slides, tone portamento, vibrato, tremolo, volume slides) keep
// the sequencer at work on every tick. Twelve patterns at speed 6 and tempo
// 125 with a few tempo changes: about 90 seconds, so a 60-second render
// never reaches the song's end. The bytes come from a fixed pseudo-random
// sequence: the same file on every run.
//
//   make_busy_mod OUT.mod
//
// Exit status 0 when OUT.mod was written; 2 with the usage line for a wrong
// command line; 1 with one "make_busy_mod: ..." line on standard error
// otherwise (OUT.mod is then not left behind).
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "music/mod_player.h"     // MOD_CHANNELS, MOD_ROWS, MOD_SAMPLES
#include "music/mod_tables_internal.h"     // period_table, PERIOD_TABLE_NOTES
#include "music/module_format_internal.h"  // file offsets
#include "platform/program_args.h"
#include "util/std_fds.h"

constexpr int SONG_PATTERNS = 12;
constexpr int INSTRUMENTS = 4;
constexpr uint32_t INSTRUMENT_BYTES = 4096;
constexpr double PI = 3.14159265358979323846;

// A linear congruential generator (Numerical Recipes' constants): the
// song's only source of variety, seeded the same every run.
struct Dice {
    uint32_t state;
};

static int roll(Dice *d, int sides) {
    d->state = d->state * 1664525u + 1013904223u;
    return static_cast<int>((d->state >> 8) % static_cast<uint32_t>(sides));
}

static void put_be16(uint8_t *at, uint32_t v) {
    at[0] = static_cast<uint8_t>(v >> 8);
    at[1] = static_cast<uint8_t>(v);
}

// Instrument n (0 .. 3): saw, square, sine and a sine with an octave on
// top, each one whole looped cycle repeated over INSTRUMENT_BYTES.
static int8_t instrument_byte(int n, uint32_t i) {
    const double phase = static_cast<double>(i % 64) / 64.0;
    double v;
    switch (n) {
    case 0: v = 2.0 * phase - 1.0; break;
    case 1: v = phase < 0.5 ? 0.8 : -0.8; break;
    case 2: v = sin(2.0 * PI * phase); break;
    default: v = 0.6 * sin(2.0 * PI * phase) + 0.4 * sin(4.0 * PI * phase); break;
    }
    return static_cast<int8_t>(lround(v * 110.0));
}

// A running command for a row that has no note: each keeps the channel's
// pitch or volume moving on every tick.
static uint16_t running_command(Dice *d) {
    static const uint16_t commands[] = {0x037, 0x047, 0x102, 0x202, 0x305, 0x446,
                                        0x486, 0x503, 0x601, 0x764, 0xA02, 0xA20};
    return commands[roll(d, static_cast<int>(sizeof commands / sizeof commands[0]))];
}

static std::vector<uint8_t> busy_module() {
    const size_t data_offset = MOD_PATTERNS_OFFSET + MOD_PATTERN_BYTES * SONG_PATTERNS;
    std::vector<uint8_t> m(data_offset + INSTRUMENTS * INSTRUMENT_BYTES, 0);
    memcpy(&m[MOD_TITLE_OFFSET], "busy four channels", 18);
    static const char *const names[INSTRUMENTS] = {"saw", "square", "sine", "organ"};
    for (int n = 0; n < INSTRUMENTS; n++) {
        uint8_t *h = &m[MOD_SAMPLE_HEADERS_OFFSET + MOD_SAMPLE_HEADER_BYTES * n];
        memcpy(h + MOD_SAMPLE_NAME_OFFSET, names[n], strlen(names[n]));
        put_be16(h + MOD_SAMPLE_LENGTH_OFFSET, INSTRUMENT_BYTES / 2);
        h[MOD_SAMPLE_FINETUNE_OFFSET] = static_cast<uint8_t>(n == 3 ? 2 : 0);
        h[MOD_SAMPLE_VOLUME_OFFSET] = 48;
        put_be16(h + MOD_SAMPLE_LOOP_START_OFFSET, 0);
        put_be16(h + MOD_SAMPLE_LOOP_LENGTH_OFFSET, INSTRUMENT_BYTES / 2);
        for (uint32_t i = 0; i < INSTRUMENT_BYTES; i++)
            m[data_offset + n * INSTRUMENT_BYTES + i] = static_cast<uint8_t>(instrument_byte(n, i));
    }
    m[MOD_SONG_LENGTH_OFFSET] = SONG_PATTERNS;
    for (int i = 0; i < SONG_PATTERNS; i++) m[MOD_ORDER_TABLE_OFFSET + i] = static_cast<uint8_t>(i);
    memcpy(&m[MOD_SIGNATURE_OFFSET], "M.K.", 4);

    Dice dice = {20240601u};
    for (int p = 0; p < SONG_PATTERNS; p++) {
        for (int row = 0; row < MOD_ROWS; row++) {
            for (int ch = 0; ch < MOD_CHANNELS; ch++) {
                uint8_t *cell = &m[MOD_PATTERNS_OFFSET + MOD_PATTERN_BYTES * p +
                                   (row * MOD_CHANNELS + ch) * MOD_CELL_BYTES];
                int sample = 0, period = 0;
                uint16_t effect = running_command(&dice);
                // A note on the first row of each pattern, then on about
                // every third row.
                if (row == 0 || roll(&dice, 3) == 0) {
                    sample = 1 + (ch + p) % INSTRUMENTS;
                    period = period_table[roll(&dice, PERIOD_TABLE_NOTES)];
                    if ((effect >> 8) == 0x3 || (effect >> 8) == 0x5) effect = 0x000;
                }
                if (ch == 0 && row == 0) effect = (p % 3 == 2) ? 0xF8C : 0xF7D;  // tempo 140 or 125
                cell[0] = static_cast<uint8_t>((sample & 0xF0) | (period >> 8));
                cell[1] = static_cast<uint8_t>(period);
                cell[2] = static_cast<uint8_t>(((sample & 0x0F) << 4) | (effect >> 8));
                cell[3] = static_cast<uint8_t>(effect);
            }
        }
    }
    return m;
}

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, "usage: make_busy_mod OUT.mod\nWrites the busy four-channel module used to measure the player.\n"))
        return 0;
    if (argc != 2 || arg_is_option(argv[1])) {
        fprintf(stderr, "usage: make_busy_mod OUT.mod\n");
        return USAGE_ERROR_STATUS;
    }
    const std::vector<uint8_t> module = busy_module();
    FILE *f = fopen(argv[1], "wb");
    if (!f) {
        fprintf(stderr, "make_busy_mod: cannot create '%s': %s\n", argv[1], strerror(errno));
        return 1;
    }
    const bool written = fwrite(module.data(), 1, module.size(), f) == module.size();
    if (fclose(f) != 0 || !written) {
        const int err = errno;
        remove(argv[1]);
        fprintf(stderr, "make_busy_mod: cannot write '%s': %s\n", argv[1], strerror(err ? err : EIO));
        return 1;
    }
    return 0;
}
