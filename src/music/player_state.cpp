// What a module player is told and what it tells: its loop flag and
// callbacks, the row a seek landed on, and its song, rate, position and
// channels as the functions of mod_player.h give them.
#include "music/player_state_internal.h"

void mod_player_set_loop(ModPlayer *player, uint8_t flag) {
    if (!player) return;
    player->loop = flag;
}

int mod_player_is_looping(const ModPlayer *player) {
    return player ? player->loop : 0;
}

int mod_player_is_finished(const ModPlayer *player) {
    if (!player) return 1;
    return player->finished;
}

void mod_player_set_row_callback(ModPlayer *player, ModPlayerCallback fn, void *user) {
    if (!player) return;
    player->row_callback = fn;
    player->row_user = user;
}

void mod_player_set_tick_callback(ModPlayer *player, ModPlayerCallback fn, void *user) {
    if (!player) return;
    player->tick_callback = fn;
    player->tick_user = user;
}

void mod_player_set_note_callback(ModPlayer *player, ModNoteCallback fn, void *user) {
    if (!player) return;
    player->note_callback = fn;
    player->note_user = user;
}

ModPlayerCallback mod_player_row_callback(const ModPlayer *player, void **user) {
    if (user) *user = player ? player->row_user : nullptr;
    return player ? player->row_callback : nullptr;
}

ModPlayerCallback mod_player_tick_callback(const ModPlayer *player, void **user) {
    if (user) *user = player ? player->tick_user : nullptr;
    return player ? player->tick_callback : nullptr;
}

void mod_player_announce_row(ModPlayer *player) {
    if (!player || !player->landing_pending) return;
    player->landing_pending = 0;
    for (int i = 0; i < player->landing_count; i++) {
        const ModLandingNote *n = &player->landing[i];
        player_note_started(player, n->channel, n->instrument, n->sample, n->period, n->volume);
    }
    if (player->row_callback) player->row_callback(player->row_user);
}

const Song *mod_player_song(const ModPlayer *player) {
    return player ? player->song : nullptr;
}

int mod_player_output_rate(const ModPlayer *player) {
    return player ? player->output_rate : 0;
}

int mod_player_position(const ModPlayer *player, ModPlayerPosition *position) {
    if (!player || !position) return -1;
    position->order = player->order;
    position->row = player->row;
    position->tick = player->tick;
    position->tick_frame = player->tick_sample;
    position->tick_frames = player->samples_per_tick;
    position->speed = player->speed;
    position->tempo = player->tempo;
    position->global_volume = player->global_volume;
    position->finished = player->finished;
    return 0;
}

int mod_player_channel(const ModPlayer *player, int channel, ModChannelState *state) {
    if (!player || !state || channel < 0 || channel >= player->channel_count) return -1;
    const Channel *c = &player->channels[channel];
    state->playing = c->playing;
    state->instrument = c->instrument;
    state->sample = c->current_sample;
    state->position = c->position;
    state->period = c->period;
    state->volume = c->volume > SONG_MAX_VOLUME ? SONG_MAX_VOLUME : c->volume;
    state->panning = c->panning;
    state->step = player->voices[channel].step;
    return 0;
}
