// The sequencer's clock: ticks and row boundaries, the song's order of
// positions and its end, the tick length, loading each row's cells into
// the channels, and the reset to the song's start. The commands themselves
// are in effects.cpp.
#include "music/sequencer.h"

#include <cstring>

#include "music/effects.h"
#include "music/mod_commands.h"
#include "music/mod_tables.h"
#include "music/sample_stream.h"

constexpr uint8_t DEFAULT_TEMPO = 125;
constexpr uint8_t DEFAULT_SPEED = 6;

// A tick lasts 2.5 s / tempo: output_rate x 5 / (2 x tempo) frames (125 bpm
// is 50 ticks per second, 882 frames at 44100 Hz).
constexpr uint32_t TICK_SECONDS_NUMERATOR = 5;
constexpr uint32_t TICK_SECONDS_DENOMINATOR = 2;

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

void load_row(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= MOD_CHANNELS) return;
    Channel *c = &player->channels[channel];
    // The same mask that counted the patterns keeps the lookup inside them.
    int pattern = player->order_table[player->order % MOD_ORDER_ENTRIES] & player->pattern_mask;
    const PatternCell *cell = &player->patterns[pattern][player->row % MOD_ROWS][channel];

    c->effect = cell->effect;
    const int command = mod_command_of(cell->effect);
    if (cell->period == 0) {
        c->trigger = 0;
        c->note = 0;
    } else {
        uint16_t period = cell->period;
        if (period < MOD_PERIOD_MIN) period = MOD_PERIOD_MIN;
        if (period > MOD_PERIOD_MAX) period = MOD_PERIOD_MAX;
        c->note = period;
        if (command == CMD_TONE_PORTAMENTO || command == CMD_PORTAMENTO_VOLUME_SLIDE) {
            // The note only becomes the slide's target.
            c->trigger = 0;
        } else {
            c->trigger = 1;
            c->period = period;
        }
    }

    uint8_t s = cell->sample;
    uint8_t finetune;
    if (s != 0) {
        // A sample number alone restarts the sample at the current period.
        c->trigger = 1;
        c->volume = player->samples[s - 1].volume;
        finetune = player->samples[s - 1].finetune;
    } else {
        s = c->current_sample;
        if (s > MOD_SAMPLES) s = 0;
        if (c->trigger && s != 0) c->volume = player->samples[s - 1].volume;
        finetune = c->finetune;
    }
    if (s == 0 && c->trigger) {
        c->sample = 0;
        c->volume = 0;
        c->finetune = 0;
    } else {
        c->sample = s;
        c->finetune = finetune;
    }
}

// The per-tick half of a row: commands, then E9y retriggers and EDy delayed
// note starts, each in channel order.
static void run_row_ticks(ModPlayer *player) {
    for (int ch = 0; ch < MOD_CHANNELS; ch++) tick_effects(player, ch);
    for (int ch = 0; ch < MOD_CHANNELS; ch++) {
        const Channel *c = &player->channels[ch];
        if (c->retrigger_interval != 0 && player->tick % c->retrigger_interval == 0) {
            row_effects(player, ch);
        } else if (c->delay_tick != 0 && player->tick == c->delay_tick) {
            row_effects(player, ch);
        }
    }
}

void process_tick(ModPlayer *player) {
    if (!player) return;
    if (player->tick_callback) player->tick_callback(player->tick_user);
    if (player->tick < player->speed + player->row_delay) {
        run_row_ticks(player);
        return;
    }

    // Row boundary. With looping off the song ends on a jump or break to
    // this position or an earlier one (the song would only repeat, and a
    // jump to itself would never end), on any other way back (the wrap to
    // position 0 chosen while looping was on), or after its last row has
    // played (next_order was left at song_length when that row started).
    // A pattern loop stays at its position without being a jump.
    const bool jumps_back = player->next_is_jump && player->next_order <= player->order;
    if (!player->loop && (jumps_back || player->next_order < player->order ||
                          player->next_order >= player->song_length)) {
        player->finished = 1;
        return;
    }
    // Looping switched on after the end was marked: start again.
    if (player->next_order >= player->song_length) player->next_order = 0;
    if (player->next_row >= MOD_ROWS) player->next_row = 0;

    player->row = player->next_row;
    player->order = player->next_order;
    player->tick = 0;
    player->row_delay = 0;
    player->next_is_jump = 0;
    player->next_row = static_cast<uint8_t>(player->row + 1);
    if (player->next_row == MOD_ROWS) {
        player->next_row = 0;
        player->next_order = static_cast<uint8_t>(player->order + 1);
    }
    // Past the last position: with looping on go back to position 0; with
    // it off, the row still plays and next_order == song_length ends the
    // song at the next boundary (unless a command of this row decides
    // otherwise, e.g. an E6y loop back).
    if (player->next_order >= player->song_length && player->loop) player->next_order = 0;

    for (int ch = 0; ch < MOD_CHANNELS; ch++) load_row(player, ch);
    for (int ch = 0; ch < MOD_CHANNELS; ch++) row_effects(player, ch);
    if (player->row_callback) player->row_callback(player->row_user);
}

void mod_player_finish_tick(ModPlayer *player) {
    if (!player) return;
    // Voices whose samples ran out during this tick stop now, before the
    // next tick can start a note on them. A render call that ends in the
    // middle of the tick leaves them playing their last window's zeros:
    // the tick, not the caller's buffer, decides when they fall silent.
    for (int i = 0; i < MOD_CHANNELS; i++) {
        Voice *voice = &player->voices[i];
        if (!voice->ended) continue;
        voice_set_frequency(voice, 0);
        voice->ended = 0;
    }
    player->tick++;
    player->tick_sample = 0;
    process_tick(player);
}

void mod_player_reset(ModPlayer *player) {
    if (!player) return;
    player->finished = 0;
    player->tempo = DEFAULT_TEMPO;
    player->speed = DEFAULT_SPEED;
    player->tick_sample = 0;
    player->tick = 0;
    player->row_delay = 0;
    player->next_row = 0;
    player->next_order = 0;
    player->next_is_jump = 0;
    player->order = 0;
    player->row = 0;
    update_tick_length(player);

    for (int i = 0; i < MOD_CHANNELS; i++) {
        Channel *c = &player->channels[i];
        memset(c, 0, sizeof *c);
        c->samples = player->samples;
        Voice *voice = &player->voices[i];
        voice_init(voice, player->output_rate);
        voice_set_source(voice, stream_sample, c);
        voice_set_volume(voice, 0);
        voice_set_frequency(voice, 0);
        // Only copies the cell: the first row starts afresh at the first
        // row boundary.
        load_row(player, i);
    }
}
