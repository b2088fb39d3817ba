// The S3M reader: a Scream Tracker 3 module turned into a Song: the
// header, the channel settings and panning, the orders, the PCM
// instruments (Adlib ones read as silent), the packed 64-row patterns and
// the A .. Z commands in the song's vocabulary. module_readers_internal.h lists
// what is repaired and what refused. Numbers in the file are little-endian;
// "pointers" count 16-byte paragraphs from the file's start.
#include <cstdio>
#include <cstring>

#include "music/module_bytes_internal.h"
#include "music/module_readers_internal.h"

// The song header, offsets from the start of the file.
constexpr size_t S3M_TITLE_OFFSET = 0;
constexpr size_t S3M_TITLE_BYTES = 28;
constexpr size_t S3M_TYPE_OFFSET = 29;
constexpr uint8_t S3M_TYPE_MODULE = 16;
constexpr size_t S3M_ORDER_COUNT_OFFSET = 32;
constexpr size_t S3M_INSTRUMENT_COUNT_OFFSET = 34;
constexpr size_t S3M_PATTERN_COUNT_OFFSET = 36;
constexpr size_t S3M_FLAGS_OFFSET = 38;
constexpr size_t S3M_VERSION_OFFSET = 40;       // tracker in bits 12 .. 15, version below
constexpr size_t S3M_SAMPLE_FORMAT_OFFSET = 42; // 1 signed, 2 unsigned
constexpr size_t S3M_SIGNATURE_OFFSET = 44;     // "SCRM"
constexpr size_t S3M_GLOBAL_VOLUME_OFFSET = 48;
constexpr size_t S3M_SPEED_OFFSET = 49;
constexpr size_t S3M_TEMPO_OFFSET = 50;
constexpr size_t S3M_MASTER_VOLUME_OFFSET = 51; // bit 7: stereo
constexpr size_t S3M_PANNING_FLAG_OFFSET = 53;  // 252: a panning table follows the pointers
constexpr size_t S3M_CHANNEL_SETTINGS_OFFSET = 64;
constexpr size_t S3M_ORDERS_OFFSET = 96;
constexpr size_t S3M_HEADER_BYTES = S3M_ORDERS_OFFSET;
constexpr int S3M_CHANNELS = 32;
constexpr size_t S3M_PARAGRAPH_BYTES = 16;

constexpr uint32_t S3M_FLAG_AMIGA_LIMITS = 16;
constexpr uint32_t S3M_FLAG_FAST_VOLUME_SLIDES = 64;
constexpr uint32_t S3M_VERSION_FAST_VOLUME_SLIDES = 0x1300;  // Scream Tracker 3.00
constexpr int S3M_TRACKER_SHIFT = 12;                        // the version word's tracker
constexpr uint32_t S3M_TRACKER_IMPULSE = 3;                  // Impulse Tracker
constexpr uint32_t S3M_SAMPLES_SIGNED = 1;
constexpr uint8_t S3M_MASTER_STEREO = 0x80;
constexpr uint8_t S3M_PANNING_TABLE = 252;
constexpr uint8_t S3M_PANNING_ENTRY_SET = 0x20;  // else the entry keeps the default
constexpr int S3M_DEFAULT_SPEED = 6;
constexpr int S3M_DEFAULT_TEMPO = 125;
constexpr int S3M_MIN_TEMPO = 33;
constexpr uint32_t S3M_DEFAULT_C2SPD = 8363;

// A channel setting: 0 .. 7 left PCM, 8 .. 15 right PCM, 16 .. 31 Adlib;
// bit 7 disables the channel; 255 (and 32 .. 127) leaves it unused.
constexpr uint8_t S3M_CHANNEL_DISABLED = 0x80;
constexpr uint8_t S3M_CHANNEL_FIRST_RIGHT = 8;
constexpr uint8_t S3M_CHANNEL_FIRST_ADLIB = 16;
constexpr uint8_t S3M_CHANNEL_KINDS = 32;
constexpr uint8_t S3M_PANNING_LEFT = 0x30;
constexpr uint8_t S3M_PANNING_RIGHT = 0xC0;

// Orders: 254 marks a position to skip, 255 ends the song.
constexpr uint8_t S3M_ORDER_SKIP = 254;
constexpr uint8_t S3M_ORDER_END = 255;

// An instrument's header, offsets from its first byte.
constexpr size_t S3M_INSTRUMENT_BYTES = 80;
constexpr size_t S3M_INSTRUMENT_TYPE_OFFSET = 0;    // 1 PCM sample, 2 .. 7 Adlib
constexpr size_t S3M_INSTRUMENT_MEMSEG_OFFSET = 13; // high byte, then the low 16 bits
constexpr size_t S3M_INSTRUMENT_LENGTH_OFFSET = 16; // frames
constexpr size_t S3M_INSTRUMENT_LOOP_BEGIN_OFFSET = 20;
constexpr size_t S3M_INSTRUMENT_LOOP_END_OFFSET = 24;
constexpr size_t S3M_INSTRUMENT_VOLUME_OFFSET = 28;
constexpr size_t S3M_INSTRUMENT_PACK_OFFSET = 30;   // 0 plain, 1 DP30ADPCM
constexpr size_t S3M_INSTRUMENT_FLAGS_OFFSET = 31;
constexpr size_t S3M_INSTRUMENT_C2SPD_OFFSET = 32;  // low 16 bits used
constexpr size_t S3M_INSTRUMENT_NAME_OFFSET = 48;
constexpr size_t S3M_INSTRUMENT_NAME_BYTES = 28;
constexpr uint8_t S3M_INSTRUMENT_PCM = 1;
constexpr uint8_t S3M_INSTRUMENT_LAST_ADLIB = 7;
constexpr uint8_t S3M_SAMPLE_LOOP = 1;
constexpr uint8_t S3M_SAMPLE_STEREO = 2;
constexpr uint8_t S3M_SAMPLE_16_BIT = 4;

// A packed pattern: a 16-bit length, then rows of cells each starting
// with a byte: 0 ends the row; else the channel in bits 0 .. 4 and which
// fields follow: 32 note and instrument, 64 volume, 128 command and info.
constexpr int S3M_ROWS = 64;
constexpr size_t S3M_PATTERN_LENGTH_BYTES = 2;
constexpr uint8_t S3M_CELL_CHANNEL = 31;
constexpr uint8_t S3M_CELL_NOTE = 32;
constexpr uint8_t S3M_CELL_VOLUME = 64;
constexpr uint8_t S3M_CELL_COMMAND = 128;
constexpr uint8_t S3M_NOTE_CUT = 254;
constexpr uint8_t S3M_NOTE_NONE = 255;
constexpr uint8_t S3M_VOLUME_NONE = 255;
constexpr int S3M_HIGHEST_OCTAVE = 7;
constexpr int S3M_SEMITONES = 12;

// Where each stored pattern's packed cells lie.
struct S3mPattern {
    size_t data_at;
    size_t data_bytes;          // 0 for a pattern the file leaves empty
};

struct S3mReader {
    const uint8_t *bytes;
    size_t size;
    ModuleReadResult *result;
    int stored_patterns;
    int stored_instruments;
    size_t instrument_pointers_at;
    int song_channel[S3M_CHANNELS];   // the song's channel of each file channel, -1 none
    bool channel_plays[S3M_CHANNELS]; // a PCM channel the file enables (by song channel)
    int channel_count;
    S3mPattern patterns[SONG_MAX_PATTERNS];
};

int s3m_detect(const uint8_t *bytes, size_t size) {
    return bytes && size >= S3M_SIGNATURE_OFFSET + 4 && memcmp(bytes + S3M_SIGNATURE_OFFSET, "SCRM", 4) == 0;
}

// The S commands by their x; y is the parameter. S0 (filter), SA (old
// stereo control), SF (funk repeat) and the Impulse Tracker extensions
// (S5, S6, S7, S9) do nothing in Scream Tracker 3.
static const uint8_t S3M_S_COMMANDS[16] = {
    CMD_NONE, CMD_GLISSANDO, CMD_SET_FINETUNE, CMD_VIBRATO_WAVEFORM,
    CMD_TREMOLO_WAVEFORM, CMD_NONE, CMD_NONE, CMD_NONE,
    CMD_SET_PANNING_COARSE, CMD_NONE, CMD_NONE, CMD_PATTERN_LOOP,
    CMD_NOTE_CUT, CMD_NOTE_DELAY, CMD_PATTERN_DELAY, CMD_NONE};

// The command letter (1 .. 26 for A .. Z) and its info byte in the song's
// vocabulary. Letters Scream Tracker 3 does not play are no command, but
// for X (panning 0 .. 80 hex, as DMP and later trackers write it).
static void translate_command(uint8_t letter, uint8_t param, SongCell *cell) {
    uint8_t command = CMD_NONE;
    const uint8_t x = param >> 4, y = param & 0x0F;
    switch (letter + 'A' - 1) {
        case 'A': command = CMD_SET_SPEED; break;                               // Axx
        case 'B': command = CMD_POSITION_JUMP; break;                           // Bxx
        case 'C':                                                               // Cxy: row x x 10 + y
            command = CMD_PATTERN_BREAK;
            param = static_cast<uint8_t>(x * 10 + y);
            break;
        case 'D': command = CMD_VOLUME_SLIDE; break;                            // Dxy, DxF, DFy
        // E and F keep their parameter whole: EFx and EEx (FFx, FEx) are
        // their fine and extra-fine kinds, told apart when played
        // (SONG_QUIRK_SLIDE_KIND_IN_PARAMETER), so that E00 recalls a kind.
        case 'E': command = CMD_PORTAMENTO_DOWN; break;                         // Exx, EFx, EEx
        case 'F': command = CMD_PORTAMENTO_UP; break;                           // Fxx, FFx, FEx
        case 'G': command = CMD_TONE_PORTAMENTO; break;                         // Gxx
        case 'H': command = CMD_VIBRATO; break;                                 // Hxy
        case 'I': command = CMD_TREMOR; break;                                  // Ixy
        case 'J': command = CMD_ARPEGGIO; break;                                // Jxy (00 recalls)
        case 'K': command = CMD_VIBRATO_VOLUME_SLIDE; break;                    // Kxy
        case 'L': command = CMD_TONE_PORTAMENTO_VOLUME_SLIDE; break;            // Lxy
        case 'O': command = CMD_SAMPLE_OFFSET; break;                           // Oxx
        case 'Q': command = CMD_MULTI_RETRIGGER; break;                         // Qxy
        case 'R': command = CMD_TREMOLO; break;                                 // Rxy
        case 'S':                                                               // Sxy
            command = S3M_S_COMMANDS[x];
            param = y;
            break;
        case 'T': command = param >= 32 ? CMD_SET_TEMPO : CMD_NONE; break;      // Txx
        case 'U': command = CMD_FINE_VIBRATO; break;                            // Uxy
        case 'V': command = param <= SONG_MAX_VOLUME ? CMD_SET_GLOBAL_VOLUME : CMD_NONE; break;  // Vxx
        case 'X':                                                               // Xxx: 0 .. 80 hex
            command = param <= 0x80 ? CMD_SET_PANNING : CMD_NONE;
            param = static_cast<uint8_t>(param >= 0x80 ? 255 : param * 2);
            break;
        default: break;
    }
    cell->command = command;
    cell->param = command == CMD_NONE ? 0 : param;
}

// The song note of an S3M note byte: octave (high nibble) x 12 +
// semitone + 1; 254 the note cut; anything else off the eight octaves none.
static uint8_t s3m_note(uint8_t byte) {
    if (byte == S3M_NOTE_CUT) return SONG_NOTE_CUT;
    const int octave = byte >> 4, semitone = byte & 0x0F;
    if (byte == S3M_NOTE_NONE || octave > S3M_HIGHEST_OCTAVE || semitone >= S3M_SEMITONES) return SONG_NOTE_NONE;
    return static_cast<uint8_t>(octave * S3M_SEMITONES + semitone + 1);
}

// Reads one row from data[*at .. end) into cells (the song's channels,
// emptied first). Returns the highest instrument number a cell names.
static int read_row(const S3mReader *s, const uint8_t *data, size_t end, size_t *at, SongCell *cells) {
    memset(cells, 0, sizeof(SongCell) * static_cast<size_t>(s->channel_count));
    int highest = 0;
    while (*at < end) {
        const uint8_t what = data[(*at)++];
        if (what == 0) break;
        uint8_t note = S3M_NOTE_NONE, instrument = 0, volume = S3M_VOLUME_NONE, letter = 0, info = 0;
        if (what & S3M_CELL_NOTE) {
            if (*at < end) note = data[(*at)++];
            if (*at < end) instrument = data[(*at)++];
        }
        if ((what & S3M_CELL_VOLUME) && *at < end) volume = data[(*at)++];
        if (what & S3M_CELL_COMMAND) {
            if (*at < end) letter = data[(*at)++];
            if (*at < end) info = data[(*at)++];
        }
        const int channel = s->song_channel[what & S3M_CELL_CHANNEL];
        if (channel < 0) continue;
        // A channel met again in the row changes only the fields this cell
        // has, as the trackers read it.
        SongCell &cell = cells[channel];
        if (what & S3M_CELL_NOTE) {
            cell.note = s3m_note(note);
            cell.instrument = instrument <= SONG_MAX_INSTRUMENTS ? instrument : 0;
        }
        if (volume != S3M_VOLUME_NONE) {
            cell.volume_command = VOLCMD_SET_VOLUME;
            cell.volume_param = volume > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : volume;
        }
        if (what & S3M_CELL_COMMAND) translate_command(letter, info, &cell);
        if (!s->channel_plays[channel]) {
            // Only the song-wide commands are left of a silent channel's cell.
            const SongCell steering = cell;
            cell = SongCell{};
            if (module_cell_steers_song(&steering)) {
                cell.command = steering.command;
                cell.param = steering.param;
            }
        }
        if (cell.instrument > highest) highest = cell.instrument;
    }
    return highest;
}

// The song's channels: one for each file channel that is PCM or Adlib,
// enabled or not, in the file's order; those that play notes are the
// enabled PCM ones.
static void map_channels(S3mReader *s) {
    s->channel_count = 0;
    for (int c = 0; c < S3M_CHANNELS; c++) {
        const uint8_t setting = s->bytes[S3M_CHANNEL_SETTINGS_OFFSET + c];
        const uint8_t kind = setting & static_cast<uint8_t>(~S3M_CHANNEL_DISABLED);
        s->song_channel[c] = -1;
        if (setting == 255 || kind >= S3M_CHANNEL_KINDS) continue;
        s->channel_plays[s->channel_count] = setting < S3M_CHANNEL_FIRST_ADLIB;
        s->song_channel[c] = s->channel_count++;
    }
}

// The default panning of each song channel, then the panning table's.
static void read_panning(const S3mReader *s, size_t table_at, Song *song) {
    const bool stereo = (s->bytes[S3M_MASTER_VOLUME_OFFSET] & S3M_MASTER_STEREO) != 0;
    const bool table = s->bytes[S3M_PANNING_FLAG_OFFSET] == S3M_PANNING_TABLE &&
                       table_at <= s->size && s->size - table_at >= S3M_CHANNELS;
    for (int c = 0; c < S3M_CHANNELS; c++) {
        const int channel = s->song_channel[c];
        if (channel < 0) continue;
        const uint8_t kind = s->bytes[S3M_CHANNEL_SETTINGS_OFFSET + c] & static_cast<uint8_t>(~S3M_CHANNEL_DISABLED);
        uint8_t pan = SONG_PANNING_CENTER;
        if (stereo && kind < S3M_CHANNEL_FIRST_ADLIB)
            pan = kind < S3M_CHANNEL_FIRST_RIGHT ? S3M_PANNING_LEFT : S3M_PANNING_RIGHT;
        if (stereo && table && (s->bytes[table_at + c] & S3M_PANNING_ENTRY_SET))
            pan = static_cast<uint8_t>((s->bytes[table_at + c] & 0x0F) * 16);
        song->channel_panning[channel] = pan;
    }
}

// The bytes of `available` from `data` that 64 rows of packed cells take
// (each cell's fields as its first byte says, a 0 ending a row), or all of
// them when they end first.
static size_t rows_bytes(const uint8_t *data, size_t available) {
    size_t at = 0;
    for (int rows = 0; rows < S3M_ROWS && at < available;) {
        const uint8_t what = data[at++];
        if (what == 0) {
            rows++;
            continue;
        }
        if (what & S3M_CELL_NOTE) at += 2;
        if (what & S3M_CELL_VOLUME) at += 1;
        if (what & S3M_CELL_COMMAND) at += 2;
    }
    return at < available ? at : available;
}

// Pass one over the patterns: where each one's cells lie. Returns 0 when
// refused.
static int find_patterns(S3mReader *s, size_t pointers_at, size_t *packed_total) {
    *packed_total = 0;
    for (int p = 0; p < s->stored_patterns; p++) {
        const uint64_t at = static_cast<uint64_t>(module_le16(s->bytes + pointers_at + 2 * p)) * S3M_PARAGRAPH_BYTES;
        if (at == 0) {
            s->patterns[p] = {0, 0};
            continue;
        }
        if (at + S3M_PATTERN_LENGTH_BYTES > s->size)
            return module_read_truncated(s->result, MODULE_PART_PATTERN, p, at + S3M_PATTERN_LENGTH_BYTES);
        // The length counts the packed bytes after the length itself, but
        // Scream Tracker 3 and Impulse Tracker read rows, not the length:
        // reading goes on to the 64th row's end (Impulse Tracker writes
        // lengths that leave the last rows out) or the file's end. So that
        // the patterns read stay within the file's size in all, a pattern
        // that would take more stops at its stated length.
        const uint64_t data_at = at + S3M_PATTERN_LENGTH_BYTES;
        uint64_t end = data_at + module_le16(s->bytes + at);
        if (end > s->size) end = s->size;
        const uint64_t rows_end = data_at + rows_bytes(s->bytes + data_at, s->size - data_at);
        if (rows_end > end && *packed_total + (rows_end - data_at) <= s->size) end = rows_end;
        s->patterns[p] = {static_cast<size_t>(data_at), static_cast<size_t>(end - data_at)};
        *packed_total += static_cast<size_t>(end - data_at);
    }
    return 1;
}

static int read_patterns(S3mReader *s, Song *song, size_t packed_total, bool add_empty, int *highest) {
    uint16_t rows[SONG_MAX_PATTERNS];
    const int count = s->stored_patterns + (add_empty ? 1 : 0);
    for (int p = 0; p < count; p++) rows[p] = S3M_ROWS;
    // A cell's fields pack into at most twice the bytes the file spends
    // on them (song.h): within 2 x the pattern bytes read.
    if (!song_alloc_patterns(song, count, rows, 2 * packed_total)) return module_read_refuse(s->result, MODULE_READ_NO_MEMORY, 0, 0);
    SongCell cells[SONG_MAX_CHANNELS];
    *highest = 0;
    for (int p = 0; p < count; p++) {
        const bool stored = p < s->stored_patterns;
        const uint8_t *data = stored ? s->bytes + s->patterns[p].data_at : nullptr;
        const size_t end = stored ? s->patterns[p].data_bytes : 0;
        size_t at = 0;
        for (int row = 0; row < S3M_ROWS; row++) {
            const int named = read_row(s, data, end, &at, cells);
            if (named > *highest) *highest = named;
            if (!song_put_row(song, cells)) return module_read_refuse(s->result, MODULE_READ_NO_MEMORY, 0, 0);
        }
    }
    if (!song_finish_patterns(song)) return module_read_refuse(s->result, MODULE_READ_NO_MEMORY, 0, 0);
    return 1;
}

// A PCM instrument's sample as the file stores it.
struct S3mSampleSpan {
    size_t data_at;
    uint32_t frames;            // held by the file (the left half's, for stereo)
    uint32_t right_frames;      // stereo: the right half's frames held
    uint32_t declared_frames;
    uint8_t bits;
    bool stereo;
    bool in_place;              // signed 8-bit mono: read where it lies
};

// The header of instrument `n` (from 0) when the file holds it whole, else null.
static const uint8_t *instrument_header(const S3mReader *s, int n) {
    const uint64_t at = static_cast<uint64_t>(module_le16(s->bytes + s->instrument_pointers_at + 2 * n)) *
                        S3M_PARAGRAPH_BYTES;
    if (at == 0 || at + S3M_INSTRUMENT_BYTES > s->size) return nullptr;
    return s->bytes + at;
}

static S3mSampleSpan sample_span(const S3mReader *s, const uint8_t *h) {
    S3mSampleSpan span = {};
    const uint8_t flags = h[S3M_INSTRUMENT_FLAGS_OFFSET];
    span.bits = (flags & S3M_SAMPLE_16_BIT) ? 16 : 8;
    span.stereo = (flags & S3M_SAMPLE_STEREO) != 0;
    span.in_place = span.bits == 8 && !span.stereo &&
                    module_le16(s->bytes + S3M_SAMPLE_FORMAT_OFFSET) == S3M_SAMPLES_SIGNED;
    span.declared_frames = module_le32(h + S3M_INSTRUMENT_LENGTH_OFFSET);
    const uint64_t at = (static_cast<uint64_t>(h[S3M_INSTRUMENT_MEMSEG_OFFSET]) << 16 |
                         module_le16(h + S3M_INSTRUMENT_MEMSEG_OFFSET + 1)) * S3M_PARAGRAPH_BYTES;
    span.data_at = at < s->size ? static_cast<size_t>(at) : s->size;
    const uint64_t unit = span.bits / 8;
    const uint64_t held = (s->size - span.data_at) / unit;
    span.frames = held < span.declared_frames ? static_cast<uint32_t>(held) : span.declared_frames;
    if (span.stereo) {
        const uint64_t right = held > span.declared_frames ? held - span.declared_frames : 0;
        span.right_frames = right < span.declared_frames ? static_cast<uint32_t>(right) : span.declared_frames;
    }
    return span;
}

// Frame i of the half starting at `src`, signed, at the sample's bits.
static int32_t s3m_frame(const uint8_t *src, uint32_t i, uint8_t bits, bool is_unsigned) {
    if (bits == 16) {
        const uint32_t raw = module_le16(src + 2 * static_cast<size_t>(i));
        return static_cast<int16_t>(static_cast<uint16_t>(is_unsigned ? raw ^ 0x8000 : raw));
    }
    return static_cast<int8_t>(static_cast<uint8_t>(is_unsigned ? src[i] ^ 0x80 : src[i]));
}

// Decodes a sample into `out`: unsigned to signed, little-endian 16 bits
// to native, a stereo sample's halves into their mean (the left alone
// where the file's end cuts the right half).
static void decode_sample(const S3mReader *s, const S3mSampleSpan &span, void *out) {
    const bool is_unsigned = module_le16(s->bytes + S3M_SAMPLE_FORMAT_OFFSET) != S3M_SAMPLES_SIGNED;
    const uint8_t *left = s->bytes + span.data_at;
    const uint8_t *right = left + static_cast<size_t>(span.declared_frames) * (span.bits / 8);
    for (uint32_t i = 0; i < span.frames; i++) {
        int32_t v = s3m_frame(left, i, span.bits, is_unsigned);
        if (span.stereo && i < span.right_frames) v = (v + s3m_frame(right, i, span.bits, is_unsigned)) >> 1;
        if (span.bits == 16) static_cast<int16_t *>(out)[i] = static_cast<int16_t>(v);
        else static_cast<int8_t *>(out)[i] = static_cast<int8_t>(v);
    }
}

// Whether instrument header h holds a sample the reader plays.
static bool plays_sample(const uint8_t *h) {
    return h && h[S3M_INSTRUMENT_TYPE_OFFSET] == S3M_INSTRUMENT_PCM && h[S3M_INSTRUMENT_PACK_OFFSET] == 0;
}

// Pass one over the instruments: the bytes their decoded samples take
// (with a byte each for aligning 16-bit data), and the notices.
static size_t count_sample_bytes(S3mReader *s) {
    size_t bytes = 0;
    ModuleReadResult *r = s->result;
    for (int n = 0; n < s->stored_instruments; n++) {
        const uint8_t *h = instrument_header(s, n);
        if (!h) {
            if (module_le16(s->bytes + s->instrument_pointers_at + 2 * n) != 0) r->cut_instruments++;
            continue;
        }
        const uint8_t type = h[S3M_INSTRUMENT_TYPE_OFFSET];
        if (type > S3M_INSTRUMENT_PCM && type <= S3M_INSTRUMENT_LAST_ADLIB) r->adlib_instruments++;
        if (type == S3M_INSTRUMENT_PCM && h[S3M_INSTRUMENT_PACK_OFFSET] != 0) r->silent_samples++;
        if (!plays_sample(h)) continue;
        const S3mSampleSpan span = sample_span(s, h);
        if (span.frames < span.declared_frames || (span.stereo && span.right_frames < span.frames)) r->cut_samples++;
        if (!span.in_place) bytes += static_cast<size_t>(span.frames) * (span.bits / 8) + 1;
    }
    return bytes;
}

// Pass two: every stored instrument into the song with its one sample.
static int read_instruments(S3mReader *s, Song *song, int instrument_count, size_t data_bytes) {
    if (!song_alloc_instruments(song, instrument_count, s->stored_instruments))
        return module_read_refuse(s->result, MODULE_READ_NO_MEMORY, 0, 0);
    uint8_t *block = nullptr;
    if (data_bytes > 0) {
        block = static_cast<uint8_t *>(song_alloc_sample_data(song, data_bytes));
        if (!block) return module_read_refuse(s->result, MODULE_READ_NO_MEMORY, 0, 0);
    }
    size_t used = 0;
    for (int n = 0; n < s->stored_instruments; n++) {
        SongSample *sample = &song->samples[n];
        sample->bits = 8;
        const uint8_t *h = instrument_header(s, n);
        if (!h) continue;
        SongInstrument *instrument = &song->instruments[n];
        module_copy_name(instrument->name, h + S3M_INSTRUMENT_NAME_OFFSET, S3M_INSTRUMENT_NAME_BYTES);
        module_copy_name(sample->name, h + S3M_INSTRUMENT_NAME_OFFSET, S3M_INSTRUMENT_NAME_BYTES);
        if (!plays_sample(h)) continue;
        for (uint16_t &entry : instrument->note_samples) entry = static_cast<uint16_t>(n + 1);
        const S3mSampleSpan span = sample_span(s, h);
        sample->bits = span.bits;
        sample->length = span.frames;
        if (span.frames > 0 && span.in_place) {
            sample->data = s->bytes + span.data_at;
        } else if (span.frames > 0) {
            if (span.bits == 16 && (used & 1)) used++;
            sample->data = block + used;
            decode_sample(s, span, block + used);
            used += static_cast<size_t>(span.frames) * (span.bits / 8);
        }
        const uint32_t begin = module_le32(h + S3M_INSTRUMENT_LOOP_BEGIN_OFFSET);
        const uint32_t end = module_le32(h + S3M_INSTRUMENT_LOOP_END_OFFSET);
        // A loop starting at or past the end is dropped; one reaching past it is cut.
        if ((h[S3M_INSTRUMENT_FLAGS_OFFSET] & S3M_SAMPLE_LOOP) && end > begin && begin < span.frames) {
            sample->loop_start = begin;
            sample->loop_length = (end < span.frames ? end : span.frames) - begin;
            sample->loop = SONG_LOOP_FORWARD;
        }
        const uint8_t volume = h[S3M_INSTRUMENT_VOLUME_OFFSET];
        sample->volume = volume > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : volume;
        const uint32_t c2spd = module_le32(h + S3M_INSTRUMENT_C2SPD_OFFSET) & 0xFFFF;
        sample->c2spd = c2spd ? c2spd : S3M_DEFAULT_C2SPD;
    }
    return 1;
}

// "S3M, " and the tracker that wrote it, from the version word.
static void format_name(uint32_t version, char *out, size_t out_bytes) {
    static const char *const trackers[] = {nullptr, "Scream Tracker", "Imago Orpheus", "Impulse Tracker"};
    const uint32_t tracker = version >> 12;
    if (tracker >= 1 && tracker <= 3)
        snprintf(out, out_bytes, "S3M, %s %x.%02x", trackers[tracker], (version >> 8) & 0x0F, version & 0xFF);
    else
        snprintf(out, out_bytes, "S3M");
}

int s3m_read(const uint8_t *bytes, size_t size, Song *song, ModuleReadResult *result) {
    if (!result) return 0;
    *result = ModuleReadResult{};
    result->size_bytes = static_cast<long>(size);
    if (!bytes || size == 0 || !song) return module_read_refuse(result, MODULE_READ_EMPTY, 0, 0);
    result->format = SONG_FORMAT_S3M;
    if (!s3m_detect(bytes, size)) {
        // Another tracker's format is named, not taken for a broken file.
        result->unsupported = module_unsupported_format(bytes, size);
        if (result->unsupported) result->format = SONG_FORMAT_NONE;
        return module_read_refuse(result, result->unsupported ? MODULE_READ_UNSUPPORTED : MODULE_READ_NOT_FORMAT, 0, 0);
    }
    // Scream Tracker's other files (samples, Adlib instruments) carry the
    // mark too, with a type of their own.
    if (bytes[S3M_TYPE_OFFSET] != S3M_TYPE_MODULE)
        return module_read_refuse(result, MODULE_READ_FILE_TYPE, bytes[S3M_TYPE_OFFSET], 0);
    if (size < S3M_HEADER_BYTES) return module_read_truncated(result, MODULE_PART_HEADER, 0, S3M_HEADER_BYTES);

    S3mReader reader = {};
    S3mReader *s = &reader;
    s->bytes = bytes;
    s->size = size;
    s->result = result;
    const int order_entries = static_cast<int>(module_le16(bytes + S3M_ORDER_COUNT_OFFSET));
    s->stored_instruments = static_cast<int>(module_le16(bytes + S3M_INSTRUMENT_COUNT_OFFSET));
    s->stored_patterns = static_cast<int>(module_le16(bytes + S3M_PATTERN_COUNT_OFFSET));
    map_channels(s);
    if (s->channel_count == 0) return module_read_refuse(result, MODULE_READ_CHANNELS, 0, 0);
    if (order_entries > SONG_MAX_ORDERS) return module_read_refuse(result, MODULE_READ_ORDERS, order_entries, 0);
    if (s->stored_patterns > SONG_MAX_PATTERNS) return module_read_refuse(result, MODULE_READ_PATTERNS, s->stored_patterns, 0);
    if (s->stored_instruments > SONG_MAX_INSTRUMENTS)
        return module_read_refuse(result, MODULE_READ_INSTRUMENTS, s->stored_instruments, 0);
    s->instrument_pointers_at = S3M_ORDERS_OFFSET + static_cast<size_t>(order_entries);
    const size_t pattern_pointers_at = s->instrument_pointers_at + 2 * static_cast<size_t>(s->stored_instruments);
    const size_t panning_at = pattern_pointers_at + 2 * static_cast<size_t>(s->stored_patterns);
    if (panning_at > size) return module_read_truncated(result, MODULE_PART_ORDERS, 0, panning_at);

    int order_count = 0;
    bool add_empty = false;
    for (int i = 0; i < order_entries; i++) {
        int pattern = bytes[S3M_ORDERS_OFFSET + i];
        if (pattern == S3M_ORDER_END) break;
        if (pattern == S3M_ORDER_SKIP) continue;
        // Orders naming a pattern the file does not store play the empty
        // one added after the stored ones.
        if (pattern >= s->stored_patterns) {
            pattern = s->stored_patterns;
            add_empty = true;
        }
        song->orders[order_count++] = static_cast<uint8_t>(pattern);
    }
    if (order_count == 0) return module_read_refuse(result, MODULE_READ_ORDERS, 0, 0);

    size_t packed_total = 0;
    if (!find_patterns(s, pattern_pointers_at, &packed_total)) return 0;
    song->format = SONG_FORMAT_S3M;
    module_copy_name(song->title, bytes + S3M_TITLE_OFFSET, S3M_TITLE_BYTES);
    const uint32_t version = module_le16(bytes + S3M_VERSION_OFFSET);
    format_name(version, song->format_name, sizeof song->format_name);
    song->channel_count = static_cast<uint8_t>(s->channel_count);
    song->order_count = static_cast<uint16_t>(order_count);
    song->restart = 0;
    int highest = 0;
    if (!read_patterns(s, song, packed_total, add_empty, &highest)) return 0;
    const size_t data_bytes = count_sample_bytes(s);
    const int instruments = highest > s->stored_instruments ? highest : s->stored_instruments;
    if (!read_instruments(s, song, instruments, data_bytes)) return 0;

    const uint32_t flags = module_le16(bytes + S3M_FLAGS_OFFSET);
    song->frequency_mode = SONG_FREQUENCY_AMIGA;
    song->quirks = SONG_QUIRK_SHARED_EFFECT_MEMORY | SONG_QUIRK_JUMP_AND_BREAK_COMBINE |
                   SONG_QUIRK_SLIDE_KIND_IN_PARAMETER | SONG_QUIRK_FINETUNE_SETS_C2SPD |
                   SONG_QUIRK_FIRST_PATTERN_DELAY | SONG_QUIRK_TREMOR_COUNTS_FIRST_TICK |
                   SONG_QUIRK_SLIDE_PAST_TOP_STOPS | SONG_QUIRK_PATTERN_CHANGE_RESETS_LOOP;
    if (version == S3M_VERSION_FAST_VOLUME_SLIDES || (flags & S3M_FLAG_FAST_VOLUME_SLIDES))
        song->quirks |= SONG_QUIRK_FAST_VOLUME_SLIDES;
    if (flags & S3M_FLAG_AMIGA_LIMITS) song->quirks |= SONG_QUIRK_AMIGA_LIMITS;
    if (version >> S3M_TRACKER_SHIFT == S3M_TRACKER_IMPULSE)
        song->quirks |= SONG_QUIRK_EXACT_NOTE_PERIODS | SONG_QUIRK_RETRIGGER_COUNTS_DOWN;
    else
        song->quirks |= SONG_QUIRK_RETRIGGER_COUNTS_ON | SONG_QUIRK_SLIDE_FROM_ARPEGGIO;
    const uint8_t speed = bytes[S3M_SPEED_OFFSET];
    const uint8_t tempo = bytes[S3M_TEMPO_OFFSET];
    const uint8_t global_volume = bytes[S3M_GLOBAL_VOLUME_OFFSET];
    song->initial_speed = static_cast<uint8_t>(speed == 0 ? S3M_DEFAULT_SPEED : speed);
    song->initial_tempo = static_cast<uint8_t>(tempo >= S3M_MIN_TEMPO ? tempo : S3M_DEFAULT_TEMPO);
    song->initial_global_volume = global_volume > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : global_volume;
    read_panning(s, panning_at, song);
    return 1;
}
