// Turns a PCX file into a Texture (open, decode, close, take the pixels) and
// releases textures. The one place that moves pixels out of a PcxImage.
#include "assets/pcx.h"

#include "util/alloc.h"

Texture *pcx_load_texture(const char *path) {
    Texture *texture = (Texture *)engine_calloc(1, sizeof(Texture));
    if (texture == nullptr) return nullptr;
    PcxImage *image = pcx_open(path);
    if (image == nullptr || pcx_decode(image) < 0) {
        if (image != nullptr) engine_free(image->pixels);
        pcx_free(image);
        engine_free(texture);
        return nullptr;
    }
    pcx_close(image);
    texture->pixels = image->pixels;
    texture->width = image->width;
    texture->height = image->height;
    image->pixels = nullptr;
    pcx_free(image);
    return texture;
}

void texture_destroy(Texture *texture) {
    if (texture == nullptr) return;
    engine_free(texture->pixels);
    engine_free(texture);
}
