// PNG reading for golden-image comparisons, through libpng's simplified API.
#include "support/render3d_png.h"

#include <png.h>

bool png_read_rgb(const std::string &path, RgbPicture *picture, std::string *error) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        *error = image.message;
        return false;
    }
    image.format = PNG_FORMAT_RGB;
    picture->width_px = static_cast<int>(image.width);
    picture->height_px = static_cast<int>(image.height);
    picture->rgb.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr)) {
        *error = image.message;
        png_image_free(&image);
        return false;
    }
    return true;
}

long rgb_pixels_differing(const RgbPicture &a, const RgbPicture &b) {
    if (a.width_px != b.width_px || a.height_px != b.height_px || a.rgb.size() != b.rgb.size()) return -1;
    long differing = 0;
    for (size_t i = 0; i + 2 < a.rgb.size(); i += 3)
        differing += a.rgb[i] != b.rgb[i] || a.rgb[i + 1] != b.rgb[i + 1] || a.rgb[i + 2] != b.rgb[i + 2];
    return differing;
}
