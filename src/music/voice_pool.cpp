// The pool of background voices: a channel's sounding note handed over
// whole, played on with its instrument's shaping until it falls silent.
#include "music/voice_pool_internal.h"

#include "music/channel_output_internal.h"
#include "music/stereo_halves_internal.h"
#include "music/voice_filter_internal.h"

bool pool_needed(const Song *song) {
    for (int i = 0; i < song->instrument_count; i++)
        if (song->instruments[i].new_note_action != SONG_NNA_CUT) return true;
    SongCell cells[SONG_MAX_CHANNELS];
    for (int p = 0; p < song->pattern_count; p++) {
        for (int row = 0; row < song->patterns[p].rows; row++) {
            song_row(song, p, row, cells);
            for (int ch = 0; ch < song->channel_count; ch++)
                if (cells[ch].command == CMD_INSTRUMENT_CONTROL && cells[ch].param >= SONG_NOTE_ACTION_CONTINUE &&
                    cells[ch].param <= SONG_NOTE_ACTION_FADE)
                    return true;
        }
    }
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
    const uint8_t action = c->new_note_action;
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
    stereo_take(player, channel, static_cast<int>(v - player->pool));
    return 1;
}

// A pool voice ended by `action`: cut, released or fading.
static void end_by(ModPlayer *player, PoolVoice *v, uint8_t action) {
    if (action == SONG_NNA_CUT) v->active = 0;
    else if (action == SONG_NNA_NOTE_OFF) instrument_release(player, &v->state);
    else if (action == SONG_NNA_NOTE_FADE) v->state.fading = 1;
}

// Whether the note a channel's state sounds duplicates one of `instrument`
// playing `note` on `sample`, by the instrument's check.
static bool duplicates(const Channel *c, const SongInstrument *in, uint8_t instrument, uint8_t note, uint16_t sample) {
    if (c->instrument != instrument) return false;
    switch (in->duplicate_check) {
    case SONG_DUPLICATE_NOTE: return c->played_note == note;
    case SONG_DUPLICATE_SAMPLE: return c->current_sample == sample;
    case SONG_DUPLICATE_INSTRUMENT: return true;
    default: return false;
    }
}

int pool_new_note(ModPlayer *player, int channel, uint8_t instrument, uint8_t note) {
    if (!player->pool) return 0;
    Channel *c = &player->channels[channel];
    const Song *song = player->song;
    const SongInstrument *in =
        instrument != 0 && instrument <= song->instrument_count ? &song->instruments[instrument - 1] : nullptr;
    if (!in || in->duplicate_check == SONG_DUPLICATE_OFF || note < 1 || note > SONG_NOTES) return pool_take_note(player, channel);
    const uint8_t played = in->note_notes[note - 1] != 0 ? in->note_notes[note - 1] : note;
    const uint16_t sample = in->note_samples[note - 1];
    for (int i = 0; i < player->pool_size; i++) {
        PoolVoice *v = &player->pool[i];
        if (v->active && v->channel == channel && duplicates(&v->state, in, instrument, played, sample))
            end_by(player, v, in->duplicate_action);
    }
    if (!c->playing || !duplicates(c, in, instrument, played, sample)) return pool_take_note(player, channel);
    // The duplicate the channel sounds ends by the duplicate action.
    if (in->duplicate_action == SONG_NNA_CUT) return 0;
    const uint8_t own = c->new_note_action;
    c->new_note_action = in->duplicate_action;
    const int taken = pool_take_note(player, channel);
    c->new_note_action = own;
    return taken;
}

void pool_past_notes(ModPlayer *player, int channel, uint8_t action) {
    for (int i = 0; i < player->pool_size; i++) {
        PoolVoice *v = &player->pool[i];
        if (v->active && v->channel == channel) end_by(player, v, action);
    }
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
        if (player->pool[i].active) voice_advance_filtered(&player->pool[i].voice, &player->pool[i].state.filter, frames);
}

void pool_clear(ModPlayer *player) {
    for (int i = 0; i < player->pool_size; i++) player->pool[i].active = 0;
}
