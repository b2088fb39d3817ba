// The MOD file's check steps: the signature test, detection, and pattern
// counting against the size.
#include "music/module_format.h"

#include <cstring>

#include "music/module_check.h"

int mod_check_signature(const uint8_t *module) {
    if (!module) return 0;
    const uint8_t *sig = module + MOD_SIGNATURE_OFFSET;
    if (sig[0] == 'M' && sig[2] == 'K') {
        return (sig[1] == '!' && sig[3] == '!') ? MOD_LIMIT_WIDE : MOD_LIMIT_MK;
    }
    if (memcmp(sig, "4CHN", 4) == 0) return MOD_LIMIT_WIDE;
    return 0;
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
           mod_check_signature(module) != 0;
}

int mod_check_layout(const uint8_t *module, long size_bytes, ModuleCheck *check) {
    const int limit = mod_check_signature(module);
    check->channels = MOD_CHANNELS;
    check->pattern_mask = mod_pattern_mask(limit);
    check->pattern_count = mod_count_patterns(module + MOD_ORDER_TABLE_OFFSET, limit);
    // At most 1084 + 128 x 1024 bytes: no overflow.
    const size_t patterns_end =
        MOD_PATTERNS_OFFSET + MOD_PATTERN_BYTES * static_cast<size_t>(check->pattern_count);
    check->needed_bytes = static_cast<long>(patterns_end);
    if (size_bytes < check->needed_bytes) {
        check->refusal = MODULE_TRUNCATED_PATTERNS;
        return 0;
    }
    check->sample_data_offset = patterns_end;
    return 1;
}
