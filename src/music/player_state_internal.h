// The module player's record: its channels, its voices and where the song
// stands. Private to the music library: everything outside it goes
// through the functions of mod_player.h.
#ifndef MUSIC_PLAYER_STATE_INTERNAL_H
#define MUSIC_PLAYER_STATE_INTERNAL_H

#include <cstdint>

#include "music/mod_player.h"
#include "music/song.h"
#include "music/voice_filter_internal.h"
#include "music/voice_internal.h"

// Per channel: the sample stream that feeds the channel's voice, then the
// sequencer's state. All zero at creation except the stream's song fields.
struct Channel {
    // Sample stream (read and written by stream_sample)
    const SongSample *samples;      // the song's samples, sample n at index n - 1
    uint16_t sample_count;          // the song's sample count
    uint8_t note_start;             // frames a note start skips (2 under
                                    // SONG_QUIRK_NOTE_START_SKIPS_TWO, else 0);
                                    // also where a stopped stream rests
    uint8_t playing;                // nonzero while the stream delivers data
    uint8_t first_pass;             // 1 from a note start until the sample's end
                                    // (SONG_QUIRK_FIRST_PASS_TO_SAMPLE_END only)
    uint8_t backwards;              // 1 while a ping-pong loop runs backwards
    uint16_t current_sample;        // sample being streamed, 1 .. sample_count (0 none)
    uint32_t position;              // frame position of the stream in the sample
    // Sequencer
    uint16_t period;                // current period (0 before any note)
    uint16_t period_fraction;       // SONG_QUIRK_EXACT_NOTE_PERIODS: 65536ths of a
                                    // quarter period added to every period played
    uint16_t note;                  // the row note's period (a MOD's clamped to
                                    // 113 .. 856), 0 none
    uint16_t note_fraction;         // its fraction, likewise
    uint16_t porta_fraction;        // the tone portamento target's fraction
    uint8_t trigger;                // 1 when the row (re)starts the sample
    uint8_t instrument;             // instrument chosen by the rows, 0 none
    uint8_t next_instrument;        // SONG_QUIRK_INSTRUMENT_WAITS_FOR_NOTE: the
                                    // number a note without one plays, 0 none
    uint16_t c2spd;                 // SONG_QUIRK_FINETUNE_SETS_C2SPD: the C2SPD
                                    // S2y gave until the next instrument number, 0 none
    uint16_t sample;                // sample chosen by the rows, 0 none
    uint8_t command;                // row's SongCommand
    uint8_t param;                  // row's command parameter
    uint8_t volume;                 // channel volume (C may store up to 255)
    int8_t finetune;                // of the chosen sample, 1/128 semitone
    uint8_t panning;                // 0 (left) .. 255 (right)
    uint16_t porta_target;          // tone-portamento target period
    uint8_t porta_speed;            // tone-portamento speed
    uint8_t porta_volume_memory;    // last nonzero parameter of 5xy
    uint8_t vibrato_pos;            // vibrato position, 64 per cycle
    uint8_t vibrato_param;          // last nonzero 4xy: speed x, depth y
    uint8_t vibrato_volume_memory;  // last nonzero parameter of 6xy
    uint16_t vibrato_period;        // period the vibrato plays on this tick
    uint8_t tremolo_pos;            // tremolo position, 64 per cycle
    uint8_t tremolo_param;          // last nonzero 7xy: speed x, depth y
    uint8_t tremolo_volume;         // volume the tremolo plays on this tick
    uint8_t delay_tick;             // tick on which an EDy note starts
    uint8_t offset_memory;          // last nonzero parameter of 9xx
    uint8_t loop_count;             // remaining E6y passes
    uint8_t loop_row;               // E60 start row
    uint8_t slide_memory;           // last nonzero parameter of Axy
    uint8_t retrigger_interval;     // E9y interval in ticks, 0 none
    // What every tick plays, unless SONG_QUIRK_COMMANDLESS_TICKS_KEEP_VOICE
    // (channel_output_internal.h): the commands leave the tick's period and volume
    // here, the instrument's shaping is applied on top.
    uint16_t tick_period;           // period of this tick before auto-vibrato, 0 none
    uint8_t tick_volume;            // volume of this tick (tremolo, tremor), 0 .. 64
    uint8_t volume_command;         // the row's SongVolumeCommand
    uint8_t volume_param;
    uint8_t last_note;              // the last note 1 .. 96 started or targeted
    uint8_t delayed;                // 1 while the row's cell waits for its note delay
    uint8_t retrigger_now;          // 1: a multi retrigger restarts the sample this tick
    // Instrument shaping
    uint8_t released;               // 1 after key off: sustain ends, fadeout runs
    uint8_t fading;                 // 1: the fadeout runs without key off (a
                                    // note handed to the pool to fade)
    uint16_t fade_volume;           // 32768 .. 0, falling by the fadeout after key off
    uint16_t volume_envelope_tick;  // position in the volume envelope
    uint16_t panning_envelope_tick; // position in the panning envelope
    uint8_t autovibrato_pos;        // auto-vibrato waveform position, 256 per cycle
    uint16_t autovibrato_ticks;     // ticks since the instrument started (for the sweep)
    uint8_t ramp_reset;             // 1: the next gains start from 0 (a note start)
    uint16_t ramp_left;             // SONG_QUIRK_VOLUME_RAMPING: the voice's gains
    uint16_t ramp_right;            // at the end of the last tick, ramped from
    // Waveforms and memories of the XM and S3M commands
    uint8_t vibrato_waveform;       // E4y: 0 sine, 1 ramp down, 2 square, 3 random; +4 kept at notes
    uint8_t tremolo_waveform;       // E7y likewise
    uint8_t glissando;              // E3y: 1 tone portamento moves in semitones
    uint8_t shared_memory;          // SONG_QUIRK_SHARED_EFFECT_MEMORY's one parameter
    uint8_t porta_up_memory;        // SONG_QUIRK_SLIDE_MEMORIES: 1xx
    uint8_t porta_down_memory;      // 2xx
    uint8_t fine_porta_up_memory;   // E1y
    uint8_t fine_porta_down_memory; // E2y
    uint8_t extra_fine_up_memory;   // X1y
    uint8_t extra_fine_down_memory; // X2y
    uint8_t fine_volume_up_memory;  // EAy
    uint8_t fine_volume_down_memory;// EBy
    uint8_t global_slide_memory;    // Hxy
    uint8_t panning_slide_memory;   // Pxy
    uint8_t retrigger_memory;       // Rxy, Qxy: per nibble
    uint8_t tremor_memory;          // Txy, Ixy
    uint8_t retrigger_count;        // ticks since the last multi retrigger
    uint8_t previous_command;       // the SongCommand of the row before
    uint8_t tremor_count;           // ticks into the tremor's on and off cycle
    uint8_t tremor_muted;           // SONG_QUIRK_TREMOR_MUTES: 1 from a tremor's silent
                                    // tick to its next heard one or an instrument number
    // Impulse Tracker's (its quirks and commands)
    uint8_t channel_volume;         // Mxx: 0 .. 64
    uint8_t played_note;            // the note 1 .. 120 sounding (after the note
                                    // map), for the duplicate check; 0 none
    uint8_t new_note_action;        // of the note sounding: its instrument's,
                                    // or what S73 .. S76 made it
    uint8_t envelopes_off;          // S77, S79, S7B: CHANNEL_ENVELOPE_* bits
    uint8_t envelopes_on;           // S78, S7A, S7C: the same bits
    uint16_t pitch_envelope_tick;   // position in the pitch (or filter) envelope
    uint16_t autovibrato_depth;     // SONG_QUIRK_SAMPLE_AUTOVIBRATO: the depth
                                    // grown so far, x 256
    uint32_t c5speed;               // SONG_QUIRK_C5_SPEED: the sample's c2spd (Hz
                                    // of C-5; linear periods sound relative to it)
    uint8_t portamento_memory;      // E and F (and G, linked), SONG_QUIRK_COMMAND_MEMORIES
    uint8_t volume_slide_memory;    // D, K, L
    uint8_t channel_slide_memory;   // Nxy
    uint8_t arpeggio_memory;        // Jxy
    uint8_t tempo_slide_memory;     // T0x, T1x
    uint8_t column_memory;          // the volume column's a .. d
    uint8_t panbrello_param;        // Yxy: speed x, depth y, each kept when 0
    uint8_t panbrello_pos;          // 64 a cycle
    uint8_t panbrello_waveform;     // S5y
    int16_t panbrello_swing;        // the panning Yxy adds this tick
    uint8_t high_offset;            // SAy: y x 65536 frames added to Oxx
    uint8_t active_macro;           // SFy: the macro Z00 .. Z7F play
    uint8_t cutoff;                 // the filter's: 0 .. 127, 127 open
    uint8_t resonance;              // 0 .. 127
    uint8_t right_half;             // 1: the stream of a stereo sample's right
                                    // half (stereo_halves_internal.h)
    VoiceFilter filter;             // the voice's filter stage
};

// What S77 .. S7C switch in a channel's envelopes_off and envelopes_on.
constexpr uint8_t CHANNEL_ENVELOPE_VOLUME = 1;
constexpr uint8_t CHANNEL_ENVELOPE_PANNING = 2;
constexpr uint8_t CHANNEL_ENVELOPE_PITCH = 4;

// Pattern-loop jumps a player remembers per order position to find a loop
// that would never end; past this many it stops looking.
constexpr int MOD_LOOP_STATES = 64;

// How the render loop mixes the voices into the two planes: voices pinned
// to one side mixed in pairs (the first pair of a side stored, the rest
// added), then voices with their own left and right gains added to both.
struct ModPlayerLayout {
    uint8_t left[SONG_MAX_CHANNELS];    // hard-left voices, in channel order
    uint8_t right[SONG_MAX_CHANNELS];   // hard-right voices
    uint8_t panned[SONG_MAX_CHANNELS];  // voices mixed to both sides
    uint8_t left_count;
    uint8_t right_count;
    uint8_t panned_count;
};

// A note that sounds on after its channel has started another
// (SongInstrument.new_note_action): the channel's voice and state, handed
// over whole when the new note came, so that it plays on exactly as it
// would have on the channel, shaped by its instrument every tick, until
// its sample or its fadeout ends.
struct PoolVoice {
    Voice voice;                // its source reads `state`
    Channel state;              // the sample stream, the instrument's shaping,
                                // the period, volume and panning it plays at
    uint8_t active;             // 1 while it sounds
    uint8_t channel;            // the channel it came from
};

// Background voices a player keeps for a song with new-note actions.
constexpr int MOD_POOL_VOICES = 64;
static_assert(MOD_POOL_VOICES * sizeof(PoolVoice) <= MOD_PLAYER_POOL_BYTES, "the pool within its stated bound");

// A note start a seek keeps for mod_player_announce_row: the note
// callback's arguments.
struct ModLandingNote {
    uint8_t channel;
    uint8_t instrument;
    uint16_t sample;
    uint16_t period;
    uint8_t volume;
};

// The whole state of one player, allocated in one piece at creation; the
// song it plays is its own (released with it). Invariants kept by every
// operation: order < song_length <= 256; row < the rows of the pattern at
// `order`; next_order <= song_length, where next_order == song_length
// (looping off only) means the song ends at the boundary after the current
// row; samples_per_tick >= 1. With looping off the song also ends at a
// boundary where next_is_jump is 1 and next_order <= order: a jump or break
// to the current or an earlier position would replay what has been heard
// (a pattern loop, E6y, is no jump and never ends the song).
struct ModPlayer {
    // Song data
    Song *song;                             // the song played, owned
    const char *title;                      // the song's title (song->title)
    const uint8_t *module;                  // the caller's bytes, not owned
    uint16_t song_length;                   // order positions played, 1 .. 256
    uint8_t channel_count;                  // 1 .. 32
    ModPlayerLayout layout;                 // voices to planes, fixed at creation
    int32_t output_gain;                    // planes to 16-bit output, 65536 = 1
                                            // (32768 for four channels: plane >> 1)
    uint16_t ramp_frames;                   // SONG_QUIRK_VOLUME_RAMPING: frames at a
                                            // tick's start over which gains ramp (5 ms),
                                            // a multiple of MOD_RAMP_STEPS; 0 none
    Voice voices[SONG_MAX_CHANNELS];        // voice i plays channel i
    Channel channels[SONG_MAX_CHANNELS];
    PoolVoice *pool;                        // background voices, pool_size of them, or
                                            // null for a song whose instruments all cut
                                            // their notes (voice_pool_internal.h)
    uint16_t pool_size;                     // 0 or MOD_POOL_VOICES
    struct StereoHalf *halves;              // right halves of stereo samples: the
                                            // channels' voices', then the pool's; null
                                            // for a song without stereo samples
    uint16_t half_count;                    // 0 or channel_count + pool_size
    SongCell cells[SONG_MAX_CHANNELS];      // the current row, unpacked
    // Output and control
    uint16_t output_rate;                   // Hz
    uint8_t loop;                           // nonzero: restart at the song's end
    uint8_t finished;                       // nonzero: the song ended; silence
    ModPlayerCallback row_callback;         // after each row start, or null
    ModPlayerCallback tick_callback;        // at every tick, or null
    void *row_user;
    void *tick_user;
    ModNoteCallback note_callback;          // at each note start, or null
    void *note_user;
    // Position and timing
    uint8_t order;                          // current order position
    uint8_t row;                            // current row
    uint8_t tempo;                          // beats per minute
    uint8_t speed;                          // ticks per row, 1 .. 255
    uint8_t global_volume;                  // 0 .. 64
    uint32_t samples_per_tick;              // output frames per tick, >= 1
                                            // (2.5 s / tempo; 3445 at 44100 Hz
                                            // and tempo 32)
    uint32_t tick_sample;                   // frames mixed in the current tick
    uint16_t tick;                          // tick in the row, 0 at its start
    uint8_t row_delay;                      // extra ticks of the current row (EEy
                                            // under SONG_QUIRK_PATTERN_DELAY_TICKS)
    uint8_t row_delay_read;                 // 1 once a pattern delay of the current
                                            // row has been read
    uint8_t row_delay_rows;                 // extra rows' worth of ticks at the
                                            // current speed (EEy otherwise)
    uint16_t next_order;                    // order position of the next row
    uint8_t next_row;                       // row number of the next row
    uint8_t next_is_jump;                   // 1 when a Bxx or Dxx of the current
                                            // row chose next_order/next_row
    uint8_t row_jumped;                     // 1 when the current row holds a Bxx
    uint8_t row_broke;                      // 1 when it holds a Dxx
    uint8_t row_looped;                     // 1 when a pattern loop of it goes back
    uint8_t loop_carry;                     // SONG_QUIRK_LOOP_ROW_IS_BREAK_ROW: 1 when
    uint8_t loop_carry_row;                 // a loop of this pattern has played out:
                                            // the next pattern starts at this row
    uint32_t loop_states[MOD_LOOP_STATES];  // SONG_QUIRK_ENDLESS_LOOP_ENDS_SONG: the
    uint8_t loop_state_count;               // pattern-loop jumps made since the song
                                            // came to this order position, each as a
                                            // hash of the row, its target and every
                                            // channel's loop count and start
    // The row a seek lands on (mod_player_announce_row)
    uint8_t landing_recording;              // 1 while a seek plays the song: note
                                            // starts are kept, not called, and each
                                            // tick starts afresh
    uint8_t landing_pending;                // 1 from a seek until its row is announced
    uint8_t landing_count;                  // note starts kept
    ModLandingNote landing[SONG_MAX_CHANNELS];
    uint32_t random_state;                  // the seeded generator of IT's random
                                            // variations, set at the song's start
};

// The one place a note start is told: to the note callback, or, while a
// seek plays the song, kept for its landing row (a tick starts at most one
// note a channel).
inline void player_note_started(ModPlayer *player, int channel, uint8_t instrument, uint16_t sample,
                                uint16_t period, uint8_t volume) {
    if (player->landing_recording) {
        if (player->landing_count < SONG_MAX_CHANNELS)
            player->landing[player->landing_count++] =
                ModLandingNote{static_cast<uint8_t>(channel), instrument, sample, period, volume};
        return;
    }
    if (player->note_callback) player->note_callback(player->note_user, channel, instrument, sample, period, volume);
}

// Under SONG_QUIRK_VOLUME_RAMPING a voice whose gains a tick changes (or
// whose note starts, from 0) moves to them in this many equal steps over
// the tick's first ramp_frames frames.
constexpr int MOD_RAMP_STEPS = 8;
constexpr int MOD_RAMP_MILLISECONDS = 5;

#endif
