// The particle-triangle effect: up to 200 small spinning triangles thrown
// through view space under a constant downward pull, each living 180
// frames, drawn flat against the depth buffer; and its own frame loop.
// Works in view coordinates directly, without matrices. Loading the image
// and the frame loop need the PCX loader and the window: they are the
// platform library's (platform/particles_run.h).
#ifndef RENDER3D_PARTICLES_H
#define RENDER3D_PARTICLES_H

#include <cstdint>

#include "gfx2d/palette.h"
#include "render3d/fixed.h"
#include "render3d/geometry.h"

constexpr int PARTICLE_SLOTS = 200;
constexpr int32_t PARTICLE_LIFE_FRAMES = 180;
constexpr Fixed PARTICLE_GRAVITY = 256;       // added to dy every frame (1/256 unit)
constexpr int32_t PARTICLE_SPIN_MASK = 0x7F;  // spins are 0 .. 127 eighths per frame
// Corner offset: sin x 12288 >> 16, at most 0.1875 units.
constexpr int32_t PARTICLE_CORNER_REACH = 12288;
// 70 1F 00: the dim ring, one step from red towards yellow.
constexpr uint8_t PARTICLE_COLOR = palette_ring(PALETTE_RING_DIM, PALETTE_HUE_RED + 1);
constexpr const char *PARTICLE_TEXTURE_PATH = "res/tunnel.pcx";

struct Particle {
    Fixed x, y, z;     // position in view space
    Fixed dx, dy, dz;  // velocity per frame
    int32_t angle[3];  // spin angles, eighths of a degree
    int32_t spin[3];   // per-frame angle increments, eighths of a degree
    int32_t life;      // frames left; 0 marks a free slot
};

// The slots (all zero at start) and the effect's image (null until
// loaded by particles_load_texture, platform/particles_run.h).
extern Particle particles[PARTICLE_SLOTS];
extern Texture *tunnel_texture;

// Starts a particle at (x, y, z) with velocity (dx, dy, dz) in the lowest
// free slot, with three rand() spins masked to 0 .. 127 and life 180; its
// angles continue from the slot's previous particle. Does nothing when all
// 200 slots are busy.
void particle_spawn(Fixed x, Fixed y, Fixed z, Fixed dx, Fixed dy, Fixed dz);

// A corner's offset from the particle for spin angle `angle` (eighths of a
// degree): (sin_eighths(angle) x 12288) >> 16, in -12288 .. 12287.
Fixed particle_corner_offset(int32_t angle);

// Advances every busy particle one frame (life, position, angles, then the
// pull on dy), shapes its triangle around the new position, and projects
// and draws all 200 triangles flat in palette index 113 in slot order.
// Writes the framebuffer and depth buffer; call depth_clear first.
void particles_update(void);

#endif
