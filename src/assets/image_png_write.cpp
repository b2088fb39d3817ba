// Writes engine indices as an 8-bit palette PNG carrying the engine's
// palette: what kevo-image's preview and the tests save.
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

// Writes the file through libpng; 0, or -1 with libpng's reason in `why`
// (IMAGE_WHY_BYTES) when it or the file fails.
int write_png(FILE *file, int width, int height, const uint8_t *indices, char *why) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, why, on_error, on_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return -1;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                 PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color colors[256];
    for (int i = 0; i < 256; i++) {
        colors[i].red = static_cast<png_byte>(Palette[i] >> 24);
        colors[i].green = static_cast<png_byte>(Palette[i] >> 16);
        colors[i].blue = static_cast<png_byte>(Palette[i] >> 8);
    }
    png_set_PLTE(png, info, colors, 256);
    png_write_info(png, info);
    for (int y = 0; y < height; y++)
        png_write_row(png, indices + static_cast<size_t>(y) * static_cast<size_t>(width));
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return 0;
}

}  // namespace

int image_save_png(const char *path, int width, int height, const uint8_t *indices) {
    if (path == nullptr || indices == nullptr || width < 1 || width > IMAGE_MAX_SIDE_PX || height < 1 ||
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
    const bool written = write_png(file, width, height, indices, why) == 0;
    const bool closed = fclose(file) == 0;
    if (!written || !closed) {
        fprintf(stderr, "IMAGE: cannot save '%s': %s\n", path, written ? strerror(errno) : why);
        return -1;
    }
    return 0;
}
