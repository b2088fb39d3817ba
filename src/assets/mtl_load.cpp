// Loads a model's material from an MTL file: only "map_Kd" counts, and its
// picture (PNG or PCX) becomes the material's texture, in its own colours.
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "assets/asset_path.h"
#include "assets/obj.h"
#include "assets/image.h"
#include "assets/obj_lines.h"
#include "assets/pcx.h"
#include "util/alloc.h"
#include "util/utf8.h"

// Loads the picture at `image_path` into `material`, replacing (and
// releasing) any image it had. 0, or -1 with the material unchanged and
// `why` saying what was wrong with the picture.
static int material_take_image(Texture *material, const char *image_path, ImageWhy *why) {
    Texture *image = image_load_texture_why(image_path, nullptr, why);
    if (image == nullptr) return -1;
    engine_free(material->pixels);
    *material = *image;
    engine_free(image);  // the record only: its pixels now belong to material
    return 0;
}

Texture *mtl_load(const char *path) {
    // The path may come from a model's text, as may the picture's name:
    // both are shown without the bytes that would drive the terminal.
    char shown[PATH_MAX], shown_image[PATH_MAX];
    utf8_printable(shown, sizeof shown, path ? path : "(null)");
    Texture *material = static_cast<Texture *>(engine_calloc(1, sizeof(Texture)));
    if (material == nullptr) {
        fprintf(stderr, "MTL: cannot load '%s': out of memory\n", shown);
        return nullptr;
    }
    const char *why = nullptr;
    int fd = obj_open_read(path, &why);
    if (fd < 0) {
        fprintf(stderr, "MTL: cannot open '%s': %s\n", shown, why);
        engine_free(material);
        return nullptr;
    }

    ObjLines lines;
    bool ok = obj_lines_open(&lines, fd, shown) == 0;
    if (!ok) fprintf(stderr, "MTL: cannot load '%s': out of memory\n", shown);
    char *line;
    while (ok && (line = obj_lines_next(&lines)) != nullptr) {
        if (line[0] == '#') continue;
        char *cursor = line;
        char *keyword = obj_next_token(&cursor);
        if (keyword == nullptr || strcmp(keyword, "map_Kd") != 0) continue;
        char *image_path = obj_next_token(&cursor);
        if (image_path == nullptr) {
            fprintf(stderr, "MTL: '%s': map_Kd without an image name\n", shown);
            ok = false;
            break;
        }
        utf8_printable(shown_image, sizeof shown_image, image_path);
        printf("Loading texure '%s'\n", shown_image);
        // As written or, when not found there, beside the material file; the
        // message names the file that was tried.
        char *beside = asset_path_beside(image_path, path);
        const char *image_file = beside != nullptr ? beside : image_path;
        ImageWhy image_why;
        if (material_take_image(material, image_file, &image_why) < 0) {
            utf8_printable(shown_image, sizeof shown_image, image_file);
            fprintf(stderr, "MTL: '%s': cannot load the image '%s': %s\n", shown, shown_image, image_why.text);
            ok = false;
        }
        engine_free(beside);
    }
    if (ok && lines.read_error != 0) {
        fprintf(stderr, "MTL: cannot read '%s': %s\n", shown, strerror(lines.read_error));
        ok = false;
    }
    obj_lines_close(&lines);
    close(fd);
    if (!ok) {
        texture_destroy(material);
        return nullptr;
    }
    return material;
}
