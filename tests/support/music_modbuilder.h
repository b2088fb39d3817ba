// Builds MOD modules in memory for tests, tools and benchmarks: title,
// samples, order table and patterns of cells (four channels unless told
// otherwise), written out in the file layout the player reads: 31 samples
// and a signature, or Soundtracker's 15 samples without one. Nothing is validated, so a test can also
// build what no tracker would write (sample numbers above 31, absurd
// periods and loops); truncating or poking the built bytes is the caller's.
#ifndef SUPPORT_MUSIC_MODBUILDER_H
#define SUPPORT_MUSIC_MODBUILDER_H

#include <cstdint>
#include <vector>

struct ModBuilderSample {
    char name[22];
    uint16_t length_words;       // header length; the data written is `data`
    uint8_t finetune_byte;       // header byte as written (low nibble used)
    uint8_t volume;
    uint16_t loop_start_words;
    uint16_t loop_length_words;
    std::vector<int8_t> data;    // bytes written to the sample data area
};

struct ModBuilder {
    char title[20];
    char signature[4];           // "M.K." by default
    uint8_t song_length;         // header byte 950; 1 by default
    uint8_t order[128];          // all 0 by default
    ModBuilderSample samples[31];
    // Cells, 4 bytes each, indexed [pattern][row][channel] as the file
    // stores them (`channels` a row); grown on demand.
    std::vector<uint8_t> pattern_bytes;
    int channels;                // cells a row: 4 by default
    int sample_count;            // 31 by default; 15 writes Soundtracker's
                                 // layout (no signature, patterns at 600)
    // Patterns written to the file: -1 (default) writes exactly the count
    // the signature's rule derives from the order table.
    int pattern_count_override;
};

// An empty "M.K." module: no title, no samples, song length 1, order all 0.
void modbuilder_init(ModBuilder *b);

// Copies up to 20 bytes of `title` (no NUL needed beyond them).
void modbuilder_set_title(ModBuilder *b, const char *title);

// Sets the 4 signature bytes (e.g. "M!K!", "4CHN", "6CHN").
void modbuilder_set_signature(ModBuilder *b, const char *signature);

// Sets the cells a row (1 .. 32); call before setting cells.
void modbuilder_set_channels(ModBuilder *b, int channels);

// Sets order entries 0 .. count - 1 and the song length to count.
void modbuilder_set_order(ModBuilder *b, const uint8_t *entries, int count);

// Sample `number` (1 .. 31): data bytes, default volume, finetune nibble and
// a loop in bytes (loop_length 0: none). The header length is the data
// length in words (rounded up; an odd byte count gets a 0 byte appended).
void modbuilder_set_sample(ModBuilder *b, int number, const std::vector<int8_t> &data,
                           int volume, int finetune, uint32_t loop_start_bytes,
                           uint32_t loop_length_bytes);

// Writes one cell: `sample` 0 .. 255 (high nibble in b0, low in b2),
// `period` 0 .. 4095, `effect` the 12-bit command word (e.g. 0xC20).
void modbuilder_set_cell(ModBuilder *b, int pattern, int row, int channel, int sample,
                         int period, int effect);

// The patterns the file will hold: the override, or 1 + the largest order
// entry masked with 63 (M?K? but M!K!) or 127 (any other signature, and no
// signature); for FLT8, whose patterns are two four-channel halves, that
// count rounded up to whole pairs.
int modbuilder_pattern_count(const ModBuilder *b);

// Byte offset of sample `number`'s data in the built file.
uint32_t modbuilder_sample_offset(const ModBuilder *b, int number);

// The module file: header, patterns, then every sample's data in order.
std::vector<uint8_t> modbuilder_build(const ModBuilder *b);

// Signed 8-bit test waveforms of `length` bytes with `period_bytes` per
// cycle at amplitude `peak` (<= 127; -128 allowed for the square's low).
std::vector<int8_t> modbuilder_square(uint32_t length, uint32_t period_bytes, int high, int low);
std::vector<int8_t> modbuilder_saw(uint32_t length, uint32_t period_bytes, int peak);
std::vector<int8_t> modbuilder_sine(uint32_t length, uint32_t period_bytes, int peak);
// A simple deterministic noise burst (linear congruential), decaying.
std::vector<int8_t> modbuilder_noise(uint32_t length, int peak);

// A busy, audible song on `b`: four looped instruments on all four
// channels, two order positions, notes on most rows and running effects
// (arpeggio, slides, vibrato, tremolo, volume slides, portamento).
void modbuilder_busy_song(ModBuilder *b);

// A song on `b` that only looping plays whole: position 0 jumps forward
// to position 2 at its row 7, and position 2 jumps back to position 1 at
// its row 3. Played once, it ends there (12 rows, about 1.6 s), never
// playing position 1; looping, it goes 0, 2, 1, 2, 1, ..., and position 1
// sets speed 4 at its row 30. Notes on every other row of every channel.
void modbuilder_jump_back_song(ModBuilder *b);

// A random but valid song on `b`, the same for the same seed: eight
// samples of every kind (empty, one-shot, the two-byte "no loop", short and
// long loops, odd finetunes and volumes above 64), one to six order
// positions over four patterns, and cells with notes (on and off the note
// table), sample numbers and every command with random parameters,
// including position jumps, breaks, pattern loops and delays, note delays,
// retriggers, cuts and speed and tempo changes.
void modbuilder_random_song(ModBuilder *b, uint32_t seed);

#endif
