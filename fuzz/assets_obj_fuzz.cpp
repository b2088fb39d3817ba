// Fuzzes the OBJ loader, the MTL loader behind its "mtllib" and the PCX
// reader behind the material's "map_Kd", on arbitrary files of all three: no crash, no out-of-bounds access, no
// leak or double release of any material, and every loaded face points at records of its own mesh.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
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

// The input holds up to three files: the model, then optionally after a
// line "%%MTL" its material file, then optionally after a line "%%PCX" the
// texture image, so the fuzzer varies all three. They are written to a
// fixed folder that "mtllib /tmp/engine_obj_fuzz/m.mtl" and "map_Kd
// /tmp/engine_obj_fuzz/t.pcx" (the seeds name them) find; a part the input
// leaves out gets a well-formed default. The working directory stays as it
// is, since libFuzzer's corpus paths are relative to it. Standard output
// (the loader's messages) goes to /dev/null. One fuzzing process at a time
// per machine: parallel jobs would share the folder.
static const char FUZZ_DIR[] = "/tmp/engine_obj_fuzz";
static const char MTL_MARK[] = "\n%%MTL\n";
static const char PCX_MARK[] = "\n%%PCX\n";
static const char DEFAULT_MTL[] = "newmtl a\nmap_Kd /tmp/engine_obj_fuzz/t.pcx\n";
static std::string default_pcx;

static bool write_whole(const std::string &path, const std::string &bytes) {
    FILE *file = fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool ok = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && ok;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    if (mkdir(FUZZ_DIR, 0700) != 0 && errno != EEXIST) abort();
    uint8_t pixels[16 * 8], palette[768] = {};
    for (int i = 0; i < 16 * 8; i++) pixels[i] = static_cast<uint8_t>(i);
    const std::string pcx_path = std::string(FUZZ_DIR) + "/default.pcx";
    if (pcx_save(pcx_path.c_str(), 16, 8, pixels, palette) != 0) abort();
    FILE *file = fopen(pcx_path.c_str(), "rb");
    if (file == nullptr) abort();
    int c;
    while ((c = fgetc(file)) != EOF) default_pcx.push_back(static_cast<char>(c));
    fclose(file);
    int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    std::string obj = text, mtl = DEFAULT_MTL, pcx = default_pcx;
    size_t mtl_at = text.find(MTL_MARK);
    if (mtl_at != std::string::npos) {
        obj = text.substr(0, mtl_at);
        mtl = text.substr(mtl_at + strlen(MTL_MARK));
        size_t pcx_at = mtl.find(PCX_MARK);
        if (pcx_at != std::string::npos) {
            pcx = mtl.substr(pcx_at + strlen(PCX_MARK));
            mtl = mtl.substr(0, pcx_at);
        }
    }
    // Names of endless or special files would only measure the device.
    for (const std::string *part : {&obj, &mtl})
        if (part->find("/dev") != std::string::npos || part->find("/proc") != std::string::npos ||
            part->find("/sys") != std::string::npos)
            return 0;
    const std::string dir = FUZZ_DIR;
    if (!write_whole(dir + "/m.obj", obj) || !write_whole(dir + "/m.mtl", mtl) || !write_whole(dir + "/t.pcx", pcx))
        abort();
    const std::string path = dir + "/m.obj";
    Mesh *mesh = obj_load(path.c_str(), 3);
    if (mesh != nullptr) {
        check(mesh->list->count == static_cast<int32_t>(mesh->faces->count), "list counts the faces");
        for (int32_t i = 0; i < mesh->list->count; i++) {
            const Triangle *t = mesh->list->items[i];
            for (int j = 0; j < 3; j++) {
                check(t->v[j] != nullptr && holds(mesh->vertices, t->v[j]), "corner is a mesh vertex");
                if (t->t[j] == nullptr) continue;
                check(holds(mesh->texcoords, t->t[j]), "texture coordinate of the mesh");
                // Texels of the face's own texture (all 0 without one).
                const int32_t width = t->texture != nullptr ? t->texture->width : 0;
                const int32_t height = t->texture != nullptr ? t->texture->height : 0;
                check(t->t[j]->u >= 0 && (t->t[j]->u < width || (width == 0 && t->t[j]->u == 0)),
                      "u inside the texture");
                check(t->t[j]->v >= 0 && (t->t[j]->v < height || (height == 0 && t->t[j]->v == 0)),
                      "v inside the texture");
            }
        }
        mesh_destroy(mesh);
    }
    return 0;
}
