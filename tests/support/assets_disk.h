// Disk helpers for the loader tests: temporary directories, whole-file
// reads and writes, running the reference tools, reading their PPM output.
#ifndef SUPPORT_ASSETS_DISK_H
#define SUPPORT_ASSETS_DISK_H

#include <cstdint>
#include <string>
#include <vector>

// A fresh directory under $TMPDIR (or /tmp) named after `tag`; empty string
// when it cannot be made.
std::string assets_make_temp_dir(const char *tag);

// Deletes `dir` and everything in it (only directories made by
// assets_make_temp_dir are passed here).
void assets_remove_tree(const std::string &dir);

// Writes `bytes` (or `text`) as the whole file; true on success.
bool assets_write_file(const std::string &path, const std::vector<uint8_t> &bytes);
bool assets_write_text(const std::string &path, const std::string &text);

// The whole file; false when it cannot be read.
bool assets_read_file(const std::string &path, std::vector<uint8_t> *bytes);

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
