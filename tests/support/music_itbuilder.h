// Builds IT modules in memory for tests, tools and fuzz seeds, as the XM
// and S3M builders do (music_formatbuilder.h): header, orders, patterns
// packed as Impulse Tracker packs them (masks and last values remembered
// per channel), instruments in the new or the old layout, samples plain or
// compressed by an encoder of the 2.14 and 2.15 bit-width-switching coding
// written here from the format's description, the message and an
// embedded MIDI configuration. Nothing is validated.
#ifndef SUPPORT_MUSIC_ITBUILDER_H
#define SUPPORT_MUSIC_ITBUILDER_H

#include <cstdint>
#include <string>
#include <vector>

struct ItBuilderSample {
    std::string name;
    std::vector<int16_t> frames;        // mono or left; -128 .. 127 for 8 bits
    std::vector<int16_t> right;         // a stereo sample's right half, as long
    uint8_t bits = 8;
    bool is_signed = true, big_endian = false, delta = false;
    uint8_t compression = 0;            // 0 plain, 14 (IT 2.14) or 15 (2.15)
    bool loop = false, ping_pong = false;
    uint32_t loop_begin = 0, loop_end = 0;      // end: the frame after the loop
    bool sustain = false, sustain_ping_pong = false;
    uint32_t sustain_begin = 0, sustain_end = 0;
    uint8_t global_volume = 64, volume = 64;
    uint8_t panning = 32 | 128;         // bit 7: used
    uint32_t c5_speed = 8363;
    uint8_t vibrato_speed = 0, vibrato_depth = 0, vibrato_rate = 0, vibrato_type = 0;
    uint32_t length_override = 0;       // nonzero: the length field written
};

struct ItBuilderEnvelope {
    uint8_t flags = 0;                  // 1 on, 2 loop, 4 sustain loop, 8 carry, 128 filter
    std::vector<int8_t> values;         // points: value and tick
    std::vector<uint16_t> ticks;
    uint8_t loop_start = 0, loop_end = 0, sustain_start = 0, sustain_end = 0;
};

struct ItBuilderInstrument {
    std::string name;
    uint8_t nna = 0, dct = 0, dca = 0;
    uint16_t fadeout = 0;
    int8_t pitch_pan_separation = 0;
    uint8_t pitch_pan_center = 60;
    uint8_t global_volume = 128;
    uint8_t panning = 32 | 128;         // bit 7: not used
    uint8_t random_volume = 0, random_panning = 0;
    uint8_t cutoff = 0, resonance = 0;  // bit 7: set by notes
    uint8_t notes[120];                 // the note map: note and sample per note;
    uint8_t samples[120];               // by default note n plays n on sample 1
    ItBuilderEnvelope volume, panning_envelope, pitch;
    ItBuilderInstrument();
};

// A cell's fields: `mask` says which are given (1 note, 2 instrument, 4
// volume column, 8 command and parameter).
struct ItBuilderCell {
    uint8_t mask = 0;
    uint8_t note = 0, instrument = 0, volume = 0, command = 0, param = 0;
};

struct ItBuilderPattern {
    uint16_t rows = 64;
    std::vector<ItBuilderCell> cells;   // rows x 64 channels, row first; empty: all empty
    bool absent = false;                // written as pointer 0
};

struct ItBuilder {
    std::string title;
    uint16_t created_with = 0x0215, compatible = 0x0214;
    uint16_t flags = 1 | 4 | 8;         // stereo, instruments, linear slides
    uint8_t global_volume = 128, mixing_volume = 48, speed = 6, tempo = 125, separation = 128;
    uint8_t channel_panning[64];        // 32 each
    uint8_t channel_volume[64];         // 64 each
    std::vector<uint8_t> orders = {0, 255};   // as written, markers too
    std::vector<ItBuilderPattern> patterns;
    std::vector<ItBuilderInstrument> instruments;
    std::vector<ItBuilderSample> samples;
    std::string message;                // written when not empty
    std::vector<std::string> macros;    // SF0 .. SFF then Z80 .. ZFF (144): the
                                        // embedded configuration, when not empty
    uint16_t edit_history = 0;          // entries written (special bit 2) when nonzero
    std::vector<uint8_t> chunks;        // written after the tables (OpenMPT's)
    ItBuilder();
};

// Where the parts of a built IT file lie.
struct ItBuilderLayout {
    size_t orders_at = 0;
    std::vector<size_t> instrument_at, sample_at, pattern_at;  // headers (0 absent)
    std::vector<size_t> sample_data_at;
    size_t message_at = 0;
};

ItBuilderCell *itbuilder_cell(ItBuilder *b, int p, int row, int channel);

std::vector<uint8_t> itbuilder_build(const ItBuilder &b, ItBuilderLayout *layout);

// The compressed coding of `frames` (8 or 16 bits; 2.15's double delta when
// `double_delta`): blocks of a byte count and a bit stream that switches
// widths up to what each number needs and down when much less will do.
std::vector<uint8_t> itbuilder_compress(const std::vector<int16_t> &frames, uint8_t bits, bool double_delta);

// A small IT song that uses every part of the format: 6 channels (one
// disabled), instruments of the new layout with every envelope, loops and
// sustain loops, carry, a filter envelope, new-note actions and duplicate
// checks; samples 8 and 16 bits, compressed (2.14 and 2.15), stereo,
// unsigned big-endian and delta-coded; every command letter and volume
// column range; a message and an embedded MIDI configuration.
void itbuilder_showcase_song(ItBuilder *b);

#endif
