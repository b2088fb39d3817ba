// What a channel's voice plays on each tick of a song that sets its voices
// every tick (every song but those with
// SONG_QUIRK_COMMANDLESS_TICKS_KEEP_VOICE): the period and volume the
// commands left for the tick, shaped by the channel's instrument (volume
// and panning envelopes, fadeout after key off, auto-vibrato), the global
// volume and the panning. Also the instrument's start and release, which
// the sequencer and the commands call. Defined in channel_output.cpp.
#ifndef MUSIC_CHANNEL_OUTPUT_INTERNAL_H
#define MUSIC_CHANNEL_OUTPUT_INTERNAL_H

#include <cstdint>

#include "music/player_state_internal.h"

// A full fade volume: the fadeout counts down from here after key off.
constexpr uint16_t CHANNEL_FADE_FULL = 32768;

// Starts the instrument's shaping afresh, as an instrument number does:
// envelopes at their first tick, no key off, full fade volume, the
// auto-vibrato from its start. Null does nothing.
void instrument_restart(Channel *c);

// Key off (XM's note 97, Kxx): the envelopes leave their sustain points and
// the fadeout starts; an instrument without a volume envelope falls silent
// at once (its volume becomes 0). Null does nothing.
void instrument_release(const ModPlayer *player, Channel *c);

// The value (0 .. 64) of `envelope` at `tick`: the points' values joined by
// straight lines, the first point's before it, the last's after it. 64 for
// an envelope without points.
int envelope_value(const SongEnvelope *envelope, int tick);

// Sets `voice` for this tick from c's tick_period and tick_volume with the
// shaping of c's instrument, the fadeout (after key off, or while `fading`)
// taking its step for the tick first, then moves the envelopes and the
// auto-vibrato on by one tick: a channel's voice (channel_output) or a pool
// voice (voice_pool_internal.h).
void channel_output_voice(const ModPlayer *player, Channel *c, Voice *voice);

// Sets channel `channel`'s voice for this tick from tick_period and
// tick_volume with the instrument's shaping (channel_output_voice), then
// moves the envelopes and the auto-vibrato on by one tick. Null player or a
// channel outside 0 .. channel_count - 1 does nothing.
void channel_output(ModPlayer *player, int channel);

#endif
