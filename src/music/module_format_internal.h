// The MOD file's layout: named offsets of the classic layout (31 samples,
// a signature at byte 1080) and of Soundtracker's older one (15 samples,
// no signature), the signatures and the channels they name, and the
// format's detection and layout steps of the module check
// (module_check.h). The MOD reader (mod_read_internal.h) turns a checked file into
// a song. Multi-byte numbers in the file are big-endian unsigned.
#ifndef MUSIC_MODULE_FORMAT_INTERNAL_H
#define MUSIC_MODULE_FORMAT_INTERNAL_H

#include <cstddef>
#include <cstdint>

#include "music/mod_player.h"

// File layout, offsets from the start of the module.
constexpr size_t MOD_TITLE_OFFSET = 0;
constexpr size_t MOD_SAMPLE_HEADERS_OFFSET = 20;
constexpr size_t MOD_SAMPLE_HEADER_BYTES = 30;
constexpr size_t MOD_SONG_LENGTH_OFFSET = 950;
constexpr size_t MOD_ORDER_TABLE_OFFSET = 952;
constexpr size_t MOD_SIGNATURE_OFFSET = 1080;
constexpr size_t MOD_PATTERNS_OFFSET = 1084;   // also the header's size
constexpr size_t MOD_CELL_BYTES = 4;
constexpr size_t MOD_PATTERN_BYTES = MOD_ROWS * MOD_CHANNELS * MOD_CELL_BYTES;  // 1024
constexpr int MOD_MAX_CHANNELS = 32;

// Soundtracker's layout: 15 sample headers, then the song length, a byte
// not read and the order table; the patterns follow at byte 600.
constexpr int MOD_SOUNDTRACKER_SAMPLES = 15;
constexpr size_t MOD_SOUNDTRACKER_SONG_LENGTH_OFFSET = 470;
constexpr size_t MOD_SOUNDTRACKER_ORDER_TABLE_OFFSET = 472;
constexpr size_t MOD_SOUNDTRACKER_HEADER_BYTES = 600;
// Where a header's song length byte is: 20 + 30 x the sample count. The
// order table follows two bytes later.
constexpr size_t mod_song_length_offset(int samples) {
    return MOD_SAMPLE_HEADERS_OFFSET + MOD_SAMPLE_HEADER_BYTES * static_cast<size_t>(samples);
}

// Inside a sample header.
constexpr size_t MOD_SAMPLE_NAME_OFFSET = 0;
constexpr size_t MOD_SAMPLE_LENGTH_OFFSET = 22;      // 16-bit words
constexpr size_t MOD_SAMPLE_FINETUNE_OFFSET = 24;    // low 4 bits
constexpr size_t MOD_SAMPLE_VOLUME_OFFSET = 25;
constexpr size_t MOD_SAMPLE_LOOP_START_OFFSET = 26;  // 16-bit words
constexpr size_t MOD_SAMPLE_LOOP_LENGTH_OFFSET = 28; // 16-bit words

// Pattern-count limits the signature chooses (order entries are masked with
// limit - 1).
constexpr int MOD_LIMIT_MK = 64;        // "M.K." and every other M?K?
constexpr int MOD_LIMIT_WIDE = 128;     // every other signature

// What a signature says about the file.
struct ModSignature {
    int channels;           // 1 .. 32
    int limit;              // MOD_LIMIT_MK or MOD_LIMIT_WIDE
    int split_patterns;     // 1 for FLT8: each pattern is stored as two
                            // four-channel patterns (channels 0 - 3, then
                            // 4 - 7), and order entries count those halves
};

// The signature at module bytes 1080..1083 (the caller guarantees at least
// 1084 bytes): 1 with *signature filled for
//   any M?K? (M!K! with limit 128, the others 64)   4 channels
//   "4CHN", "FLT4"                                  4 channels
//   "1CHN" .. "9CHN"                                1 .. 9 channels
//   "10CH" .. "32CH"                                10 .. 32 channels
//   "FLT8" (split patterns), "CD81", "OKTA", "OCTA" 8 channels
//   "TDZ1" .. "TDZ3"                                1 .. 3 channels
// (limit 128 but for M?K?), else 0. Null signature only tests.
int mod_read_signature(const uint8_t *module, ModSignature *signature);

// Signature test on module bytes 1080..1083 (the caller guarantees at least
// 1084 bytes): the limit of a signature mod_read_signature accepts, 0 when
// the module is rejected.
int mod_check_signature(const uint8_t *module);

// The order-entry mask a pattern-count limit gives: limit - 1, where a
// limit other than 64 or 128 counts as 128.
uint8_t mod_pattern_mask(int limit);

// The patterns a module stores: 1 + the largest (entry AND
// mod_pattern_mask(limit)) over all 128 entries of `order_table`, whatever
// the song length. Null counts as one pattern.
int mod_count_patterns(const uint8_t *order_table, int limit);

// What the layout step finds of a MOD, and the MOD reader builds on.
struct ModLayout {
    int channels;               // 1 .. 32
    int sample_count;           // 31, or 15 for Soundtracker's layout
    uint8_t split_patterns;     // 1 for FLT8: patterns stored as two halves
    int pattern_count;          // patterns stored, 1 .. 128 (FLT8: of 8 channels)
    uint8_t pattern_mask;       // applied to order entries: 63 or 127
    size_t sample_data_offset;  // first byte of sample data: after the patterns
    long needed_bytes;          // the header and the patterns
};

// The detection step of the module check: 1 when the size_bytes bytes at
// `module` hold a MOD header (1084 bytes) whose signature
// mod_read_signature accepts, else 0.
int mod_detect(const uint8_t *module, long size_bytes);

// The layout step of the module check for a module mod_detect recognised:
// fills *layout: channels, sample_count (31), split_patterns, pattern_count
// (of `channels`-wide patterns), pattern_mask, needed_bytes (the header and
// the patterns, 64 rows x channels x 4 bytes each) and sample_data_offset
// (there). Returns 1 when the layout fits, 0 when the file ends before the
// patterns do (a truncated module).
int mod_check_layout(const uint8_t *module, long size_bytes, ModLayout *layout);

// The detection step for a 15-sample Soundtracker module, which has no
// signature: 1 only when its 600-byte header is plausible, else 0:
//  - the title and the sample names hold no control characters (bytes 1
//    to 31; NUL and the rest are text);
//  - the song length is 1 .. 128 and every order entry is below 128;
//  - every sample's volume is at most 64 and its finetune byte at most 15;
//  - the file holds the header and the patterns the order table counts,
//    and ends at most MOD_SOUNDTRACKER_SLACK_BYTES after the sample data
//    the headers declare (a shorter file is a truncated module).
int mod_detect_soundtracker(const uint8_t *module, long size_bytes);
constexpr long MOD_SOUNDTRACKER_SLACK_BYTES = 4096;

// The layout step for a module mod_detect_soundtracker recognised: as
// mod_check_layout, with 4 channels, 15 samples, mask 127 and patterns
// from byte 600.
int mod_check_soundtracker_layout(const uint8_t *module, long size_bytes, ModLayout *layout);

// The largest MOD file: the header, 128 patterns of 32 channels and 31
// samples of 65535 words each.
constexpr long MOD_MAX_FILE_BYTES = static_cast<long>(MOD_PATTERNS_OFFSET) +
                                    static_cast<long>(MOD_MAX_PATTERNS) * MOD_ROWS * MOD_MAX_CHANNELS *
                                        static_cast<long>(MOD_CELL_BYTES) +
                                    static_cast<long>(MOD_SAMPLES) * 65535L * 2L;

#endif
