// The XM reader: a FastTracker II extended module (version 1.04) turned
// into a Song: the header, the packed patterns, the instruments with their
// envelopes and delta-coded samples, and the effects and the volume column
// in the song's vocabulary. module_readers_internal.h lists what is repaired and
// what refused. Numbers in the file are little-endian.
#include <cstdio>
#include <cstring>

#include "music/module_bytes_internal.h"
#include "music/module_readers_internal.h"

// The song header, offsets from the start of the file.
constexpr char XM_SIGNATURE[] = "Extended Module: ";
constexpr size_t XM_SIGNATURE_BYTES = 17;
constexpr size_t XM_TITLE_OFFSET = 17;
constexpr size_t XM_TITLE_BYTES = 20;
constexpr size_t XM_TRACKER_OFFSET = 38;
constexpr size_t XM_TRACKER_BYTES = 20;
constexpr size_t XM_VERSION_OFFSET = 58;
constexpr size_t XM_HEADER_SIZE_OFFSET = 60;   // the header's size counts from here
constexpr size_t XM_SONG_LENGTH_OFFSET = 64;
constexpr size_t XM_RESTART_OFFSET = 66;
constexpr size_t XM_CHANNELS_OFFSET = 68;
constexpr size_t XM_PATTERNS_OFFSET = 70;
constexpr size_t XM_INSTRUMENTS_OFFSET = 72;
constexpr size_t XM_FLAGS_OFFSET = 74;
constexpr size_t XM_SPEED_OFFSET = 76;
constexpr size_t XM_TEMPO_OFFSET = 78;
constexpr size_t XM_ORDERS_OFFSET = 80;
constexpr size_t XM_HEADER_BYTES = XM_ORDERS_OFFSET + 256;  // with the whole order table
constexpr uint32_t XM_VERSION = 0x0104;
constexpr uint32_t XM_FLAG_LINEAR = 1;
constexpr int XM_DEFAULT_SPEED = 6;
constexpr int XM_DEFAULT_TEMPO = 125;
constexpr int XM_MIN_TEMPO = 32;
constexpr int XM_MAX_TEMPO = 255;

// A pattern's header, offsets from its first byte.
constexpr size_t XM_PATTERN_HEADER_BYTES = 9;
constexpr size_t XM_PATTERN_ROWS_OFFSET = 5;
constexpr size_t XM_PATTERN_PACKED_SIZE_OFFSET = 7;
constexpr uint16_t XM_ABSENT_PATTERN_ROWS = 64;

// A packed cell: a byte with bit 7 set says which fields follow (bits 0 ..
// 4: note, instrument, volume, effect, parameter); any other byte is a
// note followed by the other four.
constexpr uint8_t XM_PACKED = 0x80;
constexpr uint8_t XM_PACKED_NOTE = 1;
constexpr uint8_t XM_PACKED_INSTRUMENT = 2;
constexpr uint8_t XM_PACKED_VOLUME = 4;
constexpr uint8_t XM_PACKED_EFFECT = 8;
constexpr uint8_t XM_PACKED_PARAM = 16;
constexpr uint8_t XM_NOTE_KEY_OFF = 97;
constexpr int XM_NOTES = 96;                    // C-0 .. B-7
constexpr int XM_MAX_CHANNELS = 32;
constexpr int XM_ENVELOPE_POINTS = 12;

// Effects after F are letters: G is 16, H 17 and so on to X, 33.
constexpr uint8_t xm_letter(char letter) { return static_cast<uint8_t>(16 + (letter - 'G')); }

// An instrument's header, offsets from its first byte (its size field).
constexpr size_t XM_INSTRUMENT_NAME_OFFSET = 4;
constexpr size_t XM_INSTRUMENT_NAME_BYTES = 22;
constexpr size_t XM_INSTRUMENT_SAMPLES_OFFSET = 27;
constexpr size_t XM_INSTRUMENT_SAMPLE_HEADER_SIZE_OFFSET = 29;
constexpr size_t XM_INSTRUMENT_SAMPLE_MAP_OFFSET = 33;        // 96 bytes
constexpr size_t XM_INSTRUMENT_VOLUME_POINTS_OFFSET = 129;    // 12 x (tick, value)
constexpr size_t XM_INSTRUMENT_PANNING_POINTS_OFFSET = 177;
constexpr size_t XM_INSTRUMENT_VOLUME_COUNT_OFFSET = 225;
constexpr size_t XM_INSTRUMENT_PANNING_COUNT_OFFSET = 226;
constexpr size_t XM_INSTRUMENT_VOLUME_SUSTAIN_OFFSET = 227;   // then loop start, loop end
constexpr size_t XM_INSTRUMENT_PANNING_SUSTAIN_OFFSET = 230;
constexpr size_t XM_INSTRUMENT_VOLUME_TYPE_OFFSET = 233;
constexpr size_t XM_INSTRUMENT_PANNING_TYPE_OFFSET = 234;
constexpr size_t XM_INSTRUMENT_VIBRATO_OFFSET = 235;          // type, sweep, depth, rate
constexpr size_t XM_INSTRUMENT_FADEOUT_OFFSET = 239;
constexpr size_t XM_INSTRUMENT_FIELDS_BYTES = 243;            // every field read
constexpr size_t XM_ENVELOPE_POINT_BYTES = 4;

// A sample's header, offsets from its first byte.
constexpr size_t XM_SAMPLE_HEADER_BYTES = 40;
constexpr size_t XM_SAMPLE_LENGTH_OFFSET = 0;                 // bytes
constexpr size_t XM_SAMPLE_LOOP_START_OFFSET = 4;             // bytes
constexpr size_t XM_SAMPLE_LOOP_LENGTH_OFFSET = 8;            // bytes
constexpr size_t XM_SAMPLE_VOLUME_OFFSET = 12;
constexpr size_t XM_SAMPLE_FINETUNE_OFFSET = 13;              // signed
constexpr size_t XM_SAMPLE_TYPE_OFFSET = 14;
constexpr size_t XM_SAMPLE_PANNING_OFFSET = 15;
constexpr size_t XM_SAMPLE_RELATIVE_NOTE_OFFSET = 16;         // signed
constexpr size_t XM_SAMPLE_PACKING_OFFSET = 17;
constexpr size_t XM_SAMPLE_NAME_OFFSET = 18;
constexpr size_t XM_SAMPLE_NAME_BYTES = 22;
constexpr uint8_t XM_SAMPLE_LOOP_MASK = 3;      // 0 none, 1 forward, 2 (and 3) ping-pong
constexpr uint8_t XM_SAMPLE_16_BIT = 0x10;
// ModPlug's 4-bit ADPCM: 16 signed deltas, then two deltas' indices a
// byte, the low nibble first.
constexpr uint8_t XM_SAMPLE_PACKING_ADPCM = 0xAD;
constexpr size_t XM_ADPCM_TABLE_BYTES = 16;

// Where each stored pattern's packed cells lie (pass one finds them).
struct XmPattern {
    size_t data_at;
    size_t packed_bytes;
    uint16_t rows;
};

// Where each instrument whose headers the file holds whole lies.
struct XmInstrument {
    size_t at;                  // its first byte
    size_t header_bytes;        // its size field
    size_t sample_headers_at;
    size_t sample_header_stride;
    int sample_count;           // 0 .. 16
};

struct XmReader {
    const uint8_t *bytes;
    size_t size;
    ModuleReadResult *result;
    int channels;
    int stored_patterns;
    int stored_instruments;
    int read_instruments;       // those whose headers are whole
    size_t instruments_at;
    XmPattern patterns[SONG_MAX_PATTERNS];
    XmInstrument instruments[SONG_MAX_INSTRUMENTS];
};

int xm_detect(const uint8_t *bytes, size_t size) {
    return bytes && size >= XM_SIGNATURE_BYTES && memcmp(bytes, XM_SIGNATURE, XM_SIGNATURE_BYTES) == 0;
}

// The volume column byte in the song's vocabulary.
static void translate_volume(uint8_t v, SongCell *cell) {
    static const uint8_t by_high_nibble[16] = {
        VOLCMD_NONE, VOLCMD_NONE, VOLCMD_NONE, VOLCMD_NONE, VOLCMD_NONE, VOLCMD_NONE,
        VOLCMD_SLIDE_DOWN, VOLCMD_SLIDE_UP, VOLCMD_FINE_SLIDE_DOWN, VOLCMD_FINE_SLIDE_UP,
        VOLCMD_VIBRATO_SPEED, VOLCMD_VIBRATO, VOLCMD_SET_PANNING, VOLCMD_PANNING_SLIDE_LEFT,
        VOLCMD_PANNING_SLIDE_RIGHT, VOLCMD_TONE_PORTAMENTO};
    if (v >= 0x10 && v <= 0x50) {                   // 10 .. 50: set volume 0 .. 64
        cell->volume_command = VOLCMD_SET_VOLUME;
        cell->volume_param = static_cast<uint8_t>(v - 0x10);
        return;
    }
    cell->volume_command = by_high_nibble[v >> 4];  // 51 .. 5F do nothing
    cell->volume_param = cell->volume_command ? static_cast<uint8_t>(v & 0x0F) : 0;
}

// The E commands by their x; y is the parameter. E0 (Amiga filter), E8
// and EF do nothing in FastTracker II.
static const uint8_t XM_E_COMMANDS[16] = {
    CMD_NONE, CMD_FINE_PORTAMENTO_UP, CMD_FINE_PORTAMENTO_DOWN, CMD_GLISSANDO,
    CMD_VIBRATO_WAVEFORM, CMD_SET_FINETUNE, CMD_PATTERN_LOOP, CMD_TREMOLO_WAVEFORM,
    CMD_NONE, CMD_RETRIGGER, CMD_FINE_VOLUME_UP, CMD_FINE_VOLUME_DOWN,
    CMD_NOTE_CUT, CMD_NOTE_DELAY, CMD_PATTERN_DELAY, CMD_NONE};

// The effect (0 .. 35, the letters after F counting on from 16) and its
// parameter in the song's vocabulary. Letters FastTracker II does not play
// are no command.
static void translate_effect(uint8_t effect, uint8_t param, SongCell *cell) {
    uint8_t command = CMD_NONE;
    const uint8_t x = param >> 4, y = param & 0x0F;
    switch (effect) {
        case 0x0: command = param ? CMD_ARPEGGIO : CMD_NONE; break;         // 0xy
        case 0x1: command = CMD_PORTAMENTO_UP; break;                       // 1xx
        case 0x2: command = CMD_PORTAMENTO_DOWN; break;                     // 2xx
        case 0x3: command = CMD_TONE_PORTAMENTO; break;                     // 3xx
        case 0x4: command = CMD_VIBRATO; break;                             // 4xy
        case 0x5: command = CMD_TONE_PORTAMENTO_VOLUME_SLIDE; break;        // 5xy
        case 0x6: command = CMD_VIBRATO_VOLUME_SLIDE; break;                // 6xy
        case 0x7: command = CMD_TREMOLO; break;                             // 7xy
        case 0x8: command = CMD_SET_PANNING; break;                         // 8xx
        case 0x9: command = CMD_SAMPLE_OFFSET; break;                       // 9xx
        case 0xA: command = CMD_VOLUME_SLIDE; break;                        // Axy
        case 0xB: command = CMD_POSITION_JUMP; break;                       // Bxx
        case 0xC:                                                           // Cxx, 64 at most
            command = CMD_SET_VOLUME;
            if (param > SONG_MAX_VOLUME) param = SONG_MAX_VOLUME;
            break;
        case 0xD:                                                           // Dxy: row x x 10 + y
            command = CMD_PATTERN_BREAK;
            param = static_cast<uint8_t>(x * 10 + y);
            break;
        case 0xE:                                                           // Exy
            command = XM_E_COMMANDS[x];
            param = y;
            break;
        case 0xF: command = param < 32 ? CMD_SET_SPEED : CMD_SET_TEMPO; break;  // Fxx
        case xm_letter('G'):                                                // Gxx, 64 at most
            command = CMD_SET_GLOBAL_VOLUME;
            if (param > SONG_MAX_VOLUME) param = SONG_MAX_VOLUME;
            break;
        case xm_letter('H'): command = CMD_GLOBAL_VOLUME_SLIDE; break;      // Hxy
        case xm_letter('K'): command = CMD_KEY_OFF; break;                  // Kxx
        case xm_letter('L'): command = CMD_SET_ENVELOPE_POSITION; break;    // Lxx
        case xm_letter('P'): command = CMD_PANNING_SLIDE; break;            // Pxy
        case xm_letter('R'): command = CMD_MULTI_RETRIGGER; break;          // Rxy
        case xm_letter('T'): command = CMD_TREMOR; break;                   // Txy
        case xm_letter('X'):                                                // X1y, X2y
            command = x == 1 ? CMD_EXTRA_FINE_PORTAMENTO_UP
                    : x == 2 ? CMD_EXTRA_FINE_PORTAMENTO_DOWN : CMD_NONE;
            param = y;
            break;
        default: break;
    }
    cell->command = command;
    cell->param = command == CMD_NONE ? 0 : param;
}

// Reads one packed cell from data[*at .. end) into `cell`, translated;
// fields the data ends before are 0.
static void read_cell(const uint8_t *data, size_t end, size_t *at, SongCell *cell) {
    *cell = SongCell{};
    if (*at >= end) return;
    const uint8_t first = data[(*at)++];
    uint8_t fields = XM_PACKED_NOTE | XM_PACKED_INSTRUMENT | XM_PACKED_VOLUME | XM_PACKED_EFFECT |
                     XM_PACKED_PARAM;
    uint8_t note = first;
    if (first & XM_PACKED) {
        fields = first;
        note = 0;
        if ((fields & XM_PACKED_NOTE) && *at < end) note = data[(*at)++];
    }
    uint8_t instrument = 0, volume = 0, effect = 0, param = 0;
    if ((fields & XM_PACKED_INSTRUMENT) && *at < end) instrument = data[(*at)++];
    if ((fields & XM_PACKED_VOLUME) && *at < end) volume = data[(*at)++];
    if ((fields & XM_PACKED_EFFECT) && *at < end) effect = data[(*at)++];
    if ((fields & XM_PACKED_PARAM) && *at < end) param = data[(*at)++];
    // 1 .. 96 are notes, 97 key off; FastTracker II writes nothing higher.
    cell->note = note <= XM_NOTES ? note : note == XM_NOTE_KEY_OFF ? SONG_NOTE_KEY_OFF : 0;
    cell->instrument = instrument <= SONG_MAX_INSTRUMENTS ? instrument : 0;
    translate_volume(volume, cell);
    translate_effect(effect, param, cell);
}

// Pass one over the patterns: where each one's cells are, its rows, and
// where the instruments begin. Returns 0 when refused.
static int find_patterns(XmReader *x, size_t *packed_total) {
    ModuleReadResult *r = x->result;
    size_t at = XM_HEADER_SIZE_OFFSET + static_cast<size_t>(module_le32(x->bytes + XM_HEADER_SIZE_OFFSET));
    // A header size past the file's end wraps nothing: size_t holds 4 GiB + 60.
    *packed_total = 0;
    for (int p = 0; p < x->stored_patterns; p++) {
        if (at > x->size || x->size - at < XM_PATTERN_HEADER_BYTES)
            return module_read_truncated(r, MODULE_PART_PATTERN, p, static_cast<uint64_t>(at) + XM_PATTERN_HEADER_BYTES);
        const uint8_t *header = x->bytes + at;
        const uint32_t header_bytes = module_le32(header);
        const uint32_t rows = module_le16(header + XM_PATTERN_ROWS_OFFSET);
        const uint32_t packed = module_le16(header + XM_PATTERN_PACKED_SIZE_OFFSET);
        if (rows < 1 || rows > SONG_MAX_ROWS) return module_read_refuse(r, MODULE_READ_ROWS, static_cast<long>(rows), p);
        const uint64_t data_at = static_cast<uint64_t>(at) +
                                 (header_bytes > XM_PATTERN_HEADER_BYTES ? header_bytes : XM_PATTERN_HEADER_BYTES);
        const uint64_t end = data_at + packed;
        if (end > x->size) return module_read_truncated(r, MODULE_PART_PATTERN, p, end);
        x->patterns[p] = {static_cast<size_t>(data_at), packed, static_cast<uint16_t>(rows)};
        *packed_total += packed;
        at = static_cast<size_t>(end);
    }
    x->instruments_at = at;
    return 1;
}

// Pass two: every row of every stored pattern into the song, then the
// empty pattern for absent ones when the orders name any. Notes the
// highest instrument number a cell names.
static int read_patterns(XmReader *x, Song *song, size_t packed_total, bool add_empty, int *highest) {
    uint16_t rows[SONG_MAX_PATTERNS];
    for (int p = 0; p < x->stored_patterns; p++) rows[p] = x->patterns[p].rows;
    const int count = x->stored_patterns + (add_empty ? 1 : 0);
    if (add_empty) rows[x->stored_patterns] = XM_ABSENT_PATTERN_ROWS;
    // Each field a file byte gives packs into at most 2 bytes, the cell's
    // channel and field bytes into 2 more: within 2 x the file's bytes.
    if (!song_alloc_patterns(song, count, rows, 2 * packed_total)) return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
    SongCell cells[SONG_MAX_CHANNELS];
    *highest = 0;
    for (int p = 0; p < count; p++) {
        const bool stored = p < x->stored_patterns;
        const uint8_t *data = stored ? x->bytes + x->patterns[p].data_at : nullptr;
        const size_t end = stored ? x->patterns[p].packed_bytes : 0;
        size_t at = 0;
        for (int row = 0; row < rows[p]; row++) {
            for (int ch = 0; ch < x->channels; ch++) {
                read_cell(data, end, &at, &cells[ch]);
                if (cells[ch].instrument > *highest) *highest = cells[ch].instrument;
            }
            if (!song_put_row(song, cells)) return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
        }
    }
    if (!song_finish_patterns(song)) return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
    return 1;
}

// The bytes a sample spends in the file and the frames they decode into,
// as far as the file holds them from `at`.
struct XmSampleSpan {
    uint64_t stored_bytes;      // what the header says it spends
    uint32_t frames;            // what the file holds, decoded
    uint32_t declared_frames;
    uint8_t bits;
    bool adpcm;
};

static XmSampleSpan sample_span(const uint8_t *header, size_t at, size_t size) {
    XmSampleSpan s = {};
    const uint32_t length = module_le32(header + XM_SAMPLE_LENGTH_OFFSET);
    s.bits = (header[XM_SAMPLE_TYPE_OFFSET] & XM_SAMPLE_16_BIT) ? 16 : 8;
    s.adpcm = s.bits == 8 && header[XM_SAMPLE_PACKING_OFFSET] == XM_SAMPLE_PACKING_ADPCM;
    s.stored_bytes = s.adpcm ? XM_ADPCM_TABLE_BYTES + (static_cast<uint64_t>(length) + 1) / 2 : length;
    s.declared_frames = s.bits == 16 ? length / 2 : length;
    const uint64_t held = at < size ? size - at : 0;
    const uint64_t bytes = held < s.stored_bytes ? held : s.stored_bytes;
    uint64_t frames;
    if (s.adpcm) frames = bytes > XM_ADPCM_TABLE_BYTES ? (bytes - XM_ADPCM_TABLE_BYTES) * 2 : 0;
    else frames = s.bits == 16 ? bytes / 2 : bytes;
    s.frames = frames < s.declared_frames ? static_cast<uint32_t>(frames) : s.declared_frames;
    return s;
}

// Pass one over the instruments: where each one whose headers the file
// holds whole lies, how many samples they have and the bytes their decoded
// data takes (with a byte each for aligning 16-bit data). Instruments past
// the first one the file cuts are left out. Returns 0 when refused.
static int find_instruments(XmReader *x, int *sample_total, size_t *data_bytes) {
    size_t at = x->instruments_at;
    *sample_total = 0;
    *data_bytes = 0;
    x->read_instruments = 0;
    for (int i = 0; i < x->stored_instruments; i++) {
        if (at > x->size || x->size - at < 4) break;
        const uint8_t *header = x->bytes + at;
        const uint32_t header_bytes = module_le32(header);
        if (header_bytes > x->size - at) break;
        int samples = 0;
        if (header_bytes >= XM_INSTRUMENT_SAMPLES_OFFSET + 2) samples = static_cast<int>(module_le16(header + XM_INSTRUMENT_SAMPLES_OFFSET));
        if (samples > SONG_MAX_INSTRUMENT_SAMPLES) return module_read_refuse(x->result, MODULE_READ_SAMPLES, samples, i + 1);
        uint64_t stride = XM_SAMPLE_HEADER_BYTES;
        if (header_bytes >= XM_INSTRUMENT_SAMPLE_HEADER_SIZE_OFFSET + 4) {
            const uint32_t stated = module_le32(header + XM_INSTRUMENT_SAMPLE_HEADER_SIZE_OFFSET);
            if (stated > XM_SAMPLE_HEADER_BYTES) stride = stated;
        }
        // A size field below 4 would not even cover itself.
        const uint64_t headers_at = static_cast<uint64_t>(at) + (header_bytes > 4 ? header_bytes : 4);
        uint64_t data_at = headers_at + static_cast<uint64_t>(samples) * stride;
        if (data_at > x->size) break;
        x->instruments[i] = {at, header_bytes, static_cast<size_t>(headers_at), static_cast<size_t>(stride), samples};
        for (int s = 0; s < samples; s++) {
            const uint8_t *sample = x->bytes + headers_at + static_cast<uint64_t>(s) * stride;
            const XmSampleSpan span = sample_span(sample, static_cast<size_t>(data_at < x->size ? data_at : x->size), x->size);
            *data_bytes += static_cast<size_t>(span.frames) * (span.bits / 8) + 1;
            data_at += span.stored_bytes;
        }
        *sample_total += samples;
        x->read_instruments = i + 1;
        // Sample data cut by the file's end leaves `at` past it: the loop ends.
        at = data_at < x->size ? static_cast<size_t>(data_at) : x->size + 1;
    }
    x->result->cut_instruments = x->stored_instruments - x->read_instruments;
    return 1;
}

// An envelope from its 12 points (tick, value: 16 bits each), point count,
// sustain, loop points and type, keeping the points while their ticks
// increase and dropping a sustain or loop that names an absent point.
static void read_envelope(const uint8_t *points, int count, const uint8_t *sustain_loop, uint8_t type,
                          SongEnvelope *e) {
    int kept = 0;
    for (int k = 0; k < count && k < XM_ENVELOPE_POINTS; k++) {
        const uint32_t tick = module_le16(points + XM_ENVELOPE_POINT_BYTES * k);
        const uint32_t value = module_le16(points + XM_ENVELOPE_POINT_BYTES * k + 2);
        if (kept > 0 && tick <= e->points[kept - 1].tick) break;
        e->points[kept].tick = static_cast<uint16_t>(tick);
        e->points[kept].value = static_cast<uint8_t>(value > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : value);
        kept++;
    }
    e->count = static_cast<uint8_t>(kept);
    uint8_t flags = type & (SONG_ENVELOPE_ON | SONG_ENVELOPE_SUSTAIN | SONG_ENVELOPE_LOOP);
    if (kept == 0) flags = 0;
    const uint8_t sustain = sustain_loop[0], loop_start = sustain_loop[1], loop_end = sustain_loop[2];
    if (sustain >= kept) flags &= static_cast<uint8_t>(~SONG_ENVELOPE_SUSTAIN);
    if (loop_start > loop_end || loop_end >= kept) flags &= static_cast<uint8_t>(~SONG_ENVELOPE_LOOP);
    e->sustain = (flags & SONG_ENVELOPE_SUSTAIN) ? sustain : 0;
    e->loop_start = (flags & SONG_ENVELOPE_LOOP) ? loop_start : 0;
    e->loop_end = (flags & SONG_ENVELOPE_LOOP) ? loop_end : 0;
    e->flags = flags;
}

static void read_instrument_fields(const XmInstrument *in, const uint8_t *bytes, int first_sample,
                                   SongInstrument *out) {
    // Fields past the header's stated size read as 0.
    uint8_t h[XM_INSTRUMENT_FIELDS_BYTES] = {};
    memcpy(h, bytes + in->at, in->header_bytes < sizeof h ? in->header_bytes : sizeof h);
    module_copy_name(out->name, h + XM_INSTRUMENT_NAME_OFFSET, XM_INSTRUMENT_NAME_BYTES);
    for (int n = 0; n < XM_NOTES; n++) {
        const int s = h[XM_INSTRUMENT_SAMPLE_MAP_OFFSET + n];
        out->note_samples[n] = static_cast<uint16_t>(s < in->sample_count ? first_sample + s + 1 : 0);
    }
    read_envelope(h + XM_INSTRUMENT_VOLUME_POINTS_OFFSET, h[XM_INSTRUMENT_VOLUME_COUNT_OFFSET],
                  h + XM_INSTRUMENT_VOLUME_SUSTAIN_OFFSET, h[XM_INSTRUMENT_VOLUME_TYPE_OFFSET],
                  &out->volume_envelope);
    read_envelope(h + XM_INSTRUMENT_PANNING_POINTS_OFFSET, h[XM_INSTRUMENT_PANNING_COUNT_OFFSET],
                  h + XM_INSTRUMENT_PANNING_SUSTAIN_OFFSET, h[XM_INSTRUMENT_PANNING_TYPE_OFFSET],
                  &out->panning_envelope);
    const uint8_t *vibrato = h + XM_INSTRUMENT_VIBRATO_OFFSET;
    out->vibrato_type = vibrato[0] <= 3 ? vibrato[0] : 0;
    out->vibrato_sweep = vibrato[1];
    out->vibrato_depth = vibrato[2] <= 15 ? vibrato[2] : 15;
    out->vibrato_rate = vibrato[3] <= 63 ? vibrato[3] : 63;
    out->fadeout = static_cast<uint16_t>(module_le16(h + XM_INSTRUMENT_FADEOUT_OFFSET));
}

// Decodes `frames` frames of the sample stored at `src` into `out`.
static void decode_sample(const uint8_t *src, const XmSampleSpan &span, void *out) {
    if (span.bits == 16) {
        int16_t *to = static_cast<int16_t *>(out);
        uint16_t value = 0;
        for (uint32_t i = 0; i < span.frames; i++) {
            value = static_cast<uint16_t>(value + module_le16(src + 2 * i));
            to[i] = static_cast<int16_t>(value);
        }
        return;
    }
    int8_t *to = static_cast<int8_t *>(out);
    uint8_t value = 0;
    if (span.adpcm) {
        const uint8_t *table = src;
        const uint8_t *nibbles = src + XM_ADPCM_TABLE_BYTES;
        for (uint32_t i = 0; i < span.frames; i++) {
            const uint8_t byte = nibbles[i / 2];
            value = static_cast<uint8_t>(value + table[(i & 1) ? byte >> 4 : byte & 0x0F]);
            to[i] = static_cast<int8_t>(value);
        }
        return;
    }
    for (uint32_t i = 0; i < span.frames; i++) {
        value = static_cast<uint8_t>(value + src[i]);
        to[i] = static_cast<int8_t>(value);
    }
}

// One sample's header and data into `out`, its data decoded at `block` +
// *used (aligned for 16-bit data).
static void read_sample(const uint8_t *header, const uint8_t *bytes, size_t data_at, size_t size,
                        uint8_t *block, size_t *used, SongSample *out, ModuleReadResult *r) {
    const XmSampleSpan span = sample_span(header, data_at, size);
    module_copy_name(out->name, header + XM_SAMPLE_NAME_OFFSET, XM_SAMPLE_NAME_BYTES);
    out->bits = span.bits;
    out->length = span.frames;
    if (span.frames < span.declared_frames) r->cut_samples++;
    if (span.frames > 0) {
        if (span.bits == 16 && (*used & 1)) (*used)++;
        out->data = block + *used;
        decode_sample(bytes + data_at, span, block + *used);
        *used += static_cast<size_t>(span.frames) * (span.bits / 8);
    }
    const uint32_t unit = span.bits / 8;
    uint32_t loop_start = module_le32(header + XM_SAMPLE_LOOP_START_OFFSET) / unit;
    uint32_t loop_length = module_le32(header + XM_SAMPLE_LOOP_LENGTH_OFFSET) / unit;
    const uint8_t kind = header[XM_SAMPLE_TYPE_OFFSET] & XM_SAMPLE_LOOP_MASK;
    // A loop starting at or past the end is dropped; one reaching past it is cut.
    if (kind == 0 || loop_length == 0 || loop_start >= span.frames) {
        loop_start = 0;
        loop_length = 0;
    } else if (loop_length > span.frames - loop_start) {
        loop_length = span.frames - loop_start;
    }
    out->loop_start = loop_start;
    out->loop_length = loop_length;
    out->loop = loop_length == 0 ? SONG_LOOP_NONE : kind == 1 ? SONG_LOOP_FORWARD : SONG_LOOP_PING_PONG;
    const uint8_t volume = header[XM_SAMPLE_VOLUME_OFFSET];
    out->volume = volume > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : volume;
    out->finetune = static_cast<int8_t>(header[XM_SAMPLE_FINETUNE_OFFSET]);
    out->relative_note = static_cast<int8_t>(header[XM_SAMPLE_RELATIVE_NOTE_OFFSET]);
    out->panning = header[XM_SAMPLE_PANNING_OFFSET];
    out->has_panning = 1;
    out->c2spd = 0;
}

// Pass two over the instruments: every one into the song, with its
// samples decoded into the song's one block.
static int read_instruments(XmReader *x, Song *song, int instrument_count, int sample_total, size_t data_bytes) {
    if (!song_alloc_instruments(song, instrument_count, sample_total)) return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
    uint8_t *block = nullptr;
    if (data_bytes > 0) {
        block = static_cast<uint8_t *>(song_alloc_sample_data(song, data_bytes));
        if (!block) return module_read_refuse(x->result, MODULE_READ_NO_MEMORY, 0, 0);
    }
    size_t used = 0;
    int first_sample = 0;
    for (int i = 0; i < x->read_instruments; i++) {
        const XmInstrument *in = &x->instruments[i];
        read_instrument_fields(in, x->bytes, first_sample, &song->instruments[i]);
        size_t data_at = in->sample_headers_at + static_cast<size_t>(in->sample_count) * in->sample_header_stride;
        for (int s = 0; s < in->sample_count; s++) {
            const uint8_t *header = x->bytes + in->sample_headers_at + static_cast<size_t>(s) * in->sample_header_stride;
            read_sample(header, x->bytes, data_at, x->size, block, &used, &song->samples[first_sample + s], x->result);
            const uint64_t next = static_cast<uint64_t>(data_at) + sample_span(header, data_at, x->size).stored_bytes;
            data_at = next < x->size ? static_cast<size_t>(next) : x->size;
        }
        first_sample += in->sample_count;
    }
    return 1;
}

// "XM 1.04, " and the tracker's name, its unprintable bytes as '?'.
static void format_name(const uint8_t *tracker, char *out, size_t out_bytes) {
    char name[XM_TRACKER_BYTES + 1];
    size_t n = 0;
    for (size_t i = 0; i < XM_TRACKER_BYTES && tracker[i]; i++)
        name[n++] = (tracker[i] >= 0x20 && tracker[i] < 0x7f) ? static_cast<char>(tracker[i]) : '?';
    while (n > 0 && name[n - 1] == ' ') n--;
    name[n] = '\0';
    if (n > 0) snprintf(out, out_bytes, "XM 1.04, %s", name);
    else snprintf(out, out_bytes, "XM 1.04");
}

int xm_read(const uint8_t *bytes, size_t size, Song *song, ModuleReadResult *result) {
    if (!result) return 0;
    *result = ModuleReadResult{};
    result->size_bytes = static_cast<long>(size);
    if (!bytes || size == 0 || !song) return module_read_refuse(result, MODULE_READ_EMPTY, 0, 0);
    result->format = SONG_FORMAT_XM;
    if (!xm_detect(bytes, size)) {
        // Another tracker's format is named, not taken for a broken file.
        result->unsupported = module_unsupported_format(bytes, size);
        if (result->unsupported) result->format = SONG_FORMAT_NONE;
        return module_read_refuse(result, result->unsupported ? MODULE_READ_UNSUPPORTED : MODULE_READ_NOT_FORMAT, 0, 0);
    }
    if (size < XM_HEADER_BYTES) return module_read_truncated(result, MODULE_PART_HEADER, 0, XM_HEADER_BYTES);
    const uint32_t version = module_le16(bytes + XM_VERSION_OFFSET);
    if (version != XM_VERSION) return module_read_refuse(result, MODULE_READ_VERSION, static_cast<long>(version), 0);

    XmReader reader = {};
    XmReader *x = &reader;
    x->bytes = bytes;
    x->size = size;
    x->result = result;
    x->channels = static_cast<int>(module_le16(bytes + XM_CHANNELS_OFFSET));
    x->stored_patterns = static_cast<int>(module_le16(bytes + XM_PATTERNS_OFFSET));
    x->stored_instruments = static_cast<int>(module_le16(bytes + XM_INSTRUMENTS_OFFSET));
    const int song_length = static_cast<int>(module_le16(bytes + XM_SONG_LENGTH_OFFSET));
    int ok = 1;
    if (x->channels < 1 || x->channels > XM_MAX_CHANNELS) ok = module_read_refuse(result, MODULE_READ_CHANNELS, x->channels, 0);
    else if (song_length < 1 || song_length > SONG_MAX_ORDERS) ok = module_read_refuse(result, MODULE_READ_ORDERS, song_length, 0);
    else if (x->stored_patterns > SONG_MAX_PATTERNS) ok = module_read_refuse(result, MODULE_READ_PATTERNS, x->stored_patterns, 0);
    else if (x->stored_instruments > SONG_MAX_INSTRUMENTS) ok = module_read_refuse(result, MODULE_READ_INSTRUMENTS, x->stored_instruments, 0);

    size_t packed_total = 0;
    int sample_total = 0;
    size_t data_bytes = 0;
    if (ok) ok = find_patterns(x, &packed_total);
    if (ok) ok = find_instruments(x, &sample_total, &data_bytes);
    if (ok) {
        song->format = SONG_FORMAT_XM;
        module_copy_name(song->title, bytes + XM_TITLE_OFFSET, XM_TITLE_BYTES);
        format_name(bytes + XM_TRACKER_OFFSET, song->format_name, sizeof song->format_name);
        song->channel_count = static_cast<uint8_t>(x->channels);
        song->order_count = static_cast<uint16_t>(song_length);
        bool add_empty = false;
        for (int i = 0; i < song_length; i++) {
            int pattern = bytes[XM_ORDERS_OFFSET + i];
            // Orders naming a pattern the file does not store play the
            // empty one added after the stored ones.
            if (pattern >= x->stored_patterns) {
                pattern = x->stored_patterns;
                add_empty = true;
            }
            song->orders[i] = static_cast<uint8_t>(pattern);
        }
        const uint32_t restart = module_le16(bytes + XM_RESTART_OFFSET);
        song->restart = static_cast<uint8_t>(restart < static_cast<uint32_t>(song_length) ? restart : 0);
        int highest = 0;
        ok = read_patterns(x, song, packed_total, add_empty, &highest);
        const int instruments = highest > x->stored_instruments ? highest : x->stored_instruments;
        if (ok) ok = read_instruments(x, song, instruments, sample_total, data_bytes);
    }
    if (ok) {
        song->frequency_mode = (module_le16(bytes + XM_FLAGS_OFFSET) & XM_FLAG_LINEAR) ? SONG_FREQUENCY_LINEAR
                                                                                       : SONG_FREQUENCY_AMIGA;
        song->quirks = SONG_QUIRK_NOTE_DELAY_PAST_ROW_IGNORED | SONG_QUIRK_VOLUME_RAMPING |
                       SONG_QUIRK_JUMP_AND_BREAK_COMBINE | SONG_QUIRK_SLIDE_MEMORIES |
                       SONG_QUIRK_OFFSET_PAST_END_SILENT | SONG_QUIRK_ARPEGGIO_TICKS_LEFT |
                       SONG_QUIRK_INSTRUMENT_WAITS_FOR_NOTE | SONG_QUIRK_TREMOR_MUTES |
                       SONG_QUIRK_LOOP_ROW_IS_BREAK_ROW | SONG_QUIRK_ENDLESS_LOOP_ENDS_SONG;
        const uint32_t speed = module_le16(bytes + XM_SPEED_OFFSET);
        const uint32_t tempo = module_le16(bytes + XM_TEMPO_OFFSET);
        song->initial_speed = static_cast<uint8_t>(speed == 0 ? XM_DEFAULT_SPEED : speed > 255 ? 255 : speed);
        song->initial_tempo = static_cast<uint8_t>(tempo >= XM_MIN_TEMPO && tempo <= XM_MAX_TEMPO ? tempo : XM_DEFAULT_TEMPO);
        song->initial_global_volume = SONG_MAX_VOLUME;
        for (uint8_t &pan : song->channel_panning) pan = SONG_PANNING_CENTER;
    }
    return ok;
}
