// Reads PCX files: header checks in pcx_open, run-length expansion and the
// trailing palette in pcx_decode. Every read is checked, so a file that ends
// anywhere stops the decoder instead of feeding it garbage.
#include "assets/pcx.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "util/alloc.h"
#include "util/file_open.h"

// Reads up to `size_bytes`, retrying short reads and interrupted calls.
// Returns the count read (less than asked only at end of file), or -1 with
// errno set when a read fails.
static ssize_t read_fully(int fd, uint8_t *buffer, size_t size_bytes) {
    size_t done = 0;
    while (done < size_bytes) {
        ssize_t got = read(fd, buffer + done, size_bytes - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

static int read_u8(const uint8_t *header, int offset) { return header[offset]; }

static int read_s16le(const uint8_t *header, int offset) {
    return static_cast<int16_t>(static_cast<uint16_t>(header[offset] | header[offset + 1] << 8));
}

static int read_u16le(const uint8_t *header, int offset) {
    return header[offset] | header[offset + 1] << 8;
}

// Encoded bytes one plane line needs for `width` pixels of `bits` each.
static int min_bytes_per_plane_line(int width, int bits) {
    switch (bits) {
    case 8: return width;
    case 1: return (width + 7) / 8;
    case 2: return (width + 3) / 4;
    default: return (width + 1) / 2;
    }
}

// Depth and plane combinations whose decoding has a meaning: one plane of 1,
// 2, 4 or 8 bits, 1 .. 8 planes of 1 bit (a pixel index has 8 bits), or
// true colour, 3 planes of 8 bits.
static bool depth_is_accepted(int bits, int planes) {
    if (planes == 1) return bits == 1 || bits == 2 || bits == 4 || bits == 8;
    if (bits == 8) return planes == PCX_TRUE_COLOR_PLANES;
    return bits == 1 && planes >= 1 && planes <= PCX_MAX_PLANES;
}

// Why a header is refused, or null when it is accepted: the manufacturer
// and encoding bytes, then the depth and plane combination, then the size.
static const char *header_refusal(const PcxImage *image, const uint8_t *header) {
    if (read_u8(header, PCX_MANUFACTURER_OFFSET) != PCX_MANUFACTURER ||
        read_u8(header, PCX_ENCODING_OFFSET) != PCX_ENCODING_RLE)
        return "is not a run-length encoded PCX image";
    if (!depth_is_accepted(image->bits_per_pixel, image->planes))
        return "has a depth and plane count that make no picture";
    if (image->width < 1 || image->width > PCX_MAX_SIDE_PX || image->height < 1 ||
        image->height > PCX_MAX_SIDE_PX)
        return "has a width or height outside 1 to 4096 pixels";
    return nullptr;
}

PcxImage *pcx_open_why(const char *path, const char **why) {
    static const char *unused;
    if (why == nullptr) why = &unused;
    if (path == nullptr) {
        *why = "no file name";
        return nullptr;
    }
    PcxImage *image = static_cast<PcxImage *>(engine_calloc(1, sizeof(PcxImage)));
    if (image == nullptr) {
        *why = "out of memory";
        return nullptr;
    }
    image->fd = open_regular_file(path, why);
    if (image->fd < 0) {
        engine_free(image);
        return nullptr;
    }

    uint8_t header[PCX_HEADER_BYTES];
    const char *refusal = nullptr;
    const ssize_t header_bytes = read_fully(image->fd, header, sizeof header);
    if (header_bytes < 0) {
        refusal = strerror(errno);
    } else if (header_bytes != static_cast<ssize_t>(sizeof header)) {
        refusal = "ends inside its 128-byte header";
    } else {
        image->bits_per_pixel = read_u8(header, PCX_BITS_OFFSET);
        image->planes = read_u8(header, PCX_PLANES_OFFSET);
        // The +1 is done in 16 bits: xmax 32767 wraps to -32768.
        int xmax_end = static_cast<int16_t>(static_cast<uint16_t>(read_s16le(header, PCX_XMAX_OFFSET) + 1));
        int ymax_end = static_cast<int16_t>(static_cast<uint16_t>(read_s16le(header, PCX_YMAX_OFFSET) + 1));
        image->width = xmax_end - read_s16le(header, PCX_XMIN_OFFSET);
        image->height = ymax_end - read_s16le(header, PCX_YMIN_OFFSET);
        refusal = header_refusal(image, header);
    }
    if (refusal == nullptr) {
        int needed = min_bytes_per_plane_line(image->width, image->bits_per_pixel);
        int declared = read_u16le(header, PCX_BYTES_PER_LINE_OFFSET);
        image->bytes_per_plane_line = declared >= needed ? declared : needed;
        memcpy(image->palette, header + PCX_HEADER_PALETTE_OFFSET,
               PCX_HEADER_PALETTE_BYTES);
        image->pixels = static_cast<uint8_t *>(
            engine_calloc(static_cast<size_t>(image->width) * image->height, pcx_bytes_per_pixel(image)));
        if (image->pixels == nullptr) refusal = "out of memory";
    }
    if (refusal != nullptr) {
        *why = refusal;
        close(image->fd);
        engine_free(image);
        return nullptr;
    }
    return image;
}

PcxImage *pcx_open(const char *path) { return pcx_open_why(path, nullptr); }

// Buffered byte source over the file, so the decoder does not pay one system
// call per encoded byte. Lives in pcx_decode's frame.
struct PcxByteSource {
    int fd;
    off_t base;    // file offset of data[0]
    size_t next;   // index of the next unread byte in data
    size_t count;  // valid bytes in data
    uint8_t data[4096];
};

// The next byte of the file, or -1 at end of file (or on a read error).
static int next_byte(PcxByteSource *source) {
    if (source->next == source->count) {
        source->base += static_cast<off_t>(source->count);
        const ssize_t got = read_fully(source->fd, source->data, sizeof source->data);
        source->count = got > 0 ? static_cast<size_t>(got) : 0;
        source->next = 0;
        if (source->count == 0) return -1;
    }
    return source->data[source->next++];
}

// ORs data byte `value`, found at encoded position `k` of a plane line, into
// the pixels of `row` it covers. The byte's most significant bits are the
// leftmost pixel; plane p supplies bits p * d upwards of each index. Pixels
// past the width (padding bits and padding bytes) are dropped.
static void unpack_byte(PcxImage *image, uint8_t *row, int plane, int k, int value) {
    int d = image->bits_per_pixel;
    int per_byte = 8 / d;
    int mask = (1 << d) - 1;
    int first_x = k * per_byte;
    for (int i = 0; i < per_byte; i++) {
        int x = first_x + i;
        if (x >= image->width) break;
        int bits = (value >> ((per_byte - 1 - i) * d)) & mask;
        row[x] = static_cast<uint8_t>(row[x] | bits << (plane * d));
    }
}

// Expands one plane line of `row`. 0, or -1 when the file ends first. A run
// reaching past the end of the line is cut there; the next line starts with
// a fresh byte.
static int decode_plane_line(PcxImage *image, PcxByteSource *source, uint8_t *row,
                             int plane) {
    int k = 0;
    while (k < image->bytes_per_plane_line) {
        int c = next_byte(source);
        if (c < 0) return -1;
        int run = 1;
        if ((c & PCX_RUN_FLAGS) == PCX_RUN_FLAGS) {
            run = c & PCX_RUN_LENGTH_MASK;  // 0 .. 63; 0 writes nothing
            c = next_byte(source);
            if (c < 0) return -1;
        }
        int end = k + run;
        if (end > image->bytes_per_plane_line) end = image->bytes_per_plane_line;
        if (image->planes == PCX_TRUE_COLOR_PLANES && image->bits_per_pixel == 8) {
            // True colour: plane p is channel p of each pixel's triple.
            int fill_end = end < image->width ? end : image->width;
            for (int x = k; x < fill_end; x++) row[PCX_TRUE_COLOR_PLANES * x + plane] = static_cast<uint8_t>(c);
            k = end;
        } else if (image->bits_per_pixel == 8) {
            // One pixel per byte and a single plane: the run is a plain fill
            // of what lies inside the width.
            int fill_end = end < image->width ? end : image->width;
            if (fill_end > k) memset(row + k, c, static_cast<size_t>(fill_end - k));
            k = end;
        } else {
            for (; k < end; k++) unpack_byte(image, row, plane, k, c);
        }
    }
    return 0;
}

// Reads the 256-colour palette of a file whose image data ends at offset
// `data_end`. The format puts the palette, after its marker byte, at the very
// end of the file; some encoders leave bytes between the data and it, so
// when at least a marked palette's worth follows the data, a marked block
// at the end of the file is the palette. Otherwise the palette is what
// follows the data: a marker and 768 bytes, or nothing (a 16-colour file
// keeps its header palette). 0, or -1 when the file ends inside the palette
// (the bytes it gave are kept, the rest are 0).
static int read_palette(PcxImage *image, off_t data_end) {
    uint8_t block[1 + PCX_PALETTE_BYTES];
    const off_t end = lseek(image->fd, 0, SEEK_END);
    if (end >= 0 && end - data_end >= static_cast<off_t>(sizeof block) &&
        lseek(image->fd, end - static_cast<off_t>(sizeof block), SEEK_SET) >= 0 &&
        read_fully(image->fd, block, sizeof block) == static_cast<ssize_t>(sizeof block) && block[0] == PCX_PALETTE_MARKER) {
        memcpy(image->palette, block + 1, PCX_PALETTE_BYTES);
        return 0;
    }
    if (lseek(image->fd, data_end, SEEK_SET) < 0) return -1;
    const ssize_t got = read_fully(image->fd, block, sizeof block);
    if (got < 0) return -1;
    // Anything but the marker right after the data is not a palette either.
    if (got == 0 || block[0] != PCX_PALETTE_MARKER) return 0;
    // The trailing palette replaces the header palette as a whole.
    memset(image->palette, 0, sizeof image->palette);
    memcpy(image->palette, block + 1, static_cast<size_t>(got) - 1);
    return got == static_cast<ssize_t>(sizeof block) ? 0 : -1;
}

int pcx_decode(PcxImage *image) {
    if (image == nullptr || image->fd < 0) return -1;
    PcxByteSource source;
    source.fd = image->fd;
    source.base = lseek(image->fd, 0, SEEK_CUR);
    if (source.base < 0) return -1;
    source.next = 0;
    source.count = 0;

    for (int y = 0; y < image->height; y++) {
        uint8_t *row = image->pixels + static_cast<size_t>(y) * image->width * pcx_bytes_per_pixel(image);
        for (int plane = 0; plane < image->planes; plane++) {
            if (decode_plane_line(image, &source, row, plane) < 0) return -1;
        }
    }

    return read_palette(image, source.base + static_cast<off_t>(source.next));
}

int pcx_bytes_per_pixel(const PcxImage *image) {
    return image->planes == PCX_TRUE_COLOR_PLANES && image->bits_per_pixel == 8 ? PCX_TRUE_COLOR_PLANES : 1;
}

int pcx_close(PcxImage *image) {
    if (image == nullptr) return 0;
    if (image->fd < 0) return -1;
    close(image->fd);
    image->fd = -1;
    return 0;
}

void pcx_free(PcxImage *image) {
    if (image == nullptr) return;
    if (image->fd >= 0) close(image->fd);
    engine_free(image);
}
