// Writes XM and S3M files from the builders' plain descriptions, and the
// two showcase songs that tools and fuzz seeds start from.
#include "support/music_formatbuilder.h"

#include <cstring>

#include "support/music_byte_writer.h"

const int8_t XMBUILDER_ADPCM_STEPS[16] = {0, 1, 2, 4, 8, 16, 32, 64, -1, -2, -4, -8, -16, -32, -64, -128};

// ---- XM ----

XmBuilderCell *xmbuilder_cell(XmBuilder *b, int p, int row, int channel) {
    if (static_cast<int>(b->patterns.size()) <= p) b->patterns.resize(static_cast<size_t>(p) + 1);
    XmBuilderPattern &pattern = b->patterns[static_cast<size_t>(p)];
    pattern.cells.resize(static_cast<size_t>(pattern.rows) * b->channels);
    return &pattern.cells[static_cast<size_t>(row) * b->channels + static_cast<size_t>(channel)];
}

// A cell packed as FastTracker II packs it: all five fields whole, else
// the flag byte and the fields that are not 0.
static void pack_xm_cell(std::vector<uint8_t> &out, const XmBuilderCell &c) {
    const uint8_t fields[5] = {c.note, c.instrument, c.volume, c.effect, c.param};
    bool all = c.note < 0x80;
    for (uint8_t f : fields) all = all && f != 0;
    if (all) {
        for (uint8_t f : fields) put8(out, f);
        return;
    }
    uint8_t flag = 0x80;
    for (int i = 0; i < 5; i++)
        if (fields[i]) flag |= static_cast<uint8_t>(1 << i);
    put8(out, flag);
    for (uint8_t f : fields)
        if (f) put8(out, f);
}

static void put_envelope(std::vector<uint8_t> &out, const XmBuilderEnvelope &e) {
    for (size_t k = 0; k < 12; k++) {
        put16(out, k < e.ticks.size() ? e.ticks[k] : 0);
        put16(out, k < e.values.size() ? e.values[k] : 0);
    }
}

static uint32_t xm_sample_bytes(const XmBuilderSample &s) {
    const uint32_t frames = static_cast<uint32_t>(s.frames.size());
    return s.bits == 16 ? frames * 2 : frames;
}

static void put_xm_sample_data(std::vector<uint8_t> &out, const XmBuilderSample &s) {
    if (s.adpcm) {
        for (int8_t step : XMBUILDER_ADPCM_STEPS) put8(out, static_cast<uint8_t>(step));
        int previous = 0;
        uint8_t byte = 0;
        for (size_t i = 0; i < s.frames.size(); i++) {
            const int8_t step = static_cast<int8_t>(s.frames[i] - previous);
            uint8_t index = 0;
            while (index < 15 && XMBUILDER_ADPCM_STEPS[index] != step) index++;
            previous = s.frames[i];
            if (i & 1) put8(out, byte | static_cast<uint8_t>(index << 4));
            else byte = index;
        }
        if (s.frames.size() & 1) put8(out, byte);
        return;
    }
    int previous = 0;
    for (int16_t v : s.frames) {
        const int delta = v - previous;
        previous = v;
        if (s.bits == 16) put16(out, static_cast<uint32_t>(delta) & 0xFFFF);
        else put8(out, static_cast<uint32_t>(delta) & 0xFF);
    }
}

std::vector<uint8_t> xmbuilder_build(const XmBuilder &b, XmBuilderLayout *layout) {
    XmBuilderLayout where;
    std::vector<uint8_t> out;
    put_text(out, "Extended Module: ", 17);
    put_text(out, b.title, 20);
    put8(out, 0x1A);
    put_text(out, b.tracker, 20);
    put16(out, b.version);
    put32(out, 276);
    put16(out, static_cast<uint32_t>(b.orders.size()));
    put16(out, b.restart);
    put16(out, b.channels);
    put16(out, static_cast<uint32_t>(b.patterns.size()));
    put16(out, static_cast<uint32_t>(b.instruments.size()));
    put16(out, b.flags);
    put16(out, b.speed);
    put16(out, b.tempo);
    for (size_t i = 0; i < 256; i++) put8(out, i < b.orders.size() ? b.orders[i] : 0);

    for (const XmBuilderPattern &p : b.patterns) {
        where.pattern_at.push_back(out.size());
        std::vector<uint8_t> packed;
        bool any = false;
        for (const XmBuilderCell &c : p.cells) any = any || c.note || c.instrument || c.volume || c.effect || c.param;
        if (any) {
            const size_t cells = static_cast<size_t>(p.rows) * b.channels;
            for (size_t i = 0; i < cells; i++) pack_xm_cell(packed, i < p.cells.size() ? p.cells[i] : XmBuilderCell{});
        }
        put32(out, 9);
        put8(out, 0);
        put16(out, p.rows);
        put16(out, static_cast<uint32_t>(packed.size()));
        out.insert(out.end(), packed.begin(), packed.end());
        where.patterns_packed_bytes += packed.size();
    }

    for (const XmBuilderInstrument &in : b.instruments) {
        where.instrument_at.push_back(out.size());
        std::vector<uint8_t> h;
        put32(h, 0);  // the size, set below
        put_text(h, in.name, 22);
        put8(h, 0);
        put16(h, static_cast<uint32_t>(in.samples.size()));
        if (!in.samples.empty()) {
            put32(h, 40);
            for (uint8_t s : in.sample_map) put8(h, s);
            put_envelope(h, in.volume);
            put_envelope(h, in.panning);
            put8(h, in.volume.count == 0xFF ? static_cast<uint32_t>(in.volume.ticks.size()) : in.volume.count);
            put8(h, in.panning.count == 0xFF ? static_cast<uint32_t>(in.panning.ticks.size()) : in.panning.count);
            for (const XmBuilderEnvelope *e : {&in.volume, &in.panning}) {
                put8(h, e->sustain);
                put8(h, e->loop_start);
                put8(h, e->loop_end);
            }
            put8(h, in.volume.type);
            put8(h, in.panning.type);
            put8(h, in.vibrato_type);
            put8(h, in.vibrato_sweep);
            put8(h, in.vibrato_depth);
            put8(h, in.vibrato_rate);
            put16(h, in.fadeout);
            put16(h, 0);
        }
        const uint32_t size = in.header_size ? in.header_size : in.samples.empty() ? 29 : 263;
        h.resize(size, in.padding);
        h[0] = static_cast<uint8_t>(size);
        h[1] = static_cast<uint8_t>(size >> 8);
        h[2] = static_cast<uint8_t>(size >> 16);
        h[3] = static_cast<uint8_t>(size >> 24);
        if (size < 4) h.resize(4);
        out.insert(out.end(), h.begin(), h.end());
        for (const XmBuilderSample &s : in.samples) {
            const uint32_t unit = s.bits == 16 ? 2 : 1;
            put32(out, s.adpcm ? static_cast<uint32_t>(s.frames.size()) : xm_sample_bytes(s));
            put32(out, s.loop_start * unit);
            put32(out, s.loop_length * unit);
            put8(out, s.volume);
            put8(out, static_cast<uint8_t>(s.finetune));
            put8(out, static_cast<uint32_t>(s.loop_type) | (s.bits == 16 ? 0x10 : 0));
            put8(out, s.panning);
            put8(out, static_cast<uint8_t>(s.relative_note));
            put8(out, s.adpcm ? 0xAD : 0);
            put_text(out, s.name, 22);
        }
        for (const XmBuilderSample &s : in.samples) {
            where.sample_data_at.push_back(out.size());
            put_xm_sample_data(out, s);
        }
    }
    if (layout) *layout = where;
    return out;
}

// ---- S3M ----

S3mBuilder::S3mBuilder() {
    memset(channel_settings, 255, sizeof channel_settings);
    const uint8_t first[4] = {0, 8, 1, 9};
    memcpy(channel_settings, first, sizeof first);
}

S3mBuilderCell *s3mbuilder_cell(S3mBuilder *b, int p, int row, int channel) {
    if (static_cast<int>(b->patterns.size()) <= p) b->patterns.resize(static_cast<size_t>(p) + 1);
    S3mBuilderPattern &pattern = b->patterns[static_cast<size_t>(p)];
    pattern.cells.resize(64 * 32);
    return &pattern.cells[static_cast<size_t>(row) * 32 + static_cast<size_t>(channel)];
}

static void align16(std::vector<uint8_t> &out) {
    while (out.size() % 16) put8(out, 0);
}

static void put_s3m_frames(std::vector<uint8_t> &out, const std::vector<int16_t> &frames, uint8_t bits,
                           bool is_unsigned) {
    for (int16_t v : frames) {
        if (bits == 16) put16(out, (static_cast<uint32_t>(v) & 0xFFFF) ^ (is_unsigned ? 0x8000 : 0));
        else put8(out, (static_cast<uint32_t>(v) & 0xFF) ^ (is_unsigned ? 0x80 : 0));
    }
}

std::vector<uint8_t> s3mbuilder_build(const S3mBuilder &b, S3mBuilderLayout *layout) {
    S3mBuilderLayout where;
    std::vector<uint8_t> out;
    put_text(out, b.title, 28);
    put8(out, 0x1A);
    put8(out, 16);
    put16(out, 0);
    put16(out, static_cast<uint32_t>(b.orders.size()));
    put16(out, static_cast<uint32_t>(b.samples.size()));
    put16(out, static_cast<uint32_t>(b.patterns.size()));
    put16(out, b.flags);
    put16(out, b.version);
    put16(out, b.sample_format);
    put_text(out, "SCRM", 4);
    put8(out, b.global_volume);
    put8(out, b.speed);
    put8(out, b.tempo);
    put8(out, b.master_volume);
    put8(out, 0);
    put8(out, b.panning_flag);
    while (out.size() < 64) put8(out, 0);
    for (uint8_t s : b.channel_settings) put8(out, s);
    out.insert(out.end(), b.orders.begin(), b.orders.end());
    where.instrument_pointers_at = out.size();
    for (size_t i = 0; i < b.samples.size(); i++) put16(out, 0);
    where.pattern_pointers_at = out.size();
    for (size_t i = 0; i < b.patterns.size(); i++) put16(out, 0);
    if (b.panning_flag == 252)
        for (uint8_t p : b.panning) put8(out, p);

    for (size_t n = 0; n < b.samples.size(); n++) {
        align16(out);
        where.instrument_at.push_back(out.size());
        set16(out, where.instrument_pointers_at + 2 * n, static_cast<uint32_t>(out.size() / 16));
        const S3mBuilderSample &s = b.samples[n];
        put8(out, s.type);
        put_text(out, "", 12);
        put8(out, 0);
        put16(out, 0);  // memseg, set below
        put32(out, s.length_override ? s.length_override : static_cast<uint32_t>(s.frames.size()));
        put32(out, s.loop_begin);
        put32(out, s.loop_end);
        put8(out, s.volume);
        put8(out, 0);
        put8(out, s.pack);
        put8(out, (s.loop ? 1u : 0u) | (s.right.empty() ? 0u : 2u) | (s.bits == 16 ? 4u : 0u));
        put32(out, s.c2spd);
        put_text(out, "", 12);
        put_text(out, s.name, 28);
        put_text(out, s.type >= 2 ? "SCRI" : "SCRS", 4);
    }
    for (size_t p = 0; p < b.patterns.size(); p++) {
        const S3mBuilderPattern &pattern = b.patterns[p];
        if (pattern.absent) {
            where.pattern_at.push_back(0);
            continue;
        }
        align16(out);
        where.pattern_at.push_back(out.size());
        set16(out, where.pattern_pointers_at + 2 * p, static_cast<uint32_t>(out.size() / 16));
        std::vector<uint8_t> packed;
        for (size_t row = 0; row < 64; row++) {
            for (size_t ch = 0; ch < 32 && !pattern.cells.empty(); ch++) {
                const S3mBuilderCell &c = pattern.cells[row * 32 + ch];
                uint8_t what = static_cast<uint8_t>(ch);
                if (c.note != 255 || c.instrument) what |= 32;
                if (c.volume != 255) what |= 64;
                if (c.command) what |= 128;
                if (what == ch) continue;
                put8(packed, what);
                if (what & 32) {
                    put8(packed, c.note);
                    put8(packed, c.instrument);
                }
                if (what & 64) put8(packed, c.volume);
                if (what & 128) {
                    put8(packed, c.command);
                    put8(packed, c.info);
                }
            }
            put8(packed, 0);
        }
        put16(out, static_cast<uint32_t>(packed.size()));
        out.insert(out.end(), packed.begin(), packed.end());
        where.patterns_packed_bytes += packed.size() + 2;
    }
    for (size_t n = 0; n < b.samples.size(); n++) {
        const S3mBuilderSample &s = b.samples[n];
        align16(out);
        where.sample_data_at.push_back(out.size());
        const size_t memseg = out.size() / 16;
        const size_t h = where.instrument_at[n];
        out[h + 13] = static_cast<uint8_t>(memseg >> 16);
        set16(out, h + 14, static_cast<uint32_t>(memseg));
        put_s3m_frames(out, s.frames, s.bits, b.sample_format != 1);
        put_s3m_frames(out, s.right, s.bits, b.sample_format != 1);
    }
    if (layout) *layout = where;
    return out;
}

// ---- Showcase songs ----

static std::vector<int16_t> wave(size_t frames, int peak, int period) {
    std::vector<int16_t> v(frames);
    for (size_t i = 0; i < frames; i++) {
        const int phase = static_cast<int>(i % static_cast<size_t>(period));
        v[i] = static_cast<int16_t>(phase < period / 2 ? peak : -peak);
        v[i] = static_cast<int16_t>(v[i] * (1 + static_cast<int>(i % 3)) / 3);
    }
    return v;
}

void xmbuilder_showcase_song(XmBuilder *b) {
    *b = XmBuilder{};
    b->title = "showcase";
    b->channels = 5;
    b->orders = {0, 1, 2, 0};
    b->restart = 1;
    b->patterns.resize(3);
    b->patterns[1].rows = 1;
    b->patterns[2].rows = 100;

    XmBuilderInstrument lead;
    lead.name = "lead";
    XmBuilderSample s8;
    s8.name = "square 8";
    s8.frames = wave(256, 100, 32);
    s8.loop_type = 1;
    s8.loop_start = 64;
    s8.loop_length = 128;
    s8.finetune = -16;
    s8.relative_note = 12;
    s8.panning = 64;
    XmBuilderSample s16;
    s16.name = "square 16";
    s16.bits = 16;
    s16.frames = wave(300, 20000, 50);
    s16.loop_type = 2;
    s16.loop_start = 10;
    s16.loop_length = 200;
    s16.volume = 48;
    lead.samples = {s8, s16};
    for (int n = 48; n < 96; n++) lead.sample_map[n] = 1;
    lead.volume = {{0, 10, 30, 60}, {64, 48, 32, 0}, 0xFF, 1, 1, 2, 1 | 2 | 4};
    lead.panning = {{0, 20, 40}, {32, 0, 64}, 0xFF, 0, 0, 2, 1 | 4};
    lead.vibrato_type = 1;
    lead.vibrato_sweep = 8;
    lead.vibrato_depth = 4;
    lead.vibrato_rate = 20;
    lead.fadeout = 0x200;

    XmBuilderInstrument drum;
    drum.name = "drum";
    XmBuilderSample packed;
    packed.name = "adpcm";
    packed.adpcm = true;
    int v = 0;
    for (int i = 0; i < 99; i++) {
        v += XMBUILDER_ADPCM_STEPS[(i * 7) % 16];
        if (v > 127 || v < -128) v = 0;
        packed.frames.push_back(static_cast<int16_t>(v));
    }
    drum.samples = {packed};
    b->instruments = {lead, drum, XmBuilderInstrument{}};
    b->instruments[2].name = "empty";

    // Every effect on channel 0, every volume column range on channel 1,
    // notes on channels 2 .. 4 (key off among them).
    const uint8_t effects[][2] = {
        {0x0, 0x37}, {0x1, 0x02}, {0x2, 0x03}, {0x3, 0x08}, {0x4, 0x46}, {0x5, 0x02}, {0x6, 0x20},
        {0x7, 0x44}, {0x8, 0x80}, {0x9, 0x01}, {0xA, 0x0F}, {0xC, 0x30}, {0xE, 0x12}, {0xE, 0x22},
        {0xE, 0x31}, {0xE, 0x42}, {0xE, 0x5A}, {0xE, 0x60}, {0xE, 0x62}, {0xE, 0x71}, {0xE, 0x92},
        {0xE, 0xA2}, {0xE, 0xB2}, {0xE, 0xC3}, {0xE, 0xD2}, {0xE, 0xE1}, {0xF, 0x04}, {0xF, 0x90},
        {16, 0x30}, {17, 0x0F}, {20, 0x03}, {21, 0x10}, {25, 0x20}, {27, 0x83}, {29, 0x21},
        {33, 0x13}, {33, 0x24}, {0xB, 0x03}, {0xD, 0x12}};
    const size_t effect_count = sizeof effects / sizeof effects[0];
    for (size_t i = 0; i < effect_count; i++) {
        XmBuilderCell *c = xmbuilder_cell(b, i < 37 ? 0 : 2, static_cast<int>(i < 37 ? i : 40 + i), 0);
        c->effect = effects[i][0];
        c->param = effects[i][1];
    }
    for (int i = 0; i < 16; i++) {
        XmBuilderCell *c = xmbuilder_cell(b, 0, i * 4, 1);
        c->volume = static_cast<uint8_t>(i * 16 + (i == 1 ? 0 : 5));
        c->note = static_cast<uint8_t>(49 + i);
        c->instrument = 1;
    }
    for (int row = 0; row < 64; row += 3) {
        for (int ch = 2; ch < 5; ch++) {
            XmBuilderCell *c = xmbuilder_cell(b, 0, row, ch);
            c->note = static_cast<uint8_t>(row % 12 == 9 ? 97 : 37 + (row + ch * 5) % 48);
            c->instrument = static_cast<uint8_t>(row % 12 == 9 ? 0 : 1 + (ch == 4));
            c->volume = static_cast<uint8_t>(0x10 + row);
        }
    }
    XmBuilderCell *lone = xmbuilder_cell(b, 1, 0, 3);
    lone->note = 61;
    lone->instrument = 3;
    for (int row = 0; row < 100; row += 5) {
        XmBuilderCell *c = xmbuilder_cell(b, 2, row, 2);
        c->note = static_cast<uint8_t>(25 + row / 2);
        c->instrument = 2;
    }
}

void s3mbuilder_showcase_song(S3mBuilder *b) {
    *b = S3mBuilder{};
    b->title = "showcase";
    const uint8_t settings[6] = {0, 8, 1, 0x89, 16, 9};  // L R L (R disabled) Adlib R
    memcpy(b->channel_settings, settings, sizeof settings);
    b->orders = {0, 254, 1, 2, 255, 1};
    b->panning_flag = 252;
    b->panning[0] = 0x20 | 2;
    b->panning[5] = 0x20 | 13;
    b->panning[2] = 7;  // bit 5 clear: the default stays

    S3mBuilderSample s8;
    s8.name = "square 8";
    s8.frames = wave(400, 90, 40);
    s8.loop = true;
    s8.loop_begin = 100;
    s8.loop_end = 400;
    S3mBuilderSample s16;
    s16.name = "square 16";
    s16.bits = 16;
    s16.frames = wave(300, 15000, 30);
    s16.volume = 40;
    s16.c2spd = 16726;
    S3mBuilderSample stereo;
    stereo.name = "stereo";
    stereo.frames = wave(120, 60, 12);
    stereo.right = wave(120, 30, 24);
    S3mBuilderSample adlib;
    adlib.type = 2;
    adlib.name = "adlib";
    b->samples = {s8, s16, stereo, adlib};

    b->patterns.resize(3);
    b->patterns[2].absent = true;
    // Every command letter on channel 0 with a note on every fourth row.
    for (int letter = 1; letter <= 26; letter++) {
        S3mBuilderCell *c = s3mbuilder_cell(b, 0, letter, 0);
        c->command = static_cast<uint8_t>(letter);
        c->info = static_cast<uint8_t>(letter == 'C' - 'A' + 1 ? 0x12 : letter == 'B' - 'A' + 1 ? 2 : 0x21 + letter);
    }
    const uint8_t specials[] = {0x11, 0x21, 0x32, 0x41, 0x84, 0xB0, 0xB2, 0xC3, 0xD2, 0xE1};
    for (size_t i = 0; i < sizeof specials; i++) {
        S3mBuilderCell *c = s3mbuilder_cell(b, 1, static_cast<int>(2 + 3 * i), 1);
        c->command = 'S' - 'A' + 1;
        c->info = specials[i];
    }
    for (int row = 0; row < 64; row += 4) {
        for (int ch = 0; ch < 6; ch++) {
            S3mBuilderCell *c = s3mbuilder_cell(b, row < 32 ? 0 : 1, row, ch);
            c->note = static_cast<uint8_t>(row % 16 == 12 ? 254 : ((2 + row / 16) << 4) | (row + ch) % 12);
            c->instrument = static_cast<uint8_t>(1 + (row / 4 + ch) % 4);
            c->volume = static_cast<uint8_t>(row);
        }
    }
    s3mbuilder_cell(b, 1, 60, 3)->command = 'A' - 'A' + 1;
    s3mbuilder_cell(b, 1, 60, 3)->info = 4;
}
