// Turns a PCX file into a Texture (open, decode, close, take the pixels) and
// releases textures. The one place that moves pixels out of a PcxImage.
#include "assets/pcx.h"

#include "util/alloc.h"

Texture *pcx_load_texture_why(const char *path, const char **why) {
    static const char *unused;
    if (why == nullptr) why = &unused;
    Texture *texture = static_cast<Texture *>(engine_calloc(1, sizeof(Texture)));
    if (texture == nullptr) {
        *why = "out of memory";
        return nullptr;
    }
    PcxImage *image = pcx_open_why(path, why);
    if (image == nullptr || pcx_decode(image) < 0) {
        if (image != nullptr) {
            *why = "ends inside its image data or its palette";
            engine_free(image->pixels);
        }
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

Texture *pcx_load_texture(const char *path) { return pcx_load_texture_why(path, nullptr); }

void texture_destroy(Texture *texture) {
    if (texture == nullptr) return;
    engine_free(texture->pixels);
    engine_free(texture);
}
