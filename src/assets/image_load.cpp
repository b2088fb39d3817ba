// The one entry for picture files: PCX or PNG told apart by their first
// bytes, and a picture turned into a Texture or Sprite in the engine's
// palette (raw, plain or dithered, transparency keyed and composited).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "assets/image.h"
#include "assets/pcx.h"  // texture_destroy
#include "gfx2d/palette.h"
#include "util/alloc.h"
#include "util/file_open.h"

namespace {

constexpr uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint8_t PCX_FIRST_BYTE = 10;
// Below this opacity a pixel takes the key index.
constexpr uint8_t HALF_OPACITY = 128;

void say(ImageWhy *why, const char *text) {
    if (why != nullptr) snprintf(why->text, sizeof why->text, "%s", text);
}

// Reads up to `size` bytes from the start of the file; the count read, or
// -1 with errno set.
ssize_t read_start(int fd, uint8_t *buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, buffer + done, size - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

// Channel `value` seen through opacity `alpha` onto black, rounded.
uint8_t over_black(uint8_t value, uint8_t alpha) { return static_cast<uint8_t>((value * alpha + 127) / 255); }

bool engine_color_is(int index, const uint8_t *rgb) {
    return Palette[index] == (static_cast<uint32_t>(rgb[0]) << 24 | static_cast<uint32_t>(rgb[1]) << 16 |
                              static_cast<uint32_t>(rgb[2]) << 8);
}

// Maps the picture's pixels one by one through palette_map_pixels: `fill`
// (pixel number, its RGB triple, its decided byte) gives each pixel's
// colour, and decides it when it keeps the index already in `out`. 0, or
// -1 when memory runs out.
template <typename Fill>
int map_pixel_by_pixel(const ImagePixels *image, PaletteDither dither, const PaletteMap *map, uint8_t *out,
                       Fill fill) {
    const size_t count = static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
    uint8_t *rgb = static_cast<uint8_t *>(engine_malloc(count * 3));
    uint8_t *decided = static_cast<uint8_t *>(engine_malloc(count));
    int result = -1;
    if (rgb != nullptr && decided != nullptr) {
        for (size_t i = 0; i < count; i++) fill(i, rgb + 3 * i, decided + i);
        result = palette_map_pixels(map, rgb, decided, image->width, image->height, dither, out);
    }
    engine_free(rgb);
    engine_free(decided);
    return result;
}

// Indices of an indexed picture: kept (raw) or mapped entry by entry, the
// pixels below half opacity keyed. Partly transparent pixels, and with
// dithering every pixel whose entry is no engine colour, are mapped from
// their colour one by one. 0, or -1 when memory runs out.
int indexed_to_texture(const ImagePixels *image, const ImageOptions *options, const PaletteMap *map, uint8_t *out) {
    const size_t count = static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
    uint8_t mapped[256];
    bool exact[256];
    for (int i = 0; i < 256; i++) {
        mapped[i] = static_cast<uint8_t>(i);
        exact[i] = true;
    }
    if (!options->raw) {
        palette_map_entries(map, image->palette, 256, mapped);
        for (int i = 0; i < 256; i++) exact[i] = engine_color_is(mapped[i], image->palette + 3 * i);
    }
    bool per_pixel = false;  // some pixel needs its own mapping
    for (size_t i = 0; i < count; i++) {
        const uint8_t index = image->pixels[i];
        const uint8_t alpha = image->alpha != nullptr ? image->alpha[i] : 255;
        out[i] = alpha < HALF_OPACITY ? options->key_index : mapped[index];
        if (!options->raw && alpha >= HALF_OPACITY &&
            (alpha < 255 || (options->dither != PALETTE_DITHER_NONE && !exact[index])))
            per_pixel = true;
    }
    if (!per_pixel) return 0;
    return map_pixel_by_pixel(image, options->dither, map, out, [&](size_t i, uint8_t *rgb, uint8_t *decided) {
        const uint8_t index = image->pixels[i];
        const uint8_t alpha = image->alpha != nullptr ? image->alpha[i] : 255;
        for (int c = 0; c < 3; c++) rgb[c] = over_black(image->palette[3 * index + c], alpha);
        *decided = alpha < HALF_OPACITY || (alpha == 255 && exact[index]);
    });
}

// An RGB picture mapped pixel by pixel, composited onto black and keyed
// where it has alpha. 0, or -1 when memory runs out.
int rgb_to_texture(const ImagePixels *image, const ImageOptions *options, const PaletteMap *map, uint8_t *out) {
    if (image->alpha == nullptr)
        return palette_map_pixels(map, image->pixels, nullptr, image->width, image->height, options->dither, out);
    return map_pixel_by_pixel(image, options->dither, map, out, [&](size_t i, uint8_t *rgb, uint8_t *decided) {
        const uint8_t alpha = image->alpha[i];
        for (int c = 0; c < 3; c++) rgb[c] = over_black(image->pixels[3 * i + c], alpha);
        *decided = alpha < HALF_OPACITY;
        if (*decided) out[i] = options->key_index;
    });
}

}  // namespace

ImagePixels *image_read(const char *path, ImageWhy *why) {
    if (path == nullptr) {
        say(why, "no file name");
        return nullptr;
    }
    const char *reason = nullptr;
    const int fd = open_regular_file(path, &reason);
    if (fd < 0) {
        say(why, reason);
        return nullptr;
    }
    uint8_t start[sizeof PNG_SIGNATURE];
    const ssize_t got = read_start(fd, start, sizeof start);
    const int saved_errno = errno;
    close(fd);
    if (got < 0) {
        say(why, strerror(saved_errno));
        return nullptr;
    }
    if (got == static_cast<ssize_t>(sizeof start) && memcmp(start, PNG_SIGNATURE, sizeof start) == 0)
        return image_read_png(path, why);
    if (got > 0 && start[0] == PCX_FIRST_BYTE) return image_read_pcx(path, why);
    say(why, got == 0 ? "is empty" : "is neither a PNG nor a PCX image");
    return nullptr;
}

void image_pixels_free(ImagePixels *image) {
    if (image == nullptr) return;
    engine_free(image->pixels);
    engine_free(image->alpha);
    engine_free(image);
}

Texture *image_to_texture(const ImagePixels *image, const ImageOptions *options, ImageWhy *why) {
    if (options == nullptr) options = &IMAGE_OPTIONS_DEFAULT;
    if (image == nullptr || image->pixels == nullptr) {
        say(why, "no picture");
        return nullptr;
    }
    if (options->raw && image->palette_colors == 0) {
        say(why, "is a true-colour picture: it has no indices to keep raw");
        return nullptr;
    }
    Texture *texture = static_cast<Texture *>(engine_calloc(1, sizeof(Texture)));
    const size_t count = static_cast<size_t>(image->width) * static_cast<size_t>(image->height);
    uint8_t *pixels = static_cast<uint8_t *>(engine_malloc(count > 0 ? count : 1));
    const PaletteMap *map = options->map != nullptr ? options->map : palette_map_shared();
    int result = -1;
    if (texture != nullptr && pixels != nullptr)
        result = image->palette_colors > 0 ? indexed_to_texture(image, options, map, pixels)
                                           : rgb_to_texture(image, options, map, pixels);
    if (result < 0) {
        say(why, "out of memory");
        engine_free(pixels);
        engine_free(texture);
        return nullptr;
    }
    texture->pixels = pixels;
    texture->width = image->width;
    texture->height = image->height;
    return texture;
}

Texture *image_load_texture_why(const char *path, const ImageOptions *options, ImageWhy *why) {
    ImagePixels *image = image_read(path, why);
    if (image == nullptr) return nullptr;
    Texture *texture = image_to_texture(image, options, why);
    image_pixels_free(image);
    return texture;
}

Texture *image_load_texture(const char *path, const ImageOptions *options) {
    return image_load_texture_why(path, options, nullptr);
}

Sprite *image_load_sprite(const char *path, const ImageOptions *options, ImageWhy *why) {
    Texture *texture = image_load_texture_why(path, options, why);
    if (texture == nullptr) return nullptr;
    Sprite *sprite = sprite_new_taking(texture->width, texture->height, texture->pixels);
    if (sprite == nullptr) {
        say(why, "out of memory");
        texture_destroy(texture);
        return nullptr;
    }
    engine_free(texture);  // the record only: the sprite owns the pixels now
    return sprite;
}
