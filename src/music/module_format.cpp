// Module parsing: the signature test, the MOD steps of the module check
// (detection, pattern counting against the size), sample decoding (cut to
// what the module holds) and pattern unpacking into the player.
#include "music/module_format.h"

#include <cstring>

#include "music/module_check.h"

// Cell bits: b0 = sample high nibble | period bits 8..11, b1 = period bits
// 0..7, b2 = sample low nibble | command, b3 = parameter.
constexpr uint8_t MOD_CELL_HIGH_NIBBLE = 0xF0;
constexpr uint8_t MOD_CELL_LOW_NIBBLE = 0x0F;
constexpr uint8_t MOD_FINETUNE_MASK = 0x0F;

static uint32_t read_be16(const uint8_t *bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 8) | bytes[1];
}

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

void mod_decode_samples(ModPlayer *player, const uint8_t *module, size_t module_size,
                        size_t data_offset) {
    if (!player || !module) return;
    // Declared lengths place every sample; a short file only shortens what
    // can be played, it never moves the later samples.
    size_t offset = data_offset;
    for (int n = 0; n < MOD_SAMPLES; n++) {
        const uint8_t *header = module + MOD_SAMPLE_HEADERS_OFFSET + MOD_SAMPLE_HEADER_BYTES * n;
        ModSample *sample = &player->samples[n];
        for (size_t i = 0; i < MOD_SAMPLE_NAME_BYTES; i++) {
            char c = static_cast<char>(header[MOD_SAMPLE_NAME_OFFSET + i]);
            sample->name[i] = c == '\0' ? ' ' : c;
        }
        sample->name[MOD_SAMPLE_NAME_BYTES] = '\0';
        const uint32_t declared_length = read_be16(header + MOD_SAMPLE_LENGTH_OFFSET) * 2;
        uint32_t length = declared_length;
        uint32_t loop_start = read_be16(header + MOD_SAMPLE_LOOP_START_OFFSET) * 2;
        uint32_t loop_length = read_be16(header + MOD_SAMPLE_LOOP_LENGTH_OFFSET) * 2;
        sample->finetune = header[MOD_SAMPLE_FINETUNE_OFFSET] & MOD_FINETUNE_MASK;
        sample->volume = header[MOD_SAMPLE_VOLUME_OFFSET];

        // Truncated files are common: keep what the file holds.
        size_t start = offset < module_size ? offset : module_size;
        size_t available = module_size - start;
        if (length > available) length = static_cast<uint32_t>(available);
        // A loop starting at or past the end is dropped; one reaching past
        // the end is cut to the sample.
        if (loop_start >= length) {
            loop_start = 0;
            loop_length = 0;
        } else if (loop_length > length - loop_start) {
            loop_length = length - loop_start;
        }
        sample->length = length;
        sample->loop_start = loop_start;
        sample->loop_length = loop_length;
        sample->data = reinterpret_cast<const int8_t *>(module + start);
        offset += declared_length;
    }
}

void mod_unpack_patterns(ModPlayer *player, const uint8_t *module) {
    if (!player || !module) return;
    const uint8_t *bytes = module + MOD_PATTERNS_OFFSET;
    for (int p = 0; p < player->pattern_count && p < MOD_MAX_PATTERNS; p++) {
        for (int row = 0; row < MOD_ROWS; row++) {
            for (int ch = 0; ch < MOD_CHANNELS; ch++) {
                PatternCell *cell = &player->patterns[p][row][ch];
                uint8_t sample = (bytes[0] & MOD_CELL_HIGH_NIBBLE) | (bytes[2] >> 4);
                cell->period = static_cast<uint16_t>(((bytes[0] & MOD_CELL_LOW_NIBBLE) << 8) | bytes[1]);
                cell->effect = static_cast<uint16_t>(((bytes[2] & MOD_CELL_LOW_NIBBLE) << 8) | bytes[3]);
                // Numbers above 31 name no sample of this format.
                cell->sample = sample > MOD_SAMPLES ? 0 : sample;
                bytes += MOD_CELL_BYTES;
            }
        }
    }
}
