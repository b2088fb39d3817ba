// Impulse Tracker's own commands and memories (it_commands_internal.h).
#include "music/it_commands_internal.h"

#include "music/channel_output_internal.h"
#include "music/mod_tables_internal.h"
#include "music/voice_pool_internal.h"

constexpr uint8_t NIBBLE = 0x0F;
constexpr uint8_t FINE_KIND = 0xF;
constexpr int TEMPO_MIN = 32;
constexpr int TEMPO_MAX = 255;
constexpr uint8_t TEMPO_SLIDE_UP = 0x10;       // T1x; T0x slides down
constexpr int WAVE_HALF_MASK = 31;
constexpr int WAVE_NEGATIVE_BIT = 32;
constexpr int WAVE_POSITION_MASK = 63;
constexpr int WAVE_PEAK = 255;
constexpr int WAVE_RAMP_STEP = 8;
constexpr int PANBRELLO_DEPTH_SHIFT = 5;       // depth 15 swings 255 x 15 / 32 of 0 .. 255
constexpr uint8_t MACRO_FIXED_FIRST = 0x80;    // Z80 .. ZFF play their own macros
constexpr int PANNING_RIGHT = 255;
constexpr int IT_PANNING_UNIT = 4;             // an IT panning step on 0 .. 255
constexpr int PITCH_PAN_DIVISOR = 8;           // (note - centre) x separation / 8
constexpr int PERCENT = 100;
constexpr uint32_t RANDOM_MULTIPLIER = 1664525u;
constexpr uint32_t RANDOM_INCREMENT = 1013904223u;
constexpr int RANDOM_SHIFT = 16;

void it_recall_parameter(const ModPlayer *player, Channel *c) {
    uint8_t *memory = nullptr;
    switch (c->command) {
    case CMD_VOLUME_SLIDE: case CMD_VIBRATO_VOLUME_SLIDE: case CMD_TONE_PORTAMENTO_VOLUME_SLIDE:
        memory = &c->volume_slide_memory;
        break;
    case CMD_PORTAMENTO_UP: case CMD_PORTAMENTO_DOWN:
        memory = &c->portamento_memory;
        break;
    case CMD_TONE_PORTAMENTO:  // its own memory is its speed, kept by the command
        if (player->song->quirks & SONG_QUIRK_LINKED_PORTAMENTO_MEMORY) memory = &c->portamento_memory;
        break;
    case CMD_TREMOR: memory = &c->tremor_memory; break;
    case CMD_ARPEGGIO: memory = &c->arpeggio_memory; break;
    case CMD_CHANNEL_VOLUME_SLIDE: memory = &c->channel_slide_memory; break;
    case CMD_PANNING_SLIDE: memory = &c->panning_slide_memory; break;
    case CMD_MULTI_RETRIGGER: memory = &c->retrigger_memory; break;
    case CMD_TEMPO_SLIDE: memory = &c->tempo_slide_memory; break;
    case CMD_GLOBAL_VOLUME_SLIDE: memory = &c->global_slide_memory; break;
    default: break;  // H, U, R, Y keep their nibbles themselves; O its offset
    }
    if (!memory) return;
    if (c->param != 0) *memory = c->param;
    else c->param = *memory;
}

int it_kind_slide(int value, uint8_t xy, bool first, int top) {
    const int x = xy >> 4, y = xy & NIBBLE;
    int change = 0;
    if (y == FINE_KIND && x != 0) {
        if (first) change = x;
    } else if (x == FINE_KIND && y != 0) {
        if (first) change = -y;
    } else if (!first) {
        if (y == 0) change = x;
        else if (x == 0) change = -y;
    }
    value += change;
    return value < 0 ? 0 : value > top ? top : value;
}

void it_tempo_slide(ModPlayer *player, uint8_t xy) {
    const int x = xy & NIBBLE;
    int tempo = player->tempo + ((xy & TEMPO_SLIDE_UP) ? x : -x);
    player->tempo = static_cast<uint8_t>(tempo < TEMPO_MIN ? TEMPO_MIN : tempo > TEMPO_MAX ? TEMPO_MAX : tempo);
}

// The panbrello's waveform at a position (64 a cycle): the sine (0), a ramp
// down (1), a square (2); 3 plays the ramp.
static int panbrello_wave(uint8_t waveform, uint8_t position) {
    switch (waveform & 3) {
    case 0: {
        const int d = vibrato_sine[position & WAVE_HALF_MASK];
        return (position & WAVE_NEGATIVE_BIT) ? -d : d;
    }
    case 2:
        return (position & WAVE_NEGATIVE_BIT) ? -WAVE_PEAK : WAVE_PEAK;
    default:
        return WAVE_PEAK - (position & WAVE_POSITION_MASK) * WAVE_RAMP_STEP;
    }
}

void it_panbrello_step(Channel *c) {
    // |wave x depth| <= 255 x 15: the shift of a negative value is arithmetic.
    c->panbrello_swing = static_cast<int16_t>((panbrello_wave(c->panbrello_waveform, c->panbrello_pos) *
                                               (c->panbrello_param & NIBBLE)) >> PANBRELLO_DEPTH_SHIFT);
    c->panbrello_pos = static_cast<uint8_t>(c->panbrello_pos + (c->panbrello_param >> 4));
}

void it_midi_macro(const ModPlayer *player, Channel *c, uint8_t xx) {
    const Song *song = player->song;
    const SongMacro macro = xx < MACRO_FIXED_FIRST ? song->macros[c->active_macro & NIBBLE]
                                                   : song->macros[SONG_MACRO_PARAMETERED + xx - MACRO_FIXED_FIRST];
    uint8_t value = macro.value == SONG_MACRO_VALUE_PARAMETER ? xx : macro.value;
    if (value > VOICE_FILTER_MOST) value = VOICE_FILTER_MOST;
    if (macro.kind == SONG_MACRO_CUTOFF) c->cutoff = value;
    else if (macro.kind == SONG_MACRO_RESONANCE) c->resonance = value;
}

void it_instrument_control(ModPlayer *player, int channel, uint8_t y) {
    Channel *c = &player->channels[channel];
    static const uint8_t envelopes[3] = {CHANNEL_ENVELOPE_VOLUME, CHANNEL_ENVELOPE_PANNING, CHANNEL_ENVELOPE_PITCH};
    switch (y) {
    case SONG_PAST_NOTES_CUT: pool_past_notes(player, channel, SONG_NNA_CUT); break;
    case SONG_PAST_NOTES_OFF: pool_past_notes(player, channel, SONG_NNA_NOTE_OFF); break;
    case SONG_PAST_NOTES_FADE: pool_past_notes(player, channel, SONG_NNA_NOTE_FADE); break;
    case SONG_NOTE_ACTION_CUT: case SONG_NOTE_ACTION_CONTINUE: case SONG_NOTE_ACTION_OFF: case SONG_NOTE_ACTION_FADE:
        c->new_note_action = static_cast<uint8_t>(y - SONG_NOTE_ACTION_CUT);
        break;
    default:
        if (y > SONG_PITCH_ENVELOPE_ON) break;
        {
            const uint8_t bit = envelopes[(y - SONG_VOLUME_ENVELOPE_OFF) / 2];
            const bool on = (y - SONG_VOLUME_ENVELOPE_OFF) % 2 == 1;
            c->envelopes_off = static_cast<uint8_t>(on ? c->envelopes_off & ~bit : c->envelopes_off | bit);
            c->envelopes_on = static_cast<uint8_t>(on ? c->envelopes_on | bit : c->envelopes_on & ~bit);
        }
        break;
    }
}

uint32_t it_random(ModPlayer *player) {
    player->random_state = player->random_state * RANDOM_MULTIPLIER + RANDOM_INCREMENT;
    return player->random_state >> RANDOM_SHIFT;
}

// A number from -range to range of the player's generator.
static int random_swing(ModPlayer *player, int range) {
    return static_cast<int>(it_random(player) % static_cast<uint32_t>(2 * range + 1)) - range;
}

void it_note_start(ModPlayer *player, Channel *c, const SongInstrument *instrument, const SongSample *sample,
                   uint8_t previous, bool named) {
    c->c5speed = sample->c2spd;
    c->envelopes_off = 0;
    c->envelopes_on = 0;
    // Every note restarts the shaping; an envelope that carries goes on
    // from where the last note of its instrument left it.
    const uint16_t ticks[3] = {c->volume_envelope_tick, c->panning_envelope_tick, c->pitch_envelope_tick};
    instrument_restart(c);
    if (instrument && previous == c->instrument) {
        if (instrument->volume_envelope.flags & SONG_ENVELOPE_CARRY) c->volume_envelope_tick = ticks[0];
        if (instrument->panning_envelope.flags & SONG_ENVELOPE_CARRY) c->panning_envelope_tick = ticks[1];
        if (instrument->pitch_envelope.flags & SONG_ENVELOPE_CARRY) c->pitch_envelope_tick = ticks[2];
    }
    int panning = c->panning;
    if (instrument && instrument->has_panning) panning = instrument->panning;
    if (sample->has_panning) panning = sample->panning;
    if (instrument) {
        panning += (c->played_note - instrument->pitch_pan_center) * instrument->pitch_pan_separation * IT_PANNING_UNIT /
                   PITCH_PAN_DIVISOR;
        if (instrument->random_panning) panning += random_swing(player, instrument->random_panning) * IT_PANNING_UNIT;
        if (named && instrument->random_volume) {
            const int volume = c->volume * (PERCENT + random_swing(player, instrument->random_volume)) / PERCENT;
            c->volume = static_cast<uint8_t>(volume < 0 ? 0 : volume > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : volume);
        }
        if (instrument->filter_cutoff != SONG_FILTER_UNSET) c->cutoff = instrument->filter_cutoff;
        if (instrument->filter_resonance != SONG_FILTER_UNSET) c->resonance = instrument->filter_resonance;
    }
    c->panning = static_cast<uint8_t>(panning < 0 ? 0 : panning > PANNING_RIGHT ? PANNING_RIGHT : panning);
    c->filter.y1 = 0;
    c->filter.y2 = 0;
}
