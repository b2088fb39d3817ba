// Writes the engine's own PCX files: 8 bits per pixel, one plane, version 5
// with the 256-colour palette after the image data. The output depends only
// on the pixels and palette, so tools that write assets are reproducible.
#include "assets/pcx.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "util/alloc.h"
#include "util/file_replace.h"

constexpr int PCX_DPI = 72;           // resolution fields; nothing reads them
constexpr uint8_t PCX_PALETTE_TYPE_COLOR = 1;

static void put_u16le(uint8_t *at, int value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

// Run-length encodes one line of `count` bytes into `out` (room for 2 *
// count bytes). Runs never cross the line's end; a byte that looks like a
// run header (0xC0 and up) is always written as a run, even of 1. Returns
// the encoded size.
static size_t encode_line(const uint8_t *line, int count, uint8_t *out) {
    size_t size = 0;
    int x = 0;
    while (x < count) {
        uint8_t value = line[x];
        int run = 1;
        while (x + run < count && run < PCX_MAX_RUN && line[x + run] == value) run++;
        if (run > 1 || (value & PCX_RUN_FLAGS) == PCX_RUN_FLAGS) {
            out[size++] = static_cast<uint8_t>(PCX_RUN_FLAGS | run);
        }
        out[size++] = value;
        x += run;
    }
    return size;
}

int pcx_save(const char *path, int width, int height, const uint8_t *pixels,
             const uint8_t *palette) {
    if (path == nullptr || pixels == nullptr || palette == nullptr ||
        width < 1 || width > PCX_MAX_SIDE_PX || height < 1 || height > PCX_MAX_SIDE_PX) {
        fprintf(stderr, "PCX: cannot save '%s': no image or size %d x %d outside 1 .. %d\n",
                path ? path : "(null)", width, height, PCX_MAX_SIDE_PX);
        return -1;
    }
    int bytes_per_line = width + (width & 1);  // the format wants an even count
    uint8_t header[PCX_HEADER_BYTES];
    memset(header, 0, sizeof header);
    header[PCX_MANUFACTURER_OFFSET] = PCX_MANUFACTURER;
    header[PCX_VERSION_OFFSET] = PCX_VERSION_5;
    header[PCX_ENCODING_OFFSET] = PCX_ENCODING_RLE;
    header[PCX_BITS_OFFSET] = 8;
    put_u16le(header + PCX_XMAX_OFFSET, width - 1);
    put_u16le(header + PCX_YMAX_OFFSET, height - 1);
    put_u16le(header + PCX_HDPI_OFFSET, PCX_DPI);
    put_u16le(header + PCX_VDPI_OFFSET, PCX_DPI);
    // The 16-colour header palette repeats the first 16 entries, for readers
    // that look there.
    memcpy(header + PCX_HEADER_PALETTE_OFFSET, palette, PCX_HEADER_PALETTE_BYTES);
    header[PCX_PLANES_OFFSET] = 1;
    put_u16le(header + PCX_BYTES_PER_LINE_OFFSET, bytes_per_line);
    header[PCX_PALETTE_TYPE_OFFSET] = PCX_PALETTE_TYPE_COLOR;

    uint8_t *line = static_cast<uint8_t *>(engine_calloc(static_cast<size_t>(bytes_per_line), 3));
    FileReplace out;
    if (line == nullptr || file_replace_open(&out, path) != 0) {
        fprintf(stderr, "PCX: cannot save '%s': %s\n", path, line ? strerror(errno) : "out of memory");
        engine_free(line);
        return -1;
    }
    uint8_t *encoded = line + bytes_per_line;  // 2 * bytes_per_line bytes
    bool ok = fwrite(header, 1, sizeof header, out.file) == sizeof header;
    for (int y = 0; ok && y < height; y++) {
        memcpy(line, pixels + static_cast<size_t>(y) * width, static_cast<size_t>(width));  // pad byte stays 0
        size_t size = encode_line(line, bytes_per_line, encoded);
        ok = fwrite(encoded, 1, size, out.file) == size;
    }
    ok = ok && fputc(PCX_PALETTE_MARKER, out.file) != EOF &&
         fwrite(palette, 1, PCX_PALETTE_BYTES, out.file) == PCX_PALETTE_BYTES;
    // errno is the failed write's, or the close's (which writes the rest).
    const bool saved = file_replace_close(&out, ok) == 0;
    engine_free(line);
    if (!saved) {
        fprintf(stderr, "PCX: cannot save '%s': %s\n", path, strerror(errno));
        return -1;
    }
    return 0;
}
