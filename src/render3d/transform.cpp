// transform_triangles and project_triangle: model or view coordinates to
// screen positions and depth keys.
#include "render3d/transform.h"

#include "gfx2d/framebuffer.h"  // frame_counter stamps the vertex cache
#include "render3d/matrix.h"

void project_vertex(Vertex *p) {
    int64_t d = p->vz > PROJECTION_NEAREST_DEPTH - 1 ? p->vz : PROJECTION_NEAREST_DEPTH;
    // |150 vx| < 2^39, and with d >= 1.0 the quotient stays within
    // +-4.92 million, so it fits 32 bits before the centre is added.
    int32_t x = static_cast<int32_t>((PROJECTION_FOCAL_PX * p->vx) / d);
    int32_t y = static_cast<int32_t>((PROJECTION_FOCAL_PX * p->vy) / d);
    p->sx = wrap_add(x, PROJECTION_CENTRE_X_PX);
    p->sy = wrap_add(y, PROJECTION_CENTRE_Y_PX);
    p->stamp = frame_counter;
}

void project_triangle(Triangle *triangle) {
    Fixed least = INT32_MAX;
    for (int k = 0; k < 3; k++) {
        Vertex *p = triangle->v[k];
        project_vertex(p);
        if (p->vz < least) least = p->vz;
    }
    triangle->depth = least;
}

// One output coordinate: xi m[0][c] + yi m[1][c] + zi m[2][c] + m[3][c],
// every product and sum in 32-bit wrapping arithmetic (the integer part
// times a Fixed entry is already Fixed, so no shift follows).
static inline Fixed transform_coord(const Fixed (*m)[4], int c, int32_t xi, int32_t yi, int32_t zi) {
    int32_t sum = wrap_mul(xi, m[0][c]);
    sum = wrap_add(sum, wrap_mul(yi, m[1][c]));
    sum = wrap_add(sum, wrap_mul(zi, m[2][c]));
    return wrap_add(sum, m[3][c]);
}

void transform_triangles(TriangleList *list) {
    if (list == nullptr || list->items == nullptr) return;
    const Fixed (*m)[4] = current_matrix->m;
    for (int32_t i = 0; i < list->count; i++) {
        Triangle *triangle = list->items[i];
        Fixed least = INT32_MAX;
        for (int k = 0; k < 3; k++) {
            Vertex *p = triangle->v[k];
            if (p->stamp != frame_counter) {
                int32_t xi = fixed_int(p->x), yi = fixed_int(p->y), zi = fixed_int(p->z);
                p->vx = transform_coord(m, 0, xi, yi, zi);
                p->vy = transform_coord(m, 1, xi, yi, zi);
                p->vz = transform_coord(m, 2, xi, yi, zi);
                project_vertex(p);
            }
            if (p->vz < least) least = p->vz;
        }
        triangle->depth = least;
    }
}
