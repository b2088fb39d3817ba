// Periods to frequencies in the three frequency modes, the note periods,
// and the arpeggio's semitone steps.
#include "music/mod_periods_internal.h"

#include "music/mod_tables_internal.h"

constexpr uint32_t AMIGA_QUARTER_CLOCK_HZ = 14317456;  // 8363 x 1712: C-4 at period 1712
constexpr uint32_t LINEAR_BASE_HZ = 8363;              // linear period 4608 (C-4)
constexpr int LINEAR_BASE_PERIOD = 4608;
constexpr int LINEAR_TOP_PERIOD = 7680;                // note 1 (C-0) without finetune
constexpr int LINEAR_NOTE_UNITS = 64;                  // linear units a semitone
constexpr int NOTE_C4 = 49;
constexpr int HIGHEST_SHIFTED_NOTE = 119;
constexpr int SEMITONES = 12;
constexpr int OCTAVE_FRACTION_SHIFT = 15;              // OCTAVE_FRACTION_ONE = 2^15
constexpr int MOD_FIRST_TABLE_NOTE = 37;               // period_table[0] (856)
constexpr uint32_t MAX_PERIOD = 65535;
constexpr int FRACTION_BITS = 16;                       // a period's fraction in 65536ths
constexpr int FINETUNE_SIXTEENTH_SHIFT = 3;             // 1/128 semitone to sixteenths (floor)
constexpr int MOD_FINETUNE_SIXTEENTH_SHIFT = 4;         // a MOD finetune n is n x 16 (song.h)
constexpr int FINETUNE_ZERO_ROW = 8;                    // finetune_period_table's finetune 0
constexpr int AMIGA_OCTAVE_ZERO_SHIFT = 4;              // C-0 in quarter periods: 2 x 856 x 16

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

// base_hz x 2^(units / 768), truncated (and at most 2^32 - 1): octaves by
// shifting, the rest of the octave from the table. base_hz is below 2^24;
// more than 15 octaves up counts as 15.
static uint32_t scaled_by_octaves(uint32_t base_hz, int units) {
    int octaves = units / OCTAVE_FRACTION_ENTRIES;
    int rest = units % OCTAVE_FRACTION_ENTRIES;
    if (rest < 0) {
        rest += OCTAVE_FRACTION_ENTRIES;
        octaves--;
    }
    if (octaves > OCTAVE_FRACTION_SHIFT) octaves = OCTAVE_FRACTION_SHIFT;
    // At most 2^24 x 2^16: no wrap in 64 bits.
    const uint64_t scaled = static_cast<uint64_t>(base_hz) * octave_fraction_table[rest];
    const int shift = OCTAVE_FRACTION_SHIFT - octaves;
    if (shift >= 64) return 0;
    const uint64_t hz = scaled >> shift;
    return hz > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(hz);
}

uint32_t period_frequency(uint8_t mode, uint16_t period) {
    if (period == 0) return 0;
    switch (mode) {
    case SONG_FREQUENCY_MOD_TABLE: {
        int clamped = period;
        if (clamped < MOD_PERIOD_MIN) clamped = MOD_PERIOD_MIN;
        if (clamped > MOD_PERIOD_MAX) clamped = MOD_PERIOD_MAX;
        return period_rate_table[clamped - MOD_PERIOD_MIN];
    }
    case SONG_FREQUENCY_AMIGA:
        return AMIGA_QUARTER_CLOCK_HZ / period;
    case SONG_FREQUENCY_LINEAR:
        return scaled_by_octaves(LINEAR_BASE_HZ, LINEAR_BASE_PERIOD - period);
    default:
        return 0;
    }
}

uint32_t finetuned_frequency(uint16_t period, int8_t finetune) {
    for (int i = 0; i < PERIOD_TABLE_NOTES; i++) {
        if (period_table[i] != period) continue;
        const int row = (finetune >> MOD_FINETUNE_SIXTEENTH_SHIFT) + FINETUNE_ZERO_ROW;
        // At most 3546895 x 4: no wrap.
        return (PAULA_CLOCK_HZ << (i / SEMITONES)) / finetune_period_table[row][i % SEMITONES];
    }
    return 0;
}

void set_voice_period(Voice *voice, const Song *song, uint16_t period, int8_t finetune, uint16_t fraction) {
    if (!voice || !song || period == 0) return;
    if (song->frequency_mode == SONG_FREQUENCY_MOD_TABLE) {
        const uint32_t hz = finetune != 0 && (song->quirks & SONG_QUIRK_FINETUNED_PERIODS)
                                ? finetuned_frequency(period, finetune) : 0;
        if (hz != 0) voice_set_frequency(voice, hz);
        else set_channel_period(voice, period, mod_finetune_nibble(finetune));
        return;
    }
    if (fraction != 0 && song->frequency_mode == SONG_FREQUENCY_AMIGA) {
        // Both in 65536ths: the clock below 2^40, the period below 2^32.
        const uint64_t fine = (static_cast<uint64_t>(period) << FRACTION_BITS) + fraction;
        voice_set_frequency(voice, static_cast<uint32_t>((static_cast<uint64_t>(AMIGA_QUARTER_CLOCK_HZ) << FRACTION_BITS) / fine));
        return;
    }
    voice_set_frequency(voice, period_frequency(song->frequency_mode, period));
}

uint32_t exact_note_period(int note, uint32_t c2spd) {
    if (c2spd == 0 || note < 1 || note > SONG_NOTES) return 0;
    // C-4's quarter period in 65536ths, below 2^40; times 2^15 below 2^55.
    const uint64_t c4 = (static_cast<uint64_t>(AMIGA_QUARTER_CLOCK_HZ) << FRACTION_BITS) / c2spd;
    int units = (note - NOTE_C4) * LINEAR_NOTE_UNITS;
    int octaves = units / OCTAVE_FRACTION_ENTRIES;
    int rest = units % OCTAVE_FRACTION_ENTRIES;
    if (rest < 0) {
        rest += OCTAVE_FRACTION_ENTRIES;
        octaves--;
    }
    uint64_t period = (c4 << OCTAVE_FRACTION_SHIFT) / octave_fraction_table[rest];
    // Up to 8 octaves down: below 2^48.
    period = octaves >= 0 ? period >> octaves : period << -octaves;
    const uint64_t lowest = 1ull << FRACTION_BITS, highest = (MAX_PERIOD << FRACTION_BITS) | 0xFFFF;
    return static_cast<uint32_t>(period < lowest ? lowest : period > highest ? highest : period);
}

// XM's Amiga period of `note` (1 .. 119, C-0 up) in quarter periods, as
// FastTracker II keeps its table: ProTracker's lowest octave in sixteenths
// of a semitone, the finetune (1/128 semitone) rounded down to one; the
// even sixteenths are ProTracker's eighths, the odd ones halfway between
// two of them (the last, past finetune 7, halfway to the next note's
// finetune 0, but for B, which stays at 7). Halved for each octave up,
// the half period dropped: C-4 is 856 x 2 x 16 >> 4 = 1712. At most 907 x 2
// x 16: no wrap.
static uint16_t xm_amiga_period(int note, int finetune) {
    const int sixteenths = finetune >> FINETUNE_SIXTEENTH_SHIFT;  // -16 .. 15
    const int semitone = (note - 1) % SEMITONES, octave = (note - 1) / SEMITONES;
    const int low_row = (sixteenths >> 1) + FINETUNE_ZERO_ROW;      // rounded down: 0 .. 15
    const int low = finetune_period_table[low_row][semitone];
    int twice = 2 * low;
    if (sixteenths & 1) {
        int high = low;
        if (low_row + 1 < FINETUNE_PERIOD_ROWS) high = finetune_period_table[low_row + 1][semitone];
        else if (semitone + 1 < SEMITONES) high = finetune_period_table[FINETUNE_ZERO_ROW][semitone + 1];
        twice = low + high;
    }
    return static_cast<uint16_t>((twice << AMIGA_OCTAVE_ZERO_SHIFT) >> octave);
}

uint16_t note_period(uint8_t mode, int note, const SongSample *sample) {
    if (!sample || note < 1 || note > SONG_NOTES) return 0;
    int shifted = note + sample->relative_note;
    if (shifted < 1) shifted = 1;
    if (shifted > HIGHEST_SHIFTED_NOTE) shifted = HIGHEST_SHIFTED_NOTE;
    switch (mode) {
    case SONG_FREQUENCY_LINEAR: {
        // The finetune halved toward zero, as FastTracker II divides it.
        const int period = LINEAR_TOP_PERIOD - LINEAR_NOTE_UNITS * (shifted - 1) - sample->finetune / 2;
        return static_cast<uint16_t>(period < 1 ? 1 : period);
    }
    case SONG_FREQUENCY_AMIGA: {
        if (sample->c2spd == 0) return xm_amiga_period(shifted, sample->finetune);
        const uint32_t hz = scaled_by_octaves(sample->c2spd, (note - NOTE_C4) * LINEAR_NOTE_UNITS);
        if (hz == 0) return static_cast<uint16_t>(MAX_PERIOD);
        const uint32_t period = AMIGA_QUARTER_CLOCK_HZ / hz;
        return static_cast<uint16_t>(period < 1 ? 1 : period > MAX_PERIOD ? MAX_PERIOD : period);
    }
    case SONG_FREQUENCY_MOD_TABLE: {
        int index = note - MOD_FIRST_TABLE_NOTE;
        if (index < 0) index = 0;
        if (index >= PERIOD_TABLE_NOTES) index = PERIOD_TABLE_NOTES - 1;
        return period_table[index];
    }
    default:
        return 0;
    }
}

uint16_t c5_note_period(uint8_t mode, int note, const SongSample *sample) {
    if (!sample || note < 1 || note > SONG_NOTES) return 0;
    constexpr int C5 = 61;
    if (mode == SONG_FREQUENCY_LINEAR) return static_cast<uint16_t>(LINEAR_TOP_PERIOD + OCTAVE_FRACTION_ENTRIES - LINEAR_NOTE_UNITS * (note - 1));
    if (mode != SONG_FREQUENCY_AMIGA) return 0;
    const uint32_t hz = scaled_by_octaves(sample->c2spd != 0 ? sample->c2spd : LINEAR_BASE_HZ, (note - C5) * LINEAR_NOTE_UNITS);
    if (hz == 0) return static_cast<uint16_t>(MAX_PERIOD);
    const uint32_t period = AMIGA_QUARTER_CLOCK_HZ / hz;
    return static_cast<uint16_t>(period < 1 ? 1 : period > MAX_PERIOD ? MAX_PERIOD : period);
}

uint32_t c5_period_frequency(uint8_t mode, uint16_t period, uint32_t c5speed) {
    if (period == 0) return 0;
    if (mode != SONG_FREQUENCY_LINEAR) return period_frequency(mode, period);
    return scaled_by_octaves(c5speed != 0 ? c5speed : LINEAR_BASE_HZ, LINEAR_BASE_PERIOD - period);
}

uint16_t period_moved_by_units(uint8_t mode, uint16_t period, int units) {
    if (period == 0 || units == 0) return period;
    if (mode == SONG_FREQUENCY_LINEAR) {
        const int moved = period - units;
        return static_cast<uint16_t>(moved < 1 ? 1 : moved > static_cast<int>(MAX_PERIOD) ? MAX_PERIOD : moved);
    }
    if (mode != SONG_FREQUENCY_AMIGA) return period;
    // period x 2^(-units / 768): down by the octaves, then the fraction.
    const int octaves = units >= 0 ? units / OCTAVE_FRACTION_ENTRIES : -((-units + OCTAVE_FRACTION_ENTRIES - 1) / OCTAVE_FRACTION_ENTRIES);
    const int rest = units - octaves * OCTAVE_FRACTION_ENTRIES;  // 0 .. 767
    uint64_t moved = (static_cast<uint64_t>(period) << OCTAVE_FRACTION_SHIFT) / octave_fraction_table[rest];
    moved = octaves >= 0 ? moved >> (octaves > 31 ? 31 : octaves) : moved << (-octaves > 16 ? 16 : -octaves);
    return static_cast<uint16_t>(moved < 1 ? 1 : moved > MAX_PERIOD ? MAX_PERIOD : moved);
}

uint16_t semitones_up(uint8_t mode, uint16_t period, int steps) {
    if (period == 0 || steps <= 0) return period;
    if (mode == SONG_FREQUENCY_LINEAR) {
        const int moved = period - LINEAR_NOTE_UNITS * steps;
        return static_cast<uint16_t>(moved < 1 ? 1 : moved);
    }
    // The period over 2^(steps / 12): times 2^15 over the table's ratio.
    const int octaves = steps / SEMITONES;
    const uint32_t ratio = octave_fraction_table[(steps % SEMITONES) * LINEAR_NOTE_UNITS];
    const uint64_t moved = (static_cast<uint64_t>(period) << OCTAVE_FRACTION_SHIFT) / ratio >> octaves;
    return static_cast<uint16_t>(moved < 1 ? 1 : moved);
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
