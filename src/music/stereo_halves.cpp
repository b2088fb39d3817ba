// Stereo samples' right halves (stereo_halves_internal.h).
#include "music/stereo_halves_internal.h"

#include "music/sample_stream_internal.h"
#include "music/voice_filter_internal.h"

bool stereo_needed(const Song *song) {
    for (int i = 0; i < song->sample_count; i++)
        if (song->samples[i].stereo) return true;
    return false;
}

// The half of a voice and its channel state: follows them for this tick.
static void follow(const ModPlayer *player, Voice *voice, Channel *c, StereoHalf *h) {
    const SongSample *s = c->current_sample != 0 && c->current_sample <= player->song->sample_count
                              ? &player->song->samples[c->current_sample - 1] : nullptr;
    if (!s || !s->stereo) {
        h->voice.step = 0;
        h->stream.playing = 0;
        return;
    }
    if (voice->read_index == VOICE_WINDOW_SAMPLES) {
        // The voice reads a fresh window next: the half reads the right
        // half's from the same place.
        const VoiceFilter history = h->stream.filter;
        h->stream = *c;
        h->stream.right_half = 1;
        h->stream.filter = history;
        if (s->bits == 16) voice_set_wide_source(&h->voice, stream_sample_wide, &h->stream);
        else voice_set_source(&h->voice, stream_sample, &h->stream);
        h->voice.read_index = VOICE_WINDOW_SAMPLES;
        h->voice.frac = voice->frac;
    }
    h->stream.released = c->released;  // the sustain loop ends for both halves at once
    h->voice.step = voice->step;
    h->voice.volume = voice->volume;
    voice_set_gains(&h->voice, 0, voice->gain_right);
    voice_set_gains(voice, voice->gain_left, 0);
    VoiceFilter *f = &h->stream.filter;
    f->a0 = c->filter.a0;
    f->b0 = c->filter.b0;
    f->b1 = c->filter.b1;
    f->cutoff = c->filter.cutoff;
    f->resonance = c->filter.resonance;
    f->on = c->filter.on;
}

void stereo_sync(ModPlayer *player) {
    if (!player->halves) return;
    for (int i = 0; i < player->channel_count; i++)
        follow(player, &player->voices[i], &player->channels[i], &player->halves[i]);
    for (int i = 0; i < player->pool_size; i++) {
        StereoHalf *h = &player->halves[player->channel_count + i];
        if (player->pool[i].active) follow(player, &player->pool[i].voice, &player->pool[i].state, h);
        else h->voice.step = 0;
    }
}

void stereo_take(ModPlayer *player, int channel, int pool_index) {
    if (!player->halves) return;
    StereoHalf *to = &player->halves[player->channel_count + pool_index];
    *to = player->halves[channel];
    to->voice.source_user = &to->stream;
}

void stereo_finish_tick(ModPlayer *player) {
    if (!player->halves) return;
    for (int i = 0; i < player->half_count; i++) {
        Voice *v = &player->halves[i].voice;
        if (!v->ended) continue;
        voice_set_frequency(v, 0);
        v->ended = 0;
    }
}

void stereo_advance(ModPlayer *player, int frames) {
    if (!player->halves) return;
    for (int i = 0; i < player->half_count; i++) {
        StereoHalf *h = &player->halves[i];
        voice_advance_filtered(&h->voice, &h->stream.filter, frames);
    }
}
