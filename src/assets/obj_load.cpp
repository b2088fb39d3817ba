// Loads a Wavefront OBJ model into a Mesh: "v", "vt", "f" and "mtllib"
// lines, every index checked against the records read so far.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "assets/obj.h"
#include "assets/obj_lines.h"
#include "assets/pcx.h"  // texture_destroy
#include "util/alloc.h"

// Outcome of one line: read on, or stop because an allocation failed or
// the material could not be loaded (the load then fails as a whole).
enum ObjLineResult { OBJ_LINE_DONE, OBJ_LINE_NO_MEMORY, OBJ_LINE_NO_MATERIAL };

// A face index that is not a record: negative and overflowing texts land
// here, and 0 means "none" only for texture coordinates.
constexpr int64_t OBJ_BAD_INDEX = -1;
// Indices grow no further than this; any vector is far shorter.
constexpr int64_t OBJ_INDEX_LIMIT = (int64_t)1 << 40;

// A face index: an optional '-' and decimal digits, the rest ignored (so
// "1.5" is 1, "" and "abc" are 0). Negative non-zero indices (relative ones
// in the full format) are OBJ_BAD_INDEX. Read as a plain integer rather than
// through Fixed, so 65537 stays 65537 instead of wrapping to 1.
static int64_t parse_index(const char *text) {
    if (text == nullptr) return 0;
    bool negative = *text == '-';
    if (negative) text++;
    int64_t value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value < OBJ_INDEX_LIMIT) value = value * 10 + (*text - '0');
        text++;
    }
    return negative && value != 0 ? OBJ_BAD_INDEX : value;
}

// The product of a Fixed and an integer as the 32-bit multiply gives it.
static Fixed scaled(const char *text, int scale) { return wrap_mul(parse_fixed(text), scale); }

static ObjLineResult add_vertex(Mesh *mesh, char **cursor, int scale) {
    Vertex *vertex = (Vertex *)engine_calloc(1, sizeof(Vertex));
    if (vertex == nullptr) return OBJ_LINE_NO_MEMORY;
    vertex->x = scaled(obj_next_token(cursor), scale);
    vertex->y = wrap_neg(scaled(obj_next_token(cursor), scale));  // rows grow downwards
    vertex->z = scaled(obj_next_token(cursor), scale);
    vertex->color = OBJ_COLOR;
    if (vector_append(mesh->vertices, vertex) < 0) {
        engine_free(vertex);
        return OBJ_LINE_NO_MEMORY;
    }
    return OBJ_LINE_DONE;
}

// A 0 .. 1 texture coordinate as a texel of a `size` texel side: the
// product taken in 64 bits and clamped into 0 .. size - 1, so every corner
// lies inside the texture (0 for a texture without pixels).
static int32_t texel(const char *text, int32_t size) {
    int64_t t = ((int64_t)parse_fixed(text) * size) >> FIXED_SHIFT;
    if (t > size - 1) t = size - 1;
    if (t < 0) t = 0;
    return (int32_t)t;
}

static ObjLineResult add_texcoord(Mesh *mesh, char **cursor) {
    if (mesh->material == nullptr) return OBJ_LINE_DONE;  // no texture to address yet
    TexCoord *texcoord = (TexCoord *)engine_calloc(1, sizeof(TexCoord));
    if (texcoord == nullptr) return OBJ_LINE_NO_MEMORY;
    texcoord->u = texel(obj_next_token(cursor), mesh->material->width);
    texcoord->v = texel(obj_next_token(cursor), mesh->material->height);
    if (vector_append(mesh->texcoords, texcoord) < 0) {
        engine_free(texcoord);
        return OBJ_LINE_NO_MEMORY;
    }
    return OBJ_LINE_DONE;
}

// Fills corner `j` of `triangle` from a "v", "v/t", "v//n" or "v/t/n"
// token. False when an index lies outside the records read so far.
static bool set_corner(const Mesh *mesh, Triangle *triangle, int j, char *token) {
    char *texcoord_text = strchr(token, '/');
    if (texcoord_text != nullptr) {
        *texcoord_text++ = '\0';
        char *normal_text = strchr(texcoord_text, '/');  // never read
        if (normal_text != nullptr) *normal_text = '\0';
    }
    int64_t v = parse_index(token);
    int64_t t = parse_index(texcoord_text);
    if (v < 1 || v > (int64_t)mesh->vertices->count) return false;
    if (t < 0 || t > (int64_t)mesh->texcoords->count) return false;
    triangle->v[j] = (Vertex *)mesh->vertices->items[v - 1];
    triangle->t[j] = t == 0 ? nullptr : (TexCoord *)mesh->texcoords->items[t - 1];
    return true;
}

static ObjLineResult add_face(Mesh *mesh, char **cursor, long line_number) {
    Triangle face = {};
    for (int j = 0; j < 3; j++) {
        char *token = obj_next_token(cursor);
        if (token == nullptr) {
            printf("Skipping face on line %ld: fewer than 3 corners\n", line_number);
            return OBJ_LINE_DONE;
        }
        if (!set_corner(mesh, &face, j, token)) {
            printf("Skipping face on line %ld: index outside the records read so far\n", line_number);
            return OBJ_LINE_DONE;
        }
    }
    // Corners after the third are ignored: a polygon gives its first triangle.
    face.color = OBJ_COLOR;
    face.pixels = OBJ_TRIANGLE_PIXELS_START;
    face.texture = mesh->material;
    Triangle *triangle = (Triangle *)engine_malloc(sizeof(Triangle));
    if (triangle == nullptr) return OBJ_LINE_NO_MEMORY;
    *triangle = face;
    if (vector_append(mesh->faces, triangle) < 0) {
        engine_free(triangle);
        return OBJ_LINE_NO_MEMORY;
    }
    return OBJ_LINE_DONE;
}

static ObjLineResult load_material(Mesh *mesh, char **cursor, long line_number) {
    char *mtl_path = obj_next_token(cursor);
    if (mtl_path == nullptr) {
        fprintf(stderr, "OBJ: line %ld: mtllib without a file name\n", line_number);
        return OBJ_LINE_NO_MATERIAL;
    }
    // Texture coordinates and faces already read belong to the first
    // material (their texels were clamped to its size): it stays.
    if (mesh->material != nullptr && (mesh->texcoords->count > 0 || mesh->faces->count > 0)) {
        printf("Skipping mtllib on line %ld: the mesh already uses a material\n", line_number);
        return OBJ_LINE_DONE;
    }
    printf("Loading mtllib '%s'\n", mtl_path);
    Texture *material = mtl_load(mtl_path);
    if (material == nullptr) return OBJ_LINE_NO_MATERIAL;
    texture_destroy(mesh->material);
    mesh->material = material;
    return OBJ_LINE_DONE;
}

// The new mesh with its three empty vectors and zeroed list, or null.
static Mesh *mesh_create(void) {
    Mesh *mesh = (Mesh *)engine_calloc(1, sizeof(Mesh));
    if (mesh == nullptr) return nullptr;
    mesh->vertices = vector_create(OBJ_VECTOR_START_CAPACITY);
    mesh->texcoords = vector_create(OBJ_VECTOR_START_CAPACITY);
    mesh->faces = vector_create(OBJ_VECTOR_START_CAPACITY);
    mesh->list = (TriangleList *)engine_calloc(1, sizeof(TriangleList));
    if (!mesh->vertices || !mesh->texcoords || !mesh->faces || !mesh->list) {
        mesh_destroy(mesh);
        return nullptr;
    }
    return mesh;
}

static ObjLineResult load_line(Mesh *mesh, char *line, long line_number, int scale) {
    if (line[0] == '#') return OBJ_LINE_DONE;
    char *cursor = line;
    char *keyword = obj_next_token(&cursor);
    if (keyword == nullptr) return OBJ_LINE_DONE;
    if (strcmp(keyword, "mtllib") == 0) return load_material(mesh, &cursor, line_number);
    if (strcmp(keyword, "v") == 0) return add_vertex(mesh, &cursor, scale);
    if (strcmp(keyword, "vt") == 0) return add_texcoord(mesh, &cursor);
    if (strcmp(keyword, "f") == 0) return add_face(mesh, &cursor, line_number);
    return OBJ_LINE_DONE;  // every other statement of the format
}

Mesh *obj_load(const char *path, int scale) {
    if (path == nullptr) {
        puts("Failed");
        return nullptr;
    }
    printf("%s\n", path);
    const char *why = nullptr;
    int fd = obj_open_read(path, &why);
    if (fd < 0) {
        fprintf(stderr, "OBJ: cannot open '%s': %s\n", path, why);
        puts("Failed");
        return nullptr;
    }
    Mesh *mesh = mesh_create();
    ObjLineResult result = mesh ? OBJ_LINE_DONE : OBJ_LINE_NO_MEMORY;

    ObjLines lines;
    if (obj_lines_open(&lines, fd, path) < 0) result = OBJ_LINE_NO_MEMORY;
    char *line;
    while (result == OBJ_LINE_DONE && (line = obj_lines_next(&lines)) != nullptr)
        result = load_line(mesh, line, lines.line_number, scale);
    obj_lines_close(&lines);
    close(fd);
    if (result == OBJ_LINE_DONE && mesh->faces->count > (uint64_t)INT32_MAX) result = OBJ_LINE_NO_MEMORY;

    if (result == OBJ_LINE_NO_MATERIAL) {
        puts("Unable to load mtllib");
    } else if (result == OBJ_LINE_NO_MEMORY) {
        fprintf(stderr, "OBJ: cannot load '%s': out of memory\n", path);
    }
    if (result != OBJ_LINE_DONE) {
        mesh_destroy(mesh);
        return nullptr;
    }
    mesh->list->items = (Triangle **)mesh->faces->items;
    mesh->list->count = (int32_t)mesh->faces->count;
    return mesh;
}
