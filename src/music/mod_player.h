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
// Memory: a player takes at most MOD_PLAYER_FILE_FACTOR (2) x size_bytes
// (MOD_PLAYER_IT_FILE_FACTOR, 16, for an IT) + 4 bytes per pattern row (at
// most 256 KiB) + MOD_PLAYER_FIXED_BYTES: the packed cells at most twice
// the file's pattern bytes (song.h; eight times an IT's, whose cells can
// repeat their channel's last values from one byte), decoded sample data
// at most twice the file's (none for a MOD, whose samples are read in
// place; an IT's compressed samples, which can spend one bit a frame, at
// most sixteen times theirs), sample records within twice their headers,
// the song message within the file's, and, fixed, the player's record with
// its 64 voices and channels, the song's record and up to 128 instrument
// records (mod_player_memory_bytes counts them). A song whose instruments
// keep their notes sounding after the next (SongInstrument.new_note_action)
// adds a pool of 64 background voices, at most MOD_PLAYER_POOL_BYTES, and
// a song with stereo samples a second voice for each voice, at most
// MOD_PLAYER_STEREO_BYTES.
#ifndef MUSIC_MOD_PLAYER_H
#define MUSIC_MOD_PLAYER_H

#include <cstdint>

#include "music/song.h"

struct ModuleCheck;  // music/module_check.h

// The classic MOD file's layout.
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
// sample on `channel` (0 .. 63): the `instrument` of the note (1 .. 128; a
// MOD's or an S3M's sample number), the `sample` that instrument plays for
// it (1 .. 2048, numbered across the song as Song.samples is; the
// instrument's own number for MOD and S3M), the `period` it starts at (in
// the song's frequency mode) and the channel `volume` (0 .. 64, as the
// voice plays it). It must be short.
typedef void (*ModNoteCallback)(void *user, int channel, uint8_t instrument, uint16_t sample, uint16_t period,
                                uint8_t volume);

// The player: its record is the music library's own (every field behind
// the functions below).
struct ModPlayer;

// Where the song stands, as mod_player_position tells it.
struct ModPlayerPosition {
    uint8_t order;              // order position, below the song's order_count
    uint8_t row;                // row in that position's pattern
    uint16_t tick;              // tick in the row, 0 at its start
    uint32_t tick_frame;        // frames of that tick already rendered
    uint32_t tick_frames;       // the tick's length in frames (882 at tempo
                                // 125 and 44100 Hz), at least 1
    uint8_t speed;              // ticks per row, 1 .. 255
    uint8_t tempo;              // beats per minute
    uint8_t global_volume;      // 0 .. 64
    uint8_t finished;           // 1 once the song has ended (looping off)
};

// What a channel plays, as mod_player_channel tells it.
struct ModChannelState {
    uint8_t playing;            // 1 while its sample streams data to its voice
    uint8_t instrument;         // instrument chosen by the rows, 1 .. 128; 0 none
    uint16_t sample;            // sample streamed, numbered as Song.samples; 0 none
    uint32_t position;          // the frame of that sample the stream reads next
    uint16_t period;            // current period in the song's frequency mode,
                                // 0 before any note
    uint8_t volume;             // channel volume 0 .. 64 (before envelopes and
                                // the global volume)
    uint8_t panning;            // 0 (left) .. 255 (right)
    uint32_t step;              // its voice's read step in source frames per
                                // output frame, 16.16; 0 while silent
};

// The parts of a player's memory (see the top of this file): the file's
// size times a factor, and a fixed part.
constexpr long MOD_PLAYER_FILE_FACTOR = 2;
constexpr long MOD_PLAYER_IT_FILE_FACTOR = 16;
constexpr long MOD_PLAYER_FIXED_BYTES = 256L * 1024L;
// The pool of background voices of a song with new-note actions.
constexpr long MOD_PLAYER_POOL_BYTES = 96L * 1024L;
// The right halves of the voices of a song with stereo samples.
constexpr long MOD_PLAYER_STEREO_BYTES = 192L * 1024L;

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

// Returns `loop` as set: nonzero when the song restarts at its end. 0 for a
// null player.
int mod_player_is_looping(const ModPlayer *player);

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

// The row callback installed, with its user in *user (when not null): what
// a caller installing its own may call on from it. Null (and *user null)
// when none is installed or the player is null.
ModPlayerCallback mod_player_row_callback(const ModPlayer *player, void **user);

// The tick callback installed, likewise.
ModPlayerCallback mod_player_tick_callback(const ModPlayer *player, void **user);

// After mod_player_seek: calls the note callback for each note the row
// sought starts on its first tick, then the row callback, as playing into
// the row would have called them (the seek itself calls nobody). Done once
// per seek: the first render after a seek does it when nobody has, so a
// caller installing its callbacks after seeking calls this first. Does
// nothing when no seek is waiting for it, or for a null player.
void mod_player_announce_row(ModPlayer *player);

// What the player tells of itself. Each reads the player's state as the
// rendering thread leaves it: call them from that thread, or while it does
// not render (before the audio starts, with the audio locked).

// The song played (the player's own: valid while the player lives): its
// title, format, channel count, order list and instruments. Null for a
// null player.
const Song *mod_player_song(const ModPlayer *player);

// The output rate in Hz the player renders at; 0 for a null player.
int mod_player_output_rate(const ModPlayer *player);

// Where the song stands: the row and tick about to be rendered (the first
// frame the next render gives belongs to them), the timing in force and
// whether the song has ended. 0 with *position filled; -1 for a null
// player or position.
int mod_player_position(const ModPlayer *player, ModPlayerPosition *position);

// What channel `channel` (0 .. the song's channel_count - 1) plays now.
// 0 with *state filled; -1 for a null player or state or a channel outside
// the song.
int mod_player_channel(const ModPlayer *player, int channel, ModChannelState *state);

#endif
