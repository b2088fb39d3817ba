// The pool of background voices: a channel's sounding note handed over
// whole, played on with its instrument's shaping until it falls silent.
#include "music/voice_pool_internal.h"

#include "music/channel_output_internal.h"

bool pool_needed(const Song *song) {
    for (int i = 0; i < song->instrument_count; i++)
        if (song->instruments[i].new_note_action != SONG_NNA_CUT) return true;
    return false;
}

// Both gains of a voice: how loud it is now.
static int32_t loudness(const PoolVoice *v) {
    return v->voice.gain_left + v->voice.gain_right;
}

// A free pool voice, or the quietest one when every voice sounds.
static PoolVoice *free_voice(ModPlayer *player) {
    PoolVoice *quietest = &player->pool[0];
    for (int i = 0; i < player->pool_size; i++) {
        PoolVoice *v = &player->pool[i];
        if (!v->active) return v;
        if (loudness(v) < loudness(quietest)) quietest = v;
    }
    return quietest;
}

int pool_take_note(ModPlayer *player, int channel) {
    if (!player->pool) return 0;
    const Channel *c = &player->channels[channel];
    const Song *song = player->song;
    if (!c->playing || c->instrument == 0 || c->instrument > song->instrument_count) return 0;
    const uint8_t action = song->instruments[c->instrument - 1].new_note_action;
    const Voice *voice = &player->voices[channel];
    if (action == SONG_NNA_CUT || voice->step == 0 || (voice->gain_left == 0 && voice->gain_right == 0)) return 0;
    PoolVoice *v = free_voice(player);
    v->voice = *voice;
    v->state = *c;
    v->voice.source_user = &v->state;
    v->active = 1;
    v->channel = static_cast<uint8_t>(channel);
    if (action == SONG_NNA_NOTE_OFF) instrument_release(player, &v->state);
    else if (action == SONG_NNA_NOTE_FADE) v->state.fading = 1;
    return 1;
}

void pool_output(ModPlayer *player) {
    for (int i = 0; i < player->pool_size; i++) {
        PoolVoice *v = &player->pool[i];
        if (!v->active) continue;
        // Silent for good once its sample has ended (the voice stopped with
        // the tick it ended in) or its fadeout has reached 0.
        const bool faded = (v->state.released || v->state.fading) && v->state.fade_volume == 0;
        if (!v->state.playing || faded) {
            v->active = 0;
            continue;
        }
        channel_output_voice(player, &v->state, &v->voice);
    }
}

void pool_finish_tick(ModPlayer *player) {
    for (int i = 0; i < player->pool_size; i++) {
        PoolVoice *v = &player->pool[i];
        if (!v->active) continue;
        if (v->voice.ended) {
            voice_set_frequency(&v->voice, 0);
            v->voice.ended = 0;
        }
        v->state.ramp_left = static_cast<uint16_t>(v->voice.gain_left);
        v->state.ramp_right = static_cast<uint16_t>(v->voice.gain_right);
    }
}

void pool_advance(ModPlayer *player, int frames) {
    for (int i = 0; i < player->pool_size; i++)
        if (player->pool[i].active) voice_advance(&player->pool[i].voice, frames);
}

void pool_clear(ModPlayer *player) {
    for (int i = 0; i < player->pool_size; i++) player->pool[i].active = 0;
}
