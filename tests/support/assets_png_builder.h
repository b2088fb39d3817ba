// PNG files made for the picture tests and the PNG fuzzer's seeds, through
// libpng's writer: every colour type and depth, interlaced or not, with a
// palette's or a colour key's tRNS and a gAMA chunk when asked.
#ifndef SUPPORT_ASSETS_PNG_BUILDER_H
#define SUPPORT_ASSETS_PNG_BUILDER_H

#include <cstdint>
#include <string>
#include <vector>

struct PngSpec {
    int width = 1, height = 1;
    int color_type = 0;       // PNG_COLOR_TYPE_GRAY (0), _RGB (2), _PALETTE (3), _GRAY_ALPHA (4), _RGB_ALPHA (6)
    int bit_depth = 8;        // 1, 2, 4, 8 or 16, as the colour type allows
    bool interlaced = false;  // Adam7
    // Per pixel, one sample per channel (0 .. 2^bit_depth - 1), row by row.
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette;  // RGB triples, for palette pictures
    std::vector<uint8_t> trns;     // a palette's alpha per entry
    std::vector<uint16_t> key;     // a grey or RGB picture's transparent colour (1 or 3 samples)
    double gamma = 0;              // the gAMA chunk's file gamma; 0: none
};

// The file's bytes; empty when libpng refuses what it describes.
std::vector<uint8_t> png_build(const PngSpec &spec);

// The bytes with the chunk of type `type` (its first occurrence) given a
// wrong CRC.
std::vector<uint8_t> png_break_crc(std::vector<uint8_t> bytes, const char *type);

// An 8-bit grey, non-interlaced picture (spec) whose compressed data runs
// on past its rows: one stored block holding the rows, then `extra_bytes`
// of a fixed-Huffman block of 258-byte copies of the last byte (13 bits
// each: the data inflates about 159 times), all in one IDAT chunk with its
// CRC, and the file ends there: no end of the stream, no IEND. A reader
// that stops at the last row reads the picture; one that drains the data
// inflates it all, then meets the file's end.
std::vector<uint8_t> png_with_trailing_data(const PngSpec &spec, size_t extra_bytes);

#endif
