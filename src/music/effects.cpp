// The command interpreter: each channel's row-start command handling with
// its note start (row_effects) and the per-tick half (tick_effects), with
// the portamento, vibrato, tremolo and volume-slide steps they share, and
// the channel's volume and panning handed to its voice. One switch for
// every format: where formats differ, a quirk of the song or its frequency
// mode decides. Commands in tracker notation: the MOD digit, then x and y,
// the parameter's high and low nibbles (xx or xy is the whole byte).
#include "music/effects.h"

#include <cstring>

#include "music/mod_periods.h"
#include "music/mod_tables.h"
#include "music/sample_stream.h"
#include "music/sequencer.h"

constexpr uint32_t SAMPLE_OFFSET_UNIT = 256;         // 9xx counts in 256 frames
constexpr int WAVE_HALF_MASK = 31;                   // index into the half sine
constexpr int WAVE_NEGATIVE_BIT = 32;                // second half of the cycle
constexpr int VIBRATO_DEPTH_SHIFT = 7;               // MOD periods
constexpr int FINE_VIBRATO_DEPTH_SHIFT = 5;          // quarter and linear periods
constexpr int TREMOLO_DEPTH_SHIFT = 6;
constexpr int ARPEGGIO_TICKS = 3;
// Quarter and linear periods move 4 units for a MOD period's 1.
constexpr int FINE_PERIOD_UNITS = 4;
constexpr int FINE_PERIOD_MIN = 1;
constexpr int FINE_PERIOD_MAX = 65535;
// A voice's gain is volume (0 .. 64) x global volume (0 .. 64) x 4: 16384 at
// both full, the gain that passes a sample unchanged.
constexpr int GAIN_PER_VOLUME_STEP = VOICE_MAX_GAIN / (SONG_MAX_VOLUME * SONG_MAX_VOLUME);
constexpr int PANNING_RIGHT = 255;

static uint8_t clamp_volume_up(int volume) {
    return static_cast<uint8_t>(volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : volume);
}

static bool mod_periods(const ModPlayer *player) {
    return player->song->frequency_mode == SONG_FREQUENCY_MOD_TABLE;
}

// A period slid up in pitch (down in value) by `amount` units of the
// song's kind: a MOD period stops at 113 (a period of 0, before any note,
// becomes 113), the others, in quarter or linear units, move 4 x amount
// and stop at 1.
static uint16_t period_up(const ModPlayer *player, int period, int amount) {
    if (mod_periods(player)) {
        period -= amount;
        return static_cast<uint16_t>(period < MOD_PERIOD_MIN ? MOD_PERIOD_MIN : period);
    }
    period -= amount * FINE_PERIOD_UNITS;
    return static_cast<uint16_t>(period < FINE_PERIOD_MIN ? FINE_PERIOD_MIN : period);
}

// A period slid down in pitch by `amount`: a MOD period stops at 856 (and
// from 0 climbs from 0), the others move 4 x amount and stop at 65535.
static uint16_t period_down(const ModPlayer *player, int period, int amount) {
    if (mod_periods(player)) {
        period += amount;
        return static_cast<uint16_t>(period > MOD_PERIOD_MAX ? MOD_PERIOD_MAX : period);
    }
    period += amount * FINE_PERIOD_UNITS;
    return static_cast<uint16_t>(period > FINE_PERIOD_MAX ? FINE_PERIOD_MAX : period);
}

// The channel's voice plays `period`.
static void play_period(const ModPlayer *player, Voice *voice, uint16_t period, int8_t finetune) {
    set_voice_period(voice, player->song->frequency_mode, period, finetune);
}

// The channel's voice plays `volume` (0 .. 255, heard as at most 64): on a
// hard-panned song as the voice's volume on its side, otherwise as its two
// gains, with the global volume and the channel's panning (a straight
// line from left to right).
static void play_volume(const ModPlayer *player, const Channel *c, Voice *voice, int volume) {
    voice_set_volume(voice, volume);
    if (player->song->quirks & SONG_QUIRK_HARD_PANNING) return;
    const int32_t gain = voice->volume * player->global_volume * GAIN_PER_VOLUME_STEP;
    voice_set_gains(voice, gain * (PANNING_RIGHT - c->panning) / PANNING_RIGHT, gain * c->panning / PANNING_RIGHT);
}

// Signed half-sine value at a waveform position (64 positions per cycle).
static int wave_value(uint8_t position) {
    int d = vibrato_sine[position & WAVE_HALF_MASK];
    return (position & WAVE_NEGATIVE_BIT) ? -d : d;
}

// Volume slide: up by x (at most 64) when x is set, else down by y (at
// least 0). Uses the row's parameter, or `memory` when that is 0.
static void volume_slide(Channel *c, uint8_t param, uint8_t memory) {
    int v = param != 0 ? param : memory;
    int up = v >> 4;
    int down = v & 0xF;
    if (up != 0) {
        c->volume = clamp_volume_up(c->volume + up);
    } else if (down != 0) {
        c->volume = static_cast<uint8_t>(down > c->volume ? 0 : c->volume - down);
    }
}

static void tone_portamento_step(const ModPlayer *player, Channel *c) {
    if (c->porta_target == 0) return;
    int period = c->period;
    int target = c->porta_target;
    int speed = mod_periods(player) ? c->porta_speed : c->porta_speed * FINE_PERIOD_UNITS;
    if (period < target) {
        period = (target - period >= speed) ? period + speed : target;
    } else if (period > target) {
        period = (period - target >= speed) ? period - speed : target;
    }
    c->period = static_cast<uint16_t>(period);
}

static void vibrato_step(const ModPlayer *player, Channel *c) {
    c->vibrato_pos = static_cast<uint8_t>(c->vibrato_pos + (c->vibrato_param >> 4));
    // |d x depth| <= 255 x 15: small; the shift of a negative value is
    // arithmetic.
    const int swing = wave_value(c->vibrato_pos) * (c->vibrato_param & 0xF);
    if (mod_periods(player)) {
        int period = c->period + (swing >> VIBRATO_DEPTH_SHIFT);
        if (period < MOD_PERIOD_MIN) period = MOD_PERIOD_MIN;
        if (period > MOD_PERIOD_MAX) period = MOD_PERIOD_MAX;
        c->vibrato_period = static_cast<uint16_t>(period);
    } else {
        int period = c->period + (swing >> FINE_VIBRATO_DEPTH_SHIFT);
        if (period < FINE_PERIOD_MIN) period = FINE_PERIOD_MIN;
        if (period > FINE_PERIOD_MAX) period = FINE_PERIOD_MAX;
        c->vibrato_period = static_cast<uint16_t>(period);
    }
}

static void tremolo_step(Channel *c) {
    c->tremolo_pos = static_cast<uint8_t>(c->tremolo_pos + (c->tremolo_param >> 4));
    int volume = c->volume + ((wave_value(c->tremolo_pos) * (c->tremolo_param & 0xF)) >> TREMOLO_DEPTH_SHIFT);
    if (volume < 0) volume = 0;
    if (volume > VOICE_MAX_VOLUME) volume = VOICE_MAX_VOLUME;
    c->tremolo_volume = static_cast<uint8_t>(volume);
}

// E6y: y = 0 marks the start, else the section repeats.
static void pattern_loop(ModPlayer *player, Channel *c, int y) {
    if (y == 0) {
        c->loop_row = player->row;
        return;
    }
    bool again;
    if (player->song->quirks & SONG_QUIRK_PATTERN_LOOP_ONE_SHORT) {
        if (c->loop_count == 0) c->loop_count = static_cast<uint8_t>(y);
        c->loop_count--;
        again = c->loop_count != 0;
    } else if (c->loop_count == 0) {
        c->loop_count = static_cast<uint8_t>(y);
        again = true;
    } else {
        c->loop_count--;
        again = c->loop_count != 0;
    }
    if (again) {
        player->next_row = c->loop_row;
        player->next_order = player->order;
        player->next_is_jump = 0;  // a repeat inside the pattern
    }
}

// The voice's source for the sample about to start: 8-bit or 16-bit.
static void choose_source(Voice *voice, Channel *c) {
    const bool wide = c->sample != 0 && c->sample <= c->sample_count && c->samples[c->sample - 1].bits == 16;
    if (wide) {
        if (voice->wide_source != stream_sample_wide) voice_set_wide_source(voice, stream_sample_wide, c);
    } else if (voice->source != stream_sample) {
        voice_set_source(voice, stream_sample, c);
    }
}

void row_effects(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= player->channel_count) return;
    Channel *c = &player->channels[channel];
    Voice *voice = &player->voices[channel];
    const uint32_t quirks = player->song->quirks;
    uint32_t start = c->note_start;
    c->delay_tick = 0;
    c->retrigger_interval = 0;

    const int command = c->command;
    const uint8_t xy = c->param;
    switch (command) {
    case CMD_TONE_PORTAMENTO:  // 3xx
        c->trigger = 0;
        if (c->note != 0) c->porta_target = c->note;
        if (xy != 0) c->porta_speed = xy;
        break;
    case CMD_VIBRATO:  // 4xy
        c->vibrato_pos = 0;
        if (xy != 0) c->vibrato_param = xy;
        break;
    case CMD_TONE_PORTAMENTO_VOLUME_SLIDE:  // 5xy
        c->trigger = 0;
        if (c->note != 0) c->porta_target = c->note;
        if (xy != 0) c->porta_volume_memory = xy;
        break;
    case CMD_VIBRATO_VOLUME_SLIDE:  // 6xy
        c->vibrato_pos = 0;
        if (xy != 0) c->vibrato_volume_memory = xy;
        break;
    case CMD_TREMOLO:  // 7xy
        c->tremolo_pos = 0;
        if (xy != 0) c->tremolo_param = xy;
        break;
    case CMD_SET_PANNING:  // 8xx
        if (!(quirks & SONG_QUIRK_HARD_PANNING)) c->panning = xy;
        break;
    case CMD_SAMPLE_OFFSET:  // 9xx: start xx x 256 frames in, at once
        if (xy != 0) {
            start = xy * SAMPLE_OFFSET_UNIT;
            c->offset_memory = xy;
        } else {
            start = c->offset_memory * SAMPLE_OFFSET_UNIT;
        }
        c->position = start;
        c->backwards = 0;
        if (!c->trigger) voice_restart(voice);
        break;
    case CMD_VOLUME_SLIDE:  // Axy
        if (xy != 0) c->slide_memory = xy;
        break;
    case CMD_POSITION_JUMP:  // Bxx
        player->next_order = xy >= player->song_length ? 0 : xy;
        player->next_row = 0;
        player->next_is_jump = 1;
        break;
    case CMD_SET_VOLUME:  // Cxx: stored unclamped; the voice clamps to 64
        c->volume = xy;
        break;
    case CMD_PATTERN_BREAK: {  // Dxy: the row number (a row past the next
                               // pattern's end goes to row 0, at the boundary)
        const int next = player->order + 1;
        player->next_order = static_cast<uint16_t>(next >= player->song_length ? 0 : next);
        player->next_row = xy;
        player->next_is_jump = 1;
        break;
    }
    case CMD_SET_SPEED:  // Fxx below 32: F00 would stop the clock: ignored
        if (xy != 0) player->speed = xy;
        break;
    case CMD_SET_TEMPO:  // Fxx from 32
        player->tempo = xy;
        update_tick_length(player);
        break;
    case CMD_FINE_PORTAMENTO_UP:  // E1y
        c->period = period_up(player, c->period, xy);
        play_period(player, voice, c->period, c->finetune);
        break;
    case CMD_FINE_PORTAMENTO_DOWN:  // E2y
        c->period = period_down(player, c->period, xy);
        play_period(player, voice, c->period, c->finetune);
        break;
    case CMD_PATTERN_LOOP:  // E6y
        pattern_loop(player, c, xy);
        break;
    case CMD_SET_PANNING_COARSE:  // E8y
        if (!(quirks & SONG_QUIRK_HARD_PANNING)) c->panning = static_cast<uint8_t>(xy * 17);
        break;
    case CMD_RETRIGGER:  // E9y: restart on every y-th tick (the check reruns this)
        c->retrigger_interval = xy;
        c->trigger = 1;
        break;
    case CMD_FINE_VOLUME_UP:  // EAy
        c->volume = clamp_volume_up(c->volume + xy);
        break;
    case CMD_FINE_VOLUME_DOWN:  // EBy
        c->volume = static_cast<uint8_t>(c->volume < xy ? 0 : c->volume - xy);
        break;
    case CMD_NOTE_DELAY:  // EDy: the retrigger check reruns this on tick y
        c->delay_tick = xy;
        if (xy != player->tick) return;
        break;
    case CMD_PATTERN_DELAY:  // EEy
        if (quirks & SONG_QUIRK_PATTERN_DELAY_TICKS) player->row_delay = static_cast<uint8_t>(xy * player->speed);
        else player->row_delay_rows = xy;
        break;
    case CMD_SET_GLOBAL_VOLUME:  // Gxx
        player->global_volume = xy > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : xy;
        break;
    default:  // the rest act on later ticks or not at all
        break;
    }

    if (command != CMD_TREMOLO) play_volume(player, c, voice, c->volume);
    if (c->trigger) {
        c->first_pass = (quirks & SONG_QUIRK_FIRST_PASS_TO_SAMPLE_END) ? 1 : 0;
        play_period(player, voice, c->period, c->finetune);
        c->current_sample = c->sample;
        c->playing = c->sample != 0;  // a note without a sample stays silent
        c->position = start;
        c->backwards = 0;
        choose_source(voice, c);
        voice_restart(voice);
        if (c->sample != 0 && player->note_callback)
            player->note_callback(player->note_user, channel, c->instrument, c->sample, c->period,
                                  c->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->volume);
    }
}

void tick_effects(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= player->channel_count) return;
    Channel *c = &player->channels[channel];
    Voice *voice = &player->voices[channel];
    const int command = c->command;
    if (command == CMD_NONE) return;
    const uint8_t xy = c->param;

    if (command == CMD_ARPEGGIO) {  // 0xy: base, +y, +x semitones in turn
        int steps = 0;
        switch (player->tick % ARPEGGIO_TICKS) {
        case 1: steps = xy & 0xF; break;
        case 2: steps = xy >> 4; break;
        default: break;
        }
        const uint16_t period = mod_periods(player) ? (steps ? arpeggio_period(c->period, steps) : c->period)
                                                     : semitones_up(player->song->frequency_mode, c->period, steps);
        play_period(player, voice, period, c->finetune);
        return;
    }

    switch (command) {
    case CMD_PORTAMENTO_UP:  // 1xx: stops at the highest note
        c->period = period_up(player, c->period, xy);
        break;
    case CMD_PORTAMENTO_DOWN:  // 2xx: stops at the lowest note
        c->period = period_down(player, c->period, xy);
        break;
    case CMD_TONE_PORTAMENTO:  // 3xx
        tone_portamento_step(player, c);
        break;
    case CMD_VIBRATO:  // 4xy
        vibrato_step(player, c);
        break;
    case CMD_TONE_PORTAMENTO_VOLUME_SLIDE:  // 5xy
        tone_portamento_step(player, c);
        volume_slide(c, xy, c->porta_volume_memory);
        break;
    case CMD_VIBRATO_VOLUME_SLIDE:  // 6xy
        vibrato_step(player, c);
        volume_slide(c, xy, c->vibrato_volume_memory);
        break;
    case CMD_TREMOLO:  // 7xy
        tremolo_step(c);
        break;
    case CMD_VOLUME_SLIDE:  // Axy
        volume_slide(c, xy, c->slide_memory);
        break;
    case CMD_NOTE_CUT:  // ECy
        if (player->tick == xy) c->volume = 0;
        break;
    default:
        break;
    }

    const bool vibrating = command == CMD_VIBRATO || command == CMD_VIBRATO_VOLUME_SLIDE;
    const uint16_t period = vibrating ? c->vibrato_period : c->period;
    if (period != 0) play_period(player, voice, period, c->finetune);
    play_volume(player, c, voice, command == CMD_TREMOLO ? c->tremolo_volume : c->volume);
}
