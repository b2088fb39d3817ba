// Periods to frequencies: the rate-table lookup with finetune, and the
// arpeggio's semitone steps through the note table.
#include "music/mod_periods.h"

#include "music/mod_tables.h"

void set_channel_period(Voice *voice, uint16_t period, uint8_t finetune) {
    if (!voice || period == 0) return;
    // The rate table covers 113..856 only; beyond it the nearest end plays.
    int clamped = period;
    if (clamped < MOD_PERIOD_MIN) clamped = MOD_PERIOD_MIN;
    if (clamped > MOD_PERIOD_MAX) clamped = MOD_PERIOD_MAX;
    uint32_t hz = period_rate_table[clamped - MOD_PERIOD_MIN];
    if (finetune != 0 && finetune <= FINETUNE_ENTRIES) {
        // At most 31388 x 34464 < 2^31: no wrap.
        hz = (hz * finetune_table[finetune - 1]) >> FINETUNE_SHIFT;
    }
    voice_set_frequency(voice, hz);
}

uint16_t arpeggio_period(uint16_t period, int steps) {
    if (steps < 0) steps = 0;
    for (int i = 0; i < PERIOD_TABLE_NOTES; i++) {
        if (period_table[i] != period) continue;
        int target = i + steps;
        if (target > PERIOD_TABLE_ENTRIES - 1) target = PERIOD_TABLE_ENTRIES - 1;
        return period_table[target];
    }
    return period;
}
