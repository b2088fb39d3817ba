// The command interpreter: each channel's row-start command handling with
// its note start (row_effects) and the per-tick half (tick_effects), with
// the portamento, vibrato, tremolo, tremor, retrigger and slide steps they
// share, the parameter memories, and the channel's volume and panning
// handed to its voice. One switch for every format: where formats differ,
// a quirk of the song or its frequency mode decides. Commands in tracker
// notation: the MOD/XM digit or letter, then x and y, the parameter's high
// and low nibbles (xx or xy is the whole byte); S3M letters where they
// differ.
#include "music/effects_internal.h"

#include <cstring>

#include "music/channel_output_internal.h"
#include "music/it_commands_internal.h"
#include "music/mod_periods_internal.h"
#include "music/mod_tables_internal.h"
#include "music/sample_stream_internal.h"

constexpr uint32_t SAMPLE_OFFSET_UNIT = 256;         // 9xx counts in 256 frames
constexpr int WAVE_HALF_MASK = 31;                   // index into the half sine
constexpr int WAVE_NEGATIVE_BIT = 32;                // second half of the cycle
constexpr int WAVE_POSITION_MASK = 63;
constexpr int WAVE_PEAK = 255;
constexpr int WAVE_RAMP_STEP = 8;                    // the ramp falls 8 a position
constexpr int WAVE_KIND_MASK = 3;                    // E4y/E7y: the waveform
constexpr int VIBRATO_DEPTH_SHIFT = 7;               // MOD periods; S3M's fine vibrato
constexpr int FINE_VIBRATO_DEPTH_SHIFT = 5;          // quarter and linear periods
constexpr int TREMOLO_DEPTH_SHIFT = 6;
constexpr int ARPEGGIO_TICKS = 3;
constexpr int ARPEGGIO_TABLE_TICKS = 16;             // FastTracker II's arpeggio table
// Quarter and linear periods move 4 units for a MOD period's 1.
constexpr int FINE_PERIOD_UNITS = 4;
constexpr int FINE_PERIOD_MIN = 1;
constexpr int FINE_PERIOD_MAX = 65535;
constexpr int AMIGA_LIMIT_MIN = MOD_PERIOD_MIN * FINE_PERIOD_UNITS;
constexpr int AMIGA_LIMIT_MAX = MOD_PERIOD_MAX * FINE_PERIOD_UNITS;
constexpr int LINEAR_SEMITONE_UNITS = 64;
constexpr int GLISSANDO_SEMITONES = 96;              // how far a glissando looks for its semitone
// A voice's gain is volume (0 .. 64) x global volume (0 .. 64) x 4: 16384 at
// both full, the gain that passes a sample unchanged.
constexpr int GAIN_PER_VOLUME_STEP = VOICE_MAX_GAIN / (SONG_MAX_VOLUME * SONG_MAX_VOLUME);
constexpr int PANNING_RIGHT = 255;
constexpr int PANNING_COARSE_STEP = 17;              // E8y: 0 .. 15 onto 0 .. 255
constexpr uint8_t NIBBLE = 0x0F;
constexpr uint8_t HIGH_NIBBLE = 0xF0;
constexpr uint8_t FINE_KIND = 0xF;                   // S3M: DxF, DFy, EFx, FFx
constexpr uint8_t EXTRA_FINE_KIND = 0xE;             // S3M: EEx, FEx
constexpr uint32_t HIGH_OFFSET_UNIT = 65536;         // IT's SAy counts in 65536 frames
constexpr int IT_PANNING_UNIT = 4;                   // IT's panning steps on 0 .. 255
constexpr int IT_PORTAMENTO_COLUMN_UNIT = 4;         // the volume column's e and f: x 4 as Exx
constexpr uint8_t SURROUND_ON = 1;

static uint8_t clamp_volume_up(int volume) {
    return static_cast<uint8_t>(volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : volume);
}

static bool mod_periods(const ModPlayer *player) {
    return player->song->frequency_mode == SONG_FREQUENCY_MOD_TABLE;
}

static bool keeps_voice(const ModPlayer *player) {
    return (player->song->quirks & SONG_QUIRK_COMMANDLESS_TICKS_KEEP_VOICE) != 0;
}

// A quarter or linear period moved by `units` (negative: up in pitch),
// within the song's limits.
static uint16_t period_moved(const ModPlayer *player, int period, int units) {
    period += units;
    int low = FINE_PERIOD_MIN, high = FINE_PERIOD_MAX;
    if (player->song->quirks & SONG_QUIRK_AMIGA_LIMITS) {
        low = AMIGA_LIMIT_MIN;
        high = AMIGA_LIMIT_MAX;
    }
    return static_cast<uint16_t>(period < low ? low : period > high ? high : period);
}

// A period slid up in pitch (down in value) by `amount` units of the
// song's kind: a MOD period stops at 113 (a period of 0, before any note,
// becomes 113), the others, in quarter or linear units, move 4 x amount
// and stop at 1 (or the Amiga limits).
static uint16_t period_up(const ModPlayer *player, int period, int amount) {
    if (mod_periods(player)) {
        period -= amount;
        return static_cast<uint16_t>(period < MOD_PERIOD_MIN ? MOD_PERIOD_MIN : period);
    }
    return period_moved(player, period, -amount * FINE_PERIOD_UNITS);
}

// A period slid down in pitch by `amount`: a MOD period stops at 856 (and
// from 0 climbs from 0), the others move 4 x amount and stop at 65535.
static uint16_t period_down(const ModPlayer *player, int period, int amount) {
    if (mod_periods(player)) {
        period += amount;
        return static_cast<uint16_t>(period > MOD_PERIOD_MAX ? MOD_PERIOD_MAX : period);
    }
    return period_moved(player, period, amount * FINE_PERIOD_UNITS);
}

// The channel's voice plays `period` (with the channel's fraction).
static void play_period(const ModPlayer *player, const Channel *c, Voice *voice, uint16_t period) {
    set_voice_period(voice, player->song, period, c->finetune, c->period_fraction);
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

// Signed waveform value at a position (64 positions per cycle): the half
// sine (0), a ramp down (1), a square (2; 3 plays the ramp).
static int wave_value(uint8_t waveform, uint8_t position) {
    switch (waveform & WAVE_KIND_MASK) {
    case 0: {
        int d = vibrato_sine[position & WAVE_HALF_MASK];
        return (position & WAVE_NEGATIVE_BIT) ? -d : d;
    }
    case 2:
        return (position & WAVE_NEGATIVE_BIT) ? -WAVE_PEAK : WAVE_PEAK;
    default:
        return WAVE_PEAK - (position & WAVE_POSITION_MASK) * WAVE_RAMP_STEP;
    }
}

// Volume slide: up by x (at most 64) when x is set, else down by y (at
// least 0). Uses the row's parameter, or `memory` when that is 0.
static void volume_slide(Channel *c, uint8_t param, uint8_t memory) {
    int v = param != 0 ? param : memory;
    int up = v >> 4;
    int down = v & NIBBLE;
    if (up != 0) {
        c->volume = clamp_volume_up(c->volume + up);
    } else if (down != 0) {
        c->volume = static_cast<uint8_t>(down > c->volume ? 0 : c->volume - down);
    }
}

// The volume slide of S3M and IT (SONG_QUIRK_SLIDE_KIND_IN_PARAMETER) on
// the row's first tick (`first`) or a later one. IT's is its kind slide;
// Scream Tracker 3's: DxF and DFy slide once, on the first; Dx0 and D0y on
// the later ones (and the first under SONG_QUIRK_FAST_VOLUME_SLIDES); D0F
// and DF0 on every tick; other D slide down by y on the later ticks.
static void kind_volume_slide(const ModPlayer *player, Channel *c, uint8_t xy, bool first) {
    if (player->song->quirks & SONG_QUIRK_COMMAND_MEMORIES) {
        // Impulse Tracker's kinds (it_commands_internal.h).
        c->volume = static_cast<uint8_t>(it_kind_slide(c->volume, xy, first, VOICE_MAX_VOLUME));
        return;
    }
    const int x = xy >> 4, y = xy & NIBBLE;
    int change = 0;
    if (y == FINE_KIND && x != 0) {
        if (first) change = x;
    } else if (x == FINE_KIND && y != 0) {
        if (first) change = -y;
    } else {
        // D0F and DF0 slide on the first tick too; with both nibbles set
        // the slide goes down.
        const bool every_tick = (x == 0 && y == FINE_KIND) || (x == FINE_KIND && y == 0);
        if (!first || every_tick || (player->song->quirks & SONG_QUIRK_FAST_VOLUME_SLIDES)) change = y == 0 ? x : -y;
    }
    const int v = c->volume + change;
    c->volume = static_cast<uint8_t>(v < 0 ? 0 : v > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : v);
}

// The volume slide part of A, 5 and 6 (S3M's D, L and K) on a later tick.
static void slide_volume_tick(const ModPlayer *player, Channel *c, uint8_t xy, uint8_t memory) {
    if (player->song->quirks & SONG_QUIRK_SLIDE_KIND_IN_PARAMETER) kind_volume_slide(player, c, xy, false);
    else volume_slide(c, xy, memory);
}

// The period a tone portamento with glissando plays: the slide's period
// moved to the nearest semitone counted from the target.
static uint16_t glissando_period(const ModPlayer *player, const Channel *c) {
    const int target = c->porta_target, period = c->period;
    if (target == 0 || period == target) return c->period;
    if (player->song->frequency_mode == SONG_FREQUENCY_LINEAR) {
        const int offset = period - target;
        const int half = LINEAR_SEMITONE_UNITS / 2;
        const int steps = (offset >= 0 ? offset + half : offset - half) / LINEAR_SEMITONE_UNITS;
        const int moved = target + steps * LINEAR_SEMITONE_UNITS;
        return static_cast<uint16_t>(moved < FINE_PERIOD_MIN ? FINE_PERIOD_MIN : moved > FINE_PERIOD_MAX ? FINE_PERIOD_MAX : moved);
    }
    // Quarter (or MOD) periods: the semitone above or below nearest in value.
    int best = target;
    if (period < target) {
        for (int steps = 1; steps < GLISSANDO_SEMITONES; steps++) {
            const int p = semitones_up(SONG_FREQUENCY_AMIGA, static_cast<uint16_t>(target), steps);
            if (p <= period) {
                if (best - period > period - p) best = p;
                break;
            }
            best = p;
        }
    } else {
        for (int steps = 1; steps < GLISSANDO_SEMITONES; steps++) {
            const int p = semitones_up(SONG_FREQUENCY_AMIGA, static_cast<uint16_t>(period), steps);
            if (p <= target) break;
            best = p;
        }
        // `best` is now the lowest semitone above the period counted down
        // from it; the target's semitones lie on the same grid within a
        // rounding step, which is what a glissando can be heard to keep.
        if (best == target) best = period;
    }
    return static_cast<uint16_t>(best);
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
    if (period == target) c->period_fraction = c->porta_fraction;
    c->tick_period = c->glissando ? glissando_period(player, c) : c->period;
}

// One tick of vibrato at the channel's speed and depth: the period to play
// goes to vibrato_period (and tick_period). `depth_shift` scales the
// swing: 7 for MOD periods and S3M's fine vibrato, 5 for quarter and
// linear periods; one more under SONG_QUIRK_VIBRATO_EVERY_TICK.
static void vibrato_step(const ModPlayer *player, Channel *c, int depth_shift) {
    if (player->song->quirks & SONG_QUIRK_VIBRATO_EVERY_TICK) depth_shift++;
    const bool restarts = (player->song->quirks & SONG_QUIRK_WAVES_RESTART_EACH_ROW) != 0;
    if (restarts) c->vibrato_pos = static_cast<uint8_t>(c->vibrato_pos + (c->vibrato_param >> 4));
    // |d x depth| <= 255 x 15: small; the shift of a negative value is
    // arithmetic.
    const int swing = wave_value(c->vibrato_waveform, c->vibrato_pos) * (c->vibrato_param & NIBBLE);
    if (!restarts) c->vibrato_pos = static_cast<uint8_t>(c->vibrato_pos + (c->vibrato_param >> 4));
    if (mod_periods(player)) {
        int period = c->period + (swing >> VIBRATO_DEPTH_SHIFT);
        if (period < MOD_PERIOD_MIN) period = MOD_PERIOD_MIN;
        if (period > MOD_PERIOD_MAX) period = MOD_PERIOD_MAX;
        c->vibrato_period = static_cast<uint16_t>(period);
    } else {
        int period = c->period + (swing >> depth_shift);
        if (period < FINE_PERIOD_MIN) period = FINE_PERIOD_MIN;
        if (period > FINE_PERIOD_MAX) period = FINE_PERIOD_MAX;
        c->vibrato_period = static_cast<uint16_t>(period);
    }
    c->tick_period = c->vibrato_period;
}

static void tremolo_step(const ModPlayer *player, Channel *c) {
    const bool restarts = (player->song->quirks & SONG_QUIRK_WAVES_RESTART_EACH_ROW) != 0;
    if (restarts) c->tremolo_pos = static_cast<uint8_t>(c->tremolo_pos + (c->tremolo_param >> 4));
    int volume = c->volume + ((wave_value(c->tremolo_waveform, c->tremolo_pos) * (c->tremolo_param & NIBBLE)) >>
                              TREMOLO_DEPTH_SHIFT);
    if (!restarts) c->tremolo_pos = static_cast<uint8_t>(c->tremolo_pos + (c->tremolo_param >> 4));
    if (volume < 0) volume = 0;
    if (volume > VOICE_MAX_VOLUME) volume = VOICE_MAX_VOLUME;
    c->tremolo_volume = static_cast<uint8_t>(volume);
    c->tick_volume = c->tremolo_volume;
}

// A waveform command's parameter: the whole byte under
// SONG_QUIRK_WAVES_RESTART_EACH_ROW (and the waveform restarts), else
// speed and depth each kept when 0.
static void wave_parameter(const ModPlayer *player, uint8_t *param, uint8_t *position, uint8_t xy) {
    if (player->song->quirks & SONG_QUIRK_WAVES_RESTART_EACH_ROW) {
        *position = 0;
        if (xy != 0) *param = xy;
        return;
    }
    if (xy & HIGH_NIBBLE) *param = static_cast<uint8_t>((*param & NIBBLE) | (xy & HIGH_NIBBLE));
    if (xy & NIBBLE) *param = static_cast<uint8_t>((*param & HIGH_NIBBLE) | (xy & NIBBLE));
}

// The global volume's top: 64, or 128 under SONG_QUIRK_LAYERED_VOLUMES.
static int most_global(const ModPlayer *player) {
    return (player->song->quirks & SONG_QUIRK_LAYERED_VOLUMES) ? SONG_MAX_WIDE_VOLUME : SONG_MAX_VOLUME;
}

// IT's Pxy (SONG_QUIRK_PANNING_SLIDE_KINDS) on the row's first tick or a
// later one: left by x, right by y, in IT's panning steps.
static void it_panning_slide(Channel *c, uint8_t xy, bool first) {
    // it_kind_slide moves up by x and down by y: here left is up.
    constexpr int MIDDLE = 1000, ROOM = 2000;
    const int left = it_kind_slide(MIDDLE, xy, first, ROOM) - MIDDLE;
    const int panning = c->panning - left * IT_PANNING_UNIT;
    c->panning = static_cast<uint8_t>(panning < 0 ? 0 : panning > PANNING_RIGHT ? PANNING_RIGHT : panning);
}

// The vibrato (and panbrello) of the row's first tick, where IT moves them
// on every tick (SONG_QUIRK_VIBRATO_EVERY_TICK).
static void first_tick_waves(ModPlayer *player, Channel *c) {
    switch (c->command) {
    case CMD_VIBRATO: case CMD_VIBRATO_VOLUME_SLIDE: vibrato_step(player, c, FINE_VIBRATO_DEPTH_SHIFT); break;
    case CMD_FINE_VIBRATO: vibrato_step(player, c, VIBRATO_DEPTH_SHIFT); break;
    case CMD_PANBRELLO: it_panbrello_step(c); break;
    default:
        if (c->volume_command == VOLCMD_VIBRATO) vibrato_step(player, c, FINE_VIBRATO_DEPTH_SHIFT);
        break;
    }
}

// E6y: y = 0 marks the start, else the section repeats.
static void pattern_loop(ModPlayer *player, Channel *c, int y) {
    if (y == 0) {
        c->loop_row = player->row;
        return;
    }
    const bool shares_break_row = (player->song->quirks & SONG_QUIRK_LOOP_ROW_IS_BREAK_ROW) != 0;
    if (shares_break_row && player->row_broke) return;  // the break came first
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
        player->row_looped = 1;
    } else if (shares_break_row) {
        // Played out: the next pattern starts at the loop's start.
        player->loop_carry = 1;
        player->loop_carry_row = c->loop_row;
        if (player->next_order != player->order && !player->next_is_jump) player->next_row = c->loop_row;
    } else if (player->song->quirks & SONG_QUIRK_LOOP_STARTS_AFTER) {
        c->loop_row = static_cast<uint8_t>(player->row + 1);
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

// The memory slot of a command under SONG_QUIRK_SLIDE_MEMORIES, or null
// for a command that keeps none there.
static uint8_t *slide_memory_of(Channel *c, int command) {
    switch (command) {
    case CMD_PORTAMENTO_UP: return &c->porta_up_memory;
    case CMD_PORTAMENTO_DOWN: return &c->porta_down_memory;
    case CMD_FINE_PORTAMENTO_UP: return &c->fine_porta_up_memory;
    case CMD_FINE_PORTAMENTO_DOWN: return &c->fine_porta_down_memory;
    case CMD_EXTRA_FINE_PORTAMENTO_UP: return &c->extra_fine_up_memory;
    case CMD_EXTRA_FINE_PORTAMENTO_DOWN: return &c->extra_fine_down_memory;
    case CMD_FINE_VOLUME_UP: return &c->fine_volume_up_memory;
    case CMD_FINE_VOLUME_DOWN: return &c->fine_volume_down_memory;
    case CMD_VOLUME_SLIDE:
    case CMD_TONE_PORTAMENTO_VOLUME_SLIDE:
    case CMD_VIBRATO_VOLUME_SLIDE: return &c->slide_memory;
    case CMD_GLOBAL_VOLUME_SLIDE: return &c->global_slide_memory;
    case CMD_PANNING_SLIDE: return &c->panning_slide_memory;
    case CMD_TREMOR: return &c->tremor_memory;
    default: return nullptr;
    }
}

// Whether a command shares S3M's one parameter memory.
static bool shares_memory(int command) {
    switch (command) {
    case CMD_VOLUME_SLIDE: case CMD_PORTAMENTO_UP: case CMD_PORTAMENTO_DOWN: case CMD_TREMOR:
    case CMD_ARPEGGIO: case CMD_VIBRATO_VOLUME_SLIDE: case CMD_TONE_PORTAMENTO_VOLUME_SLIDE:
    case CMD_MULTI_RETRIGGER: case CMD_TREMOLO:
        return true;
    default:
        return false;
    }
}

// The row's parameter with the format's memories applied: a 00 recalls
// what the memory holds, anything else is remembered. Multi retrigger
// keeps each nibble. Under SONG_QUIRK_SLIDE_KIND_IN_PARAMETER a portamento
// becomes the fine or extra-fine one its parameter names. The result
// replaces the channel's command and parameter for the rest of the row.
static void recall_parameter(const ModPlayer *player, Channel *c) {
    const uint64_t quirks = player->song->quirks;
    if (quirks & SONG_QUIRK_COMMAND_MEMORIES) {
        it_recall_parameter(player, c);
    } else if ((quirks & SONG_QUIRK_SHARED_EFFECT_MEMORY) && shares_memory(c->command)) {
        if (c->param != 0) c->shared_memory = c->param;
        else c->param = c->shared_memory;
    } else if (quirks & SONG_QUIRK_SLIDE_MEMORIES) {
        if (c->command == CMD_MULTI_RETRIGGER) {
            uint8_t m = c->retrigger_memory;
            if (c->param & HIGH_NIBBLE) m = static_cast<uint8_t>((m & NIBBLE) | (c->param & HIGH_NIBBLE));
            if (c->param & NIBBLE) m = static_cast<uint8_t>((m & HIGH_NIBBLE) | (c->param & NIBBLE));
            c->retrigger_memory = m;
            c->param = m;
        } else if (uint8_t *memory = slide_memory_of(c, c->command)) {
            if (c->param != 0) *memory = c->param;
            else c->param = *memory;
        }
    } else if (c->command == CMD_MULTI_RETRIGGER) {
        if (c->param != 0) c->retrigger_memory = c->param;
        else c->param = c->retrigger_memory;
    }
    if ((quirks & SONG_QUIRK_SLIDE_KIND_IN_PARAMETER) &&
        (c->command == CMD_PORTAMENTO_UP || c->command == CMD_PORTAMENTO_DOWN)) {
        const uint8_t kind = c->param >> 4;
        const bool up = c->command == CMD_PORTAMENTO_UP;
        if (kind == FINE_KIND) {
            c->command = up ? CMD_FINE_PORTAMENTO_UP : CMD_FINE_PORTAMENTO_DOWN;
            c->param &= NIBBLE;
        } else if (kind == EXTRA_FINE_KIND) {
            c->command = up ? CMD_EXTRA_FINE_PORTAMENTO_UP : CMD_EXTRA_FINE_PORTAMENTO_DOWN;
            c->param &= NIBBLE;
        }
    }
}

// Bxx and Dxy: where the song goes after this row.
static void position_jump(ModPlayer *player, int order) {
    player->next_order = static_cast<uint16_t>(order >= player->song_length ? 0 : order);
    if (!(player->song->quirks & SONG_QUIRK_JUMP_AND_BREAK_COMBINE) || !player->row_broke) player->next_row = 0;
    player->next_is_jump = 1;
    player->row_jumped = 1;
}

static void pattern_break(ModPlayer *player, int row) {
    if ((player->song->quirks & SONG_QUIRK_LOOP_ROW_IS_BREAK_ROW) && player->row_looped) {
        // The loop came first: it goes back to the break's row.
        player->next_row = static_cast<uint8_t>(row);
        player->row_broke = 1;
        return;
    }
    if (!(player->song->quirks & SONG_QUIRK_JUMP_AND_BREAK_COMBINE) || !player->row_jumped) {
        const int next = player->order + 1;
        player->next_order = static_cast<uint16_t>(next >= player->song_length ? 0 : next);
    }
    player->next_row = static_cast<uint8_t>(row);
    player->next_is_jump = 1;
    player->row_broke = 1;
}

// ---------------------------------------------------------------------------
// The volume column (XM's volume byte; S3M's holds volumes only)

void volume_column_row(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= player->channel_count) return;
    Channel *c = &player->channels[channel];
    // IT: the slides a .. d keep one memory between them.
    const bool slide = c->volume_command >= VOLCMD_SLIDE_DOWN && c->volume_command <= VOLCMD_FINE_SLIDE_UP;
    if (slide && (player->song->quirks & SONG_QUIRK_COMMAND_MEMORIES)) {
        if (c->volume_param != 0) c->column_memory = c->volume_param;
        else c->volume_param = c->column_memory;
    }
    const uint8_t v = c->volume_param;
    switch (c->volume_command) {
    case VOLCMD_SET_VOLUME:
        c->volume = v > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : v;
        break;
    case VOLCMD_FINE_SLIDE_DOWN:
        c->volume = static_cast<uint8_t>(c->volume < v ? 0 : c->volume - v);
        break;
    case VOLCMD_FINE_SLIDE_UP:
        c->volume = clamp_volume_up(c->volume + v);
        break;
    case VOLCMD_PORTAMENTO_DOWN:  // IT's e and f: x 4 as Exx's parameter, E and F's memory
    case VOLCMD_PORTAMENTO_UP:
        if (v != 0) c->portamento_memory = static_cast<uint8_t>(v * IT_PORTAMENTO_COLUMN_UNIT);
        c->volume_param = c->portamento_memory;
        break;
    case VOLCMD_TONE_PORTAMENTO_SPEED:  // IT's g: its speed, G's memory (E and F's, linked)
        if (player->song->quirks & SONG_QUIRK_LINKED_PORTAMENTO_MEMORY) {
            if (v != 0) c->portamento_memory = v;
            c->porta_speed = c->portamento_memory;
        } else if (v != 0) {
            c->porta_speed = v;
        }
        if (c->note != 0) c->porta_target = c->note;
        c->trigger = 0;
        break;
    case VOLCMD_PANNING:  // IT's panning column
        c->panning = v;
        break;
    case VOLCMD_VIBRATO_SPEED:  // the speed of the vibrato to come
        if (v != 0) c->vibrato_param = static_cast<uint8_t>((c->vibrato_param & NIBBLE) | v << 4);
        break;
    case VOLCMD_VIBRATO:  // the depth; the vibrato runs on the later ticks
        if (v != 0) c->vibrato_param = static_cast<uint8_t>((c->vibrato_param & HIGH_NIBBLE) | v);
        break;
    case VOLCMD_SET_PANNING:
        if (!(player->song->quirks & SONG_QUIRK_HARD_PANNING)) c->panning = static_cast<uint8_t>(v << 4);
        break;
    case VOLCMD_TONE_PORTAMENTO:  // speed v x 16, shared with 3xx
        if (v != 0) c->porta_speed = static_cast<uint8_t>(v << 4);
        if (c->note != 0) {
            c->porta_target = c->note;
            c->porta_fraction = c->note_fraction;
        }
        c->trigger = 0;
        break;
    default:  // the slides act on the later ticks
        break;
    }
    c->tick_volume = c->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->volume;
}

// The volume column's half of a later tick, before the row's command.
static void volume_column_tick(ModPlayer *player, Channel *c) {
    const uint8_t v = c->volume_param;
    switch (c->volume_command) {
    case VOLCMD_SLIDE_DOWN:
        c->volume = static_cast<uint8_t>(c->volume < v ? 0 : c->volume - v);
        break;
    case VOLCMD_SLIDE_UP:
        c->volume = clamp_volume_up(c->volume + v);
        break;
    case VOLCMD_VIBRATO:
        vibrato_step(player, c, FINE_VIBRATO_DEPTH_SHIFT);
        break;
    case VOLCMD_PANNING_SLIDE_LEFT:
        if (!(player->song->quirks & SONG_QUIRK_HARD_PANNING)) c->panning = static_cast<uint8_t>(c->panning < v ? 0 : c->panning - v);
        break;
    case VOLCMD_PANNING_SLIDE_RIGHT:
        if (!(player->song->quirks & SONG_QUIRK_HARD_PANNING))
            c->panning = static_cast<uint8_t>(c->panning + v > PANNING_RIGHT ? PANNING_RIGHT : c->panning + v);
        break;
    case VOLCMD_TONE_PORTAMENTO:
    case VOLCMD_TONE_PORTAMENTO_SPEED:
        tone_portamento_step(player, c);
        break;
    case VOLCMD_PORTAMENTO_DOWN:
        c->period = period_down(player, c->period, v);
        c->tick_period = c->period;
        break;
    case VOLCMD_PORTAMENTO_UP:
        c->period = period_up(player, c->period, v);
        c->tick_period = c->period;
        break;
    default:
        break;
    }
}

// Txy (S3M's Ixy) on a tick it counts: heard for x + 1 ticks, silent for y + 1.
static void tremor_tick(const ModPlayer *player, Channel *c, uint8_t xy) {
    const int on = (xy >> 4) + 1, off = (xy & NIBBLE) + 1;
    if (c->tremor_count >= on + off) c->tremor_count = 0;
    const bool silent = c->tremor_count >= on;
    if (silent) c->tick_volume = 0;
    if (player->song->quirks & SONG_QUIRK_TREMOR_MUTES) c->tremor_muted = silent;
    c->tremor_count++;
}

// ---------------------------------------------------------------------------
// The row's command

// Rxy (S3M's Qxy) counting a tick: every y ticks the sample restarts (the
// caller restarts it when this returns true), the volume changed by x's
// rule. A y of 0 restarts it on every tick under
// SONG_QUIRK_RETRIGGER_COUNTS_ON or SONG_QUIRK_RETRIGGER_COUNTS_DOWN, else
// never. Under SONG_QUIRK_RETRIGGER_COUNTS_DOWN retrigger_count holds the
// ticks left, the restart coming when none are.
static bool multi_retrigger_tick(const ModPlayer *player, Channel *c, uint8_t xy) {
    const uint64_t quirks = player->song->quirks;
    int interval = xy & NIBBLE;
    if (interval == 0 && (quirks & (SONG_QUIRK_RETRIGGER_COUNTS_ON | SONG_QUIRK_RETRIGGER_COUNTS_DOWN))) interval = 1;
    if (interval == 0) return false;
    if (quirks & SONG_QUIRK_RETRIGGER_COUNTS_DOWN) {
        if (c->retrigger_count > 1) {
            c->retrigger_count--;
            return false;
        }
        c->retrigger_count = static_cast<uint8_t>(interval);
    } else {
        if (++c->retrigger_count < interval) return false;
        c->retrigger_count = 0;
    }
    int v = c->volume;
    switch (xy >> 4) {
    case 1: v -= 1; break;
    case 2: v -= 2; break;
    case 3: v -= 4; break;
    case 4: v -= 8; break;
    case 5: v -= 16; break;
    case 6: v = v * 2 / 3; break;
    case 7: v /= 2; break;
    case 9: v += 1; break;
    case 0xA: v += 2; break;
    case 0xB: v += 4; break;
    case 0xC: v += 8; break;
    case 0xD: v += 16; break;
    case 0xE: v = v * 3 / 2; break;
    case 0xF: v *= 2; break;
    default: break;
    }
    c->volume = static_cast<uint8_t>(v < 0 ? 0 : v > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : v);
    return true;
}

// Whether the channel's instrument has a volume envelope with a sustain point
// (its flag set, whether or not the envelope is on).
static bool sustained_volume_envelope(const ModPlayer *player, const Channel *c) {
    const Song *song = player->song;
    if (c->instrument == 0 || c->instrument > song->instrument_count) return false;
    return (song->instruments[c->instrument - 1].volume_envelope.flags & SONG_ENVELOPE_SUSTAIN) != 0;
}

void row_effects(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= player->channel_count) return;
    Channel *c = &player->channels[channel];
    Voice *voice = &player->voices[channel];
    const uint64_t quirks = player->song->quirks;
    const bool classic = keeps_voice(player);
    uint32_t start = c->note_start;
    bool offset_past_end = false;
    c->delay_tick = 0;
    c->retrigger_interval = 0;
    // Scream Tracker 3 slides on from the note an arpeggio played last.
    if ((quirks & SONG_QUIRK_SLIDE_FROM_ARPEGGIO) && player->tick == 0 && c->previous_command == CMD_ARPEGGIO &&
        (c->command == CMD_PORTAMENTO_UP || c->command == CMD_PORTAMENTO_DOWN) && c->tick_period != 0)
        c->period = c->tick_period;
    if (!classic) {
        c->tick_period = c->period;
        c->tick_volume = c->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->volume;
    }

    recall_parameter(player, c);
    const int command = c->command;
    const uint8_t xy = c->param;
    switch (command) {
    case CMD_TONE_PORTAMENTO:  // 3xx
        c->trigger = 0;
        if (c->note != 0) {
            c->porta_target = c->note;
            c->porta_fraction = c->note_fraction;
        }
        if (xy != 0) c->porta_speed = xy;
        break;
    case CMD_VIBRATO:  // 4xy
    case CMD_FINE_VIBRATO:  // S3M's Uxy
        wave_parameter(player, &c->vibrato_param, &c->vibrato_pos, xy);
        break;
    case CMD_TONE_PORTAMENTO_VOLUME_SLIDE:  // 5xy
        c->trigger = 0;
        if (c->note != 0) {
            c->porta_target = c->note;
            c->porta_fraction = c->note_fraction;
        }
        if (xy != 0) c->porta_volume_memory = xy;
        if (quirks & SONG_QUIRK_SLIDE_KIND_IN_PARAMETER) kind_volume_slide(player, c, xy, true);
        break;
    case CMD_VIBRATO_VOLUME_SLIDE:  // 6xy
        if (quirks & SONG_QUIRK_WAVES_RESTART_EACH_ROW) c->vibrato_pos = 0;
        if (xy != 0) c->vibrato_volume_memory = xy;
        if (quirks & SONG_QUIRK_SLIDE_KIND_IN_PARAMETER) kind_volume_slide(player, c, xy, true);
        break;
    case CMD_TREMOLO:  // 7xy
        wave_parameter(player, &c->tremolo_param, &c->tremolo_pos, xy);
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
        start += c->high_offset * HIGH_OFFSET_UNIT;  // IT's SAy; 0 elsewhere
        if (!classic && !c->trigger) {
            // Only a note starts at an offset; alone the command does nothing.
            start = c->note_start;
            break;
        }
        if ((quirks & SONG_QUIRK_OFFSET_PAST_END_IGNORED) && c->sample != 0 && c->sample <= c->sample_count &&
            start >= c->samples[c->sample - 1].length)
            start = c->note_start;
        if ((quirks & SONG_QUIRK_OFFSET_PAST_END_SILENT) && c->sample != 0 && c->sample <= c->sample_count) {
            const SongSample *sample = &c->samples[c->sample - 1];
            const uint32_t end = sample->loop != SONG_LOOP_NONE ? sample->loop_start + sample->loop_length : sample->length;
            offset_past_end = start >= end;
        }
        c->position = start;
        c->backwards = 0;
        if (!c->trigger) voice_restart(voice);
        break;
    case CMD_VOLUME_SLIDE:  // Axy
        if (xy != 0) c->slide_memory = xy;
        if (quirks & SONG_QUIRK_SLIDE_KIND_IN_PARAMETER) kind_volume_slide(player, c, xy, true);
        break;
    case CMD_POSITION_JUMP:  // Bxx
        position_jump(player, xy);
        break;
    case CMD_SET_VOLUME:  // Cxx: stored unclamped; the voice clamps to 64
        c->volume = xy;
        break;
    case CMD_PATTERN_BREAK:  // Dxy: the row number (a row past the next
                             // pattern's end goes to row 0, at the boundary)
        pattern_break(player, xy);
        break;
    case CMD_SET_SPEED:  // Fxx below 32: F00 would stop the clock: ignored
        if (xy != 0) player->speed = xy;
        break;
    case CMD_SET_TEMPO:  // Fxx from 32: the clock takes it up after the tick
        player->tempo = xy;
        break;
    case CMD_FINE_PORTAMENTO_UP:  // E1y
        c->period = period_up(player, c->period, xy);
        play_period(player, c, voice, c->period);
        break;
    case CMD_FINE_PORTAMENTO_DOWN:  // E2y
        c->period = period_down(player, c->period, xy);
        play_period(player, c, voice, c->period);
        break;
    case CMD_EXTRA_FINE_PORTAMENTO_UP:  // X1y: y quarter or linear units
        if (c->period != 0) c->period = period_moved(player, c->period, -xy);
        break;
    case CMD_EXTRA_FINE_PORTAMENTO_DOWN:  // X2y
        if (c->period != 0) c->period = period_moved(player, c->period, xy);
        break;
    case CMD_GLISSANDO:  // E3y
        c->glissando = xy != 0;
        break;
    case CMD_VIBRATO_WAVEFORM:  // E4y
        c->vibrato_waveform = xy;
        break;
    case CMD_TREMOLO_WAVEFORM:  // E7y
        c->tremolo_waveform = xy;
        break;
    case CMD_PATTERN_LOOP:  // E6y
        pattern_loop(player, c, xy);
        break;
    case CMD_SET_PANNING_COARSE:  // E8y
        if (!(quirks & SONG_QUIRK_HARD_PANNING)) c->panning = static_cast<uint8_t>(xy * PANNING_COARSE_STEP);
        break;
    case CMD_RETRIGGER:  // E9y: restart on every y-th tick (the check reruns
                         // this); on the row's first tick only where the
                         // voice is kept by commands alone. FastTracker II
                         // also starts the envelopes again (key off and
                         // fadeout go on).
        c->retrigger_interval = xy;
        if (classic || player->tick != 0) {
            c->trigger = 1;
            if (quirks & SONG_QUIRK_INSTRUMENT_WAITS_FOR_NOTE) {
                c->volume_envelope_tick = 0;
                c->panning_envelope_tick = 0;
            }
        }
        break;
    case CMD_FINE_VOLUME_UP:  // EAy
        c->volume = clamp_volume_up(c->volume + xy);
        break;
    case CMD_FINE_VOLUME_DOWN:  // EBy
        c->volume = static_cast<uint8_t>(c->volume < xy ? 0 : c->volume - xy);
        break;
    case CMD_NOTE_CUT:  // ECy: at once for y = 0, where every tick sets the voice
        if (!classic && xy == 0) c->volume = 0;
        break;
    case CMD_NOTE_DELAY:  // EDy: the retrigger check reruns this on tick y
        c->delay_tick = xy;
        if (xy != player->tick) return;
        break;
    case CMD_PATTERN_DELAY:  // EEy
        if (quirks & SONG_QUIRK_PATTERN_DELAY_TICKS) player->row_delay = static_cast<uint8_t>(xy * player->speed);
        else if (!player->row_delay_read || !(quirks & SONG_QUIRK_FIRST_PATTERN_DELAY)) player->row_delay_rows = xy;
        player->row_delay_read = 1;
        break;
    case CMD_SET_GLOBAL_VOLUME:  // Gxx (IT's Vxx: 0 .. 128)
        player->global_volume = xy > most_global(player) ? most_global(player) : xy;
        break;
    case CMD_GLOBAL_VOLUME_SLIDE:  // IT's Wxy: WxF and WFy on the first tick
        if (quirks & SONG_QUIRK_SLIDE_KIND_IN_PARAMETER)
            player->global_volume = static_cast<uint8_t>(it_kind_slide(player->global_volume, xy, true, most_global(player)));
        break;
    case CMD_PANNING_SLIDE:  // IT's PxF and PFy on the first tick
        if (quirks & SONG_QUIRK_PANNING_SLIDE_KINDS) it_panning_slide(c, xy, true);
        break;
    // Impulse Tracker's own
    case CMD_SET_CHANNEL_VOLUME:  // Mxx
        c->channel_volume = xy;
        break;
    case CMD_CHANNEL_VOLUME_SLIDE:  // NxF and NFy on the first tick
        c->channel_volume = static_cast<uint8_t>(it_kind_slide(c->channel_volume, xy, true, SONG_MAX_VOLUME));
        break;
    case CMD_PANBRELLO:  // Yxy: speed and depth each kept when 0
        c->panbrello_param = static_cast<uint8_t>(((xy & HIGH_NIBBLE) ? xy & HIGH_NIBBLE : c->panbrello_param & HIGH_NIBBLE) |
                                                  ((xy & NIBBLE) ? xy & NIBBLE : c->panbrello_param & NIBBLE));
        break;
    case CMD_PANBRELLO_WAVEFORM:  // S5y
        c->panbrello_waveform = xy;
        break;
    case CMD_FINE_PATTERN_DELAY:  // S6y: y ticks more
        player->row_delay = static_cast<uint8_t>(player->row_delay + xy);
        break;
    case CMD_INSTRUMENT_CONTROL:  // S7y
        it_instrument_control(player, channel, xy);
        break;
    case CMD_SURROUND:  // S91: played centred
        if (xy == SURROUND_ON) c->panning = SONG_PANNING_CENTER;
        break;
    case CMD_HIGH_OFFSET:  // SAy
        c->high_offset = xy;
        break;
    case CMD_SET_ACTIVE_MACRO:  // SFy
        c->active_macro = xy;
        break;
    case CMD_MIDI_MACRO:  // Zxx
        it_midi_macro(player, c, xy);
        break;
    case CMD_KEY_OFF:  // Kxx: on tick xx, at once for 0
        if (xy == 0) instrument_release(player, c);
        break;
    case CMD_MULTI_RETRIGGER:  // Qxy: the row's first tick counts after a row
                               // that held one too, else starts the count
                               // (always counts when the count runs down)
        if (player->tick != 0) break;
        if ((quirks & SONG_QUIRK_RETRIGGER_COUNTS_ON) && c->previous_command != CMD_MULTI_RETRIGGER)
            c->retrigger_count = 0;
        else if ((quirks & (SONG_QUIRK_RETRIGGER_COUNTS_ON | SONG_QUIRK_RETRIGGER_COUNTS_DOWN)) &&
                 multi_retrigger_tick(player, c, xy))
            c->trigger = 1;
        break;
    case CMD_SET_ENVELOPE_POSITION:  // Lxx: the panning envelope's too only
                                     // when the volume envelope has a sustain
                                     // point (FastTracker II)
        c->volume_envelope_tick = xy;
        if (sustained_volume_envelope(player, c)) c->panning_envelope_tick = xy;
        break;
    default:  // the rest act on later ticks or not at all
        break;
    }

    if (command != CMD_TREMOLO) play_volume(player, c, voice, c->volume);
    if (c->trigger) {
        c->first_pass = (quirks & SONG_QUIRK_FIRST_PASS_TO_SAMPLE_END) ? 1 : 0;
        play_period(player, c, voice, c->period);
        c->current_sample = c->sample;
        c->playing = c->sample != 0;  // a note without a sample stays silent
        c->position = start;
        c->backwards = 0;
        choose_source(voice, c);
        voice_restart(voice);
        if (c->sample != 0)
            player_note_started(player, channel, c->instrument, c->sample, c->period,
                                c->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->volume);
        if (offset_past_end) c->playing = 0;
    }
    if (!classic) {
        c->tick_period = c->period;
        c->tick_volume = c->tremor_muted ? 0 : c->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->volume;
        if (command == CMD_TREMOR && (quirks & SONG_QUIRK_TREMOR_COUNTS_FIRST_TICK)) tremor_tick(player, c, xy);
    }
    if ((quirks & SONG_QUIRK_VIBRATO_EVERY_TICK) && player->tick == 0) first_tick_waves(player, c);
}

// Which of an arpeggio's three notes a later tick plays: 0 the note, 1 the
// first step (x), 2 the second (y). The tick counted from the row's start
// in threes; under SONG_QUIRK_ARPEGGIO_TICKS_LEFT from the ticks left in
// the row (or in the repeat of a row a pattern delay repeats), as FastTracker
// II counts them: 1 left plays x, 2 left y, 3 the note and so on, but 16 left
// the note and more than 16 y (its table of steps ends there).
static int arpeggio_phase(const ModPlayer *player) {
    if (!(player->song->quirks & SONG_QUIRK_ARPEGGIO_TICKS_LEFT)) return player->tick % ARPEGGIO_TICKS;
    const int speed = player->speed;
    const int into = player->tick % speed;
    if (into == 0) return 0;
    const int left = speed - into;
    if (left > ARPEGGIO_TABLE_TICKS) return 2;
    if (left == ARPEGGIO_TABLE_TICKS) return 0;
    return left % ARPEGGIO_TICKS;
}

// IT's Ixy without old effects (SONG_QUIRK_TREMOR_EXACT_TICKS): heard for
// x ticks and silent for y, 0 read as 1; as the parameter tremor_tick
// plays so (one less each).
static uint8_t exact_tremor(uint8_t xy) {
    const int on = (xy >> 4) ? (xy >> 4) : 1, off = (xy & NIBBLE) ? (xy & NIBBLE) : 1;
    return static_cast<uint8_t>((on - 1) << 4 | (off - 1));
}

// A slide of a 0 .. `top` value by the parameter: up by x when x is set,
// else down by y.
static uint8_t slid(int value, uint8_t xy, int top) {
    const int x = xy >> 4, y = xy & NIBBLE;
    value += x != 0 ? x : -y;
    return static_cast<uint8_t>(value < 0 ? 0 : value > top ? top : value);
}

void tick_effects(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= player->channel_count) return;
    Channel *c = &player->channels[channel];
    Voice *voice = &player->voices[channel];
    const bool classic = keeps_voice(player);
    const int command = c->command;
    if (classic && command == CMD_NONE) return;
    const uint8_t xy = c->param;
    const uint64_t quirks = player->song->quirks;
    const bool fine_periods = !mod_periods(player);
    if (!classic) {
        c->tick_period = c->period;
        c->tick_volume = c->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->volume;
        volume_column_tick(player, c);
    }

    if (command == CMD_ARPEGGIO) {  // 0xy: base, +x, +y semitones in turn
        const bool low_first = (quirks & SONG_QUIRK_ARPEGGIO_LOW_NIBBLE_FIRST) != 0;
        int steps = 0;
        switch (arpeggio_phase(player)) {
        case 1: steps = low_first ? xy & NIBBLE : xy >> 4; break;
        case 2: steps = low_first ? xy >> 4 : xy & NIBBLE; break;
        default: break;
        }
        const uint16_t period = !fine_periods ? (steps ? arpeggio_period(c->period, steps) : c->period)
                                              : semitones_up(player->song->frequency_mode, c->period, steps);
        if (classic) {
            play_period(player, c, voice, period);
            return;
        }
        c->tick_period = period;
    }

    switch (command) {
    case CMD_PORTAMENTO_UP:  // 1xx: stops at the highest note
        if ((quirks & SONG_QUIRK_SLIDE_PAST_TOP_STOPS) && c->period != 0 && xy * FINE_PERIOD_UNITS >= c->period)
            c->playing = 0;  // Scream Tracker 3 stops the note
        c->period = period_up(player, c->period, xy);
        c->tick_period = c->period;
        break;
    case CMD_PORTAMENTO_DOWN:  // 2xx: stops at the lowest note
        c->period = period_down(player, c->period, xy);
        c->tick_period = c->period;
        break;
    case CMD_TONE_PORTAMENTO:  // 3xx
        tone_portamento_step(player, c);
        break;
    case CMD_VIBRATO:  // 4xy
        vibrato_step(player, c, FINE_VIBRATO_DEPTH_SHIFT);
        break;
    case CMD_FINE_VIBRATO:  // Uxy: a quarter of Hxy's depth
        vibrato_step(player, c, VIBRATO_DEPTH_SHIFT);
        break;
    case CMD_TONE_PORTAMENTO_VOLUME_SLIDE:  // 5xy
        tone_portamento_step(player, c);
        slide_volume_tick(player, c, xy, c->porta_volume_memory);
        break;
    case CMD_VIBRATO_VOLUME_SLIDE:  // 6xy
        vibrato_step(player, c, FINE_VIBRATO_DEPTH_SHIFT);
        slide_volume_tick(player, c, xy, c->vibrato_volume_memory);
        break;
    case CMD_TREMOLO:  // 7xy
        tremolo_step(player, c);
        break;
    case CMD_VOLUME_SLIDE:  // Axy
        slide_volume_tick(player, c, xy, c->slide_memory);
        break;
    case CMD_NOTE_CUT:  // ECy
        if (player->tick == xy) c->volume = 0;
        break;
    case CMD_GLOBAL_VOLUME_SLIDE:  // Hxy (IT's Wxy: its kinds, 0 .. 128)
        if (quirks & SONG_QUIRK_SLIDE_KIND_IN_PARAMETER)
            player->global_volume = static_cast<uint8_t>(it_kind_slide(player->global_volume, xy, false, most_global(player)));
        else
            player->global_volume = slid(player->global_volume, xy, SONG_MAX_VOLUME);
        break;
    case CMD_KEY_OFF:  // Kxx
        if (player->tick == xy) instrument_release(player, c);
        break;
    case CMD_PANNING_SLIDE:  // Pxy: x to the right, y to the left (IT: the other way)
        if (quirks & SONG_QUIRK_PANNING_SLIDE_KINDS) it_panning_slide(c, xy, false);
        else if (!(quirks & SONG_QUIRK_HARD_PANNING)) c->panning = slid(c->panning, xy, PANNING_RIGHT);
        break;
    case CMD_CHANNEL_VOLUME_SLIDE:  // IT's Nxy
        c->channel_volume = static_cast<uint8_t>(it_kind_slide(c->channel_volume, xy, false, SONG_MAX_VOLUME));
        break;
    case CMD_TEMPO_SLIDE:  // IT's T0x, T1x
        it_tempo_slide(player, xy);
        break;
    case CMD_PANBRELLO:  // IT's Yxy
        it_panbrello_step(c);
        break;
    case CMD_MULTI_RETRIGGER:  // Rxy
        if (multi_retrigger_tick(player, c, xy)) c->retrigger_now = 1;
        break;
    default:
        break;
    }
    if (classic) {
        const bool vibrating = command == CMD_VIBRATO || command == CMD_VIBRATO_VOLUME_SLIDE;
        const uint16_t period = vibrating ? c->vibrato_period : c->period;
        if (period != 0) play_period(player, c, voice, period);
        play_volume(player, c, voice, command == CMD_TREMOLO ? c->tremolo_volume : c->volume);
        return;
    }
    if (command != CMD_TREMOLO) c->tick_volume = c->volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->volume;
    if (command == CMD_TREMOR) tremor_tick(player, c, (quirks & SONG_QUIRK_TREMOR_EXACT_TICKS) ? exact_tremor(xy) : xy);
    else if (c->tremor_muted) c->tick_volume = 0;
}
