// The song's life and its packed patterns: creation and release, the
// pattern tables, packing rows as readers add them and unpacking them as
// the player reaches them, and the check of the song's invariants.
#include "music/song.h"

#include <cstring>

#include "util/alloc.h"

// The byte after a packed cell's channel byte: which fields follow, in
// this order.
enum PackedField : uint8_t {
    PACKED_NOTE = 1,
    PACKED_INSTRUMENT = 2,
    PACKED_VOLUME = 4,          // volume command and parameter
    PACKED_COMMAND = 8,         // command and parameter
    PACKED_PERIOD = 16,         // big-endian
};

Song *song_create(void) {
    return static_cast<Song *>(engine_calloc(1, sizeof(Song)));
}

void song_destroy(Song *song) {
    if (!song) return;
    engine_free(song->row_starts);
    engine_free(song->cells);
    engine_free(song->instruments);
    engine_free(song->samples);
    engine_free(song->sample_data);
    engine_free(song->message);
    engine_free(song);
}

char *song_alloc_message(Song *song, size_t bytes) {
    if (!song || song->message || bytes == 0) return nullptr;
    song->message = static_cast<char *>(engine_calloc(bytes, 1));
    if (song->message) song->message_bytes = bytes;
    return song->message;
}

int song_alloc_patterns(Song *song, int pattern_count, const uint16_t *rows, size_t cell_bytes) {
    if (!song || !rows || song->row_starts || song->cells || pattern_count < 1 ||
        pattern_count > SONG_MAX_PATTERNS)
        return 0;
    uint32_t total = 0;
    for (int p = 0; p < pattern_count; p++) {
        if (rows[p] < 1 || rows[p] > SONG_MAX_ROWS) return 0;
        total += rows[p];  // at most 256 x 256: no wrap
    }
    uint32_t *row_starts = static_cast<uint32_t *>(engine_calloc(total + 1u, sizeof(uint32_t)));
    // At least one byte, so that a song of empty patterns still has a block.
    uint8_t *cells = static_cast<uint8_t *>(engine_malloc(cell_bytes > 0 ? cell_bytes : 1));
    if (!row_starts || !cells) {
        engine_free(row_starts);
        engine_free(cells);
        return 0;
    }
    uint32_t first = 0;
    for (int p = 0; p < pattern_count; p++) {
        song->patterns[p].rows = rows[p];
        song->patterns[p].first_row = first;
        first += rows[p];
    }
    song->pattern_count = static_cast<uint16_t>(pattern_count);
    song->total_rows = total;
    song->row_starts = row_starts;
    song->cells = cells;
    song->cell_bytes = 0;
    song->cell_capacity = cell_bytes;
    song->rows_written = 0;
    return 1;
}

static void put_be16(uint8_t *at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

// Packs one cell at `out` (room for SONG_PACKED_CELL_MAX_BYTES); returns
// the bytes written, 0 for an empty cell.
static size_t pack_cell(uint8_t *out, int channel, const SongCell *cell) {
    uint8_t fields = 0;
    size_t at = 2;
    if (cell->note) {
        fields |= PACKED_NOTE;
        out[at++] = cell->note;
    }
    if (cell->instrument) {
        fields |= PACKED_INSTRUMENT;
        out[at++] = cell->instrument;
    }
    if (cell->volume_command || cell->volume_param) {
        fields |= PACKED_VOLUME;
        out[at++] = cell->volume_command;
        out[at++] = cell->volume_param;
    }
    if (cell->command || cell->param) {
        fields |= PACKED_COMMAND;
        out[at++] = cell->command;
        out[at++] = cell->param;
    }
    if (cell->period) {
        fields |= PACKED_PERIOD;
        put_be16(out + at, cell->period);
        at += 2;
    }
    if (fields == 0) return 0;
    out[0] = static_cast<uint8_t>(channel);
    out[1] = fields;
    return at;
}

size_t song_packed_cell_bytes(const SongCell *cell) {
    if (!cell) return 0;
    uint8_t packed[SONG_PACKED_CELL_MAX_BYTES];
    return pack_cell(packed, 0, cell);
}

int song_put_row(Song *song, const SongCell *cells) {
    if (!song || !cells || !song->row_starts || song->rows_written >= song->total_rows) return 0;
    uint8_t packed[SONG_MAX_CHANNELS * SONG_PACKED_CELL_MAX_BYTES];
    size_t bytes = 0;
    const int channels = song->channel_count <= SONG_MAX_CHANNELS ? song->channel_count : SONG_MAX_CHANNELS;
    for (int ch = 0; ch < channels; ch++) bytes += pack_cell(packed + bytes, ch, &cells[ch]);
    if (bytes > song->cell_capacity - song->cell_bytes) return 0;
    memcpy(song->cells + song->cell_bytes, packed, bytes);
    song->row_starts[song->rows_written] = static_cast<uint32_t>(song->cell_bytes);
    song->cell_bytes += bytes;
    song->rows_written++;
    song->row_starts[song->rows_written] = static_cast<uint32_t>(song->cell_bytes);
    return 1;
}

int song_finish_patterns(Song *song) {
    if (!song || !song->row_starts || song->rows_written != song->total_rows) return 0;
    if (song->cell_bytes < song->cell_capacity && song->cell_bytes > 0) {
        void *smaller = engine_realloc(song->cells, song->cell_bytes);
        // A failed shrink keeps the larger block: nothing is lost.
        if (smaller) {
            song->cells = static_cast<uint8_t *>(smaller);
            song->cell_capacity = song->cell_bytes;
        }
    }
    return 1;
}

void song_row(const Song *song, int pattern, int row, SongCell *cells) {
    if (!song || !cells) return;
    const int channels = song->channel_count <= SONG_MAX_CHANNELS ? song->channel_count : SONG_MAX_CHANNELS;
    memset(cells, 0, sizeof(SongCell) * static_cast<size_t>(channels));
    if (pattern < 0 || pattern >= song->pattern_count || !song->row_starts) return;
    const SongPattern *p = &song->patterns[pattern];
    if (row < 0 || row >= p->rows) return;
    const uint32_t index = p->first_row + static_cast<uint32_t>(row);
    if (index >= song->rows_written) return;
    const uint8_t *at = song->cells + song->row_starts[index];
    const uint8_t *end = song->cells + song->row_starts[index + 1];
    // Only song_put_row wrote these bytes: every cell is whole.
    while (at < end) {
        const int channel = at[0];
        const uint8_t fields = at[1];
        at += 2;
        SongCell cell = {};
        if (fields & PACKED_NOTE) cell.note = *at++;
        if (fields & PACKED_INSTRUMENT) cell.instrument = *at++;
        if (fields & PACKED_VOLUME) {
            cell.volume_command = at[0];
            cell.volume_param = at[1];
            at += 2;
        }
        if (fields & PACKED_COMMAND) {
            cell.command = at[0];
            cell.param = at[1];
            at += 2;
        }
        if (fields & PACKED_PERIOD) {
            cell.period = static_cast<uint16_t>(at[0] << 8 | at[1]);
            at += 2;
        }
        if (channel < channels) cells[channel] = cell;
    }
}

int song_alloc_instruments(Song *song, int count, int sample_count) {
    if (!song || song->instruments || song->samples || count < 0 || count > SONG_MAX_INSTRUMENTS ||
        sample_count < 0 || sample_count > SONG_MAX_SAMPLES)
        return 0;
    SongInstrument *instruments = nullptr;
    SongSample *samples = nullptr;
    if (count > 0) instruments = static_cast<SongInstrument *>(engine_calloc(static_cast<size_t>(count), sizeof(SongInstrument)));
    if (sample_count > 0) samples = static_cast<SongSample *>(engine_calloc(static_cast<size_t>(sample_count), sizeof(SongSample)));
    if ((count > 0 && !instruments) || (sample_count > 0 && !samples)) {
        engine_free(instruments);
        engine_free(samples);
        return 0;
    }
    song->instruments = instruments;
    song->instrument_count = static_cast<uint8_t>(count);
    song->samples = samples;
    song->sample_count = static_cast<uint16_t>(sample_count);
    return 1;
}

void *song_alloc_sample_data(Song *song, size_t bytes) {
    if (!song || song->sample_data) return nullptr;
    song->sample_data = engine_calloc(bytes > 0 ? bytes : 1, 1);
    if (song->sample_data) song->sample_data_bytes = bytes;
    return song->sample_data;
}

static bool envelope_valid(const SongEnvelope *e) {
    if (e->count > SONG_ENVELOPE_POINTS) return false;
    if ((e->flags & SONG_ENVELOPE_ON) && e->count == 0) return false;
    for (int i = 1; i < e->count; i++)
        if (e->points[i].tick <= e->points[i - 1].tick) return false;
    if ((e->flags & SONG_ENVELOPE_SUSTAIN) && e->sustain >= e->count) return false;
    if ((e->flags & SONG_ENVELOPE_SUSTAIN_LOOP) &&
        (!(e->flags & SONG_ENVELOPE_SUSTAIN) || e->sustain > e->sustain_end || e->sustain_end >= e->count))
        return false;
    if ((e->flags & SONG_ENVELOPE_LOOP) && (e->loop_start > e->loop_end || e->loop_end >= e->count))
        return false;
    return true;
}

// A loop of `kind` from `start`, `length` frames long, inside `frames`.
static bool loop_valid(uint8_t kind, uint32_t start, uint32_t length, uint32_t frames) {
    if (kind > SONG_LOOP_PING_PONG) return false;
    if ((kind == SONG_LOOP_NONE) != (length == 0)) return false;
    return start <= frames && length <= frames - start;
}

static bool sample_valid(const SongSample *s) {
    if ((s->bits != 8 && s->bits != 16) || s->stereo > 1) return false;
    if (s->length > 0 && !s->data) return false;
    return loop_valid(s->loop, s->loop_start, s->loop_length, s->length) &&
           loop_valid(s->sustain_loop, s->sustain_start, s->sustain_length, s->length);
}

static bool note_valid(uint8_t note) {
    return note <= SONG_NOTES || note == SONG_NOTE_KEY_OFF || note == SONG_NOTE_CUT || note == SONG_NOTE_FADE;
}

static bool cell_valid(const Song *song, const SongCell *cell) {
    return note_valid(cell->note) && cell->instrument <= song->instrument_count && cell->command < SONG_COMMAND_COUNT &&
           cell->volume_command < SONG_VOLUME_COMMAND_COUNT;
}

int song_valid(const Song *song) {
    if (!song) return 0;
    if (song->channel_count < 1 || song->channel_count > SONG_MAX_CHANNELS) return 0;
    if (song->order_count < 1 || song->order_count > SONG_MAX_ORDERS) return 0;
    if (song->restart >= song->order_count) return 0;
    if (song->pattern_count < 1 || song->pattern_count > SONG_MAX_PATTERNS) return 0;
    if (song->rows_written != song->total_rows || !song->row_starts) return 0;
    if (song->frequency_mode > SONG_FREQUENCY_LINEAR) return 0;
    const int most_global = (song->quirks & SONG_QUIRK_LAYERED_VOLUMES) ? SONG_MAX_WIDE_VOLUME : SONG_MAX_VOLUME;
    if (song->initial_speed < 1 || song->initial_global_volume > most_global) return 0;
    if (song->message && (song->message_bytes == 0 || song->message[song->message_bytes - 1] != '\0')) return 0;
    for (int i = 0; i < song->order_count; i++)
        if (song->orders[i] >= song->pattern_count) return 0;
    SongCell cells[SONG_MAX_CHANNELS];
    for (int p = 0; p < song->pattern_count; p++) {
        if (song->patterns[p].rows < 1 || song->patterns[p].rows > SONG_MAX_ROWS) return 0;
        for (int r = 0; r < song->patterns[p].rows; r++) {
            song_row(song, p, r, cells);
            for (int ch = 0; ch < song->channel_count; ch++)
                if (!cell_valid(song, &cells[ch])) return 0;
        }
    }
    for (int i = 0; i < song->instrument_count; i++) {
        const SongInstrument *in = &song->instruments[i];
        for (uint16_t s : in->note_samples)
            if (s > song->sample_count) return 0;
        for (uint8_t n : in->note_notes)
            if (n > SONG_NOTES) return 0;
        if (!envelope_valid(&in->volume_envelope) || !envelope_valid(&in->panning_envelope) ||
            !envelope_valid(&in->pitch_envelope))
            return 0;
        if (in->new_note_action >= SONG_NNA_COUNT || in->duplicate_check >= SONG_DUPLICATE_COUNT ||
            in->duplicate_action >= SONG_NNA_COUNT || in->duplicate_action == SONG_NNA_CONTINUE)
            return 0;
    }
    for (int i = 0; i < song->sample_count; i++)
        if (!sample_valid(&song->samples[i])) return 0;
    return 1;
}
