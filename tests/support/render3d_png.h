// Reading PNG files back for the golden-image tests of the 3D examples.
#ifndef TESTS_SUPPORT_RENDER3D_PNG_H
#define TESTS_SUPPORT_RENDER3D_PNG_H

#include <cstdint>
#include <string>
#include <vector>

// Decoded RGB picture, 3 bytes per pixel, row-major.
struct RgbPicture {
    int width_px = 0;
    int height_px = 0;
    std::vector<uint8_t> rgb;
};

// Reads `path` as 8-bit RGB through libpng. True on success; false (with
// `error` set) when the file is missing or not a PNG.
bool png_read_rgb(const std::string &path, RgbPicture *picture, std::string *error);

// Pixels that differ between two pictures of the same size; -1 when the
// sizes differ.
long rgb_pixels_differing(const RgbPicture &a, const RgbPicture &b);

#endif
