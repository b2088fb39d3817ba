// Disk helpers for the loader tests: text files, files that are not
// regular files, and the reference tools' PPM images (temporary directories
// and whole files come from support/test_files.h, running the tools from
// support/platform_process.h).
#ifndef SUPPORT_ASSETS_DISK_H
#define SUPPORT_ASSETS_DISK_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_files.h"

// `size` bytes in a file in memory (memfd) for the readers that take a
// path, as the fuzzers hand them their inputs: its descriptor, to close when
// done, with *path naming it (/proc/self/fd/N); -1 when it cannot be made.
int assets_memory_file(const char *name, const uint8_t *data, size_t size, std::string *path);

// Writes `text` as the whole file; true on success.
bool assets_write_text(const std::string &path, const std::string &text);

// A file of each kind the loaders refuse without blocking, with the words
// the refusal uses for it: the directory `dir` itself, a FIFO made in it
// (with no writer) and /dev/zero. Empty when the FIFO cannot be made.
struct SpecialFile {
    std::string path;
    const char *what;
};
std::vector<SpecialFile> assets_special_files(const std::string &dir);

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
