// The module file as the player reads it: named offsets of the classic
// four-channel layout, the signature test, and the three parsing steps that
// fill a player (pattern counting, sample decoding, pattern unpacking).
// Multi-byte numbers in the file are big-endian unsigned.
#ifndef MUSIC_MODULE_FORMAT_H
#define MUSIC_MODULE_FORMAT_H

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
constexpr int MOD_LIMIT_WIDE = 128;     // "M!K!" and "4CHN"

// Signature test on module bytes 1080..1083 (the caller guarantees at least
// 1084 bytes): MOD_LIMIT_WIDE for M!K! or "4CHN", MOD_LIMIT_MK for any other
// M?K?, 0 when the module is rejected.
int mod_check_signature(const uint8_t *module);

// pattern_count = 1 + the largest (entry AND (limit - 1)) over all 128
// order entries, whatever the song length; pattern_mask = limit - 1. A
// limit other than 64 or 128 counts as 128.
void mod_count_patterns(ModPlayer *player, int limit);

// Fills the 31 sample descriptors from the headers. Sample data starts at
// data_offset and each sample follows the previous one by its declared
// length; `length` is then cut to what the module's module_size bytes
// really hold (0 for a sample starting at or past the end, whose `data`
// then points at the module's end), and the loop is brought inside the
// sample (see ModSample).
void mod_decode_samples(ModPlayer *player, const uint8_t *module, size_t module_size,
                        size_t data_offset);

// Unpacks patterns 0 .. pattern_count - 1 from offset 1084 into `patterns`
// (the caller guarantees the module holds them). A sample number above 31
// unpacks as 0 (no sample). Slots past pattern_count are left as they are.
void mod_unpack_patterns(ModPlayer *player, const uint8_t *module);

#endif
