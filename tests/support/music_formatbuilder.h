// Builds XM and S3M modules in memory for tests, tools and fuzz seeds:
// header, orders, patterns of cells, instruments and samples described as
// plain records and written out in each format's file layout (XM patterns
// packed as FastTracker II packs them, samples delta-coded; S3M patterns
// packed with their length word, samples signed or unsigned). Nothing is
// validated, so a test can describe what no tracker would write (absurd
// counts, envelopes out of order, loops past their sample); poking or
// cutting the built bytes is the caller's, helped by the offsets the build
// reports.
#ifndef SUPPORT_MUSIC_FORMATBUILDER_H
#define SUPPORT_MUSIC_FORMATBUILDER_H

#include <cstdint>
#include <string>
#include <vector>

// ---- XM ----

struct XmBuilderSample {
    std::string name;
    std::vector<int16_t> frames;    // -128 .. 127 for 8-bit samples
    uint8_t bits = 8;               // 8 or 16
    uint8_t loop_type = 0;          // type bits 0 .. 1: 0 none, 1 forward, 2 ping-pong
    uint32_t loop_start = 0;        // frames (written in bytes)
    uint32_t loop_length = 0;       // frames (written in bytes)
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relative_note = 0;
    // ModPlug's 4-bit ADPCM (8-bit only): every step between frames must
    // be one of XMBUILDER_ADPCM_STEPS, the table written.
    bool adpcm = false;
};

// The 16 steps the builder's ADPCM table holds.
extern const int8_t XMBUILDER_ADPCM_STEPS[16];

struct XmBuilderEnvelope {
    std::vector<uint16_t> ticks;    // points: tick and value
    std::vector<uint16_t> values;
    uint8_t count = 0xFF;           // the count written; 0xFF: ticks.size()
    uint8_t sustain = 0, loop_start = 0, loop_end = 0;
    uint8_t type = 0;               // 1 on, 2 sustain, 4 loop
};

struct XmBuilderInstrument {
    std::string name;
    std::vector<XmBuilderSample> samples;
    uint8_t sample_map[96] = {};    // sample (of this instrument) per note
    XmBuilderEnvelope volume, panning;
    uint8_t vibrato_type = 0, vibrato_sweep = 0, vibrato_depth = 0, vibrato_rate = 0;
    uint16_t fadeout = 0;
    // The header's size field and the bytes written for it: 0 writes 263
    // (29 for an instrument without samples); a larger size pads with
    // `padding`, a smaller one cuts the fields off.
    uint32_t header_size = 0;
    uint8_t padding = 0;
};

struct XmBuilderCell {
    uint8_t note = 0, instrument = 0, volume = 0, effect = 0, param = 0;
};

struct XmBuilderPattern {
    uint16_t rows = 64;
    std::vector<XmBuilderCell> cells;   // rows x channels, row first; empty: all empty
};

struct XmBuilder {
    std::string title;
    std::string tracker = "kevo test builder";
    uint16_t version = 0x0104;
    uint16_t channels = 4;
    uint16_t restart = 0;
    uint16_t flags = 1;                 // bit 0: linear frequencies
    uint16_t speed = 6, tempo = 125;
    std::vector<uint8_t> orders = {0};
    std::vector<XmBuilderPattern> patterns;
    std::vector<XmBuilderInstrument> instruments;
};

// Where the parts of a built XM file lie.
struct XmBuilderLayout {
    std::vector<size_t> pattern_at;     // each pattern's header
    std::vector<size_t> instrument_at;  // each instrument's header
    std::vector<size_t> sample_data_at; // each sample's data, all instruments in order
    size_t patterns_packed_bytes = 0;   // the packed cells of all patterns
};

// The cell at `row`, `channel` of pattern `p`, growing its cells to the
// whole pattern first.
XmBuilderCell *xmbuilder_cell(XmBuilder *b, int p, int row, int channel);

// The XM file; `layout` (may be null) receives where its parts lie.
std::vector<uint8_t> xmbuilder_build(const XmBuilder &b, XmBuilderLayout *layout);

// ---- S3M ----

struct S3mBuilderSample {
    uint8_t type = 1;                   // 1 PCM, 2 .. 7 Adlib, 0 empty
    std::string name;
    std::vector<int16_t> frames;        // the (left) channel; -128 .. 127 for 8 bits
    std::vector<int16_t> right;         // a stereo sample's right channel
    uint8_t bits = 8;
    bool loop = false;
    uint32_t loop_begin = 0, loop_end = 0;
    uint8_t volume = 64;
    uint32_t c2spd = 8363;
    uint8_t pack = 0;
    uint32_t length_override = 0;       // nonzero: the length field written
};

struct S3mBuilderCell {
    uint8_t note = 255, instrument = 0;  // note 255 none, 254 cut
    uint8_t volume = 255;                // 255 none
    uint8_t command = 0, info = 0;       // command 1 .. 26 for A .. Z
};

struct S3mBuilderPattern {
    std::vector<S3mBuilderCell> cells;  // 64 rows x 32 file channels; empty: all empty
    bool absent = false;                // written as pointer 0
};

struct S3mBuilder {
    std::string title;
    std::vector<uint8_t> orders = {0, 255};     // as written, markers too
    uint8_t channel_settings[32];               // 0 .. 3 L R L R, the rest 255
    uint16_t flags = 0;
    uint16_t version = 0x1320;
    uint16_t sample_format = 2;                 // 1 signed, 2 unsigned
    uint8_t global_volume = 64, speed = 6, tempo = 125;
    uint8_t master_volume = 0xB0;               // bit 7: stereo
    uint8_t panning_flag = 0;                   // 252: the table is written
    uint8_t panning[32] = {};
    std::vector<S3mBuilderPattern> patterns;
    std::vector<S3mBuilderSample> samples;
    S3mBuilder();
};

struct S3mBuilderLayout {
    size_t instrument_pointers_at = 0;
    size_t pattern_pointers_at = 0;
    std::vector<size_t> instrument_at;
    std::vector<size_t> pattern_at;         // each pattern's length word (0 absent)
    std::vector<size_t> sample_data_at;
    size_t patterns_packed_bytes = 0;
};

S3mBuilderCell *s3mbuilder_cell(S3mBuilder *b, int p, int row, int channel);

std::vector<uint8_t> s3mbuilder_build(const S3mBuilder &b, S3mBuilderLayout *layout);

// ---- Songs for tools and seeds ----

// A small XM song that uses every part of the format: 5 channels, three
// patterns (64, 1 and 100 rows), two instruments with envelopes,
// auto-vibrato and three samples (8 and 16 bits, forward and ping-pong
// loops, one ADPCM), a cell of every effect and every volume column range.
void xmbuilder_showcase_song(XmBuilder *b);

// A small S3M song likewise: six channels (one disabled, one Adlib), the
// panning table, orders with markers, PCM samples of 8 and 16 bits, one
// stereo, one Adlib instrument, every command letter.
void s3mbuilder_showcase_song(S3mBuilder *b);

#endif
