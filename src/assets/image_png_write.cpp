// Writes PNG files: engine indices as an 8-bit palette PNG carrying the
// engine's palette (what kevo-image's preview and the tests save), and
// 8-bit RGB pictures (the before-and-after sheet's true colours).
#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include "assets/image.h"
#include "gfx2d/palette.h"
#include "util/file_replace.h"

namespace {

// Where the bytes go, and why the writing failed: libpng's complaint
// (IMAGE_WHY_BYTES), or the errno of a write that failed.
struct PngOutput {
    FILE *file;
    int write_errno;
    char why[IMAGE_WHY_BYTES];
};

void on_error(png_structp png, png_const_charp message) {
    PngOutput *out = static_cast<PngOutput *>(png_get_error_ptr(png));
    snprintf(out->why, sizeof out->why, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// libpng's writes, keeping the errno of one that fails.
void on_write(png_structp png, png_bytep data, png_size_t size) {
    PngOutput *out = static_cast<PngOutput *>(png_get_io_ptr(png));
    errno = 0;
    if (fwrite(data, 1, size, out->file) != size) {
        out->write_errno = errno != 0 ? errno : EIO;
        png_error(png, "write error");
    }
}

void on_flush(png_structp png) {
    PngOutput *out = static_cast<PngOutput *>(png_get_io_ptr(png));
    if (fflush(out->file) != 0) {
        out->write_errno = errno;
        png_error(png, "write error");
    }
}

// Writes the file through libpng, rows of engine indices (`rgb` false) or
// RGB triples; 0, or -1 with the reason in `out` when libpng or a write
// fails.
int write_png(PngOutput *out, int width, int height, const uint8_t *samples, bool rgb) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, out, on_error, on_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_set_write_fn(png, out, on_write, on_flush);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 rgb ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!rgb) {
        png_color colors[256];
        for (int i = 0; i < 256; i++) {
            colors[i].red = static_cast<png_byte>(Palette[i] >> 24);
            colors[i].green = static_cast<png_byte>(Palette[i] >> 16);
            colors[i].blue = static_cast<png_byte>(Palette[i] >> 8);
        }
        png_set_PLTE(png, info, colors, 256);
    }
    png_write_info(png, info);
    const size_t row_bytes = static_cast<size_t>(width) * (rgb ? 3 : 1);
    for (int y = 0; y < height; y++) png_write_row(png, samples + static_cast<size_t>(y) * row_bytes);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

// image_save_png and image_save_png_rgb.
int save_png(const char *path, int width, int height, const uint8_t *samples, bool rgb) {
    if (path == nullptr || samples == nullptr || width < 1 || width > IMAGE_MAX_SIDE_PX || height < 1 ||
        height > IMAGE_MAX_SIDE_PX) {
        fprintf(stderr, "IMAGE: cannot save '%s': no picture or size %d x %d outside 1 .. %d\n",
                path != nullptr ? path : "(null)", width, height, IMAGE_MAX_SIDE_PX);
        return -1;
    }
    FileReplace file;
    if (file_replace_open(&file, path) != 0) {
        fprintf(stderr, "IMAGE: cannot save '%s': %s\n", path, strerror(errno));
        return -1;
    }
    PngOutput out = {file.file, 0, "out of memory"};
    const bool written = write_png(&out, width, height, samples, rgb) == 0;
    if (!written) errno = out.write_errno;
    // errno is then the failed write's, or the close's (which writes the rest).
    if (file_replace_close(&file, written) != 0) {
        fprintf(stderr, "IMAGE: cannot save '%s': %s\n", path, written || out.write_errno ? strerror(errno) : out.why);
        return -1;
    }
    return 0;
}

}  // namespace

int image_save_png(const char *path, int width, int height, const uint8_t *indices) {
    return save_png(path, width, height, indices, false);
}

int image_save_png_rgb(const char *path, int width, int height, const uint8_t *rgb) {
    return save_png(path, width, height, rgb, true);
}
