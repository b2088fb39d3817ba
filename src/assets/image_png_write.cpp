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

namespace {

// libpng's complaint, kept for the one line the caller prints.
void on_error(png_structp png, png_const_charp message) {
    snprintf(static_cast<char *>(png_get_error_ptr(png)), IMAGE_WHY_BYTES, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// Writes the file through libpng, rows of engine indices (`rgb` false) or
// RGB triples; 0, or -1 with libpng's reason in `why` (IMAGE_WHY_BYTES)
// when it or the file fails.
int write_png(FILE *file, int width, int height, const uint8_t *samples, bool rgb, char *why) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, why, on_error, on_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_init_io(png, file);
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
    FILE *file = fopen(path, "wb");
    if (file == nullptr) {
        fprintf(stderr, "IMAGE: cannot save '%s': %s\n", path, strerror(errno));
        return -1;
    }
    char why[IMAGE_WHY_BYTES] = "out of memory";
    const bool written = write_png(file, width, height, samples, rgb, why) == 0;
    const bool closed = fclose(file) == 0;
    if (!written || !closed) {
        fprintf(stderr, "IMAGE: cannot save '%s': %s\n", path, written ? strerror(errno) : why);
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
