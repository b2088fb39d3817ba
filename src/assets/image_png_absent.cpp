// PNG in a build without libpng (the browser build): reading refuses with
// the reason, writing prints one line and fails. PCX pictures load as
// everywhere else.
#include <cstdio>

#include "assets/image.h"

static const char PNG_ABSENT[] = "PNG is not part of this build (it has no libpng): use PCX";

ImagePixels *image_read_png(const char *path, ImageWhy *why) {
    (void)path;
    if (why != nullptr) snprintf(why->text, sizeof why->text, "%s", PNG_ABSENT);
    return nullptr;
}

static int save_absent(const char *path) {
    fprintf(stderr, "IMAGE: cannot save '%s': %s\n", path != nullptr ? path : "(null)", PNG_ABSENT);
    return -1;
}

int image_save_png(const char *path, int width, int height, const uint8_t *indices) {
    (void)width, (void)height, (void)indices;
    return save_absent(path);
}

int image_save_png_rgb(const char *path, int width, int height, const uint8_t *rgb) {
    (void)width, (void)height, (void)rgb;
    return save_absent(path);
}
