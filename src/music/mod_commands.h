// The command vocabulary of pattern cells, shared by the sequencer and the
// command interpreter: command numbers as trackers name them, the E
// commands' sub-numbers, and the two parts of a cell's command word.
#ifndef MUSIC_MOD_COMMANDS_H
#define MUSIC_MOD_COMMANDS_H

#include <cstdint>

// The command nibble, bits 8 .. 11 of the command word.
enum ModCommand {
    CMD_ARPEGGIO = 0x0,                 // 0xy
    CMD_SLIDE_UP = 0x1,                 // 1xx
    CMD_SLIDE_DOWN = 0x2,               // 2xx
    CMD_TONE_PORTAMENTO = 0x3,          // 3xx
    CMD_VIBRATO = 0x4,                  // 4xy
    CMD_PORTAMENTO_VOLUME_SLIDE = 0x5,  // 5xy
    CMD_VIBRATO_VOLUME_SLIDE = 0x6,     // 6xy
    CMD_TREMOLO = 0x7,                  // 7xy
    CMD_UNUSED_8 = 0x8,                 // 8xx: nothing
    CMD_SAMPLE_OFFSET = 0x9,            // 9xx
    CMD_VOLUME_SLIDE = 0xA,             // Axy
    CMD_POSITION_JUMP = 0xB,            // Bxx
    CMD_SET_VOLUME = 0xC,               // Cxx
    CMD_PATTERN_BREAK = 0xD,            // Dxy
    CMD_EXTENDED = 0xE,                 // Exy: x picks one below
    CMD_SPEED_TEMPO = 0xF,              // Fxx
};

// The x of Exy: the E commands that do something (the others, E0y, E3y,
// E4y, E5y, E7y, E8y and EFy, are ignored).
enum ModExtendedCommand {
    EXT_FINE_SLIDE_UP = 0x1,            // E1y
    EXT_FINE_SLIDE_DOWN = 0x2,          // E2y
    EXT_PATTERN_LOOP = 0x6,             // E6y
    EXT_RETRIGGER = 0x9,                // E9y
    EXT_FINE_VOLUME_UP = 0xA,           // EAy
    EXT_FINE_VOLUME_DOWN = 0xB,         // EBy
    EXT_NOTE_CUT = 0xC,                 // ECy
    EXT_NOTE_DELAY = 0xD,               // EDy
    EXT_PATTERN_DELAY = 0xE,            // EEy
};

// The command of a command word (a ModCommand value).
inline int mod_command_of(uint16_t effect) { return (effect >> 8) & 0xF; }

// The parameter byte of a command word: xx, or x and y as its nibbles.
inline uint8_t mod_param_of(uint16_t effect) { return static_cast<uint8_t>(effect & 0xFF); }

#endif
