// Loads a Wavefront OBJ model into a Mesh: "v", "vt", "f" and "mtllib"
// lines, every index checked against the records read so far.
#include <climits>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "assets/asset_path.h"
#include "assets/obj.h"
#include "assets/obj_lines.h"
#include "assets/pcx.h"  // texture_destroy
#include "util/alloc.h"
#include "util/utf8.h"

// Outcome of one line: read on, or stop because an allocation failed or
// the material could not be loaded (the load then fails as a whole). A
// read that fails before the end of the file fails the load the same way.
enum ObjLineResult { OBJ_LINE_DONE, OBJ_LINE_NO_MEMORY, OBJ_LINE_NO_MATERIAL, OBJ_LINE_UNREADABLE };

// Indices grow no further than this in magnitude; any vector is far
// shorter.
constexpr int64_t OBJ_INDEX_LIMIT = static_cast<int64_t>(1) << 40;

// One "vt" line: its coordinates as read (0 .. 1 across the texture) and
// the record that holds them as texels of a texture. The texels depend on
// the size of the texture a face draws them from, which may not be known
// when the line is read (no material yet) and may differ between faces
// (several materials), so a record is made again when a face of another
// material uses it.
struct ObjTexSlot {
    Fixed u, v;
    TexCoord *record;
    // Number of the material (1 for the first loaded, 0 for none) whose
    // texture the record's texels are for, with OBJ_SLOT_CLAIMED set once a
    // face points at the record (it may then no longer change).
    uint32_t material;
};
constexpr uint32_t OBJ_SLOT_CLAIMED = 0x80000000u;

// One corner of the face being read: its position in the mesh's vertices,
// its texture coordinate slot (-1 for none) and the record its texels come
// from (null for none).
struct ObjCorner {
    int64_t vertex;
    int64_t slot;
    const TexCoord *record;
};

// Everything a load keeps besides the mesh itself.
struct ObjLoad {
    const char *path;  // of the model, for the files it names
    Mesh *mesh;
    int scale;
    ObjTexSlot *slots;  // one per accepted "vt" line
    uint64_t slot_count, slot_capacity;
    ObjCorner *corners;  // the face line being read
    uint64_t corner_capacity;
    uint32_t material_number;  // of mesh->material: 0 before any
};

// Room the loader's own arrays (texture coordinate slots, the corners of a
// face) start with.
constexpr uint64_t OBJ_ARRAY_START_CAPACITY = 16;

// Grows *array (of `item_bytes` items) to hold at least `needed`, doubling.
// False when memory runs out (the array is then unchanged).
static bool grow(void **array, uint64_t *capacity, uint64_t needed, size_t item_bytes) {
    if (needed <= *capacity) return true;
    uint64_t grown = *capacity < OBJ_ARRAY_START_CAPACITY ? OBJ_ARRAY_START_CAPACITY : *capacity;
    while (grown < needed) grown *= 2;
    void *moved = engine_realloc(*array, static_cast<size_t>(grown) * item_bytes);
    if (moved == nullptr) return false;
    *array = moved;
    *capacity = grown;
    return true;
}

// A face index at `text`: an optional '-' and decimal digits, the rest
// ignored (so "1.5" is 1, "" and "abc" are 0). Read as a plain integer
// rather than through Fixed, so 65537 stays 65537 instead of wrapping to 1.
// *end is set where the digits stop.
static int64_t parse_index(const char *text, const char **end) {
    bool negative = *text == '-';
    if (negative) text++;
    int64_t value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value < OBJ_INDEX_LIMIT) value = value * 10 + (*text - '0');
        text++;
    }
    *end = text;
    return negative ? -value : value;
}

static bool is_separator(char c) { return c == ' ' || c == '\t'; }

// The position in a vector of `count` records that a 1-based index names:
// positive indices count from the first record, negative ones back from the
// latest (-1 is the last record read so far). -1 when it names none.
static int64_t resolve_index(int64_t index, uint64_t count) {
    if (index > 0 && index <= static_cast<int64_t>(count)) return index - 1;
    if (index < 0 && -index <= static_cast<int64_t>(count)) return static_cast<int64_t>(count) + index;
    return -1;
}

static ObjLineResult add_vertex(ObjLoad *load, char **cursor) {
    Vertex *vertex = static_cast<Vertex *>(engine_calloc(1, sizeof(Vertex)));
    if (vertex == nullptr) return OBJ_LINE_NO_MEMORY;
    // Each coordinate times the scale as the 32-bit multiply gives it.
    vertex->x = wrap_mul(obj_next_fixed(cursor), load->scale);
    vertex->y = wrap_neg(wrap_mul(obj_next_fixed(cursor), load->scale));  // rows grow downwards
    vertex->z = wrap_mul(obj_next_fixed(cursor), load->scale);
    vertex->color = OBJ_COLOR;
    if (vector_append(load->mesh->vertices, vertex) < 0) {
        engine_free(vertex);
        return OBJ_LINE_NO_MEMORY;
    }
    return OBJ_LINE_DONE;
}

// A 0 .. 1 texture coordinate as a texel of a `size` texel side: the
// product taken in 64 bits and clamped into 0 .. size - 1, so every corner
// lies inside the texture (0 for a texture without pixels or no texture).
static int32_t texel(Fixed coordinate, int32_t size) {
    int64_t t = (static_cast<int64_t>(coordinate) * size) >> FIXED_SHIFT;
    if (t > size - 1) t = size - 1;
    if (t < 0) t = 0;
    return static_cast<int32_t>(t);
}

// Sets `record` to the slot's coordinates as texels of `texture` (null:
// none, every texel 0).
static void set_texels(TexCoord *record, const ObjTexSlot *slot, const Texture *texture) {
    record->u = texel(slot->u, texture != nullptr ? texture->width : 0);
    record->v = texel(slot->v, texture != nullptr ? texture->height : 0);
}

// A "vt" line: its record holds texels of the current material's texture
// (all 0 while there is none); a face of another material gets its own.
static ObjLineResult add_texcoord(ObjLoad *load, char **cursor) {
    if (!grow(reinterpret_cast<void **>(&load->slots), &load->slot_capacity, load->slot_count + 1, sizeof(ObjTexSlot)))
        return OBJ_LINE_NO_MEMORY;
    ObjTexSlot *slot = &load->slots[load->slot_count];
    slot->u = obj_next_fixed(cursor);
    slot->v = obj_next_fixed(cursor);
    slot->material = load->material_number;
    slot->record = static_cast<TexCoord *>(engine_calloc(1, sizeof(TexCoord)));
    if (slot->record == nullptr) return OBJ_LINE_NO_MEMORY;
    set_texels(slot->record, slot, load->mesh->material);
    if (vector_append(load->mesh->texcoords, slot->record) < 0) {
        engine_free(slot->record);
        return OBJ_LINE_NO_MEMORY;
    }
    load->slot_count++;
    return OBJ_LINE_DONE;
}

// The record of `slot` whose texels are for the current material: the
// slot's own while no face has used it or it is already for this material,
// otherwise a new one (kept in the mesh's texcoords). Null when memory runs
// out.
static TexCoord *texcoord_for_material(ObjLoad *load, ObjTexSlot *slot) {
    uint32_t wanted = load->material_number;
    if ((slot->material & ~OBJ_SLOT_CLAIMED) == wanted) {
        slot->material |= OBJ_SLOT_CLAIMED;
        return slot->record;
    }
    if ((slot->material & OBJ_SLOT_CLAIMED) != 0) {
        TexCoord *record = static_cast<TexCoord *>(engine_calloc(1, sizeof(TexCoord)));
        if (record == nullptr) return nullptr;
        if (vector_append(load->mesh->texcoords, record) < 0) {
            engine_free(record);
            return nullptr;
        }
        slot->record = record;
    }
    set_texels(slot->record, slot, load->mesh->material);
    slot->material = wanted | OBJ_SLOT_CLAIMED;
    return slot->record;
}

// Reads the corners of a face line into load->corners: "v", "v/t", "v//n"
// or "v/t/n" tokens, read in place (the normal index is never read).
// Returns the number of corners, or -1 when memory runs out. *bad_vertex is
// set when an index names no vertex, *bad_texcoord when one names no
// texture coordinate.
static int64_t read_corners(ObjLoad *load, char **cursor, bool *bad_vertex, bool *bad_texcoord) {
    uint64_t count = 0;
    const char *text = *cursor;
    for (;;) {
        while (is_separator(*text)) text++;
        if (*text == '\0') break;
        if (!grow(reinterpret_cast<void **>(&load->corners), &load->corner_capacity, count + 1, sizeof(ObjCorner))) return -1;
        ObjCorner *corner = &load->corners[count++];
        // The vertex index up to the first '/', the texture coordinate
        // index up to the next one.
        int64_t v = parse_index(text, &text);
        while (*text != '\0' && *text != '/' && !is_separator(*text)) text++;
        int64_t t = 0;
        if (*text == '/') t = parse_index(text + 1, &text);
        while (*text != '\0' && !is_separator(*text)) text++;
        corner->vertex = resolve_index(v, load->mesh->vertices->count);
        if (corner->vertex < 0) *bad_vertex = true;
        corner->slot = t == 0 ? -1 : resolve_index(t, load->slot_count);
        if (t != 0 && corner->slot < 0) *bad_texcoord = true;
    }
    *cursor = const_cast<char *>(text);
    return static_cast<int64_t>(count);
}

// Appends the triangle of corners a, b, c of the face being read.
static ObjLineResult add_triangle(ObjLoad *load, int64_t a, int64_t b, int64_t c) {
    Triangle *triangle = static_cast<Triangle *>(engine_calloc(1, sizeof(Triangle)));
    if (triangle == nullptr) return OBJ_LINE_NO_MEMORY;
    const ObjCorner *corners[3] = {&load->corners[a], &load->corners[b], &load->corners[c]};
    for (int j = 0; j < 3; j++) {
        triangle->v[j] = static_cast<Vertex *>(load->mesh->vertices->items[corners[j]->vertex]);
        triangle->t[j] = const_cast<TexCoord *>(corners[j]->record);
    }
    triangle->color = OBJ_COLOR;
    triangle->pixels = OBJ_TRIANGLE_PIXELS_START;
    triangle->texture = load->mesh->material;
    if (vector_append(load->mesh->faces, triangle) < 0) {
        engine_free(triangle);
        return OBJ_LINE_NO_MEMORY;
    }
    return OBJ_LINE_DONE;
}

// An "f" line: a polygon of n corners becomes the fan of n - 2 triangles
// from its first corner, each with the current material. Only a vertex
// index that names no vertex skips the face; a texture coordinate index
// that names nothing leaves the face without texture coordinates.
static ObjLineResult add_face(ObjLoad *load, char **cursor, long line_number) {
    bool bad_vertex = false, bad_texcoord = false;
    int64_t count = read_corners(load, cursor, &bad_vertex, &bad_texcoord);
    if (count < 0) return OBJ_LINE_NO_MEMORY;
    if (count < 3) {
        printf("Skipping face on line %ld: fewer than 3 corners\n", line_number);
        return OBJ_LINE_DONE;
    }
    if (bad_vertex) {
        printf("Skipping face on line %ld: index outside the records read so far\n", line_number);
        return OBJ_LINE_DONE;
    }
    if (bad_texcoord) {
        printf("Face on line %ld: texture coordinate index outside the records read so far; "
               "loaded without texture coordinates\n",
               line_number);
    }
    for (int64_t i = 0; i < count; i++) {
        ObjCorner *corner = &load->corners[i];
        corner->record = nullptr;
        if (bad_texcoord || corner->slot < 0) continue;
        corner->record = texcoord_for_material(load, &load->slots[corner->slot]);
        if (corner->record == nullptr) return OBJ_LINE_NO_MEMORY;
    }
    ObjLineResult result = OBJ_LINE_DONE;
    for (int64_t i = 1; i + 1 < count && result == OBJ_LINE_DONE; i++) result = add_triangle(load, 0, i, i + 1);
    return result;
}

// True when a face carries the current material. Every face read since
// the last "mtllib" carries it, so the latest face tells.
static bool material_in_use(const Mesh *mesh) {
    const Vector *faces = mesh->faces;
    return faces->count > 0 && static_cast<const Triangle *>(faces->items[faces->count - 1])->texture == mesh->material;
}

// An "mtllib" line: the material file as written or, when not found there,
// beside the model. The new material becomes current for the faces that
// follow; one no face has used is released at once, the others stay with
// the faces that carry them.
static ObjLineResult load_material(ObjLoad *load, char **cursor, long line_number) {
    char *mtl_path = obj_next_token(cursor);
    if (mtl_path == nullptr) {
        fprintf(stderr, "OBJ: '%s': line %ld: mtllib without a file name\n", load->path, line_number);
        return OBJ_LINE_NO_MATERIAL;
    }
    char shown[PATH_MAX];
    utf8_printable(shown, sizeof shown, mtl_path);  // the model's text
    printf("Loading mtllib '%s'\n", shown);
    char *beside = asset_path_beside(mtl_path, load->path);
    Texture *material = mtl_load(beside != nullptr ? beside : mtl_path);
    engine_free(beside);
    if (material == nullptr) return OBJ_LINE_NO_MATERIAL;
    if (!material_in_use(load->mesh)) texture_destroy(load->mesh->material);
    load->mesh->material = material;
    load->material_number++;
    return OBJ_LINE_DONE;
}

// The new mesh with its three empty vectors and zeroed list, or null.
static Mesh *mesh_create(void) {
    Mesh *mesh = static_cast<Mesh *>(engine_calloc(1, sizeof(Mesh)));
    if (mesh == nullptr) return nullptr;
    mesh->vertices = vector_create(OBJ_VECTOR_START_CAPACITY);
    mesh->texcoords = vector_create(OBJ_VECTOR_START_CAPACITY);
    mesh->faces = vector_create(OBJ_VECTOR_START_CAPACITY);
    mesh->list = static_cast<TriangleList *>(engine_calloc(1, sizeof(TriangleList)));
    if (!mesh->vertices || !mesh->texcoords || !mesh->faces || !mesh->list) {
        mesh_destroy(mesh);
        return nullptr;
    }
    return mesh;
}

static ObjLineResult load_line(ObjLoad *load, char *line, long line_number) {
    if (line[0] == '#') return OBJ_LINE_DONE;
    char *cursor = line;
    const char *keyword = obj_next_token(&cursor);
    if (keyword == nullptr) return OBJ_LINE_DONE;
    if (strcmp(keyword, "v") == 0) return add_vertex(load, &cursor);
    if (strcmp(keyword, "vt") == 0) return add_texcoord(load, &cursor);
    if (strcmp(keyword, "f") == 0) return add_face(load, &cursor, line_number);
    if (strcmp(keyword, "mtllib") == 0) return load_material(load, &cursor, line_number);
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
    ObjLoad load = {};
    load.path = path;
    load.mesh = mesh_create();
    load.scale = scale;
    ObjLineResult result = load.mesh ? OBJ_LINE_DONE : OBJ_LINE_NO_MEMORY;

    ObjLines lines;
    if (obj_lines_open(&lines, fd, path) < 0) result = OBJ_LINE_NO_MEMORY;
    char *line;
    while (result == OBJ_LINE_DONE && (line = obj_lines_next(&lines)) != nullptr)
        result = load_line(&load, line, lines.line_number);
    const int read_error = lines.read_error;
    if (result == OBJ_LINE_DONE && read_error != 0) result = OBJ_LINE_UNREADABLE;
    obj_lines_close(&lines);
    close(fd);
    engine_free(load.slots);
    engine_free(load.corners);
    Mesh *mesh = load.mesh;
    if (result == OBJ_LINE_DONE && mesh->faces->count > static_cast<uint64_t>INT32_MAX) result = OBJ_LINE_NO_MEMORY;

    if (result == OBJ_LINE_NO_MATERIAL) {
        puts("Unable to load mtllib");
    } else if (result == OBJ_LINE_NO_MEMORY) {
        fprintf(stderr, "OBJ: cannot load '%s': out of memory\n", path);
    } else if (result == OBJ_LINE_UNREADABLE) {
        fprintf(stderr, "OBJ: cannot read '%s': %s\n", path, strerror(read_error));
        puts("Failed");
    }
    if (result != OBJ_LINE_DONE) {
        mesh_destroy(mesh);
        return nullptr;
    }
    mesh->list->items = reinterpret_cast<Triangle **>(mesh->faces->items);
    mesh->list->count = static_cast<int32_t>(mesh->faces->count);
    return mesh;
}
