// The module player: its records and its public interface. A player renders
// one tracker module held whole in memory (any format a reader turns into a
// Song: song.h) to stereo, advancing its own sequencer at exact frame
// positions. Integer arithmetic only, no heap allocation while rendering,
// and no SDL: the audio binding lives elsewhere and only calls
// mod_player_render_s16.
//
// The module bytes stay the caller's: the song's samples may point into
// them and they must outlive the player unchanged. Modules are untrusted
// input: creation checks them against their size and repairs what real
// files get wrong (see mod_player_create), so that rendering never reads
// outside the module or the records.
//
// Memory: a player takes at most 2 x size_bytes + 4 bytes per pattern row
// (at most 256 KiB) + MOD_PLAYER_FIXED_BYTES: the packed cells at most twice
// the file's pattern bytes (song.h), decoded sample data at most twice the
// file's (none for a MOD, whose samples are read in place), sample records
// within twice their headers, and, fixed, the player's record with its 32
// voices and channels, the song's record and up to 128 instrument records
// (mod_player_memory_bytes counts them).
#ifndef MUSIC_MOD_PLAYER_H
#define MUSIC_MOD_PLAYER_H

#include <cstdint>

#include "music/song.h"
#include "music/voice.h"

struct ModuleCheck;  // music/module_check.h

// The classic MOD file's layout (module_format.h has its offsets).
constexpr int MOD_CHANNELS = 4;           // channels of the classic MOD
constexpr int MOD_SAMPLES = 31;           // sample numbers 1 .. 31
constexpr int MOD_ROWS = 64;              // rows per pattern
constexpr int MOD_MAX_PATTERNS = 128;     // patterns a MOD can hold
constexpr int MOD_ORDER_ENTRIES = 128;    // entries of the order table
constexpr int MOD_TITLE_BYTES = 20;
constexpr int MOD_SAMPLE_NAME_BYTES = 22;

// Called by the player on its rendering thread with the pointer given at
// installation; it must be short.
typedef void (*ModPlayerCallback)(void *user);

// Called by the player on its rendering thread each time a note starts a
// sample on `channel` (0 .. 31): the `instrument` of the note (1 .. 128; a
// MOD's or an S3M's sample number), the `sample` that instrument plays for
// it (1 .. 2048, numbered across the song as Song.samples is; the
// instrument's own number for MOD and S3M), the `period` it starts at (in
// the song's frequency mode) and the channel `volume` (0 .. 64, as the
// voice plays it). It must be short.
typedef void (*ModNoteCallback)(void *user, int channel, uint8_t instrument, uint16_t sample, uint16_t period,
                                uint8_t volume);

struct ModPlayer;

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
    uint16_t note;                  // the row note's period (a MOD's clamped to
                                    // 113 .. 856), 0 none
    uint8_t trigger;                // 1 when the row (re)starts the sample
    uint8_t instrument;             // instrument chosen by the rows, 0 none
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
    // (channel_output.h): the commands leave the tick's period and volume
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
    uint8_t tremor_count;           // ticks into the tremor's on and off cycle
};

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
    uint8_t row_delay_rows;                 // extra rows' worth of ticks at the
                                            // current speed (EEy otherwise)
    uint16_t next_order;                    // order position of the next row
    uint8_t next_row;                       // row number of the next row
    uint8_t next_is_jump;                   // 1 when a Bxx or Dxx of the current
                                            // row chose next_order/next_row
    uint8_t row_jumped;                     // 1 when the current row holds a Bxx
    uint8_t row_broke;                      // 1 when it holds a Dxx
};

// Under SONG_QUIRK_VOLUME_RAMPING a voice whose gains a tick changes (or
// whose note starts, from 0) moves to them in this many equal steps over
// the tick's first ramp_frames frames.
constexpr int MOD_RAMP_STEPS = 8;
constexpr int MOD_RAMP_MILLISECONDS = 5;

// The fixed part of a player's memory (see the top of this file).
constexpr long MOD_PLAYER_FIXED_BYTES = 128L * 1024L;

// The lowest output rate a player serves: at the fastest tempo (255, a tick
// of 2.5 s / 255, rate x 5 / 510 frames) a tick must still last at least
// one frame.
constexpr int MOD_MIN_OUTPUT_RATE_HZ = 102;
constexpr int MOD_MAX_OUTPUT_RATE_HZ = 65535;  // output_rate is 16 bits

// A new player for the module at `module` (`size_bytes` long) rendering at
// `output_rate_hz`, standing at order 0, row 0, tick 0 with all voices
// silent, looping off and no callbacks. Returns null, with nothing
// allocated, when:
//  - the module check (module_check.h) refuses the module: module is null,
//    no format recognises it, or size_bytes is shorter than the header and
//    the patterns it declares (for a MOD 1084 + 1024 x pattern count bytes);
//  - output_rate_hz is outside MOD_MIN_OUTPUT_RATE_HZ .. 65535;
//  - the record or the song cannot be allocated.
// It prints nothing: callers facing a person say why, with
// mod_player_create_checked and module_refusal_text.
// Repairs instead of rejecting: sample data running past the end of the
// module is cut to what it holds; a loop reaching past its sample is cut to
// the sample, one starting at or beyond the sample's end is dropped; a song
// length of 0 becomes 1 and one above 128 becomes 128.
// The module bytes must stay valid and unchanged for the player's life.
ModPlayer *mod_player_create(int output_rate_hz, const uint8_t *module, long size_bytes);

// mod_player_create, also handing back why it refused: when `check` is not
// null it receives the module check's result, with refusal
// MODULE_OUTPUT_RATE or MODULE_NO_MEMORY when the module passed but the
// rate or the allocation did not, and MODULE_ACCEPTED with a player.
ModPlayer *mod_player_create_checked(int output_rate_hz, const uint8_t *module, long size_bytes,
                                     ModuleCheck *check);

// A new player for a song built in memory (a reader of its own, a test),
// standing where mod_player_create leaves one; the player owns the song
// from here on, also when it refuses: null, with the song released, for a
// null song, one that fails song_valid, an output rate outside
// MOD_MIN_OUTPUT_RATE_HZ .. 65535, or no memory. `module` is then null.
ModPlayer *mod_player_create_song(int output_rate_hz, Song *song);

// Releases the record and its song, never the module bytes. Null does
// nothing.
void mod_player_destroy(ModPlayer *player);

// The bytes the player has allocated: its record, its song's record and
// every block the song owns. 0 for a null player.
long mod_player_memory_bytes(const ModPlayer *player);

// Renders `frames` stereo frames into accum: the left plane accum[0 ..
// frames - 1], then the right plane accum[frames .. 2 x frames - 1], each
// value the sum of the voices on that side (layout): a hard-panned voice
// adds its sample to its side only, a panned one its sample times its left
// and right gains to both. A four-channel MOD mixes voices 0 and 3 left, 1
// and 2 right, each value the sum of two voices (-65536 .. 65024).
// Advances the song; any slicing of a render into calls gives the same
// values. Silence once finished. A null player gives silence; null accum
// or frames <= 0 does nothing.
void mod_player_render(ModPlayer *player, int32_t *accum, int frames);

// Writes `frames` interleaved stereo pairs of signed 16-bit samples, left
// first: each plane value times output_gain / 65536, rounded down and
// saturated to 16 bits. Up to four channels that is each value shifted
// right by 1, which a four-channel MOD never clips. A null player writes
// silence (0); null out or frames <= 0 does nothing.
void mod_player_render_s16(ModPlayer *player, int16_t *out, int frames);

// As mod_player_render_s16 but unsigned 8-bit: each 16-bit value shifted
// right by 8, plus 128 (128 is silence).
void mod_player_render_u8(ModPlayer *player, uint8_t *out, int frames);

// Song length and seeking. Both step the sequencer tick by tick exactly as
// rendering does, without mixing: a scan costs a little per tick instead of
// the whole song's mixing.

// How far into a song a seek looks for its row.
constexpr int64_t MOD_SEEK_LIMIT_HOURS = 4;

// How long the song plays from its start with looping off, in output
// frames at the player's rate: the sum of the tick lengths up to the tick
// on which it ends (tempo changes, pattern delays, jumps and loops
// included), as many frames as a render from the start yields before
// mod_player_is_finished says so. A song can loop for ever even with
// looping off (two pattern loops of a channel that rearm each other): the
// count stops at limit_frames, so a result equal to limit_frames means "at
// least that long". When `microseconds` is not null it receives the same
// length as frames x 1000000 / output_rate, truncated. The player itself
// is not moved: the scan runs on a copy of its record. Returns -1 for a
// null player, a negative limit, or when the copy cannot be allocated.
int64_t mod_song_length(const ModPlayer *player, int64_t limit_frames, int64_t *microseconds);

// Moves the player to the start of row `row` of order position `order`
// with the whole state the song has when it gets there by playing from its
// start: speed, tempo, channel volumes, periods, portamento targets,
// command memories, pattern-loop counters, the voices' read positions in
// their samples. Rendering from there gives exactly the frames that a
// render from the start gives after the returned number of frames. Works
// on a new player and on one that has played or finished (the song starts
// over; `finished` becomes 0); `loop` and the callbacks are kept, and the
// callbacks are not called while seeking. The row sought is the first
// start of that row as the player plays with `loop` as it is at the call
// (set looping before seeking): with looping off the row must be reached
// in the song's first pass, before it ends or would loop (a row that jumps
// skip is not reached); with looping on the song goes round instead of
// ending, so a row that only the way round reaches counts too (position 1
// of a song whose position 0 jumps to 2 and whose position 2 jumps back
// to 1). Returns the frames from the song's start to that row (5292 for
// row 0 of position 0 at 44100 Hz: the first row starts after one row's
// ticks), or -1, leaving the player as it was, for a null player, a
// position outside the song length, a row outside its pattern, a row not
// reached, or when the scan's copy cannot be allocated. A song can go
// round for ever (always with looping on, and even with it off), so a row
// first reached more than MOD_SEEK_LIMIT_HOURS into the song counts as not
// reached.
int64_t mod_player_seek(ModPlayer *player, int order, int row);

// Played rows: the rows heard since the song began, counted through jumps,
// pattern loops and the song's going round, with the fraction of the
// current row heard (its frames so far over its length in frames, tempo
// changes and pattern delays included). Row 0 starts where the song's first
// row does (frame 5292 at tempo 125, speed 6 and 44100 Hz); before it the
// played row is 0. After the end of a song that does not loop the last
// row's length goes on counting. A row that plays twice (a pattern loop, a
// jump back, the song going round) counts twice.

// Moves the player to the start of played row `played_row` (0 the first
// row), as mod_player_seek moves it to a row: the whole state as played
// there, `loop` as it is at the call (a looping song goes round). Returns
// the frames from the song's start to that row, or -1 (the player as it
// was) for a null player, a negative row, a row the song never plays, or a
// row more than MOD_SEEK_LIMIT_HOURS in.
int64_t mod_player_seek_played_row(ModPlayer *player, int64_t played_row);

// The played row at a song frame, for a player's song: a scan of the song's
// clock kept one row ahead, so that asking about frames that move forward
// costs the ticks passed, and asking about an earlier frame scans again
// from the start. The player is read at creation only (its song and
// `loop`): create the clock before the audio thread renders the player.
struct ModRowClock;
ModRowClock *mod_row_clock_create(const ModPlayer *player);  // null: no player, no memory
void mod_row_clock_destroy(ModRowClock *clock);              // null does nothing
// The played row at song frame `frame` (music_sync.h's song time); 0 for a
// null clock or a negative frame.
double mod_row_clock_row(ModRowClock *clock, int64_t frame);

// Sets `loop` (nonzero: the song restarts at its end). Null does nothing.
void mod_player_set_loop(ModPlayer *player, uint8_t flag);

// Returns `finished`: nonzero once the song has ended with looping off. A
// null player counts as finished (1): it will never sound.
int mod_player_is_finished(const ModPlayer *player);

// Installs the function called after each row start, with `user`. Either
// may be null; a null function is not called. Null player does nothing.
void mod_player_set_row_callback(ModPlayer *player, ModPlayerCallback fn, void *user);

// Installs the function called at every tick, with `user`, likewise.
void mod_player_set_tick_callback(ModPlayer *player, ModPlayerCallback fn, void *user);

// Installs the function called at each note start, with `user`, likewise.
// A note starts where a row (or an E9y retrigger, or an EDy delay) starts
// a sample; a note without a sample, which only silences the channel, and
// the notes that tone portamento (3xx, 5xy) turns into slide targets do not
// count.
void mod_player_set_note_callback(ModPlayer *player, ModNoteCallback fn, void *user);

#endif
