// Fuzzes the PCX reader on arbitrary files: open, decode and close must
// never crash, read out of bounds or hang, and whatever opens must hold a
// size and depth the reader promises.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "assets/pcx.h"
#include "support/assets_disk.h"
#include "util/alloc.h"

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "FUZZ: PCX promise broken: %s\n", what);
        abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The reader takes a path: hand it an in-memory file.
    std::string path;
    const int fd = assets_memory_file("pcx_fuzz", data, size, &path);
    if (fd < 0) return 0;
    PcxImage *image = pcx_open(path.c_str());
    if (image != nullptr) {
        check(image->width >= 1 && image->width <= PCX_MAX_SIDE_PX, "width within 1 .. 4096");
        check(image->height >= 1 && image->height <= PCX_MAX_SIDE_PX, "height within 1 .. 4096");
        check(image->planes == 1 || (image->bits_per_pixel == 1 && image->planes <= PCX_MAX_PLANES) ||
                  (image->bits_per_pixel == 8 && image->planes == PCX_TRUE_COLOR_PLANES),
              "accepted depth and planes");
        int decoded = pcx_decode(image);
        check(decoded == 0 || decoded == -1, "decode gives 0 or -1");
        check(pcx_close(image) == 0, "first close succeeds");
        check(pcx_close(image) == -1, "second close fails");
        check(pcx_decode(image) == -1, "decode after close fails");
        engine_free(image->pixels);
        pcx_free(image);
    }
    close(fd);
    return 0;
}
