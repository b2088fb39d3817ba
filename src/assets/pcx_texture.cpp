// Turns a PCX file into a picture as the file holds it (ImagePixels: its
// indices with its palette, or its RGB) and into a Texture in the engine's
// palette. The one place that moves pixels out of a PcxImage.
#include <cstdio>
#include <cstring>

#include "assets/image.h"
#include "assets/pcx.h"
#include "util/alloc.h"

// The file's palette as a picture shows it: the 256-colour palette when
// the file has one (pcx_decode read it), otherwise the header's 16, as many
// entries as the depth gives. A two-colour file whose entries are the same
// colour shows black and white.
static void take_palette(const PcxImage *pcx, bool has_long_palette, ImagePixels *image) {
    const int bits = pcx->bits_per_pixel * pcx->planes;
    const int colors = bits >= 8 ? 256 : 1 << bits;
    image->palette_colors = colors;
    const int kept = has_long_palette ? PCX_PALETTE_BYTES : PCX_HEADER_PALETTE_BYTES;
    const int bytes = 3 * colors < kept ? 3 * colors : kept;
    memcpy(image->palette, pcx->palette, static_cast<size_t>(bytes));
    if (colors == 2 && memcmp(image->palette, image->palette + 3, 3) == 0) {
        memset(image->palette, 0, 3);
        memset(image->palette + 3, 0xFF, 3);
    }
}

// Reads a PCX file into a new picture; null with *why a static text.
static ImagePixels *pcx_read_pixels(const char *path, const char **why) {
    ImagePixels *image = static_cast<ImagePixels *>(engine_calloc(1, sizeof(ImagePixels)));
    if (image == nullptr) {
        *why = "out of memory";
        return nullptr;
    }
    PcxImage *pcx = pcx_open_why(path, why);
    if (pcx == nullptr || pcx_decode(pcx) < 0) {
        if (pcx != nullptr) {
            *why = "ends inside its image data or its palette";
            engine_free(pcx->pixels);
        }
        pcx_free(pcx);
        engine_free(image);
        return nullptr;
    }
    // The file ended right after the data when its palette is all zeros
    // past the header's: an 8-bit file then shows its header palette too.
    bool has_long_palette = false;
    for (int i = PCX_HEADER_PALETTE_BYTES; i < PCX_PALETTE_BYTES && !has_long_palette; i++)
        has_long_palette = pcx->palette[i] != 0;
    pcx_close(pcx);
    image->width = pcx->width;
    image->height = pcx->height;
    if (pcx_bytes_per_pixel(pcx) == 1) take_palette(pcx, has_long_palette || pcx->bits_per_pixel == 8, image);
    image->pixels = pcx->pixels;
    pcx->pixels = nullptr;
    pcx_free(pcx);
    return image;
}

ImagePixels *image_read_pcx(const char *path, ImageWhy *why) {
    const char *reason = nullptr;
    ImagePixels *image = pcx_read_pixels(path, &reason);
    if (image == nullptr && why != nullptr) snprintf(why->text, sizeof why->text, "%s", reason);
    return image;
}

Texture *pcx_load_texture_why(const char *path, const char **why) {
    static const char *unused;
    if (why == nullptr) why = &unused;
    ImagePixels *image = pcx_read_pixels(path, why);
    if (image == nullptr) return nullptr;
    Texture *texture = image_to_texture(image, nullptr, nullptr);
    image_pixels_free(image);
    if (texture == nullptr) *why = "out of memory";
    return texture;
}

Texture *pcx_load_texture(const char *path) { return pcx_load_texture_why(path, nullptr); }

void texture_destroy(Texture *texture) {
    if (texture == nullptr) return;
    engine_free(texture->pixels);
    engine_free(texture);
}
