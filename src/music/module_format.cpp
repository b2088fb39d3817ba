// The MOD file's check steps: the signatures, detection (by signature, or
// by a plausible header for Soundtracker's modules), and pattern counting
// against the size.
#include "music/module_format_internal.h"

#include <cstring>

static bool is_digit(uint8_t c) {
    return c >= '0' && c <= '9';
}

int mod_read_signature(const uint8_t *module, ModSignature *signature) {
    if (!module) return 0;
    const uint8_t *sig = module + MOD_SIGNATURE_OFFSET;
    ModSignature found = {MOD_CHANNELS, MOD_LIMIT_WIDE, 0};
    if (sig[0] == 'M' && sig[2] == 'K') {
        found.limit = (sig[1] == '!' && sig[3] == '!') ? MOD_LIMIT_WIDE : MOD_LIMIT_MK;
    } else if (memcmp(sig, "4CHN", 4) == 0 || memcmp(sig, "FLT4", 4) == 0) {
        found.channels = MOD_CHANNELS;
    } else if (sig[0] >= '1' && sig[0] <= '9' && memcmp(sig + 1, "CHN", 3) == 0) {
        found.channels = sig[0] - '0';
    } else if (is_digit(sig[0]) && is_digit(sig[1]) && sig[2] == 'C' && sig[3] == 'H') {
        found.channels = (sig[0] - '0') * 10 + (sig[1] - '0');
        if (found.channels < 10 || found.channels > MOD_MAX_CHANNELS) return 0;
    } else if (memcmp(sig, "FLT8", 4) == 0) {
        found.channels = 8;
        found.split_patterns = 1;
    } else if (memcmp(sig, "CD81", 4) == 0 || memcmp(sig, "OKTA", 4) == 0 || memcmp(sig, "OCTA", 4) == 0) {
        found.channels = 8;
    } else if (memcmp(sig, "TDZ", 3) == 0 && sig[3] >= '1' && sig[3] <= '3') {
        found.channels = sig[3] - '0';
    } else {
        return 0;
    }
    if (signature) *signature = found;
    return 1;
}

int mod_check_signature(const uint8_t *module) {
    ModSignature signature;
    return mod_read_signature(module, &signature) ? signature.limit : 0;
}

uint8_t mod_pattern_mask(int limit) {
    return static_cast<uint8_t>((limit == MOD_LIMIT_MK ? MOD_LIMIT_MK : MOD_LIMIT_WIDE) - 1);
}

int mod_count_patterns(const uint8_t *order_table, int limit) {
    if (!order_table) return 1;
    const uint8_t mask = mod_pattern_mask(limit);
    int largest = 0;
    for (int i = 0; i < MOD_ORDER_ENTRIES; i++) {
        const int pattern = order_table[i] & mask;
        if (pattern > largest) largest = pattern;
    }
    return largest + 1;
}

int mod_detect(const uint8_t *module, long size_bytes) {
    return module && size_bytes >= static_cast<long>(MOD_PATTERNS_OFFSET) &&
           mod_read_signature(module, nullptr);
}

// The layout shared by both kinds: `patterns_offset` where the patterns
// start, `pattern_count` patterns of `channels` channels, each split into
// halves or not.
static int check_patterns(long size_bytes, size_t patterns_offset, ModLayout *layout) {
    // At most 1084 + 128 x 64 x 32 x 4 bytes: no overflow.
    const size_t patterns_end = patterns_offset + static_cast<size_t>(MOD_ROWS) * MOD_CELL_BYTES *
                                                      static_cast<size_t>(layout->channels) *
                                                      static_cast<size_t>(layout->pattern_count);
    layout->needed_bytes = static_cast<long>(patterns_end);
    layout->sample_data_offset = patterns_end;
    return size_bytes >= layout->needed_bytes;
}

int mod_check_layout(const uint8_t *module, long size_bytes, ModLayout *layout) {
    ModSignature signature = {MOD_CHANNELS, MOD_LIMIT_WIDE, 0};
    mod_read_signature(module, &signature);
    layout->channels = signature.channels;
    layout->sample_count = MOD_SAMPLES;
    layout->split_patterns = static_cast<uint8_t>(signature.split_patterns);
    layout->pattern_mask = mod_pattern_mask(signature.limit);
    layout->pattern_count = mod_count_patterns(module + MOD_ORDER_TABLE_OFFSET, signature.limit);
    // FLT8's order entries count four-channel halves: two make a pattern.
    if (signature.split_patterns) layout->pattern_count = (layout->pattern_count - 1) / 2 + 1;
    return check_patterns(size_bytes, MOD_PATTERNS_OFFSET, layout);
}

static uint32_t read_be16(const uint8_t *bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 8) | bytes[1];
}

// Text a Soundtracker wrote: no control characters but NUL.
static bool plausible_text(const uint8_t *text, size_t bytes) {
    for (size_t i = 0; i < bytes; i++)
        if (text[i] != 0 && text[i] < ' ') return false;
    return true;
}

int mod_detect_soundtracker(const uint8_t *module, long size_bytes) {
    if (!module || size_bytes < static_cast<long>(MOD_SOUNDTRACKER_HEADER_BYTES)) return 0;
    if (!plausible_text(module + MOD_TITLE_OFFSET, MOD_TITLE_BYTES)) return 0;
    long sample_bytes = 0;
    for (int n = 0; n < MOD_SOUNDTRACKER_SAMPLES; n++) {
        const uint8_t *header = module + MOD_SAMPLE_HEADERS_OFFSET + MOD_SAMPLE_HEADER_BYTES * n;
        if (!plausible_text(header + MOD_SAMPLE_NAME_OFFSET, MOD_SAMPLE_NAME_BYTES)) return 0;
        if (header[MOD_SAMPLE_VOLUME_OFFSET] > SONG_MAX_VOLUME || header[MOD_SAMPLE_FINETUNE_OFFSET] > 15) return 0;
        sample_bytes += static_cast<long>(read_be16(header + MOD_SAMPLE_LENGTH_OFFSET)) * 2;
    }
    const int song_length = module[MOD_SOUNDTRACKER_SONG_LENGTH_OFFSET];
    if (song_length < 1 || song_length > MOD_ORDER_ENTRIES) return 0;
    const uint8_t *orders = module + MOD_SOUNDTRACKER_ORDER_TABLE_OFFSET;
    for (int i = 0; i < MOD_ORDER_ENTRIES; i++)
        if (orders[i] >= MOD_LIMIT_WIDE) return 0;
    const long patterns_end = static_cast<long>(MOD_SOUNDTRACKER_HEADER_BYTES) +
                              static_cast<long>(MOD_PATTERN_BYTES) * mod_count_patterns(orders, MOD_LIMIT_WIDE);
    return size_bytes >= patterns_end && size_bytes <= patterns_end + sample_bytes + MOD_SOUNDTRACKER_SLACK_BYTES;
}

int mod_check_soundtracker_layout(const uint8_t *module, long size_bytes, ModLayout *layout) {
    layout->channels = MOD_CHANNELS;
    layout->sample_count = MOD_SOUNDTRACKER_SAMPLES;
    layout->split_patterns = 0;
    layout->pattern_mask = mod_pattern_mask(MOD_LIMIT_WIDE);
    layout->pattern_count = mod_count_patterns(module + MOD_SOUNDTRACKER_ORDER_TABLE_OFFSET, MOD_LIMIT_WIDE);
    return check_patterns(size_bytes, MOD_SOUNDTRACKER_HEADER_BYTES, layout);
}
