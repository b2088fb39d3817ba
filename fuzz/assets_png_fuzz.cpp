// Fuzzes the PNG reader and the mapping behind it on arbitrary files: the
// read must never crash, leak (when libpng jumps out of a damaged file),
// read out of bounds or hang, and a picture it gives must hold a size,
// palette and pixels the reader promises and map to a texture in every
// dithering.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "assets/image.h"
#include "assets/pcx.h"
#include "support/assets_disk.h"

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "FUZZ: PNG promise broken: %s\n", what);
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The reader takes a path: hand it an in-memory file.
    std::string path;
    const int fd = assets_memory_file("png_fuzz", data, size, &path);
    if (fd < 0) return 0;
    ImageWhy why;
    ImagePixels *image = image_read_png(path.c_str(), &why);
    if (image == nullptr) {
        check(why.text[0] != '\0', "a refusal says why");
    } else {
        check(image->width >= 1 && image->width <= IMAGE_MAX_SIDE_PX, "width within 1 .. 4096");
        check(image->height >= 1 && image->height <= IMAGE_MAX_SIDE_PX, "height within 1 .. 4096");
        check(image->palette_colors >= 0 && image->palette_colors <= 256, "0 .. 256 palette colours");
        check(image->pixels != nullptr, "pixels");
        const size_t count = static_cast<size_t>(image->width) * image->height;
        // Small pictures go through every way of mapping; large ones once.
        for (int dither = 0; dither < (count <= 65536 ? 3 : 1); dither++) {
            ImageOptions options = IMAGE_OPTIONS_DEFAULT;
            options.dither = static_cast<PaletteDither>(dither);
            options.raw = size > 0 && (data[size - 1] & 1) && image->palette_colors > 0;
            Texture *texture = image_to_texture(image, &options, &why);
            check(texture != nullptr, "a picture read maps to a texture");
            check(texture->width == image->width && texture->height == image->height, "the texture's size");
            texture_destroy(texture);
        }
        image_pixels_free(image);
    }
    close(fd);
    return 0;
}
