// Whether the player takes a module file, and if not, why: the one check
// that player creation runs (mod_player_create_checked refuses exactly
// what it refuses) and the one sentence for each reason, which the music
// start-up and the tools print. The check first recognises the format from
// its signature, then checks that format's layout against the file's
// size; each format the engine reads adds a detection and a reading step
// here (module_check.cpp's table of formats), the reading step checking
// the layout and, asked to, handing over the song it read
// (module_check_song).
#ifndef MUSIC_MODULE_CHECK_H
#define MUSIC_MODULE_CHECK_H

#include <cstddef>
#include <cstdint>

#include "music/module_read_result.h"
#include "music/song.h"

// The largest module file read at all (module_file.h refuses larger ones
// before loading them): XM, S3M and IT files carry far more sample data than a
// MOD can (the largest real ones run to a few MiB), so the bound is
// generous, yet keeps a device or a film named as music from being read.
constexpr long MODULE_MAX_FILE_BYTES = 64L * 1024L * 1024L;

// The formats the check recognises.
enum ModuleFormat : uint8_t {
    MODULE_FORMAT_NONE = 0,  // no format's signature (or too short to hold one)
    MODULE_FORMAT_MOD,       // MOD: a signature at byte 1080 (mod_read_signature),
                             // or a plausible 15-sample Soundtracker header
    MODULE_FORMAT_XM,        // FastTracker II: "Extended Module: " at byte 0
    MODULE_FORMAT_S3M,       // Scream Tracker 3: "SCRM" at byte 44
    MODULE_FORMAT_IT,        // Impulse Tracker: "IMPM" at byte 0
};

// Why a module is not played: MODULE_ACCEPTED (0) when it is. The first
// five are the module's own; the last two come only from player creation.
enum ModuleRefusal : uint8_t {
    MODULE_ACCEPTED = 0,
    MODULE_EMPTY,               // null bytes, or a size of 0 or less
    MODULE_SHORT_HEADER,        // no signature recognised and shorter than a
                                // MOD header (needed_bytes)
    MODULE_UNKNOWN_SIGNATURE,   // no format recognises the signature
    MODULE_TRUNCATED_PATTERNS,  // the patterns end past the end of the file
    MODULE_UNSUPPORTED_FORMAT,  // a format the engine knows by its signature
                                // but does not play (unsupported names it)
    MODULE_READ_REFUSED,        // an XM, S3M or IT file its reader refuses (`read`
                                // says why)
    MODULE_OUTPUT_RATE,         // the output rate asked of the player is outside
                                // MOD_MIN_OUTPUT_RATE_HZ .. MOD_MAX_OUTPUT_RATE_HZ
    MODULE_NO_MEMORY,           // the player's record could not be allocated
};

// The check's result: the reason with the numbers its sentence gives, and
// the layout the player is built from.
struct ModuleCheck {
    ModuleRefusal refusal;      // MODULE_ACCEPTED, or the first reason found
    ModuleFormat format;        // recognised format, also when its layout is refused
    long size_bytes;            // the size checked
    long needed_bytes;          // MODULE_SHORT_HEADER: the header's size;
                                // MODULE_TRUNCATED_PATTERNS: header and patterns
    uint8_t signature[4];       // a MOD's bytes 1080 .. 1083 (0 when the file is shorter)
    int output_rate_hz;         // MODULE_OUTPUT_RATE: the rate asked for
    const char *unsupported;    // MODULE_UNSUPPORTED_FORMAT: the format's name
                                // ("MED", "MTM", ...), a static string
    // Layout, set once the format is recognised (pattern_count also for
    // MODULE_TRUNCATED_PATTERNS).
    int channels;               // 1 .. 64
    int sample_count;           // a MOD's: 31, or 15 for Soundtracker's layout
    uint8_t split_patterns;     // 1 for FLT8: patterns stored as two halves
    int pattern_count;          // patterns stored, 1 .. 128 (FLT8: of 8 channels)
    uint8_t pattern_mask;       // applied to order entries: 63 or 127
    size_t sample_data_offset;  // first byte of sample data: after the patterns
    // XM, S3M and IT: the reader's result (refusal, or what it read differently
    // from what the file says: module_read_notice_text).
    ModuleReadResult read;
};

// Checks the size_bytes bytes at `module` and fills *check (every field:
// the ones a refusal leaves unused are 0). The steps, first failure
// reported: empty; a format recognised by its signature; else a format
// the engine does not play, named by its own (module_unsupported_format:
// MED, MTM, ...); else a format recognised only by a plausible header
// (Soundtracker's 15-sample MOD); else too short for a MOD header, or an
// unknown signature. Then that format's layout: a MOD's patterns, counted
// over all 128 order entries, within the file; an XM, S3M or IT file read
// whole by its reader (xm_read, s3m_read, it_read), which refuses what they refuse.
// Sample data running past the end is no refusal: the player plays what
// the file holds. Returns check->refusal; null check does nothing and
// returns MODULE_EMPTY.
ModuleRefusal module_check(const uint8_t *module, long size_bytes, ModuleCheck *check);

// module_check, handing over the song it read: for an accepted module
// *song receives it (the caller's from then on: song_destroy releases it,
// mod_player_create_song takes it), so that the file is read once. An XM
// or S3M is read whole to be checked anyway; a MOD is read after its
// layout passed. Null *song for a refused module, and MODULE_NO_MEMORY
// when the song cannot be allocated. A null song pointer gives
// module_check.
ModuleRefusal module_check_song(const uint8_t *module, long size_bytes, ModuleCheck *check, Song **song);

// The sentence for check->refusal, naming the file as `path` (null reads
// as ""), written into text (at most text_bytes bytes, NUL-ended, cut to
// fit). The module's refusals read "'PATH' is not a module: REASON":
//   the file is empty
//   N bytes is too short for a module header (1084 bytes)
//   no MOD, XM, S3M or IT signature (bytes 1080 to 1083 read "SIG")
//   truncated: its N patterns need N bytes, the file has N
// an XM, S3M or IT reader's refusal as module_read_refusal_text words it, and a
// format it does not play "'PATH': NAME modules are not supported",
// with each signature byte outside printable ASCII written as a backslash,
// 'x' and two hex digits, and a quote or backslash among them with a
// backslash before it. Creation's own refusals read "cannot create the
// player for 'PATH' at N Hz (it renders at 102 to 65535 Hz)" and "out of
// memory creating the player for 'PATH'".
// Returns 1 when a refusal was put into words, 0 (text "") for an accepted
// module. Null check writes "" and returns 0; null text or text_bytes 0
// writes nothing.
int module_refusal_text(const ModuleCheck *check, const char *path, char *text, size_t text_bytes);

#endif
