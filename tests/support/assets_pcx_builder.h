// Hand-made PCX files: a header builder, a plain run-length encoder written
// apart from the engine's writer, the files every refusal rule must reject,
// and small valid files. The loader tests use them; a fuzz seed corpus can
// be written from pcx_seed_files().
#ifndef SUPPORT_ASSETS_PCX_BUILDER_H
#define SUPPORT_ASSETS_PCX_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

typedef std::vector<uint8_t> Bytes;

struct PcxHeaderFields {
    int manufacturer = 10;
    int encoding = 1;
    int bits = 8;
    int planes = 1;
    int xmin = 0, ymin = 0;
    int xmax = 0, ymax = 0;  // inclusive, stored as 16-bit
    int bytes_per_line = 0;  // 0: leave the field 0
    uint8_t header_palette[48] = {};
};

// Fields for a width x height image at the origin.
PcxHeaderFields pcx_fields(int bits, int planes, int width, int height);

// The 128-byte header.
Bytes pcx_header(const PcxHeaderFields &fields);

// Encodes one line: runs of equal bytes up to 63 long become C0|n, value;
// a single byte below 0xC0 is written as itself.
Bytes pcx_encode_line(const Bytes &line);

// A 768-byte palette whose entry i is (i, 255 - i, i * 7 mod 256).
Bytes pcx_ramp_palette();

// header + data, then (when `palette` is not empty) marker 12 + palette.
Bytes pcx_file(const PcxHeaderFields &fields, const Bytes &data, const Bytes &palette);

struct NamedBytes {
    std::string name;
    Bytes bytes;
};

// Files pcx_open must refuse, one per rule: short header, wrong manufacturer
// or encoding, zero or negative width or height, each meaningless depth with
// one plane, 9 planes of 1 bit, 4 planes of 8 bits, 2 planes of 4 bits, a
// side above 4096, 0 planes.
std::vector<NamedBytes> pcx_refused_files();

// A 6 x 4 8-bit image with runs (including one of 0xC0-and-up values and a
// zero-length run) and a 256-colour palette, plus its expected pixels.
Bytes pcx_small_8bit_file();
Bytes pcx_small_8bit_pixels();
// Index of the first palette marker byte in pcx_small_8bit_file().
size_t pcx_small_8bit_data_end();

// A 10 x 3 image of 4 planes of 1 bit (16 colours, header palette only),
// plus its expected pixels.
Bytes pcx_small_planar_file();
Bytes pcx_small_planar_pixels();

// A 5 x 2 true-colour image (3 planes of 8 bits, lines padded to 6 bytes),
// plus its expected RGB triples.
Bytes pcx_small_24bit_file();
Bytes pcx_small_24bit_pixels();

// Every hand-made file above, valid or not: the seed corpus for a fuzzer.
std::vector<NamedBytes> pcx_seed_files();

#endif
