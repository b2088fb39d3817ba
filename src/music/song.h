// The song: the in-memory, format-neutral form of a tracker module. A
// reader per file format (MOD, XM, S3M, IT) turns the file into one Song; the
// player (mod_player.h) plays nothing else. Everything a format decides
// about playback is data here: the order list, patterns of cells in one
// command vocabulary, instruments and samples, initial speed, tempo,
// global volume and panning, the frequency mode, and the format's rules as
// named quirk flags. Two formats that give a command different meanings
// differ by a quirk, never by a second copy of the player.
//
// Patterns are stored packed: only the cells that hold something, row by
// row, with a table of where each row starts. Row by row the player
// unpacks them into whole rows of SongCell (song_row). A reader writes its
// patterns through song_alloc_patterns and song_put_row, which keep the
// packed cells within twice the bytes the file spends on them (see
// SONG_PACKED_CELL_MAX_BYTES); with the row table (4 bytes per row, at
// most 256 KiB) and the fixed-size records, a player's memory stays within
// twice the file's size plus a fixed amount (mod_player.h states it).
//
// Sample data stays in the caller's module bytes when the file stores it
// as the player reads it (signed 8-bit, as MOD does): `data` then points
// into them, and they must outlive the song unchanged. Data the file codes
// otherwise (delta-coded, unsigned, 16-bit little-endian, compressed) is
// decoded into one block the song owns (sample_data). A stereo sample keeps
// its two halves one after the other: the left `length` frames, then the
// right.
//
// Invariants every reader leaves and the player relies on (song_valid
// checks them): 1 <= channel_count <= 64; 1 <= order_count <= 256 and
// every order entry < pattern_count; restart < order_count; every pattern
// has 1 .. 256 rows; every cell's instrument is 0 or <= instrument_count,
// its note 0, 1 .. 120, SONG_NOTE_KEY_OFF, SONG_NOTE_CUT or SONG_NOTE_FADE,
// its command a SongCommand and its volume command a SongVolumeCommand;
// every sample map entry is 0 or <= sample_count and every note map entry
// 0 or a note; every sample's data holds `length` frames (a stereo one's
// twice as many), its loop and its sustain loop lie inside it, and a
// loop of length 0 is SONG_LOOP_NONE; envelope points are at most 25, in
// increasing tick order, with sustain and loop points among them; every
// instrument's new-note action is a SongNewNoteAction and its duplicate
// check a SongDuplicateCheck; the initial global volume is at most 64 (128
// under SONG_QUIRK_GLOBAL_VOLUME_128); a song message is NUL-ended within
// message_bytes.
#ifndef MUSIC_SONG_H
#define MUSIC_SONG_H

#include <cstddef>
#include <cstdint>

constexpr int SONG_MAX_CHANNELS = 64;          // IT's limit (XM and MOD have 32)
constexpr int SONG_MAX_ORDERS = 256;
constexpr int SONG_MAX_PATTERNS = 256;
constexpr int SONG_MAX_ROWS = 256;           // rows per pattern, 1 .. 256
constexpr int SONG_MAX_INSTRUMENTS = 128;    // XM's limit (S3M has 99, MOD 31)
constexpr int SONG_MAX_INSTRUMENT_SAMPLES = 16;
constexpr int SONG_MAX_SAMPLES = SONG_MAX_INSTRUMENTS * SONG_MAX_INSTRUMENT_SAMPLES;
constexpr int SONG_NOTES = 120;              // C-0 .. B-9 (XM and S3M reach B-7)
constexpr int SONG_ENVELOPE_POINTS = 25;     // IT's (XM has 12)
constexpr int SONG_TITLE_BYTES = 28;         // S3M's; MOD and XM titles have 20
constexpr int SONG_NAME_BYTES = 28;          // instrument and sample names
constexpr int SONG_FORMAT_NAME_BYTES = 40;
constexpr int SONG_MAX_VOLUME = 64;
constexpr int SONG_MAX_WIDE_VOLUME = 128;    // IT's global, mixing and instrument volumes
constexpr int SONG_PANNING_CENTER = 128;     // panning 0 (left) .. 255 (right)
constexpr int SONG_ENVELOPE_CENTER = 32;     // panning and pitch envelopes: no change
constexpr int SONG_MACRO_PARAMETERED = 16;   // SF0 .. SFF: Z00 .. Z7F play the one chosen
constexpr int SONG_MACRO_FIXED = 128;        // Z80 .. ZFF, one each

// The file format a song was read from. It names the file only: what the
// player does differently is in frequency_mode and quirks.
enum SongFormat : uint8_t {
    SONG_FORMAT_NONE = 0,
    SONG_FORMAT_MOD,        // ProTracker-style MOD, every signature and the 15-sample kind
    SONG_FORMAT_XM,         // FastTracker II extended module
    SONG_FORMAT_S3M,        // Scream Tracker 3 module
    SONG_FORMAT_IT,         // Impulse Tracker module
};

// How the player turns a channel's period into a sample rate.
enum SongFrequencyMode : uint8_t {
    // Amiga periods as MOD cells write them (428 is C-2 of ProTracker),
    // clamped to 113 .. 856 and played at floor(3546895 / period) Hz from
    // the rate table, times the finetune multiplier of the sample's
    // finetune / 16 (eighths of a semitone); slides move the
    // period by their parameter and stop at 113 and 856.
    SONG_FREQUENCY_MOD_TABLE = 0,
    // Amiga periods in quarter units (1712 is C-4 at 8363 Hz), played at
    // 14317456 / period Hz; notes become periods through the sample's
    // C2SPD or relative note and finetune (S3M, XM's Amiga table);
    // portamentos move the quarter period by 4 x their parameter (the
    // extra-fine ones by 1 x).
    SONG_FREQUENCY_AMIGA,
    // XM's linear table: period = 7680 - 64 x (note - 1) - finetune / 2
    // (the note with the sample's relative note added), played at 8363 x
    // 2^((4608 - period) / 768) Hz; portamentos move the period by 4 x
    // their parameter (the extra-fine ones by 1 x).
    SONG_FREQUENCY_LINEAR,
};

// A cell's note. 1 .. 120 are C-0 .. B-9: octave (note - 1) / 12, semitone
// (note - 1) % 12.
enum SongNote : uint8_t {
    SONG_NOTE_NONE = 0,
    SONG_NOTE_FADE = 253,       // IT's ~~~: the note's fadeout starts
    SONG_NOTE_CUT = 254,        // S3M's and IT's ^^^: the channel falls silent at once
    SONG_NOTE_KEY_OFF = 255,    // XM's key off, IT's ===: releases sustain, starts the fadeout
};

// The one command vocabulary of all formats, in tracker-neutral names.
// Each reader translates its own letters and digits into these; the
// comments name the MOD/XM digit and the S3M letter. The parameter is the
// cell's byte, x and y being its high and low nibbles, except where a line
// says the reader stores something else (the E and S sub-commands keep
// only their y).
enum SongCommand : uint8_t {
    CMD_NONE = 0,                       // no command (MOD's 000)
    CMD_ARPEGGIO,                       // 0xy, Jxy: xy nonzero
    CMD_PORTAMENTO_UP,                  // 1xx, Fxx (S3M's FFx and FEx too: the
                                        // kind stays in the parameter)
    CMD_PORTAMENTO_DOWN,                // 2xx, Exx (EFx, EEx likewise)
    CMD_TONE_PORTAMENTO,                // 3xx, Gxx
    CMD_VIBRATO,                        // 4xy, Hxy
    CMD_TONE_PORTAMENTO_VOLUME_SLIDE,   // 5xy, Lxy
    CMD_VIBRATO_VOLUME_SLIDE,           // 6xy, Kxy
    CMD_TREMOLO,                        // 7xy, Rxy
    CMD_SET_PANNING,                    // 8xx, X?: xx 0 (left) .. 255 (right)
    CMD_SAMPLE_OFFSET,                  // 9xx, Oxx: xx x 256 frames
    CMD_VOLUME_SLIDE,                   // Axy, Dxy
    CMD_POSITION_JUMP,                  // Bxx, Bxx: xx the order position
    CMD_SET_VOLUME,                     // Cxx
    CMD_PATTERN_BREAK,                  // Dxy, Cxy: the reader stores the row
                                        // number (x x 10 + y)
    CMD_SET_SPEED,                      // Fxx below 32, Axx: ticks per row (0 ignored)
    CMD_SET_TEMPO,                      // Fxx from 32, Txx: beats per minute
    CMD_FINE_PORTAMENTO_UP,             // E1y: y
    CMD_FINE_PORTAMENTO_DOWN,           // E2y: y
    CMD_EXTRA_FINE_PORTAMENTO_UP,       // X1y: y
    CMD_EXTRA_FINE_PORTAMENTO_DOWN,     // X2y: y
    CMD_GLISSANDO,                      // E3y, S1y: y
    CMD_VIBRATO_WAVEFORM,               // E4y, S3y: y
    CMD_SET_FINETUNE,                   // E5y, S2y: y
    CMD_PATTERN_LOOP,                   // E6y, SBy: y (0 marks the start)
    CMD_TREMOLO_WAVEFORM,               // E7y, S4y: y
    CMD_SET_PANNING_COARSE,             // E8y, S8y: y 0 (left) .. 15 (right)
    CMD_RETRIGGER,                      // E9y: y ticks
    CMD_FINE_VOLUME_UP,                 // EAy: y
    CMD_FINE_VOLUME_DOWN,               // EBy: y
    CMD_NOTE_CUT,                       // ECy, SCy: y
    CMD_NOTE_DELAY,                     // EDy, SDy: y
    CMD_PATTERN_DELAY,                  // EEy, SEy: y rows
    CMD_SET_GLOBAL_VOLUME,              // Gxx, Vxx: 0 .. 64
    CMD_GLOBAL_VOLUME_SLIDE,            // Hxy
    CMD_KEY_OFF,                        // Kxx: on tick xx
    CMD_SET_ENVELOPE_POSITION,          // Lxx: tick xx of the volume envelope (and
                                        // of the panning envelope when the volume
                                        // envelope has a sustain point)
    CMD_PANNING_SLIDE,                  // Pxy
    CMD_MULTI_RETRIGGER,                // Rxy, Qxy
    CMD_TREMOR,                         // Txy, Ixy
    CMD_FINE_VIBRATO,                   // Uxy (S3M)
    CMD_IGNORED,                        // a command the format's player does
                                        // nothing with (MOD's 8xx and E0y, E3y,
                                        // E4y, E5y, E7y, E8y, EFy): it is still
                                        // a command, so the channel's period and
                                        // volume are renewed on its ticks
    // Impulse Tracker's own (IT letters; the others above as S3M's):
    CMD_SET_CHANNEL_VOLUME,             // Mxx: 0 .. 64
    CMD_CHANNEL_VOLUME_SLIDE,           // Nxy: as Dxy, on the channel volume
    CMD_TEMPO_SLIDE,                    // T0x (down), T1x (up): the byte as written
    CMD_PANBRELLO,                      // Yxy
    CMD_PANBRELLO_WAVEFORM,             // S5y: y
    CMD_FINE_PATTERN_DELAY,             // S6y: y ticks
    CMD_INSTRUMENT_CONTROL,             // S7y: y (SongInstrumentControl)
    CMD_SURROUND,                       // S9y: y (1 on, 0 off; played centred)
    CMD_HIGH_OFFSET,                    // SAy: y x 65536 frames added to Oxx
    CMD_SET_ACTIVE_MACRO,               // SFy: y, the macro Z00 .. Z7F play
    CMD_MIDI_MACRO,                     // Zxx
    SONG_COMMAND_COUNT,
};

// The volume column's commands (XM's volume byte, S3M's volume column).
enum SongVolumeCommand : uint8_t {
    VOLCMD_NONE = 0,
    VOLCMD_SET_VOLUME,                  // 0 .. 64
    VOLCMD_SLIDE_DOWN,                  // 0 .. 15 on each tick after the first
    VOLCMD_SLIDE_UP,                    // 0 .. 15 likewise
    VOLCMD_FINE_SLIDE_DOWN,             // 0 .. 15 once, at the row start
    VOLCMD_FINE_SLIDE_UP,               // 0 .. 15 likewise
    VOLCMD_VIBRATO_SPEED,               // 0 .. 15
    VOLCMD_VIBRATO,                     // depth 0 .. 15 (with the last speed)
    VOLCMD_SET_PANNING,                 // 0 .. 15 (x 16)
    VOLCMD_PANNING_SLIDE_LEFT,          // 0 .. 15
    VOLCMD_PANNING_SLIDE_RIGHT,         // 0 .. 15
    VOLCMD_TONE_PORTAMENTO,             // 0 .. 15 (x 16 as the speed)
    // IT's volume column (a .. h, the panning):
    VOLCMD_PORTAMENTO_DOWN,             // e: 0 .. 9 (x 4 as Exx's parameter)
    VOLCMD_PORTAMENTO_UP,               // f: 0 .. 9 likewise
    VOLCMD_TONE_PORTAMENTO_SPEED,       // g: the speed itself, 0 .. 255
    VOLCMD_PANNING,                     // 0 (left) .. 255 (right)
    SONG_VOLUME_COMMAND_COUNT,
};

// S7y, Impulse Tracker's control of the notes a channel has sounded: the
// past notes (in background voices) cut, released or fading; the new-note
// action of the note playing; its envelopes off or on.
enum SongInstrumentControl : uint8_t {
    SONG_PAST_NOTES_CUT = 0,
    SONG_PAST_NOTES_OFF,
    SONG_PAST_NOTES_FADE,
    SONG_NOTE_ACTION_CUT,
    SONG_NOTE_ACTION_CONTINUE,
    SONG_NOTE_ACTION_OFF,
    SONG_NOTE_ACTION_FADE,
    SONG_VOLUME_ENVELOPE_OFF,
    SONG_VOLUME_ENVELOPE_ON,
    SONG_PANNING_ENVELOPE_OFF,
    SONG_PANNING_ENVELOPE_ON,
    SONG_PITCH_ENVELOPE_OFF,
    SONG_PITCH_ENVELOPE_ON,
};

// One cell of a row, unpacked. A cell of all zeros is empty.
struct SongCell {
    uint8_t note;               // SongNote: 0 none, 1 .. 120, key off, cut, fade
    uint8_t instrument;         // 1 .. instrument_count, 0 none
    uint8_t volume_command;     // SongVolumeCommand
    uint8_t volume_param;
    uint8_t command;            // SongCommand
    uint8_t param;
    uint16_t period;            // MOD only: the Amiga period as the file
                                // writes it (12 bits), so that periods off
                                // the note table play exactly; 0 none. The
                                // note of a MOD cell is the one whose
                                // ProTracker period this is, 0 off the table.
};

// A packed cell takes at most this many bytes: a channel byte, a byte
// saying which fields follow, then note, instrument (1 byte each), volume
// command, command (2 bytes each) and period (2 bytes), each only when it
// is not zero. A MOD cell (4 bytes in the file) has no volume command, so
// it packs into at most 8; an XM or S3M cell packs into at most twice the
// bytes its file spends on it; an IT cell, which can repeat its channel's
// last values from one byte of the file, into at most 8 bytes for each of
// its bytes.
constexpr int SONG_PACKED_CELL_MAX_BYTES = 10;

enum SongLoop : uint8_t {
    SONG_LOOP_NONE = 0,
    SONG_LOOP_FORWARD,          // from the loop end back to the loop start
    SONG_LOOP_PING_PONG,        // back and forth between loop start and end
};

// One sample. Lengths and positions count frames (sample points), whatever
// the bits.
struct SongSample {
    char name[SONG_NAME_BYTES + 1];  // printable or not; NUL-ended
    const void *data;           // `length` frames of int8_t (bits 8) or
                                // int16_t (bits 16, native byte order); a
                                // stereo sample's right half follows them
    uint32_t length;            // frames
    uint32_t loop_start;        // frames; loop_start + loop_length <= length
    uint32_t loop_length;       // frames; 0 exactly when loop is SONG_LOOP_NONE
    uint32_t sustain_start;     // IT's sustain loop, played instead of the
    uint32_t sustain_length;    // loop until the note is released: frames,
                                // as loop_start and loop_length
    uint8_t loop;               // SongLoop
    uint8_t sustain_loop;       // SongLoop of the sustain loop
    uint8_t bits;               // 8 or 16
    uint8_t stereo;             // 1: `data` holds 2 x length frames, left half first
    uint32_t c2spd;             // Hz of C-4 (S3M's C2SPD; IT's C5 speed, the
                                // Hz of C-5; 0 where the format has none)
    int8_t finetune;            // 1/128 semitone, -128 .. 127 (MOD's nibble
                                // n is (n < 8 ? n : n - 16) x 16)
    int8_t relative_note;       // semitones added to the cell's note (XM)
    uint8_t volume;             // default volume 0 .. 64 (a MOD header byte
                                // is kept as written, up to 255: the player
                                // clamps where it plays it)
    uint8_t panning;            // default panning 0 .. 255, when has_panning
    uint8_t has_panning;        // 1: a note start sets the channel's panning (XM, IT)
    // Impulse Tracker's
    uint8_t global_volume;      // 0 .. 64, scales every note of the sample
    uint8_t autovibrato_type;   // 0 sine, 1 ramp down, 2 square, 3 random
    uint8_t autovibrato_speed;  // 0 .. 64, waveform positions (of 256) per tick
    uint8_t autovibrato_depth;  // 0 .. 64
    uint8_t autovibrato_rate;   // 0 .. 64: the depth grows by rate / 256 a tick
};

enum SongEnvelopeFlag : uint8_t {
    SONG_ENVELOPE_ON = 1,
    SONG_ENVELOPE_SUSTAIN = 2,  // holds at the sustain point until key off
    SONG_ENVELOPE_LOOP = 4,     // goes from the loop end back to the loop start
    SONG_ENVELOPE_SUSTAIN_LOOP = 8,  // with SUSTAIN: until key off it loops from
                                // point `sustain` to point `sustain_end` (IT)
    SONG_ENVELOPE_CARRY = 16,   // a new note of the instrument goes on where
                                // the channel's last note left it (IT)
    SONG_ENVELOPE_FILTER = 32,  // the pitch envelope moves the filter's cutoff
                                // instead of the pitch (IT)
};

struct SongEnvelopePoint {
    uint16_t tick;              // ticks from the note start, increasing
    uint8_t value;              // 0 .. 64 (panning and pitch: 32 is the middle)
};

struct SongEnvelope {
    SongEnvelopePoint points[SONG_ENVELOPE_POINTS];
    uint8_t count;              // points in use, 0 .. 25 (on needs at least 1)
    uint8_t sustain;            // point index, < count
    uint8_t loop_start;         // point index, <= loop_end < count
    uint8_t loop_end;
    uint8_t flags;              // SongEnvelopeFlag
    uint8_t sustain_end;        // SONG_ENVELOPE_SUSTAIN_LOOP: sustain <= it < count
};

// What becomes of a note still sounding when its channel starts another
// (Impulse Tracker's new-note action). The formats without one cut it.
enum SongNewNoteAction : uint8_t {
    SONG_NNA_CUT = 0,           // it stops: the channel's voice plays the new note
    SONG_NNA_CONTINUE,          // it sounds on in a background voice, as it was
    SONG_NNA_NOTE_OFF,          // it sounds on released (as by key off)
    SONG_NNA_NOTE_FADE,         // it sounds on, its fadeout running
    SONG_NNA_COUNT,
};

// Impulse Tracker's duplicate check: when a channel starts a note, its
// earlier notes still sounding in background voices that match it (the
// same note of the same instrument, the same sample, or the same
// instrument) end by the instrument's duplicate action (a SongNewNoteAction
// but continue: cut, note off or fade).
enum SongDuplicateCheck : uint8_t {
    SONG_DUPLICATE_OFF = 0,
    SONG_DUPLICATE_NOTE,
    SONG_DUPLICATE_SAMPLE,
    SONG_DUPLICATE_INSTRUMENT,
    SONG_DUPLICATE_COUNT,
};

// An instrument's filter cutoff or resonance that is not set.
constexpr uint8_t SONG_FILTER_UNSET = 0xFF;

// One instrument: which sample each note plays and what shapes it. A MOD
// or S3M sample is an instrument of its own: every note maps to it, and it
// has no envelopes.
struct SongInstrument {
    char name[SONG_NAME_BYTES + 1];
    uint16_t note_samples[SONG_NOTES];  // for note n, entry n - 1: 1 ..
                                        // sample_count, 0 plays nothing
    uint8_t note_notes[SONG_NOTES];     // for note n, entry n - 1: the note
                                        // played instead (IT's note map), 0
                                        // for n itself
    SongEnvelope volume_envelope;
    SongEnvelope panning_envelope;
    SongEnvelope pitch_envelope;        // IT: 32 the note's pitch, a step a
                                        // half semitone; or the filter's
                                        // (SONG_ENVELOPE_FILTER)
    uint16_t fadeout;           // after key off, subtracted each tick from a
                                // fade volume of 32768 (0: no fade)
    uint8_t vibrato_type;       // auto-vibrato: 0 sine, 1 square, 2 ramp down, 3 ramp up
    uint8_t vibrato_sweep;      // ticks to reach the full depth
    uint8_t vibrato_depth;      // 0 .. 15
    uint8_t vibrato_rate;       // 0 .. 63, waveform positions (of 256) per tick
    uint8_t new_note_action;    // SongNewNoteAction of its notes
    // Impulse Tracker's
    uint8_t duplicate_check;    // SongDuplicateCheck
    uint8_t duplicate_action;   // SONG_NNA_CUT, SONG_NNA_NOTE_OFF or SONG_NNA_NOTE_FADE
    uint8_t global_volume;      // 0 .. 128, scales every note of the instrument
    uint8_t panning;            // default panning 0 .. 255, when has_panning
    uint8_t has_panning;        // 1: a note start sets the channel's panning
    int8_t pitch_pan_separation;  // -32 .. 32: the panning moves by
                                // (note - centre) x separation / 8 (IT units)
    uint8_t pitch_pan_center;   // the note 1 .. 120 the panning is as set on
    uint8_t random_volume;      // 0 .. 100: a note's volume varies by up to
                                // this many percent either way
    uint8_t random_panning;     // 0 .. 64: its panning by up to this (IT units)
    uint8_t filter_cutoff;      // 0 .. 127 set by a note, or SONG_FILTER_UNSET
    uint8_t filter_resonance;   // 0 .. 127 likewise
};

// What a MIDI macro (IT's Zxx, SFy) does: the ones that set the filter of
// the channel's voice are played, the rest ignored.
enum SongMacroKind : uint8_t {
    SONG_MACRO_NONE = 0,
    SONG_MACRO_CUTOFF,          // sets the filter's cutoff
    SONG_MACRO_RESONANCE,       // sets its resonance
};

// A macro's value: the number it sets, 0 .. 127, or this one for the
// parameter of Z00 .. Z7F.
constexpr uint8_t SONG_MACRO_VALUE_PARAMETER = 0xFF;

struct SongMacro {
    uint8_t kind;               // SongMacroKind
    uint8_t value;              // 0 .. 127 or SONG_MACRO_VALUE_PARAMETER
};

// A format's playback rules that differ from the others'. Readers set the
// ones their format's reference tracker follows; each says what the player
// then does and why the format wants it. A format whose tracker follows a
// rule not listed here adds its flag here together with the player's
// handling of it, never a second copy of the player.
enum SongQuirk : uint64_t {
    // A note starts 2 frames into its sample (after sample offsets too):
    // the first word of a MOD sample is traditionally a loop-control word.
    SONG_QUIRK_NOTE_START_SKIPS_TWO = 1u << 0,
    // The first pass after a note start plays to the sample's end even
    // when its loop ends earlier: Paula plays the whole sample before the
    // loop registers take over.
    SONG_QUIRK_FIRST_PASS_TO_SAMPLE_END = 1u << 1,
    // An instrument number without a note restarts its sample at the
    // channel's period (except under tone portamento), as this engine's
    // MOD player always has.
    SONG_QUIRK_INSTRUMENT_ALONE_RESTARTS = 1u << 2,
    // A note without an instrument number resets the channel's volume to
    // the default of the sample last started on it.
    SONG_QUIRK_NOTE_ALONE_RESETS_VOLUME = 1u << 3,
    // A pattern loop of y (E6y) plays its section y times in all, one pass
    // short of ProTracker's y repeats: this engine's MOD player's rule.
    SONG_QUIRK_PATTERN_LOOP_ONE_SHORT = 1u << 4,
    // A pattern delay (EEy) adds y x the speed at its cell in ticks, kept
    // in 8 bits, instead of y rows at whatever speed follows.
    SONG_QUIRK_PATTERN_DELAY_TICKS = 1u << 5,
    // Channels sit hard left or right (L R R L across the channels, as
    // Paula's four DMA channels) and panning commands do nothing.
    SONG_QUIRK_HARD_PANNING = 1u << 6,
    // S3M: one parameter memory per channel shared by the commands D, E,
    // F, I, J, K, L, Q and R, as Scream Tracker 3 keeps it: a parameter of
    // 00 recalls the last nonzero one any of them was given.
    SONG_QUIRK_SHARED_EFFECT_MEMORY = 1u << 7,
    // S3M: volume slides also run on the row's first tick (Scream Tracker
    // 3.00's "fast volume slides", header flag 64 or tracker version 0x1300).
    SONG_QUIRK_FAST_VOLUME_SLIDES = 1u << 8,
    // S3M with the Amiga-limits flag: slides keep the quarter period within
    // the Amiga's range (4 x 113 .. 4 x 856).
    SONG_QUIRK_AMIGA_LIMITS = 1u << 9,
    // XM: a note delay (EDy) of y at or past the speed plays nothing of its
    // cell, neither the note nor the instrument nor the volume column, even
    // in a row a pattern delay lengthens (FastTracker II counts the delay
    // within one row's ticks and never reaches it).
    SONG_QUIRK_NOTE_DELAY_PAST_ROW_IGNORED = 1u << 10,
    // XM: each voice's gains move to new values over a few milliseconds
    // instead of at once, as FastTracker II's mixer ramps them.
    SONG_QUIRK_VOLUME_RAMPING = 1u << 11,
    // The voice is set only by commands: a tick without a command leaves
    // the period and volume the last command played (the last step of an
    // arpeggio or a vibrato carries on into the next rows), as this
    // engine's four-channel MOD player always has. Without it every tick
    // plays the channel's period and volume afresh, shaped by its
    // instrument's envelopes, fadeout and auto-vibrato.
    SONG_QUIRK_COMMANDLESS_TICKS_KEEP_VOICE = 1u << 12,
    // Arpeggio plays its low nibble's step on the second tick of each three
    // and its high nibble's on the third (this engine's four-channel MOD
    // player); without it the high nibble comes first, as ProTracker,
    // FastTracker II and Scream Tracker 3 play it.
    SONG_QUIRK_ARPEGGIO_LOW_NIBBLE_FIRST = 1u << 13,
    // A vibrato or tremolo command restarts its waveform on every row that
    // holds it, advances before it plays, and remembers its parameter as a
    // whole byte (this engine's four-channel MOD player). Without it the
    // waveform restarts at note starts (unless its waveform command says
    // otherwise), plays then advances, and speed and depth are remembered
    // each on its own.
    SONG_QUIRK_WAVES_RESTART_EACH_ROW = 1u << 14,
    // A position jump and a pattern break on one row combine: the song goes
    // to the jump's position at the break's row, whichever channel holds
    // which (ProTracker, FastTracker II, Scream Tracker 3). Without it the
    // later channel's command decides alone.
    SONG_QUIRK_JUMP_AND_BREAK_COMBINE = 1u << 15,
    // XM: every slide remembers its last nonzero parameter and a 00 recalls
    // it: portamento up and down (1xx, 2xx), their fine and extra-fine forms
    // (E1y, E2y, X1y, X2y) and the fine volume slides (EAy, EBy) each their
    // own, the volume slides A, 5 and 6 one between them, the global volume
    // slide, the panning slide, multi retrigger and tremor theirs
    // (FastTracker II). Without it 1xx, 2xx and the fine slides of 00 do
    // nothing, and A, 5 and 6 keep a memory each.
    SONG_QUIRK_SLIDE_MEMORIES = 1u << 16,
    // S3M: the volume slide and the portamentos carry their kind in the
    // parameter, decoded when played so that a recalled parameter keeps its
    // kind: DxF and DFy fine volume slides (on the first tick only), Dx0
    // and D0y slides (D0F and DF0 on the first tick too, and a D with both
    // nibbles otherwise set slides down by y),
    // EFx and FFx fine portamentos (x 4 quarter periods, first tick), EEx
    // and FEx extra fine ones (x 1), others x 4 on each later tick.
    SONG_QUIRK_SLIDE_KIND_IN_PARAMETER = 1u << 17,
    // XM: a sample offset (9xx) at or past the sample's end, or a looped
    // sample's loop end, plays nothing (FastTracker II keeps a looped sample
    // only up to its loop end, and stops the voice); without it a looped
    // sample goes on from its loop start.
    SONG_QUIRK_OFFSET_PAST_END_SILENT = 1u << 18,
    // XM: arpeggio chooses its note by the ticks left in the row, as
    // FastTracker II counts them down: 1, 4, 7 ... left play x, 2, 5, 8 ...
    // y, the rest the note, but 16 left the note and more than 16 y (its
    // table ends at 16). At speed 6 that is note, y, x, note, y, x.
    SONG_QUIRK_ARPEGGIO_TICKS_LEFT = 1u << 19,
    // XM: an instrument number waits for a note (FastTracker II). Alone (or
    // with a key off) it restarts the shaping of the instrument playing and
    // takes the volume and panning of the sample playing; the next note
    // without a number plays the instrument it named. With a tone
    // portamento it restarts the shaping and takes the volume, and is then
    // forgotten. A note delay (EDy) on a row without a note, or with a key
    // off, starts the channel's last note again on its tick (after the key
    // off), and any delayed note restarts the shaping, keeping the volume.
    // E5y tunes the note of its row (finetune (y - 8) x 16) and the
    // portamentos after it. Without it an instrument number takes effect at
    // once and E5y does nothing.
    SONG_QUIRK_INSTRUMENT_WAITS_FOR_NOTE = 1u << 20,
    // S3M: S2y sets the channel's C2SPD from Scream Tracker 3's table until
    // the next instrument number, retuning the note playing at once.
    SONG_QUIRK_FINETUNE_SETS_C2SPD = 1u << 21,
    // XM: a tremor's silent ticks silence the channel until the tremor's
    // next heard tick or an instrument number, whatever else the rows do
    // (FastTracker II mutes the channel's output volume itself): a tremor
    // that ends silent leaves the channel silent.
    SONG_QUIRK_TREMOR_MUTES = 1u << 22,
    // MOD periods: a sample's finetune retunes the notes of period_table to
    // ProTracker's finetuned periods (the lowest octave's from its table,
    // halved for each octave up, halves kept) instead of multiplying their
    // rates, as openmpt123 plays multichannel MODs. Periods off the table
    // (slides) keep the multiplier.
    SONG_QUIRK_FINETUNED_PERIODS = 1u << 23,
    // S3M written by Impulse Tracker: a note plays at exactly its C2SPD x
    // 2^((note - C-4) / 12), its quarter period keeping a fraction, as
    // Impulse Tracker (and openmpt123 for such files) plays it, where
    // Scream Tracker 3 rounds the period down to a whole quarter (0.2% sharp
    // at a period near 400). Slides move the period by whole quarters and
    // keep the fraction.
    SONG_QUIRK_EXACT_NOTE_PERIODS = 1u << 24,
    // S3M: of several pattern delays (SEy) on one row only the first, in
    // channel order, counts (Scream Tracker 3); without it the last does.
    SONG_QUIRK_FIRST_PATTERN_DELAY = 1u << 25,
    // S3M: tremor (Ixy) counts every tick of its rows, the first included,
    // and goes on counting from row to row (Scream Tracker 3); without it
    // the rows' first ticks are not counted.
    SONG_QUIRK_TREMOR_COUNTS_FIRST_TICK = 1u << 26,
    // S3M: a portamento up that would take the quarter period to 0 or
    // below stops the note (Scream Tracker 3) instead of holding the period
    // at its least.
    SONG_QUIRK_SLIDE_PAST_TOP_STOPS = 1u << 27,
    // XM: after a pattern loop (E6y) has played out, the next pattern the
    // song reaches without a jump or break starts at that loop's start row,
    // and a loop and a break (Dxx) on one row share the decision: the
    // first in channel order says whether the song stays in the pattern
    // (loop) or goes on (break), a break after a loop giving the row it
    // goes back to (FastTracker II keeps the loop's row in the break's).
    SONG_QUIRK_LOOP_ROW_IS_BREAK_ROW = 1u << 28,
    // XM: with looping off, a pattern loop that goes back to where the song
    // already stood with every channel's loop count and start as they are
    // now would repeat for ever: the song ends there instead (nested loops
    // on one channel share its one counter in FastTracker II and can
    // restart each other endlessly). Without it such a loop plays on.
    SONG_QUIRK_ENDLESS_LOOP_ENDS_SONG = 1u << 29,
    // S3M: multi retrigger (Qxy) counts its ticks on from row to row, each
    // row's first tick included, and starts counting afresh on the first
    // tick of a row after one without it; Q with y 0 retriggers on every
    // tick (Scream Tracker 3). Without it only later ticks count and y 0
    // does nothing.
    SONG_QUIRK_RETRIGGER_COUNTS_ON = 1u << 30,
    // S3M written by Impulse Tracker: multi retrigger (Qxy) counts down its
    // ticks on every tick of a row that holds it, the first included, from
    // wherever the last count stopped, whatever the rows between held; when
    // none are left (at first none are) the sample restarts at once and the
    // count starts again at y (1 for y 0), as Impulse Tracker plays it.
    SONG_QUIRK_RETRIGGER_COUNTS_DOWN = 1u << 31,
    // S3M: the song coming to another order position puts every channel's
    // pattern loop start (SB0) back at row 0, as Scream Tracker 3 and
    // Impulse Tracker do; without it a loop start stays until the next SB0.
    SONG_QUIRK_PATTERN_CHANGE_RESETS_LOOP = 1ull << 32,
    // S3M written by Scream Tracker 3: a portamento up or down (F, E) on
    // the row after an arpeggio slides from the note the arpeggio played
    // last rather than from the row's note (Scream Tracker 3 leaves the
    // arpeggio's period in the register its slides move).
    SONG_QUIRK_SLIDE_FROM_ARPEGGIO = 1ull << 33,
    // Impulse Tracker's rules from bit 40 on.
    // IT: a voice's loudness is its note volume times its channel's volume
    // (Mxx, the header's channel volume), the sample's and the instrument's
    // global volumes, the envelope, the fadeout and the global volume, which
    // counts 0 .. 128 (Vxx, Wxy); every panning is drawn toward the middle
    // by the song's panning separation; the mixing volume scales the output.
    SONG_QUIRK_LAYERED_VOLUMES = 1ull << 40,
    // IT: a sample sounds at its c2spd (C5 speed) on C-5, note 61, rather
    // than on C-4: Amiga periods from that, and linear periods heard
    // relative to it (7680 - 64 x (note - 1) + 768 at its c2spd x 2^((4608 -
    // period) / 768)).
    SONG_QUIRK_C5_SPEED = 1ull << 41,
    // IT: envelope loops and sustain loops play their end point, then go
    // back to their start; a volume envelope run past its last point starts
    // the fadeout, and ends the note when that point is 0. Key off starts
    // the fadeout too when the volume envelope is off or loops (an
    // instrument without one fades rather than falling silent); a note
    // without an instrument (no instruments in the song) is cut by it unless
    // its sample has a sustain loop to leave.
    SONG_QUIRK_IT_ENVELOPES = 1ull << 42,
    // IT: parameter memories as Impulse Tracker keeps them: D, K and L one
    // between them, E and F one (G with them under
    // SONG_QUIRK_LINKED_PORTAMENTO_MEMORY, its own otherwise), H and U one
    // by nibbles, I, J, N, O, Q, R, T, W and Y each their own, and the
    // volume column's slides one of theirs; a 00 recalls.
    SONG_QUIRK_COMMAND_MEMORIES = 1ull << 43,
    // IT with compatible Gxx: tone portamento shares the portamento memory
    // of E and F, and an instrument number beside it restarts the envelopes.
    SONG_QUIRK_LINKED_PORTAMENTO_MEMORY = 1ull << 44,
    // IT without old effects: vibrato (H, U, K, the volume column's h) moves
    // on every tick, the row's first too, at half Scream Tracker 3's depth.
    SONG_QUIRK_VIBRATO_EVERY_TICK = 1ull << 45,
    // IT without old effects: a sample offset past the sample's end is
    // ignored (the note starts at the beginning).
    SONG_QUIRK_OFFSET_PAST_END_IGNORED = 1ull << 46,
    // IT: the auto-vibrato is the sample's: its speed in waveform positions
    // (of 256) a tick, its depth reached by growing rate / 256 a tick.
    SONG_QUIRK_SAMPLE_AUTOVIBRATO = 1ull << 47,
    // IT: Pxy slides the panning right by y or left by x (x 4 on 0 .. 255),
    // PFy and PxF once on the row's first tick.
    SONG_QUIRK_PANNING_SLIDE_KINDS = 1ull << 48,
    // IT without old effects: tremor's x and y are the ticks heard and
    // silent, 0 read as 1 (Scream Tracker 3 adds one to each).
    SONG_QUIRK_TREMOR_EXACT_TICKS = 1ull << 49,
    // IT: a pattern loop that has run its course starts the next one from
    // the row after it, so that a later SBx without an SB0 does not loop
    // back over it.
    SONG_QUIRK_LOOP_STARTS_AFTER = 1ull << 50,
};

// One pattern: its rows' packed cells are rows first_row .. first_row +
// rows - 1 of the song's row table.
struct SongPattern {
    uint16_t rows;              // 1 .. 256
    uint32_t first_row;
};

// The whole song. Allocated by song_create, released by song_destroy with
// every block it owns (instruments, samples, row table, cells, decoded
// sample data).
struct Song {
    // What it is
    uint8_t format;                         // SongFormat
    char title[SONG_TITLE_BYTES + 1];       // bytes as the file has them, NUL-ended
    char format_name[SONG_FORMAT_NAME_BYTES];  // for listings, e.g. "MOD M.K.", "XM 1.04"
    char *message;                          // the song message (IT), NUL-ended, lines
                                            // ending in '\n'; owned, or null
    size_t message_bytes;                   // the block's size, NUL included
    // Layout
    uint8_t channel_count;                  // 1 .. 64
    uint16_t order_count;                   // order positions played, 1 .. 256
    uint8_t restart;                        // position the song goes on from after
                                            // its last, < order_count
    uint8_t orders[SONG_MAX_ORDERS];        // pattern of each position, < pattern_count
    uint16_t pattern_count;                 // 1 .. 256
    SongPattern patterns[SONG_MAX_PATTERNS];
    uint32_t total_rows;                    // rows of all patterns
    uint32_t *row_starts;                   // total_rows + 1 offsets into cells
    uint8_t *cells;                         // packed rows
    size_t cell_bytes;                      // bytes in use
    size_t cell_capacity;                   // bytes allocated
    uint32_t rows_written;                  // rows song_put_row has added
    // Instruments and samples
    uint8_t instrument_count;               // 0 .. 128
    SongInstrument *instruments;            // instrument n at index n - 1
    uint16_t sample_count;                  // 0 .. 2048
    SongSample *samples;                    // sample n at index n - 1
    void *sample_data;                      // decoded sample data the song owns, or null
    size_t sample_data_bytes;               // its size
    // Playback
    uint8_t frequency_mode;                 // SongFrequencyMode
    uint64_t quirks;                        // SongQuirk bits
    uint8_t initial_speed;                  // ticks per row, 1 .. 255
    uint8_t initial_tempo;                  // beats per minute, 32 .. 255
    uint8_t initial_global_volume;          // 0 .. 64 (0 .. 128 with
                                            // SONG_QUIRK_LAYERED_VOLUMES)
    uint8_t channel_panning[SONG_MAX_CHANNELS];  // 0 (left) .. 255 (right)
    // Impulse Tracker's (SONG_QUIRK_LAYERED_VOLUMES)
    uint8_t channel_volume[SONG_MAX_CHANNELS];   // initial Mxx, 0 .. 64
    uint8_t mixing_volume;                  // 0 .. 128, scales the output
    uint8_t panning_separation;             // 0 (mono) .. 128 (as set): every
                                            // panning is drawn toward the middle
    SongMacro macros[SONG_MACRO_PARAMETERED + SONG_MACRO_FIXED];  // SF0 .. SFF,
                                            // then Z80 .. ZFF
};

// A new song, all zero (no format, no patterns, no instruments), or null
// when it cannot be allocated.
Song *song_create(void);

// Releases the song and every block it owns; never the module bytes its
// samples may point into. Null does nothing.
void song_destroy(Song *song);

// The song's message block, `bytes` long (the text and its NUL), zeroed.
// Returns it, or null when memory runs out, bytes is 0 or one exists already.
char *song_alloc_message(Song *song, size_t bytes);

// Allocates the pattern tables of `pattern_count` patterns (1 .. 256) whose
// row counts are rows[0 .. pattern_count - 1] (each 1 .. 256), and room for
// `cell_bytes` bytes of packed cells (the reader's bound, at most twice the
// bytes its file spends on the cells: see SONG_PACKED_CELL_MAX_BYTES). The
// song must have its channel_count set. Returns 1, or 0 with nothing
// allocated for counts out of range or when memory runs out.
int song_alloc_patterns(Song *song, int pattern_count, const uint16_t *rows, size_t cell_bytes);

// Appends the next row: pattern 0's rows in order, then pattern 1's and so
// on. `cells` holds channel_count cells; empty ones are not stored.
// Returns 1, or 0 when every row is written already or the row does not fit
// the room song_alloc_patterns made (the reader's bound was wrong).
int song_put_row(Song *song, const SongCell *cells);

// The bytes song_put_row packs `cell` into: 0 for an empty cell, else at
// most SONG_PACKED_CELL_MAX_BYTES. Null counts as empty.
size_t song_packed_cell_bytes(const SongCell *cell);

// Once every row is written: gives back the room the rows did not use.
// Returns 1, or 0 when rows are missing.
int song_finish_patterns(Song *song);

// Unpacks row `row` of pattern `pattern` into cells[0 .. channel_count -
// 1] (channels without a stored cell get an empty one). A pattern or row
// outside the song gives empty cells. Null song or cells does nothing.
void song_row(const Song *song, int pattern, int row, SongCell *cells);

// Allocates `count` (0 .. 128) instruments, all zero, and `sample_count`
// (0 .. 2048) samples, all zero. Returns 1, or 0 with nothing allocated.
int song_alloc_instruments(Song *song, int count, int sample_count);

// The song's one block of decoded sample data, `bytes` long, zeroed.
// Returns it, or null when memory runs out or one exists already.
void *song_alloc_sample_data(Song *song, size_t bytes);

// Whether the song keeps every invariant listed at the top of this file:
// 1 when it does, else 0. Readers run it last; a song it refuses is a
// reader's fault, never the file's.
int song_valid(const Song *song);

#endif
