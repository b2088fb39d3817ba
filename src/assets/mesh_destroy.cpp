// Releases a loaded mesh and everything it owns. Also takes the partly
// built meshes of a failed load: any of its pointers may still be null.
#include "assets/obj.h"
#include "assets/pcx.h"  // texture_destroy
#include "util/alloc.h"

// Frees every item of `records`, then the vector itself.
static void destroy_records(Vector *records) {
    if (records == nullptr) return;
    for (uint64_t i = 0; i < records->count; i++) engine_free(records->items[i]);
    vector_destroy(records);
}

void mesh_destroy(Mesh *mesh) {
    if (mesh == nullptr) return;
    destroy_records(mesh->vertices);
    destroy_records(mesh->texcoords);
    destroy_records(mesh->faces);  // list->items is this vector's array
    engine_free(mesh->list);
    texture_destroy(mesh->material);
    engine_free(mesh);
}
