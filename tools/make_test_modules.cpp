// Writes small XM, S3M and IT modules that exercise the readers and the
// player: the seeds of the XM, S3M and IT fuzz targets (fuzz/corpus/) and files for
// trying the music programs on. Each is built from a description with the
// tests' module builders, the same bytes on every run:
//   showcase.xm   5 channels, patterns of 64, 1 and 100 rows, envelopes,
//                 8-bit, 16-bit and ADPCM samples, every effect and volume
//                 column command
//   amiga.xm      3 channels, the Amiga frequency table, an empty packed
//                 pattern, an instrument without samples and one whose
//                 header is longer than its fields
//   minimal.xm    1 channel, one pattern of one row, no instruments
//   showcase.s3m  L R L, a disabled and an Adlib channel, the panning
//                 table, orders with markers, 8-bit, 16-bit and stereo
//                 samples, every command letter
//   signed.s3m    signed samples, mono, Scream Tracker 3.00's fast slides,
//                 the Amiga limits, a packed sample
//   showcase.it   6 channels (surround, disabled), instruments with every
//                 envelope, compressed, stereo, unsigned big-endian and
//                 delta-coded samples, every command letter and volume
//                 column range, the message, a MIDI configuration
//   old.it        the same with instruments of the old layout
//   samples.it    no instruments, Amiga slides, old effects, linked
//                 portamento memory, OpenMPT's plugin chunks
//
//   make_test_modules DIR
//
// Exit status 0 when every file was written into DIR (which must exist);
// 2 with the usage line for a wrong command line; 1 with one
// "make_test_modules: ..." line on standard error otherwise.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/program_args.h"
#include "support/music_byte_writer.h"
#include "support/music_formatbuilder.h"
#include "support/music_itbuilder.h"
#include "util/std_fds.h"

static const char USAGE[] =
    "usage: make_test_modules DIR\n"
    "Writes small XM, S3M and IT modules (showcase.xm, amiga.xm, minimal.xm, showcase.s3m, signed.s3m,\n"
    "showcase.it, old.it, samples.it) into DIR.\n";

static std::vector<uint8_t> amiga_xm() {
    XmBuilder b;
    b.channels = 3;
    b.flags = 0;
    b.speed = 4;
    b.tempo = 140;
    b.orders = {1, 0, 1};
    b.patterns.resize(2);  // pattern 0 stays empty: packed size 0
    XmBuilderInstrument bass;
    bass.name = "bass";
    bass.header_size = 280;
    XmBuilderSample s;
    s.name = "saw";
    for (int i = 0; i < 64; i++) s.frames.push_back(static_cast<int16_t>(i * 4 - 128));
    s.loop_type = 1;
    s.loop_length = 64;
    bass.samples = {s};
    bass.volume = {{0, 4, 40}, {64, 40, 0}, 0xFF, 1, 0, 0, 1 | 2};
    bass.fadeout = 0x400;
    XmBuilderInstrument none;
    none.name = "no samples";
    b.instruments = {bass, none};
    for (int row = 0; row < 64; row += 2) {
        XmBuilderCell *c = xmbuilder_cell(&b, 1, row, row % 3);
        c->note = static_cast<uint8_t>(row % 8 == 6 ? 97 : 25 + row / 2);
        c->instrument = static_cast<uint8_t>(row % 16 == 4 ? 2 : 1);
        c->effect = static_cast<uint8_t>(row % 5 == 0 ? 0x1 : 0xA);
        c->param = 0x02;
    }
    return xmbuilder_build(b, nullptr);
}

static std::vector<uint8_t> minimal_xm() {
    XmBuilder b;
    b.channels = 1;
    b.patterns.resize(1);
    b.patterns[0].rows = 1;
    xmbuilder_cell(&b, 0, 0, 0)->effect = 0xF;
    xmbuilder_cell(&b, 0, 0, 0)->param = 0x03;
    return xmbuilder_build(b, nullptr);
}

static std::vector<uint8_t> signed_s3m() {
    S3mBuilder b;
    b.sample_format = 1;
    b.version = 0x1300;
    b.flags = 16;
    b.master_volume = 0x30;
    b.speed = 3;
    S3mBuilderSample s8;
    s8.name = "signed";
    for (int i = 0; i < 128; i++) s8.frames.push_back(static_cast<int16_t>((i % 16) * 12 - 90));
    s8.loop = true;
    s8.loop_end = 128;
    S3mBuilderSample s16;
    s16.name = "signed 16";
    s16.bits = 16;
    for (int i = 0; i < 64; i++) s16.frames.push_back(static_cast<int16_t>((i % 8) * 6000 - 21000));
    S3mBuilderSample packed;
    packed.name = "packed";
    packed.frames = {1, 2, 3, 4};
    packed.pack = 1;
    b.samples = {s8, s16, packed};
    for (int row = 0; row < 64; row += 2) {
        S3mBuilderCell *c = s3mbuilder_cell(&b, 0, row, row % 4);
        c->note = static_cast<uint8_t>((3 + row / 32) << 4 | (row % 12));
        c->instrument = static_cast<uint8_t>(1 + row % 3);
        c->command = static_cast<uint8_t>('D' - 'A' + 1);
        c->info = row % 4 ? 0x0F : 0xF2;
    }
    return s3mbuilder_build(b, nullptr);
}

static std::vector<uint8_t> old_it() {
    ItBuilder b;
    itbuilder_showcase_song(&b);
    b.compatible = 0x0100;
    b.created_with = 0x0100;
    return itbuilder_build(b, nullptr);
}

static std::vector<uint8_t> samples_it() {
    ItBuilder b;
    itbuilder_showcase_song(&b);
    b.flags = 1 | 16 | 32;  // stereo, old effects, linked portamento memory; no instruments
    b.instruments.clear();
    b.macros.clear();
    b.samples[0].is_signed = false;
    b.samples[0].compression = 0;
    // Two plugins and a name chunk, as OpenMPT writes them after the tables.
    for (const char *id : {"FX00", "FX01", "PNAM"}) {
        put_text(b.chunks, id, 4);
        put32(b.chunks, 8);
        put_text(b.chunks, "chunk", 8);
    }
    return itbuilder_build(b, nullptr);
}

static bool write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "make_test_modules: cannot create '%s': %s\n", path.c_str(), strerror(errno));
        return false;
    }
    const bool written = fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    if (fclose(f) != 0 || !written) {
        const int err = errno;
        remove(path.c_str());
        fprintf(stderr, "make_test_modules: cannot write '%s': %s\n", path.c_str(), strerror(err ? err : EIO));
        return false;
    }
    return true;
}

int main(int argc, char **argv) {
    if (keep_standard_fds_open() != 0) return 1;
    if (args_answer_help(argc, argv, USAGE)) return 0;
    if (!args_expect_plain(argc, argv, 1, 1, USAGE)) return USAGE_ERROR_STATUS;
    const std::string dir = argv[1];
    XmBuilder xm;
    xmbuilder_showcase_song(&xm);
    S3mBuilder s3m;
    s3mbuilder_showcase_song(&s3m);
    ItBuilder it;
    itbuilder_showcase_song(&it);
    const struct {
        const char *name;
        std::vector<uint8_t> bytes;
    } files[] = {
        {"showcase.xm", xmbuilder_build(xm, nullptr)}, {"amiga.xm", amiga_xm()}, {"minimal.xm", minimal_xm()},
        {"showcase.s3m", s3mbuilder_build(s3m, nullptr)}, {"signed.s3m", signed_s3m()},
        {"showcase.it", itbuilder_build(it, nullptr)}, {"old.it", old_it()}, {"samples.it", samples_it()},
    };
    for (const auto &file : files)
        if (!write_file(dir + "/" + file.name, file.bytes)) return 1;
    return 0;
}
