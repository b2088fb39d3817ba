// The sequencer's clock: ticks and row boundaries, the song's order of
// positions and its end, the tick length, loading each row's cells into
// the channels, and the reset to the song's start. The commands themselves
// are in effects.cpp.
#include "music/sequencer_internal.h"

#include <cstring>

#include "music/channel_output_internal.h"
#include "music/effects_internal.h"
#include "music/it_commands_internal.h"
#include "music/mod_periods_internal.h"
#include "music/mod_tables_internal.h"
#include "music/sample_stream_internal.h"
#include "music/stereo_halves_internal.h"
#include "music/voice_pool_internal.h"

// A tick lasts 2.5 s / tempo: output_rate x 5 / (2 x tempo) frames (125 bpm
// is 50 ticks per second, 882 frames at 44100 Hz).
constexpr uint32_t TICK_SECONDS_NUMERATOR = 5;
constexpr uint32_t TICK_SECONDS_DENOMINATOR = 2;
// Frames a note start skips under SONG_QUIRK_NOTE_START_SKIPS_TWO.
constexpr uint8_t NOTE_START_SKIPPED = 2;
// E4y/E7y: a waveform that goes on through note starts.
constexpr uint8_t WAVE_KEPT_AT_NOTES = 4;
// The seed of the generator of IT's random variations: every render of a
// song draws the same numbers.
constexpr uint32_t RANDOM_SEED = 0x4B45564Fu;  // "KEVO"
constexpr uint8_t FILTER_OPEN_CUTOFF = 127;

void update_tick_length(ModPlayer *player) {
    if (!player) return;
    // Truncated once, after the whole product: truncating 2 x tempo / 5
    // first would play most tempos too slow (127 as 125, 32 as 30).
    // Commands set tempos of 32 .. 255; a tempo of 0 counts as 1. At most
    // 65535 x 5 / 2 frames: no wrap in 32 bits.
    const uint32_t tempo = player->tempo != 0 ? player->tempo : 1;
    const uint32_t frames =
        player->output_rate * TICK_SECONDS_NUMERATOR / (TICK_SECONDS_DENOMINATOR * tempo);
    player->samples_per_tick = frames > 0 ? frames : 1;
}

// The rows of the pattern at order position `order` (< song_length).
static int rows_at(const ModPlayer *player, int order) {
    const Song *song = player->song;
    return song->patterns[song->orders[order]].rows;
}

void unpack_row(ModPlayer *player) {
    if (!player) return;
    song_row(player->song, player->song->orders[player->order], player->row, player->cells);
}

// A MOD cell: the period as written (clamped to the rate table) and the
// sample number.
static void load_period_cell(ModPlayer *player, Channel *c, const SongCell *cell, bool porta) {
    const Song *song = player->song;
    if (cell->period == 0) {
        c->trigger = 0;
        c->note = 0;
    } else {
        uint16_t period = cell->period;
        if (period < MOD_PERIOD_MIN) period = MOD_PERIOD_MIN;
        if (period > MOD_PERIOD_MAX) period = MOD_PERIOD_MAX;
        c->note = period;
        if (porta) {
            // The note only becomes the slide's target.
            c->trigger = 0;
        } else {
            c->trigger = 1;
            c->period = period;
        }
    }

    // A MOD's instrument n is its sample n.
    uint16_t s = cell->instrument;
    int8_t finetune;
    if (s != 0) {
        if (song->quirks & SONG_QUIRK_INSTRUMENT_ALONE_RESTARTS) c->trigger = 1;
        c->volume = song->samples[s - 1].volume;
        finetune = song->samples[s - 1].finetune;
    } else {
        s = c->current_sample;
        if (s > song->sample_count) s = 0;
        if (c->trigger && s != 0 && (song->quirks & SONG_QUIRK_NOTE_ALONE_RESETS_VOLUME))
            c->volume = song->samples[s - 1].volume;
        finetune = c->finetune;
    }
    if (s == 0 && c->trigger) {
        c->instrument = 0;
        c->sample = 0;
        c->volume = 0;
        c->finetune = 0;
    } else {
        c->instrument = static_cast<uint8_t>(s);
        c->sample = s;
        c->finetune = finetune;
    }
}

// Scream Tracker 3's C2SPD for S2y, y = 0 .. 15: its documented values,
// within 0.5% of 8363 x 2^((y - 8) / 96) but not that formula.
static const uint16_t S3M_FINETUNE_C2SPD[16] = {7895, 7941, 7985, 8046, 8107, 8169, 8232, 8280,
                                                8363, 8413, 8463, 8529, 8581, 8651, 8723, 8757};
constexpr int XM_FINETUNE_ZERO = 8;          // E5y: y 8 is finetune 0
constexpr int XM_FINETUNE_STEP = 16;         // E5y: 1/128 semitones per step
constexpr int PERIOD_FRACTION_BITS = 16;     // a period's fraction in 65536ths

// The period of `note` on `sample` as the channel tunes it, in 65536ths
// (a fraction only under SONG_QUIRK_EXACT_NOTE_PERIODS): with the
// channel's finetune (XM) or the C2SPD S2y gave it (S3M) in place of the
// sample's own.
static uint32_t tuned_note_period(const ModPlayer *player, const Channel *c, int note, const SongSample *sample) {
    if (!sample || note < 1 || note > SONG_NOTES) return 0;
    SongSample tuned = *sample;
    if (player->song->quirks & SONG_QUIRK_INSTRUMENT_WAITS_FOR_NOTE) tuned.finetune = c->finetune;
    if (c->c2spd != 0) tuned.c2spd = c->c2spd;
    if ((player->song->quirks & SONG_QUIRK_EXACT_NOTE_PERIODS) && tuned.c2spd != 0)
        return exact_note_period(note, tuned.c2spd);
    if (player->song->quirks & SONG_QUIRK_C5_SPEED)
        return static_cast<uint32_t>(c5_note_period(player->song->frequency_mode, note, &tuned)) << PERIOD_FRACTION_BITS;
    return static_cast<uint32_t>(note_period(player->song->frequency_mode, note, &tuned)) << PERIOD_FRACTION_BITS;
}

// Sets the row note's period and fraction from tuned_note_period.
static void set_note(Channel *c, uint32_t fine) {
    c->note = static_cast<uint16_t>(fine >> PERIOD_FRACTION_BITS);
    c->note_fraction = static_cast<uint16_t>(fine);
}

static const SongSample *song_sample(const Song *song, int s) {
    return s >= 1 && s <= song->sample_count ? &song->samples[s - 1] : nullptr;
}

// The volume and panning a sample gives the channel.
static void take_sample_defaults(const Song *song, Channel *c, const SongSample *sample) {
    if (!sample) return;
    c->volume = sample->volume;
    if (sample->has_panning && !(song->quirks & SONG_QUIRK_HARD_PANNING)) c->panning = sample->panning;
}

// A cell with a note and an instrument whose map picks the sample (XM,
// S3M): the note's period in the song's frequency mode; an instrument
// number sets the volume (and a sample's own panning) from its sample and
// restarts the instrument's envelopes, fadeout and auto-vibrato, with a
// note or alone (then the sample playing goes on; its volume comes from
// the sample the instrument gives the channel's last note). A note alone
// keeps the volume and the instrument's shaping (after key off it stays
// released). Key off releases the instrument; a cut silences the channel.
// SONG_QUIRK_INSTRUMENT_WAITS_FOR_NOTE and SONG_QUIRK_FINETUNE_SETS_C2SPD
// change this as song.h says; `delayed` is 1 on a note delay's tick.
static void load_note_cell(ModPlayer *player, Channel *c, const SongCell *cell, bool porta, bool delayed) {
    const Song *song = player->song;
    const bool it_notes = (song->quirks & SONG_QUIRK_IT_ENVELOPES) != 0;
    // A new note: the one sounding goes to the pool if its new-note action
    // keeps it (and IT's duplicate check allows).
    if (player->pool && cell->note >= 1 && cell->note <= SONG_NOTES && !porta)
        pool_new_note(player, static_cast<int>(c - player->channels), cell->instrument != 0 ? cell->instrument : c->instrument,
                      cell->note);
    const uint8_t previous = c->instrument;
    const bool waits = (song->quirks & SONG_QUIRK_INSTRUMENT_WAITS_FOR_NOTE) != 0;
    const bool named = cell->instrument != 0;
    int note = cell->note;
    bool restart = named;
    if (delayed && waits && (note == SONG_NOTE_NONE || note == SONG_NOTE_KEY_OFF)) {
        // The delay starts the channel's note again, after any key off.
        if (note == SONG_NOTE_KEY_OFF) instrument_release(player, c);
        note = c->last_note;
    }
    if (delayed && waits) restart = true;
    const bool plays_note = note >= 1 && note <= SONG_NOTES;
    if (named) {
        c->tremor_muted = 0;
        // Under a tone portamento FastTracker II forgets the number.
        if (!(waits && porta && plays_note)) c->next_instrument = cell->instrument;
        c->c2spd = 0;
        if (!waits || (plays_note && !porta)) c->instrument = cell->instrument;
    } else if (waits && plays_note && !porta) {
        c->instrument = c->next_instrument;
    }
    if (cell->command == CMD_SET_FINETUNE) {
        if (waits) c->finetune = static_cast<int8_t>((cell->param - XM_FINETUNE_ZERO) * XM_FINETUNE_STEP);
        if (song->quirks & SONG_QUIRK_FINETUNE_SETS_C2SPD) c->c2spd = S3M_FINETUNE_C2SPD[cell->param & 0x0F];
    }
    const SongInstrument *instrument =
        c->instrument != 0 && c->instrument <= song->instrument_count ? &song->instruments[c->instrument - 1] : nullptr;
    c->trigger = 0;
    c->note = 0;
    if (note == SONG_NOTE_KEY_OFF) {
        instrument_release(player, c);
        // The number brings the volume of the sample playing back, released.
        if (named && waits) take_sample_defaults(song, c, song_sample(song, c->sample));
        return;
    }
    if (note == SONG_NOTE_CUT) {
        c->volume = 0;
        return;
    }
    if (cell->note == SONG_NOTE_FADE) {  // IT's ~~~
        c->fading = 1;
        return;
    }
    uint16_t s = c->sample;
    const SongSample *defaults = nullptr;  // the sample whose volume a number takes
    if (plays_note) {
        const uint16_t mapped = instrument ? instrument->note_samples[note - 1] : 0;
        // The note the instrument's note map plays for it.
        const uint8_t played = instrument && instrument->note_notes[note - 1] != 0 ? instrument->note_notes[note - 1]
                                                                                  : static_cast<uint8_t>(note);
        c->last_note = static_cast<uint8_t>(note);
        if (porta) {
            // A slide's target is the note on the sample playing, which goes on.
            const SongSample *playing = song_sample(song, c->sample);
            set_note(c, tuned_note_period(player, c, played, playing ? playing : song_sample(song, mapped)));
            // The number's volume: the sample playing's (XM, IT), or (S3M)
            // its own sample's for the note.
            defaults = waits || it_notes ? song_sample(song, c->sample) : song_sample(song, mapped);
        } else {
            const SongSample *sample = song_sample(song, mapped);
            if (waits && sample && cell->command != CMD_SET_FINETUNE) c->finetune = sample->finetune;
            set_note(c, tuned_note_period(player, c, played, sample));
            c->trigger = 1;
            c->period = c->note;
            c->period_fraction = c->note_fraction;
            c->played_note = played;
            s = mapped;
            defaults = sample;
        }
    } else if (named && waits) {
        // Waits for a note: the sample playing gives the volume.
        defaults = song_sample(song, c->sample);
    } else if (named) {
        if (song->quirks & SONG_QUIRK_INSTRUMENT_ALONE_RESTARTS) c->trigger = 1;
        if (instrument && c->last_note != 0 && instrument->note_samples[c->last_note - 1] != 0)
            s = instrument->note_samples[c->last_note - 1];
        defaults = song_sample(song, s);
    } else if (cell->command == CMD_SET_FINETUNE && c->c2spd != 0 && c->last_note != 0) {
        // S2y alone retunes the note playing.
        const uint32_t fine = tuned_note_period(player, c, c->last_note, song_sample(song, c->sample));
        c->period = static_cast<uint16_t>(fine >> PERIOD_FRACTION_BITS);
        c->period_fraction = static_cast<uint16_t>(fine);
    }
    if (s == 0 || s > song->sample_count) {
        if (c->trigger) {
            c->sample = 0;
            c->volume = 0;
        }
        return;
    }
    const SongSample *sample = &song->samples[s - 1];
    if (named) take_sample_defaults(song, c, defaults);
    else if (c->trigger && (song->quirks & SONG_QUIRK_NOTE_ALONE_RESETS_VOLUME)) take_sample_defaults(song, c, sample);
    // IT restarts the shaping under a tone portamento only with compatible Gxx.
    if (restart && !(porta && it_notes && !(song->quirks & SONG_QUIRK_LINKED_PORTAMENTO_MEMORY))) instrument_restart(c);
    if (c->trigger && !(song->quirks & SONG_QUIRK_WAVES_RESTART_EACH_ROW)) {
        if (!(c->vibrato_waveform & WAVE_KEPT_AT_NOTES)) c->vibrato_pos = 0;
        if (!(c->tremolo_waveform & WAVE_KEPT_AT_NOTES)) c->tremolo_pos = 0;
        c->retrigger_count = 0;
        c->ramp_reset = 1;
    }
    c->sample = s;
    if (!waits) c->finetune = sample->finetune;
    if (c->trigger) c->new_note_action = instrument ? instrument->new_note_action : static_cast<uint8_t>(SONG_NNA_CUT);
    if (it_notes && c->trigger) it_note_start(player, c, instrument, sample, previous, named);
}

// The note and instrument of channel `channel`'s cell, then its volume
// column.
static void load_cell(ModPlayer *player, int channel, bool delayed) {
    Channel *c = &player->channels[channel];
    const SongCell *cell = &player->cells[channel];
    const bool porta = cell->command == CMD_TONE_PORTAMENTO || cell->command == CMD_TONE_PORTAMENTO_VOLUME_SLIDE ||
                       cell->volume_command == VOLCMD_TONE_PORTAMENTO;
    if (player->song->frequency_mode == SONG_FREQUENCY_MOD_TABLE) load_period_cell(player, c, cell, porta);
    else load_note_cell(player, c, cell, porta, delayed);
    if (c->volume_command != VOLCMD_NONE) volume_column_row(player, channel);
}

void load_row(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= player->channel_count) return;
    Channel *c = &player->channels[channel];
    const SongCell *cell = &player->cells[channel];
    c->previous_command = c->command;
    c->command = cell->command;
    c->param = cell->param;
    c->volume_command = cell->volume_command;
    c->volume_param = cell->volume_param;
    c->delayed = 0;
    if (cell->command == CMD_NOTE_DELAY && cell->param != 0 &&
        !(player->song->quirks & SONG_QUIRK_COMMANDLESS_TICKS_KEEP_VOICE)) {
        // The whole cell waits for its tick.
        c->delayed = 1;
        c->trigger = 0;
        return;
    }
    load_cell(player, channel, false);
}

// The ticks the current row lasts.
static int row_ticks(const ModPlayer *player) {
    return player->speed + player->row_delay + player->speed * player->row_delay_rows;
}

// Whether the voices are set on every tick (channel_output).
static bool every_tick(const ModPlayer *player) {
    return !(player->song->quirks & SONG_QUIRK_COMMANDLESS_TICKS_KEEP_VOICE);
}

// Whether the pattern loop the current row makes goes back to a state the
// song has been in since it came to this order position (the same row, the
// same target, every channel's loop count and start alike): then it would
// repeat for ever. Remembers the state when it is new.
static bool loop_repeats(ModPlayer *player) {
    uint32_t hash = 2166136261u;  // FNV-1a over the state's bytes
    const auto mix = [&hash](uint8_t byte) { hash = (hash ^ byte) * 16777619u; };
    mix(player->row);
    mix(player->next_row);
    for (int ch = 0; ch < player->channel_count; ch++) {
        mix(player->channels[ch].loop_count);
        mix(player->channels[ch].loop_row);
    }
    for (int i = 0; i < player->loop_state_count; i++)
        if (player->loop_states[i] == hash) return true;
    if (player->loop_state_count < MOD_LOOP_STATES) player->loop_states[player->loop_state_count++] = hash;
    return false;
}

// The per-tick half of a row: commands, then E9y and Rxy retriggers and
// EDy delayed note starts (with the cell they delayed), each in channel
// order, then the voices.
static void run_row_ticks(ModPlayer *player) {
    const int channels = player->channel_count;
    for (int ch = 0; ch < channels; ch++) tick_effects(player, ch);
    const bool past_row_ignored = (player->song->quirks & SONG_QUIRK_NOTE_DELAY_PAST_ROW_IGNORED) != 0;
    for (int ch = 0; ch < channels; ch++) {
        Channel *c = &player->channels[ch];
        if (c->retrigger_interval != 0 && player->tick % c->retrigger_interval == 0) {
            row_effects(player, ch);
        } else if (c->retrigger_now) {
            c->retrigger_now = 0;
            c->trigger = 1;
            row_effects(player, ch);
        } else if (c->delay_tick != 0 && player->tick == c->delay_tick) {
            if (past_row_ignored && c->delay_tick >= player->speed) continue;
            if (c->delayed) {
                c->delayed = 0;
                load_cell(player, ch, true);
            }
            row_effects(player, ch);
        }
    }
    if (every_tick(player))
        for (int ch = 0; ch < channels; ch++) channel_output(player, ch);
    if (player->pool) pool_output(player);
}

void process_tick(ModPlayer *player) {
    if (!player) return;
    if (player->tick_callback) player->tick_callback(player->tick_user);
    if (player->tick < row_ticks(player)) {
        run_row_ticks(player);
        update_tick_length(player);
        stereo_sync(player);
        return;
    }

    // Row boundary. With looping off the song ends on a jump or break to
    // this position or an earlier one (the song would only repeat, and a
    // jump to itself would never end), on any other way back (the wrap to
    // the restart position chosen while looping was on), or after its last
    // row has played (next_order was left at song_length when that row
    // started). A pattern loop stays at its position without being a jump.
    const bool jumps_back = player->next_is_jump && player->next_order <= player->order;
    const bool endless = player->row_looped && (player->song->quirks & SONG_QUIRK_ENDLESS_LOOP_ENDS_SONG) &&
                         !player->loop && loop_repeats(player);
    if (!player->loop && (jumps_back || endless || player->next_order < player->order ||
                          player->next_order >= player->song_length)) {
        player->finished = 1;
        return;
    }
    // Looping switched on after the end was marked: start again.
    if (player->next_order >= player->song_length) player->next_order = player->song->restart;
    if (player->next_row >= rows_at(player, player->next_order)) player->next_row = 0;

    if (player->next_order != player->order) {
        player->loop_carry = 0;
        player->loop_state_count = 0;
        if (player->song->quirks & SONG_QUIRK_PATTERN_CHANGE_RESETS_LOOP)
            for (int ch = 0; ch < player->channel_count; ch++) player->channels[ch].loop_row = 0;
    }
    player->row = player->next_row;
    player->order = static_cast<uint8_t>(player->next_order);
    player->tick = 0;
    player->row_delay = 0;
    player->row_delay_rows = 0;
    player->row_delay_read = 0;
    player->next_is_jump = 0;
    player->row_jumped = 0;
    player->row_broke = 0;
    player->row_looped = 0;
    const int next_row = player->row + 1;
    if (next_row >= rows_at(player, player->order)) {
        player->next_row = player->loop_carry ? player->loop_carry_row : 0;
        player->next_order = static_cast<uint16_t>(player->order + 1);
    } else {
        player->next_row = static_cast<uint8_t>(next_row);
    }
    // Past the last position: with looping on go on at the restart
    // position; with it off, the row still plays and next_order ==
    // song_length ends the song at the next boundary (unless a command of
    // this row decides otherwise, e.g. an E6y loop back).
    if (player->next_order >= player->song_length && player->loop) player->next_order = player->song->restart;

    unpack_row(player);
    const int channels = player->channel_count;
    for (int ch = 0; ch < channels; ch++) load_row(player, ch);
    for (int ch = 0; ch < channels; ch++) row_effects(player, ch);
    update_tick_length(player);
    if (every_tick(player))
        for (int ch = 0; ch < channels; ch++) channel_output(player, ch);
    if (player->pool) pool_output(player);
    stereo_sync(player);
    if (player->row_callback) player->row_callback(player->row_user);
}

void mod_player_finish_tick(ModPlayer *player) {
    if (!player) return;
    // Voices whose samples ran out during this tick stop now, before the
    // next tick can start a note on them. A render call that ends in the
    // middle of the tick leaves them playing their last window's zeros:
    // the tick, not the caller's buffer, decides when they fall silent.
    for (int i = 0; i < player->channel_count; i++) {
        Voice *voice = &player->voices[i];
        if (!voice->ended) continue;
        voice_set_frequency(voice, 0);
        voice->ended = 0;
    }
    // The gains the voices leave this tick with are where the next tick's
    // ramps start (from 0 for a note started afresh).
    if (player->ramp_frames != 0) {
        for (int i = 0; i < player->channel_count; i++) {
            player->channels[i].ramp_left = static_cast<uint16_t>(player->voices[i].gain_left);
            player->channels[i].ramp_right = static_cast<uint16_t>(player->voices[i].gain_right);
        }
    }
    if (player->pool) pool_finish_tick(player);
    stereo_finish_tick(player);
    player->tick++;
    player->tick_sample = 0;
    process_tick(player);
    for (int i = 0; i < player->channel_count; i++) {
        Channel *c = &player->channels[i];
        if (!c->ramp_reset) continue;
        c->ramp_reset = 0;
        c->ramp_left = 0;
        c->ramp_right = 0;
    }
}

void mod_player_reset(ModPlayer *player) {
    if (!player) return;
    const Song *song = player->song;
    player->finished = 0;
    player->tempo = song->initial_tempo;
    player->speed = song->initial_speed;
    player->global_volume = song->initial_global_volume;
    player->tick_sample = 0;
    player->tick = 0;
    player->row_delay = 0;
    player->row_delay_rows = 0;
    player->row_delay_read = 0;
    player->next_row = 0;
    player->next_order = 0;
    player->next_is_jump = 0;
    player->row_jumped = 0;
    player->row_broke = 0;
    player->row_looped = 0;
    player->loop_carry = 0;
    player->loop_state_count = 0;
    player->order = 0;
    player->row = 0;
    update_tick_length(player);
    if (player->pool) pool_clear(player);
    player->random_state = RANDOM_SEED;

    unpack_row(player);
    for (int i = 0; i < player->channel_count; i++) {
        Channel *c = &player->channels[i];
        memset(c, 0, sizeof *c);
        c->samples = song->samples;
        c->sample_count = song->sample_count;
        c->note_start = (song->quirks & SONG_QUIRK_NOTE_START_SKIPS_TWO) ? NOTE_START_SKIPPED : 0;
        c->panning = song->channel_panning[i];
        c->fade_volume = CHANNEL_FADE_FULL;
        c->channel_volume = song->channel_volume[i];
        c->cutoff = FILTER_OPEN_CUTOFF;
        Voice *voice = &player->voices[i];
        voice_init(voice, player->output_rate);
        voice_set_source(voice, stream_sample, c);
        voice_set_volume(voice, 0);
        voice_set_frequency(voice, 0);
        // Only copies the cell: the first row starts afresh at the first
        // row boundary.
        load_row(player, i);
    }
    for (int i = 0; i < player->half_count; i++) {
        StereoHalf *h = &player->halves[i];
        memset(&h->stream, 0, sizeof h->stream);
        voice_init(&h->voice, player->output_rate);
        voice_set_frequency(&h->voice, 0);
    }
}
