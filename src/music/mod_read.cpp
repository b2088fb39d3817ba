// The MOD reader: header, order table, patterns, samples and the command
// translation of a checked MOD, into a Song.
#include "music/mod_read_internal.h"

#include <cstdio>
#include <cstring>

#include "music/mod_player.h"
#include "music/mod_tables_internal.h"
#include "music/module_format_internal.h"

// Cell bits: b0 = sample high nibble | period bits 8..11, b1 = period bits
// 0..7, b2 = sample low nibble | command, b3 = parameter.
constexpr uint8_t MOD_CELL_HIGH_NIBBLE = 0xF0;
constexpr uint8_t MOD_CELL_LOW_NIBBLE = 0x0F;
constexpr uint8_t MOD_FINETUNE_MASK = 0x0F;
// The song note of period_table's first entry, 856 (ProTracker's C-1).
constexpr uint8_t MOD_FIRST_TABLE_NOTE = 37;
// A loop of at most this many bytes starting at 0 is the format's way of
// saying "no loop".
constexpr uint32_t NO_LOOP_MAX_BYTES = 2;
// A finetune nibble n is n eighths of a semitone (n - 16 from 8 on); the
// song counts 1/128 semitone.
constexpr int FINETUNE_NIBBLE_STEP = 16;
constexpr uint8_t MOD_DEFAULT_SPEED = 6;
constexpr uint8_t MOD_DEFAULT_TEMPO = 125;
constexpr int SPEED_TEMPO_SPLIT = 32;   // Fxx below: speed; from: tempo
constexpr uint8_t PANNING_LEFT = 0;
constexpr uint8_t PANNING_RIGHT = 255;

// The MOD command nibble, bits 8 .. 11 of the command word.
enum ModFileCommand {
    MOD_ARPEGGIO = 0x0, MOD_SLIDE_UP, MOD_SLIDE_DOWN, MOD_TONE_PORTAMENTO, MOD_VIBRATO,
    MOD_PORTAMENTO_VOLUME_SLIDE, MOD_VIBRATO_VOLUME_SLIDE, MOD_TREMOLO, MOD_PANNING,
    MOD_SAMPLE_OFFSET, MOD_VOLUME_SLIDE, MOD_POSITION_JUMP, MOD_SET_VOLUME,
    MOD_PATTERN_BREAK, MOD_EXTENDED, MOD_SPEED_TEMPO,
};

static uint32_t read_be16(const uint8_t *bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 8) | bytes[1];
}

uint8_t mod_note_of_period(uint16_t period) {
    for (int i = 0; i < PERIOD_TABLE_NOTES; i++)
        if (period_table[i] == period) return static_cast<uint8_t>(MOD_FIRST_TABLE_NOTE + i);
    return SONG_NOTE_NONE;
}

void mod_translate_command(uint16_t effect, SongCell *cell) {
    if (!cell) return;
    const int command = (effect >> 8) & 0xF;
    const uint8_t xy = static_cast<uint8_t>(effect);
    const uint8_t x = xy >> 4, y = xy & 0xF;
    uint8_t out = CMD_IGNORED;
    uint8_t param = xy;
    switch (command) {
    case MOD_ARPEGGIO: out = xy ? CMD_ARPEGGIO : CMD_NONE; break;
    case MOD_SLIDE_UP: out = CMD_PORTAMENTO_UP; break;
    case MOD_SLIDE_DOWN: out = CMD_PORTAMENTO_DOWN; break;
    case MOD_TONE_PORTAMENTO: out = CMD_TONE_PORTAMENTO; break;
    case MOD_VIBRATO: out = CMD_VIBRATO; break;
    case MOD_PORTAMENTO_VOLUME_SLIDE: out = CMD_TONE_PORTAMENTO_VOLUME_SLIDE; break;
    case MOD_VIBRATO_VOLUME_SLIDE: out = CMD_VIBRATO_VOLUME_SLIDE; break;
    case MOD_TREMOLO: out = CMD_TREMOLO; break;
    case MOD_PANNING: out = CMD_IGNORED; break;  // 8xx: nothing on the Amiga
    case MOD_SAMPLE_OFFSET: out = CMD_SAMPLE_OFFSET; break;
    case MOD_VOLUME_SLIDE: out = CMD_VOLUME_SLIDE; break;
    case MOD_POSITION_JUMP: out = CMD_POSITION_JUMP; break;
    case MOD_SET_VOLUME: out = CMD_SET_VOLUME; break;
    case MOD_PATTERN_BREAK: {
        // Two decimal digits; bit 7 of the byte is ignored.
        const int r = xy & 0x7F;
        out = CMD_PATTERN_BREAK;
        param = static_cast<uint8_t>((r >> 4) * 10 + (r & 0xF));
        break;
    }
    case MOD_EXTENDED:
        param = y;
        switch (x) {
        case 0x1: out = CMD_FINE_PORTAMENTO_UP; break;
        case 0x2: out = CMD_FINE_PORTAMENTO_DOWN; break;
        case 0x6: out = CMD_PATTERN_LOOP; break;
        case 0x9: out = CMD_RETRIGGER; break;
        case 0xA: out = CMD_FINE_VOLUME_UP; break;
        case 0xB: out = CMD_FINE_VOLUME_DOWN; break;
        case 0xC: out = CMD_NOTE_CUT; break;
        case 0xD: out = CMD_NOTE_DELAY; break;
        case 0xE: out = CMD_PATTERN_DELAY; break;
        default:  // E0y, E3y, E4y, E5y, E7y, E8y, EFy: nothing here
            out = CMD_IGNORED;
            param = xy;
            break;
        }
        break;
    case MOD_SPEED_TEMPO: out = xy < SPEED_TEMPO_SPLIT ? CMD_SET_SPEED : CMD_SET_TEMPO; break;
    default: break;
    }
    cell->command = out;
    cell->param = param;
}

// Samples 1 .. song->sample_count from the headers, each its own
// instrument. Sample data starts at data_offset and each sample follows
// the previous one by its declared length; a short file only shortens what
// can be played, it never moves the later samples.
static void read_samples(Song *song, const uint8_t *module, size_t module_size, size_t data_offset) {
    size_t offset = data_offset;
    for (int n = 0; n < song->sample_count; n++) {
        const uint8_t *header = module + MOD_SAMPLE_HEADERS_OFFSET + MOD_SAMPLE_HEADER_BYTES * n;
        SongSample *sample = &song->samples[n];
        for (size_t i = 0; i < MOD_SAMPLE_NAME_BYTES; i++) {
            const char c = static_cast<char>(header[MOD_SAMPLE_NAME_OFFSET + i]);
            sample->name[i] = c == '\0' ? ' ' : c;
        }
        sample->name[MOD_SAMPLE_NAME_BYTES] = '\0';
        const uint32_t declared_length = read_be16(header + MOD_SAMPLE_LENGTH_OFFSET) * 2;
        uint32_t length = declared_length;
        uint32_t loop_start = read_be16(header + MOD_SAMPLE_LOOP_START_OFFSET) * 2;
        uint32_t loop_length = read_be16(header + MOD_SAMPLE_LOOP_LENGTH_OFFSET) * 2;
        const int nibble = header[MOD_SAMPLE_FINETUNE_OFFSET] & MOD_FINETUNE_MASK;
        sample->finetune = static_cast<int8_t>((nibble < 8 ? nibble : nibble - 16) * FINETUNE_NIBBLE_STEP);
        sample->volume = header[MOD_SAMPLE_VOLUME_OFFSET];
        sample->bits = 8;

        // Truncated files are common: keep what the file holds.
        const size_t start = offset < module_size ? offset : module_size;
        const size_t available = module_size - start;
        if (length > available) length = static_cast<uint32_t>(available);
        // A loop starting at or past the end is dropped; one reaching past
        // the end is cut to the sample.
        if (loop_start >= length) {
            loop_start = 0;
            loop_length = 0;
        } else if (loop_length > length - loop_start) {
            loop_length = length - loop_start;
        }
        if (loop_start == 0 && loop_length <= NO_LOOP_MAX_BYTES) loop_length = 0;
        sample->length = length;
        sample->loop_start = loop_length ? loop_start : 0;
        sample->loop_length = loop_length;
        sample->loop = loop_length ? SONG_LOOP_FORWARD : SONG_LOOP_NONE;
        sample->data = module + start;
        offset += declared_length;

        SongInstrument *instrument = &song->instruments[n];
        memcpy(instrument->name, sample->name, sizeof sample->name);
        for (uint16_t &s : instrument->note_samples) s = static_cast<uint16_t>(n + 1);
    }
}

// The cell at `bytes` into `cell`; sample numbers above `samples` name no
// sample of the file.
static void read_cell(const uint8_t *bytes, int samples, SongCell *cell) {
    const uint8_t sample = (bytes[0] & MOD_CELL_HIGH_NIBBLE) | (bytes[2] >> 4);
    cell->period = static_cast<uint16_t>(((bytes[0] & MOD_CELL_LOW_NIBBLE) << 8) | bytes[1]);
    cell->note = mod_note_of_period(cell->period);
    cell->instrument = sample > samples ? 0 : sample;
    cell->volume_command = VOLCMD_NONE;
    cell->volume_param = 0;
    mod_translate_command(static_cast<uint16_t>(((bytes[2] & MOD_CELL_LOW_NIBBLE) << 8) | bytes[3]), cell);
}

// Patterns 0 .. pattern_count - 1 from `patterns` on, 64 rows of
// `channels` cells; with split patterns (FLT8) each pattern is two
// four-channel patterns, channels 0 - 3 of every row from the first.
static int read_patterns(Song *song, const uint8_t *patterns, int pattern_count, int channels, bool split) {
    uint16_t rows[SONG_MAX_PATTERNS] = {};
    for (int p = 0; p < pattern_count; p++) rows[p] = MOD_ROWS;
    // A MOD cell packs into at most 8 bytes (no volume column).
    const size_t bound = static_cast<size_t>(pattern_count) * MOD_ROWS * static_cast<size_t>(channels) * 8;
    if (!song_alloc_patterns(song, pattern_count, rows, bound)) return 0;
    const size_t row_bytes = MOD_CELL_BYTES * static_cast<size_t>(split ? MOD_CHANNELS : channels);
    const size_t half_bytes = row_bytes * MOD_ROWS;
    SongCell cells[SONG_MAX_CHANNELS];
    for (int p = 0; p < pattern_count; p++) {
        const uint8_t *pattern = patterns + half_bytes * (split ? 2 : 1) * static_cast<size_t>(p);
        for (int row = 0; row < MOD_ROWS; row++) {
            for (int ch = 0; ch < channels; ch++) {
                const int half = split ? ch / MOD_CHANNELS : 0;
                const int column = split ? ch % MOD_CHANNELS : ch;
                read_cell(pattern + half_bytes * static_cast<size_t>(half) + row_bytes * static_cast<size_t>(row) +
                              MOD_CELL_BYTES * static_cast<size_t>(column),
                          song->sample_count, &cells[ch]);
            }
            if (!song_put_row(song, cells)) return 0;
        }
    }
    return song_finish_patterns(song);
}

Song *mod_read_song(const uint8_t *module, long size_bytes, const ModLayout *layout) {
    if (!module || !layout || size_bytes < layout->needed_bytes || layout->channels < 1 || layout->channels > SONG_MAX_CHANNELS || layout->pattern_count < 1 ||
        layout->pattern_count > MOD_MAX_PATTERNS ||
        (layout->sample_count != MOD_SAMPLES && layout->sample_count != MOD_SOUNDTRACKER_SAMPLES) ||
        (layout->split_patterns && layout->channels != 2 * MOD_CHANNELS))
        return nullptr;
    const bool soundtracker = layout->sample_count == MOD_SOUNDTRACKER_SAMPLES;
    Song *song = song_create();
    if (!song) return nullptr;
    song->format = SONG_FORMAT_MOD;
    memcpy(song->title, module + MOD_TITLE_OFFSET, MOD_TITLE_BYTES);
    song->title[MOD_TITLE_BYTES] = '\0';
    const uint8_t *sig = module + MOD_SIGNATURE_OFFSET;
    if (soundtracker)
        snprintf(song->format_name, sizeof song->format_name, "MOD (Soundtracker, 15 samples)");
    else
        snprintf(song->format_name, sizeof song->format_name, "MOD %c%c%c%c", sig[0], sig[1], sig[2], sig[3]);
    song->channel_count = static_cast<uint8_t>(layout->channels);

    const size_t length_offset = mod_song_length_offset(layout->sample_count);
    int song_length = module[length_offset];
    if (song_length == 0) song_length = 1;
    if (song_length > MOD_ORDER_ENTRIES) song_length = MOD_ORDER_ENTRIES;
    song->order_count = static_cast<uint16_t>(song_length);
    song->restart = 0;
    // The same mask that counted the patterns keeps every entry inside them;
    // FLT8's entries count four-channel halves, two to a pattern.
    const uint8_t *orders = module + length_offset + 2;
    for (int i = 0; i < song_length; i++) {
        const uint8_t entry = orders[i] & layout->pattern_mask;
        song->orders[i] = layout->split_patterns ? entry / 2 : entry;
    }

    song->frequency_mode = SONG_FREQUENCY_MOD_TABLE;
    // Four channels play by this engine's MOD rules, as they always have;
    // the trackers that write more channels (FastTracker, TakeTracker,
    // Octalyser) play samples from their first byte, loop at the loop's end
    // from the start, and follow ProTracker's E6y, EEy, lone sample numbers
    // and lone notes, arpeggio's order, vibrato's waveform and the joint
    // jump and break, and set the voice on every tick. Every MOD sits hard
    // left and right.
    song->quirks = SONG_QUIRK_HARD_PANNING;
    if (layout->channels == MOD_CHANNELS)
        song->quirks |= SONG_QUIRK_NOTE_START_SKIPS_TWO | SONG_QUIRK_FIRST_PASS_TO_SAMPLE_END |
                        SONG_QUIRK_INSTRUMENT_ALONE_RESTARTS | SONG_QUIRK_NOTE_ALONE_RESETS_VOLUME |
                        SONG_QUIRK_PATTERN_LOOP_ONE_SHORT | SONG_QUIRK_PATTERN_DELAY_TICKS |
                        SONG_QUIRK_COMMANDLESS_TICKS_KEEP_VOICE | SONG_QUIRK_ARPEGGIO_LOW_NIBBLE_FIRST |
                        SONG_QUIRK_WAVES_RESTART_EACH_ROW;
    else
        song->quirks |= SONG_QUIRK_JUMP_AND_BREAK_COMBINE | SONG_QUIRK_FINETUNED_PERIODS;
    song->initial_speed = MOD_DEFAULT_SPEED;
    song->initial_tempo = MOD_DEFAULT_TEMPO;
    song->initial_global_volume = SONG_MAX_VOLUME;
    // Paula's channels: 0 and 3 left, 1 and 2 right, and so on in fours.
    for (int ch = 0; ch < SONG_MAX_CHANNELS; ch++)
        song->channel_panning[ch] = (ch % 4 == 0 || ch % 4 == 3) ? PANNING_LEFT : PANNING_RIGHT;

    const size_t patterns_offset = soundtracker ? MOD_SOUNDTRACKER_HEADER_BYTES : MOD_PATTERNS_OFFSET;
    if (!song_alloc_instruments(song, layout->sample_count, layout->sample_count) ||
        !read_patterns(song, module + patterns_offset, layout->pattern_count, layout->channels,
                       layout->split_patterns != 0)) {
        song_destroy(song);
        return nullptr;
    }
    read_samples(song, module, static_cast<size_t>(size_bytes), layout->sample_data_offset);
    return song;
}
