// Disk helpers for the loader tests: text files, running the reference
// tools, reading their PPM output (temporary directories and whole files
// come from support/test_files.h).
#ifndef SUPPORT_ASSETS_DISK_H
#define SUPPORT_ASSETS_DISK_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

// Writes `text` as the whole file; true on success.
bool assets_write_text(const std::string &path, const std::string &text);

// Runs `command` through /bin/sh; its exit status, or -1 when it could not
// be started or was killed.
int assets_run(const std::string &command);

// True when `program` is found on PATH.
bool assets_have_program(const char *program);

// An RGB image as the reference tools write it (binary PPM, maxval 255).
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3 bytes, row-major
};

// Reads a binary (P6) PPM with maxval 255; false for anything else.
bool assets_read_ppm(const std::string &path, RgbImage *image);

// Writes `image` as a binary PPM; true on success.
bool assets_write_ppm(const std::string &path, const RgbImage &image);

#endif
