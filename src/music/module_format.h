// The MOD file's layout: named offsets of the classic four-channel layout,
// the signature test, and the format's detection and layout steps of the
// module check (module_check.h). The MOD reader (mod_read.h) turns a
// checked file into a song. Multi-byte numbers in the file are big-endian
// unsigned.
#ifndef MUSIC_MODULE_FORMAT_H
#define MUSIC_MODULE_FORMAT_H

#include <cstddef>
#include <cstdint>

#include "music/mod_player.h"

struct ModuleCheck;  // music/module_check.h

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

// The order-entry mask a pattern-count limit gives: limit - 1, where a
// limit other than 64 or 128 counts as 128.
uint8_t mod_pattern_mask(int limit);

// The patterns a module stores: 1 + the largest (entry AND
// mod_pattern_mask(limit)) over all 128 entries of `order_table`, whatever
// the song length. Null counts as one pattern.
int mod_count_patterns(const uint8_t *order_table, int limit);

// The detection step of the module check: 1 when the size_bytes bytes at
// `module` hold a MOD header (1084 bytes) whose signature
// mod_check_signature accepts, else 0.
int mod_detect(const uint8_t *module, long size_bytes);

// The layout step of the module check for a module mod_detect recognised:
// sets check's channels, pattern_count, pattern_mask, sample_data_offset
// and needed_bytes (the header and the patterns), and refuses with
// MODULE_TRUNCATED_PATTERNS when the file ends before the patterns do.
// Returns 1 when the layout fits, 0 when refused (check->refusal says why).
int mod_check_layout(const uint8_t *module, long size_bytes, ModuleCheck *check);

#endif
