// PNG screenshots of the framebuffer with libpng.
#include "platform/screenshot.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gfx2d/framebuffer.h"
#include "gfx2d/palette.h"

int fb_save_png(const char *path) {
    FILE *file = fopen(path, "wb");
    if (!file) {
        fprintf(stderr, "SCREENSHOT: cannot open '%s': %s\n", path, strerror(errno));
        return -1;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    std::vector<png_byte> row(static_cast<size_t>(fb_width) * 3);
    if (!png || !info || setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(file);
        fprintf(stderr, "SCREENSHOT: cannot write PNG '%s'\n", path);
        return -1;
    }
    png_init_io(png, file);
    png_set_IHDR(png, info, static_cast<png_uint_32>(fb_width), static_cast<png_uint_32>(fb_height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < fb_height; y++) {
        for (int x = 0; x < fb_width; x++) {
            const uint32_t color = Palette[fb_pixels[x + y * fb_width]];
            row[x * 3 + 0] = static_cast<png_byte>(color >> 24);
            row[x * 3 + 1] = static_cast<png_byte>(color >> 16);
            row[x * 3 + 2] = static_cast<png_byte>(color >> 8);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    if (fclose(file) != 0) {
        fprintf(stderr, "SCREENSHOT: cannot finish '%s': %s\n", path, strerror(errno));
        return -1;
    }
    return 0;
}
