// Releases a loaded mesh and everything it owns. Also takes the partly
// built meshes of a failed load: any of its pointers may still be null.
#include <algorithm>
#include <functional>

#include "assets/obj.h"
#include "assets/pcx.h"  // texture_destroy
#include "util/alloc.h"

// Frees every item of `records`, then the vector itself.
static void destroy_records(Vector *records) {
    if (records == nullptr) return;
    for (uint64_t i = 0; i < records->count; i++) engine_free(records->items[i]);
    vector_destroy(records);
}

// Releases every material the faces carry besides `material`, each once.
// The faces may stand in any order (the renderer sorts them in place), so
// when some carry another material they are sorted by it first; the array
// is about to be released anyway, and sorting in place needs no memory.
static void destroy_face_materials(Vector *faces, const Texture *material) {
    if (faces == nullptr) return;
    Triangle **triangles = reinterpret_cast<Triangle **>(faces->items);
    Triangle **end = triangles + faces->count;
    bool others = std::any_of(triangles, end, [material](const Triangle *t) {
        return t->texture != nullptr && t->texture != material;
    });
    if (!others) return;
    std::sort(triangles, end, [](const Triangle *a, const Triangle *b) {
        return std::less<const Texture *>()(a->texture, b->texture);
    });
    const Texture *released = nullptr;
    for (Triangle **t = triangles; t != end; t++) {
        Texture *texture = (*t)->texture;
        if (texture == nullptr || texture == material || texture == released) continue;
        released = texture;
        texture_destroy(texture);
    }
}

void mesh_destroy(Mesh *mesh) {
    if (mesh == nullptr) return;
    destroy_face_materials(mesh->faces, mesh->material);
    destroy_records(mesh->vertices);
    destroy_records(mesh->texcoords);
    destroy_records(mesh->faces);  // list->items is this vector's array
    engine_free(mesh->list);
    texture_destroy(mesh->material);
    engine_free(mesh);
}
