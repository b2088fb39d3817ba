// Writes IT files from the builder's plain descriptions: the packing of
// patterns, both instrument layouts, plain and compressed samples, and the
// showcase song the tools and fuzz seeds start from.
#include "support/music_itbuilder.h"

#include <cstring>

#include "support/music_byte_writer.h"

ItBuilderInstrument::ItBuilderInstrument() {
    for (int n = 0; n < 120; n++) {
        notes[n] = static_cast<uint8_t>(n);
        samples[n] = 1;
    }
}

ItBuilder::ItBuilder() {
    memset(channel_panning, 32, sizeof channel_panning);
    memset(channel_volume, 64, sizeof channel_volume);
}

ItBuilderCell *itbuilder_cell(ItBuilder *b, int p, int row, int channel) {
    if (static_cast<int>(b->patterns.size()) <= p) b->patterns.resize(static_cast<size_t>(p) + 1);
    ItBuilderPattern &pattern = b->patterns[static_cast<size_t>(p)];
    pattern.cells.resize(static_cast<size_t>(pattern.rows) * 64);
    return &pattern.cells[static_cast<size_t>(row) * 64 + static_cast<size_t>(channel)];
}

// ---- The compressed coding ----

// Bits appended from the low bit of each byte up.
struct BitWriter {
    std::vector<uint8_t> bytes;
    int used = 8;  // bits used of the last byte
    void put(uint32_t value, int n) {
        for (int i = 0; i < n; i++) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            bytes.back() |= static_cast<uint8_t>(((value >> i) & 1) << used);
            used++;
        }
    }
};

// The coding's numbers for 8- and 16-bit samples (the reader's
// it_samples_internal.h describes them).
struct CodeWidths {
    int bits, top, switch_bits;
    uint32_t border_mask, border_offset, border_codes, block_frames;
};

static const CodeWidths WIDTHS_8 = {8, 9, 3, 0xFF, 4, 8, 0x8000};
static const CodeWidths WIDTHS_16 = {16, 17, 4, 0xFFFF, 8, 16, 0x4000};

static uint32_t border(const CodeWidths &w, int width) {
    return (w.border_mask >> (w.top - width)) - w.border_offset;
}

// Whether the number v can be written at `width` without being read as a
// width switch.
static bool fits(const CodeWidths &w, int v, int width) {
    if (width == w.top) return true;
    const int half = 1 << (width - 1);
    if (v < -half || v >= half) return false;
    const uint32_t pattern = static_cast<uint32_t>(v) & ((1u << width) - 1);
    if (width < 7) return pattern != static_cast<uint32_t>(half);
    return pattern <= border(w, width) || pattern > border(w, width) + w.border_codes;
}

// Writes the switch from `width` to `to`.
static void put_switch(const CodeWidths &w, BitWriter *out, int width, int to) {
    const int named = to < width ? to : to - 1;
    if (width < 7) {
        out->put(1u << (width - 1), width);
        out->put(static_cast<uint32_t>(named - 1), w.switch_bits);
    } else if (width < w.top) {
        out->put(border(w, width) + static_cast<uint32_t>(named), width);
    } else {
        out->put((1u << w.bits) | static_cast<uint32_t>(to - 1), w.top);
    }
}

std::vector<uint8_t> itbuilder_compress(const std::vector<int16_t> &frames, uint8_t bits, bool double_delta) {
    const CodeWidths &w = bits == 16 ? WIDTHS_16 : WIDTHS_8;
    const int wrap = 1 << w.bits;
    std::vector<uint8_t> out;
    for (size_t first = 0; first < frames.size(); first += w.block_frames) {
        const size_t end = first + w.block_frames < frames.size() ? first + w.block_frames : frames.size();
        BitWriter block;
        int width = w.top, last = 0, last_delta = 0;
        for (size_t i = first; i < end; i++) {
            // The difference (of differences, for 2.15), wrapped to the bits.
            int delta = frames[i] - last;
            last = frames[i];
            int v = double_delta ? delta - last_delta : delta;
            last_delta = delta;
            v = ((v % wrap) + wrap) % wrap;
            if (v >= wrap / 2) v -= wrap;
            int least = 1;
            while (!fits(w, v, least)) least++;
            if (!fits(w, v, width) || least + 2 < width) {
                put_switch(w, &block, width, least);
                width = least;
            }
            // At the widest, the number's own bits with the switch bit clear.
            const int value_bits = width == w.top ? w.bits : width;
            block.put(static_cast<uint32_t>(v) & ((1u << value_bits) - 1), width);
        }
        put16(out, static_cast<uint32_t>(block.bytes.size()));
        out.insert(out.end(), block.bytes.begin(), block.bytes.end());
    }
    return out;
}

// ---- The file ----

static void put_plain(std::vector<uint8_t> &out, const std::vector<int16_t> &frames, const ItBuilderSample &s) {
    int last = 0;
    for (int16_t frame : frames) {
        uint32_t v = static_cast<uint32_t>(s.delta ? frame - last : frame);
        last = frame;
        if (s.bits == 16) {
            v = (v & 0xFFFF) ^ (s.is_signed ? 0 : 0x8000);
            if (s.big_endian) {
                put8(out, v >> 8);
                put8(out, v);
            } else {
                put16(out, v);
            }
        } else {
            put8(out, (v & 0xFF) ^ (s.is_signed ? 0 : 0x80));
        }
    }
}

static void put_envelope(std::vector<uint8_t> &out, const ItBuilderEnvelope &e) {
    put8(out, e.flags);
    put8(out, static_cast<uint32_t>(e.ticks.size()));
    put8(out, e.loop_start);
    put8(out, e.loop_end);
    put8(out, e.sustain_start);
    put8(out, e.sustain_end);
    for (size_t k = 0; k < 25; k++) {
        put8(out, k < e.values.size() ? static_cast<uint8_t>(e.values[k]) : 0);
        put16(out, k < e.ticks.size() ? e.ticks[k] : 0);
    }
    put8(out, 0);
}

static void put_instrument(std::vector<uint8_t> &out, const ItBuilderInstrument &in, bool old) {
    const size_t start = out.size();
    put_text(out, "IMPI", 4);
    put_text(out, "", 13);
    if (old) {
        put8(out, in.volume.flags & 7);
        for (uint8_t v : {in.volume.loop_start, in.volume.loop_end, in.volume.sustain_start, in.volume.sustain_end}) put8(out, v);
        put16(out, 0);
        put16(out, in.fadeout);
        put8(out, in.nna);
        put8(out, in.dct ? 1 : 0);
    } else {
        for (uint8_t v : {in.nna, in.dct, in.dca}) put8(out, v);
        put16(out, in.fadeout);
        put8(out, static_cast<uint8_t>(in.pitch_pan_separation));
        for (uint8_t v : {in.pitch_pan_center, in.global_volume, in.panning, in.random_volume, in.random_panning})
            put8(out, v);
    }
    put16(out, 0x0214);
    put8(out, 1);
    put8(out, 0);
    put_text(out, in.name, 26);
    put8(out, old ? 0 : in.cutoff);
    put8(out, old ? 0 : in.resonance);
    put_text(out, "", 4);
    for (int n = 0; n < 120; n++) {
        put8(out, in.notes[n]);
        put8(out, in.samples[n]);
    }
    if (old) {
        put_text(out, "", 200);  // the volume envelope tick by tick: not read
        for (size_t k = 0; k < 25; k++) {
            put8(out, k < in.volume.ticks.size() ? in.volume.ticks[k] : 0xFF);
            put8(out, k < in.volume.values.size() ? static_cast<uint8_t>(in.volume.values[k]) : 0);
        }
    } else {
        for (const ItBuilderEnvelope *e : {&in.volume, &in.panning_envelope, &in.pitch}) put_envelope(out, *e);
    }
    out.resize(start + 554, 0);
}

static void put_sample_header(std::vector<uint8_t> &out, const ItBuilderSample &s) {
    put_text(out, "IMPS", 4);
    put_text(out, "", 13);
    put8(out, s.global_volume);
    uint32_t flags = s.frames.empty() ? 0 : 1;
    if (s.bits == 16) flags |= 2;
    if (!s.right.empty()) flags |= 4;
    if (s.compression) flags |= 8;
    if (s.loop) flags |= 16;
    if (s.sustain) flags |= 32;
    if (s.ping_pong) flags |= 64;
    if (s.sustain_ping_pong) flags |= 128;
    put8(out, flags);
    put8(out, s.volume);
    put_text(out, s.name, 26);
    put8(out, (s.is_signed ? 1u : 0u) | (s.big_endian ? 2u : 0u) | (s.delta || s.compression == 15 ? 4u : 0u));
    put8(out, s.panning);
    put32(out, s.length_override ? s.length_override : static_cast<uint32_t>(s.frames.size()));
    put32(out, s.loop_begin);
    put32(out, s.loop_end);
    put32(out, s.c5_speed);
    put32(out, s.sustain_begin);
    put32(out, s.sustain_end);
    put32(out, 0);  // the data's pointer, set when it is written
    for (uint8_t v : {s.vibrato_speed, s.vibrato_depth, s.vibrato_rate, s.vibrato_type}) put8(out, v);
}

// The pattern's cells packed as Impulse Tracker packs them: a channel's
// mask byte only when it changes, a field equal to the channel's last
// written one by its "last value" bit.
static std::vector<uint8_t> pack_pattern(const ItBuilderPattern &p) {
    std::vector<uint8_t> out;
    uint8_t last_mask[64];
    memset(last_mask, 0xFF, sizeof last_mask);  // no mask yet: the first is written
    ItBuilderCell last[64] = {};
    bool written[64][4] = {};
    for (size_t row = 0; row < p.rows; row++) {
        for (size_t ch = 0; ch < 64 && !p.cells.empty(); ch++) {
            const ItBuilderCell &c = p.cells[row * 64 + ch];
            if (!c.mask) continue;
            const uint8_t values[4][2] = {{c.note, 0}, {c.instrument, 0}, {c.volume, 0}, {c.command, c.param}};
            const uint8_t lasts[4][2] = {{last[ch].note, 0}, {last[ch].instrument, 0}, {last[ch].volume, 0},
                                         {last[ch].command, last[ch].param}};
            uint8_t mask = 0;
            for (int f = 0; f < 4; f++) {
                if (!(c.mask & (1 << f))) continue;
                const bool same = written[ch][f] && values[f][0] == lasts[f][0] && values[f][1] == lasts[f][1];
                mask |= static_cast<uint8_t>(same ? 16 << f : 1 << f);
            }
            if (mask != last_mask[ch]) {
                put8(out, (ch + 1) | 128);
                put8(out, mask);
                last_mask[ch] = mask;
            } else {
                put8(out, ch + 1);
            }
            if (mask & 1) put8(out, c.note);
            if (mask & 2) put8(out, c.instrument);
            if (mask & 4) put8(out, c.volume);
            if (mask & 8) {
                put8(out, c.command);
                put8(out, c.param);
            }
            for (int f = 0; f < 4; f++) written[ch][f] = written[ch][f] || (mask & (1 << f));
            if (mask & 1) last[ch].note = c.note;
            if (mask & 2) last[ch].instrument = c.instrument;
            if (mask & 4) last[ch].volume = c.volume;
            if (mask & 8) {
                last[ch].command = c.command;
                last[ch].param = c.param;
            }
        }
        put8(out, 0);
    }
    return out;
}

static void set32(std::vector<uint8_t> &out, size_t at, uint32_t v) {
    set16(out, at, v);
    set16(out, at + 2, v >> 16);
}

std::vector<uint8_t> itbuilder_build(const ItBuilder &b, ItBuilderLayout *layout) {
    ItBuilderLayout where;
    std::vector<uint8_t> out;
    const bool macros = !b.macros.empty();
    put_text(out, "IMPM", 4);
    put_text(out, b.title, 26);
    put16(out, 0x1004);
    put16(out, static_cast<uint32_t>(b.orders.size()));
    put16(out, static_cast<uint32_t>(b.instruments.size()));
    put16(out, static_cast<uint32_t>(b.samples.size()));
    put16(out, static_cast<uint32_t>(b.patterns.size()));
    put16(out, b.created_with);
    put16(out, b.compatible);
    put16(out, b.flags | (macros ? 0x80u : 0u));
    put16(out, (b.message.empty() ? 0u : 1u) | (b.edit_history ? 2u : 0u) | (macros ? 8u : 0u));
    for (uint8_t v : {b.global_volume, b.mixing_volume, b.speed, b.tempo, b.separation}) put8(out, v);
    put8(out, 0);
    put16(out, static_cast<uint32_t>(b.message.size()));
    put32(out, 0);  // the message's pointer, set below
    put32(out, 0);
    out.insert(out.end(), b.channel_panning, b.channel_panning + 64);
    out.insert(out.end(), b.channel_volume, b.channel_volume + 64);
    where.orders_at = out.size();
    out.insert(out.end(), b.orders.begin(), b.orders.end());
    const size_t pointers_at = out.size();
    put_text(out, "", 4 * (b.instruments.size() + b.samples.size() + b.patterns.size()));
    if (b.edit_history) {
        put16(out, b.edit_history);
        put_text(out, "", 8u * b.edit_history);
    }
    if (macros) {
        put_text(out, "", 9 * 32);
        for (size_t n = 0; n < 144; n++) put_text(out, n < b.macros.size() ? b.macros[n] : "", 32);
    }
    out.insert(out.end(), b.chunks.begin(), b.chunks.end());
    if (!b.message.empty()) {
        where.message_at = out.size();
        set32(out, 0x38, static_cast<uint32_t>(out.size()));
        put_text(out, b.message, b.message.size());
    }
    size_t pointer = pointers_at;
    for (const ItBuilderInstrument &in : b.instruments) {
        where.instrument_at.push_back(out.size());
        set32(out, pointer, static_cast<uint32_t>(out.size()));
        pointer += 4;
        put_instrument(out, in, b.compatible < 0x200);
    }
    for (const ItBuilderSample &s : b.samples) {
        where.sample_at.push_back(out.size());
        set32(out, pointer, static_cast<uint32_t>(out.size()));
        pointer += 4;
        put_sample_header(out, s);
    }
    for (const ItBuilderPattern &p : b.patterns) {
        if (p.absent) {
            where.pattern_at.push_back(0);
            pointer += 4;
            continue;
        }
        where.pattern_at.push_back(out.size());
        set32(out, pointer, static_cast<uint32_t>(out.size()));
        pointer += 4;
        const std::vector<uint8_t> packed = pack_pattern(p);
        put16(out, static_cast<uint32_t>(packed.size()));
        put16(out, p.rows);
        put32(out, 0);
        out.insert(out.end(), packed.begin(), packed.end());
    }
    for (size_t n = 0; n < b.samples.size(); n++) {
        const ItBuilderSample &s = b.samples[n];
        where.sample_data_at.push_back(out.size());
        set32(out, where.sample_at[n] + 0x48, static_cast<uint32_t>(out.size()));
        for (const std::vector<int16_t> *half : {&s.frames, &s.right}) {
            if (half->empty()) continue;
            if (s.compression) {
                const std::vector<uint8_t> packed = itbuilder_compress(*half, s.bits, s.compression == 15);
                out.insert(out.end(), packed.begin(), packed.end());
            } else {
                put_plain(out, *half, s);
            }
        }
    }
    if (layout) *layout = where;
    return out;
}

// ---- The showcase ----

// A square wave with steps, `frames` long, of `peak` and `period` frames.
static std::vector<int16_t> wave(size_t frames, int peak, int period) {
    std::vector<int16_t> v(frames);
    for (size_t i = 0; i < frames; i++) {
        const int phase = static_cast<int>(i % static_cast<size_t>(period));
        v[i] = static_cast<int16_t>((phase < period / 2 ? peak : -peak) * (1 + static_cast<int>(i % 5)) / 5);
    }
    return v;
}

void itbuilder_showcase_song(ItBuilder *b) {
    *b = ItBuilder{};
    b->title = "showcase";
    b->message = "an IT showcase\rwith two lines";
    b->edit_history = 2;
    b->channel_panning[1] = 0;
    b->channel_panning[2] = 64;
    b->channel_panning[3] = 100;     // surround
    b->channel_panning[4] = 32 | 128;  // disabled
    b->channel_volume[0] = 48;
    b->macros.assign(144, "");
    b->macros[0] = "F0F000z";
    b->macros[1] = "F0 F0 01 z";
    b->macros[16] = "F0F00140";
    b->orders = {0, 254, 1, 2, 0, 255, 1};

    ItBuilderSample s8;
    s8.name = "compressed 8";
    s8.frames = wave(1000, 100, 40);
    s8.compression = 14;
    s8.loop = true;
    s8.loop_begin = 200;
    s8.loop_end = 1000;
    s8.sustain = true;
    s8.sustain_ping_pong = true;
    s8.sustain_begin = 100;
    s8.sustain_end = 300;
    s8.vibrato_speed = 8;
    s8.vibrato_depth = 16;
    s8.vibrato_rate = 40;
    ItBuilderSample s16;
    s16.name = "compressed 16";
    s16.bits = 16;
    s16.frames = wave(40000, 20000, 50);
    s16.compression = 15;
    s16.c5_speed = 16000;
    s16.panning = 128 | 48;
    s16.global_volume = 40;
    s16.loop = true;
    s16.ping_pong = true;
    s16.loop_begin = 10;
    s16.loop_end = 39000;
    ItBuilderSample stereo;
    stereo.name = "stereo";
    stereo.frames = wave(300, 60, 12);
    stereo.right = wave(300, 30, 24);
    stereo.loop = true;
    stereo.loop_end = 300;
    ItBuilderSample wide;
    wide.name = "unsigned big-endian";
    wide.bits = 16;
    wide.frames = wave(200, 9000, 20);
    wide.is_signed = false;
    wide.big_endian = true;
    ItBuilderSample delta;
    delta.name = "delta";
    delta.frames = wave(150, 70, 30);
    delta.delta = true;
    b->samples = {s8, s16, stereo, wide, delta};

    ItBuilderInstrument lead;
    lead.name = "lead";
    lead.nna = 1;
    lead.dct = 1;
    lead.dca = 2;
    lead.fadeout = 64;
    lead.pitch_pan_separation = -8;
    lead.random_volume = 25;
    lead.random_panning = 16;
    lead.cutoff = 128 | 100;
    lead.resonance = 128 | 30;
    lead.panning = 20;
    for (int n = 0; n < 120; n++) lead.samples[n] = static_cast<uint8_t>(n < 60 ? 1 : 2);
    lead.notes[61] = 73;
    lead.volume = {1 | 2 | 4, {64, 48, 32, 16, 0}, {0, 10, 20, 30, 40}, 1, 3, 1, 2};
    lead.panning_envelope = {1 | 8, {-32, 32, 0}, {0, 8, 16}, 0, 0, 0, 0};
    lead.pitch = {1 | 2 | 128, {0, 32, -32}, {0, 4, 12}, 1, 2, 0, 0};
    ItBuilderInstrument pad;
    pad.name = "pad";
    pad.nna = 3;
    pad.dct = 3;
    pad.fadeout = 200;
    for (int n = 0; n < 120; n++) pad.samples[n] = static_cast<uint8_t>(3 + n % 3);
    pad.volume = {1 | 4, {0, 64, 40}, {0, 5, 60}, 0, 0, 1, 1};
    pad.pitch = {1, {-8, 8}, {0, 30}, 0, 0, 0, 0};
    b->instruments = {lead, pad, ItBuilderInstrument{}};
    b->instruments[2].name = "empty";

    b->patterns.resize(3);
    b->patterns[1].rows = 32;
    b->patterns[2].rows = 200;
    // Every command letter on channel 0; the S commands on channel 1.
    for (int letter = 1; letter <= 26; letter++) {
        ItBuilderCell *c = itbuilder_cell(b, 0, letter * 2, 0);
        c->mask = 8;
        c->command = static_cast<uint8_t>(letter);
        c->param = static_cast<uint8_t>(letter == 'B' - 'A' + 1 ? 2 : letter == 'C' - 'A' + 1 ? 0x10 : 0x11 * (letter % 7) + 1);
    }
    for (int x = 0; x < 16; x++) {
        ItBuilderCell *c = itbuilder_cell(b, 1, x * 2, 1);
        c->mask = 8;
        c->command = 'S' - 'A' + 1;
        c->param = static_cast<uint8_t>(x << 4 | (x == 7 ? 3 : 1));
    }
    // Every volume column range on channel 2, notes with instruments.
    const uint8_t volumes[] = {0, 64, 66, 76, 86, 96, 106, 116, 128, 160, 192, 195, 205, 212};
    for (size_t i = 0; i < sizeof volumes; i++) {
        ItBuilderCell *c = itbuilder_cell(b, 0, static_cast<int>(i * 4), 2);
        *c = ItBuilderCell{7, static_cast<uint8_t>(48 + i), 1, volumes[i], 0, 0};
    }
    // Notes repeating their channel's last values, note off, cut and fade.
    for (int row = 0; row < 64; row += 2) {
        for (int ch = 3; ch < 6; ch++) {
            ItBuilderCell *c = itbuilder_cell(b, row < 32 ? 0 : 2, row, ch);
            const int kind = (row / 2 + ch) % 8;
            *c = ItBuilderCell{3, static_cast<uint8_t>(kind == 5 ? 255 : kind == 6 ? 254 : kind == 7 ? 200 : 36 + row % 24),
                               static_cast<uint8_t>(1 + (row / 8) % 3), 0, 0, 0};
        }
    }
    for (int row = 0; row < 200; row += 9) *itbuilder_cell(b, 2, row, 0) = ItBuilderCell{15, 60, 2, 32, 8, 0x24};
}
