// Builds four-channel modules in memory: the reverse of the player's
// parsing, written independently from the file layout.
#include "support/music_modbuilder.h"

#include <cmath>
#include <cstring>

#include "support/music_byte_writer.h"

namespace {
constexpr size_t HEADER_BYTES = 1084;
constexpr size_t SAMPLE_HEADER_BYTES = 30;
}  // namespace

void modbuilder_init(ModBuilder *b) {
    memset(b->title, 0, sizeof b->title);
    memcpy(b->signature, "M.K.", 4);
    b->song_length = 1;
    memset(b->order, 0, sizeof b->order);
    for (ModBuilderSample &s : b->samples) {
        memset(s.name, 0, sizeof s.name);
        s.length_words = 0;
        s.finetune_byte = 0;
        s.volume = 0;
        s.loop_start_words = 0;
        s.loop_length_words = 0;
        s.data.clear();
    }
    b->pattern_bytes.clear();
    b->pattern_count_override = -1;
    b->channels = 4;
    b->sample_count = 31;
}

void modbuilder_set_title(ModBuilder *b, const char *title) {
    memset(b->title, 0, sizeof b->title);
    for (size_t i = 0; i < sizeof b->title && title[i]; i++) b->title[i] = title[i];
}

void modbuilder_set_signature(ModBuilder *b, const char *signature) {
    memcpy(b->signature, signature, 4);
}

void modbuilder_set_channels(ModBuilder *b, int channels) {
    b->channels = channels;
}

void modbuilder_set_order(ModBuilder *b, const uint8_t *entries, int count) {
    for (int i = 0; i < count && i < 128; i++) b->order[i] = entries[i];
    b->song_length = static_cast<uint8_t>(count);
}

void modbuilder_set_sample(ModBuilder *b, int number, const std::vector<int8_t> &data, int volume,
                           int finetune, uint32_t loop_start_bytes, uint32_t loop_length_bytes) {
    ModBuilderSample &s = b->samples[number - 1];
    s.data = data;
    if (s.data.size() % 2) s.data.push_back(0);
    s.length_words = static_cast<uint16_t>(s.data.size() / 2);
    s.volume = static_cast<uint8_t>(volume);
    s.finetune_byte = static_cast<uint8_t>(finetune);
    s.loop_start_words = static_cast<uint16_t>(loop_start_bytes / 2);
    s.loop_length_words = static_cast<uint16_t>(loop_length_bytes / 2);
}

void modbuilder_set_cell(ModBuilder *b, int pattern, int row, int channel, int sample, int period,
                         int effect) {
    const size_t channels = static_cast<size_t>(b->channels);
    size_t at = ((static_cast<size_t>(pattern) * 64 + static_cast<size_t>(row)) * channels + static_cast<size_t>(channel)) * 4;
    if (b->pattern_bytes.size() < at + 4) {
        b->pattern_bytes.resize((static_cast<size_t>(pattern) + 1) * 64 * channels * 4, 0);
    }
    uint8_t *cell = &b->pattern_bytes[at];
    cell[0] = static_cast<uint8_t>((sample & 0xF0) | ((period >> 8) & 0x0F));
    cell[1] = static_cast<uint8_t>(period & 0xFF);
    cell[2] = static_cast<uint8_t>(((sample & 0x0F) << 4) | ((effect >> 8) & 0x0F));
    cell[3] = static_cast<uint8_t>(effect & 0xFF);
}

int modbuilder_pattern_count(const ModBuilder *b) {
    if (b->pattern_count_override >= 0) return b->pattern_count_override;
    const char *sig = b->signature;
    const bool narrow = b->sample_count == 31 && sig[0] == 'M' && sig[2] == 'K' && !(sig[1] == '!' && sig[3] == '!');
    int mask = narrow ? 63 : 127;
    int largest = 0;
    for (int i = 0; i < 128; i++) {
        if ((b->order[i] & mask) > largest) largest = b->order[i] & mask;
    }
    if (b->sample_count == 31 && memcmp(sig, "FLT8", 4) == 0) return (largest / 2 + 1) * 2;
    return largest + 1;
}

// The header's size and one pattern's in the file.
static size_t header_bytes(const ModBuilder *b) {
    return b->sample_count == 15 ? 600 : HEADER_BYTES;
}

static size_t pattern_bytes(const ModBuilder *b) {
    return 64 * 4 * static_cast<size_t>(b->channels);
}

uint32_t modbuilder_sample_offset(const ModBuilder *b, int number) {
    uint32_t offset = static_cast<uint32_t>(header_bytes(b) + pattern_bytes(b) * modbuilder_pattern_count(b));
    for (int n = 1; n < number; n++) offset += b->samples[n - 1].length_words * 2u;
    return offset;
}

std::vector<uint8_t> modbuilder_build(const ModBuilder *b) {
    const size_t patterns = static_cast<size_t>(modbuilder_pattern_count(b));
    const size_t header = header_bytes(b);
    std::vector<uint8_t> out(header + pattern_bytes(b) * patterns, 0);
    memcpy(&out[0], b->title, 20);
    for (int n = 0; n < b->sample_count; n++) {
        const ModBuilderSample &s = b->samples[n];
        uint8_t *h = &out[20 + SAMPLE_HEADER_BYTES * n];
        memcpy(h, s.name, 22);
        put_be16(h + 22, s.length_words);
        h[24] = s.finetune_byte;
        h[25] = s.volume;
        put_be16(h + 26, s.loop_start_words);
        put_be16(h + 28, s.loop_length_words);
    }
    const size_t length_at = 20 + SAMPLE_HEADER_BYTES * static_cast<size_t>(b->sample_count);
    out[length_at] = b->song_length;
    out[length_at + 1] = 127;
    memcpy(&out[length_at + 2], b->order, 128);
    if (b->sample_count == 31) memcpy(&out[1080], b->signature, 4);
    size_t copy = b->pattern_bytes.size();
    if (copy > pattern_bytes(b) * patterns) copy = pattern_bytes(b) * patterns;
    if (copy) memcpy(&out[header], b->pattern_bytes.data(), copy);
    // Sample data follows the declared lengths, whatever `data` holds.
    for (int n = 0; n < b->sample_count; n++) {
        const ModBuilderSample &s = b->samples[n];
        for (size_t i = 0; i < s.length_words * 2u; i++) {
            out.push_back(i < s.data.size() ? static_cast<uint8_t>(s.data[i]) : 0);
        }
    }
    return out;
}

std::vector<int8_t> modbuilder_square(uint32_t length, uint32_t period_bytes, int high, int low) {
    std::vector<int8_t> v(length);
    for (uint32_t i = 0; i < length; i++) {
        v[i] = static_cast<int8_t>((i % period_bytes) < period_bytes / 2 ? high : low);
    }
    return v;
}

std::vector<int8_t> modbuilder_saw(uint32_t length, uint32_t period_bytes, int peak) {
    std::vector<int8_t> v(length);
    for (uint32_t i = 0; i < length; i++) {
        long phase = static_cast<long>(i % period_bytes);
        v[i] = static_cast<int8_t>(-peak + (2L * peak * phase) / static_cast<long>(period_bytes));
    }
    return v;
}

std::vector<int8_t> modbuilder_sine(uint32_t length, uint32_t period_bytes, int peak) {
    std::vector<int8_t> v(length);
    for (uint32_t i = 0; i < length; i++) {
        v[i] = static_cast<int8_t>(lround(peak * sin(2.0 * M_PI * i / period_bytes)));
    }
    return v;
}

std::vector<int8_t> modbuilder_noise(uint32_t length, int peak) {
    std::vector<int8_t> v(length);
    uint32_t state = 12345;
    for (uint32_t i = 0; i < length; i++) {
        state = state * 1103515245u + 12345u;
        int value = static_cast<int>((state >> 16) & 0xFF) - 128;
        long decay = static_cast<long>(length - i);
        v[i] = static_cast<int8_t>(value * peak / 128 * decay / static_cast<long>(length));
    }
    return v;
}

void modbuilder_busy_song(ModBuilder *b) {
    modbuilder_init(b);
    modbuilder_set_title(b, "busy test song");
    // 1 bass saw, 2 lead square, 3 pad sine, 4 noise hat (short loop).
    modbuilder_set_sample(b, 1, modbuilder_saw(4096, 64, 100), 48, 0, 0, 4096);
    modbuilder_set_sample(b, 2, modbuilder_square(2048, 32, 90, -90), 40, 0, 1024, 1024);
    modbuilder_set_sample(b, 3, modbuilder_sine(8192, 128, 110), 44, 1, 512, 7680);
    modbuilder_set_sample(b, 4, modbuilder_noise(2048, 120), 32, 15, 1024, 1024);
    const uint8_t order[] = {0, 1, 0, 1};
    modbuilder_set_order(b, order, 4);
    // Periods of a minor scale in the middle octave, and a bass octave.
    const int lead[8] = {428, 381, 360, 320, 285, 320, 360, 381};
    const int bass[4] = {856, 856, 678, 762};
    for (int p = 0; p < 2; p++) {
        for (int row = 0; row < 64; row++) {
            // Channel 0: bass on every 4th row, slides in between.
            if (row % 4 == 0) {
                modbuilder_set_cell(b, p, row, 0, 1, bass[(row / 16 + p) % 4], 0x000);
            } else {
                modbuilder_set_cell(b, p, row, 0, 0, 0, row % 4 == 2 ? 0x201 : 0xA01);
            }
            // Channel 1: lead with arpeggio, vibrato and portamento.
            int effect = (row % 3 == 0) ? 0x037 : (row % 3 == 1) ? 0x447 : 0x304;
            modbuilder_set_cell(b, p, row, 1, row % 2 == 0 ? 2 : 0, lead[(row + p) % 8], effect);
            // Channel 2: pad with tremolo and volume slides.
            modbuilder_set_cell(b, p, row, 2, row % 8 == 0 ? 3 : 0, row % 8 == 0 ? 214 : 0,
                                row % 8 < 4 ? 0x764 : 0x602);
            // Channel 3: hats every 2 rows, retriggered and cut.
            modbuilder_set_cell(b, p, row, 3, row % 2 == 0 ? 4 : 0, row % 2 == 0 ? 170 : 0,
                                row % 16 == 8 ? 0xE93 : 0xEC4);
        }
    }
    modbuilder_set_cell(b, 0, 0, 2, 3, 214, 0xF05);  // speed 5 at the start
}

void modbuilder_jump_back_song(ModBuilder *b) {
    modbuilder_init(b);
    modbuilder_set_title(b, "jump back");
    modbuilder_set_sample(b, 1, modbuilder_saw(2000, 50, 90), 48, 0, 400, 1600);
    modbuilder_set_sample(b, 2, modbuilder_sine(3000, 70, 110), 64, 5, 0, 3000);
    const uint8_t order[] = {0, 1, 2};
    modbuilder_set_order(b, order, 3);
    for (int p = 0; p < 3; p++)
        for (int row = 0; row < 64; row += 2)
            for (int ch = 0; ch < 4; ch++)
                modbuilder_set_cell(b, p, row, ch, 1 + (row / 2 + ch + p) % 2, 254 + 30 * ((row + 3 * p + ch) % 11),
                                    ch == 2 ? 0x401 + 0x10 * (row % 7) : 0xA02);
    modbuilder_set_cell(b, 0, 7, 3, 0, 0, 0xB02);
    modbuilder_set_cell(b, 2, 3, 3, 0, 0, 0xB01);
    modbuilder_set_cell(b, 1, 30, 3, 0, 0, 0xF04);
}

namespace {
// Numerical Recipes' linear congruential generator: enough variety for
// test songs, and the same sequence for the same seed everywhere.
struct Dice {
    uint32_t state;
    int roll(int sides) {
        state = state * 1664525u + 1013904223u;
        return static_cast<int>((state >> 8) % static_cast<uint32_t>(sides));
    }
};
}  // namespace

void modbuilder_random_song(ModBuilder *b, uint32_t seed) {
    modbuilder_init(b);
    modbuilder_set_title(b, "random song");
    Dice dice = {seed * 2654435761u + 1u};
    // Sample kinds by number: 1 empty, 2 one-shot, 3 "no loop" (start 0,
    // two bytes), 4 a two-byte loop, 5 and 6 long loops, 7 a loop ending
    // before the sample's end, 8 a tiny one-shot.
    // Draws one after the other in a fixed order, wherever two share an
    // expression (its operands are evaluated in an order each compiler
    // chooses): the recorded songs were made in this one.
    const int noise_finetune = dice.roll(16);
    const int noise_length = 1500 + dice.roll(3000);
    modbuilder_set_sample(b, 2, modbuilder_noise(noise_length, 127), 64, noise_finetune, 0, 0);
    modbuilder_set_sample(b, 3, modbuilder_saw(2000, 50, 120), 40, dice.roll(16), 0, 2);
    modbuilder_set_sample(b, 4, modbuilder_square(600, 20, 127, -128), 70, dice.roll(16), 300, 2);
    modbuilder_set_sample(b, 5, modbuilder_sine(8192, 128, 127), 64, dice.roll(16), 0, 8192);
    modbuilder_set_sample(b, 6, modbuilder_saw(3000, 30, 100), 32, dice.roll(16), 1000, 2000);
    modbuilder_set_sample(b, 7, modbuilder_square(5000, 64, 90, -90), 50, dice.roll(16), 100, 900);
    modbuilder_set_sample(b, 8, modbuilder_noise(40, 100), 64, dice.roll(16), 0, 0);
    uint8_t order[6];
    const int positions = 1 + dice.roll(6);
    for (int i = 0; i < positions; i++) order[i] = static_cast<uint8_t>(dice.roll(4));
    modbuilder_set_order(b, order, positions);
    for (int p = 0; p < 4; p++) {
        for (int row = 0; row < 64; row++) {
            for (int ch = 0; ch < 4; ch++) {
                int period = 0, sample = 0, effect = 0;
                const int note = dice.roll(10);
                if (note < 4) period = 113 + dice.roll(744);
                else if (note < 6) period = 856 >> dice.roll(3);
                if (dice.roll(3) == 0) sample = dice.roll(9);
                const int command = dice.roll(20);
                const int param = dice.roll(256);
                if (command < 15) {
                    effect = command << 8 | param;
                    // Position commands at random would leave little song.
                    if ((command == 0xB || command == 0xD) && dice.roll(4) != 0) effect = 0;
                } else if (command == 15) {
                    // Position commands, rarer: the song must still play.
                    effect = dice.roll(4) == 0 ? (0xB << 8 | dice.roll(8)) : (0xD << 8 | dice.roll(0x70));
                    if (dice.roll(3) != 0) effect = 0;
                } else if (command == 16) {
                    const int high = dice.roll(16);
                    effect = 0xE00 | high << 4 | dice.roll(4);
                } else if (command == 17) {
                    effect = 0xF00 | (dice.roll(2) ? 1 + dice.roll(8) : 32 + dice.roll(224));
                }
                // Keep speeds and row delays small enough for songs that move.
                if ((effect >> 4) == 0xEE) effect = 0xEE0 | dice.roll(2);
                modbuilder_set_cell(b, p, row, ch, sample, period, effect);
            }
        }
    }
}
