// Explains why a module file is refused: the checks the player makes at
// creation, each with words for a person.
#include "music/module_check.h"

#include <cstdio>

#include "music/mod_player.h"
#include "music/module_format.h"

int mod_rejection_reason(const uint8_t *module, long size_bytes, char *reason,
                         size_t reason_bytes) {
    if (!module || size_bytes <= 0) {
        snprintf(reason, reason_bytes, "the file is empty");
        return 1;
    }
    if (size_bytes < (long)MOD_PATTERNS_OFFSET) {
        snprintf(reason, reason_bytes, "%ld bytes is too short for a module header (%zu bytes)",
                 size_bytes, MOD_PATTERNS_OFFSET);
        return 1;
    }
    const int limit = mod_check_signature(module);
    if (limit == 0) {
        const uint8_t *s = module + MOD_SIGNATURE_OFFSET;
        char shown[4 * 4 + 1];
        size_t at = 0;
        for (int i = 0; i < 4; i++) {
            if (s[i] >= 0x20 && s[i] < 0x7f)
                shown[at++] = (char)s[i];
            else
                at += (size_t)snprintf(shown + at, sizeof shown - at, "\\x%02x", s[i]);
        }
        shown[at] = '\0';
        snprintf(reason, reason_bytes, "signature \"%s\" is not a four-channel module's "
                 "(M.K., M!K! or 4CHN)", shown);
        return 1;
    }
    int largest = 0;
    for (int i = 0; i < MOD_ORDER_ENTRIES; i++) {
        int entry = module[MOD_ORDER_TABLE_OFFSET + i] & (limit - 1);
        if (entry > largest) largest = entry;
    }
    const long needed = (long)MOD_PATTERNS_OFFSET + (long)(largest + 1) * (long)MOD_PATTERN_BYTES;
    if (size_bytes < needed) {
        snprintf(reason, reason_bytes,
                 "truncated: its %d patterns need %ld bytes, the file has %ld",
                 largest + 1, needed, size_bytes);
        return 1;
    }
    return 0;
}
