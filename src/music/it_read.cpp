// The IT reader: an Impulse Tracker module (and what Schism Tracker and
// OpenMPT save as IT) turned into a Song: the header and its flags, the
// channels' panning and volume, the orders, the packed patterns, the
// instruments in the old (before 2.00) and the new layout with their note
// maps and envelopes, the samples (it_samples_internal.h decodes their
// data), the song message and the MIDI macros that set the filter, and the
// commands and the volume column in the song's vocabulary.
// module_readers_internal.h lists what is repaired and what refused.
// Numbers in the file are little-endian; "pointers" are file offsets.
#include <cstdio>
#include <cstring>

#include "music/it_samples_internal.h"
#include "music/module_bytes_internal.h"
#include "music/module_readers_internal.h"

// The song header, offsets from the start of the file.
constexpr char IT_SIGNATURE[] = "IMPM";
constexpr size_t IT_SIGNATURE_BYTES = 4;
constexpr size_t IT_TITLE_OFFSET = 4;
constexpr size_t IT_TITLE_BYTES = 26;
constexpr size_t IT_ORDER_COUNT_OFFSET = 0x20;
constexpr size_t IT_INSTRUMENT_COUNT_OFFSET = 0x22;
constexpr size_t IT_SAMPLE_COUNT_OFFSET = 0x24;
constexpr size_t IT_PATTERN_COUNT_OFFSET = 0x26;
constexpr size_t IT_CREATED_WITH_OFFSET = 0x28;     // the tracker that wrote it
constexpr size_t IT_COMPATIBLE_OFFSET = 0x2A;       // the format version
constexpr size_t IT_FLAGS_OFFSET = 0x2C;
constexpr size_t IT_SPECIAL_OFFSET = 0x2E;
constexpr size_t IT_GLOBAL_VOLUME_OFFSET = 0x30;    // 0 .. 128
constexpr size_t IT_MIXING_VOLUME_OFFSET = 0x31;    // 0 .. 128
constexpr size_t IT_SPEED_OFFSET = 0x32;
constexpr size_t IT_TEMPO_OFFSET = 0x33;
constexpr size_t IT_SEPARATION_OFFSET = 0x34;       // 0 .. 128
constexpr size_t IT_MESSAGE_LENGTH_OFFSET = 0x36;
constexpr size_t IT_MESSAGE_POINTER_OFFSET = 0x38;
constexpr size_t IT_RESERVED_OFFSET = 0x3C;         // OpenMPT writes "OMPT" here
constexpr size_t IT_CHANNEL_PANNING_OFFSET = 0x40;  // 64 bytes
constexpr size_t IT_CHANNEL_VOLUME_OFFSET = 0x80;   // 64 bytes
constexpr size_t IT_ORDERS_OFFSET = 0xC0;
constexpr size_t IT_HEADER_BYTES = IT_ORDERS_OFFSET;
constexpr size_t IT_POINTER_BYTES = 4;
constexpr int IT_CHANNELS = 64;

constexpr uint32_t IT_FLAG_STEREO = 1;
constexpr uint32_t IT_FLAG_INSTRUMENTS = 4;
constexpr uint32_t IT_FLAG_LINEAR = 8;
constexpr uint32_t IT_FLAG_OLD_EFFECTS = 16;
constexpr uint32_t IT_FLAG_LINK_PORTAMENTO = 32;   // compatible Gxx
constexpr uint32_t IT_SPECIAL_MESSAGE = 1;
constexpr uint32_t IT_SPECIAL_EDIT_HISTORY = 2;
constexpr uint32_t IT_SPECIAL_MIDI_CONFIG = 8;
constexpr uint32_t IT_FORMAT_NEW_INSTRUMENTS = 0x200;  // compatible version from which
                                                       // instruments have the new layout
constexpr size_t IT_EDIT_HISTORY_ENTRY_BYTES = 8;
constexpr int IT_DEFAULT_SPEED = 6;
constexpr int IT_DEFAULT_TEMPO = 125;
constexpr int IT_MIN_TEMPO = 32;
constexpr int IT_MAX_SEPARATION = 128;
constexpr uint32_t IT_DEFAULT_C5_SPEED = 8363;

// A channel's panning byte: 0 .. 64 left to right, 100 surround (played
// centred), + 128 disabled.
constexpr uint8_t IT_CHANNEL_DISABLED = 128;
constexpr uint8_t IT_PANNING_RIGHT = 64;

// The embedded MIDI configuration: 9 global macros, then the 16 SFx and the
// 128 Zxx ones, 32 bytes of text each.
constexpr size_t IT_MACRO_BYTES = 32;
constexpr int IT_GLOBAL_MACROS = 9;
constexpr size_t IT_MIDI_CONFIG_BYTES = IT_MACRO_BYTES * (IT_GLOBAL_MACROS + SONG_MACRO_PARAMETERED + SONG_MACRO_FIXED);
// The default configuration: SF0 sets the cutoff from Zxx's parameter,
// Z80 .. Z8F the resonance 0, 8 .. 120.
constexpr int IT_DEFAULT_RESONANCE_MACROS = 16;
constexpr int IT_DEFAULT_RESONANCE_STEP = 8;
// Bytes of a macro that sets the filter: F0 F0, then 00 (cutoff) or 01
// (resonance), then the value or 'z' for the parameter.
constexpr uint8_t IT_MACRO_FILTER_BYTE = 0xF0;
constexpr uint8_t IT_MACRO_CUTOFF = 0x00;
constexpr uint8_t IT_MACRO_RESONANCE = 0x01;
constexpr int IT_MACRO_MOST_VALUE = 127;

// OpenMPT's chunks between the tables and the first part: a 4-letter
// name and a 32-bit size; plugins are "FX00" .. "FX99".
constexpr size_t IT_CHUNK_HEADER_BYTES = 8;

// Orders: 254 marks a position to skip, 255 ends the song.
constexpr uint8_t IT_ORDER_SKIP = 254;
constexpr uint8_t IT_ORDER_END = 255;

// A pattern: its packed bytes' count, its rows, 4 bytes unused, then rows
// of cells, each a channel byte (0 ends the row; channel (byte - 1) & 63;
// bit 7: a mask byte follows, else the channel's last mask counts), then
// the fields the mask names: 1 note, 2 instrument, 4 volume column, 8
// command and parameter; 16 .. 128 take the channel's last of each.
constexpr size_t IT_PATTERN_HEADER_BYTES = 8;
constexpr size_t IT_PATTERN_ROWS_OFFSET = 2;
constexpr uint16_t IT_EMPTY_PATTERN_ROWS = 64;
constexpr uint8_t IT_CELL_MASK_FOLLOWS = 128;
constexpr uint8_t IT_CELL_CHANNEL_MASK = 63;
constexpr uint8_t IT_MASK_NOTE = 1;
constexpr uint8_t IT_MASK_INSTRUMENT = 2;
constexpr uint8_t IT_MASK_VOLUME = 4;
constexpr uint8_t IT_MASK_COMMAND = 8;
constexpr uint8_t IT_MASK_LAST_NOTE = 16;
constexpr uint8_t IT_MASK_LAST_INSTRUMENT = 32;
constexpr uint8_t IT_MASK_LAST_VOLUME = 64;
constexpr uint8_t IT_MASK_LAST_COMMAND = 128;
// Notes: 0 .. 119 C-0 .. B-9, 255 note off, 254 cut, the rest note fade.
constexpr uint8_t IT_NOTES = 120;
constexpr uint8_t IT_NOTE_OFF = 255;
constexpr uint8_t IT_NOTE_CUT = 254;

// An instrument's header ("IMPI"), the fields both layouts share.
constexpr size_t IT_INSTRUMENT_BYTES = 0x226;       // every field read (the file has 554)
constexpr size_t IT_INSTRUMENT_NAME_OFFSET = 0x20;
constexpr size_t IT_INSTRUMENT_NAME_BYTES = 26;
constexpr size_t IT_INSTRUMENT_KEYBOARD_OFFSET = 0x40;  // 120 x (note, sample)
// The new layout (format 2.00 on).
constexpr size_t IT_INSTRUMENT_NNA_OFFSET = 0x11;
constexpr size_t IT_INSTRUMENT_DCT_OFFSET = 0x12;
constexpr size_t IT_INSTRUMENT_DCA_OFFSET = 0x13;
constexpr size_t IT_INSTRUMENT_FADEOUT_OFFSET = 0x14;   // 0 .. 1024 of a 1024 count
constexpr size_t IT_INSTRUMENT_PPS_OFFSET = 0x16;       // signed
constexpr size_t IT_INSTRUMENT_PPC_OFFSET = 0x17;
constexpr size_t IT_INSTRUMENT_GLOBAL_VOLUME_OFFSET = 0x18;
constexpr size_t IT_INSTRUMENT_PANNING_OFFSET = 0x19;   // bit 7: not used
constexpr size_t IT_INSTRUMENT_RANDOM_VOLUME_OFFSET = 0x1A;
constexpr size_t IT_INSTRUMENT_RANDOM_PANNING_OFFSET = 0x1B;
constexpr size_t IT_INSTRUMENT_CUTOFF_OFFSET = 0x3A;    // bit 7: set by notes
constexpr size_t IT_INSTRUMENT_RESONANCE_OFFSET = 0x3B;
constexpr size_t IT_INSTRUMENT_ENVELOPES_OFFSET = 0x130;  // volume, panning, pitch
constexpr size_t IT_ENVELOPE_BYTES = 82;
constexpr size_t IT_ENVELOPE_POINTS_OFFSET = 6;         // 25 x (value, tick)
constexpr size_t IT_ENVELOPE_POINT_BYTES = 3;
constexpr uint8_t IT_ENVELOPE_ON = 1;
constexpr uint8_t IT_ENVELOPE_LOOP = 2;
constexpr uint8_t IT_ENVELOPE_SUSTAIN_LOOP = 4;
constexpr uint8_t IT_ENVELOPE_CARRY = 8;
constexpr uint8_t IT_ENVELOPE_FILTER = 128;
constexpr uint8_t IT_INSTRUMENT_UNSET = 128;            // bit 7 of panning, cutoff, resonance
constexpr int IT_FADEOUT_SCALE = 32;                    // a 1024 count onto 32768
constexpr int IT_MOST_RANDOM_VOLUME = 100;
constexpr int IT_MOST_PITCH_PAN = 32;
// The old layout (before 2.00): one volume envelope of node points.
constexpr size_t IT_OLD_FLAGS_OFFSET = 0x11;            // on, loop, sustain loop
constexpr size_t IT_OLD_LOOP_OFFSET = 0x12;             // start, end
constexpr size_t IT_OLD_SUSTAIN_OFFSET = 0x14;          // start, end
constexpr size_t IT_OLD_FADEOUT_OFFSET = 0x18;          // 0 .. 512 of a 512 count
constexpr size_t IT_OLD_NNA_OFFSET = 0x1A;
constexpr size_t IT_OLD_DUPLICATE_OFFSET = 0x1B;        // 1: duplicate notes cut
constexpr size_t IT_OLD_NODES_OFFSET = 0x1F8;           // 25 x (tick, value)
constexpr uint8_t IT_OLD_NODES_END = 0xFF;
constexpr int IT_OLD_FADEOUT_SCALE = 64;

// A sample's header ("IMPS").
constexpr size_t IT_SAMPLE_BYTES = 0x50;
constexpr size_t IT_SAMPLE_GLOBAL_VOLUME_OFFSET = 0x11;
constexpr size_t IT_SAMPLE_FLAGS_OFFSET = 0x12;
constexpr size_t IT_SAMPLE_VOLUME_OFFSET = 0x13;
constexpr size_t IT_SAMPLE_NAME_OFFSET = 0x14;
constexpr size_t IT_SAMPLE_NAME_BYTES = 26;
constexpr size_t IT_SAMPLE_CONVERT_OFFSET = 0x2E;
constexpr size_t IT_SAMPLE_PANNING_OFFSET = 0x2F;       // bit 7: used
constexpr size_t IT_SAMPLE_LENGTH_OFFSET = 0x30;        // frames
constexpr size_t IT_SAMPLE_LOOP_OFFSET = 0x34;          // begin, end (after the loop)
constexpr size_t IT_SAMPLE_C5_SPEED_OFFSET = 0x3C;
constexpr size_t IT_SAMPLE_SUSTAIN_OFFSET = 0x40;       // begin, end
constexpr size_t IT_SAMPLE_POINTER_OFFSET = 0x48;
constexpr size_t IT_SAMPLE_VIBRATO_OFFSET = 0x4C;       // speed, depth, rate, type
constexpr uint8_t IT_SAMPLE_HAS_DATA = 1;
constexpr uint8_t IT_SAMPLE_16_BIT = 2;
constexpr uint8_t IT_SAMPLE_STEREO = 4;
constexpr uint8_t IT_SAMPLE_COMPRESSED = 8;
constexpr uint8_t IT_SAMPLE_LOOP = 16;
constexpr uint8_t IT_SAMPLE_SUSTAIN = 32;
constexpr uint8_t IT_SAMPLE_PING_PONG = 64;
constexpr uint8_t IT_SAMPLE_SUSTAIN_PING_PONG = 128;
constexpr uint8_t IT_CONVERT_SIGNED = 1;
constexpr uint8_t IT_CONVERT_BIG_ENDIAN = 2;
constexpr uint8_t IT_CONVERT_DELTA = 4;                 // compressed: 2.15's double delta
constexpr uint8_t IT_SAMPLE_PANNING_USED = 128;
constexpr int IT_MOST_VIBRATO_TYPE = 3;

struct ItReader {
    const uint8_t *bytes;
    size_t size;
    ModuleReadResult *result;
    uint32_t flags;
    uint32_t special;
    uint32_t compatible;
    int order_entries;
    int stored_instruments;
    int stored_samples;
    int stored_patterns;
    size_t instrument_pointers_at;
    size_t sample_pointers_at;
    size_t pattern_pointers_at;
    size_t tables_end;          // the first byte after the pointer tables
    int channel_count;          // the song's: the highest channel any cell uses, + 1
    size_t pattern_bytes;       // the packed bytes the song's cells take
};

int it_detect(const uint8_t *bytes, size_t size) {
    return bytes && size >= IT_SIGNATURE_BYTES && memcmp(bytes, IT_SIGNATURE, IT_SIGNATURE_BYTES) == 0;
}

// The 32-bit pointer `n` of the table at `table_at` (inside the file).
static uint32_t pointer_at(const ItReader *x, size_t table_at, int n) {
    return module_le32(x->bytes + table_at + IT_POINTER_BYTES * static_cast<size_t>(n));
}

// An IT panning 0 .. 64 on the song's 0 .. 255 (32 is 128).
static uint8_t it_panning(int pan) {
    if (pan > IT_PANNING_RIGHT) pan = IT_PANNING_RIGHT;
    return static_cast<uint8_t>((pan * 255 + IT_PANNING_RIGHT / 2) / IT_PANNING_RIGHT);
}

// ---------------------------------------------------------------------------
// Cells

// One cell as the pattern gives it, before translation.
struct ItCell {
    uint8_t mask;               // the fields given (IT_MASK_NOTE .. IT_MASK_COMMAND)
    uint8_t note, instrument, volume, command, param;
};

// Reads pattern rows: the channels' masks and last values.
struct ItPatternCursor {
    const uint8_t *data;
    size_t end;
    size_t at;
    uint8_t mask[IT_CHANNELS];
    ItCell last[IT_CHANNELS];
};

// The next row into cells[0 .. 63] (emptied first); past the data, rows
// are empty.
static void read_row(ItPatternCursor *p, ItCell *cells) {
    memset(cells, 0, sizeof(ItCell) * IT_CHANNELS);
    while (p->at < p->end) {
        const uint8_t channel_byte = p->data[p->at++];
        if (channel_byte == 0) return;
        const int ch = (channel_byte - 1) & IT_CELL_CHANNEL_MASK;
        if ((channel_byte & IT_CELL_MASK_FOLLOWS) && p->at < p->end) p->mask[ch] = p->data[p->at++];
        const uint8_t mask = p->mask[ch];
        ItCell *last = &p->last[ch];
        ItCell *cell = &cells[ch];
        if ((mask & IT_MASK_NOTE) && p->at < p->end) last->note = p->data[p->at++];
        if ((mask & IT_MASK_INSTRUMENT) && p->at < p->end) last->instrument = p->data[p->at++];
        if ((mask & IT_MASK_VOLUME) && p->at < p->end) last->volume = p->data[p->at++];
        if ((mask & IT_MASK_COMMAND) && p->end - p->at >= 2) {
            last->command = p->data[p->at];
            last->param = p->data[p->at + 1];
            p->at += 2;
        }
        if (mask & (IT_MASK_NOTE | IT_MASK_LAST_NOTE)) {
            cell->mask |= IT_MASK_NOTE;
            cell->note = last->note;
        }
        if (mask & (IT_MASK_INSTRUMENT | IT_MASK_LAST_INSTRUMENT)) {
            cell->mask |= IT_MASK_INSTRUMENT;
            cell->instrument = last->instrument;
        }
        if (mask & (IT_MASK_VOLUME | IT_MASK_LAST_VOLUME)) {
            cell->mask |= IT_MASK_VOLUME;
            cell->volume = last->volume;
        }
        if (mask & (IT_MASK_COMMAND | IT_MASK_LAST_COMMAND)) {
            cell->mask |= IT_MASK_COMMAND;
            cell->command = last->command;
            cell->param = last->param;
        }
    }
}

// The volume column byte in the song's vocabulary: 0 .. 64 volume, 65 ..
// 124 the slides a .. f by tens (x 0 .. 9), 128 .. 192 panning, 193 ..
// 202 g (tone portamento at the speed of its table), 203 .. 212 h
// (vibrato depth).
static void translate_volume(uint8_t v, SongCell *cell) {
    static const uint8_t speeds[10] = {0, 1, 4, 8, 16, 32, 64, 96, 128, 255};
    static const uint8_t slides[6] = {VOLCMD_FINE_SLIDE_UP, VOLCMD_FINE_SLIDE_DOWN, VOLCMD_SLIDE_UP,
                                      VOLCMD_SLIDE_DOWN, VOLCMD_PORTAMENTO_DOWN, VOLCMD_PORTAMENTO_UP};
    constexpr uint8_t SLIDES_FIRST = 65, SLIDES_END = 125, PANNING_FIRST = 128, PANNING_END = 193;
    constexpr uint8_t TONE_END = 203, VIBRATO_END = 213, TENS = 10;
    uint8_t command = VOLCMD_NONE, param = 0;
    if (v <= SONG_MAX_VOLUME) {
        command = VOLCMD_SET_VOLUME;
        param = v;
    } else if (v >= SLIDES_FIRST && v < SLIDES_END) {
        command = slides[(v - SLIDES_FIRST) / TENS];
        param = static_cast<uint8_t>((v - SLIDES_FIRST) % TENS);
    } else if (v >= PANNING_FIRST && v < PANNING_END) {
        command = VOLCMD_PANNING;
        param = it_panning(v - PANNING_FIRST);
    } else if (v >= PANNING_END && v < TONE_END) {
        command = VOLCMD_TONE_PORTAMENTO_SPEED;
        param = speeds[v - PANNING_END];
    } else if (v >= TONE_END && v < VIBRATO_END) {
        command = VOLCMD_VIBRATO;
        param = static_cast<uint8_t>(v - TONE_END);
    }
    cell->volume_command = command;
    cell->volume_param = param;
}

// The S commands by their x; y is the parameter. S0 (filter) and S2
// (finetune) do nothing in Impulse Tracker; S9 and S7 are checked below.
static const uint8_t IT_S_COMMANDS[16] = {
    CMD_NONE, CMD_GLISSANDO, CMD_IGNORED, CMD_VIBRATO_WAVEFORM,
    CMD_TREMOLO_WAVEFORM, CMD_PANBRELLO_WAVEFORM, CMD_FINE_PATTERN_DELAY, CMD_INSTRUMENT_CONTROL,
    CMD_SET_PANNING_COARSE, CMD_SURROUND, CMD_HIGH_OFFSET, CMD_PATTERN_LOOP,
    CMD_NOTE_CUT, CMD_NOTE_DELAY, CMD_PATTERN_DELAY, CMD_SET_ACTIVE_MACRO};
constexpr uint8_t IT_LAST_INSTRUMENT_CONTROL = SONG_PITCH_ENVELOPE_ON;

// The command letter (1 .. 26 for A .. Z) and its parameter in the song's
// vocabulary. Letters Impulse Tracker does not play are no command.
static void translate_command(uint8_t letter, uint8_t param, SongCell *cell) {
    uint8_t command = CMD_NONE;
    const uint8_t x = param >> 4, y = param & 0x0F;
    constexpr uint8_t TEMPO_SLIDES_END = 0x20;
    switch (letter + 'A' - 1) {
        case 'A': command = param != 0 ? CMD_SET_SPEED : CMD_NONE; break;  // Axx
        case 'B': command = CMD_POSITION_JUMP; break;                       // Bxx
        case 'C': command = CMD_PATTERN_BREAK; break;                       // Cxx: the row, hex
        // D, E, F (and N, W) keep their parameter whole: DxF, DFy, EFx,
        // EEx ... are told apart when played, so that a recalled 00 keeps
        // its kind.
        case 'D': command = CMD_VOLUME_SLIDE; break;                        // Dxy
        case 'E': command = CMD_PORTAMENTO_DOWN; break;                     // Exx
        case 'F': command = CMD_PORTAMENTO_UP; break;                       // Fxx
        case 'G': command = CMD_TONE_PORTAMENTO; break;                     // Gxx
        case 'H': command = CMD_VIBRATO; break;                             // Hxy
        case 'I': command = CMD_TREMOR; break;                              // Ixy
        case 'J': command = CMD_ARPEGGIO; break;                            // Jxy (00 recalls)
        case 'K': command = CMD_VIBRATO_VOLUME_SLIDE; break;                // Kxy
        case 'L': command = CMD_TONE_PORTAMENTO_VOLUME_SLIDE; break;        // Lxy
        case 'M': command = param <= SONG_MAX_VOLUME ? CMD_SET_CHANNEL_VOLUME : CMD_NONE; break;  // Mxx
        case 'N': command = CMD_CHANNEL_VOLUME_SLIDE; break;                // Nxy
        case 'O': command = CMD_SAMPLE_OFFSET; break;                       // Oxx
        case 'P': command = CMD_PANNING_SLIDE; break;                       // Pxy
        case 'Q': command = CMD_MULTI_RETRIGGER; break;                     // Qxy
        case 'R': command = CMD_TREMOLO; break;                             // Rxy
        case 'S':                                                           // Sxy
            command = IT_S_COMMANDS[x];
            if (command == CMD_SURROUND && y > 1) command = CMD_NONE;  // S9y's others: OpenMPT's
            if (command == CMD_INSTRUMENT_CONTROL && y > IT_LAST_INSTRUMENT_CONTROL) command = CMD_NONE;
            param = y;
            break;
        case 'T': command = param < TEMPO_SLIDES_END ? CMD_TEMPO_SLIDE : CMD_SET_TEMPO; break;  // Txx
        case 'U': command = CMD_FINE_VIBRATO; break;                        // Uxy
        case 'V': command = param <= SONG_MAX_WIDE_VOLUME ? CMD_SET_GLOBAL_VOLUME : CMD_NONE; break;  // Vxx
        case 'W': command = CMD_GLOBAL_VOLUME_SLIDE; break;                 // Wxy
        case 'X': command = CMD_SET_PANNING; break;                         // Xxx: 0 .. 255
        case 'Y': command = CMD_PANBRELLO; break;                           // Yxy
        case 'Z': command = CMD_MIDI_MACRO; break;                          // Zxx
        default: break;
    }
    cell->command = command;
    cell->param = command == CMD_NONE ? 0 : param;
}

// A cell as the song holds it.
static SongCell translate_cell(const ItReader *x, int channel, const ItCell &in) {
    SongCell cell = {};
    if (in.mask & IT_MASK_NOTE) {
        const uint8_t n = in.note;
        if (n < IT_NOTES) cell.note = static_cast<uint8_t>(n + 1);
        else if (n == IT_NOTE_OFF) cell.note = SONG_NOTE_KEY_OFF;
        else if (n == IT_NOTE_CUT) cell.note = SONG_NOTE_CUT;
        else cell.note = SONG_NOTE_FADE;
    }
    if (in.mask & IT_MASK_INSTRUMENT) cell.instrument = in.instrument <= SONG_MAX_INSTRUMENTS ? in.instrument : 0;
    if (in.mask & IT_MASK_VOLUME) translate_volume(in.volume, &cell);
    if (in.mask & IT_MASK_COMMAND) translate_command(in.command, in.param, &cell);
    if (x->bytes[IT_CHANNEL_PANNING_OFFSET + channel] & IT_CHANNEL_DISABLED) {
        // Only the song-wide commands are left of a disabled channel's cell.
        const SongCell kept = cell;
        cell = SongCell{};
        if (module_cell_steers_song(&kept)) {
            cell.command = kept.command;
            cell.param = kept.param;
        }
    }
    return cell;
}

// ---------------------------------------------------------------------------
// Patterns

// Where pattern p's packed data lies: false (with *rows 64, no data) for a
// pattern the file leaves empty, 0 returned when refused.
static int pattern_span(ItReader *x, int p, ItPatternCursor *cursor, uint16_t *rows) {
    memset(cursor, 0, sizeof *cursor);
    *rows = IT_EMPTY_PATTERN_ROWS;
    const uint64_t at = p < x->stored_patterns ? pointer_at(x, x->pattern_pointers_at, p) : 0;
    if (at == 0) return 1;
    if (at + IT_PATTERN_HEADER_BYTES > x->size)
        return module_read_truncated(x->result, MODULE_PART_PATTERN, p, at + IT_PATTERN_HEADER_BYTES);
    const uint32_t count = module_le16(x->bytes + at + IT_PATTERN_ROWS_OFFSET);
    if (count < 1 || count > SONG_MAX_ROWS) return module_read_refuse(x->result, MODULE_READ_ROWS, count, p);
    *rows = static_cast<uint16_t>(count);
    // The data is read no further than its stated length and the file's end.
    const uint64_t data_at = at + IT_PATTERN_HEADER_BYTES;
    uint64_t end = data_at + module_le16(x->bytes + at);
    if (end > x->size) end = x->size;
    cursor->data = x->bytes + data_at;
    cursor->end = static_cast<size_t>(end - data_at);
    return 1;
}

// Pass one over the patterns: the rows each has and the highest channel any
// cell uses. Returns 0 when refused.
static int scan_patterns(ItReader *x, int pattern_count, uint16_t *rows) {
    ItPatternCursor cursor;
    ItCell cells[IT_CHANNELS];
    x->channel_count = 1;
    for (int p = 0; p < pattern_count; p++) {
        if (!pattern_span(x, p, &cursor, &rows[p])) return 0;
        for (int row = 0; row < rows[p] && cursor.at < cursor.end; row++) {
            read_row(&cursor, cells);
            for (int ch = x->channel_count; ch < IT_CHANNELS; ch++)
                if (cells[ch].mask) x->channel_count = ch + 1;
        }
    }
    return 1;
}

// Reads every pattern's rows; with song null only counts the bytes their
// packed cells take (x->pattern_bytes) and the highest instrument a cell
// names, else adds the rows to the song.
static int read_patterns(ItReader *x, Song *song, int pattern_count, const uint16_t *rows, int *highest) {
    ItPatternCursor cursor;
    ItCell raw[IT_CHANNELS];
    SongCell cells[SONG_MAX_CHANNELS];
    uint16_t ignored;
    x->pattern_bytes = 0;
    for (int p = 0; p < pattern_count; p++) {
        pattern_span(x, p, &cursor, &ignored);  // passed scan_patterns already
        for (int row = 0; row < rows[p]; row++) {
            read_row(&cursor, raw);
            for (int ch = 0; ch < x->channel_count; ch++) {
                cells[ch] = translate_cell(x, ch, raw[ch]);
                x->pattern_bytes += song_packed_cell_bytes(&cells[ch]);
                if (cells[ch].instrument > *highest) *highest = cells[ch].instrument;
            }
            if (song && !song_put_row(song, cells)) return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
        }
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Instruments

// An envelope of the new layout at `e` (82 bytes): `center` is added to
// each value (32 for the signed panning and pitch ones). Points are kept
// while their ticks increase; a loop or sustain loop naming an absent point,
// or ending before it starts, is dropped.
static void read_envelope(const uint8_t *e, int center, bool pitch, SongEnvelope *out) {
    *out = SongEnvelope{};
    const int count = e[1] < SONG_ENVELOPE_POINTS ? e[1] : SONG_ENVELOPE_POINTS;
    int kept = 0;
    for (int k = 0; k < count; k++) {
        const uint8_t *point = e + IT_ENVELOPE_POINTS_OFFSET + IT_ENVELOPE_POINT_BYTES * static_cast<size_t>(k);
        const uint32_t tick = module_le16(point + 1);
        if (kept > 0 && tick <= out->points[kept - 1].tick) break;
        int value = (center ? static_cast<int8_t>(point[0]) : point[0]) + center;
        value = value < 0 ? 0 : value > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : value;
        out->points[kept].tick = static_cast<uint16_t>(tick);
        out->points[kept].value = static_cast<uint8_t>(value);
        kept++;
    }
    out->count = static_cast<uint8_t>(kept);
    if (kept == 0) return;
    const uint8_t flags = e[0];
    if (flags & IT_ENVELOPE_ON) out->flags |= SONG_ENVELOPE_ON;
    if (flags & IT_ENVELOPE_CARRY) out->flags |= SONG_ENVELOPE_CARRY;
    if (pitch && (flags & IT_ENVELOPE_FILTER)) out->flags |= SONG_ENVELOPE_FILTER;
    const uint8_t loop_start = e[2], loop_end = e[3], sustain_start = e[4], sustain_end = e[5];
    if ((flags & IT_ENVELOPE_LOOP) && loop_start <= loop_end && loop_end < kept) {
        out->flags |= SONG_ENVELOPE_LOOP;
        out->loop_start = loop_start;
        out->loop_end = loop_end;
    }
    if ((flags & IT_ENVELOPE_SUSTAIN_LOOP) && sustain_start <= sustain_end && sustain_end < kept) {
        out->flags |= SONG_ENVELOPE_SUSTAIN | SONG_ENVELOPE_SUSTAIN_LOOP;
        out->sustain = sustain_start;
        out->sustain_end = sustain_end;
    }
}

// The old layout's volume envelope: its node points (tick, value) up to a
// tick of 255, with the loop and sustain loop of its flags.
static void read_old_envelope(const uint8_t *h, SongEnvelope *out) {
    // The nodes as the new layout's points (value, tick), then read as one.
    uint8_t e[IT_ENVELOPE_BYTES] = {};
    int count = 0;
    while (count < SONG_ENVELOPE_POINTS && h[IT_OLD_NODES_OFFSET + 2 * count] != IT_OLD_NODES_END) {
        uint8_t *point = e + IT_ENVELOPE_POINTS_OFFSET + IT_ENVELOPE_POINT_BYTES * static_cast<size_t>(count);
        point[0] = h[IT_OLD_NODES_OFFSET + 2 * count + 1];
        point[1] = h[IT_OLD_NODES_OFFSET + 2 * count];
        count++;
    }
    e[0] = h[IT_OLD_FLAGS_OFFSET] & (IT_ENVELOPE_ON | IT_ENVELOPE_LOOP | IT_ENVELOPE_SUSTAIN_LOOP);
    e[1] = static_cast<uint8_t>(count);
    e[2] = h[IT_OLD_LOOP_OFFSET];
    e[3] = h[IT_OLD_LOOP_OFFSET + 1];
    e[4] = h[IT_OLD_SUSTAIN_OFFSET];
    e[5] = h[IT_OLD_SUSTAIN_OFFSET + 1];
    read_envelope(e, 0, false, out);
}

// The note map: for each note, the note it plays and the sample (0 none,
// or one the file does not hold).
static void read_keyboard(const uint8_t *h, int sample_count, SongInstrument *out) {
    for (int n = 0; n < SONG_NOTES; n++) {
        const uint8_t note = h[IT_INSTRUMENT_KEYBOARD_OFFSET + 2 * n];
        const uint8_t sample = h[IT_INSTRUMENT_KEYBOARD_OFFSET + 2 * n + 1];
        out->note_notes[n] = note < IT_NOTES && note != n ? static_cast<uint8_t>(note + 1) : 0;
        out->note_samples[n] = sample <= sample_count ? sample : 0;
    }
}

static uint16_t scaled_fadeout(uint32_t fadeout, int scale) {
    const uint32_t scaled = fadeout * static_cast<uint32_t>(scale);
    return static_cast<uint16_t>(scaled > 32768 ? 32768 : scaled);
}

// Instrument n's header when the file holds it whole, else null (a
// pointer of 0 is an empty instrument, not a cut one).
static const uint8_t *instrument_header(const ItReader *x, int n) {
    const uint64_t at = pointer_at(x, x->instrument_pointers_at, n);
    if (at == 0 || at + IT_INSTRUMENT_BYTES > x->size) return nullptr;
    return x->bytes + at;
}

static void read_instrument(const ItReader *x, const uint8_t *h, int sample_count, SongInstrument *out) {
    module_copy_name(out->name, h + IT_INSTRUMENT_NAME_OFFSET, IT_INSTRUMENT_NAME_BYTES);
    read_keyboard(h, sample_count, out);
    out->filter_cutoff = SONG_FILTER_UNSET;
    out->filter_resonance = SONG_FILTER_UNSET;
    out->pitch_pan_center = 1;
    if (x->compatible < IT_FORMAT_NEW_INSTRUMENTS) {
        read_old_envelope(h, &out->volume_envelope);
        out->fadeout = scaled_fadeout(module_le16(h + IT_OLD_FADEOUT_OFFSET), IT_OLD_FADEOUT_SCALE);
        const uint8_t nna = h[IT_OLD_NNA_OFFSET];
        out->new_note_action = nna < SONG_NNA_COUNT ? nna : static_cast<uint8_t>(SONG_NNA_CUT);
        if (h[IT_OLD_DUPLICATE_OFFSET] == 1) out->duplicate_check = SONG_DUPLICATE_NOTE;
        out->global_volume = SONG_MAX_WIDE_VOLUME;
        return;
    }
    const uint8_t *envelopes = h + IT_INSTRUMENT_ENVELOPES_OFFSET;
    read_envelope(envelopes, 0, false, &out->volume_envelope);
    read_envelope(envelopes + IT_ENVELOPE_BYTES, SONG_ENVELOPE_CENTER, false, &out->panning_envelope);
    read_envelope(envelopes + 2 * IT_ENVELOPE_BYTES, SONG_ENVELOPE_CENTER, true, &out->pitch_envelope);
    out->fadeout = scaled_fadeout(module_le16(h + IT_INSTRUMENT_FADEOUT_OFFSET), IT_FADEOUT_SCALE);
    const uint8_t nna = h[IT_INSTRUMENT_NNA_OFFSET], dct = h[IT_INSTRUMENT_DCT_OFFSET];
    const uint8_t dca = h[IT_INSTRUMENT_DCA_OFFSET];
    out->new_note_action = nna < SONG_NNA_COUNT ? nna : static_cast<uint8_t>(SONG_NNA_CUT);
    out->duplicate_check = dct < SONG_DUPLICATE_COUNT ? dct : static_cast<uint8_t>(SONG_DUPLICATE_OFF);
    // The duplicate action counts cut, note off, fade: the new-note actions
    // without "continue".
    out->duplicate_action = dca == 1 ? SONG_NNA_NOTE_OFF : dca == 2 ? SONG_NNA_NOTE_FADE : SONG_NNA_CUT;
    const int pps = static_cast<int8_t>(h[IT_INSTRUMENT_PPS_OFFSET]);
    out->pitch_pan_separation = static_cast<int8_t>(pps < -IT_MOST_PITCH_PAN ? -IT_MOST_PITCH_PAN
                                                    : pps > IT_MOST_PITCH_PAN ? IT_MOST_PITCH_PAN : pps);
    const uint8_t ppc = h[IT_INSTRUMENT_PPC_OFFSET];
    out->pitch_pan_center = static_cast<uint8_t>(ppc < IT_NOTES ? ppc + 1 : 1);
    const uint8_t volume = h[IT_INSTRUMENT_GLOBAL_VOLUME_OFFSET];
    out->global_volume = volume > SONG_MAX_WIDE_VOLUME ? SONG_MAX_WIDE_VOLUME : volume;
    const uint8_t pan = h[IT_INSTRUMENT_PANNING_OFFSET];
    if (!(pan & IT_INSTRUMENT_UNSET)) {
        out->panning = it_panning(pan);
        out->has_panning = 1;
    }
    const uint8_t rv = h[IT_INSTRUMENT_RANDOM_VOLUME_OFFSET], rp = h[IT_INSTRUMENT_RANDOM_PANNING_OFFSET];
    out->random_volume = rv > IT_MOST_RANDOM_VOLUME ? IT_MOST_RANDOM_VOLUME : rv;
    out->random_panning = rp > IT_PANNING_RIGHT ? IT_PANNING_RIGHT : rp;
    const uint8_t cutoff = h[IT_INSTRUMENT_CUTOFF_OFFSET], resonance = h[IT_INSTRUMENT_RESONANCE_OFFSET];
    if (cutoff & IT_INSTRUMENT_UNSET) out->filter_cutoff = cutoff & static_cast<uint8_t>(~IT_INSTRUMENT_UNSET);
    if (resonance & IT_INSTRUMENT_UNSET) out->filter_resonance = resonance & static_cast<uint8_t>(~IT_INSTRUMENT_UNSET);
}

// ---------------------------------------------------------------------------
// Samples

// A sample as the file stores it.
struct ItSampleSpan {
    const uint8_t *header;      // null: the file does not hold the header
    size_t data_at;
    uint32_t declared;          // frames the header says
    uint32_t frames;            // frames room is made for (what the file can hold)
    uint8_t bits;
    bool stereo;
    bool compressed;
};

static ItSampleSpan sample_span(const ItReader *x, int n) {
    ItSampleSpan span = {};
    span.bits = 8;
    const uint64_t at = pointer_at(x, x->sample_pointers_at, n);
    if (at == 0 || at + IT_SAMPLE_BYTES > x->size) return span;
    span.header = x->bytes + at;
    const uint8_t flags = span.header[IT_SAMPLE_FLAGS_OFFSET];
    if (!(flags & IT_SAMPLE_HAS_DATA)) return span;
    span.bits = (flags & IT_SAMPLE_16_BIT) ? 16 : 8;
    span.stereo = (flags & IT_SAMPLE_STEREO) != 0;
    span.compressed = (flags & IT_SAMPLE_COMPRESSED) != 0;
    span.declared = module_le32(span.header + IT_SAMPLE_LENGTH_OFFSET);
    const uint64_t data_at = module_le32(span.header + IT_SAMPLE_POINTER_OFFSET);
    span.data_at = data_at < x->size ? static_cast<size_t>(data_at) : x->size;
    const size_t held = x->size - span.data_at;
    // Compressed data can spend as little as a bit a frame; plain data
    // spends the frame's bytes (a stereo sample's left half first).
    const uint64_t most = span.compressed ? it_compressed_frames_bound(held) : held / (span.bits / 8);
    span.frames = most < span.declared ? static_cast<uint32_t>(most) : span.declared;
    return span;
}

// Decodes a sample's halves into `out` (room for its frames, twice for
// stereo); returns the frames the file held of its left half.
static uint32_t decode_sample(const ItReader *x, const ItSampleSpan &span, uint8_t *out) {
    const uint8_t convert = span.header[IT_SAMPLE_CONVERT_OFFSET];
    const uint8_t *data = x->bytes + span.data_at;
    const size_t held = x->size - span.data_at;
    const size_t unit = span.bits / 8;
    uint8_t *right = out + static_cast<size_t>(span.frames) * unit;
    if (span.compressed) {
        const bool double_delta = (convert & IT_CONVERT_DELTA) != 0;
        size_t used = 0;
        const uint32_t left = it_decompress(data, held, span.bits, double_delta, out, span.frames, &used);
        if (span.stereo) it_decompress(data + used, held - used, span.bits, double_delta, right, span.frames, nullptr);
        return left;
    }
    const ItPlainCoding coding = {span.bits, (convert & IT_CONVERT_SIGNED) != 0, (convert & IT_CONVERT_BIG_ENDIAN) != 0,
                                  (convert & IT_CONVERT_DELTA) != 0};
    it_decode_plain(data, coding, out, span.frames);
    if (span.stereo) {
        // The right half follows the declared left half, as far as the file holds it.
        const uint64_t right_at = static_cast<uint64_t>(span.declared) * unit;
        const uint64_t right_held = right_at < held ? (held - right_at) / unit : 0;
        const uint32_t frames = right_held < span.frames ? static_cast<uint32_t>(right_held) : span.frames;
        it_decode_plain(data + right_at, coding, right, frames);
    }
    return span.frames;
}

// A loop of the header's (begin, end after it) at `at` with `on` and
// `ping_pong` flags, inside `frames`: one starting at or past the end is
// dropped, one reaching past it cut.
static void read_loop(const uint8_t *at, bool on, bool ping_pong, uint32_t frames, uint8_t *kind, uint32_t *start,
                      uint32_t *length) {
    const uint32_t begin = module_le32(at), end = module_le32(at + 4);
    if (!on || end <= begin || begin >= frames) return;
    *start = begin;
    *length = (end < frames ? end : frames) - begin;
    *kind = ping_pong ? SONG_LOOP_PING_PONG : SONG_LOOP_FORWARD;
}

static void read_sample(const ItReader *x, const ItSampleSpan &span, uint8_t *block, size_t *used, SongSample *out) {
    out->bits = span.bits;
    out->global_volume = SONG_MAX_VOLUME;
    if (!span.header) return;
    const uint8_t *h = span.header;
    module_copy_name(out->name, h + IT_SAMPLE_NAME_OFFSET, IT_SAMPLE_NAME_BYTES);
    const uint8_t gv = h[IT_SAMPLE_GLOBAL_VOLUME_OFFSET], volume = h[IT_SAMPLE_VOLUME_OFFSET];
    out->global_volume = gv > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : gv;
    out->volume = volume > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : volume;
    const uint8_t pan = h[IT_SAMPLE_PANNING_OFFSET];
    if (pan & IT_SAMPLE_PANNING_USED) {
        out->panning = it_panning(pan & static_cast<uint8_t>(~IT_SAMPLE_PANNING_USED));
        out->has_panning = 1;
    }
    const uint32_t c5 = module_le32(h + IT_SAMPLE_C5_SPEED_OFFSET);
    out->c2spd = c5 != 0 ? c5 : IT_DEFAULT_C5_SPEED;
    const uint8_t *vibrato = h + IT_SAMPLE_VIBRATO_OFFSET;
    out->autovibrato_speed = vibrato[0] > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : vibrato[0];
    out->autovibrato_depth = vibrato[1] > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : vibrato[1];
    out->autovibrato_rate = vibrato[2];
    out->autovibrato_type = vibrato[3] <= IT_MOST_VIBRATO_TYPE ? vibrato[3] : 0;
    if (span.frames == 0) {
        if (span.declared > 0) x->result->cut_samples++;
        return;
    }
    const size_t unit = span.bits / 8;
    if (span.bits == 16 && (*used & 1)) (*used)++;
    uint8_t *data = block + *used;
    uint32_t frames = decode_sample(x, span, data);
    if (frames < span.declared) x->result->cut_samples++;
    if (span.stereo && frames < span.frames) {
        // The right half moves up to follow the shorter left one.
        memmove(data + frames * unit, data + static_cast<size_t>(span.frames) * unit, frames * unit);
    }
    *used += static_cast<size_t>(span.frames) * unit * (span.stereo ? 2 : 1);
    out->data = data;
    out->length = frames;
    out->stereo = span.stereo ? 1 : 0;
    const uint8_t flags = h[IT_SAMPLE_FLAGS_OFFSET];
    read_loop(h + IT_SAMPLE_LOOP_OFFSET, flags & IT_SAMPLE_LOOP, flags & IT_SAMPLE_PING_PONG, frames, &out->loop,
              &out->loop_start, &out->loop_length);
    read_loop(h + IT_SAMPLE_SUSTAIN_OFFSET, flags & IT_SAMPLE_SUSTAIN, flags & IT_SAMPLE_SUSTAIN_PING_PONG, frames,
              &out->sustain_loop, &out->sustain_start, &out->sustain_length);
}

// The samples and the instruments into the song: in sample mode one
// instrument a sample, mapping every note to it.
static int read_instruments(ItReader *x, Song *song, int instrument_count) {
    const bool instruments = (x->flags & IT_FLAG_INSTRUMENTS) != 0;
    if (!song_alloc_instruments(song, instrument_count, x->stored_samples))
        return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
    size_t data_bytes = 0;
    for (int n = 0; n < x->stored_samples; n++) {
        const ItSampleSpan span = sample_span(x, n);
        if (!span.header && pointer_at(x, x->sample_pointers_at, n) != 0) x->result->cut_samples++;
        data_bytes += static_cast<size_t>(span.frames) * (span.bits / 8) * (span.stereo ? 2 : 1) + 1;
    }
    uint8_t *block = static_cast<uint8_t *>(song_alloc_sample_data(song, data_bytes));
    if (!block) return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
    size_t used = 0;
    for (int n = 0; n < x->stored_samples; n++) read_sample(x, sample_span(x, n), block, &used, &song->samples[n]);
    for (int n = 0; n < instrument_count; n++) {
        SongInstrument *in = &song->instruments[n];
        in->global_volume = SONG_MAX_WIDE_VOLUME;
        in->filter_cutoff = SONG_FILTER_UNSET;
        in->filter_resonance = SONG_FILTER_UNSET;
        in->pitch_pan_center = 1;
        if (!instruments) {
            if (n >= x->stored_samples) continue;
            memcpy(in->name, song->samples[n].name, sizeof in->name);
            for (uint16_t &entry : in->note_samples) entry = static_cast<uint16_t>(n + 1);
            continue;
        }
        if (n >= x->stored_instruments) continue;
        const uint8_t *h = instrument_header(x, n);
        if (h) read_instrument(x, h, x->stored_samples, in);
        else if (pointer_at(x, x->instrument_pointers_at, n) != 0) x->result->cut_instruments++;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// The message, the macros and OpenMPT's chunks

// The song message: its bytes up to a NUL or the file's end, carriage
// returns as line ends.
static int read_message(const ItReader *x, Song *song) {
    if (!(x->special & IT_SPECIAL_MESSAGE)) return 1;
    const uint64_t at = module_le32(x->bytes + IT_MESSAGE_POINTER_OFFSET);
    size_t length = module_le16(x->bytes + IT_MESSAGE_LENGTH_OFFSET);
    if (at >= x->size) return 1;
    if (length > x->size - at) length = x->size - static_cast<size_t>(at);
    const uint8_t *text = x->bytes + at;
    size_t n = 0;
    while (n < length && text[n] != 0) n++;
    if (n == 0) return 1;
    char *message = song_alloc_message(song, n + 1);
    if (!message) return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
    for (size_t i = 0; i < n; i++) message[i] = text[i] == '\r' ? '\n' : static_cast<char>(text[i]);
    return 1;
}

static int hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A macro's text (32 bytes, up to a NUL): the filter settings it makes, as
// bytes of two hex digits each, 'z' the parameter; anything else is none.
static SongMacro parse_macro(const uint8_t *text) {
    constexpr int MOST_BYTES = 4;
    int bytes[MOST_BYTES];
    int count = 0, high = -1;
    for (size_t i = 0; i < IT_MACRO_BYTES && text[i] != 0 && count < MOST_BYTES; i++) {
        const uint8_t c = text[i];
        if (c == ' ') continue;
        if (c == 'z' || c == 'Z') {
            if (high >= 0) return SongMacro{};
            bytes[count++] = SONG_MACRO_VALUE_PARAMETER;
            continue;
        }
        const int digit = hex_digit(c);
        if (digit < 0) return SongMacro{};
        if (high < 0) {
            high = digit;
        } else {
            bytes[count++] = high << 4 | digit;
            high = -1;
        }
    }
    if (count < MOST_BYTES || bytes[0] != IT_MACRO_FILTER_BYTE || bytes[1] != IT_MACRO_FILTER_BYTE) return SongMacro{};
    if (bytes[2] != IT_MACRO_CUTOFF && bytes[2] != IT_MACRO_RESONANCE) return SongMacro{};
    const int value = bytes[3];
    if (value != SONG_MACRO_VALUE_PARAMETER && value > IT_MACRO_MOST_VALUE) return SongMacro{};
    return SongMacro{static_cast<uint8_t>(bytes[2] == IT_MACRO_CUTOFF ? SONG_MACRO_CUTOFF : SONG_MACRO_RESONANCE),
                     static_cast<uint8_t>(value)};
}

// The macros: the file's embedded configuration when it has one, else
// Impulse Tracker's default. Returns where what follows them begins.
static size_t read_macros(const ItReader *x, size_t at, Song *song) {
    const bool embedded = (x->special & IT_SPECIAL_MIDI_CONFIG) && at <= x->size &&
                          x->size - at >= IT_MIDI_CONFIG_BYTES;
    if (!embedded) {
        song->macros[0] = SongMacro{SONG_MACRO_CUTOFF, SONG_MACRO_VALUE_PARAMETER};
        for (int n = 0; n < IT_DEFAULT_RESONANCE_MACROS; n++)
            song->macros[SONG_MACRO_PARAMETERED + n] =
                SongMacro{SONG_MACRO_RESONANCE, static_cast<uint8_t>(n * IT_DEFAULT_RESONANCE_STEP)};
        return at;
    }
    const uint8_t *macros = x->bytes + at + IT_GLOBAL_MACROS * IT_MACRO_BYTES;
    for (int n = 0; n < SONG_MACRO_PARAMETERED + SONG_MACRO_FIXED; n++)
        song->macros[n] = parse_macro(macros + static_cast<size_t>(n) * IT_MACRO_BYTES);
    return at + IT_MIDI_CONFIG_BYTES;
}

// Counts OpenMPT's plugin chunks ("FX00" .. "FX99") among the chunks that
// may follow the tables, up to the first that is not a chunk.
static int count_plugins(const ItReader *x, size_t at) {
    int plugins = 0;
    while (at <= x->size && x->size - at >= IT_CHUNK_HEADER_BYTES) {
        const uint8_t *id = x->bytes + at;
        for (int i = 0; i < 4; i++)
            if (id[i] < '0' || id[i] > 'Z') return plugins;
        if (id[0] == 'F' && id[1] == 'X' && hex_digit(id[2]) >= 0 && hex_digit(id[3]) >= 0) plugins++;
        const uint64_t next = static_cast<uint64_t>(at) + IT_CHUNK_HEADER_BYTES + module_le32(id + 4);
        if (next > x->size) return plugins;
        at = static_cast<size_t>(next);
    }
    return plugins;
}

// ---------------------------------------------------------------------------
// The song

// "IT x.yy" (the format version) and the tracker that wrote it.
static void format_name(const ItReader *x, char *out, size_t out_bytes) {
    constexpr uint32_t IMPULSE_LAST = 0x0215, MODPLUG_VERSION = 0x0217, SCHISM = 0x1, OPENMPT = 0x5;
    constexpr uint32_t OPENMPT_OLD = 0x0888;
    const uint32_t created = module_le16(x->bytes + IT_CREATED_WITH_OFFSET);
    const uint32_t format = x->compatible;
    const bool ompt = memcmp(x->bytes + IT_RESERVED_OFFSET, "OMPT", 4) == 0;
    char tracker[28];
    if (ompt || created >> 12 == OPENMPT || created == OPENMPT_OLD)
        snprintf(tracker, sizeof tracker, "OpenMPT");
    else if (created >> 12 == SCHISM)
        snprintf(tracker, sizeof tracker, "Schism Tracker");
    else if (created > IMPULSE_LAST && created <= MODPLUG_VERSION)
        snprintf(tracker, sizeof tracker, "ModPlug Tracker");
    else if (created >> 12 == 0)
        snprintf(tracker, sizeof tracker, "Impulse Tracker %x.%02x", (created >> 8) & 0x0F, created & 0xFF);
    else
        snprintf(tracker, sizeof tracker, "an unknown tracker");
    snprintf(out, out_bytes, "IT %x.%02x, %s", (format >> 8) & 0x0F, format & 0xFF, tracker);
}

// The header's counts and the position of the pointer tables: 0 when refused.
static int read_header(ItReader *x) {
    ModuleReadResult *r = x->result;
    const uint8_t *b = x->bytes;
    x->order_entries = static_cast<int>(module_le16(b + IT_ORDER_COUNT_OFFSET));
    x->stored_instruments = static_cast<int>(module_le16(b + IT_INSTRUMENT_COUNT_OFFSET));
    x->stored_samples = static_cast<int>(module_le16(b + IT_SAMPLE_COUNT_OFFSET));
    x->stored_patterns = static_cast<int>(module_le16(b + IT_PATTERN_COUNT_OFFSET));
    x->compatible = module_le16(b + IT_COMPATIBLE_OFFSET);
    x->flags = module_le16(b + IT_FLAGS_OFFSET);
    x->special = module_le16(b + IT_SPECIAL_OFFSET);
    const bool instruments = (x->flags & IT_FLAG_INSTRUMENTS) != 0;
    if (x->order_entries > SONG_MAX_ORDERS) return module_read_refuse(r, MODULE_READ_ORDERS, x->order_entries, 0);
    if (x->stored_patterns > SONG_MAX_PATTERNS) return module_read_refuse(r, MODULE_READ_PATTERNS, x->stored_patterns, 0);
    if (instruments && x->stored_instruments > SONG_MAX_INSTRUMENTS)
        return module_read_refuse(r, MODULE_READ_INSTRUMENTS, x->stored_instruments, 0);
    if (x->stored_samples > (instruments ? SONG_MAX_SAMPLES : SONG_MAX_INSTRUMENTS))
        return module_read_refuse(r, MODULE_READ_SAMPLE_COUNT, x->stored_samples, 0);
    x->instrument_pointers_at = IT_ORDERS_OFFSET + static_cast<size_t>(x->order_entries);
    x->sample_pointers_at = x->instrument_pointers_at + IT_POINTER_BYTES * static_cast<size_t>(x->stored_instruments);
    x->pattern_pointers_at = x->sample_pointers_at + IT_POINTER_BYTES * static_cast<size_t>(x->stored_samples);
    x->tables_end = x->pattern_pointers_at + IT_POINTER_BYTES * static_cast<size_t>(x->stored_patterns);
    if (x->tables_end > x->size) return module_read_truncated(r, MODULE_PART_ORDERS, 0, x->tables_end);
    if (!instruments) x->stored_instruments = 0;
    return 1;
}

// The orders without the skip markers, up to the first end marker; an order
// naming a pattern the file does not store plays the empty one added after
// them (*add_empty). Returns the positions kept.
static int read_orders(const ItReader *x, Song *song, bool *add_empty) {
    int count = 0;
    for (int i = 0; i < x->order_entries; i++) {
        int pattern = x->bytes[IT_ORDERS_OFFSET + i];
        if (pattern == IT_ORDER_END) break;
        if (pattern == IT_ORDER_SKIP) continue;
        if (pattern >= x->stored_patterns) {
            pattern = x->stored_patterns;
            *add_empty = true;
        }
        song->orders[count++] = static_cast<uint8_t>(pattern);
    }
    return count;
}

// Speed, tempo, volumes, panning and the flags' rules.
static void read_playback(const ItReader *x, Song *song) {
    const uint8_t *b = x->bytes;
    song->frequency_mode = (x->flags & IT_FLAG_LINEAR) ? SONG_FREQUENCY_LINEAR : SONG_FREQUENCY_AMIGA;
    song->quirks = SONG_QUIRK_LAYERED_VOLUMES | SONG_QUIRK_JUMP_AND_BREAK_COMBINE | SONG_QUIRK_SLIDE_KIND_IN_PARAMETER |
                   SONG_QUIRK_C5_SPEED | SONG_QUIRK_IT_ENVELOPES | SONG_QUIRK_COMMAND_MEMORIES |
                   SONG_QUIRK_SAMPLE_AUTOVIBRATO | SONG_QUIRK_PANNING_SLIDE_KINDS | SONG_QUIRK_LOOP_STARTS_AFTER;
    if (x->flags & IT_FLAG_OLD_EFFECTS) song->quirks |= SONG_QUIRK_OFFSET_PAST_END_SILENT;
    else song->quirks |= SONG_QUIRK_VIBRATO_EVERY_TICK | SONG_QUIRK_OFFSET_PAST_END_IGNORED | SONG_QUIRK_TREMOR_EXACT_TICKS;
    if (x->flags & IT_FLAG_LINK_PORTAMENTO) song->quirks |= SONG_QUIRK_LINKED_PORTAMENTO_MEMORY;
    const uint8_t speed = b[IT_SPEED_OFFSET], tempo = b[IT_TEMPO_OFFSET];
    song->initial_speed = static_cast<uint8_t>(speed == 0 ? IT_DEFAULT_SPEED : speed);
    song->initial_tempo = static_cast<uint8_t>(tempo >= IT_MIN_TEMPO ? tempo : IT_DEFAULT_TEMPO);
    const uint8_t global = b[IT_GLOBAL_VOLUME_OFFSET], mixing = b[IT_MIXING_VOLUME_OFFSET];
    song->initial_global_volume = global > SONG_MAX_WIDE_VOLUME ? SONG_MAX_WIDE_VOLUME : global;
    song->mixing_volume = mixing > SONG_MAX_WIDE_VOLUME ? SONG_MAX_WIDE_VOLUME : mixing;
    const uint8_t separation = b[IT_SEPARATION_OFFSET];
    song->panning_separation = (x->flags & IT_FLAG_STEREO) ? (separation > IT_MAX_SEPARATION ? IT_MAX_SEPARATION : separation) : 0;
    for (int ch = 0; ch < song->channel_count; ch++) {
        const uint8_t pan = b[IT_CHANNEL_PANNING_OFFSET + ch] & static_cast<uint8_t>(~IT_CHANNEL_DISABLED);
        // Surround (100) and anything off the scale play centred.
        song->channel_panning[ch] = pan <= IT_PANNING_RIGHT ? it_panning(pan) : SONG_PANNING_CENTER;
        const uint8_t volume = b[IT_CHANNEL_VOLUME_OFFSET + ch];
        song->channel_volume[ch] = volume > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : volume;
    }
}

int it_read(const uint8_t *bytes, size_t size, Song *song, ModuleReadResult *result) {
    if (!result) return 0;
    *result = ModuleReadResult{};
    result->size_bytes = static_cast<long>(size);
    if (!bytes || size == 0 || !song) return module_read_refuse(result, MODULE_READ_EMPTY, 0, 0);
    result->format = SONG_FORMAT_IT;
    if (!it_detect(bytes, size)) {
        // Another tracker's format is named, not taken for a broken file.
        result->unsupported = module_unsupported_format(bytes, size);
        if (result->unsupported) result->format = SONG_FORMAT_NONE;
        return module_read_refuse(result, result->unsupported ? MODULE_READ_UNSUPPORTED : MODULE_READ_NOT_FORMAT, 0, 0);
    }
    if (size < IT_HEADER_BYTES) return module_read_truncated(result, MODULE_PART_HEADER, 0, IT_HEADER_BYTES);
    ItReader reader = {};
    ItReader *x = &reader;
    x->bytes = bytes;
    x->size = size;
    x->result = result;
    if (!read_header(x)) return 0;

    bool add_empty = false;
    const int order_count = read_orders(x, song, &add_empty);
    if (order_count == 0) return module_read_refuse(result, MODULE_READ_ORDERS, 0, 0);
    const int pattern_count = x->stored_patterns + (add_empty ? 1 : 0);
    if (pattern_count == 0) return module_read_refuse(result, MODULE_READ_ORDERS, 0, 0);
    uint16_t rows[SONG_MAX_PATTERNS + 1];
    if (!scan_patterns(x, pattern_count, rows)) return 0;

    song->format = SONG_FORMAT_IT;
    module_copy_name(song->title, bytes + IT_TITLE_OFFSET, IT_TITLE_BYTES);
    format_name(x, song->format_name, sizeof song->format_name);
    song->channel_count = static_cast<uint8_t>(x->channel_count);
    song->order_count = static_cast<uint16_t>(order_count);
    song->restart = 0;
    int highest = 0;
    read_patterns(x, nullptr, pattern_count, rows, &highest);
    if (!song_alloc_patterns(song, pattern_count, rows, x->pattern_bytes))
        return module_read_refuse(result, MODULE_READ_NO_MEMORY, 0, 0);
    if (!read_patterns(x, song, pattern_count, rows, &highest)) return 0;
    if (!song_finish_patterns(song)) return module_read_refuse(result, MODULE_READ_NO_MEMORY, 0, 0);

    const int stored = (x->flags & IT_FLAG_INSTRUMENTS) ? x->stored_instruments : x->stored_samples;
    if (!read_instruments(x, song, highest > stored ? highest : stored)) return 0;
    if (!read_message(x, song)) return 0;
    size_t after_tables = x->tables_end;
    if (x->special & IT_SPECIAL_EDIT_HISTORY) {
        // A count, then 8 bytes an entry; a count past the file's end is none.
        constexpr size_t COUNT_BYTES = 2;
        if (size - after_tables >= COUNT_BYTES) {
            const uint64_t entries = module_le16(bytes + after_tables);
            const uint64_t end = after_tables + COUNT_BYTES + entries * IT_EDIT_HISTORY_ENTRY_BYTES;
            after_tables = end <= size ? static_cast<size_t>(end) : after_tables + COUNT_BYTES;
        }
    }
    result->skipped_plugins = count_plugins(x, read_macros(x, after_tables, song));
    read_playback(x, song);
    return 1;
}

