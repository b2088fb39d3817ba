// Fuzzes the OBJ loader (and through "mtllib" the MTL loader and the PCX
// reader) on arbitrary model files: no crash, no out-of-bounds access, no
// leak, and every loaded face points at records of its own mesh.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "assets/obj.h"
#include "assets/pcx.h"

static void check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "FUZZ: OBJ promise broken: %s\n", what);
        abort();
    }
}

// True when `item` is one of the items of `records`.
static bool holds(const Vector *records, const void *item) {
    for (uint64_t i = 0; i < records->count; i++)
        if (records->items[i] == item) return true;
    return false;
}

// A material and its texture at a fixed place for "mtllib
// /tmp/engine_obj_fuzz/m.mtl" (the seeds name it) to find; the working
// directory stays as it is, since libFuzzer's corpus paths are relative to
// it. Standard output (the loader's messages) goes to /dev/null.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (mkdir("/tmp/engine_obj_fuzz", 0700) != 0 && errno != EEXIST) abort();
    uint8_t pixels[16 * 8], palette[768] = {};
    for (int i = 0; i < 16 * 8; i++) pixels[i] = (uint8_t)i;
    if (pcx_save("/tmp/engine_obj_fuzz/t.pcx", 16, 8, pixels, palette) != 0) abort();
    FILE *mtl = fopen("/tmp/engine_obj_fuzz/m.mtl", "w");
    if (mtl == nullptr) abort();
    fputs("newmtl a\nmap_Kd /tmp/engine_obj_fuzz/t.pcx\n", mtl);
    fclose(mtl);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Names of endless or special files would only measure the device.
    std::string text(reinterpret_cast<const char *>(data), size);
    if (text.find("/dev") != std::string::npos || text.find("/proc") != std::string::npos ||
        text.find("/sys") != std::string::npos)
        return 0;
    int fd = memfd_create("obj_fuzz", 0);
    if (fd < 0) return 0;
    if (size > 0 && write(fd, data, size) != (ssize_t)size) {
        close(fd);
        return 0;
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);
    Mesh *mesh = obj_load(path.c_str(), 3);
    if (mesh != nullptr) {
        check(mesh->list->count == (int32_t)mesh->faces->count, "list counts the faces");
        for (int32_t i = 0; i < mesh->list->count; i++) {
            const Triangle *t = mesh->list->items[i];
            for (int j = 0; j < 3; j++) {
                check(t->v[j] != nullptr && holds(mesh->vertices, t->v[j]), "corner is a mesh vertex");
                if (t->t[j] == nullptr) continue;
                check(holds(mesh->texcoords, t->t[j]), "texture coordinate of the mesh");
                const Texture *m = mesh->material;
                check(m != nullptr, "texture coordinates only with a material");
                check(t->t[j]->u >= 0 && (t->t[j]->u < m->width || (m->width == 0 && t->t[j]->u == 0)),
                      "u inside the texture");
                check(t->t[j]->v >= 0 && (t->t[j]->v < m->height || (m->height == 0 && t->t[j]->v == 0)),
                      "v inside the texture");
            }
        }
        mesh_destroy(mesh);
    }
    close(fd);
    return 0;
}
