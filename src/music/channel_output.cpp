// A channel's voice on each tick: the commands' period and volume shaped by
// the instrument (envelopes, fadeout, auto-vibrato), the global volume and
// the panning, and the instrument's start and release; with Impulse
// Tracker's layered volumes also the pitch or filter envelope, the sample's
// auto-vibrato and the voice's filter.
#include "music/channel_output_internal.h"

#include "music/mod_periods_internal.h"
#include "music/mod_tables_internal.h"
#include "music/voice_filter_internal.h"

constexpr int ENVELOPE_FULL = 64;               // an envelope value that passes the volume
constexpr int PANNING_ENVELOPE_CENTER = 32;
constexpr int PANNING_HALF = 128;
constexpr int PANNING_RIGHT = 255;
constexpr int AUTOVIBRATO_POSITIONS = 256;
constexpr int AUTOVIBRATO_AMPLITUDE_SHIFT = 2;  // 255 -> 63: a waveform of -64 .. 64
constexpr int AUTOVIBRATO_DEPTH_SHIFT = 6;      // depth 15 swings 15 period units
constexpr int SINE_INDEX_SHIFT = 2;             // 256 positions onto 64 (32 a half)
constexpr int SINE_HALF_MASK = 31;
constexpr int SINE_NEGATIVE_BIT = 128;
constexpr int PERIOD_MIN = 1;
constexpr int PERIOD_MAX = 65535;
// volume (64) x envelope (64) x global (64) x fade (32768) down to a
// voice gain (16384): 2^6 x 2^6 x 2^6 x 2^15 / 2^14.
constexpr int GAIN_SHIFT = 6 + 6 + 6 + 15 - 14;
// IT's layers: volume (64) x channel volume (64) x sample global volume
// (64) x instrument global volume (128) x global volume (128) x envelope
// (64) x fade (32768) down to 16384.
constexpr int LAYERED_GAIN_SHIFT = 6 + 6 + 6 + 7 + 7 + 6 + 15 - 14;
constexpr int PITCH_ENVELOPE_UNITS = 32;        // a step a half semitone: 32 64ths
constexpr int FILTER_OPEN = 127;                // cutoff 127, resonance 0: no filter
constexpr int AUTOVIBRATO_RATE_SHIFT = 8;       // the depth grows in 256ths
constexpr int SAMPLE_AUTOVIBRATO_SHIFT = 7;     // depth 64 swings half a semitone

void instrument_restart(Channel *c) {
    if (!c) return;
    c->released = 0;
    c->fading = 0;
    c->fade_volume = CHANNEL_FADE_FULL;
    c->volume_envelope_tick = 0;
    c->panning_envelope_tick = 0;
    c->pitch_envelope_tick = 0;
    c->autovibrato_pos = 0;
    c->autovibrato_ticks = 0;
    c->autovibrato_depth = 0;
}

static const SongInstrument *channel_instrument(const ModPlayer *player, const Channel *c) {
    const Song *song = player->song;
    return c->instrument != 0 && c->instrument <= song->instrument_count ? &song->instruments[c->instrument - 1]
                                                                          : nullptr;
}

static bool envelope_on(const SongEnvelope *e) {
    return (e->flags & SONG_ENVELOPE_ON) && e->count > 0;
}

// Whether envelope `e` of channel c's instrument shapes its note: its own
// flag, unless S77 .. S7C (`bit`) switched it.
static bool envelope_active(const SongEnvelope *e, const Channel *c, uint8_t bit) {
    if (c->envelopes_off & bit) return false;
    if (c->envelopes_on & bit) return e->count > 0;
    return envelope_on(e);
}

void instrument_release(const ModPlayer *player, Channel *c) {
    if (!player || !c) return;
    c->released = 1;
    const SongInstrument *instrument = channel_instrument(player, c);
    if (player->song->quirks & SONG_QUIRK_IT_ENVELOPES) {
        // The fadeout starts unless a volume envelope holds the note.
        const SongEnvelope *e = instrument ? &instrument->volume_envelope : nullptr;
        if (!e || !envelope_active(e, c, CHANNEL_ENVELOPE_VOLUME) || (e->flags & SONG_ENVELOPE_LOOP)) c->fading = 1;
        return;
    }
    if (!instrument || !envelope_on(&instrument->volume_envelope)) c->volume = 0;
}

int envelope_value(const SongEnvelope *e, int tick) {
    if (!e || e->count == 0) return ENVELOPE_FULL;
    const SongEnvelopePoint *p = e->points;
    if (tick <= p[0].tick) return p[0].value;
    for (int i = 1; i < e->count; i++) {
        if (tick >= p[i].tick) continue;
        // Points' ticks increase (song_valid), so the span is at least 1.
        const int span = p[i].tick - p[i - 1].tick;
        return p[i - 1].value + (p[i].value - p[i - 1].value) * (tick - p[i - 1].tick) / span;
    }
    return p[e->count - 1].value;
}

// Moves an envelope's position on by a tick: it holds at the sustain point
// until key off, and goes back from the loop's end to its start, except
// after key off from a loop end that is also the sustain point (the
// envelope then plays on to its end).
static void envelope_advance(const SongEnvelope *e, uint16_t *tick, bool released) {
    if (!envelope_on(e)) return;
    const bool sustains = (e->flags & SONG_ENVELOPE_SUSTAIN) != 0;
    if (sustains && !released && *tick == e->points[e->sustain].tick) return;
    if (*tick < PERIOD_MAX) (*tick)++;
    const bool loop_released = released && sustains && e->sustain == e->loop_end;
    if ((e->flags & SONG_ENVELOPE_LOOP) && !loop_released && *tick == e->points[e->loop_end].tick)
        *tick = e->points[e->loop_start].tick;
}

// The auto-vibrato's waveform at a position (256 a cycle), -64 .. 64.
static int autovibrato_wave(int type, int position) {
    switch (type) {
    case 1:  // square
        return position < AUTOVIBRATO_POSITIONS / 2 ? 64 : -64;
    case 2:  // ramp down
        return 64 - position / 2;
    case 3:  // ramp up
        return position / 2 - 64;
    default: {
        const int d = vibrato_sine[(position >> SINE_INDEX_SHIFT) & SINE_HALF_MASK] >> AUTOVIBRATO_AMPLITUDE_SHIFT;
        return (position & SINE_NEGATIVE_BIT) ? -d : d;
    }
    }
}

// The period moved by the instrument's auto-vibrato on this tick; the
// depth grows from 0 over the sweep's ticks.
static int autovibrated(const SongInstrument *instrument, const Channel *c, int period) {
    if (!instrument || instrument->vibrato_depth == 0 || period == 0) return period;
    int depth = instrument->vibrato_depth << 8;
    if (instrument->vibrato_sweep != 0 && c->autovibrato_ticks < instrument->vibrato_sweep)
        depth = depth * c->autovibrato_ticks / instrument->vibrato_sweep;
    const int swing = autovibrato_wave(instrument->vibrato_type, c->autovibrato_pos) * depth >> 8;
    period += swing >> AUTOVIBRATO_DEPTH_SHIFT;
    return period < PERIOD_MIN ? PERIOD_MIN : period > PERIOD_MAX ? PERIOD_MAX : period;
}

// IT: moves an envelope on by a tick: its sustain loop runs until key off,
// its loop after it, each playing its end point before going back; past
// its last point it stays there. Returns 1 when it has run past its last
// point, else 0.
static int it_envelope_advance(const SongEnvelope *e, uint16_t *tick, bool released) {
    const SongEnvelopePoint *p = e->points;
    if (*tick < PERIOD_MAX) (*tick)++;
    if ((e->flags & SONG_ENVELOPE_SUSTAIN) && !released) {
        const int end = p[(e->flags & SONG_ENVELOPE_SUSTAIN_LOOP) ? e->sustain_end : e->sustain].tick;
        if (*tick > end) *tick = p[e->sustain].tick;
        return 0;
    }
    if (e->flags & SONG_ENVELOPE_LOOP) {
        if (*tick > p[e->loop_end].tick) *tick = p[e->loop_start].tick;
        return 0;
    }
    if (*tick <= p[e->count - 1].tick) return 0;
    *tick = p[e->count - 1].tick;
    return 1;
}

// IT's auto-vibrato (SONG_QUIRK_SAMPLE_AUTOVIBRATO): the sample's, its
// depth growing by its rate (all of it at once for rate 0), moving the
// period by up to depth / 128 semitones; then on by a tick.
static int sample_autovibrated(const ModPlayer *player, Channel *c, int period) {
    const Song *song = player->song;
    const SongSample *s = c->current_sample != 0 && c->current_sample <= song->sample_count
                              ? &song->samples[c->current_sample - 1] : nullptr;
    if (!s || s->autovibrato_depth == 0 || period == 0) return period;
    const int full = s->autovibrato_depth << AUTOVIBRATO_RATE_SHIFT;
    const int depth = s->autovibrato_rate == 0 || c->autovibrato_depth > full ? full : c->autovibrato_depth;
    // IT's waveforms: sine, ramp down, square, random (played as the ramp).
    static const int as_xm_type[4] = {0, 2, 1, 2};
    const int wave = autovibrato_wave(as_xm_type[s->autovibrato_type & 3], c->autovibrato_pos);
    const int units = wave * (depth >> AUTOVIBRATO_RATE_SHIFT) >> SAMPLE_AUTOVIBRATO_SHIFT;
    c->autovibrato_pos = static_cast<uint8_t>(c->autovibrato_pos + s->autovibrato_speed);
    if (c->autovibrato_depth < full) c->autovibrato_depth = static_cast<uint16_t>(c->autovibrato_depth + s->autovibrato_rate);
    return period_moved_by_units(song->frequency_mode, static_cast<uint16_t>(period), units);
}

// Impulse Tracker's output of a tick (SONG_QUIRK_LAYERED_VOLUMES): the
// period moved by the pitch envelope and the sample's auto-vibrato; the
// volume of every layer; the panning with its envelope, the panbrello and
// the song's separation; the filter from the cutoff, the filter envelope
// and the resonance; then the envelopes and the fadeout on by a tick.
static void layered_output(const ModPlayer *player, Channel *c, Voice *voice) {
    const Song *song = player->song;
    const SongInstrument *instrument = channel_instrument(player, c);
    int period = c->tick_period;
    int filter_envelope = -1;
    const SongEnvelope *pe = instrument ? &instrument->pitch_envelope : nullptr;
    if (pe && envelope_active(pe, c, CHANNEL_ENVELOPE_PITCH)) {
        const int value = envelope_value(pe, c->pitch_envelope_tick);
        if (pe->flags & SONG_ENVELOPE_FILTER) filter_envelope = value;
        else period = period_moved_by_units(song->frequency_mode, static_cast<uint16_t>(period),
                                            (value - SONG_ENVELOPE_CENTER) * PITCH_ENVELOPE_UNITS);
    }
    period = (song->quirks & SONG_QUIRK_SAMPLE_AUTOVIBRATO) ? sample_autovibrated(player, c, period)
                                                          : autovibrated(instrument, c, period);
    if (period != 0) {
        const uint16_t p = static_cast<uint16_t>(period);
        if (song->quirks & SONG_QUIRK_C5_SPEED) voice_set_frequency(voice, c5_period_frequency(song->frequency_mode, p, c->c5speed));
        else set_voice_period(voice, song, p, c->finetune, c->period_fraction);
    }

    const SongSample *sample = c->current_sample != 0 && c->current_sample <= song->sample_count
                                   ? &song->samples[c->current_sample - 1] : nullptr;
    const int volume = c->tick_volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->tick_volume;
    const SongEnvelope *ve = instrument ? &instrument->volume_envelope : nullptr;
    const bool volume_envelope = ve && envelope_active(ve, c, CHANNEL_ENVELOPE_VOLUME);
    const int envelope = volume_envelope ? envelope_value(ve, c->volume_envelope_tick) : ENVELOPE_FULL;
    // At most 2^6 x 2^6 x 2^6 x 2^7 x 2^7 x 2^6 x 2^15 = 2^53: 64 bits.
    int64_t product = static_cast<int64_t>(volume) * c->channel_volume * (sample ? sample->global_volume : SONG_MAX_VOLUME);
    product *= (instrument ? instrument->global_volume : SONG_MAX_WIDE_VOLUME) * player->global_volume;
    product *= static_cast<int64_t>(envelope) * c->fade_volume;
    const int32_t gain = static_cast<int32_t>(product >> LAYERED_GAIN_SHIFT);

    int panning = c->panning + c->panbrello_swing;
    panning = panning < 0 ? 0 : panning > PANNING_RIGHT ? PANNING_RIGHT : panning;
    const SongEnvelope *pan = instrument ? &instrument->panning_envelope : nullptr;
    if (pan && envelope_active(pan, c, CHANNEL_ENVELOPE_PANNING)) {
        const int value = envelope_value(pan, c->panning_envelope_tick) - PANNING_ENVELOPE_CENTER;
        const int room = PANNING_HALF - (panning > PANNING_HALF ? panning - PANNING_HALF : PANNING_HALF - panning);
        panning += value * room / PANNING_ENVELOPE_CENTER;
        panning = panning < 0 ? 0 : panning > PANNING_RIGHT ? PANNING_RIGHT : panning;
    }
    panning = PANNING_HALF + (panning - PANNING_HALF) * song->panning_separation / SONG_MAX_WIDE_VOLUME;
    voice_set_gains(voice, gain * (PANNING_RIGHT - panning) / PANNING_RIGHT, gain * panning / PANNING_RIGHT);
    voice_set_volume(voice, volume);

    // The filter: open (cutoff 127, resonance 0, no filter envelope) it is off.
    const int cutoff = filter_envelope >= 0 ? c->cutoff * filter_envelope / SONG_ENVELOPE_CENTER : c->cutoff;
    if (cutoff >= FILTER_OPEN && c->resonance == 0 && filter_envelope < 0) {
        c->filter.on = 0;
    } else if (!c->filter.on || c->filter.cutoff != cutoff || c->filter.resonance != c->resonance) {
        voice_filter_set(&c->filter, cutoff, c->resonance, voice->rate);
    }

    // On to the next tick.
    if (!instrument) return;
    if (volume_envelope && it_envelope_advance(ve, &c->volume_envelope_tick, c->released)) {
        // Run past its end: the note fades, and ends when the end is silent.
        c->fading = 1;
        if (ve->points[ve->count - 1].value == 0) c->fade_volume = 0;
    }
    if (pan && envelope_active(pan, c, CHANNEL_ENVELOPE_PANNING)) it_envelope_advance(pan, &c->panning_envelope_tick, c->released);
    if (pe && envelope_active(pe, c, CHANNEL_ENVELOPE_PITCH)) it_envelope_advance(pe, &c->pitch_envelope_tick, c->released);
    if (c->fading)
        c->fade_volume = c->fade_volume > instrument->fadeout ? static_cast<uint16_t>(c->fade_volume - instrument->fadeout) : 0;
}

void channel_output_voice(const ModPlayer *player, Channel *c, Voice *voice) {
    const Song *song = player->song;
    if (song->quirks & SONG_QUIRK_LAYERED_VOLUMES) {
        layered_output(player, c, voice);
        return;
    }
    const SongInstrument *instrument = channel_instrument(player, c);

    const int period = autovibrated(instrument, c, c->tick_period);
    if (period != 0) set_voice_period(voice, song, static_cast<uint16_t>(period), c->finetune, c->period_fraction);

    int volume = c->tick_volume > VOICE_MAX_VOLUME ? VOICE_MAX_VOLUME : c->tick_volume;
    int panning = c->panning;
    int envelope = ENVELOPE_FULL;
    uint16_t fade = CHANNEL_FADE_FULL;
    if (instrument) {
        const SongEnvelope *ve = &instrument->volume_envelope;
        if (envelope_on(ve)) {
            // The fadeout takes its first step on the tick of the key off.
            if (c->released || c->fading)
                c->fade_volume = c->fade_volume > instrument->fadeout
                                     ? static_cast<uint16_t>(c->fade_volume - instrument->fadeout)
                                     : 0;
            envelope = envelope_value(ve, c->volume_envelope_tick);
            fade = c->fade_volume;
        }
        const SongEnvelope *pe = &instrument->panning_envelope;
        if (envelope_on(pe)) {
            const int value = envelope_value(pe, c->panning_envelope_tick) - PANNING_ENVELOPE_CENTER;
            const int room = PANNING_HALF - (panning > PANNING_HALF ? panning - PANNING_HALF : PANNING_HALF - panning);
            panning += value * room / PANNING_ENVELOPE_CENTER;
            panning = panning < 0 ? 0 : panning > PANNING_RIGHT ? PANNING_RIGHT : panning;
        }
    }
    if (song->quirks & SONG_QUIRK_HARD_PANNING) {
        voice_set_volume(voice, volume * player->global_volume / SONG_MAX_VOLUME);
    } else {
        // At most 64 x 64 x 64 x 32768 = 2^33: 64 bits.
        const int64_t product = static_cast<int64_t>(volume) * envelope * player->global_volume * fade;
        const int32_t gain = static_cast<int32_t>(product >> GAIN_SHIFT);
        voice_set_gains(voice, gain * (PANNING_RIGHT - panning) / PANNING_RIGHT, gain * panning / PANNING_RIGHT);
        voice_set_volume(voice, volume);
    }

    // On to the next tick.
    if (!instrument) return;
    envelope_advance(&instrument->volume_envelope, &c->volume_envelope_tick, c->released);
    envelope_advance(&instrument->panning_envelope, &c->panning_envelope_tick, c->released);
    if (instrument->vibrato_depth != 0) {
        c->autovibrato_pos = static_cast<uint8_t>(c->autovibrato_pos + instrument->vibrato_rate);
        if (c->autovibrato_ticks < PERIOD_MAX) c->autovibrato_ticks++;
    }
}

void channel_output(ModPlayer *player, int channel) {
    if (!player || channel < 0 || channel >= player->channel_count) return;
    channel_output_voice(player, &player->channels[channel], &player->voices[channel]);
}
