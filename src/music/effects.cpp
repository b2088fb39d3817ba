// The command interpreter: each channel's row-start command handling with
// its note start (row_effects) and the per-tick half (tick_effects), with
// the portamento, vibrato, tremolo and volume-slide steps they share.
// Commands in tracker notation: the command nibble, then x and y, the
// parameter's high and low nibbles (xx or xy is the whole byte).
#include "music/effects.h"

#include <cstring>

#include "music/mod_commands.h"
#include "music/mod_periods.h"
#include "music/mod_tables.h"
#include "music/sequencer.h"

// A note starts 2 bytes into its sample: the first word of a sample is
// traditionally a loop-control word, not sound.
constexpr uint32_t NOTE_START_BYTES = 2;
constexpr uint32_t SAMPLE_OFFSET_UNIT_BYTES = 256;   // 9xx counts in 256 bytes
constexpr int SPEED_TEMPO_SPLIT = 32;                // Fxx below: speed; from: tempo
constexpr int WAVE_HALF_MASK = 31;                   // index into the half sine
constexpr int WAVE_NEGATIVE_BIT = 32;                // second half of the cycle
constexpr int VIBRATO_DEPTH_SHIFT = 7;
constexpr int TREMOLO_DEPTH_SHIFT = 6;
constexpr int ARPEGGIO_TICKS = 3;

static uint8_t clamp_volume_up(int volume) {
    return static_cast<uint8_t>(volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : volume);
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

static void tone_portamento_step(Channel *c) {
    if (c->porta_target == 0) return;
    int period = c->period;
    int target = c->porta_target;
    int speed = c->porta_speed;
    if (period < target) {
        period = (target - period >= speed) ? period + speed : target;
    } else if (period > target) {
        period = (period - target >= speed) ? period - speed : target;
    }
    c->period = static_cast<uint16_t>(period);
}

static void vibrato_step(Channel *c) {
    c->vibrato_pos = static_cast<uint8_t>(c->vibrato_pos + (c->vibrato_param >> 4));
    // |d x depth| <= 255 x 15: small; the shift of a negative value is
    // arithmetic.
    int period = c->period + ((wave_value(c->vibrato_pos) * (c->vibrato_param & 0xF)) >> VIBRATO_DEPTH_SHIFT);
    if (period < MOD_PERIOD_MIN) period = MOD_PERIOD_MIN;
    if (period > MOD_PERIOD_MAX) period = MOD_PERIOD_MAX;
    c->vibrato_period = static_cast<uint16_t>(period);
}

static void tremolo_step(Channel *c) {
    c->tremolo_pos = static_cast<uint8_t>(c->tremolo_pos + (c->tremolo_param >> 4));
    int volume = c->volume + ((wave_value(c->tremolo_pos) * (c->tremolo_param & 0xF)) >> TREMOLO_DEPTH_SHIFT);
    if (volume < 0) volume = 0;
    if (volume > VOICE_MAX_VOLUME) volume = VOICE_MAX_VOLUME;
    c->tremolo_volume = static_cast<uint8_t>(volume);
}

// Row-start handling of the E commands. Returns 0 when the row start ends
// here for the channel (a note delayed by EDy), 1 otherwise.
static int row_extended(ModPlayer *player, Channel *c, Voice *voice, int x, int y) {
    switch (x) {
    case EXT_FINE_SLIDE_UP: {  // E1y
        int period = c->period - y;
        c->period = static_cast<uint16_t>(period < MOD_PERIOD_MIN ? MOD_PERIOD_MIN : period);
        set_channel_period(voice, c->period, c->finetune);
        break;
    }
    case EXT_FINE_SLIDE_DOWN: {  // E2y
        int period = c->period + y;
        c->period = static_cast<uint16_t>(period > MOD_PERIOD_MAX ? MOD_PERIOD_MAX : period);
        set_channel_period(voice, c->period, c->finetune);
        break;
    }
    case EXT_PATTERN_LOOP:  // E6y: y = 0 marks the start, else repeat y times
        if (y == 0) {
            c->loop_row = player->row;
        } else {
            if (c->loop_count == 0) c->loop_count = static_cast<uint8_t>(y);
            c->loop_count--;
            if (c->loop_count != 0) {
                player->next_row = c->loop_row;
                player->next_order = player->order;
                player->next_is_jump = 0;  // a repeat inside the pattern
            }
        }
        break;
    case EXT_RETRIGGER:  // E9y: restart on every y-th tick (the check reruns this)
        c->retrigger_interval = static_cast<uint8_t>(y);
        c->trigger = 1;
        break;
    case EXT_FINE_VOLUME_UP:  // EAy
        c->volume = clamp_volume_up(c->volume + y);
        break;
    case EXT_FINE_VOLUME_DOWN:  // EBy
        c->volume = static_cast<uint8_t>(c->volume < y ? 0 : c->volume - y);
        break;
    case EXT_NOTE_DELAY:  // EDy: the retrigger check reruns this on tick y
        c->delay_tick = static_cast<uint8_t>(y);
        if (y != player->tick) return 0;
        break;
    case EXT_PATTERN_DELAY:  // EEy: the row lasts y more rows' worth of ticks
        player->row_delay = static_cast<uint8_t>(y * player->speed);
        break;
    default:  // E0y, E3y, E4y, E5y, E7y, E8y, ECy (per tick), EFy
        break;
    }
    return 1;
}

void row_effects(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= MOD_CHANNELS) return;
    Channel *c = &player->channels[channel];
    Voice *voice = &player->voices[channel];
    uint32_t start_bytes = NOTE_START_BYTES;
    c->delay_tick = 0;
    c->retrigger_interval = 0;

    int command = mod_command_of(c->effect);
    uint8_t xy = mod_param_of(c->effect);
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
    case CMD_PORTAMENTO_VOLUME_SLIDE:  // 5xy
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
    case CMD_SAMPLE_OFFSET:  // 9xx: start xx x 256 bytes in, at once
        if (xy != 0) {
            start_bytes = xy * SAMPLE_OFFSET_UNIT_BYTES;
            c->offset_memory = xy;
        } else {
            start_bytes = c->offset_memory * SAMPLE_OFFSET_UNIT_BYTES;
        }
        c->position = start_bytes;
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
    case CMD_PATTERN_BREAK: {  // Dxy: x and y are decimal digits of the row
        int next = player->order + 1;
        player->next_order = static_cast<uint8_t>(next >= player->song_length ? 0 : next);
        int r = xy & 0x7F;
        int row = (r >> 4) * 10 + (r & 0xF);
        // A pattern has rows 0..63: a break beyond them goes to row 0.
        player->next_row = static_cast<uint8_t>(row >= MOD_ROWS ? 0 : row);
        player->next_is_jump = 1;
        break;
    }
    case CMD_EXTENDED:
        if (!row_extended(player, c, voice, xy >> 4, xy & 0xF)) return;
        break;
    case CMD_SPEED_TEMPO:  // Fxx
        if (xy < SPEED_TEMPO_SPLIT) {
            // F00 would stop the clock: ignored, the speed stays.
            if (xy != 0) player->speed = xy;
        } else {
            player->tempo = xy;
            update_tick_length(player);
        }
        break;
    default:  // 0xy, 1xx, 2xx, 8xx act on later ticks or not at all
        break;
    }

    if (command != CMD_TREMOLO) voice_set_volume(voice, c->volume);
    if (c->trigger) {
        c->first_pass = 1;
        set_channel_period(voice, c->period, c->finetune);
        c->current_sample = c->sample;
        c->playing = c->sample;  // a note without a sample stays silent
        c->position = start_bytes;
        voice_restart(voice);
        if (c->sample != 0 && player->note_callback)
            player->note_callback(player->note_user, channel, c->sample, c->period,
                                  c->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->volume);
    }
}

void tick_effects(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= MOD_CHANNELS) return;
    Channel *c = &player->channels[channel];
    Voice *voice = &player->voices[channel];
    if (c->effect == 0) return;
    int command = mod_command_of(c->effect);
    uint8_t xy = mod_param_of(c->effect);

    if (command == CMD_ARPEGGIO) {  // 0xy: base, +y, +x semitones in turn
        uint16_t period = c->period;
        switch (player->tick % ARPEGGIO_TICKS) {
        case 1: period = arpeggio_period(c->period, xy & 0xF); break;
        case 2: period = arpeggio_period(c->period, xy >> 4); break;
        default: break;
        }
        set_channel_period(voice, period, c->finetune);
        return;
    }

    switch (command) {
    case CMD_SLIDE_UP:  // 1xx: stops at the highest note
        c->period = static_cast<uint16_t>(c->period > xy + MOD_PERIOD_MIN ? c->period - xy : MOD_PERIOD_MIN);
        break;
    case CMD_SLIDE_DOWN: {  // 2xx: stops at the lowest note
        int period = c->period + xy;
        c->period = static_cast<uint16_t>(period > MOD_PERIOD_MAX ? MOD_PERIOD_MAX : period);
        break;
    }
    case CMD_TONE_PORTAMENTO:  // 3xx
        tone_portamento_step(c);
        break;
    case CMD_VIBRATO:  // 4xy
        vibrato_step(c);
        break;
    case CMD_PORTAMENTO_VOLUME_SLIDE:  // 5xy
        tone_portamento_step(c);
        volume_slide(c, xy, c->porta_volume_memory);
        break;
    case CMD_VIBRATO_VOLUME_SLIDE:  // 6xy
        vibrato_step(c);
        volume_slide(c, xy, c->vibrato_volume_memory);
        break;
    case CMD_TREMOLO:  // 7xy
        tremolo_step(c);
        break;
    case CMD_VOLUME_SLIDE:  // Axy
        volume_slide(c, xy, c->slide_memory);
        break;
    case CMD_EXTENDED:
        if ((xy >> 4) == EXT_NOTE_CUT && player->tick == (xy & 0xF)) c->volume = 0;  // ECy
        break;
    default:
        break;
    }

    bool vibrating = command == CMD_VIBRATO || command == CMD_VIBRATO_VOLUME_SLIDE;
    uint16_t period = vibrating ? c->vibrato_period : c->period;
    if (period != 0) set_channel_period(voice, period, c->finetune);
    voice_set_volume(voice, command == CMD_TREMOLO ? c->tremolo_volume : c->volume);
}
