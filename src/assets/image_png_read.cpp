// Reads PNG files through libpng into a picture as the file holds it:
// palette pictures keep their indices, greys become indices into a grey
// palette, colour pictures RGB, alpha and tRNS an opacity per pixel.
// libpng reports errors by jumping back to the setjmp in png_decode; every
// block the read holds is reached from a PngRead that lives in the caller,
// so whatever the point of the jump, it is all released there.
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "assets/image.h"
#include "util/alloc.h"
#include "util/file_open.h"

namespace {

// The most libpng may allocate for one ancillary chunk (text, profiles).
constexpr png_alloc_size_t PNG_CHUNK_MAX_BYTES = 8u << 20;

constexpr uint64_t PNG_SIGNATURE_BYTES = 8;
constexpr uint64_t PNG_CHUNK_HEADER_BYTES = 8;  // the data's length, big-endian, and the type
constexpr uint64_t PNG_CRC_BYTES = 4;

// The chunk the bytes read so far stand in, followed beside libpng, so
// that when reading stops inside the chunk that held the last row, the rest
// of its data can be read past and its CRC checked as libpng would have.
struct ChunkWatch {
    uint64_t at;            // bytes of the file read so far
    uint64_t header_at;     // where the current chunk's header starts
    uint64_t data_end;      // where its data ends and its CRC starts (once its header is read)
    uint8_t header[PNG_CHUNK_HEADER_BYTES];
    uint32_t crc;           // CRC-32 register over its type and the data read so far
};

// One read in progress: the file, libpng's records, every block held, and
// the reason when it fails.
struct PngRead {
    int fd;
    ChunkWatch chunk;
    png_structp png;
    png_infop info;
    uint8_t *rows;          // the decoded rows, as libpng leaves them
    png_bytep *row_pointers;
    ImagePixels *image;     // the result being filled
    int channels;           // of the decoded rows: 1 .. 4
    bool interlaced;        // Adam7
    bool reading_rows;      // png_read_image has begun
    bool rows_complete;     // the last row of the last pass is in `rows`
    char why[IMAGE_WHY_BYTES];
};

// PNG's CRC-32 (ISO 3309: the reflected polynomial 0xEDB88320), a byte at
// a time through the table of each byte's eight steps.
uint32_t crc_update(uint32_t crc, const uint8_t *bytes, size_t count) {
    static const struct Table {
        uint32_t entry[256];
        Table() {
            for (uint32_t n = 0; n < 256; n++) {
                uint32_t c = n;
                for (int k = 0; k < 8; k++) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                entry[n] = c;
            }
        }
    } table;
    for (size_t i = 0; i < count; i++) crc = table.entry[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc;
}

// Follows `count` more bytes of the file through the chunks.
void watch_chunks(ChunkWatch *w, const uint8_t *bytes, size_t count) {
    while (count > 0) {
        size_t n = 1;
        if (w->at < PNG_SIGNATURE_BYTES) {
            n = static_cast<size_t>(std::min<uint64_t>(count, PNG_SIGNATURE_BYTES - w->at));
        } else if (w->at < w->header_at + PNG_CHUNK_HEADER_BYTES) {
            w->header[w->at - w->header_at] = *bytes;
            if (w->at + 1 == w->header_at + PNG_CHUNK_HEADER_BYTES) {
                const uint64_t length = static_cast<uint64_t>(w->header[0]) << 24 | w->header[1] << 16 |
                                        w->header[2] << 8 | w->header[3];
                w->data_end = w->header_at + PNG_CHUNK_HEADER_BYTES + length;
                w->crc = crc_update(0xFFFFFFFFu, w->header + 4, 4);
            }
        } else if (w->at < w->data_end) {
            n = static_cast<size_t>(std::min<uint64_t>(count, w->data_end - w->at));
            w->crc = crc_update(w->crc, bytes, n);
        } else {
            n = static_cast<size_t>(std::min<uint64_t>(count, w->data_end + PNG_CRC_BYTES - w->at));
            if (w->at + n == w->data_end + PNG_CRC_BYTES) w->header_at = w->data_end + PNG_CRC_BYTES;
        }
        w->at += n;
        bytes += n;
        count -= n;
    }
}

// Reads all of `size` bytes into `data`; false with read->why set when the
// file fails or ends first.
bool read_fully(PngRead *read, uint8_t *data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t got = ::read(read->fd, data + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            snprintf(read->why, sizeof read->why, "%s", got < 0 ? strerror(errno) : "ends early, inside its PNG data");
            return false;
        }
        done += static_cast<size_t>(got);
    }
    watch_chunks(&read->chunk, data, size);
    return true;
}

// Once the rows are complete: the rest of the chunk reading stopped in is
// read past, not inflated, and its CRC checked; what follows it is not
// read. True when that chunk is whole and sound.
bool finish_chunk(PngRead *read) {
    ChunkWatch *w = &read->chunk;
    if (w->at < w->header_at + PNG_CHUNK_HEADER_BYTES) return true;  // between chunks
    uint8_t buffer[4096];
    while (w->at < w->data_end) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof buffer, w->data_end - w->at));
        if (!read_fully(read, buffer, n)) return false;
    }
    const uint32_t crc = w->crc ^ 0xFFFFFFFFu;
    uint8_t stored[PNG_CRC_BYTES];
    if (!read_fully(read, stored, sizeof stored)) return false;
    if ((static_cast<uint32_t>(stored[0]) << 24 | stored[1] << 16 | stored[2] << 8 | stored[3]) != crc) {
        snprintf(read->why, sizeof read->why, "is a damaged PNG image: %.4s: CRC error",
                 reinterpret_cast<const char *>(w->header + 4));
        return false;
    }
    return true;
}

// True once libpng has stored the picture's last row: it has then moved
// past the last row (past the last pass, when interlaced) and only drains
// what is left of the compressed data, which the picture does not need.
bool rows_complete(png_structp png, const ImagePixels *image, bool interlaced) {
    return interlaced ? png_get_current_pass_number(png) >= 7
                      : png_get_current_row_number(png) >= static_cast<png_uint_32>(image->height);
}

// A complaint about what follows the complete rows (damaged or extra
// compressed data) does not concern the picture.
void on_error(png_structp png, png_const_charp message) {
    PngRead *read = static_cast<PngRead *>(png_get_error_ptr(png));
    snprintf(read->why, sizeof read->why, "is a damaged PNG image: %s", message);
    read->rows_complete = read->reading_rows && rows_complete(png, read->image, read->interlaced) &&
                          finish_chunk(read);
    png_longjmp(png, 1);
}

// Warnings (a damaged ancillary chunk, which libpng skips) do not stop
// the picture and are not shown.
void on_warning(png_structp, png_const_charp) {}

void on_read(png_structp png, png_bytep data, png_size_t size) {
    PngRead *read = static_cast<PngRead *>(png_get_io_ptr(png));
    if (read->reading_rows && rows_complete(png, read->image, read->interlaced)) {
        read->rows_complete = finish_chunk(read);
        png_longjmp(png, 1);
    }
    if (!read_fully(read, data, size)) png_longjmp(png, 1);
}

// Refuses (with the reason in read->why) a size outside the limits or one
// that the file's bytes cannot hold once inflated. 0 or -1.
int check_size(PngRead *read, png_uint_32 width, png_uint_32 height, size_t row_bytes) {
    if (width < 1 || height < 1 || width > IMAGE_MAX_SIDE_PX || height > IMAGE_MAX_SIDE_PX) {
        snprintf(read->why, sizeof read->why, "is %lu x %lu pixels; at most %d x %d are read",
                 static_cast<unsigned long>(width), static_cast<unsigned long>(height), IMAGE_MAX_SIDE_PX,
                 IMAGE_MAX_SIDE_PX);
        return -1;
    }
    struct stat file;
    if (fstat(read->fd, &file) < 0) {
        snprintf(read->why, sizeof read->why, "%s", strerror(errno));
        return -1;
    }
    // The filtered data: a filter byte and the packed samples per row
    // (per pass when interlaced, which only adds). Both sides stay far
    // below 2^63: 4096 rows of at most 32769 bytes, and a file size.
    const uint64_t needed = static_cast<uint64_t>(height) * (row_bytes + 1);
    const uint64_t most = static_cast<uint64_t>(file.st_size) * IMAGE_DEFLATE_MAX_RATIO;
    if (needed > most) {
        snprintf(read->why, sizeof read->why, "claims %lu x %lu pixels, more than its %lld bytes can hold",
                 static_cast<unsigned long>(width), static_cast<unsigned long>(height),
                 static_cast<long long>(file.st_size));
        return -1;
    }
    return 0;
}

int split_rows(PngRead *read);

// Decodes the file's picture into read->image. 0, or -1 with read->why
// set; on -1 the blocks in `read` are the caller's to release. Reading
// ends when the rows are complete (on_read jumps back here then).
int png_decode(PngRead *read) {
    if (setjmp(png_jmpbuf(read->png))) return read->rows_complete ? split_rows(read) : -1;
    png_structp png = read->png;
    png_infop info = read->info;
    png_set_read_fn(png, read, on_read);
    png_set_chunk_malloc_max(png, PNG_CHUNK_MAX_BYTES);
    png_set_compression_buffer_size(png, IMAGE_PNG_READ_BYTES);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, color_type = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &color_type, &interlace, nullptr, nullptr);
    if (check_size(read, width, height, png_get_rowbytes(png, info)) < 0) return -1;

    // Eight bits a sample, one byte a palette index; transparency as an
    // alpha channel, except for palettes, whose tRNS is read below.
    const bool palette = color_type == PNG_COLOR_TYPE_PALETTE;
    if (palette) {
        png_set_packing(png);
    } else {
        if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
        if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
        png_set_scale_16(png);
    }
    // The file's gamma (its gAMA, sRGB's for an sRGB chunk or none) to
    // an sRGB screen's; libpng skips the step when the two are close.
    double file_gamma = 1.0 / 2.2;
    if (!png_get_valid(png, info, PNG_INFO_sRGB)) png_get_gAMA(png, info, &file_gamma);
    if (file_gamma > 0) png_set_gamma(png, PNG_DEFAULT_sRGB, file_gamma);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    const size_t row_bytes = png_get_rowbytes(png, info);
    if (png_get_bit_depth(png, info) != 8 || row_bytes != static_cast<size_t>(width) * channels) {
        snprintf(read->why, sizeof read->why, "is a PNG image whose samples do not come to 8 bits");
        return -1;
    }

    ImagePixels *image = read->image;
    image->width = static_cast<int32_t>(width);
    image->height = static_cast<int32_t>(height);
    if (palette) {
        png_colorp entries = nullptr;
        int count = 0;
        png_get_PLTE(png, info, &entries, &count);
        for (int i = 0; i < count && i < 256; i++) {
            image->palette[3 * i] = entries[i].red;
            image->palette[3 * i + 1] = entries[i].green;
            image->palette[3 * i + 2] = entries[i].blue;
        }
        image->palette_colors = count > 0 ? count : 1;
    } else if (channels <= 2) {
        for (int i = 0; i < 256; i++) memset(image->palette + 3 * i, i, 3);
        image->palette_colors = 256;
    }

    read->rows = static_cast<uint8_t *>(engine_malloc(row_bytes * height));
    read->row_pointers = static_cast<png_bytep *>(engine_malloc(sizeof(png_bytep) * height));
    if (read->rows == nullptr || read->row_pointers == nullptr) {
        snprintf(read->why, sizeof read->why, "out of memory");
        return -1;
    }
    for (png_uint_32 y = 0; y < height; y++) read->row_pointers[y] = read->rows + y * row_bytes;
    read->channels = channels;
    read->interlaced = interlace != PNG_INTERLACE_NONE;
    read->reading_rows = true;
    png_read_image(png, read->row_pointers);
    return split_rows(read);
}

// Splits the decoded rows into the picture's pixels and opacities. 0, or
// -1 with read->why set.
int split_rows(PngRead *read) {
    ImagePixels *image = read->image;
    const int channels = read->channels;
    const size_t count = static_cast<size_t>(image->width) * image->height;
    const bool has_alpha = channels == 2 || channels == 4;
    png_bytep trns = nullptr;
    int trns_count = 0;
    if (png_get_color_type(read->png, read->info) == PNG_COLOR_TYPE_PALETTE &&
        png_get_valid(read->png, read->info, PNG_INFO_tRNS))
        png_get_tRNS(read->png, read->info, &trns, &trns_count, nullptr);
    if (has_alpha || trns_count > 0) {
        image->alpha = static_cast<uint8_t *>(engine_malloc(count));
        if (image->alpha == nullptr) {
            snprintf(read->why, sizeof read->why, "out of memory");
            return -1;
        }
    }
    if (channels == 1 || channels == 3) {
        image->pixels = read->rows;  // already as the picture wants them
        read->rows = nullptr;
        if (trns_count > 0)
            for (size_t i = 0; i < count; i++)
                image->alpha[i] = image->pixels[i] < trns_count ? trns[image->pixels[i]] : 255;
        return 0;
    }
    const int colors = channels - 1;
    image->pixels = static_cast<uint8_t *>(engine_malloc(count * colors));
    if (image->pixels == nullptr) {
        snprintf(read->why, sizeof read->why, "out of memory");
        return -1;
    }
    for (size_t i = 0; i < count; i++) {
        memcpy(image->pixels + i * colors, read->rows + i * channels, static_cast<size_t>(colors));
        image->alpha[i] = read->rows[i * channels + colors];
    }
    return 0;
}

}  // namespace

ImagePixels *image_read_png(const char *path, ImageWhy *why) {
    PngRead read;
    memset(&read, 0, sizeof read);
    read.chunk.header_at = PNG_SIGNATURE_BYTES;
    const char *reason = "no file name";
    read.fd = path != nullptr ? open_regular_file(path, &reason) : -1;
    if (read.fd < 0) {
        if (why != nullptr) snprintf(why->text, sizeof why->text, "%s", reason);
        return nullptr;
    }
    read.image = static_cast<ImagePixels *>(engine_calloc(1, sizeof(ImagePixels)));
    read.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &read, on_error, on_warning);
    read.info = read.png != nullptr ? png_create_info_struct(read.png) : nullptr;
    int result = -1;
    if (read.image == nullptr || read.info == nullptr) {
        snprintf(read.why, sizeof read.why, "out of memory");
    } else {
        result = png_decode(&read);
    }
    png_destroy_read_struct(read.png != nullptr ? &read.png : nullptr, read.info != nullptr ? &read.info : nullptr,
                            nullptr);
    close(read.fd);
    engine_free(read.rows);
    engine_free(read.row_pointers);
    if (result < 0) {
        if (why != nullptr) snprintf(why->text, sizeof why->text, "%s", read.why);
        image_pixels_free(read.image);
        return nullptr;
    }
    return read.image;
}
