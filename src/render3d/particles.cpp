// The particle-triangle effect: slots, spawning and the per-frame update
// with its working triangles. Loading its image and its frame loop need the
// PCX loader and the window, so they live with the platform
// (platform/particles_run.cpp).
#include "render3d/particles.h"

#include <cstdlib>  // rand

#include "render3d/raster.h"
#include "render3d/transform.h"
#include "render3d/trig.h"

Particle particles[PARTICLE_SLOTS];
Texture *tunnel_texture = nullptr;

void particle_spawn(Fixed x, Fixed y, Fixed z, Fixed dx, Fixed dy, Fixed dz) {
    for (int i = 0; i < PARTICLE_SLOTS; i++) {
        Particle *p = &particles[i];
        if (p->life != 0) continue;
        p->x = x;
        p->y = y;
        p->z = z;
        p->dx = dx;
        p->dy = dy;
        p->dz = dz;
        for (int k = 0; k < 3; k++) p->spin[k] = rand() & PARTICLE_SPIN_MASK;
        p->life = PARTICLE_LIFE_FRAMES;
        return;
    }
}

// 32-bit product and arithmetic shift: |sin| <= 65535 keeps the product
// below 2^30.
Fixed particle_corner_offset(int32_t angle) {
    return (sin_eighths(angle) * PARTICLE_CORNER_REACH) >> FIXED_SHIFT;
}

static inline void set_view(Vertex *v, Fixed x, Fixed y, Fixed z) {
    v->vx = x;
    v->vy = y;
    v->vz = z;
}

void particles_update(void) {
    // Working storage, rebuilt every call: three vertices and one triangle
    // per slot, and the image's corners as texture coordinates.
    Vertex vertices[PARTICLE_SLOTS * 3] = {};
    Triangle triangles[PARTICLE_SLOTS];
    int32_t last_u = 0, last_v = 0;
    if (tunnel_texture != nullptr) {
        last_u = tunnel_texture->width - 1;
        last_v = tunnel_texture->height - 1;
    }
    TexCoord corners[3] = {{0, 0}, {last_u, 0}, {last_u, last_v}};
    for (int i = 0; i < PARTICLE_SLOTS; i++) {
        Triangle *t = &triangles[i];
        for (int j = 0; j < 3; j++) {
            t->v[j] = &vertices[3 * i + j];
            t->t[j] = &corners[j];
        }
        t->texture = tunnel_texture;
        t->pixels = 0;
        t->color = PARTICLE_COLOR;
        t->depth = 0;
    }

    // Move (all sums wrap in 32 bits).
    for (int i = 0; i < PARTICLE_SLOTS; i++) {
        Particle *p = &particles[i];
        if (p->life == 0) continue;
        p->life -= 1;
        p->x = wrap_add(p->x, p->dx);
        p->y = wrap_add(p->y, p->dy);
        p->z = wrap_add(p->z, p->dz);
        for (int k = 0; k < 3; k++) p->angle[k] = wrap_add(p->angle[k], p->spin[k]);
        p->dy = wrap_add(p->dy, PARTICLE_GRAVITY);
    }

    // Shape: each corner pushed out along one axis by its spin angle. Free
    // slots collapse to the origin, which projects onto the screen centre
    // and covers no row.
    for (int i = 0; i < PARTICLE_SLOTS; i++) {
        const Particle *p = &particles[i];
        Vertex *v = &vertices[3 * i];
        if (p->life != 0) {
            set_view(&v[0], wrap_add(p->x, particle_corner_offset(p->angle[0])), p->y, p->z);
            set_view(&v[1], p->x, wrap_add(p->y, particle_corner_offset(p->angle[1])), p->z);
            set_view(&v[2], p->x, p->y, wrap_add(p->z, particle_corner_offset(p->angle[2])));
        } else {
            for (int j = 0; j < 3; j++) set_view(&v[j], 0, 0, 0);
        }
    }

    // Draw, always flat: the image rides along but is never sampled.
    for (int i = 0; i < PARTICLE_SLOTS; i++) {
        project_triangle(&triangles[i]);
        draw_triangle_flat(&triangles[i]);
    }
}
