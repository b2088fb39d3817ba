// Drawing whole triangle lists: the solid pass that moves the list one
// bubble pass towards nearest-first while drawing it, and the wireframe.
#include "gfx2d/primitives.h"  // draw_line clips, so off-screen corners are safe
#include "render3d/raster.h"

void draw_triangles_sorted(TriangleList *list) {
    if (list == nullptr || list->items == nullptr || list->count <= 0) return;
    Triangle **items = list->items;
    Fixed prev = items[0]->depth;
    for (int32_t i = 0; i + 1 < list->count; i++) {
        Fixed cur = items[i + 1]->depth;
        if (prev > cur) {
            // prev keeps its value: it is now the depth of items[i + 1].
            Triangle *swap = items[i];
            items[i] = items[i + 1];
            items[i + 1] = swap;
        } else {
            prev = cur;
        }
        draw_triangle_solid(items[i]);
    }
    draw_triangle_solid(items[list->count - 1]);
}

void draw_wireframe(const TriangleList *list) {
    if (list == nullptr || list->items == nullptr) return;
    for (int32_t i = 0; i < list->count; i++) {
        const Triangle *t = list->items[i];
        for (int k = 0; k < 3; k++) {
            const Vertex *a = t->v[k], *b = t->v[(k + 1) % 3];
            draw_line(a->sx, a->sy, b->sx, b->sy, WIREFRAME_COLOR);
        }
    }
}
