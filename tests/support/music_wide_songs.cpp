// The wide songs: one note plan written out as an XM, an S3M and a MOD.
#include "support/music_wide_songs.h"

#include <cstdio>

#include "support/music_formatbuilder.h"
#include "support/music_itbuilder.h"
#include "support/music_modbuilder.h"

// Whether row `row` of pattern `pattern` starts a note on `channel`: all
// of them on the song's first row, then one a row, in turn.
static bool plays(int pattern, int row, int channel, int channels) {
    return (pattern == 0 && row == 0) || (row + pattern) % channels == channel;
}

// The note's pitch step (0 .. 23) and instrument (1 or 2) for that cell:
// the instruments in turn row by row, each over both octaves.
static int step_of(int row, int channel) { return (row * 5 + channel * 7 + row / 3) % 24; }
static int instrument_of(int row) { return 1 + row % 2; }

static std::vector<int16_t> saw(size_t frames, int peak, int period) {
    std::vector<int16_t> v(frames);
    for (size_t i = 0; i < frames; i++)
        v[i] = static_cast<int16_t>(-peak + 2 * peak * static_cast<int>(i % static_cast<size_t>(period)) / period);
    return v;
}

std::vector<uint8_t> wide_xm_song(int channels) {
    XmBuilder b;
    b.title = "wide xm";
    b.channels = static_cast<uint16_t>(channels);
    b.speed = 3;
    b.orders = {0, 1, 2, 1, 3};
    const uint16_t rows[] = {16, 1, 130, 256};
    b.patterns.resize(4);
    for (int p = 0; p < 4; p++) b.patterns[static_cast<size_t>(p)].rows = rows[p];
    XmBuilderInstrument one;
    one.name = "looped saw";
    XmBuilderSample looped;
    looped.name = "saw 8";
    looped.frames = saw(64, 100, 32);
    looped.loop_type = 1;
    looped.loop_length = 64;
    one.samples = {looped};
    XmBuilderInstrument two;
    two.name = "two samples";
    XmBuilderSample low;
    low.name = "low 8";
    low.frames = saw(2000, 90, 50);
    XmBuilderSample high;
    high.name = "high 16";
    high.bits = 16;
    high.frames = saw(300, 20000, 60);
    high.loop_type = 2;
    high.loop_start = 60;
    high.loop_length = 240;
    high.volume = 48;
    two.samples = {low, high};
    for (int n = 48; n < 96; n++) two.sample_map[n] = 1;
    b.instruments = {one, two};
    for (int p = 0; p < 4; p++)
        for (int row = 0; row < rows[p]; row++)
            for (int ch = 0; ch < channels; ch++) {
                if (!plays(p, row, ch, channels)) continue;
                XmBuilderCell *c = xmbuilder_cell(&b, p, row, ch);
                c->note = static_cast<uint8_t>(37 + step_of(row, ch));
                c->instrument = static_cast<uint8_t>(instrument_of(row));
            }
    return xmbuilder_build(b, nullptr);
}

std::vector<uint8_t> wide_s3m_song(int channels, bool adlib) {
    S3mBuilder b;
    b.title = "wide s3m";
    b.speed = 3;
    b.orders = {0, 1, 0, 255};
    for (int ch = 0; ch < 32; ch++)
        b.channel_settings[ch] = static_cast<uint8_t>(ch < channels ? (ch % 2) * 8 + ch / 2 % 8 : 255);
    S3mBuilderSample looped;
    looped.name = "saw 8";
    looped.frames = saw(64, 100, 32);
    looped.loop = true;
    looped.loop_end = 64;
    S3mBuilderSample wide;
    wide.name = "saw 16";
    wide.bits = 16;
    wide.frames = saw(3000, 20000, 60);
    wide.volume = 48;
    b.samples = {looped, wide};
    if (adlib) {
        S3mBuilderSample organ;
        organ.type = 2;
        organ.name = "adlib organ";
        b.samples.push_back(organ);
    }
    b.patterns.resize(2);
    for (int p = 0; p < 2; p++)
        for (int row = 0; row < 64; row++)
            for (int ch = 0; ch < channels; ch++) {
                if (!plays(p, row, ch, channels)) continue;
                S3mBuilderCell *c = s3mbuilder_cell(&b, p, row, ch);
                const int step = step_of(row, ch);
                c->note = static_cast<uint8_t>((3 + step / 12) << 4 | step % 12);
                c->instrument = static_cast<uint8_t>(instrument_of(row));
            }
    return s3mbuilder_build(b, nullptr);
}

std::vector<uint8_t> wide_it_song(int channels) {
    ItBuilder b;
    b.title = "wide it";
    b.message = "wide it";
    b.speed = 3;
    b.orders = {0, 1, 2, 1, 3, 255};
    const uint16_t rows[] = {16, 1, 130, 200};
    b.patterns.resize(4);
    for (int p = 0; p < 4; p++) b.patterns[static_cast<size_t>(p)].rows = rows[p];
    ItBuilderSample looped;
    looped.name = "saw 8";
    looped.frames = saw(64, 100, 32);
    looped.compression = 14;
    looped.loop = true;
    looped.loop_end = 64;
    ItBuilderSample low;
    low.name = "low 8";
    low.frames = saw(2000, 90, 50);
    ItBuilderSample high;
    high.name = "high 16";
    high.bits = 16;
    high.frames = saw(300, 20000, 60);
    high.right = saw(300, 12000, 45);  // stereo: each voice gets its right half
    high.loop = true;
    high.ping_pong = true;
    high.loop_begin = 60;
    high.loop_end = 300;
    high.volume = 48;
    b.samples = {looped, low, high};
    ItBuilderInstrument one;
    one.name = "looped saw";
    one.nna = 2;  // note off
    one.volume = {1, {64, 32, 0}, {0, 10, 20}, 0, 0, 0, 0};
    ItBuilderInstrument two;
    two.name = "two samples";
    two.nna = 3;  // fade
    two.fadeout = 128;
    for (int n = 0; n < 120; n++) two.samples[n] = static_cast<uint8_t>(n < 60 ? 2 : 3);
    b.instruments = {one, two};
    for (int p = 0; p < 4; p++)
        for (int row = 0; row < rows[p]; row++)
            for (int ch = 0; ch < channels; ch++) {
                if (!plays(p, row, ch, channels)) continue;
                ItBuilderCell *c = itbuilder_cell(&b, p, row, ch);
                c->mask = 3;
                c->note = static_cast<uint8_t>(48 + step_of(row, ch));
                c->instrument = static_cast<uint8_t>(instrument_of(row));
            }
    return itbuilder_build(b, nullptr);
}

std::vector<uint8_t> wide_mod_song(int channels) {
    static const int PERIODS[24] = {856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,
                                    428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226};
    ModBuilder b;
    modbuilder_init(&b);
    modbuilder_set_title(&b, "wide mod");
    char signature[5];
    snprintf(signature, sizeof signature, channels < 10 ? "%dCHN" : "%dCH", channels);
    modbuilder_set_signature(&b, signature);
    modbuilder_set_channels(&b, channels);
    modbuilder_set_sample(&b, 1, modbuilder_saw(64, 32, 100), 64, 0, 0, 64);
    modbuilder_set_sample(&b, 2, modbuilder_saw(2000, 50, 90), 48, 0, 0, 0);
    const uint8_t order[] = {0, 1, 0};
    modbuilder_set_order(&b, order, 3);
    for (int p = 0; p < 2; p++)
        for (int row = 0; row < 64; row++)
            for (int ch = 0; ch < channels; ch++)
                if (plays(p, row, ch, channels))
                    modbuilder_set_cell(&b, p, row, ch, instrument_of(row), PERIODS[step_of(row, ch)], 0);
    return modbuilder_build(&b);
}
