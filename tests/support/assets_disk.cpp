// Disk helpers for the loader tests: text files, files in memory, special
// files, the reference tools and their PPM images.
#include "support/assets_disk.h"

#include <cstdio>
#include <cstdlib>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

bool assets_write_text(const std::string &path, const std::string &text) {
    return write_whole_file(path, std::vector<uint8_t>(text.begin(), text.end()));
}

int assets_memory_file(const char *name, const uint8_t *data, size_t size, std::string *path) {
    const int fd = memfd_create(name, 0);
    if (fd < 0) return -1;
    if (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        return -1;
    }
    *path = "/proc/self/fd/" + std::to_string(fd);
    return fd;
}

std::vector<SpecialFile> assets_special_files(const std::string &dir) {
    std::string fifo = dir + "/pipe";
    if (mkfifo(fifo.c_str(), 0600) != 0) return {};
    return {{dir, "is a directory"}, {fifo, "is a FIFO"}, {"/dev/zero", "is a device"}};
}

// Next whitespace-separated header number of a PPM, skipping comments.
static bool ppm_number(FILE *file, int *value) {
    int c = fgetc(file);
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '#') {
        if (c == '#') {
            while (c != '\n' && c != EOF) c = fgetc(file);
        }
        c = fgetc(file);
    }
    if (c < '0' || c > '9') return false;
    *value = 0;
    while (c >= '0' && c <= '9') {
        *value = *value * 10 + (c - '0');
        c = fgetc(file);
    }
    return true;  // the single whitespace after the number is consumed
}

bool assets_read_ppm(const std::string &path, RgbImage *image) {
    FILE *file = fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    int maxval = 0;
    bool ok = fgetc(file) == 'P' && fgetc(file) == '6' && ppm_number(file, &image->width) &&
              ppm_number(file, &image->height) && ppm_number(file, &maxval) && maxval == 255;
    if (ok) {
        image->rgb.resize(static_cast<size_t>(image->width) * image->height * 3);
        ok = fread(image->rgb.data(), 1, image->rgb.size(), file) == image->rgb.size();
    }
    fclose(file);
    return ok;
}

bool assets_write_ppm(const std::string &path, const RgbImage &image) {
    std::string header = "P6\n" + std::to_string(image.width) + " " + std::to_string(image.height) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), image.rgb.begin(), image.rgb.end());
    return write_whole_file(path, bytes);
}
